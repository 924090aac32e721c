// Songs written here, played in-process through the whole engine with looped sine patches,
// and measured from the output.
#include <cmath>
#include <functional>

#include "synth/config/config_fixture.h"
#include "synth/instrum/instrum_test_support.h"
#include "synth/play/player_fixture.h"
#include "tools/song_analysis.h"

#include "frontend/options.h"
#include "instrum/instrument_policy.h"

namespace {

using songtest::Bytes;
using songtest::gs_reset;
using songtest::gs_sysex;
using songtest::smf_format0;
using songtest::TimedBytes;
using songtest::xg_sysex;
using songtest::xg_system_on;

const double kRate = 44100;
const double kMelodic60 = 261.6256;  // Hz

// Half a second of a 441 Hz sine at half scale, its last 20 cycles looped.
std::string sine_patch()
{
    TestSample s;
    const size_t n = 22050;
    s.data.assign(n * 2, '\0');
    for (size_t i = 0; i < n; i++)
        put_le(s.data, 2 * i, (uint16_t)(int16_t)std::lround(16000 * std::sin(2 * M_PI * i / 100.0)), 2);
    s.loop_start = (uint32_t)(n - 2000) * 2;
    s.loop_end = (uint32_t)n * 2;
    s.root_freq = 441000;
    s.modes = MODES_16BIT | MODES_LOOPING | MODES_SUSTAIN | MODES_ENVELOPE;
    TestPatch p;
    p.samples.push_back(s);
    return build_patch(p);
}

// Frequency from the first and last rising zero crossings (interpolated) of x[from, to).
double crossing_pitch(const std::vector<int32>& x, size_t from, size_t to)
{
    double first = -1, last = -1;
    int n = 0;
    for (size_t i = from + 1; i < std::min(to, x.size()); i++)
        if (x[i - 1] < 0 && x[i] >= 0) {
            last = (double)(i - 1) + (double)-x[i - 1] / (x[i] - x[i - 1]);
            if (n++ == 0)
                first = last;
        }
    return n > 1 ? (n - 1) * kRate / (last - first) : 0.0;
}

struct Take {
    std::vector<int32> left, right;
    // Frequency from zero crossings in [from, to) seconds of the left channel.
    double pitch(double from, double to) const
    {
        return crossing_pitch(left, (size_t)(from * kRate), (size_t)(to * kRate));
    }
    // RMS level in dB (full scale 32768) of one channel over [from, to) seconds.
    static double level(const std::vector<int32>& x, double from, double to)
    {
        double e = 0;
        size_t a = (size_t)(from * kRate), b = std::min(x.size(), (size_t)(to * kRate));
        for (size_t i = a; i < b; i++)
            e += (double)x[i] * x[i];
        return songtest::to_db(b > a ? std::sqrt(e / (double)(b - a)) / 32768.0 : 0.0);
    }
    double level(double from, double to) const { return level(left, from, to); }
    double right_level(double from, double to) const { return level(right, from, to); }
};

Take take_recording()
{
    Take t;
    const std::vector<char>& d = recording().data;
    for (size_t i = 0; i + 3 < d.size(); i += 4) {
        t.left.push_back((int16_t)(uint16_t)((uint8_t)d[i] | (uint8_t)d[i + 1] << 8));
        t.right.push_back((int16_t)(uint16_t)((uint8_t)d[i + 2] | (uint8_t)d[i + 3] << 8));
    }
    return t;
}

double cents_off(double f, double want)
{
    return f > 0 ? 1200.0 * std::log2(f / want) : 1e9;
}

Bytes on(int ch, int key) { return {(uint8_t)(0x90 | ch), (uint8_t)key, 100}; }
Bytes off(int ch, int key) { return {(uint8_t)(0x80 | ch), (uint8_t)key, 0}; }
Bytes cc(int ch, int c, int v) { return {(uint8_t)(0xB0 | ch), (uint8_t)c, (uint8_t)v}; }
Bytes program(int ch, int p) { return {(uint8_t)(0xC0 | ch), (uint8_t)p}; }

// 960 ticks a second; the song starts with its first note at tick 0.
const uint32_t kSecond = 960;

class SongFidelity : public PlayerTest {
protected:
    TempDir dir;
    int saved_reverb = 0, saved_chorus = 0, saved_free = 0;
    void SetUp() override
    {
        PlayerTest::SetUp();
        reset_configuration_state();
        saved_reverb = opt_reverb_control;
        saved_chorus = opt_chorus_control;
        saved_free = free_instruments_afterwards;
        opt_reverb_control = opt_chorus_control = 0;  // dry sines measure cleanly
        free_instruments_afterwards = 0;
        dir.write("sine.pat", sine_patch());
    }
    void TearDown() override
    {
        free_instruments(0);
        reset_configuration_state();
        opt_reverb_control = saved_reverb;
        opt_chorus_control = saved_chorus;
        free_instruments_afterwards = saved_free;
        PlayerTest::TearDown();
    }
    // Programs 0 (note as played) and 1 (fixed note 67), bank 1 program 0 (fixed note 67),
    // and drum 60 of set 0 (fixed note 72).
    void configure()
    {
        ReadResult r = read_config_text("dir " + dir.path() + "\nbank 0\n0 sine.pat\n1 sine.pat note=67\n" +
                                        "bank 1\n0 sine.pat note=67\ndrumset 0\n60 sine.pat note=72\n");
        ASSERT_EQ(r.status, 0) << r.messages;
    }
    Take play(const std::vector<TimedBytes>& events, const std::string& name = "song.mid")
    {
        std::string path = dir.write(name, smf_format0(events, 480));
        recording() = Recording();
        testing::internal::CaptureStderr();
        int rc = play_midi_file(path.c_str());
        messages = testing::internal::GetCapturedStderr();
        EXPECT_EQ(rc, RC_TUNE_END) << messages;
        return take_recording();
    }
    std::string messages;
};

// A melodic note on the second part, "use for rhythm part" two seconds later, the same key again.
std::vector<TimedBytes> rhythm_part_song()
{
    return {{0, gs_reset()},
            {0, program(1, 0)},
            {0, on(1, 60)},
            {kSecond / 2, off(1, 60)},
            {kSecond, gs_sysex(0x40, 0x12, 0x15, {0x01})},
            {2 * kSecond, on(1, 60)},
            {2 * kSecond + kSecond / 2, off(1, 60)},
            {3 * kSecond, on(9, 60)},
            {3 * kSecond + kSecond / 2, off(9, 60)}};
}

// The part plays as the kind it is at each note: before the rhythm-part message at the
// melodic pitch, after it at the drum's; playing the song again, and seeking back to its
// start while it plays, begin melodic again.
TEST_F(SongFidelity, APartBecomesARhythmPartOnlyWhenTheSongSaysSo)
{
    configure();
    for (int pass = 0; pass < 2; pass++) {
        Take t = play(rhythm_part_song());
        const double drum = t.pitch(3.02, 3.1);  // the drum, played on the rhythm part
        EXPECT_GT(std::fabs(cents_off(drum, kMelodic60)), 100);
        EXPECT_NEAR(cents_off(t.pitch(0.05, 0.45), kMelodic60), 0, 3) << "pass " << pass;
        EXPECT_NEAR(cents_off(t.pitch(2.02, 2.1), drum), 0, 3) << "pass " << pass;
    }

    // Seek: when the drum note arrives, go back to the start.
    static int32 replay_at;
    replay_at = -1;
    set_qevent([](MidiEvent* ev) {
        if (replay_at < 0 && ev->type == ME_NOTEON && current_sample > (int32)kRate) {
            replay_at = recording().frames();
            skip_to(0);
            midi_restart_time = 0;  // the loop plays the first event next
        }
    });
    Take t = play(rhythm_part_song());
    ASSERT_GT(replay_at, 0);
    const double at = replay_at / kRate;
    EXPECT_NEAR(cents_off(t.pitch(at + 0.05, at + 0.45), kMelodic60), 0, 3);
    EXPECT_NEAR(cents_off(t.pitch(at + 2.02, at + 2.1), t.pitch(at + 3.02, at + 3.1)), 0, 3);
}

// Master key shift, transpose and tune move the pitch of a melodic note by what they ask;
// key shift and transpose leave the drum part alone, the tune moves every part. XG master
// volume lowers the level as the GS master volume does.
TEST_F(SongFidelity, MasterSettingsOfBothModulesTakeEffect)
{
    configure();
    struct Case {
        const char* what;
        Bytes reset, message;
        double melodic_cents, drum_cents, level_db;
    };
    const double xg_half = 20 * std::log10(33025.0 / 65535.0);  // volume byte 64
    const Case cases[] = {
        {"GS: nothing", gs_reset(), {}, 0, 0, 0},
        {"GS key shift +5", gs_reset(), gs_sysex(0x40, 0x00, 0x05, {0x45}), 500, 0, 0},
        {"GS key shift -24", gs_reset(), gs_sysex(0x40, 0x00, 0x05, {0x28}), -2400, 0, 0},
        {"GS tune +50.0", gs_reset(), gs_sysex(0x40, 0x00, 0x00, {0x00, 0x05, 0x0F, 0x04}), 50, 50, 0},
        {"XG: nothing", xg_system_on(), {}, 0, 0, 0},
        {"XG transpose -5", xg_system_on(), xg_sysex(0x00, 0x00, 0x06, {0x3B}), -500, 0, 0},
        {"XG tune -80.0", xg_system_on(), xg_sysex(0x00, 0x00, 0x00, {0x00, 0x00, 0x0E, 0x00}), -80, -80, 0},
        {"XG volume 64", xg_system_on(), xg_sysex(0x00, 0x00, 0x04, {0x40}), 0, 0, xg_half},
    };
    double reference_db = 0, reference_drum = 0;
    for (const Case& c : cases) {
        std::vector<TimedBytes> song = {{0, c.reset}};
        if (!c.message.empty())
            song.push_back({0, c.message});
        song.insert(song.end(), {{0, program(0, 0)},
                                 {0, on(0, 60)},
                                 {kSecond / 2, off(0, 60)},
                                 {kSecond, on(9, 60)},
                                 {kSecond + kSecond / 2, off(9, 60)}});
        Take t = play(song);
        // The drum's sample plays once, for about a tenth of a second.
        const double drum = t.pitch(1.02, 1.1), db = t.level(0.1, 0.4);
        if (c.message.empty()) {  // the module's reference
            reference_db = db;
            reference_drum = drum;
        }
        const double melodic = kMelodic60 * std::pow(2.0, c.melodic_cents / 1200);
        EXPECT_NEAR(cents_off(t.pitch(0.05, 0.45), melodic), 0, 3) << c.what;
        EXPECT_NEAR(cents_off(drum, reference_drum), c.drum_cents, 3) << c.what;
        EXPECT_NEAR(db - reference_db, c.level_db, 0.3) << c.what;
    }
}

// A part whose receive switch is off ignores the message that switch names; the part beside
// it, which receives everything, obeys it.
TEST_F(SongFidelity, AReceiveSwitchTurnedOffStopsItsMessageOnThatPartOnly)
{
    configure();
    enum Measure { PITCH, LEVEL, RIGHT_LEVEL };
    struct Case {
        const char* what;
        Bytes switch_off;              // for the first part
        std::vector<Bytes> messages;   // sent to parts 0 and 1 (channel byte patched)
        Measure measure;
        bool silent;  // the first part then plays nothing (note messages), else as without the message
    };
    auto gs_rx = [](uint8_t addr) { return gs_sysex(0x40, 0x11, addr, {0x00}); };
    const Case cases[] = {
        {"note message", gs_rx(0x08), {}, LEVEL, true},
        {"XG note message", xg_sysex(0x08, 0x00, 0x35, {0x00}), {}, LEVEL, true},
        {"pitch bend", gs_rx(0x03), {{0xE0, 0x7F, 0x7F}}, PITCH, false},
        {"program change", gs_rx(0x05), {program(0, 1)}, PITCH, false},
        {"control change", gs_rx(0x06), {cc(0, 7, 30)}, LEVEL, false},
        {"volume", gs_rx(0x0C), {cc(0, 7, 30)}, LEVEL, false},
        {"expression", gs_rx(0x0E), {cc(0, 11, 30)}, LEVEL, false},
        {"panpot", gs_rx(0x0D), {cc(0, 10, 0)}, RIGHT_LEVEL, false},
        {"bank select", gs_rx(0x23), {cc(0, 0, 1), program(0, 0)}, PITCH, false},
    };
    auto measure = [](const Take& t, Measure m, double at) {
        switch (m) {
        case PITCH: return t.pitch(at + 0.05, at + 0.45);
        case LEVEL: return t.level(at + 0.1, at + 0.4);
        default: return t.right_level(at + 0.1, at + 0.4);
        }
    };
    auto song_with = [](const Bytes& switch_off, const std::vector<Bytes>& messages) {
        std::vector<TimedBytes> song = {{0, gs_reset()}};
        if (!switch_off.empty())
            song.push_back({0, switch_off});
        for (int ch = 0; ch < 2; ch++) {
            song.push_back({0, program(ch, 0)});
            for (Bytes m : messages) {
                m[0] = (uint8_t)((m[0] & 0xF0) | ch);
                song.push_back({0, m});
            }
        }
        song.insert(song.end(), {{0, on(0, 60)},
                                 {kSecond / 2, off(0, 60)},
                                 {kSecond, on(1, 60)},
                                 {kSecond + kSecond / 2, off(1, 60)},
                                 {2 * kSecond, cc(0, 7, 100)}});
        return song;
    };
    for (const Case& c : cases) {
        Take plain = play(song_with({}, {}), "plain.mid");
        Take obeyed = play(song_with({}, c.messages), "obeyed.mid");
        Take t = play(song_with(c.switch_off, c.messages));
        const double base = measure(plain, c.measure, 0);
        const double part0 = measure(t, c.measure, 0), part1 = measure(t, c.measure, 1);
        const bool pitch = c.measure == PITCH;
        auto same = [pitch](double x, double y) {
            if (pitch)
                return std::fabs(cents_off(x, y)) < 3;
            return std::fabs(x - y) < 0.5 || (x < -60 && y < -60);  // or both silent
        };
        if (c.silent) {
            EXPECT_LT(part0, base - 40) << c.what;
        } else {
            EXPECT_TRUE(same(part0, base)) << c.what << ": " << part0 << " vs " << base;
        }
        // The second part obeys the message, as both parts do in a song without the switch.
        EXPECT_TRUE(same(part1, measure(obeyed, c.measure, 1))) << c.what;
        if (!c.silent) {
            EXPECT_FALSE(same(part1, base)) << c.what << ": the message changes nothing";
        }
    }
}

// A patch that could not be loaded for one song is tried again for the next: the user may
// have put it right in between.
TEST_F(SongFidelity, APatchMendedBetweenSongsIsLoadedForTheNext)
{
    ReadResult r = read_config_text("dir " + dir.path() + "\nbank 0\n0 piano.pat\n");
    ASSERT_EQ(r.status, 0) << r.messages;
    const std::vector<TimedBytes> song = {{0, program(0, 0)}, {0, on(0, 60)}, {kSecond / 2, off(0, 60)}};
    EXPECT_LT(play(song).level(0.1, 0.4), -60) << "nothing to play the note with";
    EXPECT_NE(messages.find("Couldn't load instrument piano.pat"), std::string::npos) << messages;

    dir.write("piano.pat", sine_patch());
    EXPECT_NEAR(cents_off(play(song).pitch(0.05, 0.45), kMelodic60), 0, 3);
    EXPECT_EQ(messages.find("Couldn't load instrument"), std::string::npos) << messages;
}

// With amplitude compensation on, the pre-scan finds the loudest channel volume of the song
// (on any channel, sounding or not) and raises the whole output by (127 / loudest)^4.
TEST_F(SongFidelity, ThePreScanCompensatesForTheLoudestChannelVolume)
{
    configure();
    const int saved = opt_amp_compensation;
    struct Case {
        int volume0, volume1;  // -1: no volume on channel 1
        double loudest;
    } cases[] = {{100, -1, 100}, {100, 120, 120}, {100, 127, 127}};
    for (const Case& c : cases) {
        // A low expression keeps the raised voice below the largest voice gain.
        std::vector<TimedBytes> song = {{0, cc(0, 7, c.volume0)},
                                        {0, cc(0, 11, 40)},
                                        {0, program(0, 0)},
                                        {0, on(0, 60)},
                                        {kSecond / 2, off(0, 60)}};
        if (c.volume1 >= 0)
            song.insert(song.begin(), {0, cc(1, 7, c.volume1)});
        opt_amp_compensation = 0;
        const double plain = play(song).level(0.1, 0.4);
        opt_amp_compensation = 1;
        const double raised = play(song).level(0.1, 0.4);
        EXPECT_NEAR(raised - plain, 80 * std::log10(127 / c.loudest), 0.2) << c.volume1;
    }
    opt_amp_compensation = saved;
}

}  // namespace
