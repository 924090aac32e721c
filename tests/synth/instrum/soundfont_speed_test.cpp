// The resample cache on SoundFont notes: a long sample is cached only as far as the song's
// notes and releases reach, and a voice that outlives that start (held by the pedal) goes on
// in the source sample without a gap, a click or a change of level or pitch; both halves of a
// stereo pair are cached.
#include <gtest/gtest.h>

#include "instrum/sf2_reader.h"
#include "support/sf2_writer.h"
#include "tools/song_analysis.h"

using namespace songtest;

namespace {

// Unlooped 3 s sines: 441 Hz, and a stereo pair of 441 Hz (left) and 882 Hz (right); key 69,
// a release of 0.25 s.
std::string long_sine_font()
{
    Sf2FontDef f;
    auto sine = [](const char* name, double period) {
        Sf2SampleDef s;
        s.name = name;
        s.data = sf2_sine(3 * 44100, period);
        s.root = 69;
        return s;
    };
    Sf2SampleDef left = sine("left", 100), right = sine("right", 50);
    left.type = 4, left.link = 2, right.type = 2, right.link = 1;
    f.samples = {sine("mono", 100), left, right};
    const Sf2Gen release = {SF2_VOLENV_RELEASE, -2400};
    f.instruments = {{"mono", {{{release}, 0}}},
                     {"stereo", {{{release, {SF2_PAN, -500}}, 1}, {{release, {SF2_PAN, 500}}, 2}}}};
    f.presets = {{"mono", 0, 0, {{{}, 0}}}, {"stereo", 1, 0, {{{}, 1}}}};
    return build_sf2(f);
}

}  // namespace

TEST(SoundFontCache, AVoicePastItsCachedStartGoesOnInTheSource)
{
    TempDir dir, scratch;
    const std::string font = dir.write("long.sf2", long_sine_font());
    const std::string cfg = dir.write("sf.cfg", "soundfont " + font + "\n");
    // Key 72 on the mono preset twice: 0.2 s alone, then 0.2 s with the pedal down until 2.7 s,
    // so the second note sounds far past what the pre-scan counted. The stereo pair twice on
    // key 72 from 3 s.
    const uint32_t s = 960;  // ticks per second
    std::vector<TimedBytes> ev = {{0, {0xC0, 0}}, {0, {0xC1, 1}}};
    auto note = [&](int ch, double on, double off) {
        ev.push_back({(uint32_t)(on * s), {(uint8_t)(0x90 | ch), 72, 127}});
        ev.push_back({(uint32_t)(off * s), {(uint8_t)(0x80 | ch), 72, 0}});
    };
    note(0, 0, 0.2);
    ev.push_back({(uint32_t)(0.5 * s), {0xB0, 64, 127}});
    note(0, 0.5, 0.7);
    ev.push_back({(uint32_t)(2.7 * s), {0xB0, 64, 0}});
    note(1, 3.0, 3.2);
    note(1, 3.5, 3.7);
    std::stable_sort(ev.begin(), ev.end(),
                     [](const TimedBytes& a, const TimedBytes& b) { return a.tick < b.tick; });
    dir.write("long.mid", smf_format0(ev, 480, 960));

    const double f = 441 * std::pow(2, 3 / 12.0);
    std::vector<float> ref;
    for (const char* cache : {"-S 0", "-S 2m"}) {
        SCOPED_TRACE(cache);
        ToolRun r = run_tool(dir.path(),
                             "-c '" + cfg + "' -idvv " + cache +
                                 " --reverb=0 --chorus=0 -o out.wav long.mid",
                             scratch);
        ASSERT_EQ(r.status, 0) << r.err;
        const Wave w = read_wave(dir.file("out.wav"));
        ASSERT_GT(w.seconds(), 3.5);
        const std::vector<float> m = w.mono();
        const int sr = w.rate;
        // The held note keeps its pitch (the pedal lets it fade) ...
        EXPECT_GT(rms_db(m, sr, 0.6, 0.7), -30);
        EXPECT_NEAR(1200 * std::log2(frequency(m, sr, 1.0, 1.4) / f), 0, 3);
        float peak = 0, jump = 0;
        for (size_t i = (size_t)(0.6 * sr); i < (size_t)(2.6 * sr); i++) {
            peak = std::max(peak, std::abs(m[i]));
            jump = std::max(jump, std::abs(m[i] - m[i - 1]));
        }
        // ... and moves no faster than its sine does.
        EXPECT_LT(jump, peak * 2 * M_PI * f / sr * 1.2);
        if (ref.empty()) {
            ref = m;
            continue;
        }
        // Cached or not, the note fades alike (it leaves the cache about 0.4 s after it
        // starts), and every note of the song is cached: both halves of the stereo pair as
        // well as the mono sample.
        for (double t = 0.6; t < 2.6; t += 0.25)
            EXPECT_NEAR(rms_db(m, sr, t, t + 0.25), rms_db(ref, sr, t, t + 0.25), 0.3) << t << " s";
        EXPECT_NE(r.err.find("Resample cache: Key 3/3"), std::string::npos) << r.err;
    }
}
