// SoundFont files: damage refused and named (the sanitizer builds see every read), order and
// exclusion, the GM font's programs and kit, and how a zone pair's modulators are merged.
#include "instrum_test_support.h"

#include <tuple>

#include <unistd.h>

#include "instrum/instrument_policy.h"
#include "instrum/sf2_reader.h"
#include "instrum/soundfont_instruments.h"
#include "play/sf_modulators.h"
#include "support/sf2_writer.h"

namespace {

// One preset of two zones on one instrument of one looped sine.
Sf2FontDef small_font()
{
    Sf2FontDef f;
    f.samples = {{"sine", sf2_sine(400, 100), 100, 300}};
    f.instruments = {{"inst", {{{sf2_range(SF2_KEY_RANGE, 0, 59), {SF2_SAMPLE_MODES, 1}}, 0},
                               {{sf2_range(SF2_KEY_RANGE, 60, 127), {SF2_SAMPLE_MODES, 1}}, 0}}}};
    f.presets = {{"piano", 0, 0, {{{}, 0}}}};
    return f;
}

// A font of one preset "p" (0:0) on one instrument whose zones play two stereo halves in turn.
Sf2FontDef fan_out(int preset_zones, int inst_zones)
{
    Sf2FontDef f;
    Sf2SampleDef left = {"left", sf2_sine(400, 100), 100, 300}, right = left;
    left.type = 4, left.link = 1, right.name = "right", right.type = 2, right.link = 0;
    f.samples = {left, right};
    f.instruments = {{"fan", {}}};
    for (int i = 0; i < inst_zones; i++)
        f.instruments[0].zones.push_back({{{SF2_SAMPLE_MODES, 1}}, i % 2});
    f.presets = {{"p", 0, 0, std::vector<Sf2ZoneDef>((size_t)preset_zones, Sf2ZoneDef{{}, 0})}};
    return f;
}

using SoundFontTest = InstrumTest;

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
    InstrumentPtr ip(sf2_convert_preset(f.get(), 0, 0, -1, SF2Settings(), 44100, 44));
    EXPECT_NE(ip, nullptr);
    if (ip == nullptr)
        return r;
    r.list = *ip->sample[0].sf_mods;
    for (const SF2File::Warning& w : f->warnings)
        r.warnings.push_back(w.kind);
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

// The small font with a global and a local instrument zone and a preset zone of these modulators.
Sf2FontDef one_zone_font(std::vector<Sf2Mod> global, std::vector<Sf2Mod> local,
                         std::vector<Sf2Mod> preset = {})
{
    Sf2FontDef f = small_font();
    f.instruments[0].zones = {{{}, -1, global}, {{{SF2_SAMPLE_MODES, 1}}, 0, local}};
    f.presets[0].zones[0].mods = preset;
    return f;
}
using SoundFontModulators = InstrumTest;

}  // namespace

TEST_F(SoundFontTest, DamagedFilesAreRefusedWithTheReason)
{
    const std::string good = build_sf2(small_font());
    std::string why;
    std::unique_ptr<SF2File> ok(sf2_read_memory(good.data(), good.size(), "ok.sf2", &why));
    ASSERT_NE(ok, nullptr) << why;
    EXPECT_EQ(std::make_tuple(ok->presets.size(), ok->instruments[0].zones.size()),
              std::make_tuple(1ul, 2ul));

    auto at = [&](const char* id) { return good.find(id) + 8; };  // first record of a table
    const struct { const char* what; size_t at; uint32_t value; int bytes; const char* reason; } damages[] = {
        {"not sfbk", 11, 'x', 1, "not a SoundFont"},
        {"RIFF past the end", 4, (uint32_t)good.size(), 4, "truncated"},
        {"table past its list", at("shdr") - 4, 4600, 4, "runs past"},
        {"table missing", at("pmod") - 5, 'x', 1, "no \"pmod\" table"},
        {"table not whole records", at("shdr") - 4, 91, 4, "not a whole number"},
        {"preset zones past pbag", at("phdr") + 38 + 24, 9, 1, "outside its zone table"},
        {"zone generators past pgen", at("ibag") + 4, 50, 1, "lie outside their tables"},
        {"zone at a missing instrument", at("pgen") + 2, 7, 1, "points at instrument 7"},
        {"zone at a missing sample", at("igen") + 10, 3, 1, "points at sample 3"},
        {"sample past the data", at("shdr") + 24, 100000, 4, "outside the 446 points"},
    };
    for (const auto& d : damages) {
        std::string bad = good;
        put_le(bad, d.at, d.value, d.bytes);
        std::unique_ptr<SF2File> f(sf2_read_memory(bad.data(), bad.size(), "bad.sf2", &why));
        EXPECT_EQ(f, nullptr) << d.what;
        EXPECT_TRUE(has(why, d.reason)) << d.what << ": " << why;
    }
    // Every truncation, with the RIFF size told the truth so that the chunks are walked.
    for (size_t n = 0; n < good.size(); n++) {
        std::string cut = good.substr(0, n);
        if (n >= 8)
            put_le(cut, 4, n - 8, 4);
        std::unique_ptr<SF2File> f(sf2_read_memory(cut.data(), cut.size(), "cut.sf2", &why));
        EXPECT_EQ(f, nullptr) << n;
    }

    // Through the configuration: the message names the file once, and the preset falls back.
    std::string bad = good;
    put_le(bad, at("shdr") + 24, 100000, 4);
    const std::string path = dir_.write("broken.sf2", bad);
    add_soundfont(path.c_str(), -1, -1, -1, -1);
    const std::string msg = stderr_of([] {
        EXPECT_EQ(load_soundfont_inst(0, 0, 0, -1), nullptr);
        EXPECT_EQ(load_soundfont_inst(0, 0, 0, -1), nullptr);
    });
    EXPECT_TRUE(has(msg, path + ": can't use this SoundFont: sample \"sine\"")) << msg;
    EXPECT_EQ(msg.find(path), msg.rfind(path)) << "reported once: " << msg;
    // Mended (another file of the same size put in its place), it is read again.
    ASSERT_EQ(rename(dir_.write("mended.sf2", good).c_str(), path.c_str()), 0);
    EXPECT_NE(InstrumentPtr(load_soundfont_inst(0, 0, 0, -1)), nullptr);
}

TEST_F(SoundFontTest, LoopOutsideItsSampleIsReportedAndFontsKeepTheirOrder)
{
    Sf2FontDef def = small_font();
    def.samples[0].loop_end = 450;  // past the sample's 400 points
    const std::string path = dir_.write("loop.sf2", build_sf2(def));
    add_soundfont(path.c_str(), -1, -1, -1, -1);
    InstrumentPtr ip;
    const std::string msg = stderr_of([&] {
        ip.reset(load_soundfont_inst(0, 0, 0, -1));
        report_soundfont_warnings();
    });
    ASSERT_NE(ip, nullptr);
    EXPECT_TRUE(has(msg, path + ": sample \"sine\": loop 100..450 lies outside")) << msg;
    for (int i = 0; i < ip->samples; i++)
        EXPECT_FALSE(ip->sample[i].modes & MODES_LOOPING);
    // The font answers at its own order; excluded and reordered presets do not.
    EXPECT_EQ(load_soundfont_inst(1, 0, 0, -1), nullptr);
    order_soundfont(0, 0, -1, 1);
    EXPECT_EQ(load_soundfont_inst(0, 0, 0, -1), nullptr);
    EXPECT_NE(InstrumentPtr(load_soundfont_inst(1, 0, 0, -1)), nullptr);
    exclude_soundfont(0, -1, -1);
    EXPECT_EQ(load_soundfont_inst(1, 0, 0, -1), nullptr);
    // A %font element names its file and preset itself.
    EXPECT_NE(InstrumentPtr(extract_soundfont(path.c_str(), 0, 0, -1)), nullptr);
    EXPECT_TRUE(has(stderr_of([&] { EXPECT_EQ(extract_soundfont(path.c_str(), 0, 9, -1), nullptr); }),
                         "no playable preset 9 in bank 0"));
}

TEST_F(SoundFontTest, EveryGeneralMidiProgramAndDrumOfTheGmFontLoadsAndSounds)
{
    const char* gm = "/usr/share/sounds/sf2/FluidR3_GM.sf2";
    if (access(gm, R_OK) != 0)
        GTEST_SKIP() << gm << " is not installed (scripts/setup.sh installs fluid-soundfont-gm)";
    add_soundfont(gm, -1, -1, -1, -1);
    auto sounds = [](const Instrument* ip) {
        for (int i = 0; i < ip->samples; i++) {
            const Sample& s = ip->sample[i];
            EXPECT_GT(s.data_length, 0u);
            EXPECT_LE(s.loop_end, s.data_length);
            EXPECT_LT(s.low_freq, s.high_freq);
            for (splen_t k = 0; k < (s.data_length >> FRACTION_BITS); k++)
                if (s.data[k] != 0)
                    return true;
        }
        return false;
    };
    for (int k = 0; k < 128 + 47; k++) {  // programs 0..127, then drums 35..81 of bank 128
        const int prog = k < 128 ? k : 0, key = k < 128 ? -1 : k - 93;
        InstrumentPtr ip(load_soundfont_inst(0, k < 128 ? 0 : 128, prog, key));
        ASSERT_NE(ip, nullptr) << "program " << prog << " key " << key;
        EXPECT_TRUE(sounds(ip.get())) << "program " << prog << " key " << key;
    }
}

// Legal tables that ask too much or leave nothing usable; each counts as an instrument not loaded.
TEST_F(SoundFontTest, HostileFontsAreBoundedAndTheirFaultsNamedOnce)
{
    Sf2FontDef rate0 = small_font();
    rate0.samples[0].rate = 0;
    rate0.instruments[0].zones.resize(6, rate0.instruments[0].zones[0]);
    Sf2FontDef empty = small_font();
    empty.presets[0].zones[0].gens = {sf2_range(SF2_KEY_RANGE, 0, 10)};
    empty.instruments[0].zones.erase(empty.instruments[0].zones.begin());  // keys 60..127 only
    Sf2FontDef escaped = small_font();
    escaped.presets[0].name = "pi\x1b[2Jano";
    // What is said comes each on a line of its own.
    const struct { const char* what; Sf2FontDef font; bool loads; std::vector<std::string> said; } cases[] = {
        {"400 x 400 stereo zones", fan_out(400, 400), false,
         {": preset 0:0 \"p\" expands to more than 8192 samples, refused"}},
        {"all sample rates 0", rate0, false,
         {": sample \"sine\" has a sample rate of 0, left out (and 5 more like it)",
          ": preset 0:0 \"piano\" has nothing to play"}},
        {"tables leave the preset empty", empty, false, {": preset 0:0 \"piano\" has nothing to play"}},
        {"20 x 400 stereo zones", fan_out(20, 400), true, {}},
        {"control bytes in a name", escaped, true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir_.write(std::string(c.what) + ".sf2", build_sf2(c.font));
        add_soundfont(path.c_str(), -1, -1, -1, -1);
        const int failures = instrument_load_failures;
        InstrumentPtr ip;
        std::string msg = stderr_of([&] {
            ip.reset(load_soundfont_inst(0, 0, 0, -1));
            report_soundfont_warnings();
        });
        EXPECT_EQ(std::make_tuple(ip != nullptr, instrument_load_failures - failures),
                  std::make_tuple(c.loads, c.loads ? 0 : 1));
        for (const std::string& s : c.said) {
            EXPECT_TRUE(has(msg, path + s + "\n")) << msg;
            msg.erase(0, msg.find('\n') + 1);
        }
        EXPECT_EQ(msg, "");
        if (ip != nullptr && c.what == std::string("20 x 400 stereo zones")) {
            ASSERT_EQ(ip->samples, 8000);
            for (int i = 0; i < ip->samples; i++)  // every half found its partner
                EXPECT_EQ(ip->sample[i].sample_type, i % 2 ? SF_SAMPLETYPE_RIGHT : SF_SAMPLETYPE_LEFT);
        }
        if (ip != nullptr && c.what == std::string("control bytes in a name")) {
            EXPECT_STREQ(ip->instname, "pi\\x1B[2Jano");
        }
        remove_soundfont(path.c_str());
    }

    // A chunk id from the file is printed escaped.
    std::string bad = build_sf2(small_font());
    const size_t inam = bad.find("pmod");
    bad.replace(inam, 4, "\x1b[2J");
    put_le(bad, inam + 4, 1000000, 4);
    std::string why;
    EXPECT_EQ(sf2_read_memory(bad.data(), bad.size(), "esc.sf2", &why), nullptr);
    EXPECT_TRUE(has(why, "chunk \"\\x1B[2J\" in")) << why;
}

// 24-bit fonts: the low byte of each point rounds it to the nearest 16-bit value.
TEST_F(SoundFontTest, TwentyFourBitPointsAddTheirLowByte)
{
    Sf2FontDef f = small_font();
    f.samples[0].data = {100, -100, 32767, -5, 7, 7, 7, 7};
    f.samples[0].low = {0x80, 0x80, 0xFF, 0x7F, 0x00, 0x01, 0xC0, 0x40};
    f.samples[0].loop_start = 1, f.samples[0].loop_end = 7;
    const std::string path = dir_.write("24.sf2", build_sf2(f));
    add_soundfont(path.c_str(), -1, -1, -1, -1);
    InstrumentPtr ip(load_soundfont_inst(0, 0, 0, -1));
    ASSERT_NE(ip, nullptr);
    const std::vector<int16_t> expect = {101, -99, 32767, -5, 7, 7, 8, 7, 0, 0};
    EXPECT_EQ(std::vector<int16_t>(ip->sample[0].data, ip->sample[0].data + expect.size()), expect);
}

// Until a note plays it, a sample has the length its stream announces and reads silence.
TEST_F(SoundFontTest, CompressedSamplesAreDecodedWhenFirstPlayed)
{
    Sf2FontDef def = small_font();
    def.compressed = true;
    def.samples.push_back({"other", sf2_sine(400, 50), 100, 300});
    def.instruments[0].zones[1].target = 1;  // keys 60..127 play the other sample
    const std::string bytes = build_sf2(def);
    std::string why;
    std::unique_ptr<SF2File> f(sf2_read_memory(bytes.data(), bytes.size(), "c.sf3", &why));
    ASSERT_NE(f, nullptr) << why;
    InstrumentPtr ip(sf2_convert_preset(f.get(), 0, 0, -1, SF2Settings(), 44100, 44));
    ASSERT_NE(ip, nullptr);
    ASSERT_EQ(ip->samples, 2);
    EXPECT_EQ(std::make_tuple(ip->sample[0].data_length, (int)ip->sample[0].data[100]),
              std::make_tuple((splen_t)400 << FRACTION_BITS, 0));
    EXPECT_TRUE(sf2_sample_ready(&ip->sample[0]));
    EXPECT_TRUE(f->decoded[0].tried && !f->decoded[1].tried);
    EXPECT_EQ(std::make_tuple(ip->sample[0].data, ip->sample[0].loop_end),
              std::make_tuple(f->decoded[0].points.data(), (splen_t)300 << FRACTION_BITS));
    EXPECT_NEAR(ip->sample[0].data[25], 16384, 400);  // a quarter period of the sine
    EXPECT_TRUE(sf2_sample_ready(&ip->sample[0]));  // nothing more to do

    // Debian's compressed fonts leave out the pad byte after a chunk of odd size.
    for (const char* installed : {"/usr/share/sounds/sf3/MuseScore_General.sf3",
                                  "/usr/share/sounds/sf3/FluidR3Mono_GM.sf3"}) {
        if (access(installed, R_OK) != 0)
            continue;
        std::unique_ptr<SF2File> gm(sf2_open(installed, installed, &why));
        ASSERT_NE(gm, nullptr) << installed << ": " << why;
        EXPECT_TRUE(gm->compressed && gm->presets.size() > 128) << installed;
    }
}

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
    const struct { int curve; double x, y; } points[] = {
        {SF2_CURVE_LINEAR, 0.25, 0.25}, {SF2_CURVE_CONCAVE, 0, 0},   {SF2_CURVE_CONCAVE, 1, 1},
        {SF2_CURVE_CONVEX, 0, 0},       {SF2_CURVE_CONVEX, 1, 1},    {SF2_CURVE_SWITCH, 0.49, 0},
        {SF2_CURVE_SWITCH, 0.5, 1},     {SF2_CURVE_LINEAR, 1.5, 1}};
    for (const auto& p : points)
        EXPECT_DOUBLE_EQ(sf_curve(p.curve, p.x), p.y) << p.curve << " at " << p.x;
}
