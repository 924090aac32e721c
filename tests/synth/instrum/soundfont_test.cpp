// SoundFont files: damaged ones are refused with a message naming the file and the damage
// (never read out of bounds: every truncation and the damages below run under the
// sanitizers too), fonts are ordered and excluded as configured, and every General MIDI
// program and the drum kit of the standard GM font load with sample data that sounds.
#include "instrum_test_support.h"

#include <unistd.h>

#include "config/soundfont.h"
#include "instrum/instrument_policy.h"
#include "instrum/sf2_reader.h"
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

class SoundFontTest : public InstrumTest {
protected:
    void SetUp() override
    {
        InstrumTest::SetUp();
        init_modenv_vol_table();
    }
    void TearDown() override
    {
        free_soundfont_requests();
        InstrumTest::TearDown();
    }
};

}  // namespace

TEST_F(SoundFontTest, DamagedFilesAreRefusedWithTheReason)
{
    const std::string good = build_sf2(small_font());
    std::string why;
    SF2File* ok = sf2_read_memory(good.data(), good.size(), "ok.sf2", &why);
    ASSERT_NE(ok, nullptr) << why;
    EXPECT_EQ(ok->presets.size(), 1u);
    EXPECT_EQ(ok->instruments[0].zones.size(), 2u);
    delete ok;

    auto at = [&](const char* id) { return good.find(id) + 8; };  // first record of a table
    const struct {
        const char* what;
        size_t at;
        uint32_t value;
        int bytes;
        const char* reason;
    } damages[] = {
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
        SF2File* f = sf2_read_memory(bad.data(), bad.size(), "bad.sf2", &why);
        EXPECT_EQ(f, nullptr) << d.what;
        EXPECT_TRUE(contains(why, d.reason)) << d.what << ": " << why;
        delete f;
    }
    // Every truncation, with the RIFF size told the truth so that the chunks are walked.
    for (size_t n = 0; n < good.size(); n++) {
        std::string cut = good.substr(0, n);
        if (n >= 8)
            put_le(cut, 4, n - 8, 4);
        SF2File* f = sf2_read_memory(cut.data(), cut.size(), "cut.sf2", &why);
        EXPECT_EQ(f, nullptr) << n;
        delete f;
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
    EXPECT_TRUE(contains(msg, path + ": can't use this SoundFont: sample \"sine\"")) << msg;
    EXPECT_EQ(msg.find(path), msg.rfind(path)) << "reported once: " << msg;
    // Mended (another file of the same size put in its place), it is read again.
    ASSERT_EQ(rename(dir_.write("mended.sf2", good).c_str(), path.c_str()), 0);
    InstrumentPtr mended(load_soundfont_inst(0, 0, 0, -1));
    EXPECT_NE(mended, nullptr);
}

TEST_F(SoundFontTest, LoopOutsideItsSampleIsReportedAndFontsKeepTheirOrder)
{
    Sf2FontDef def = small_font();
    def.samples[0].loop_end = 450;  // past the sample's 400 points
    const std::string path = dir_.write("loop.sf2", build_sf2(def));
    add_soundfont(path.c_str(), -1, -1, -1, -1);
    InstrumentPtr ip;
    const std::string msg = stderr_of([&] { ip.reset(load_soundfont_inst(0, 0, 0, -1)); });
    ASSERT_NE(ip, nullptr);
    EXPECT_TRUE(contains(msg, path + ": sample \"sine\": loop 100..450 lies outside")) << msg;
    for (int i = 0; i < ip->samples; i++)
        EXPECT_FALSE(ip->sample[i].modes & MODES_LOOPING);
    // The font answers at its own order; excluded and reordered presets do not.
    EXPECT_EQ(load_soundfont_inst(1, 0, 0, -1), nullptr);
    order_soundfont(0, 0, -1, 1);
    EXPECT_EQ(load_soundfont_inst(0, 0, 0, -1), nullptr);
    InstrumentPtr later(load_soundfont_inst(1, 0, 0, -1));
    EXPECT_NE(later, nullptr);
    exclude_soundfont(0, -1, -1);
    EXPECT_EQ(load_soundfont_inst(1, 0, 0, -1), nullptr);
    // A %font element names its file and preset itself.
    InstrumentPtr named(extract_soundfont(path.c_str(), 0, 0, -1));
    EXPECT_NE(named, nullptr);
    EXPECT_TRUE(contains(stderr_of([&] { EXPECT_EQ(extract_soundfont(path.c_str(), 0, 9, -1), nullptr); }),
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
