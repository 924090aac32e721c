#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <FL/Fl.H>
#include "app/gui.h"
#include "vis/palette.h"

#ifndef CORVELLE_VERSION
#define CORVELLE_VERSION "0.1"
#endif

static const char usage[] =
    "Usage: corvelle-visualizer [FILE.mid]\n"
    "Plays a Standard MIDI File through the Corvelle synthesizer and shows its notes.\n"
    "With FILE.mid the window opens and plays it at once; without, press \"Play .mid\".\n"
    "Keys while a song plays: Space pause/resume, Escape stop, Left/Right back/forward 5 s,\n"
    "Home back to the start.\n"
    "  --palette=NAME  the notes' colours: mono (black to white, the default) or channels\n"
    "                  (one hue per MIDI channel); the colour editor starts from it\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n";

static void play_argument(void* path)
{
    gui->playFile(static_cast<const char*>(path));
}

int main(int argc, char** argv)
{
    const char* file = nullptr;
    const char* palette = "mono";
    bool options_done = false;
    for (int i = 1; i < argc; i++) {
        const char* a = argv[i];
        if (!options_done && strcmp(a, "--") == 0) {
            options_done = true;
        } else if (!options_done && (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0)) {
            fputs(usage, stdout);
            return 0;
        } else if (!options_done && strcmp(a, "--version") == 0) {
            printf("corvelle-visualizer %s\n", CORVELLE_VERSION);
            return 0;
        } else if (!options_done && strncmp(a, "--palette=", 10) == 0) {
            palette = a + 10;
            Visual probe[MAX_CHANNELS];
            if (!apply_palette(palette, probe)) {
                fprintf(stderr, "corvelle-visualizer: %s: no such palette (%s)\n%s", a,
                        palette_names, usage);
                return 2;
            }
        } else if (!options_done && a[0] == '-' && a[1] != '\0') {
            fprintf(stderr, "corvelle-visualizer: unknown option %s\n%s", a, usage);
            return 2;
        } else if (file != nullptr) {
            fprintf(stderr, "corvelle-visualizer: one file at a time (%s and %s)\n%s", file, a,
                    usage);
            return 2;
        } else {
            file = a;
        }
    }
    // A write past the file-size limit or into a pipe without a reader fails with an error
    // that the audio device reports and the song ends on; by default either signal would end
    // the whole program.
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
    gui = new GUI;
    apply_palette(palette, gui->view->visuals);
    gui->channel->do_callback();  // the colour editor and legend show the palette's colours
    gui->show();
    // Once the window is up, as if the file had been chosen with "Play .mid".
    if (file != nullptr)
        Fl::add_timeout(0.0, play_argument, const_cast<char*>(file));
    return Fl::run();
}
