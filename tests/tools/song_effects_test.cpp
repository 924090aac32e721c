// Effects heard in what corvelle-render writes. Two runs over the same small songs, one with the
// effects and one with --reverb=0 --chorus=0: a short note through the reverb leaves a tail that
// lasts longer with the GS reverb time under every reverb macro; a steady tone through the GS or
// XG chorus beats against its moving copy, and not with the XG "no effect" chorus.
#include "song_analysis.h"

using namespace songtest;

namespace {

const uint32_t tick_rate = 960;  // ticks per second of the written songs (480 per quarter, 120 bpm)

// A wood block struck once with full reverb send and no chorus, after the system messages in
// `song`. A silent note on channel 1 after seven seconds keeps the song going, so that the
// reverb rings out instead of ending with the last voice.
std::string short_note_song(std::vector<TimedBytes> song)
{
    song.insert(song.end(), {{0, {0xC0, 115}}, {0, {0xB0, 0x5B, 0x7F}}, {0, {0xB0, 0x5D, 0x00}},
                             {0, {0xB0, 0x07, 0x7F}}, {0, {0xB1, 0x07, 0x00}}, {10, {0x90, 60, 127}},
                             {58, {0x80, 60, 64}}, {10 + 7 * tick_rate, {0x91, 60, 1}},
                             {20 + 7 * tick_rate, {0x81, 60, 64}}});
    return smf_format0(song);
}

// Four seconds of A4 on a drawbar organ (a steady tone) with full chorus send and no reverb.
std::string steady_tone_song(std::vector<TimedBytes> song)
{
    song.insert(song.end(), {{0, {0xC0, 16}}, {0, {0xB0, 0x5B, 0x00}}, {0, {0xB0, 0x5D, 0x7F}},
                             {10, {0x90, 69, 100}}, {10 + 4 * tick_rate, {0x80, 69, 64}}});
    return smf_format0(song);
}

// The loudest over the quietest 50 ms RMS of the steady part (0.5 s to 3.5 s).
double beating(const Wave& w)
{
    const std::vector<float> m = w.mono();
    if (w.rate == 0 || m.size() < (size_t)(7 * w.rate / 2))
        return 0;
    const std::vector<float> steady(m.begin() + w.rate / 2, m.begin() + 7 * w.rate / 2);
    const std::vector<double> r = window_rms(steady, (size_t)w.rate / 20);
    return *std::max_element(r.begin(), r.end()) / std::max(*std::min_element(r.begin(), r.end()), 1e-9);
}

// Seconds from the loudest 10 ms window of x until the level stays more than 30 dB below it;
// -1 when it never falls that far.
double decay_seconds(const std::vector<float>& x, int rate)
{
    const std::vector<double> rms = window_rms(x, (size_t)rate / 100);
    if (rms.empty())
        return -1;
    const size_t peak = std::max_element(rms.begin(), rms.end()) - rms.begin();
    size_t last = peak;
    for (size_t k = peak; k < rms.size(); k++)
        if (to_db(rms[k]) > to_db(rms[peak]) - 30)
            last = k;
    return last + 1 < rms.size() ? (double)(last + 1 - peak) / 100 : -1;
}

// The loudest of the 10 ms windows [from, to) of x, in dB.
double max_db(const std::vector<float>& x, int rate, size_t from, size_t to)
{
    const std::vector<double> rms = window_rms(x, (size_t)rate / 100);
    EXPECT_GE(rms.size(), to);
    to = std::min(to, rms.size());
    return from < to ? to_db(*std::max_element(rms.begin() + from, rms.begin() + to)) : -300;
}

}  // namespace

using SongEffects = SongToolTest;

TEST_F(SongEffects, ReverbTailsAndChorusBeatsOnlyWithTheEffects)
{
    // Macros 0 to 4 (Room 1 to 3, Hall 1 and 2, all of the comb-and-allpass kind), each with
    // three reverb times; and the power-on reverb.
    const int times[3] = {40, 80, 96};
    auto name = [](int macro, int time) { return "m" + std::to_string(macro) + "t" + std::to_string(time); };
    for (int m = 0; m <= 4; m++)
        for (int t : times)
            dir.write(name(m, t) + ".mid", short_note_song({{0, gs_reset()},
                                                            {0, gs_sysex(0x40, 0x01, 0x30, {(uint8_t)m})},
                                                            {0, gs_sysex(0x40, 0x01, 0x34, {(uint8_t)t})}}));
    dir.write("plain.mid", short_note_song({{0, gs_reset()}}));
    dir.write("gs.mid", steady_tone_song({{0, gs_reset()}}));
    dir.write("xg.mid", steady_tone_song({{0, xg_system_on()}}));  // XG Chorus 1 at power-on
    dir.write("xg_none.mid",
              steady_tone_song({{0, xg_system_on()}, {0, xg_sysex(0x02, 0x01, 0x20, {0x00, 0x00})}}));
    const std::string dry_dir = dir.mkdir("dry");
    ToolRun r = render("*.mid");
    ASSERT_EQ(r.status, 0) << r.err;
    r = run_tool(dry_dir, "-c '" + config + "' --reverb=0 --chorus=0 ../*.mid", scratch);
    ASSERT_EQ(r.status, 0) << r.err;
    auto wet_and_dry = [&](const std::string& n) {
        return std::make_pair(read_wave(dir.file(n + ".wav")), read_wave(dry_dir + "/" + n + ".wav"));
    };

    // Seconds for the reverb's answer (the render with it less the one without) to fall 30 dB.
    double d[5][3];
    for (int m = 0; m <= 4; m++) {
        for (int k = 0; k < 3; k++) {
            const auto w = wet_and_dry(name(m, times[k]));
            std::vector<float> answer = w.first.mono(), without = w.second.mono();
            // The song ends when its reverb has died: later with the reverb than without.
            EXPECT_GE(answer.size(), without.size()) << name(m, times[k]);
            without.resize(answer.size());
            answer.resize(std::min(answer.size(), (size_t)w.first.rate * 7));  // before the silent note
            for (size_t i = 0; i < answer.size(); i++)
                answer[i] -= without[i];
            d[m][k] = decay_seconds(answer, w.first.rate);
            EXPECT_GT(d[m][k], 0.1) << name(m, times[k]);
        }
        EXPECT_GT(d[m][1], 1.15 * d[m][0]) << "macro " << m;
        EXPECT_GT(d[m][2], 1.15 * d[m][1]) << "macro " << m;
    }
    // At one reverb time the characters' own times set the order: Room 1, Room 3, Hall 1, Hall 2.
    for (int k = 1; k < 3; k++) {
        EXPECT_LT(d[0][k], d[2][k]) << times[k];
        EXPECT_LT(d[2][k], d[3][k]) << times[k];
        EXPECT_LT(d[3][k], d[4][k]) << times[k];
    }

    // The power-on reverb: after half a second the block has died away without reverb, and
    // with it the tail is still well above that and falling.
    const auto plain = wet_and_dry("plain");
    const int rate = plain.first.rate;
    EXPECT_LT(max_db(plain.second.mono(), rate, 50, 700), -75.0);
    EXPECT_GT(max_db(plain.first.mono(), rate, 50, 60), -55.0);
    EXPECT_GT(max_db(plain.first.mono(), rate, 50, 60), max_db(plain.first.mono(), rate, 200, 210) + 20.0);

    // The delayed copy of the chorus moves slowly against the tone: the level rises and falls.
    // Without chorus, or with the XG chorus type set to no effect, the tone stays steady.
    EXPECT_GT(beating(wet_and_dry("gs").first), 1.3);
    EXPECT_GT(beating(wet_and_dry("xg").first), 1.3);
    EXPECT_LT(beating(wet_and_dry("gs").second), 1.1);
    EXPECT_LT(beating(wet_and_dry("xg_none").first), 1.1);
}
