// The option interpreter: letters, long options and the word parser.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "config/files.h"
#include "config/tonebank.h"
#include "frontend/controls.h"
#include "frontend/options.h"
#include "frontend/startup.h"
#include "frontend/tables.h"
#include "output/output.h"
#include "play/playmidi.h"
#include "render/resample_settings.h"
#include "support/tempdir.h"

namespace {

struct Options : ::testing::Test {
    ControlInterface saved_ctl;
    void SetUp() override
    {
        ctl = &dumb_control_mode;
        saved_ctl = *ctl;
        ctl->opened = 0;
        ctl->verbosity = 1;
    }
    void TearDown() override
    {
        *ctl = saved_ctl;
        ctl = &dumb_control_mode;
        clean_up_pathlist();
    }
};

struct OptRun {
    int result;
    std::string messages;
};

OptRun short_opt(int c, const char* arg)
{
    testing::internal::CaptureStderr();
    int r = set_engine_opt_short(c, arg);
    return {r, testing::internal::GetCapturedStderr()};
}

// Parses the words as options without capturing anything (death tests capture themselves).
int raw_words(std::vector<std::string> w)
{
    std::vector<char*> argv = {(char*)"prog"};
    for (auto& s : w)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    int next = 0;
    return parse_options((int)argv.size() - 1, argv.data(), 1, &next);
}

OptRun words(std::vector<std::string> w)
{
    testing::internal::CaptureStderr();
    int r = raw_words(std::move(w));
    return {r, testing::internal::GetCapturedStderr()};
}

TEST_F(Options, PolyphonyAndSamplingFrequency)
{
    voices = max_voices = 256;
    EXPECT_EQ(short_opt('p', "0").result, 1);
    EXPECT_EQ(voices, 256);
    EXPECT_EQ(max_voices, 256);
    EXPECT_EQ(short_opt('p', "16645").result, 1);
    EXPECT_EQ(short_opt('p', "16644").result, 0);
    EXPECT_EQ(max_voices, 16644);
    int reduce = auto_reduce_polyphony;
    EXPECT_EQ(short_opt('p', "64a").result, 0);
    EXPECT_EQ(voices, 64);
    EXPECT_EQ(auto_reduce_polyphony, !reduce);
    EXPECT_EQ(short_opt('p', "a").result, 0);
    EXPECT_EQ(auto_reduce_polyphony, reduce);
    voices = max_voices = 256;

    EXPECT_EQ(short_opt('s', "44.1").result, 0);
    EXPECT_EQ(opt_output_rate, 44100);
    EXPECT_EQ(short_opt('s', "22050").result, 0);
    EXPECT_EQ(opt_output_rate, 22050);
    EXPECT_EQ(short_opt('s', "3000").result, 1);
    EXPECT_EQ(opt_output_rate, 22050);
    EXPECT_EQ(short_opt('s', "1e300").result, 1);
    opt_output_rate = 0;
}

PlayMode* mode_with(char c)
{
    for (PlayMode** p = play_mode_list; *p != nullptr; p++)
        if ((*p)->id_character == c)
            return *p;
    return nullptr;
}

TEST_F(Options, OutputModeWithModifiers)
{
    PlayMode* raw = mode_with('r');
    if (raw == nullptr)
        GTEST_SKIP() << "no raw output mode linked";
    PlayMode* saved_mode = play_mode;
    int32 saved_encoding = raw->encoding;

    raw->encoding = PE_ULAW | PE_MONO;
    EXPECT_EQ(short_opt('O', "rs1").result, 0);
    EXPECT_EQ(play_mode, raw);
    EXPECT_EQ(raw->encoding, PE_MONO | PE_SIGNED | PE_16BIT);
    EXPECT_EQ(short_opt('O', "rSU").result, 0);
    EXPECT_EQ(raw->encoding, PE_ULAW);
    EXPECT_EQ(short_opt('O', "r2x").result, 0);
    EXPECT_EQ(raw->encoding, PE_24BIT | PE_BYTESWAP);
    EXPECT_EQ(short_opt('O', "rA").result, 0);
    EXPECT_EQ(raw->encoding, PE_ALAW);
    EXPECT_EQ(short_opt('O', "r8Mu").result, 0);
    EXPECT_EQ(raw->encoding, PE_MONO);

    // The long options change the selected mode the same way.
    raw->encoding = 0;
    EXPECT_EQ(words({"--output-mode=r", "--output-mono", "--output-signed", "--output-16bit",
                     "--output-swab"}).result, 0);
    EXPECT_EQ(raw->encoding, PE_MONO | PE_SIGNED | PE_16BIT | PE_BYTESWAP);
    EXPECT_EQ(words({"--output-stereo", "--output-unsigned", "--no-output-swab", "--output-8bit",
                     "--output-ulaw"}).result, 0);
    EXPECT_EQ(raw->encoding, PE_ULAW);
    EXPECT_EQ(words({"--output-linear", "--output-24bit"}).result, 0);
    EXPECT_EQ(raw->encoding, PE_24BIT);
    EXPECT_EQ(words({"--output-alaw"}).result, 0);
    EXPECT_EQ(raw->encoding, PE_ALAW);

    raw->encoding = saved_encoding;
    play_mode = saved_mode;
}

TEST_F(Options, DrumAndQuietChannels)
{
    uint32 saved = default_drumchannels;
    default_drumchannels = (1u << 9) | (1u << 25);
    EXPECT_EQ(short_opt('D', "-10").result, 0);
    EXPECT_EQ(default_drumchannels, 1u << 25);
    EXPECT_EQ(short_opt('D', "16").result, 0);
    EXPECT_EQ(default_drumchannels, (1u << 25) | (1u << 15));
    EXPECT_EQ(short_opt('D', "0").result, 0);
    EXPECT_EQ(default_drumchannels, 0xffffffffu);
    default_drumchannels = saved;

    quietchannels = 0;
    EXPECT_EQ(short_opt('Q', "1,3,32").result, 0);
    EXPECT_EQ((uint32)quietchannels, 1u | 4u | 0x80000000u);
    EXPECT_EQ(short_opt('Q', "-3").result, 0);
    EXPECT_EQ((uint32)quietchannels, 1u | 0x80000000u);
    quietchannels = 0;
    temper_type_mute = 0;
    EXPECT_EQ(short_opt('Q', "0,3t").result, 0);
    EXPECT_EQ(temper_type_mute, 1 | 8);
    temper_type_mute = 0;
}

TEST_F(Options, LettersAndTheirMessages)
{
    struct Case {
        int letter;
        const char* arg;
        int result;
        const char* messages;
    } cases[] = {
        {'p', "0", 1, "Polyphony must be between 1 and 16644\n"},
        {'s', "3000", 1, "Resampling frequency must be between 4000 and 65000\n"},
        {'D', "33", 1, "Drum channel must be between (-)1 and (-)32, or 0\n"},
        {'Q', "40", 1, "Quiet channel must be between (-)1 and (-)32, or 0\n"},
        {'Q', "8t", 1, "Temperament program number must be between 0 and 7\n"},
        {'O', "rz", 1, "Unknown format modifier `z'\n"},
        {'O', "q", 1, "Playmode `q' is not compiled in.\n"},
        {'4', "", 1, "-4 option is obsoleted.  Please use -N\n"},
        {'I', "x", 1, "-I option is obsoleted.  Please use -Ei\n"},
        {'g', "x", 1, "-g option is not supported\n"},
        {'d', "", 1, ""},  // a warning at level 2: not shown at verbosity 1
        {'w', "R", 1, "-wR option is not supported\n"},
        {'w', "x", 1, "-w: Illegal mode `x'\n"},
        {'W', "x", 1, "WRD Tracer `x' is not compiled in.\n"},
        {'i', "z", 1, "Interface `z' is not compiled in.\n"},
        {'i', "dk", 1, "Unknown interface option `k'\n"},
        {'A', "801", 1, "Amplification must be between 0 and 800\n"},
        {'A', "100,900", 1, "Drum power must be between 0 and 800\n"},
        {'B', "1001", 1, "Buffer Fragments (num) must be between 0 and 1000\n"},
        {'B', ",13", 1, "Buffer Fragments (bit) must be between 1 and 12\n"},
        {'C', "256", 1, "Control ratio must be between 0 and 255\n"},
        {'H', "8", 1, "Force keysig (number of sHarp(+)/flat(-)) must be between -7 and 7\n"},
        {'K', "-25", 1, "Key adjust must be between -24 and 24\n"},
        {'R', "5001", 1, "Modify Release must be between 0 and 5000\n"},
        {'T', "9", 1, "Tempo adjust must be between 10 and 400\n"},
        {'V', "-1", 1, "Volume curve power must be >= 0\n"},
        {'Z', "pure8", 1, "Initial keysig (number of #(+)/b(-)[m(minor)]) must be between -7 and 7\n"},
        {'y', "", 1, ""},
        {'b', "x", 1, ""},
    };
    PlayMode* saved_mode = play_mode;
    for (const Case& c : cases) {
        OptRun r = short_opt(c.letter, c.arg);
        EXPECT_EQ(r.result, c.result) << (char)c.letter << c.arg;
        EXPECT_EQ(r.messages, c.messages) << (char)c.letter << c.arg;
    }
    play_mode = saved_mode;
    quietchannels = temper_type_mute = 0;
    ctl->verbosity = 2;
    EXPECT_EQ(short_opt('d', "").messages, "-d option is not supported\n");
}

TEST_F(Options, LettersReachTheirVariables)
{
    int32 amp = amplification, drum = opt_drum_power;
    ASSERT_EQ(short_opt('A', "120,90a").result, 0);
    EXPECT_EQ(amplification, 120);
    EXPECT_EQ(opt_drum_power, 90);
    EXPECT_EQ(opt_amp_compensation, 1);
    amplification = amp;
    opt_drum_power = drum;
    opt_amp_compensation = 0;

    ASSERT_EQ(short_opt('B', "8,10").result, 0);
    EXPECT_EQ(opt_buffer_fragments, 8);
    EXPECT_EQ(audio_buffer_bits, 10);
    opt_buffer_fragments = -1;
    audio_buffer_bits = 12;
    ASSERT_EQ(short_opt('C', "20").result, 0);
    EXPECT_EQ(control_ratio, 20);
    EXPECT_EQ(opt_control_ratio, 20);
    control_ratio = opt_control_ratio = 0;
    ASSERT_EQ(short_opt('R', "0").result, 0);
    EXPECT_EQ(modify_release, 800);
    ASSERT_EQ(short_opt('R', "-1").result, 0);
    EXPECT_EQ(modify_release, 0);
    ASSERT_EQ(short_opt('S', "2m").result, 0);
    EXPECT_EQ(allocate_cache_size, 2 * 1048576);
    ASSERT_EQ(short_opt('S', "1.5k").result, 0);
    EXPECT_EQ(allocate_cache_size, 1536);
    allocate_cache_size = 2097152;
    ASSERT_EQ(short_opt('T', "200").result, 0);
    EXPECT_DOUBLE_EQ(tempo_adjust, 0.5);
    tempo_adjust = 1.0;
    ASSERT_EQ(short_opt('V', "2").result, 0);
    EXPECT_EQ(opt_user_volume_curve, 1);
    EXPECT_NEAR(user_vol_table[127], 127.0, 1e-9);
    opt_user_volume_curve = 0;
    ASSERT_EQ(short_opt('Z', "pure-3m").result, 0);
    EXPECT_EQ(opt_pure_intonation, 1);
    EXPECT_EQ(opt_init_keysig, -3 + 16);
    opt_pure_intonation = 0;
    opt_init_keysig = 8;
    ASSERT_EQ(short_opt('L', "/some/dir").result, 0);
    EXPECT_STREQ(pathlist->path, "/some/dir");
    EXPECT_EQ(try_config_again, 1);
    try_config_again = 0;
    ASSERT_EQ(short_opt('P', std::string(400, 'p').c_str()).result, 0);
    EXPECT_EQ(strlen(def_instr_name), 255u);
    EXPECT_EQ(default_instrument_name, def_instr_name);
    def_instr_name[0] = '\0';
    default_instrument_name = nullptr;
    ASSERT_EQ(short_opt('m', "-5").result, 0);
    EXPECT_EQ(min_sustain_time, 0);
    ASSERT_EQ(short_opt('q', "3.0/50%").result, 0);
    EXPECT_STREQ(opt_aq_max_buff, "3.0");
    EXPECT_STREQ(opt_aq_fill_buff, "50%");

    setenv("HOME", "/home/someone", 1);
    ASSERT_EQ(short_opt('o', "~/out.wav").result, 0);
    EXPECT_STREQ(opt_output_name, "/home/someone/out.wav");

    ASSERT_EQ(short_opt('i', "dvvtlrs").result, 0);
    EXPECT_EQ(ctl->verbosity, 3);
    EXPECT_EQ(ctl->trace_playing, 1);
    EXPECT_EQ(ctl->flags, 7);

    StringTableNode* before = opt_config_string.tail;
    ASSERT_EQ(short_opt('x', "bank 0\\n0 a\\tb\\\\c\\q").result, 0);
    ASSERT_NE(opt_config_string.tail, before);
    EXPECT_STREQ(opt_config_string.tail->string, "bank 0\n0 a\tb\\cq");

    int fd = fast_decay, ap = adjust_panning_immediately, rt = opt_realtime_playing;
    short_opt('f', "");
    short_opt('F', "");
    short_opt('j', "");
    EXPECT_EQ(fast_decay, !fd);
    EXPECT_EQ(adjust_panning_immediately, !ap);
    EXPECT_EQ(opt_realtime_playing, !rt);
    fast_decay = fd;
    adjust_panning_immediately = ap;
    opt_realtime_playing = rt;
}

TEST_F(Options, FrequencyTableFromAFile)
{
    init_freq_table();
    std::string good = "# a table\n";
    for (int i = 0; i < 128; i++)
        good += std::to_string(1000 + i) + (i % 8 == 7 ? "\n" : ", ");
    TempDir dir;
    std::string name = dir.write("freq", good);
    EXPECT_EQ(short_opt('Z', name.c_str()).result, 0);
    EXPECT_EQ(freq_table[0], 1000);
    EXPECT_EQ(freq_table[127], 1127);

    // Too few values, or text that is not a number, leave the table as it was.
    dir.write("freq", "1 2 3\n");
    OptRun r = words({"--freq-table=" + name});
    EXPECT_EQ(r.result, 1);
    EXPECT_NE(r.messages.find("a frequency table is 128 positive whole numbers"), std::string::npos);
    EXPECT_EQ(freq_table[0], 1000);
    EXPECT_EQ(short_opt('Z', "/no/such/table").messages, "Can't read frequency table /no/such/table\n");
    init_freq_table();
    EXPECT_EQ(freq_table[69], 440000);
}

TEST_F(Options, InterpolationFollowsTheResampler)
{
    int saved_n = gauss_n;
    set_current_resampler(RESAMPLE_GAUSS);
    EXPECT_EQ(short_opt('N', "30").result, 0);
    EXPECT_EQ(gauss_n, 30);
    OptRun r = short_opt('N', "35");
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.messages, "Invalid -N value\n");
    EXPECT_EQ(short_opt('N', "0").result, 0);
    EXPECT_EQ(get_current_resampler(), RESAMPLE_LINEAR);
    set_current_resampler(RESAMPLE_CSPLINE);
    EXPECT_EQ(short_opt('N', "no").result, 0);
    EXPECT_EQ(no_4point_interpolation, 0);
    EXPECT_EQ(short_opt('N', "").result, 0);
    EXPECT_EQ(no_4point_interpolation, 1);
    set_current_resampler(RESAMPLE_NEWTON);
    EXPECT_EQ(short_opt('N', "12").result, 1);
    EXPECT_EQ(short_opt('N', "57").result, 0);
    EXPECT_EQ(newt_max, 57);
    set_current_resampler(RESAMPLE_GAUSS);
    gauss_n = saved_n;
    no_4point_interpolation = 0;
}

// Long options reach their variables, including those that set several or convert.
TEST_F(Options, LongOptionsReachTheirVariables)
{
    struct Case {
        std::vector<std::string> words;
        std::function<bool()> check;
    };
    const std::vector<Case> cases = {
        {{"--volume-compensation"}, [] { return opt_amp_compensation == 1; }},
        {{"--no-volume-compensation"}, [] { return opt_amp_compensation == 0; }},
        {{"--anti-alias=yes"}, [] { return antialiasing_allowed == 1; }},
        {{"--anti-alias=no"}, [] { return antialiasing_allowed == 0; }},
        {{"--buffer-fragments=3,9"}, [] { return opt_buffer_fragments == 3 && audio_buffer_bits == 9; }},
        {{"--control-ratio=7"}, [] { return control_ratio == 7 && opt_control_ratio == 7; }},
        {{"--drum-channel=-10"}, [] { return (default_drumchannels & (1u << 9)) == 0; }},
        {{"--drum-channel=10"}, [] { return (default_drumchannels & (1u << 9)) != 0; }},
        {{"--ext=WP"}, [] { return opt_modulation_wheel == 0 && opt_portamento == 0; }},
        {{"--ext=wp"}, [] { return opt_modulation_wheel == 1 && opt_portamento == 1; }},
        {{"--vibrato=n"}, [] { return opt_nrpn_vibrato == 0; }},
        {{"--default-mid=41"}, [] { return opt_default_mid == 0x41; }},
        {{"--system-mid=xg"}, [] { return opt_system_mid == 0x43; }},
        {{"--default-bank=3"}, [] { return default_tonebank == 3 && special_tonebank == -1; }},
        {{"--default-program=10/2"}, [] { return default_program[1] == 10 && default_program[0] != 10; }},
        {{"--default-program=11"}, [] { return default_program[0] == 11 && default_program[31] == 11; }},
        {{"--force-program=12/3"}, [] { return def_prog == 12 && default_program[2] == -1 && default_program[0] == 11; }},
        {{"--delay=l,30"}, [] { return effect_lr_mode == 0 && effect_lr_delay_msec == 30; }},
        {{"--delay=b"}, [] { return effect_lr_mode == 2; }},
        {{"--delay=d"}, [] { return effect_lr_mode == -1; }},
        {{"--chorus=s,40"}, [] { return opt_surround_chorus == 1 && opt_chorus_control == -40; }},
        {{"--chorus=n"}, [] { return opt_surround_chorus == 0 && opt_chorus_control == 1; }},
        {{"--reverb=g,50"}, [] { return opt_reverb_control == -(50 | 0x80); }},
        {{"--reverb=f"}, [] { return opt_reverb_control == 3; }},
        {{"--voice-lpf=m"}, [] { return opt_lpf_def == 2; }},
        {{"--resample=L"}, [] { return get_current_resampler() == RESAMPLE_LAGRANGE; }},
        {{"--resample=g"}, [] { return get_current_resampler() == RESAMPLE_GAUSS; }},  // for --interpolation
        {{"--no-fast-panning"}, [] { return adjust_panning_immediately == 0; }},
        {{"--interface=d"}, [] { return ctl == &dumb_control_mode; }},
        {{"--verbose=2"}, [] { return ctl->verbosity == 3; }},
        {{"--quiet"}, [] { return ctl->verbosity == 2; }},
        {{"--trace"}, [] { return ctl->trace_playing == 1; }},
        {{"--loop", "--random", "--sort"}, [] { return (ctl->flags & 7) == 7; }},
        {{"--no-loop", "--no-random"}, [] { return (ctl->flags & 7) == 4; }},
        {{"--no-sort"}, [] { return (ctl->flags & 7) == 0; }},
        {{"--no-realtime-load"}, [] { return opt_realtime_playing == 0; }},
        {{"--patch-path=/patches"}, [] { return strcmp(pathlist->path, "/patches") == 0; }},
        {{"--interpolation=20"}, [] { return gauss_n == 20; }},
        {{"--polyphony=99"}, [] { return voices == 99 && max_voices == 99; }},
        {{"--no-polyphony-reduction"}, [] { return auto_reduce_polyphony == 0; }},
        {{"--mute=5"}, [] { return (quietchannels & (1 << 4)) != 0; }},
        {{"--temper-mute=2,7"}, [] { return temper_type_mute == ((1 << 2) | (1 << 7)); }},
        {{"--audio-buffer=2.5/80%"}, [] { return strcmp(opt_aq_max_buff, "2.5") == 0 && strcmp(opt_aq_fill_buff, "80%") == 0; }},
        {{"--cache-size=4k"}, [] { return allocate_cache_size == 4096; }},
        {{"--sampling-freq=48"}, [] { return opt_output_rate == 48000; }},
        {{"--adjust-tempo=50"}, [] { return tempo_adjust == 2.0; }},
        {{"--output-charset=ASCII"}, [] { return strcmp(output_text_code, "ASCII") == 0; }},
        {{"--unload-instruments"}, [] { return free_instruments_afterwards == 1; }},
        {{"--no-unload-instruments"}, [] { return free_instruments_afterwards == 0; }},
        {{"--config-string=dir /cs"}, [] { return strcmp(opt_config_string.tail->string, "dir /cs") == 0; }},
        {{"--pure-intonation=2"}, [] { return opt_init_keysig == 2; }},
        {{"--module=-3"}, [] { return opt_default_module == 0; }},
        {{"--module=17"}, [] { return opt_default_module == 17; }},
        {{"--sampling=32"}, [] { return opt_output_rate == 32000; }},  // an unambiguous prefix
    };
    for (const Case& c : cases) {
        OptRun r = words(c.words);
        EXPECT_EQ(r.result, 0) << c.words[0] << ": " << r.messages;
        EXPECT_TRUE(c.check()) << c.words[0];
    }
    // Errors with the letters' messages.
    OptRun r = words({"--drum-power=900"});
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.messages, "Drum power must be between 0 and 800\n");
    EXPECT_EQ(words({"--default-mid=zz"}).messages, "Manufacture ID: Illegal value\n");
    EXPECT_EQ(words({"--delay=q"}).messages, "Invalid delay parameter.\n");
    EXPECT_EQ(effect_lr_mode, -1);
    EXPECT_EQ(words({"--delay=l,-5"}).messages, "Invalid delay parameter.\n");
    EXPECT_EQ(words({"--chorus=x"}).messages, "Invalid chorus parameter.\n");
    EXPECT_EQ(words({"--chorus=1,200"}).messages, "Chorus level must be between 0 and 127\n");
    EXPECT_EQ(words({"--voice-lpf=z"}).messages, "Invalid voice LPF type z\n");
    EXPECT_EQ(words({"--resample=q"}).messages, "Invalid resample type q\n");
    EXPECT_EQ(words({"--noise-shaping=5"}).messages, "Noise shaping type must be between 0 and 4\n");
    EXPECT_EQ(words({"--default-bank=128"}).messages, "Bank number must be between 0 and 127\n");
    EXPECT_EQ(words({"--default-program=128"}).messages, "Program number must be between 0 and 127\n");
    EXPECT_EQ(words({"--force-program=1/33"}).messages, "Program channel must be between 1 and 32\n");
    EXPECT_EQ(words({"--interface-path=x"}).result, 1);
    EXPECT_EQ(words({"--spectrogram=x"}).messages, "-g option is not supported\n");
    EXPECT_EQ(words({"--rcpcv-dll=x"}).messages, "-w: Illegal mode `x'\n");
    EXPECT_EQ(words({"--temper-mute=9"}).messages, "Temperament program number must be between 0 and 7\n");
    // Several options in one list add their error weights.
    EXPECT_EQ(words({"-p0", "-C", "999", "-a"}).result, 2);
}

// Only the first start clears what the options gave: the next file's start keeps it.
TEST_F(Options, ConfigStringsOutliveTheNextFilesStart)
{
    PlayMode mode = {}, *saved = play_mode;
    play_mode = &mode;
    corvelle_start_initialize();
    EXPECT_EQ(words({"--config-string=bank 0"}).result, 0);
    corvelle_start_initialize();
    EXPECT_EQ(opt_config_string.nstring, 1);
    delete_string_table(&opt_config_string);
    play_mode = saved;
}

TEST_F(Options, OptionsThatEndTheProgram)
{
    EXPECT_EXIT(raw_words({"--nothing-like-this"}), ::testing::ExitedWithCode(1),
                "Could not understand option : try --help");
    EXPECT_EXIT(raw_words({"--no"}), ::testing::ExitedWithCode(1), "Could not understand option");
    EXPECT_EXIT(raw_words({"--polyph=98"}), ::testing::ExitedWithCode(1),  // ambiguous prefix
                "Could not understand option");
    EXPECT_EXIT(raw_words({"-y"}), ::testing::ExitedWithCode(1), "Could not understand option");
    EXPECT_EXIT(raw_words({"--version=1"}), ::testing::ExitedWithCode(1), "Could not understand option");
    EXPECT_EXIT(set_engine_opt_long(300, nullptr), ::testing::KilledBySignal(SIGABRT),
                "\\[BUG\\] Inconceivable case branch 300");
    // Help and version end it with status 0.
    EXPECT_EXIT(raw_words({"--help"}), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(set_engine_opt_short('v', ""), ::testing::ExitedWithCode(0), "");
}

}  // namespace
