// Start-up: the configuration search, each file's defaults, the output, the player, the playlist.
#include <malloc.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/files.h"
#include "support/tempdir.h"
#include "synth/play/player_fixture.h"

// Each configuration file sets the polyphony, which tells which was read. The status counts the
// option texts that failed, and 1 more when no configuration was found.
TEST(ConfigSearch, PlacesAreSearchedInOrderAndOptionTextsCount)
{
    ScopedEnv home("HOME", getenv("HOME"));
    Restore sys_dir(system_config_dir), prog_dir(program_config_dir), last_file(last_resort_config_file);
    Restore found(got_a_configuration), again(try_config_again);
    Restore polyphony(max_voices), voices_used(voices);
    AtExit no_texts([] { delete_string_table(&opt_config_string); });
    const struct {
        std::vector<std::pair<std::string, int>> files;  // polyphony 0: a broken file
        std::vector<const char*> texts;                   // from -x options
        bool try_again, home;
        int status, voices;
    } cases[] = {
        {{{"sys/CORVELLE.CFG", 17}, {"prog/CORVELLE.CFG", 23}}, {}, false, true, 0, 17},
        // The program directory takes the lower-case name; a broken file before it does not
        // stop the search.
        {{{"prog/corvelle.cfg", 23}, {"sys/corvelle.cfg", 0}}, {}, false, true, 0, 23},
        {{{"home/.corvelle.cfg", 19}}, {}, false, true, 1, 19},  // read, but not enough
        {{}, {}, false, false, 1, 256},                           // nothing, not even a home
        // The last-resort file only when an option asks to try again.
        {{{"last-resort.cfg", 29}}, {}, false, true, 1, 256},
        {{{"last-resort.cfg", 29}}, {}, true, true, 0, 29},
        {{}, {"opt -p 31"}, false, true, 0, 31},
        {{}, {"opt -p 31", "bank"}, false, true, 1, 31},
        {{}, {"bank", "drumset"}, false, true, 3, 256},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        TempDir dir;
        const std::string sys = dir.mkdir("sys"), prog = dir.mkdir("prog");
        const std::string last = dir.file("last-resort.cfg");
        system_config_dir = sys.c_str();
        program_config_dir = prog.c_str();
        last_resort_config_file = last.c_str();
        c.home ? setenv("HOME", dir.mkdir("home").c_str(), 1) : unsetenv("HOME");
        got_a_configuration = 0, try_config_again = c.try_again;
        delete_string_table(&opt_config_string);
        max_voices = voices = 256;
        for (const auto& f : c.files)
            dir.write(f.first, f.second ? "opt -p " + std::to_string(f.second) + "\n" : "bank\n");
        for (const char* t : c.texts)
            put_string_table(&opt_config_string, t, -1);
        int status = 0;
        std::string messages = stderr_of([&] {
            corvelle_pre_load_configuration();
            status = corvelle_post_load_configuration();
        });
        EXPECT_EQ(status, c.status) << messages;
        EXPECT_EQ(max_voices, c.voices);
    }
}

class StartUp : public PlayerTest {};

// An output already chosen stays; without one, CORVELLE_OUTPUT_ID's character chooses it, and an
// unknown character falls back to the first output that finds its device.
TEST_F(StartUp, EveryFileStartsFromTheDefaultsAndAnOutput)
{
    PlayMode* chosen = play_mode;
    default_drumchannels = 1u << 3, default_program[5] = 40, channel[2].volume = 33;
    corvelle_start_initialize();
    EXPECT_EQ(std::make_tuple(play_mode, default_drumchannels, default_program[5], (int)channel[2].volume),
              std::make_tuple(chosen, (1u << 9) | (1u << 25), 0, 0));
    EXPECT_EQ(std::string(program_name) + " " + opt_aq_max_buff + " " + opt_aq_fill_buff,
              "Corvelle 5.0 100%");

    ScopedEnv device("CORVELLE_AUDIO_DEVICE", "null"), id_env("CORVELLE_OUTPUT_ID", nullptr);
    for (auto id : {std::make_pair("wav", &wave_play_mode), std::make_pair("?", &w32_play_mode)}) {
        play_mode = nullptr;
        setenv("CORVELLE_OUTPUT_ID", id.first, 1);
        corvelle_start_initialize();
        EXPECT_EQ(play_mode, id.second) << id.first;
    }
    EXPECT_EXIT(
        {
            play_mode = nullptr;
            setenv("CORVELLE_OUTPUT_ID", "d", 1);
            setenv("CORVELLE_AUDIO_DEVICE", "alsa:no_such_corvelle_device", 1);
            corvelle_start_initialize();
        },
        testing::ExitedWithCode(1), "Couldn't open output device");
}

TEST_F(StartUp, ThePlayerTakesTheForcedRateAndFragments)
{
    Restore rate(opt_output_rate, 22050), fragments(opt_buffer_fragments, 12);
    std::string err = stderr_of(corvelle_init_player);
    EXPECT_EQ(play_mode->rate, 22050);
    EXPECT_NE(err.find("recording output: -B option is ignored"), std::string::npos) << err;
    fake_mode().flag |= PF_BUFF_FRAGM_OPT;
    corvelle_init_player();
    EXPECT_EQ(play_mode->extra_param[0], 12);
    opt_output_rate = play_mode->rate = 0;
    corvelle_init_player();
    EXPECT_EQ(play_mode->rate, 44100);
    play_mode->extra_param[0] = 0;
}

// The old voices' pan-delay buffers go with them, also when the polyphony changed in between.
TEST_F(StartUp, NewSongsFreeThePanDelayBuffersOfTheOldVoices)
{
    size_t before = mallinfo2().uordblks;
    for (int song = 0; song < 50; song++) {
        for (int i = 0; i < max_voices; i++)
            voice[i].pan_delay_buf = (int32*)calloc(48, sizeof(int32));
        max_voices = voices = song % 2 ? 64 : 300;  // larger, then smaller than the array
        corvelle_init_player();
    }
    // 50 arrays of buffers would be over 2 MB (AddressSanitizer's allocator reports nothing
    // here; its leak check at exit covers that build).
    EXPECT_LT(mallinfo2().uordblks, before + 256 * 1024);
    max_voices = voices = 256;
    corvelle_init_player();
}

// One run over a bad and a good file; then an output that cannot open ends the routine with 2,
// handing the termination signals back as they were (the program can still be ended as before).
TEST_F(StartUp, MainPlayRoutinePlaysTheListAndCountsFilesThatFailed)
{
    TempDir dir;
    std::string good = dir.write("good.mid", song_image({{0, 480, 0, 60, 100}}));
    std::string bad = dir.write("bad.mid", "not a song");
    char* files[] = {&bad[0], &good[0]};
    int failures = playlist_failures;
    int rc = 0;
    std::string out = output_of([&] { rc = corvelle_play_main(2, files); });
    EXPECT_EQ(std::make_tuple(rc, playlist_failures, hooked().size(), (bool)ctl->opened),
              std::make_tuple(0, failures + 1, 2ul, false)) << out;
    EXPECT_GE(fake_output().frames(), 22050);  // the half-second note at least, and its tail
    EXPECT_NE(out.find("Not a MIDI file!"), std::string::npos) << out;

    Restore no_open(fake_mode().open_output, [] { return -1; });
    void (*mark)(int) = [](int) {};
    void (*before)(int) = signal(SIGTERM, mark);
    out = output_of([&] { EXPECT_EQ(corvelle_play_main(1, files), 2); });
    EXPECT_NE(out.find("Couldn't open recording output (`R')"), std::string::npos) << out;
    EXPECT_EQ(signal(SIGTERM, before), mark);
}
