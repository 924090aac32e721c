// Songs played in-process through the whole engine with looped sine patches, then measured.
#include "synth/config/config_fixture.h"
#include "synth/instrum/instrum_test_support.h"
#include "synth/play/player_fixture.h"
#include "tools/song_analysis.h"

#include "instrum/instrument_policy.h"

namespace {

using namespace songtest;

const int kRate = 44100;
const double kMelodic60 = 261.6256;  // Hz
const uint32_t kSecond = 960;        // ticks

// Half a second of a 441 Hz sine at half scale, its last 20 cycles looped.
std::string sine_patch()
{
    const size_t n = 22050;
    TestSample s = looped16(n, n - 2000, n);
    for (size_t i = 0; i < n; i++)
        put_le(s.data, 2 * i, (uint16_t)(int16_t)std::lround(16000 * std::sin(2 * M_PI * i / 100.0)), 2);
    s.root_freq = 441000;
    return build_patch(patch_of({s}));
}

// The output, channel by channel, at full scale 1; pitch and level over [from, to) seconds.
struct Take {
    std::vector<float> left, right;
    double pitch(double from, double to) const { return frequency(left, kRate, from, to); }
    double level(double from, double to) const { return rms_db(left, kRate, from, to); }
};

Bytes cc(int ch, int c, int v) { return {(uint8_t)(0xB0 | ch), (uint8_t)c, (uint8_t)v}; }
Bytes program(int ch, int p) { return {(uint8_t)(0xC0 | ch), (uint8_t)p}; }

// Half a second of key 60 on the channel from the second `at`.
void note_at(std::vector<TimedBytes>& song, double at, int ch)
{
    add_notes(song, {{(uint32_t)(at * kSecond), kSecond / 2, ch, 60, 100}});
}

class SongFidelity : public SongPlayback {
protected:
    Restore<int> reverb_{opt_reverb_control, 0}, chorus_{opt_chorus_control, 0};  // dry sines measure cleanly
    Restore<int> unload_{free_instruments_afterwards, 0}, compensation_{opt_amp_compensation};
    // Programs 0 and 1 (note 67), bank 1 program 0 (note 67), drum 60 of set 0 (note 72).
    void SetUp() override
    {
        SongPlayback::SetUp();
        reset_configuration_state();
        dir.write("sine.pat", sine_patch());
        ReadResult r = read_config_text("dir " + dir.path() + "\nbank 0\n0 sine.pat\n1 sine.pat note=67\n" +
                                        "bank 1\n0 sine.pat note=67\ndrumset 0\n60 sine.pat note=72\n");
        ASSERT_EQ(r.status, 0) << r.messages;
    }
    void TearDown() override
    {
        free_instruments(0);
        reset_configuration_state();
        SongPlayback::TearDown();
    }
    Take play(const std::vector<TimedBytes>& events, const std::string& name = "song.mid")
    {
        fake_output() = FakeOutput();
        EXPECT_EQ(SongPlayback::play(name, smf_format0(events, 480)), RC_TUNE_END) << messages;
        Take t;
        for (int side = 0; side < 2; side++)
            for (int32 x : side_of(recorded(), side))
                (side ? t.right : t.left).push_back(x / 32768.0f);
        return t;
    }
};

// A note on the second part, "use for rhythm part" at 1 s, the same key at 2 s, the drum at 3 s.
std::vector<TimedBytes> rhythm_part_song()
{
    std::vector<TimedBytes> song = {{0, gs_reset()}, {0, program(1, 0)}};
    note_at(song, 0, 1);
    song.push_back({kSecond, gs_sysex(0x40, 0x12, 0x15, {0x01})});
    note_at(song, 2, 1);
    note_at(song, 3, 9);
    return song;
}

// Before the rhythm-part message the part plays at the melodic pitch, after it at the drum's;
// playing the song again, or seeking back to its start, begins melodic again.
TEST_F(SongFidelity, APartBecomesARhythmPartOnlyWhenTheSongSaysSo)
{
    for (int pass = 0; pass < 2; pass++) {
        Take t = play(rhythm_part_song());
        const double drum = t.pitch(3.02, 3.1);
        EXPECT_GT(std::fabs(cents(drum, kMelodic60)), 100);
        EXPECT_NEAR(cents(t.pitch(0.05, 0.45), kMelodic60), 0, 3) << "pass " << pass;
        EXPECT_NEAR(cents(t.pitch(2.02, 2.1), drum), 0, 3) << "pass " << pass;
    }
    // Seek: when the drum note arrives, go back to the start.
    static int32 replay_at;
    replay_at = -1;
    set_qevent([](MidiEvent* ev) {
        if (replay_at < 0 && ev->type == ME_NOTEON && current_sample > kRate) {
            replay_at = fake_output().frames();
            skip_to(0);
            midi_restart_time = 0;  // the loop plays the first event next
        }
    });
    Take t = play(rhythm_part_song());
    ASSERT_GT(replay_at, 0);
    const double at = (double)replay_at / kRate;
    EXPECT_NEAR(cents(t.pitch(at + 0.05, at + 0.45), kMelodic60), 0, 3);
    EXPECT_NEAR(cents(t.pitch(at + 2.02, at + 2.1), t.pitch(at + 3.02, at + 3.1)), 0, 3);
}

// Master key shift, transpose and tune move a melodic note's pitch; key shift and transpose
// leave the drum part alone, the tune moves every part. XG master volume lowers the level.
TEST_F(SongFidelity, MasterSettingsOfBothModulesTakeEffect)
{
    // The cents the melodic and the drum note move, and the change of level in dB.
    const struct { const char* what; Bytes reset, message; double melodic, drum, db; } cases[] = {
        {"GS: nothing", gs_reset(), {}, 0, 0, 0},
        {"GS key shift +5", gs_reset(), gs_sysex(0x40, 0x00, 0x05, {0x45}), 500, 0, 0},
        {"GS key shift -24", gs_reset(), gs_sysex(0x40, 0x00, 0x05, {0x28}), -2400, 0, 0},
        {"GS tune +50.0", gs_reset(), gs_sysex(0x40, 0x00, 0x00, {0x00, 0x05, 0x0F, 0x04}), 50, 50, 0},
        {"XG: nothing", xg_system_on(), {}, 0, 0, 0},
        {"XG transpose -5", xg_system_on(), xg_sysex(0x00, 0x00, 0x06, {0x3B}), -500, 0, 0},
        {"XG tune -80.0", xg_system_on(), xg_sysex(0x00, 0x00, 0x00, {0x00, 0x00, 0x0E, 0x00}), -80, -80, 0},
        {"XG volume 64", xg_system_on(), xg_sysex(0x00, 0x00, 0x04, {0x40}), 0, 0, -5.9526},  // 33025 / 65535
    };
    double reference_db = 0, reference_drum = 0;
    for (const auto& c : cases) {
        std::vector<TimedBytes> song = {{0, c.reset}, {0, c.message}, {0, program(0, 0)}};
        if (c.message.empty())
            song.erase(song.begin() + 1);
        note_at(song, 0, 0);
        note_at(song, 1, 9);
        Take t = play(song);
        // The drum's sample plays once, for about a tenth of a second.
        const double drum = t.pitch(1.02, 1.1), db = t.level(0.1, 0.4);
        if (c.message.empty())  // the module's reference
            reference_db = db, reference_drum = drum;
        EXPECT_NEAR(cents(t.pitch(0.05, 0.45), kMelodic60), c.melodic, 3) << c.what;
        EXPECT_NEAR(cents(drum, reference_drum), c.drum, 3) << c.what;
        EXPECT_NEAR(db - reference_db, c.db, 0.3) << c.what;
    }
}

TEST_F(SongFidelity, AReceiveSwitchTurnedOffStopsItsMessageOnThatPartOnly)
{
    enum Measure { PITCH, LEVEL, RIGHT_LEVEL };
    auto gs_rx = [](uint8_t addr) { return gs_sysex(0x40, 0x11, addr, {0x00}); };
    // off: the first part's switch turned off; sent: to the first two parts; silent: it is mute.
    const struct { const char* what; Bytes off; std::vector<Bytes> sent; Measure m; bool silent; }
        cases[] = {
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
        return m == PITCH ? t.pitch(at + 0.05, at + 0.45)
                          : rms_db(m == LEVEL ? t.left : t.right, kRate, at + 0.1, at + 0.4);
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
        note_at(song, 0, 0);
        note_at(song, 1, 1);
        song.push_back({2 * kSecond, cc(0, 7, 100)});
        return song;
    };
    for (const auto& c : cases) {
        const bool pitch = c.m == PITCH;
        auto same = [pitch](double x, double y) {
            return pitch ? std::fabs(cents(x, y)) < 3 : std::fabs(x - y) < 0.5 || (x < -60 && y < -60);
        };
        const double base = measure(play(song_with({}, {}), "plain.mid"), c.m, 0);
        const double obeyed = measure(play(song_with({}, c.sent), "obeyed.mid"), c.m, 1);
        Take t = play(song_with(c.off, c.sent));
        const double part0 = measure(t, c.m, 0), part1 = measure(t, c.m, 1);
        if (c.silent)
            EXPECT_LT(part0, base - 40) << c.what;
        else
            EXPECT_TRUE(same(part0, base)) << c.what << ": " << part0 << " vs " << base;
        // The second part obeys the message, as both parts do in a song without the switch.
        EXPECT_TRUE(same(part1, obeyed)) << c.what;
        EXPECT_TRUE(c.silent || !same(part1, base)) << c.what << ": the message changes nothing";
    }
}

TEST_F(SongFidelity, APatchMendedBetweenSongsIsLoadedForTheNext)
{
    ReadResult r = read_config_text("dir " + dir.path() + "\nbank 0\n0 piano.pat\n");
    ASSERT_EQ(r.status, 0) << r.messages;
    std::vector<TimedBytes> song = {{0, program(0, 0)}};
    note_at(song, 0, 0);
    EXPECT_LT(play(song).level(0.1, 0.4), -60) << "nothing to play the note with";
    dir.write("piano.pat", sine_patch());
    EXPECT_NEAR(cents(play(song).pitch(0.05, 0.45), kMelodic60), 0, 3);
    EXPECT_EQ(messages.find("Couldn't load instrument"), std::string::npos) << messages;
}

// Amplitude compensation raises the output by (127 / the song's loudest channel volume)^4.
TEST_F(SongFidelity, ThePreScanCompensatesForTheLoudestChannelVolume)
{
    // The volume of channel 1 (-1: none) and the raise, 80 log10(127 / loudest).
    const struct { int volume1; double raise_db; } cases[] = {{-1, 8.3043}, {120, 1.9698}, {127, 0}};
    for (const auto& c : cases) {
        // A low expression keeps the raised voice below the largest voice gain.
        std::vector<TimedBytes> song = {{0, cc(0, 7, 100)}, {0, cc(0, 11, 40)}, {0, program(0, 0)}};
        if (c.volume1 >= 0)
            song.insert(song.begin(), {0, cc(1, 7, c.volume1)});
        note_at(song, 0, 0);
        opt_amp_compensation = 0;
        const double plain = play(song).level(0.1, 0.4);
        opt_amp_compensation = 1;
        EXPECT_NEAR(play(song).level(0.1, 0.4) - plain, c.raise_db, 0.2) << c.volume1;
    }
}

}  // namespace
