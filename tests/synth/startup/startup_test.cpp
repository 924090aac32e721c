// Start-up: where the configuration is searched and when it counts as found, the defaults set
// for every file, choosing the output, preparing the player and the main play routine.
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "config/files.h"
#include "support/tempdir.h"
#include "synth/play/player_fixture.h"

// Three configuration places and the last-resort file in a temporary directory; each file
// sets the polyphony, so the polyphony tells which file was read.
class ConfigSearch : public ::testing::Test {
protected:
    std::unique_ptr<TempDir> dir;
    std::string a, b, last, messages;
    const char* home = getenv("HOME");
    std::string saved_home = home ? home : "";

    void SetUp() override { fresh(); }
    void TearDown() override
    {
        system_config_dir = program_config_dir = nullptr;
        last_resort_config_file = "/usr/local/share/corvelle/corvelle.cfg";
        if (home)
            setenv("HOME", saved_home.c_str(), 1);
        else
            unsetenv("HOME");
        fresh();
    }
    void fresh()
    {
        dir.reset(new TempDir);
        a = dir->mkdir("sys");
        b = dir->mkdir("prog");
        last = dir->file("last-resort.cfg");
        system_config_dir = a.c_str();
        program_config_dir = b.c_str();
        last_resort_config_file = last.c_str();
        setenv("HOME", dir->mkdir("home").c_str(), 1);
        got_a_configuration = try_config_again = 0;
        delete_string_table(&opt_config_string);
        max_voices = voices = 256;
    }
    int search()
    {
        testing::internal::CaptureStderr();
        corvelle_pre_load_configuration();
        int rc = corvelle_post_load_configuration();
        messages = testing::internal::GetCapturedStderr();
        return rc;
    }
};

// The status counts the option texts that failed, and 1 more when no configuration was found.
TEST_F(ConfigSearch, PlacesAreSearchedInOrderAndOptionTextsCount)
{
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
        fresh();
        for (const auto& f : c.files)
            dir->write(f.first, f.second ? "opt -p " + std::to_string(f.second) + "\n" : "bank\n");
        for (const char* t : c.texts)
            put_string_table(&opt_config_string, t, -1);
        try_config_again = c.try_again;
        if (!c.home)
            unsetenv("HOME");
        EXPECT_EQ(search(), c.status) << messages;
        EXPECT_EQ(max_voices, c.voices);
    }
}

class StartUp : public PlayerTest {};

TEST_F(StartUp, EveryFileStartsFromTheDefaults)
{
    PlayMode* chosen = play_mode;
    default_drumchannels = 1u << 3;
    default_program[5] = 40;
    channel[2].volume = 33;
    corvelle_start_initialize();
    EXPECT_EQ(play_mode, chosen);  // an output already chosen stays
    EXPECT_EQ(default_drumchannels, (1u << 9) | (1u << 25));
    EXPECT_EQ(default_program[5], 0);
    EXPECT_EQ(channel[2].volume, 0);
    EXPECT_STREQ(program_name, "Corvelle");
    EXPECT_STREQ(opt_aq_max_buff, "5.0");
    EXPECT_STREQ(opt_aq_fill_buff, "100%");
}

TEST_F(StartUp, TheOutputIsChosenByItsCharacter)
{
    const char* saved = getenv("CORVELLE_OUTPUT_ID");
    std::string saved_id = saved ? saved : "";
    play_mode = nullptr;
    setenv("CORVELLE_OUTPUT_ID", "wav", 1);
    corvelle_start_initialize();
    EXPECT_EQ(play_mode, &wave_play_mode);

    // An unknown character falls back to the first output that finds its device.
    play_mode = nullptr;
    setenv("CORVELLE_OUTPUT_ID", "?", 1);
    setenv("CORVELLE_AUDIO_DEVICE", "null", 1);
    corvelle_start_initialize();
    EXPECT_EQ(play_mode, &w32_play_mode);

    EXPECT_EXIT(
        {
            play_mode = nullptr;
            setenv("CORVELLE_OUTPUT_ID", "d", 1);
            setenv("CORVELLE_AUDIO_DEVICE", "alsa:no_such_corvelle_device", 1);
            corvelle_start_initialize();
        },
        testing::ExitedWithCode(1), "Couldn't open output device");

    if (saved)
        setenv("CORVELLE_OUTPUT_ID", saved_id.c_str(), 1);
    else
        unsetenv("CORVELLE_OUTPUT_ID");
    setenv("CORVELLE_AUDIO_DEVICE", "null", 1);
}

TEST_F(StartUp, ThePlayerTakesTheForcedRateAndFragments)
{
    opt_output_rate = 22050;
    opt_buffer_fragments = 12;
    testing::internal::CaptureStderr();
    corvelle_init_player();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(play_mode->rate, 22050);
    EXPECT_NE(err.find("recording output: -B option is ignored"), std::string::npos) << err;

    recording_mode().flag |= PF_BUFF_FRAGM_OPT;
    corvelle_init_player();
    EXPECT_EQ(play_mode->extra_param[0], 12);

    opt_output_rate = 0;
    play_mode->rate = 0;
    corvelle_init_player();
    EXPECT_EQ(play_mode->rate, 44100);
    opt_buffer_fragments = -1;
    play_mode->extra_param[0] = 0;
}

TEST_F(StartUp, MainPlayRoutinePlaysTheListAndCountsFilesThatFailed)
{
    TempDir dir;
    std::string good = dir.write("good.mid", as_string(song_image({{0, 480, 0, 60, 100}})));
    std::string bad = dir.write("bad.mid", "not a song");
    char* files[] = {&bad[0], &good[0]};
    int failures = playlist_failures;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int rc = corvelle_play_main(2, files);
    std::string out = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
    EXPECT_EQ(rc, 0) << out;
    EXPECT_EQ(playlist_failures, failures + 1);
    EXPECT_EQ(hooked().size(), 2u);
    EXPECT_GE(recording().frames(), 44100);
    EXPECT_NE(out.find("Not a MIDI file!"), std::string::npos) << out;
    EXPECT_FALSE(ctl->opened);

    // An output that cannot open ends the routine with 2.
    recording_mode().open_output = []() { return -1; };
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_EQ(corvelle_play_main(1, files), 2);
    out = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find("Couldn't open recording output (`R')"), std::string::npos) << out;
    recording_mode().open_output = recording_open;
}
