// The loading policy: marked programs, fallbacks, failures, per-sample lists, the default.
#include "instrum_test_support.h"

#include <cstdio>
#include <tuple>

#include "instrum/instrument_policy.h"
#include "play/playmidi.h"
#include "instrum/sf2_reader.h"
#include "support/sf2_writer.h"
#include "synth/config/config_fixture.h"

namespace {

int cache_entries()
{
    int n = 0;
    for (InstrumentCache* bucket : instrument_cache)
        for (InstrumentCache* p = bucket; p != nullptr; p = p->next)
            n++;
    return n;
}

class PolicyTest : public InstrumTest {
protected:
    void SetUp() override
    {
        InstrumTest::SetUp();
        reset_configuration_state();
        write("three.pat", patch_of({looped16(100, 10, 90), looped16(100, 10, 90), looped16(100, 10, 90)}));
        write("one.pat", patch_of({looped16(50, 5, 45)}));
        write("def.pat", patch_of({looped16(50, 5, 45)}));
    }
    void TearDown() override
    {
        default_instrument = nullptr;
        free_instruments(0);
        reset_configuration_state();
        std::fill(std::begin(default_program), std::end(default_program), 0);
        InstrumTest::TearDown();
    }
    void configure(const std::string& text)
    {
        ASSERT_TRUE(reads_clean("dir " + dir_.path() + "\n" + text));
    }
};

TEST_F(PolicyTest, UndefinedProgramsFallBackToBankZeroOrAreReportedOnce)
{
    configure("bank 0\n5 one.pat\n9 missing.pat\nbank 8\n6 one.pat\ndrumset 0\n36 one.pat\n");
    // A stop code from the interface ends loading at once and leaves the marks.
    tonebank[0]->tone[5].instrument = MAGIC_LOAD_INSTRUMENT;
    int rc = RC_NONE;
    {
        Restore quit(ctl->read, [](int32*) { return (int)RC_QUIT; });
        EXPECT_EQ(load_missing_instruments(&rc), 0);
    }
    EXPECT_EQ(std::make_tuple(rc, tonebank[0]->tone[5].instrument, cache_entries()),
              std::make_tuple((int)RC_QUIT, MAGIC_LOAD_INSTRUMENT, 0));

    for (ToneBankElement* e :
         {&tonebank[8]->tone[5], &tonebank[0]->tone[7], &tonebank[0]->tone[9], &drumset[0]->tone[40]})
        e->instrument = MAGIC_LOAD_INSTRUMENT;

    // Verbosity 0 hides the level-1 warning of bank 8 and shows the rest.
    ctl->verbosity = 0;
    int failed = 0;
    std::string msg = stderr_of([&] { failed = load_missing_instruments(nullptr); });
    EXPECT_EQ(failed, 4);
    EXPECT_EQ(msg,
              "No instrument mapped to tone bank 0, program 7 - this instrument will not be heard\n"
              "Instrument `missing.pat' can't be found.\n"
              "Couldn't load instrument missing.pat (tone bank 0, program 9)\n"
              "No instrument mapped to drum set 0, program 40 - this instrument will not be heard\n");
    // Bank 8 has nothing for program 5; bank 0's program 5 was loaded in its place.
    EXPECT_EQ(tonebank[8]->tone[5].instrument, nullptr);
    Instrument* five = tonebank[0]->tone[5].instrument;
    ASSERT_FALSE(IS_MAGIC_INSTRUMENT(five) || five == nullptr);
    EXPECT_TRUE(tonebank[0]->tone[7].instrument == MAGIC_ERROR_INSTRUMENT &&
                tonebank[0]->tone[9].instrument == MAGIC_ERROR_INSTRUMENT);

    // Playing bank 8 program 5 takes bank 0's instrument and element.
    EXPECT_EQ(play_midi_load_instrument(0, 8, 5), five);
    EXPECT_STREQ(tonebank[8]->tone[5].name, "one.pat");
    EXPECT_EQ(tonebank[8]->tone[5].instrument, five);
    for (int b : {-1, (int)TONEBANK_SLOTS})  // no such bank: nothing, and nothing touched
        EXPECT_EQ(play_midi_load_instrument(0, b, 5), nullptr) << b;

    // The failures are not tried again, and are silent, until the marks are cleared.
    ctl->verbosity = 1;
    msg = stderr_of([&] {
        EXPECT_EQ(play_midi_load_instrument(0, 0, 7), nullptr);
        EXPECT_EQ(play_midi_load_instrument(0, 0, 9), nullptr);
        EXPECT_EQ(play_midi_load_instrument(1, 0, 40), nullptr);
        EXPECT_EQ(load_missing_instruments(nullptr), 0);
    });
    EXPECT_EQ(msg, "");

    // At verbosity 1 the bank-8 warning is shown, without the closing words of bank 0.
    clear_magic_instruments();
    EXPECT_EQ(tonebank[0]->tone[7].instrument, nullptr);
    tonebank[8]->tone[4].instrument = MAGIC_LOAD_INSTRUMENT;
    msg = stderr_of([&] { EXPECT_EQ(load_missing_instruments(nullptr), 2); });
    EXPECT_TRUE(has(msg, "No instrument mapped to tone bank 8, program 4\n")) << msg;
    EXPECT_TRUE(has(msg, "No instrument mapped to tone bank 0, program 4 - this")) << msg;
}

// A program with lists does not hand its changed samples to another through the cache.
TEST_F(PolicyTest, ListsApplyPerSampleAndStayWithTheirProgram)
{
    configure("bank 0\n0 three.pat tune=12\n1 three.pat\n2 three.pat tune=1\n"
              "3 three.pat tune=1,2 trempitch=0,-20\n4 three.pat fc=30000,-1,22050 q=961,960\n"
              "5 three.pat tune=400,-400 rate=400 offset=1000\n6 three.pat\n7 three.pat offset=0 tremolo=::40\n");
    for (int prog : {0, 1})
        tonebank[0]->tone[prog].instrument = MAGIC_LOAD_INSTRUMENT;
    EXPECT_EQ(load_missing_instruments(nullptr), 0);
    Instrument *tuned = tonebank[0]->tone[0].instrument, *plain = tonebank[0]->tone[1].instrument;
    ASSERT_NE(tuned, plain);
    EXPECT_EQ(std::make_tuple(tuned->sample[0].root_freq, plain->sample[0].root_freq),
              std::make_tuple(261626 / 2, 261626));
    EXPECT_EQ(play_midi_load_instrument(0, 0, 6), plain);  // no lists: shares the plain one
    ASSERT_EQ(plain->samples, 3);

    const Sample& p = plain->sample[0];
    auto down = [](int32 f, double t) { return (int32)std::lround(f / std::pow(2.0, t / 12)); };
    Instrument *all = load_instrument(0, 0, 2), *two = load_instrument(0, 0, 3);
    Instrument *filt = load_instrument(0, 0, 4), *wild = load_instrument(0, 0, 5);
    ASSERT_TRUE(all != nullptr && two != nullptr && filt != nullptr && wild != nullptr);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(all->sample[i].root_freq, down(p.root_freq, 1)) << i;
    const Sample* t = two->sample;
    EXPECT_EQ((std::vector<int32>{all->sample[2].low_freq, all->sample[2].high_freq, t[0].root_freq,
                                  t[1].root_freq, t[2].root_freq, t[1].tremolo_to_pitch}),
              (std::vector<int32>{down(p.low_freq, 1), down(p.high_freq, 1), down(p.root_freq, 1),
                                  down(p.root_freq, 2), p.root_freq, -20}));
    // Cutoffs above half the output rate or negative, and resonances above 960, are off.
    const Sample* f = filt->sample;
    EXPECT_EQ((std::vector<int>{f[0].cutoff_freq, f[1].cutoff_freq, f[2].cutoff_freq, f[0].resonance,
                                f[1].resonance}),
              (std::vector<int>{0, 0, 22050, 0, 960}));
    // Values far out of range stay in range: no frequency of 0, no overflow.
    const Sample* w = wild->sample;
    EXPECT_EQ((std::vector<int64>{w[0].root_freq, w[1].root_freq, w[0].envelope_rate[0],
                                  w[2].envelope_offset[0], w[2].envelope_offset[1]}),
              (std::vector<int64>{1, INT32_MAX, 2097151 * 512, 255 << 22, p.envelope_offset[1]}));
    // An offset of 0 is a value like any other; a tremolo depth counts double.
    Instrument* seven = load_instrument(0, 0, 7);
    ASSERT_NE(seven, nullptr);
    EXPECT_NE(p.envelope_offset[0], 0);
    EXPECT_EQ(std::make_tuple(seven->sample[1].envelope_offset[0], (int)seven->sample[1].tremolo_depth),
              std::make_tuple(0, 80));
}

// Also: a zone without a sustain level holds the note at full level; LFO delays have a ceiling.
TEST_F(PolicyTest, FontElementsAreFoundInTheSearchPathAndNamedAfterTheirPreset)
{
    Sf2FontDef f;
    f.samples = {{"sine", sf2_sine(400, 100), 100, 300}};
    const Sf2Gen gens[] = {{SF2_SAMPLE_MODES, 1}, {SF2_MODLFO_TO_PITCH, 50}, {SF2_MODLFO_DELAY, 6000}};
    f.instruments = {{"inst", {{{gens[0], gens[1], gens[2]}, 0}}}};
    f.presets = {{"flute", 0, 0, {{{}, 0}}}};
    dir_.write("flute.sf2", build_sf2(f));
    configure("bank 0\n7 %font flute.sf2 0 0\n");
    InstrumentPtr ip(load_instrument(0, 0, 7));
    ASSERT_NE(ip, nullptr);
    EXPECT_STREQ(tonebank[0]->tone[7].comment, "flute");
    EXPECT_EQ(ip->sample[0].envelope_offset[2], 1073741823);
    const double longest = std::pow(2.0, 5000 / 1200.0);  // about 18 s
    EXPECT_EQ(ip->sample[0].tremolo_delay, (int32)(longest * play_mode->rate));
    // Redefined, the program's instrument is retired and freed with the rest, also while the
    // cache holds another program's instrument (the sanitizers see a leak).
    configure("bank 0\n8 three.pat\n");
    ASSERT_NE(load_instrument(0, 0, 8), nullptr);
    tonebank[0]->tone[7].instrument = ip.release();
    configure("bank 0\n7 three.pat\n");
    EXPECT_EQ(tonebank[0]->tone[7].instrument, nullptr);
}

TEST_F(PolicyTest, DefaultInstrumentSurvivesFreeingOrIsReloadedFromItsName)
{
    configure("bank 0\n3 one.pat\n");
    // As start-up does with a default program: the default is a program's instrument.
    Instrument* prog = play_midi_load_instrument(0, 0, 3);
    ASSERT_NE(prog, nullptr);
    default_instrument = prog;
    ASSERT_EQ(set_default_instrument("def.pat"), 0);
    Instrument* def = default_instrument;
    EXPECT_NE(def, prog);
    EXPECT_EQ(prog->sample[0].root_freq, 261626);  // still the program's, not freed
    EXPECT_EQ(std::vector<int>(default_program, default_program + MAX_CHANNELS),
              std::vector<int>(MAX_CHANNELS, -1));
    std::string msg = stderr_of([] { EXPECT_EQ(set_default_instrument("nothere.pat"), -1); });
    EXPECT_TRUE(has(msg, "nothere.pat")) << msg;
    EXPECT_EQ(default_instrument, def);

    free_instruments(0);
    EXPECT_EQ(std::make_tuple(tonebank[0]->tone[3].instrument, default_instrument, def->samples,
                              cache_entries()),
              std::make_tuple((Instrument*)nullptr, def, 1, 1));
    // Reloading takes the name loaded last (not the one that failed) ...
    free_instruments(1);
    ASSERT_NE(default_instrument, nullptr);
    EXPECT_EQ(std::make_tuple(default_instrument->samples, cache_entries()), std::make_tuple(1, 1));
    // ... and when it fails there is no default instrument rather than a freed one.
    ASSERT_EQ(remove(dir_.file("def.pat").c_str()), 0);
    stderr_of([] { free_instruments(1); });
    EXPECT_EQ(std::make_tuple(default_instrument, cache_entries()), std::make_tuple((Instrument*)nullptr, 0));
}

}  // namespace
