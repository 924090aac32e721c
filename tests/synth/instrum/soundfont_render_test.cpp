// SoundFont instruments as heard through corvelle-render: fonts of sines whose pitch, level and
// channel tell which zone sounded and how, the test songs on the GM font, and modulators.
#include <gtest/gtest.h>

#include <unistd.h>

#include "instrum/sf2_reader.h"
#include "support/sf2_writer.h"
#include "tools/song_analysis.h"

using namespace songtest;

namespace {

struct Note {
    double on, off;  // seconds
    int ch, key, vel;
};

uint32_t tick(double seconds)
{
    return (uint32_t)std::lround(seconds * 960);
}

// A song at 960 ticks per second: program changes at 0, the notes and `extra` events.
std::string song(const std::vector<std::pair<int, int>>& programs, const std::vector<Note>& notes,
                 std::vector<TimedBytes> extra = {})
{
    for (auto [ch, prog] : programs)
        extra.push_back({0, {(uint8_t)(0xC0 | ch), (uint8_t)prog}});
    std::vector<SongNote> ticks;
    for (const Note& n : notes)
        ticks.push_back({tick(n.on), tick(n.off) - tick(n.on), n.ch, n.key, n.vel});
    add_notes(extra, ticks);
    return smf_format0(extra, 480, 960);
}

// Level of the component at hz in [t0, t1), in dB.
double tone_db(const std::vector<float>& x, int rate, double hz, double t0, double t1)
{
    return to_db(tone_amplitude(x, (size_t)(t0 * rate), (size_t)(t1 * rate), hz, rate));
}

// Seconds after t0 at which the 1 ms peak level of x first satisfies `cond` (-1: never).
template <class F>
double first_time(const std::vector<float>& x, int rate, double t0, double t1, F cond)
{
    const size_t win = (size_t)rate / 1000;
    for (size_t i = (size_t)(t0 * rate); i + win <= (size_t)(t1 * rate); i += win) {
        float peak = 0;
        for (size_t k = i; k < i + win; k++)
            peak = std::max(peak, std::abs(x[k]));
        if (cond(peak))
            return (double)(i - (size_t)(t0 * rate)) / rate;
    }
    return -1;
}

// The pitch of m around `ref` Hz in cents, every 5 ms over [t0, t1).
std::vector<double> pitch_track(const std::vector<float>& m, int rate, double t0, double t1,
                                double ref = 441)
{
    std::vector<double> c;
    for (double s = t0; s < t1; s += 0.005)
        c.push_back(cents(frequency(m, rate, s, s + 0.006), ref));
    return c;
}

// Looped sines of 441 Hz (period 100 points), 882 Hz (50) and 2205 Hz (20), a stereo pair
// of the first two, and instruments for each behaviour.
Sf2FontDef test_font()
{
    Sf2FontDef f;
    Sf2SampleDef left = sf2_sine_sample("left", 100), right = sf2_sine_sample("right", 50);
    left.type = 4, left.link = 4, right.type = 2, right.link = 3;
    f.samples = {sf2_sine_sample("441", 100), sf2_sine_sample("882", 50), sf2_sine_sample("2205", 20),
                 left, right};
    const Sf2Gen loop = {SF2_SAMPLE_MODES, 1};
    auto R = sf2_range;
    f.instruments = {
        {"tune", {{{loop}, 0}}},
        {"override", {{{loop, {SF2_ROOT_KEY, 81}, {SF2_COARSE_TUNE, 12}, {SF2_FINE_TUNE, -30}}, 0}}},
        {"scale", {{{loop, {SF2_ROOT_KEY, 60}, {SF2_SCALE_TUNING, 50}}, 0}}},
        {"split", {{{R(SF2_KEY_RANGE, 0, 59), loop}, 0},
                   {{R(SF2_KEY_RANGE, 60, 127), R(SF2_VEL_RANGE, 0, 63), loop, {SF2_FINE_TUNE, 40}}, 0},
                   {{R(SF2_KEY_RANGE, 60, 127), R(SF2_VEL_RANGE, 64, 127), loop, {SF2_FINE_TUNE, -40}}, 0}}},
        // attack 0.1 s, hold 0.1 s, decay 1 s per 100 dB to 20 dB down, release 0.5 s per 100 dB
        {"envelope", {{{loop, {SF2_VOLENV_ATTACK, -3986}, {SF2_VOLENV_HOLD, -3986},
                        {SF2_VOLENV_DECAY, 0}, {SF2_VOLENV_SUSTAIN, 200}, {SF2_VOLENV_RELEASE, -1200}}, 2}}},
        {"quiet", {{{loop, {SF2_ATTENUATION, 60}}, 0}}},
        {"pans", {{{R(SF2_KEY_RANGE, 0, 63), loop, {SF2_PAN, -500}}, 0},
                  {{R(SF2_KEY_RANGE, 64, 127), loop, {SF2_PAN, 500}}, 0}}},
        {"stereo", {{{loop, {SF2_PAN, -500}}, 3}, {{loop, {SF2_PAN, 500}}, 4}}},
        {"loops", {{{{SF2_VOLENV_RELEASE, 0}}, -1},
                   {{R(SF2_KEY_RANGE, 0, 40), {SF2_ROOT_KEY, 40}}, 0},
                   {{R(SF2_KEY_RANGE, 41, 80), {SF2_ROOT_KEY, 60}, loop}, 0},
                   {{R(SF2_KEY_RANGE, 81, 127), {SF2_ROOT_KEY, 100}, {SF2_SAMPLE_MODES, 3}}, 0}}},
        {"vibrato", {{{loop, {SF2_VIBLFO_TO_PITCH, 50}, {SF2_VIBLFO_FREQ, -851}}, 1}}},
        {"kit", {{{{SF2_VOLENV_RELEASE, 0}}, -1},
                 {{R(SF2_KEY_RANGE, 36, 36), loop, {SF2_ROOT_KEY, 36}}, 2},
                 {{R(SF2_KEY_RANGE, 42, 42), loop, {SF2_ROOT_KEY, 42}, {SF2_EXCLUSIVE_CLASS, 1}}, 1},
                 {{R(SF2_KEY_RANGE, 46, 46), loop, {SF2_ROOT_KEY, 46}, {SF2_EXCLUSIVE_CLASS, 1}}, 0}}},
        // Kit 16 of bank 128: its kick is the 441 Hz sine (kit 0's is 2205 Hz).
        {"kit 16", {{{R(SF2_KEY_RANGE, 36, 36), loop, {SF2_ROOT_KEY, 36}}, 0}}},
    };
    for (int i = 0; i < 10; i++)
        f.presets.push_back({f.instruments[i].name, (uint16_t)i, 0, {{{}, i}}});
    f.presets[1].zones[0].gens = {{SF2_FINE_TUNE, 10}};    // added to the instrument's -30
    f.presets[5].zones[0].gens = {{SF2_ATTENUATION, 40}};  // added to the instrument's 60
    f.presets.push_back({"kit", 0, 128, {{{}, 10}}});
    f.presets.push_back({"kit 16", 16, 128, {{{}, 11}}});
    return f;
}

class SoundFontRender : public ::testing::Test {
protected:
    TempDir dir, scratch;
    std::string err;       // of the last run
    std::vector<float> m;  // the last render mixed to mono, and its rate
    int sr = 0;
    // Renders `mid` on the configuration text `cfg` (without effects unless options say).
    Wave render(const std::string& cfg, const std::string& mid,
                const std::string& options = "--reverb=0 --chorus=0")
    {
        const std::string c = dir.write("sf.cfg", cfg);
        ToolRun r = run_tool(dir.path(), "-c '" + c + "' " + options + " -o out.wav '" + mid + "'", scratch);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("No instrument mapped"), std::string::npos) << r.err;
        err = r.err;
        const Wave w = read_wave(dir.file("out.wav"));
        m = w.mono(), sr = w.rate;
        return w;
    }
};

TEST_F(SoundFontRender, GeneratorsAreHeardAsTheFormatDefinesThem)
{
    std::vector<Note> notes;
    double t = 0;  // the player starts at the first note
    // Pitch: three tunings (root, scale, cents), keys 36..96.
    struct Pitched { double on; int ch, key; double expect; };
    std::vector<Pitched> pitched;
    const double tunings[3][3] = {{69, 100, 0}, {81 - 12, 100, -20}, {60, 50, 0}};
    for (int v = 0; v < 3; v++)
        for (int key = 36; key <= 96; key += 6, t += 0.3) {
            notes.push_back({t, t + 0.25, v, key, 127});
            const double* g = tunings[v];
            pitched.push_back({t, v, key, 441 * std::pow(2, ((key - g[0]) * g[1] + g[2]) / 1200)});
        }
    // Zones by key and velocity: 59 in the low zone, 60 by velocity 63/64 in the +40/-40 ones.
    for (auto [key, vel, tune] :
         {std::tuple{59, 100, 0}, {60, 63, 40}, {60, 64, -40}, {72, 40, 40}}) {
        notes.push_back({t, t + 0.25, 3, key, vel});
        pitched.push_back({t, 3, key, 441 * std::pow(2, ((key - 69) * 100 + tune) / 1200.0)});
        t += 0.3;
    }
    const double env = t, level = t + 1.8, pan = t + 3.2, stereo = t + 4.2, loops = t + 4.8,
                 vib = t + 8.8, drums = t + 10.6;
    notes.insert(notes.end(), {{env, env + 1.0, 4, 69, 127},
                               // reference, 10 dB of attenuation, velocity 64
                               {level, level + 0.3, 0, 69, 127}, {level + 0.4, level + 0.7, 5, 69, 127},
                               {level + 0.8, level + 1.1, 0, 69, 64},
                               {pan, pan + 0.3, 6, 40, 127}, {pan + 0.4, pan + 0.7, 6, 100, 127},
                               {stereo, stereo + 0.3, 7, 69, 127},
                               // no loop, loop, loop until release: held 0.5 s each
                               {loops, loops + 0.5, 8, 40, 127}, {loops + 1.0, loops + 1.5, 8, 60, 127},
                               {loops + 3.0, loops + 3.5, 8, 100, 127},
                               {vib, vib + 1.5, 10, 69, 127},
                               // open hi-hat, kick, then the closed hi-hat cuts the open one
                               {drums, drums + 1.0, 9, 46, 127}, {drums + 0.2, drums + 1.0, 9, 36, 127},
                               {drums + 0.3, drums + 0.4, 9, 42, 127}});
    const std::string font = dir.write("test.sf2", build_sf2(test_font()));
    const std::string mid = dir.write("sf.mid", song({{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5},
                                                      {6, 6}, {7, 7}, {8, 8}, {10, 9}}, notes));
    const Wave w = render("soundfont " + font + "\n", mid);
    ASSERT_GT(w.rate, 0);

    for (const Pitched& p : pitched)
        EXPECT_NEAR(cents(frequency(m, sr, p.on + 0.05, p.on + 0.22), p.expect), 0, 3)
            << "channel " << p.ch << " key " << p.key;

    // Envelope (2205 Hz): half way up the linear attack at 50 ms, 3 dB down 30 ms into the decay
    // after the 100 ms hold, 12 dB further 120 ms later, sustain 20 dB down, and 30 dB below
    // the sustain 150 ms after the release.
    float peak = 0;
    for (size_t i = (size_t)((env + 0.11) * sr); i < (size_t)((env + 0.19) * sr); i++)
        peak = std::max(peak, std::abs(m[i]));
    auto below = [&](double db) { return [=](float p) { return p < peak * std::pow(10, db / 20); }; };
    EXPECT_NEAR(first_time(m, sr, env, env + 0.2, [&](float p) { return p >= peak / 2; }), 0.05, 0.006);
    const double down3 = first_time(m, sr, env + 0.1, env + 1, below(-3)) + 0.1;
    EXPECT_NEAR(down3, 0.23, 0.021);
    EXPECT_NEAR(first_time(m, sr, env + down3, env + 1, below(-15)), 0.12, 0.013);
    EXPECT_NEAR(rms_db(m, sr, env + 0.7, env + 0.95) - rms_db(m, sr, env + 0.13, env + 0.18), -20, 0.5);
    EXPECT_NEAR(first_time(m, sr, env + 1, env + 1.8, below(-50)), 0.15, 0.016);

    // Attenuation (instrument 60 + preset 40 cB, 0.4 of it applied) and the velocity curve
    // (40 log(64/127) dB).
    const double ref = rms_db(m, sr, level + 0.1, level + 0.25);
    EXPECT_NEAR(rms_db(m, sr, level + 0.5, level + 0.65) - ref, -4, 0.5);
    EXPECT_NEAR(rms_db(m, sr, level + 0.9, level + 1.05) - ref, 40 * std::log10(64 / 127.0), 0.5);

    // Hard pan, and a stereo pair: 441 Hz on the left, 882 Hz on the right.
    EXPECT_LT(rms_db(w.right, sr, pan + 0.1, pan + 0.25), rms_db(w.left, sr, pan + 0.1, pan + 0.25) - 40);
    EXPECT_LT(rms_db(w.left, sr, pan + 0.5, pan + 0.65), rms_db(w.right, sr, pan + 0.5, pan + 0.65) - 40);
    for (auto [side, hz] : {std::pair<const std::vector<float>*, double>{&w.left, 441}, {&w.right, 882}})
        EXPECT_NEAR(frequency(*side, sr, stereo + 0.05, stereo + 0.25), hz, 1);

    // Loops: the unlooped sample ends (4000 points) while held; the looped one sounds on through
    // its release; the one looping until release plays its last 1000 points and stops.
    const double held = rms_db(m, sr, loops + 1.1, loops + 1.4);
    EXPECT_LT(rms_db(m, sr, loops + 0.2, loops + 0.45), held - 60);
    EXPECT_GT(rms_db(m, sr, loops + 1.55, loops + 1.6), held - 15);
    EXPECT_GT(rms_db(m, sr, loops + 3.1, loops + 3.4), held - 1);
    EXPECT_LT(rms_db(m, sr, loops + 3.6, loops + 3.7), held - 60);

    // Vibrato of 50 cents: the pitch swings 50 cents each way around 882 Hz.
    const std::vector<double> swing = pitch_track(m, sr, vib + 0.2, vib + 1.4, 882);
    const double lo = *std::min_element(swing.begin(), swing.end());
    const double hi = *std::max_element(swing.begin(), swing.end());
    EXPECT_TRUE(std::fabs(hi - 50) <= 5 && std::fabs(lo + 50) <= 5) << lo << " " << hi;

    // Drum kit of bank 128: the closed hi-hat (882 Hz) cuts the open one (441 Hz) of its class,
    // not the kick (2205 Hz).
    const double open = tone_db(m, sr, 441, drums + 0.05, drums + 0.25);
    EXPECT_LT(tone_db(m, sr, 441, drums + 0.4, drums + 0.6), open - 50);
    EXPECT_GT(tone_db(m, sr, 2205, drums + 0.4, drums + 0.6), open - 10);
}

// Kit 16, which the configuration lacks, plays from the font; excluded, the standard kit plays.
TEST_F(SoundFontRender, DrumKitsTheFontHasPlayFromIt)
{
    const std::string font = dir.write("test.sf2", build_sf2(test_font()));
    const std::string mid = dir.write("kit.mid", song({{9, 16}}, {{0, 0.5, 9, 36, 127}}));
    for (bool excluded : {false, true}) {
        SCOPED_TRACE(excluded ? "kit 16 excluded" : "kit 16 of the font");
        const std::string exclude = excluded ? "font exclude 128 16\n" : "";
        ASSERT_GT(render("soundfont " + font + "\n" + exclude, mid).seconds(), 0.4);
        const double kit16 = tone_db(m, sr, 441, 0.05, 0.35), kit0 = tone_db(m, sr, 2205, 0.05, 0.35);
        EXPECT_GT(excluded ? kit0 : kit16, (excluded ? kit16 : kit0) + 30);
    }
}

// A voice held past what the resample cache holds of its sample goes on in the source without a
// gap, a click or a change of level or pitch; both halves of a stereo pair are cached.
TEST_F(SoundFontRender, AVoicePastItsCachedStartGoesOnInTheSource)
{
    Sf2FontDef f;  // unlooped 3 s sines: 441 Hz, and a stereo pair of 441 Hz and 882 Hz
    Sf2SampleDef left = sf2_sine_sample("left", 100, 3 * 44100, 0, 0),
                 right = sf2_sine_sample("right", 50, 3 * 44100, 0, 0);
    left.type = 4, left.link = 2, right.type = 2, right.link = 1;
    f.samples = {sf2_sine_sample("mono", 100, 3 * 44100, 0, 0), left, right};
    const Sf2Gen release = {SF2_VOLENV_RELEASE, -2400};
    f.instruments = {{"mono", {{{release}, 0}}},
                     {"stereo", {{{release, {SF2_PAN, -500}}, 1}, {{release, {SF2_PAN, 500}}, 2}}}};
    f.presets = {{"mono", 0, 0, {{{}, 0}}}, {"stereo", 1, 0, {{{}, 1}}}};
    const std::string cfg = "soundfont " + dir.write("long.sf2", build_sf2(f)) + "\n";
    // Key 72 on the mono preset twice: 0.2 s alone, then 0.2 s with the pedal down until
    // 2.7 s, far past what the pre-scan counted. The stereo pair twice from 3 s.
    const std::string mid = dir.write("long.mid", song({{0, 0}, {1, 1}},
        {{0, 0.2, 0, 72, 127}, {0.5, 0.7, 0, 72, 127}, {3.0, 3.2, 1, 72, 127}, {3.5, 3.7, 1, 72, 127}},
        {{480, {0xB0, 64, 127}}, {2592, {0xB0, 64, 0}}}));

    const double f72 = 441 * std::pow(2, 3 / 12.0);
    std::vector<float> ref;
    for (const char* cache : {"-S 0", "-S 2m"}) {
        SCOPED_TRACE(cache);
        const std::string options = std::string("-idvv --reverb=0 --chorus=0 ") + cache;
        ASSERT_GT(render(cfg, mid, options).seconds(), 3.5);
        // The held note keeps its pitch and moves no faster than its sine does.
        EXPECT_GT(rms_db(m, sr, 0.6, 0.7), -30);
        EXPECT_NEAR(cents(frequency(m, sr, 1.0, 1.4), f72), 0, 3);
        float peak = 0, jump = 0;
        for (size_t i = (size_t)(0.6 * sr); i < (size_t)(2.6 * sr); i++)
            peak = std::max(peak, std::abs(m[i])), jump = std::max(jump, std::abs(m[i] - m[i - 1]));
        EXPECT_LT(jump, peak * 2 * M_PI * f72 / sr * 1.2);
        if (ref.empty()) {
            ref = m;
            continue;
        }
        // Cached or not, the note fades alike (it leaves the cache about 0.4 s after it
        // starts), and every note is cached: both halves of the pair and the mono sample.
        for (double t = 0.6; t < 2.6; t += 0.25)
            EXPECT_NEAR(rms_db(m, sr, t, t + 0.25), rms_db(ref, sr, t, t + 0.25), 0.3) << t << " s";
        EXPECT_NE(err.find("Resample cache: Key 3/3"), std::string::npos) << err;
    }
}

TEST_F(SoundFontRender, EverySongPlaysCompleteOnTheGmFont)
{
    const char* gm = "/usr/share/sounds/sf2/FluidR3_GM.sf2";
    if (access(gm, R_OK) != 0)
        GTEST_SKIP() << gm << " is not installed (scripts/setup.sh installs fluid-soundfont-gm)";
    const std::string songs = CORVELLE_TEST_DATA "/songs";
    for (const std::string& name : files_ending(songs, ".mid")) {
        SCOPED_TRACE(name);
        const Wave w = render(std::string("soundfont ") + gm + "\n", songs + "/" + name, "");
        ASSERT_GT(w.rate, 0);
        // Onsets (in the first 30 s) where the notes start, the level neither silent nor clipping.
        std::vector<double> starts;
        for (int32 on : read_song(songs + "/" + name).ons)
            starts.push_back(on / 44100.0);
        const std::vector<float> head(m.begin(), m.begin() + std::min(m.size(), (size_t)w.rate * 30));
        EXPECT_GE(matched_share(onsets(head, w.rate), starts, 0.05), 0.9);
        EXPECT_GT(rms_db(m, w.rate, 0, w.seconds()), -35);
        long clipped = 0;
        for (size_t i = 0; i < w.left.size(); i++)
            clipped += std::abs(w.left[i]) >= 0.999f || std::abs(w.right[i]) >= 0.999f;
        EXPECT_LE(clipped, (long)w.left.size() / 1000);
    }
}

// The zones' attenuation at the format's full share (1.0, not 0.4); fixed key and velocity; scale
// tuning 0, which keeps each zone on its keys while giving them all the root's pitch.
TEST_F(SoundFontRender, AttenuationScaleKeyAndVelocityOverridesAndScaleTuningZero)
{
    Sf2FontDef f;
    f.samples = {sf2_sine_sample("441", 100), sf2_sine_sample("882", 50), sf2_sine_sample("2205", 20)};
    const Sf2Gen loop = {SF2_SAMPLE_MODES, 1}, flat = {SF2_SCALE_TUNING, 0};
    auto R = sf2_range;
    f.instruments = {{"ref", {{{loop}, 0}}},
                     {"quiet", {{{loop, {SF2_ATTENUATION, 100}}, 0}}},
                     {"fixed", {{{loop, {SF2_KEYNUM, 69}, {SF2_VELOCITY, 64}}, 0}}},
                     {"flat", {{{R(SF2_KEY_RANGE, 0, 59), loop, flat}, 0},
                               {{R(SF2_KEY_RANGE, 60, 71), loop, flat}, 1},
                               {{R(SF2_KEY_RANGE, 72, 127), loop, flat}, 2}}}};
    for (int i = 0; i < 4; i++)
        f.presets.push_back({f.instruments[i].name, (uint16_t)i, 0, {{{}, i}}});
    const std::string font = dir.write("att.sf2", build_sf2(f));
    const std::string mid = dir.write("att.mid", song({{0, 0}, {1, 1}, {2, 2}, {3, 3}},
        {{0, 0.3, 0, 69, 127}, {0.4, 0.7, 1, 69, 127}, {0.8, 1.1, 2, 50, 127},
         {1.2, 1.5, 3, 60, 127}, {1.6, 1.9, 0, 69, 64}}));
    // The default share (0.4) is heard in the first test of this file.
    ASSERT_GT(render("soundfont " + font + " attenuation=1.0\n", mid).seconds(), 1.9);
    const double ref = rms_db(m, sr, 0.1, 0.25), vel64 = rms_db(m, sr, 1.7, 1.85);
    EXPECT_NEAR(rms_db(m, sr, 0.5, 0.65) - ref, -10, 0.5);
    EXPECT_NEAR(cents(frequency(m, sr, 0.85, 1.05), 441), 0, 3);  // key 50 as key 69
    EXPECT_NEAR(rms_db(m, sr, 0.9, 1.05), vel64, 0.5);            // velocity 127 as 64
    const double mid_zone = tone_db(m, sr, 882, 1.3, 1.45);
    EXPECT_GT(mid_zone, std::max(tone_db(m, sr, 441, 1.3, 1.45), tone_db(m, sr, 2205, 1.3, 1.45)) + 40);
}

// A damaged stream leaves its sample out, and the render ends with status 2 (as a refused font).
TEST_F(SoundFontRender, CompressedFontSoundsLikeItsTwinAndDamageIsNamed)
{
    Sf2FontDef f;
    f.samples = {sf2_sine_sample("441", 100, 44100, 4410, 44100 - 4410),
                 sf2_sine_sample("2205", 20, 44100, 4400, 44000)};
    f.instruments = {{"low", {{{{SF2_SAMPLE_MODES, 1}}, 0}}}, {"high", {{{{SF2_SAMPLE_MODES, 1}}, 1}}}};
    f.presets = {{"low", 0, 0, {{{}, 0}}}, {"high", 1, 0, {{{}, 1}}}};
    const std::string sf2 = dir.write("twin.sf2", build_sf2(f));
    f.compressed = true;
    const std::string sf3_bytes = build_sf2(f), sf3 = dir.write("twin.sf3", sf3_bytes);
    const std::string mid = dir.write("twin.mid", song({{0, 0}, {1, 1}},
        {{0, 1.5, 0, 72, 127}, {1.6, 2.2, 1, 60, 100}}));
    const Wave a = render("soundfont " + sf2 + "\n", mid), b = render("soundfont " + sf3 + "\n", mid);
    ASSERT_TRUE(a.seconds() > 2.2 && b.seconds() > 2.2);
    const std::vector<float> ma = a.mono(), mb = b.mono();
    for (double t : {0.1, 0.6, 1.1, 1.7}) {  // before and after the first loop turns
        SCOPED_TRACE(t);
        EXPECT_NEAR(rms_db(mb, b.rate, t, t + 0.3), rms_db(ma, a.rate, t, t + 0.3), 0.5);
        EXPECT_NEAR(cents(frequency(mb, b.rate, t, t + 0.3), frequency(ma, a.rate, t, t + 0.3)), 0, 3);
    }

    std::string damaged = sf3_bytes;  // the first page of the second stream loses its mark
    size_t second = damaged.find("OggS");
    do
        second = damaged.find("OggS", second + 1);
    while (damaged[second + 5] != 2);  // a stream's first page
    damaged[second] = 'X';
    const std::string bad = dir.write("damaged.sf3", damaged);
    std::string broken = sf3_bytes;
    broken[4] = 'x';
    const std::string refused = dir.write("refused.sf3", broken);
    const struct { std::string cfg, said; } faults[] = {
        {"soundfont " + bad + "\n", bad + ": sample \"2205\" can't be decoded ("},
        {"soundfont " + sf3 + "\nsoundfont " + refused + "\n", refused + ": can't use this SoundFont"},
    };
    for (const auto& c : faults) {
        const std::string cfg = dir.write("f.cfg", c.cfg);
        const ToolRun r = run_tool(dir.path(), "-c '" + cfg + "' -o out.wav '" + mid + "'", scratch);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    }
}

// The last note's reverb rings out to silence: no step at the end, the last ms far below hearing.
TEST_F(SoundFontRender, ASongEndsWhenItsReverbTailHasDied)
{
    Sf2FontDef f;
    f.samples = {sf2_sine_sample("441", 100)};
    f.instruments = {{"tone", {{{{SF2_SAMPLE_MODES, 1}, {SF2_VOLENV_RELEASE, -3000}}, 0}}}};
    f.presets = {{"tone", 0, 0, {{{}, 0}}}};
    const std::string font = dir.write("tail.sf2", build_sf2(f));
    const std::string mid = dir.write("tail.mid", song({{0, 0}}, {{0, 0.5, 0, 69, 127}},
                                                      {{0, {0xB0, 91, 127}}, {0, {0xB0, 7, 127}}}));
    const Wave w = render("soundfont " + font + "\n", mid, "");
    ASSERT_GT(w.seconds(), 1.0);
    EXPECT_GT(rms_db(m, w.rate, 0.7, 0.8), -60);  // the tail is heard after the note
    EXPECT_LT(rms_db(m, w.rate, w.seconds() - 0.01, w.seconds()), -75);
    // From one millisecond to the next the level falls no faster than a reverb's tail does.
    const int ms = w.rate / 1000;
    double before = rms_db(m, w.rate, 0.5, 0.501);
    for (size_t i = (size_t)(0.501 * w.rate); i + ms <= m.size(); i += ms) {
        const double now = rms_db(m, w.rate, (double)i / w.rate, (double)(i + ms) / w.rate);
        if (before > -75) {
            EXPECT_GT(now, before - 20) << "a step at " << (double)i / w.rate << " s";
        }
        before = now;
    }
}

// The chorus return of a zone sent in full follows the font's chorus= factor (5 by default).
TEST_F(SoundFontRender, ChorusReturnFollowsTheFontsFactor)
{
    Sf2FontDef f;
    f.samples = {sf2_sine_sample("441", 100)};
    f.instruments = {{"sent", {{{{SF2_SAMPLE_MODES, 1}, {SF2_CHORUS_SEND, 1000}}, 0}}}};
    f.presets = {{"sent", 0, 0, {{{}, 0}}}};
    const std::string font = dir.write("cho.sf2", build_sf2(f));
    const std::string mid = dir.write("cho.mid", song({{0, 0}}, {{0, 1, 0, 69, 100}}));
    std::vector<Wave> w;
    for (const char* option : {" chorus=0", " chorus=1", ""})
        w.push_back(render("soundfont " + font + option + "\n", mid, "--reverb=0"));
    ASSERT_TRUE(w[0].seconds() > 1 && w[1].seconds() > 1 && w[2].seconds() > 1);
    auto wet_db = [&](const Wave& x) {
        double sum = 0;
        const size_t a = (size_t)(0.2 * x.rate), b = (size_t)(0.9 * x.rate);
        for (size_t i = a; i < b; i++)
            sum += std::pow(x.left[i] - w[0].left[i], 2) + std::pow(x.right[i] - w[0].right[i], 2);
        return 10 * std::log10(sum / (double)(2 * (b - a)) + 1e-30);
    };
    EXPECT_GT(wet_db(w[1]), -60);
    EXPECT_NEAR(wet_db(w[2]) - wet_db(w[1]), 20 * std::log10(5.0), 0.5);
}

// ---- modulators ----------------------------------------------------------------------------

const uint16_t CC7 = 0x0587, CC74 = 0x00CA;

// A looped 441 Hz sine (root 69) and a 2205 Hz one; "fixed" and "unbent" replace the CC7 and
// pitch-wheel defaults with ones of no amount, "wobble" moves the pitch by CC2 through the
// modulation LFO (8.176 Hz), "closing" opens as CC74 rises to 127.
Sf2FontDef heard_font()
{
    Sf2FontDef f;
    f.samples = {sf2_sine_sample("441", 100), sf2_sine_sample("2205", 20)};
    const Sf2Gen loop = {SF2_SAMPLE_MODES, 1};
    f.instruments = {{"plain", {{{loop}, 0}}},
                     {"lfo", {{{loop, {SF2_VIBLFO_FREQ, -1736}}, 0}}},  // 3.0 Hz, no depth
                     {"dark", {{{loop}, 1, {{CC74, SF2_FILTER_FC, -9600}}}}},
                     {"fixed", {{{loop}, 0, {{CC7, SF2_ATTENUATION, 0}}}}},
                     {"bright", {{{loop}, 1}}},
                     {"unbent", {{{loop}, 0, {{0x020E, SF2_FINE_TUNE, 0, 0x0010}}}}},
                     {"wobble", {{{loop}, 0, {{0x0082, SF2_MODLFO_TO_PITCH, 100}}}}},
                     {"low", {{{loop, {SF2_FILTER_FC, 10722}}, 1}}},  // 4 kHz
                     {"closing", {{{loop}, 1, {{CC74 | 0x0100, SF2_FILTER_FC, -9600}}}}}};
    for (int i = 0; i < 9; i++)
        f.presets.push_back({f.instruments[i].name, (uint16_t)i, 0, {{{}, i}}});
    return f;
}

class HeardModulators : public SoundFontRender {
protected:
    // Renders events (ticks of 1/960 s) with the program of each channel c set to c.
    Wave render(std::vector<TimedBytes> events)
    {
        for (int ch = 0; ch < 9; ch++)
            events.insert(events.begin(), {0, {(uint8_t)(0xC0 | ch), (uint8_t)ch}});
        const std::string font = dir.write("m.sf2", build_sf2(heard_font()));
        return SoundFontRender::render("soundfont " + font + "\n",
                                       dir.write("m.mid", smf_format0(events, 480, 960)));
    }
};

TimedBytes cc(double at, int ch, int number, int value)
{
    return {tick(at), {(uint8_t)(0xB0 | ch), (uint8_t)number, (uint8_t)value}};
}

void note(std::vector<TimedBytes>& ev, double on, double off, int ch, int key = 69)
{
    add_notes(ev, {{tick(on), tick(off) - tick(on), ch, key, 127}});
}

// The rate of a pitch track's swing: whole cycles between its first and last upward crossing.
double swing_hz(const std::vector<double>& c)
{
    const double mid = (*std::max_element(c.begin(), c.end()) + *std::min_element(c.begin(), c.end())) / 2;
    std::vector<double> ups;
    for (size_t i = 1; i < c.size(); i++)
        if (c[i - 1] < mid && c[i] >= mid && (ups.empty() || (double)i * 0.005 - ups.back() > 0.05))
            ups.push_back((double)i * 0.005);
    return ups.size() < 2 ? 0 : (double)(ups.size() - 1) / (ups.back() - ups.front());
}

}  // namespace

// Volume and expression, changed while a note sounds, follow 40 log10(x/127) dB.
TEST_F(HeardModulators, VolumeAndExpressionFollowTheFormatsCurve)
{
    const int values[] = {127, 100, 64, 32, 16};
    std::vector<TimedBytes> ev;
    for (int k = 0; k < 2; k++) {
        const double start = k * 3.0;
        note(ev, start, start + 2.6, 0);
        for (int i = 0; i < 5; i++)
            ev.push_back(cc(start + 0.5 * i, 0, k == 0 ? 7 : 11, values[i]));
        ev.push_back(cc(start + 2.7, 0, k == 0 ? 7 : 11, 127));
    }
    ASSERT_GT(render(ev).seconds(), 5.5);
    for (int k = 0; k < 2; k++) {
        SCOPED_TRACE(k == 0 ? "CC7" : "CC11");
        const double start = k * 3.0, ref = rms_db(m, sr, start + 0.2, start + 0.45);
        for (int i = 1; i < 5; i++) {
            const double t = start + 0.5 * i;
            EXPECT_NEAR(rms_db(m, sr, t + 0.1, t + 0.45) - ref, 40 * std::log10(values[i] / 127.0), 0.5)
                << values[i];
        }
    }
}

// 50 cents of vibrato at the zone's LFO rate (8.176 Hz when it sets none), none without either;
// a bend while the vibrato runs moves its centre.
TEST_F(HeardModulators, PressureAndModulationWheelVibrateAtTheZonesRate)
{
    std::vector<TimedBytes> ev;
    note(ev, 0, 2.5, 0);   // channel pressure on the plain zone
    note(ev, 3, 5.5, 0);   // the modulation wheel on the plain zone
    note(ev, 6, 8.5, 1);   // the modulation wheel on the 3 Hz zone
    note(ev, 9, 10, 0);    // neither
    note(ev, 10.5, 13.5, 0);  // the modulation wheel, then two semitones of bend
    ev.insert(ev.end(), {cc(10.5, 0, 1, 127), {tick(10.9), {0xE0, 0x7F, 0x7F}},
                         {tick(0), {0xD0, 127}}, {tick(2.8), {0xD0, 0}}, cc(3, 0, 1, 127),
                         cc(5.8, 0, 1, 0), cc(6, 1, 1, 127)});
    ASSERT_GT(render(ev).seconds(), 13.3);
    const struct { const char* what; double at, hz, centre; } cases[] = {
        {"pressure", 0, 8.176, 0}, {"wheel", 3, 8.176, 0}, {"wheel at 3 Hz", 6, 3.0, 0},
        {"wheel and bend", 11, 8.176, 200}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<double> p = pitch_track(m, sr, c.at + 0.1, c.at + 2.4);
        EXPECT_NEAR(*std::max_element(p.begin(), p.end()), c.centre + 50, 5);
        EXPECT_NEAR(*std::min_element(p.begin(), p.end()), c.centre - 50, 5);
        EXPECT_NEAR(swing_hz(p), c.hz, c.hz * 0.05);
    }
    const std::vector<double> still = pitch_track(m, sr, 9.1, 9.9);
    EXPECT_LT(*std::max_element(still.begin(), still.end()) - *std::min_element(still.begin(), still.end()), 3);
}

// A zone's CC74 modulator closes its filter; replaced CC7 and pitch-wheel defaults of no amount
// ignore volume and bend that a plain zone follows; a CC2 modulator alone swings the pitch.
TEST_F(HeardModulators, AZonesOwnModulatorsTakeEffect)
{
    std::vector<TimedBytes> ev;
    for (int k = 0; k < 2; k++) {
        ev.push_back(cc(k * 1.0, 2, 74, k == 0 ? 0 : 127));
        ev.push_back(cc(k * 1.0, 4, 74, 64));  // the plain zone at the brightness's middle
        note(ev, k * 1.0 + 0.1, k * 1.0 + 0.5, 2);
        note(ev, k * 1.0 + 0.5, k * 1.0 + 0.9, 4);
    }
    for (int k = 0; k < 3; k++) {  // the zone without CC7 (3) or the bend (5), then the plain one
        note(ev, 2 + 2 * k, 2.5 + 2 * k, k < 2 ? 3 : 5);
        note(ev, 3 + 2 * k, 3.5 + 2 * k, 0);
    }
    ev.insert(ev.end(), {cc(1.9, 3, 7, 32), cc(1.9, 0, 7, 32), cc(3.9, 3, 7, 127),
                         cc(3.9, 0, 7, 127), {tick(5.9), {0xE0, 0x7F, 0x7F}},
                         {tick(5.9), {0xE5, 0x7F, 0x7F}}, cc(7.9, 6, 2, 127)});
    note(ev, 8, 9.5, 6);
    ASSERT_GT(render(ev).seconds(), 9.4);
    auto level = [&](double t) { return rms_db(m, sr, t + 0.1, t + 0.3); };
    EXPECT_NEAR(level(0.1) - level(0.5), 0, 0.5);  // CC74 at 0: no change
    EXPECT_LT(level(1.1) - level(1.5), -10);       // at 127: 9600 cents lower
    EXPECT_NEAR(level(2) - level(4), 0, 0.3);
    EXPECT_NEAR(level(3) - level(5), 40 * std::log10(32 / 127.0), 0.5);
    EXPECT_NEAR(cents(frequency(m, sr, 6.1, 6.4), 441), 0, 3);
    EXPECT_NEAR(cents(frequency(m, sr, 7.1, 7.4), 441), 200, 3);  // two semitones of bend
    const std::vector<double> p = pitch_track(m, sr, 8.1, 9.3);
    EXPECT_NEAR(*std::max_element(p.begin(), p.end()), 95, 10);
    EXPECT_NEAR(*std::min_element(p.begin(), p.end()), -95, 10);
}

// Each row: a reference note at CC74 `ref`, then a note started at CC74 `before` that hears
// CC74 `during` from its middle on; each half's level (dB against the reference) lies in range.
TEST_F(HeardModulators, ControllerSeventyFourActsThroughTheFontsModulatorElseTheBrightness)
{
    const struct {
        const char* what;
        int channel, ref, before, during;
        double first_lo, first_hi, second_lo, second_hi;  // the halves' levels lie within these
    } rows[] = {
        {"a CC74 modulator closes an open voice", 8, 127, 127, 0, -0.5, 0.5, -200, -10},
        {"no CC74 modulator: the brightness lowers the 4 kHz cutoff as the note starts", 7, 64, 0,
         127, -40, -10, -40, -10},
    };
    std::vector<TimedBytes> ev;
    for (size_t i = 0; i < 2; i++) {
        const double t = 2.0 * (double)i;
        ev.push_back(cc(t, rows[i].channel, 74, rows[i].ref));
        note(ev, t + 0.05, t + 0.45, rows[i].channel);
        ev.push_back(cc(t + 0.5, rows[i].channel, 74, rows[i].before));
        note(ev, t + 0.55, t + 1.45, rows[i].channel);
        ev.push_back(cc(t + 1.0, rows[i].channel, 74, rows[i].during));
    }
    ASSERT_GT(render(ev).seconds(), 3.4);
    for (size_t i = 0; i < 2; i++) {
        const auto& r = rows[i];
        SCOPED_TRACE(r.what);
        const double t = 2.0 * (double)i, ref = rms_db(m, sr, t + 0.15, t + 0.4);
        const double first = rms_db(m, sr, t + 0.65, t + 0.95) - ref;
        const double second = rms_db(m, sr, t + 1.1, t + 1.4) - ref;
        EXPECT_TRUE(first > r.first_lo && first < r.first_hi) << "first half " << first;
        EXPECT_TRUE(second > r.second_lo && second < r.second_hi) << "second half " << second;
    }
}
