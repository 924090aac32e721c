// corvelle-render: plays MIDI files through the synthesizer without a window and writes what
// it renders with an output mode (a RIFF WAVE file unless -O chooses another).
//
//   corvelle-render [options] FILE.mid ...
//
// The options are those of the configuration's `opt` lines. Without -o each file is written
// to a file of its own in the current directory, named after it ("song.mid" -> "song.wav");
// with -o every file goes to that one output ("-" is standard output). A file that cannot be
// played leaves no output file of its own. The engine's messages go to standard error. The
// exit status is 0 when every file was read and written with every instrument it needed; 1 when
// a file could not be read or its output not written; 2 when everything was written but an
// instrument file the configuration names could not be loaded (those notes are missing).
//
// With --video=OUT the one file given becomes a video instead: its note view, drawn as the
// window draws it, and its sound, as -Ow would write it (tools/video/).
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "frontend/controls.h"
#include "frontend/options.h"
#include "frontend/startup.h"
#include "instrum/instrument_policy.h"
#include "output/output.h"
#include "tools/video/video_export.h"

static void usage(FILE* fp)
{
    fprintf(fp,
            "Usage: corvelle-render [options] FILE.mid ...\n"
            "Renders MIDI files without a window. By default each file becomes a RIFF WAVE file\n"
            "in the current directory, named after it; -o NAME writes all of them to NAME\n"
            "(\"-\" is standard output), -O chooses the output mode (-Ol lists the events).\n"
            "The configuration is searched as the visualiser searches it; -c FILE reads\n"
            "another one and -x TEXT adds configuration text.\n"
            "Exit status: 0 all written; 1 a file could not be read or written; 2 written,\n"
            "but an instrument file named by the configuration could not be loaded.\n\n%s\n",
            video_usage);
}

// The interface's messages go to standard error, whatever the output writes to.
static int open_messages_on_stderr(int using_stdin, int)
{
    return ctl_open(using_stdin, 1);
}

// The file name an input gets for the output mode: its base name with the mode's extension.
static std::string output_name_for(const char* input, char mode)
{
    const char* ext = mode == 'r' ? ".raw" : mode == 'u' ? ".au" : mode == 'a' ? ".aiff" : ".wav";
    if (strcmp(input, "-") == 0)
        return std::string("stdin") + ext;
    const char* base = strrchr(input, '/');
    std::string name = base != nullptr ? base + 1 : input;
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name + ext;
}

static bool writes_named_file(const PlayMode* pm)
{
    return strchr("wrua", pm->id_character) != nullptr;
}

int main(int argc, char** argv)
{
    VideoRequest video;
    std::string video_error;
    if (!take_video_options(&argc, argv, &video, &video_error)) {
        fprintf(stderr, "corvelle-render: %s\n", video_error.c_str());
        return 1;
    }
    for (int i = 1; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; i++) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            usage(stdout);
            set_engine_opt_short('h', "");
        }
    }

    // A reader that went away or a file-size limit makes the write fail, so that the output
    // mode reports it and the song ends, instead of the signal ending the program silently.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);

    dumb_control_mode.open = open_messages_on_stderr;
    play_mode = &wave_play_mode;
    corvelle_start_initialize();

    int first_file = argc;
    if (parse_options(argc, argv, 1, &first_file) != 0) {
        fprintf(stderr, "corvelle-render: invalid option (try --help)\n");
        return 1;
    }
    if (first_file >= argc) {
        usage(stderr);
        return 1;
    }
    if (!got_a_configuration)
        corvelle_pre_load_configuration();
    if (corvelle_post_load_configuration() != 0) {
        fprintf(stderr, "Could not find corvelle.cfg.\n");
        return 1;
    }
    corvelle_init_player();

    int nfiles = argc - first_file;
    char** files = argv + first_file;
    int rc = 0;
    if (video.wanted) {
        if (nfiles != 1) {
            fprintf(stderr, "corvelle-render: --video writes one song at a time (%d given)\n", nfiles);
            return 1;
        }
        rc = render_video(video, files[0]);
    } else if (play_mode->id_character == 'l' && opt_output_name == nullptr) {
        opt_output_name = strdup("-");
    }
    if (video.wanted) {
        // written above
    } else if (opt_output_name != nullptr || !writes_named_file(play_mode)) {
        rc = corvelle_play_main(nfiles, files);
    } else {
        for (int i = 0; i < nfiles; i++) {
            std::string name = output_name_for(files[i], play_mode->id_character);
            play_mode->name = name.c_str();
            int failures = playlist_failures;
            int r = corvelle_play_main(1, &files[i]);
            play_mode->name = nullptr;
            if (r != 0)
                rc = r;
            // A file that could not be played leaves no empty output behind.
            if (playlist_failures > failures)
                unlink(name.c_str());
        }
    }
    if (rc != 0 || playlist_failures != 0)
        return 1;
    if (instrument_load_failures != 0) {
        fprintf(stderr, "corvelle-render: %d instrument%s could not be loaded; the output lacks "
                        "their notes\n",
                instrument_load_failures, instrument_load_failures == 1 ? "" : "s");
        return 2;
    }
    return 0;
}
