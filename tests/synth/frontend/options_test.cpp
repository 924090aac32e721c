// The option interpreter: letters, long options and the word parser.
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
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
#include "support/capture.h"
#include "support/guards.h"
#include "support/tempdir.h"

namespace {

struct Options : ::testing::Test {
    Restore<ControlInterface*> ctl_{ctl, &dumb_control_mode};
    Restore<ControlInterface> saved_ctl_{dumb_control_mode};
    Restore<PlayMode*> mode_in_use_{play_mode};
    void SetUp() override
    {
        ctl->opened = 0;
        ctl->verbosity = 1;
    }
    void TearDown() override
    {
        clean_up_pathlist();
    }
};

struct OptRun {
    int result;
    std::string messages;
};

OptRun short_opt(int c, const char* arg)
{
    OptRun r{};
    r.messages = stderr_of([&] { r.result = set_engine_opt_short(c, arg); });
    return r;
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
    OptRun r{};
    r.messages = stderr_of([&] { r.result = raw_words(std::move(w)); });
    return r;
}

TEST_F(Options, OutputModeWithModifiers)
{
    PlayMode* raw = nullptr;
    for (PlayMode** p = play_mode_list; *p != nullptr; p++)
        if ((*p)->id_character == 'r')
            raw = *p;
    ASSERT_NE(raw, nullptr);
    Restore encoding(raw->encoding, PE_ULAW | PE_MONO);
    // Rows run in order: each starts from the encoding the one before left.
    const struct {
        std::vector<std::string> words;
        int32 encoding;
    } cases[] = {
        {{"-Ors1"}, PE_MONO | PE_SIGNED | PE_16BIT}, {{"-OrSU"}, PE_ULAW},
        {{"-Or2x"}, PE_24BIT | PE_BYTESWAP},        {{"-OrA"}, PE_ALAW}, {{"-Or8Mu"}, PE_MONO},
        {{"--output-mode=r", "--output-mono", "--output-signed", "--output-16bit", "--output-swab"},
         PE_MONO | PE_SIGNED | PE_16BIT | PE_BYTESWAP},
        {{"--output-stereo", "--output-unsigned", "--no-output-swab", "--output-8bit", "--output-ulaw"},
         PE_ULAW},
        {{"--output-linear", "--output-24bit"}, PE_24BIT}, {{"--output-alaw"}, PE_ALAW},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(words(c.words).result, 0) << c.words[0];
        EXPECT_EQ(play_mode, raw);
        EXPECT_EQ(raw->encoding, c.encoding) << c.words.back();
    }
}

// Letters and long options reach their variables, including those that set several or convert.
// Each row starts at verbosity 1; otherwise rows run in order (the toggles, the channel sets and
// the temperament mutes build on the rows before).
TEST_F(Options, OptionsReachTheirVariables)
{
    voices = max_voices = 256;
    const uint32 drums = default_drumchannels;
    default_drumchannels = (1u << 9) | (1u << 25);
    quietchannels = temper_type_mute = 0;
    const int reduce = auto_reduce_polyphony, fd = fast_decay, ap = adjust_panning_immediately;
    const int rt = opt_realtime_playing, amp = amplification, drum = opt_drum_power;
    setenv("HOME", "/home/someone", 1);
    const struct {
        std::vector<std::string> words;
        std::function<bool()> check;
    } cases[] = {
        {{"-D-10"}, [] { return default_drumchannels == 1u << 25; }},
        {{"-D16"}, [] { return default_drumchannels == ((1u << 25) | (1u << 15)); }},
        {{"-D0"}, [] { return default_drumchannels == 0xffffffffu; }},
        {{"-Q1,3,32"}, [] { return (uint32)quietchannels == (1u | 4u | 0x80000000u); }},
        {{"-Q-3"}, [] { return (uint32)quietchannels == (1u | 0x80000000u); }},
        {{"-Q0,3t"}, [] { return temper_type_mute == (1 | 8); }},
        {{"-p16644"}, [] { return max_voices == 16644; }},
        {{"-p64a"}, [=] { return voices == 64 && auto_reduce_polyphony == !reduce; }},
        {{"-pa"}, [=] { return auto_reduce_polyphony == reduce; }},
        {{"-s44.1"}, [] { return opt_output_rate == 44100; }},
        {{"-s22050"}, [] { return opt_output_rate == 22050; }},
        {{"-A120,90a"}, [] { return amplification == 120 && opt_drum_power == 90 && opt_amp_compensation; }},
        {{"-B8,10"}, [] { return opt_buffer_fragments == 8 && audio_buffer_bits == 10; }},
        {{"-C20"}, [] { return control_ratio == 20 && opt_control_ratio == 20; }},
        {{"-R0"}, [] { return modify_release == 800; }}, {{"-R-1"}, [] { return modify_release == 0; }},
        {{"-S2m"}, [] { return allocate_cache_size == 2 * 1048576; }},
        {{"-S1.5k"}, [] { return allocate_cache_size == 1536; }},
        {{"-T200"}, [] { return tempo_adjust == 0.5; }},
        {{"-V2"}, [] { return opt_user_volume_curve == 1 && std::fabs(user_vol_table[127] - 127) < 1e-9; }},
        {{"-Zpure-3m"}, [] { return opt_pure_intonation == 1 && opt_init_keysig == -3 + 16; }},
        {{"-L/some/dir"}, [] { return strcmp(pathlist->path, "/some/dir") == 0 && try_config_again == 1; }},
        {{"-P" + std::string(400, 'p')},
         [] { return strlen(def_instr_name) == 255 && default_instrument_name == def_instr_name; }},
        {{"-m-5"}, [] { return min_sustain_time == 0; }},
        {{"-q3.0/50%"}, [] { return !strcmp(opt_aq_max_buff, "3.0") && !strcmp(opt_aq_fill_buff, "50%"); }},
        {{"-o~/out.wav"}, [] { return strcmp(opt_output_name, "/home/someone/out.wav") == 0; }},
        {{"-idvvtlrs"}, [] { return ctl->verbosity == 3 && ctl->trace_playing == 1 && ctl->flags == 7; }},
        {{"-xbank 0\\n0 a\\tb\\\\c\\q"},
         [] { return !strcmp(opt_config_string.tail->string, "bank 0\n0 a\tb\\cq"); }},
        {{"-f", "-F", "-j"},
         [=] { return fast_decay != fd && adjust_panning_immediately != ap && opt_realtime_playing != rt; }},
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
        {{"--default-mid=19"}, [] { return opt_default_mid == 0x19; }},
        {{"-WRopt"}, [] { return true; }},  // kept for a lyric tracer: taken without a word
        {{"--system-mid=xg"}, [] { return opt_system_mid == 0x43; }},
        {{"--default-bank=3"}, [] { return default_tonebank == 3 && special_tonebank == -1; }},
        {{"--default-program=10/2"}, [] { return default_program[1] == 10 && default_program[0] != 10; }},
        {{"--default-program=11"}, [] { return default_program[0] == 11 && default_program[31] == 11; }},
        {{"--force-program=12/3"},
         [] { return def_prog == 12 && default_program[2] == -1 && default_program[0] == 11; }},
        {{"--delay=l,30"}, [] { return effect_lr_mode == 0 && effect_lr_delay_msec == 30; }},
        {{"--delay=b"}, [] { return effect_lr_mode == 2; }},
        {{"--delay=d"}, [] { return effect_lr_mode == -1; }},
        {{"--chorus=s,40"}, [] { return opt_surround_chorus == 1 && opt_chorus_control == -40; }},
        {{"--chorus=n"}, [] { return opt_surround_chorus == 0 && opt_chorus_control == 1; }},
        {{"--reverb=g,50"}, [] { return opt_reverb_control == -(50 | 0x80); }},
        {{"--reverb=f"}, [] { return opt_reverb_control == 3; }},
        {{"--voice-lpf=m"}, [] { return opt_lpf_def == 2; }},
        {{"--resample=L"}, [] { return get_current_resampler() == RESAMPLE_LAGRANGE; }},
        {{"--resample=g"}, [] { return get_current_resampler() == RESAMPLE_GAUSS; }},
        {{"--interpolation=20"}, [] { return gauss_n == 20; }},
        {{"--no-fast-panning"}, [] { return adjust_panning_immediately == 0; }},
        {{"--interface=d"}, [] { return ctl == &dumb_control_mode; }},
        {{"--verbose=2"}, [] { return ctl->verbosity == 3; }},
        {{"--quiet"}, [] { return ctl->verbosity == 0; }},
        {{"--trace"}, [] { return ctl->trace_playing == 1; }},
        {{"--loop", "--random", "--sort"}, [] { return (ctl->flags & 7) == 7; }},
        {{"--no-loop", "--no-random"}, [] { return (ctl->flags & 7) == 4; }},
        {{"--no-sort"}, [] { return (ctl->flags & 7) == 0; }},
        {{"--no-realtime-load"}, [] { return opt_realtime_playing == 0; }},
        {{"--patch-path=/patches"}, [] { return strcmp(pathlist->path, "/patches") == 0; }},
        {{"--polyphony=99"}, [] { return voices == 99 && max_voices == 99; }},
        {{"--no-polyphony-reduction"}, [] { return auto_reduce_polyphony == 0; }},
        {{"--mute=5"}, [] { return (quietchannels & (1 << 4)) != 0; }},
        {{"--temper-mute=2,7"}, [] { return temper_type_mute == (1 | 4 | 8 | 128); }},
        {{"--audio-buffer=2.5/80%"},
         [] { return strcmp(opt_aq_max_buff, "2.5") == 0 && strcmp(opt_aq_fill_buff, "80%") == 0; }},
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
    for (const auto& c : cases) {
        ctl->verbosity = 1;
        OptRun r = words(c.words);
        EXPECT_EQ(r.result, 0) << c.words[0] << ": " << r.messages;
        EXPECT_TRUE(c.check()) << c.words[0];
    }
    // Several options in one list add their error weights; refused values change nothing.
    EXPECT_EQ(words({"-p0", "-C", "999", "-a", "-s1e300", "--delay=q"}).result, 4);
    EXPECT_EQ((std::vector<int>{voices, max_voices, control_ratio, opt_output_rate, effect_lr_mode}),
              (std::vector<int>{99, 99, 7, 32000, -1}));

    fast_decay = fd;
    adjust_panning_immediately = ap;
    opt_realtime_playing = rt;
    amplification = amp;
    opt_drum_power = drum;
    opt_buffer_fragments = -1;
    audio_buffer_bits = 12;
    control_ratio = opt_control_ratio = 0;
    allocate_cache_size = 2097152;
    tempo_adjust = 1.0;
    opt_user_volume_curve = opt_pure_intonation = 0;
    opt_init_keysig = 8;
    try_config_again = 0;
    def_instr_name[0] = '\0';
    default_instrument_name = nullptr;
    quietchannels = temper_type_mute = 0;
    opt_output_rate = 0;
    default_drumchannels = drums;
}

// The messages of refused values; a letter of 0 means the text is a long option.
TEST_F(Options, RefusedValuesAndTheirMessages)
{
    const struct {
        int letter;
        const char* arg;
        const char* messages;
    } cases[] = {
        {'p', "0", "Polyphony must be between 1 and 16644"},
        {'p', "16645", "Polyphony must be between 1 and 16644"},
        {'s', "3000", "Resampling frequency must be between 4000 and 65000"},
        {'D', "33", "Drum channel must be between (-)1 and (-)32, or 0"},
        {'Q', "40", "Quiet channel must be between (-)1 and (-)32, or 0"},
        {'Q', "8t", "Temperament program number must be between 0 and 7"},
        {'O', "rz", "Unknown format modifier `z'"}, {'O', "q", "Playmode `q' is not compiled in."},
        {'4', "", "-4 option is obsoleted.  Please use -N"},
        {'I', "x", "-I option is obsoleted.  Please use -Ei"}, {'g', "x", "-g option is not supported"},
        {'d', "", ""},  // a warning at level 2: not shown at verbosity 1
        {'w', "R", "-wR option is not supported"}, {'w', "x", "-w: Illegal mode `x'"},
        {'W', "x", "WRD Tracer `x' is not compiled in."}, {'i', "z", "Interface `z' is not compiled in."},
        {'i', "dk", "Unknown interface option `k'"}, {'A', "801", "Amplification must be between 0 and 800"},
        {'A', "100,900", "Drum power must be between 0 and 800"},
        {'B', "1001", "Buffer Fragments (num) must be between 0 and 1000"},
        {'B', ",13", "Buffer Fragments (bit) must be between 1 and 12"},
        {'C', "256", "Control ratio must be between 0 and 255"},
        {'H', "8", "Force keysig (number of sHarp(+)/flat(-)) must be between -7 and 7"},
        {'K', "-25", "Key adjust must be between -24 and 24"},
        {'R', "5001", "Modify Release must be between 0 and 5000"},
        {'T', "9", "Tempo adjust must be between 10 and 400"}, {'V', "-1", "Volume curve power must be >= 0"},
        {'Z', "pure8", "Initial keysig (number of #(+)/b(-)[m(minor)]) must be between -7 and 7"},
        {'y', "", ""}, {'b', "x", ""}, {0, "--drum-power=900", "Drum power must be between 0 and 800"},
        {0, "--default-mid=zz", "Manufacture ID: Illegal value"},
        {0, "--delay=q", "Invalid delay parameter."}, {0, "--delay=l,-5", "Invalid delay parameter."},
        {0, "--chorus=x", "Invalid chorus parameter."},
        {0, "--chorus=1,200", "Chorus level must be between 0 and 127"},
        {0, "--voice-lpf=z", "Invalid voice LPF type z"}, {0, "--resample=q", "Invalid resample type q"},
        {0, "--noise-shaping=5", "Noise shaping type must be between 0 and 4"},
        {0, "--default-bank=128", "Bank number must be between 0 and 127"},
        {0, "--default-program=128", "Program number must be between 0 and 127"},
        {0, "--force-program=1/33", "Program channel must be between 1 and 32"},
        {0, "--interface-path=x", ""}, {0, "--spectrogram=x", "-g option is not supported"},
        {0, "--rcpcv-dll=x", "-w: Illegal mode `x'"},
        {0, "--temper-mute=9", "Temperament program number must be between 0 and 7"},
    };
    for (const auto& c : cases) {
        OptRun r = c.letter ? short_opt(c.letter, c.arg) : words({c.arg});
        EXPECT_EQ(r.result, 1) << (char)c.letter << c.arg;
        EXPECT_EQ(r.messages, *c.messages ? c.messages + std::string("\n") : "") << (char)c.letter << c.arg;
    }
    quietchannels = temper_type_mute = 0;
    ctl->verbosity = 2;
    EXPECT_EQ(short_opt('d', "").messages, "-d option is not supported\n");
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

// What -N sets depends on the resampler in use.
TEST_F(Options, InterpolationFollowsTheResampler)
{
    Restore order(gauss_n), quality(no_4point_interpolation);
    const struct {
        int resampler;
        const char* arg;
        int result;
        std::function<bool()> check;
    } cases[] = {
        {RESAMPLE_GAUSS, "30", 0, [] { return gauss_n == 30; }},
        {RESAMPLE_GAUSS, "35", 1, [] { return gauss_n == 30; }},
        {RESAMPLE_GAUSS, "0", 0, [] { return get_current_resampler() == RESAMPLE_LINEAR; }},
        {RESAMPLE_CSPLINE, "no", 0, [] { return no_4point_interpolation == 0; }},
        {RESAMPLE_CSPLINE, "", 0, [] { return no_4point_interpolation == 1; }},
        {RESAMPLE_NEWTON, "57", 0, [] { return newt_max == 57; }},
        {RESAMPLE_NEWTON, "12", 1, [] { return newt_max == 57; }},
    };
    for (const auto& c : cases) {
        set_current_resampler(c.resampler);
        OptRun r = short_opt('N', c.arg);
        EXPECT_EQ(r.result, c.result) << c.arg;
        EXPECT_EQ(r.messages, c.result ? "Invalid -N value\n" : "") << c.arg;
        EXPECT_TRUE(c.check()) << c.arg;
    }
    set_current_resampler(RESAMPLE_GAUSS);
}

// Only the first start clears what the options gave: the next file's start keeps it.
TEST_F(Options, ConfigStringsOutliveTheNextFilesStart)
{
    PlayMode mode = {};
    play_mode = &mode;
    corvelle_start_initialize();
    EXPECT_EQ(words({"--config-string=bank 0"}).result, 0);
    default_drumchannels = 1u << 3;  // what the last file's configuration gave goes
    corvelle_start_initialize();
    EXPECT_EQ(opt_config_string.nstring, 1);
    EXPECT_EQ(default_drumchannels, (1u << 9) | (1u << 25));
    delete_string_table(&opt_config_string);
}

// An output that cannot be opened hands the termination signals back as they were, so that
// the program can still be ended as before.
TEST_F(Options, AFailedOutputOpenRestoresTheSignals)
{
    PlayMode mode = {};
    mode.open_output = [] { return -1; };
    mode.close_output = [] {};
    mode.id_name = "Test device";
    mode.id_character = 't';
    play_mode = &mode;
    void (*mark)(int) = [](int) {};
    void (*before)(int) = signal(SIGTERM, mark);
    char name[] = "song.mid", *files[] = {name};
    testing::internal::CaptureStdout();
    EXPECT_EQ(corvelle_play_main(1, files), 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Couldn't open Test device (`t')\n");
    EXPECT_EQ(signal(SIGTERM, before), mark);
}

TEST_F(Options, OptionsThatEndTheProgram)
{
    // An ambiguous prefix, an unknown letter, a value where none is taken.
    for (const char* w : {"--nothing-like-this", "--no", "--polyph=98", "-y", "--version=1"})
        EXPECT_EXIT(raw_words({w}), ::testing::ExitedWithCode(1), "Could not understand option : try --help")
            << w;
    EXPECT_EXIT(set_engine_opt_long(300, nullptr), ::testing::KilledBySignal(SIGABRT),
                "\\[BUG\\] Inconceivable case branch 300");
    // Help and version end it with status 0.
    EXPECT_EXIT(raw_words({"--help"}), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(set_engine_opt_short('v', ""), ::testing::ExitedWithCode(0), "");
}

}  // namespace
