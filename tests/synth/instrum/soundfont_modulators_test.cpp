// SoundFont modulators: how a zone pair's list is merged from the defaults and the font's own
// zones, the format's curves, and what the modulators do to a voice as heard through
// corvelle-render (volume and expression, pressure and modulation-wheel vibrato at the zone's
// LFO rate, a font's own controller modulator, a replaced default).
#include "instrum_test_support.h"

#include "instrum/sf2_reader.h"
#include "instrum/soundfont_instruments.h"
#include "play/sf_modulators.h"
#include "support/sf2_writer.h"
#include "tools/song_analysis.h"

using namespace songtest;

namespace {

const uint16_t CC7 = 0x0587, CC74 = 0x00CA, VEL_ATTEN = 0x0502, CC10 = 0x028A;

// The modulators of the first sample of preset 0 of font f, and the font's warnings.
struct Merged {
    SF2ModList list;
    std::vector<std::string> warnings;
};
Merged merged(const Sf2FontDef& def)
{
    const std::string bytes = build_sf2(def);
    std::string why;
    std::unique_ptr<SF2File> f(sf2_read_memory(bytes.data(), bytes.size(), "m.sf2", &why));
    EXPECT_NE(f, nullptr) << why;
    Merged r;
    if (f == nullptr)
        return r;
    Instrument* ip = sf2_convert_preset(f.get(), 0, 0, -1, SF2Settings(), 44100, 44);
    EXPECT_NE(ip, nullptr);
    if (ip == nullptr)
        return r;
    r.list = *ip->sample[0].sf_mods;
    for (const SF2File::Warning& w : f->warnings)
        r.warnings.push_back(w.kind);
    free_instrument(ip);
    return r;
}

// The amounts of the list's modulators from source src to generator dest, in order.
std::vector<int> amounts(const SF2ModList& l, uint16_t src, uint16_t dest)
{
    std::vector<int> r;
    for (const SF2Modulator& m : l.mod)
        if (m.src == src && m.dest == dest)
            r.push_back(m.amount);
    return r;
}

Sf2FontDef one_zone_font(std::vector<Sf2Mod> global, std::vector<Sf2Mod> local,
                         std::vector<Sf2Mod> preset = {}, std::vector<Sf2Gen> gens = {})
{
    Sf2FontDef f;
    f.samples = {{"sine", sf2_sine(400, 100), 100, 300}};
    gens.push_back({SF2_SAMPLE_MODES, 1});
    f.instruments = {{"inst", {{{}, -1, global}, {gens, 0, local}}}};
    f.presets = {{"p", 0, 0, {{{}, 0, preset}}}};
    return f;
}

class SoundFontModulators : public InstrumTest {
protected:
    void SetUp() override
    {
        InstrumTest::SetUp();
        init_modenv_vol_table();
    }
};

}  // namespace

TEST_F(SoundFontModulators, ListsMergeAsTheFormatSays)
{
    // Within a zone the later identical modulator wins; a local zone's replaces its global
    // zone's; an instrument's replaces the identical default; a preset's adds to everything.
    const Merged m = merged(one_zone_font(
        {{CC74, SF2_FILTER_FC, -1000}, {VEL_ATTEN, SF2_ATTENUATION, 480}},
        {{CC74, SF2_FILTER_FC, -2000}, {CC74, SF2_FILTER_FC, -3000}},
        {{CC7, SF2_ATTENUATION, 100}, {CC74, SF2_FILTER_FC, 500}}));
    EXPECT_EQ(amounts(m.list, CC74, SF2_FILTER_FC), (std::vector<int>{-3000, 500}));
    EXPECT_EQ(amounts(m.list, VEL_ATTEN, SF2_ATTENUATION), (std::vector<int>{480}));
    EXPECT_EQ(amounts(m.list, CC7, SF2_ATTENUATION), (std::vector<int>{960, 100}));
    EXPECT_EQ(amounts(m.list, 0x000D, SF2_VIBLFO_TO_PITCH), (std::vector<int>{50}));
    // The engine plays the default bend and pan; a font's replacement takes them over.
    EXPECT_TRUE(m.list.engine_bend);
    EXPECT_TRUE(m.list.engine_pan);
    EXPECT_TRUE(amounts(m.list, CC10, SF2_PAN).empty());
    // A zone without a vibrato LFO frequency runs it at 8.176 Hz.
    EXPECT_NEAR(44100.0 / (64 * m.list.vib_ratio), 8.176, 0.1);

    const Merged pan = merged(one_zone_font({}, {{CC10, SF2_PAN, 500}}));
    EXPECT_FALSE(pan.list.engine_pan);
    EXPECT_EQ(amounts(pan.list, CC10, SF2_PAN), (std::vector<int>{500}));
}

TEST_F(SoundFontModulators, UnplayableAndDamagedModulatorsAreLeftOut)
{
    // A modulator feeding another (counted once as a warning), a bank-select source, an
    // unknown general source, a transform the format lacks, a destination no voice moves.
    std::vector<Sf2Mod> odd = {{CC74, 0x8000 | 1, 100},
                               {0x0080, SF2_FILTER_FC, 100},
                               {0x0005, SF2_FILTER_FC, 100},
                               {CC74, SF2_PAN, 100, 0, 1},
                               {CC74, SF2_VOLENV_ATTACK, 100}};
    const Merged m = merged(one_zone_font({}, odd));
    EXPECT_EQ(m.list.mod.size(), 8u);  // the ten defaults less bend and pan
    EXPECT_EQ(std::count(m.warnings.begin(), m.warnings.end(), "linked modulator"), 1);

    // A zone of more modulators than any real one keeps the first ones and plays.
    std::vector<uint16_t> controllers;
    for (int n = 1; n < 120; n++)
        if (n != 6 && n != 32 && n != 38 && (n < 98 || n > 101))
            controllers.push_back((uint16_t)(0x80 | n));
    std::vector<Sf2Mod> many;
    for (int i = 0; i < 300; i++)
        many.push_back({controllers[i % 100], SF2_FILTER_FC, (int16_t)(i + 1), controllers[i / 100]});
    Merged big;
    const std::string msg = stderr_of([&] { big = merged(one_zone_font({}, many)); });
    EXPECT_EQ(big.list.mod.size(), 8u + SF2_MAX_ZONE_MODULATORS);
    EXPECT_NE(msg.find("only the first 64 are used"), std::string::npos) << msg;
}

TEST_F(SoundFontModulators, CurvesFollowTheFormat)
{
    // Concave over a falling source is the amplitude's 40 log10 in 96 dB; convex mirrors it.
    for (int x : {127, 100, 64, 32, 16, 1}) {
        const double concave = sf_curve(SF2_CURVE_CONCAVE, 1 - x / 127.0);
        EXPECT_NEAR(-96 * concave, 40 * std::log10(x / 127.0), 1e-9) << x;
        EXPECT_NEAR(sf_curve(SF2_CURVE_CONVEX, x / 127.0), 1 - concave, 1e-9) << x;
    }
    const struct {
        int curve;
        double x, y;
    } points[] = {{SF2_CURVE_LINEAR, 0.25, 0.25}, {SF2_CURVE_CONCAVE, 0, 0},
                  {SF2_CURVE_CONCAVE, 1, 1},      {SF2_CURVE_CONVEX, 0, 0},
                  {SF2_CURVE_CONVEX, 1, 1},       {SF2_CURVE_SWITCH, 0.49, 0},
                  {SF2_CURVE_SWITCH, 0.5, 1},     {SF2_CURVE_LINEAR, 1.5, 1}};
    for (const auto& p : points)
        EXPECT_DOUBLE_EQ(sf_curve(p.curve, p.x), p.y) << p.curve << " at " << p.x;
}

// ---- as heard ----------------------------------------------------------------------------

namespace {

// A looped 441 Hz sine (root 69) in presets: 0 plain, 1 with a 3 Hz vibrato LFO of no depth,
// 3 with the CC7 default replaced by one of no amount, 5 with the pitch wheel's replaced so,
// 6 with CC2 moving the pitch by the modulation LFO (8.176 Hz) up to 100 cents;
// a 2205 Hz one in 2 with a CC74 modulator lowering the cutoff 9600 cents, in 4 plain, in 7
// behind a cutoff of 4 kHz, and in 8 with a falling CC74 modulator (open at 127, 9600 cents
// lower at 0).
Sf2FontDef heard_font()
{
    Sf2FontDef f;
    f.samples = {sf2_sine_sample("441", 100), sf2_sine_sample("2205", 20)};
    const Sf2Gen loop = {SF2_SAMPLE_MODES, 1};
    f.instruments = {{"plain", {{{loop}, 0}}},
                     {"lfo", {{{loop, {SF2_VIBLFO_FREQ, -1736}}, 0}}},  // 3.0 Hz
                     {"dark", {{{loop}, 1, {{CC74, SF2_FILTER_FC, -9600}}}}},
                     {"fixed", {{{loop}, 0, {{CC7, SF2_ATTENUATION, 0}}}}},
                     {"bright", {{{loop}, 1}}},
                     {"unbent", {{{loop}, 0, {{0x020E, SF2_FINE_TUNE, 0, 0x0010}}}}},
                     {"wobble", {{{loop}, 0, {{0x0082, SF2_MODLFO_TO_PITCH, 100}}}}},
                     {"low", {{{loop, {SF2_FILTER_FC, 10722}}, 1}}},
                     {"closing", {{{loop}, 1, {{CC74 | 0x0100, SF2_FILTER_FC, -9600}}}}}};
    for (int i = 0; i < 9; i++)
        f.presets.push_back({f.instruments[i].name, (uint16_t)i, 0, {{{}, i}}});
    return f;
}

class HeardModulators : public ::testing::Test {
protected:
    TempDir dir, scratch;
    // Renders events (ticks of 1/960 s) with the program of each channel c set to c.
    Wave render(std::vector<TimedBytes> events)
    {
        for (int ch = 0; ch < 9; ch++)
            events.insert(events.begin(), {0, {(uint8_t)(0xC0 | ch), (uint8_t)ch}});
        const std::string font = dir.write("m.sf2", build_sf2(heard_font()));
        const std::string cfg = dir.write("m.cfg", "soundfont " + font + "\n");
        const std::string mid = dir.write("m.mid", smf_format0(events, 480, 960));
        ToolRun r = run_tool(dir.path(), "-c '" + cfg + "' --reverb=0 --chorus=0 -o out.wav '" + mid + "'",
                             scratch);
        EXPECT_EQ(r.status, 0) << r.err;
        return read_wave(dir.file("out.wav"));
    }
};

uint32_t tick(double seconds)
{
    return (uint32_t)std::lround(seconds * 960);
}

TimedBytes cc(double at, int ch, int number, int value)
{
    return {tick(at), {(uint8_t)(0xB0 | ch), (uint8_t)number, (uint8_t)value}};
}

void note(std::vector<TimedBytes>& ev, double on, double off, int ch, int key = 69)
{
    add_notes(ev, {{tick(on), tick(off) - tick(on), ch, key, 127}});
}

// The pitch of m around 441 Hz in cents, every 5 ms over [t0, t1).
std::vector<double> pitch_track(const std::vector<float>& m, int rate, double t0, double t1)
{
    std::vector<double> c;
    for (double s = t0; s < t1; s += 0.005)
        c.push_back(cents(frequency(m, rate, s, s + 0.006), 441));
    return c;
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
    const Wave w = render(ev);
    ASSERT_GT(w.seconds(), 5.5);
    const std::vector<float> m = w.mono();
    for (int k = 0; k < 2; k++) {
        SCOPED_TRACE(k == 0 ? "CC7" : "CC11");
        const double start = k * 3.0, ref = rms_db(m, w.rate, start + 0.2, start + 0.45);
        for (int i = 1; i < 5; i++) {
            const double t = start + 0.5 * i;
            EXPECT_NEAR(rms_db(m, w.rate, t + 0.1, t + 0.45) - ref, 40 * std::log10(values[i] / 127.0), 0.5)
                << values[i];
        }
    }
}

// Channel pressure and the modulation wheel give 50 cents of vibrato at the zone's vibrato
// LFO rate (8.176 Hz when the zone sets none); without them there is none. A bend while the
// vibrato runs moves its centre.
TEST_F(HeardModulators, PressureAndModulationWheelVibrateAtTheZonesRate)
{
    std::vector<TimedBytes> ev;
    note(ev, 0, 2.5, 0);   // channel pressure on the plain zone
    note(ev, 3, 5.5, 0);   // the modulation wheel on the plain zone
    note(ev, 6, 8.5, 1);   // the modulation wheel on the 3 Hz zone
    note(ev, 9, 10, 0);    // neither
    note(ev, 10.5, 13.5, 0);  // the modulation wheel, then two semitones of bend
    ev.push_back(cc(10.5, 0, 1, 127));
    ev.push_back({tick(10.9), {0xE0, 0x7F, 0x7F}});
    ev.push_back({tick(0), {0xD0, 127}});
    ev.push_back({tick(2.8), {0xD0, 0}});
    ev.push_back(cc(3, 0, 1, 127));
    ev.push_back(cc(5.8, 0, 1, 0));
    ev.push_back(cc(6, 1, 1, 127));
    const Wave w = render(ev);
    ASSERT_GT(w.seconds(), 13.3);
    const std::vector<float> m = w.mono();
    const struct {
        const char* what;
        double at, hz, centre;
    } cases[] = {{"pressure", 0, 8.176, 0}, {"wheel", 3, 8.176, 0}, {"wheel at 3 Hz", 6, 3.0, 0},
                 {"wheel and bend", 11, 8.176, 200}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<double> p = pitch_track(m, w.rate, c.at + 0.1, c.at + 2.4);
        EXPECT_NEAR(*std::max_element(p.begin(), p.end()), c.centre + 50, 5);
        EXPECT_NEAR(*std::min_element(p.begin(), p.end()), c.centre - 50, 5);
        EXPECT_NEAR(swing_hz(p), c.hz, c.hz * 0.05);
    }
    const std::vector<double> still = pitch_track(m, w.rate, 9.1, 9.9);
    EXPECT_LT(*std::max_element(still.begin(), still.end()) - *std::min_element(still.begin(), still.end()), 3);
}

// A zone's own CC74 modulator closes its filter as the controller rises (a plain zone is the
// reference); a zone that replaces
// the CC7 default with one of no amount ignores the channel volume, while the plain zone beside
// it follows it; so with the pitch wheel. A modulator alone sets the modulation LFO swinging
// the pitch, which follows it from one control period to the next.
TEST_F(HeardModulators, AZonesOwnModulatorsTakeEffect)
{
    std::vector<TimedBytes> ev;
    for (int k = 0; k < 2; k++) {
        ev.push_back(cc(k * 1.0, 2, 74, k == 0 ? 0 : 127));
        ev.push_back(cc(k * 1.0, 4, 74, 64));  // the plain zone at the brightness's middle
        note(ev, k * 1.0 + 0.1, k * 1.0 + 0.5, 2);
        note(ev, k * 1.0 + 0.5, k * 1.0 + 0.9, 4);
    }
    note(ev, 2, 2.5, 3);
    note(ev, 3, 3.5, 0);
    ev.push_back(cc(1.9, 3, 7, 32));
    ev.push_back(cc(1.9, 0, 7, 32));
    note(ev, 4, 4.5, 3);
    note(ev, 5, 5.5, 0);
    ev.push_back(cc(3.9, 3, 7, 127));
    ev.push_back(cc(3.9, 0, 7, 127));
    note(ev, 6, 6.5, 5);
    note(ev, 7, 7.5, 0);
    for (uint8_t ch : {0, 5})
        ev.push_back({tick(5.9), {(uint8_t)(0xE0 | ch), 0x7F, 0x7F}});
    note(ev, 8, 9.5, 6);
    ev.push_back(cc(7.9, 6, 2, 127));
    const Wave w = render(ev);
    ASSERT_GT(w.seconds(), 9.4);
    const std::vector<float> m = w.mono();
    auto level = [&](double t) { return rms_db(m, w.rate, t + 0.1, t + 0.3); };
    EXPECT_NEAR(level(0.1) - level(0.5), 0, 0.5);  // CC74 at 0: no change
    EXPECT_LT(level(1.1) - level(1.5), -10);       // at 127: 9600 cents lower
    EXPECT_NEAR(level(2) - level(4), 0, 0.3);
    EXPECT_NEAR(level(3) - level(5), 40 * std::log10(32 / 127.0), 0.5);
    EXPECT_NEAR(cents(frequency(m, w.rate, 6.1, 6.4), 441), 0, 3);
    EXPECT_NEAR(cents(frequency(m, w.rate, 7.1, 7.4), 441), 200, 3);  // two semitones of bend
    const std::vector<double> p = pitch_track(m, w.rate, 8.1, 9.3);
    EXPECT_GT(*std::max_element(p.begin(), p.end()), 85);
    EXPECT_LT(*std::max_element(p.begin(), p.end()), 105);
    EXPECT_LT(*std::min_element(p.begin(), p.end()), -85);
    EXPECT_GT(*std::min_element(p.begin(), p.end()), -105);
}

// CC74 reaches a SoundFont voice through the font's CC74 modulator where it has one: it closes
// the filter of a voice that started open, while it sounds; a zone without one hears CC74 as
// the engine's brightness, as a patch does (set as its note starts). Each row: a reference note
// at CC74 `ref`, then a note started at CC74 `before` that hears CC74 `during` from its middle
// on; each half's level (dB against the reference) lies in the row's ranges.
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
    const Wave w = render(ev);
    ASSERT_GT(w.seconds(), 3.4);
    const std::vector<float> m = w.mono();
    for (size_t i = 0; i < 2; i++) {
        SCOPED_TRACE(rows[i].what);
        const double t = 2.0 * (double)i, ref = rms_db(m, w.rate, t + 0.15, t + 0.4);
        const double first = rms_db(m, w.rate, t + 0.65, t + 0.95) - ref;
        const double second = rms_db(m, w.rate, t + 1.1, t + 1.4) - ref;
        EXPECT_GT(first, rows[i].first_lo) << "the note's first half against the reference";
        EXPECT_LT(first, rows[i].first_hi) << "the note's first half against the reference";
        EXPECT_GT(second, rows[i].second_lo);
        EXPECT_LT(second, rows[i].second_hi);
    }
}
