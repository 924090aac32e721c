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
    void SetUp() override { ctl->opened = 0, ctl->verbosity = 1; }
    void TearDown() override { clean_up_pathlist(); }
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
    PlayMode* raw = &raw_play_mode;
    Restore encoding(raw->encoding, PE_ULAW | PE_MONO);
    // Rows run in order: each starts from the encoding the one before left.
    const struct { std::vector<std::string> words; int32 encoding; } cases[] = {
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

// Letters and long options reach their variables. Each row starts at verbosity 1; rows run in
// order (the toggles, the channel sets and the temperament mutes build on the rows before).
TEST_F(Options, OptionsReachTheirVariables)
{
    Restore<int> vs(voices, 256), mv(max_voices, 256), quiet(quietchannels, 0), mute(temper_type_mute, 0),
        reduce(auto_reduce_polyphony), fd(fast_decay), ap(adjust_panning_immediately), rt(opt_realtime_playing),
        amp(amplification), drum(opt_drum_power), fragments(opt_buffer_fragments), bits(audio_buffer_bits),
        ratio(control_ratio), opt_ratio(opt_control_ratio), cache(allocate_cache_size),
        curve(opt_user_volume_curve), pure(opt_pure_intonation), again(try_config_again),
        rate(opt_output_rate);
    Restore<uint32> drums(default_drumchannels, (1u << 9) | (1u << 25));
    Restore<int8> keysig(opt_init_keysig);
    Restore<double> tempo(tempo_adjust);
    Restore<char*> instrument(default_instrument_name);
    ScopedEnv home("HOME", "/home/someone");
    const struct { std::vector<std::string> words; std::function<bool()> check; } cases[] = {
        {{"-D-10"}, [] { return default_drumchannels == 1u << 25; }},
        {{"-D16"}, [] { return default_drumchannels == ((1u << 25) | (1u << 15)); }},
        {{"-D0"}, [] { return default_drumchannels == 0xffffffffu; }},
        {{"-Q1,3,32"}, [] { return (uint32)quietchannels == (1u | 4u | 0x80000000u); }},
        {{"-Q-3"}, [] { return (uint32)quietchannels == (1u | 0x80000000u); }},
        {{"-Q0,3t"}, [] { return temper_type_mute == (1 | 8); }},
        {{"-p16644"}, [] { return max_voices == 16644; }},
        {{"-p64a"}, [&] { return voices == 64 && auto_reduce_polyphony == !reduce.saved(); }},
        {{"-pa"}, [&] { return auto_reduce_polyphony == reduce.saved(); }},
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
         [&] {
             return fast_decay != fd.saved() && adjust_panning_immediately != ap.saved() &&
                    opt_realtime_playing != rt.saved();
         }},
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
    def_instr_name[0] = '\0';
}

// Refused values fail with a message; '!' marks those refused silently at verbosity 1 (a level 2
// warning, or an option of another interface). One letter and its value go to its handler.
TEST_F(Options, RefusedValuesFailWithAMessage)
{
    for (const char* w : {"p0", "p16645", "s3000", "D33", "Q40", "Q8t", "Orz", "Oq", "4", "Ix", "gx", "!d",
                          "wR", "wx", "Wx", "iz", "idk", "A801", "A100,900", "B1001", "B,13", "C256", "H8",
                          "K-25", "R5001", "T9", "V-1", "Zpure8", "!y", "!bx", "--drum-power=900",
                          "--default-mid=zz", "--delay=q", "--delay=l,-5", "--chorus=x", "--chorus=1,200",
                          "--voice-lpf=z", "--resample=q", "--noise-shaping=5", "--default-bank=128",
                          "--default-program=128", "--force-program=1/33", "!--interface-path=x",
                          "--spectrogram=x", "--rcpcv-dll=x", "--temper-mute=9"}) {
        const bool silent = w[0] == '!';
        const char* word = w + silent;
        OptRun r = word[0] == '-' ? words({word}) : short_opt(word[0], word + 1);
        EXPECT_EQ(r.result, 1) << word;
        EXPECT_EQ(r.messages.empty(), silent) << word << ": " << r.messages;
    }
    quietchannels = temper_type_mute = 0, ctl->verbosity = 2;
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
    EXPECT_TRUE(freq_table[0] == 1000 && freq_table[127] == 1127);

    // Too few values, or text that is not a number, leave the table as it was.
    dir.write("freq", "1 2 3\n");
    EXPECT_EQ(words({"--freq-table=" + name}).result, 1);
    EXPECT_EQ(freq_table[0], 1000);
    EXPECT_EQ(short_opt('Z', "/no/such/table").messages, "Can't read frequency table /no/such/table\n");
    init_freq_table();
    EXPECT_EQ(freq_table[69], 440000);
}

// What -N sets depends on the resampler in use.
TEST_F(Options, InterpolationFollowsTheResampler)
{
    Restore order(gauss_n), quality(no_4point_interpolation);
    const struct { int resampler; const char* arg; int result; std::function<bool()> check; } cases[] = {
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
