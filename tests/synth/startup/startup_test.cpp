// Start-up: where the configuration is searched and when it counts as found, the defaults set
// for every file, choosing the output, preparing the player and the main play routine.
#include <cstdlib>
#include <string>

#include "config/files.h"
#include "support/tempdir.h"
#include "synth/play/player_fixture.h"

// Three configuration places in temporary directories; each configuration file sets the
// polyphony, so the polyphony tells which file was read.
class ConfigSearch : public ::testing::Test {
protected:
    TempDir dir;
    std::string a, b, home, last;
    std::string saved_home;
    bool had_home = false;

    void SetUp() override
    {
        a = dir.mkdir("sys");
        b = dir.mkdir("prog");
        home = dir.mkdir("home");
        last = dir.file("last-resort.cfg");
        system_config_dir = a.c_str();
        program_config_dir = b.c_str();
        last_resort_config_file = last.c_str();
        const char* h = getenv("HOME");
        had_home = h != nullptr;
        if (had_home)
            saved_home = h;
        setenv("HOME", home.c_str(), 1);
        got_a_configuration = 0;
        try_config_again = 0;
        delete_string_table(&opt_config_string);
        max_voices = voices = 256;
    }
    void TearDown() override
    {
        system_config_dir = program_config_dir = nullptr;
        last_resort_config_file = "/usr/local/share/corvelle/corvelle.cfg";
        if (had_home)
            setenv("HOME", saved_home.c_str(), 1);
        else
            unsetenv("HOME");
        got_a_configuration = 0;
        try_config_again = 0;
        delete_string_table(&opt_config_string);
        max_voices = voices = 256;
    }
    static std::string polyphony(int n) { return "opt -p " + std::to_string(n) + "\n"; }
    int search()
    {
        testing::internal::CaptureStderr();
        corvelle_pre_load_configuration();
        int rc = corvelle_post_load_configuration();
        messages = testing::internal::GetCapturedStderr();
        return rc;
    }
    std::string messages;
};

TEST_F(ConfigSearch, TheSystemDirectoryComesBeforeTheProgramDirectory)
{
    dir.write("sys/CORVELLE.CFG", polyphony(17));
    dir.write("prog/CORVELLE.CFG", polyphony(23));
    EXPECT_EQ(search(), 0);
    EXPECT_EQ(max_voices, 17);
    EXPECT_EQ(got_a_configuration, 1);
}

TEST_F(ConfigSearch, TheProgramDirectoryIsNextAndTakesTheLowerCaseName)
{
    dir.write("prog/corvelle.cfg", polyphony(23));
    EXPECT_EQ(search(), 0);
    EXPECT_EQ(max_voices, 23);

    // A broken file in the system directory does not stop the search either.
    max_voices = 256;
    got_a_configuration = 0;
    dir.write("sys/corvelle.cfg", "bank\n");
    EXPECT_EQ(search(), 0);
    EXPECT_EQ(max_voices, 23);
}

TEST_F(ConfigSearch, AHomeFileAloneIsNotEnough)
{
    dir.write("home/.corvelle.cfg", polyphony(19));
    EXPECT_NE(search(), 0);
    EXPECT_EQ(max_voices, 19);  // read all the same
    EXPECT_EQ(got_a_configuration, 0);

    // Nothing anywhere, and no home directory either.
    unsetenv("HOME");
    max_voices = 256;
    EXPECT_NE(search(), 0);
    EXPECT_EQ(max_voices, 256);
}

TEST_F(ConfigSearch, TheLastResortFileOnlyWhenAnOptionAsksToTryAgain)
{
    dir.write("last-resort.cfg", polyphony(29));
    EXPECT_NE(search(), 0);
    EXPECT_EQ(max_voices, 256);
    try_config_again = 1;
    EXPECT_EQ(search(), 0);
    EXPECT_EQ(max_voices, 29);
}

TEST_F(ConfigSearch, OptionTextsCountAsAConfigurationAndTheirFailuresAreCounted)
{
    put_string_table(&opt_config_string, "opt -p 31", -1);
    EXPECT_EQ(search(), 0);
    EXPECT_EQ(max_voices, 31);

    got_a_configuration = 0;
    put_string_table(&opt_config_string, "bank", -1);
    EXPECT_EQ(search(), 1);  // one text failed, the other was read
    got_a_configuration = 0;
    delete_string_table(&opt_config_string);
    put_string_table(&opt_config_string, "bank", -1);
    put_string_table(&opt_config_string, "drumset", -1);
    EXPECT_EQ(search(), 3);  // two failed and nothing was read
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
