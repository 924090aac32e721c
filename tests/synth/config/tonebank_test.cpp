// Patch lines and their options, quantities, instrument maps and alternate assignments.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "config_fixture.h"
#include "instrum/instrum.h"
#include "output/output.h"

namespace {

using ToneBanks = ConfigTest;

// Applies one patch line to program 0 of bank 0 and returns the result and its messages.
ReadResult patch(const std::string& options)
{
    return read_config_text("bank 0\n0 piano.pat " + options + "\n");
}

const ToneBankElement& program0() { return tonebank[0]->tone[0]; }

template <class T>
std::vector<int> ints(const T* p, int n) { return std::vector<int>(p, p + n); }

TEST_F(ToneBanks, PanNoteAmpAndDefaults)
{
    const std::pair<const char*, int> pans[] = {{"-100", 0},  {"0", 63},       {"100", 127}, {"center", 64},
                                                 {"left", 0}, {"right", 127}, {"xyz", 63},  {"-5", 60}};
    for (const auto& c : pans) {
        ReadResult r = patch(std::string("pan=") + c.first);
        EXPECT_EQ(r.status, 0) << c.first << r.messages;
        EXPECT_EQ(program0().pan, c.second) << c.first;
    }
    EXPECT_EQ(patch("pan=99999999999999999999").status, 1);

    ASSERT_EQ(patch("note=60 amp=800").status, 0);
    ASSERT_EQ(program0().scltunenum, 1);
    EXPECT_EQ(std::make_tuple(program0().note, program0().amp, program0().scltune[0]),
              std::make_tuple(60, 800, 100));

    // A patch line resets what the element held: the note and its scale tuning are gone.
    ASSERT_EQ(patch("").status, 0);
    const ToneBankElement& e = program0();
    EXPECT_EQ((std::vector<int>{e.note, e.pan, e.amp, e.scltunenum, e.strip_loop, e.reverb_send, e.instype}),
              (std::vector<int>{-1, -1, -1, 0, -1, -1, 0}));
    EXPECT_STREQ(e.name, "piano.pat");
    EXPECT_STREQ(e.comment, "piano.pat");
}

TEST_F(ToneBanks, ListsEnvelopesAndStripOptions)
{
    ReadResult r = patch("tune=1.5,-2 rate=1::3 offset=,5:6:7:8:9:10:11 sclnote=60,x,62 "
                         "fc=100 q=3,4 keep=env strip=loop strip=tail comm=Big,Piano "
                         "fckeyf=5 fcvelf=-3 qvelf=2 trempitch=1,2,3 modfc=-4");
    ASSERT_EQ(r.status, 0) << r.messages;
    const ToneBankElement& e = program0();
    ASSERT_EQ((std::vector<int>{e.tunenum, e.envratenum, e.envofsnum, e.sclnotenum, e.resonum}),
              (std::vector<int>{2, 1, 2, 3, 2}));  // the lengths of the lists
    EXPECT_EQ(std::vector<float>(e.tune, e.tune + 2), (std::vector<float>{1.5f, -2.0f}));
    EXPECT_EQ(ints(e.envrate[0], 6), (std::vector<int>{1, -1, 3, -1, -1, -1}));
    EXPECT_EQ(ints(e.envofs[0], 6), std::vector<int>(6, -1));
    EXPECT_EQ(ints(e.envofs[1], 6), (std::vector<int>{5, 6, 7, 8, 9, 10}));  // a seventh is ignored
    EXPECT_EQ(ints(e.sclnote, 3), (std::vector<int>{60, 0, 62}));
    EXPECT_EQ((std::vector<int>{e.fcnum, e.reso[1], e.strip_envelope, e.strip_loop, e.strip_tail,
                                e.key_to_fc, e.vel_to_fc, e.vel_to_resonance, e.trempitchnum, e.modfc[0]}),
              (std::vector<int>{1, 4, 0, 1, 1, 5, -3, 2, 3, -4}));
    EXPECT_STREQ(e.comment, "Big Piano");
    ASSERT_EQ(patch("strip=loop keep=loop").status, 0);
    EXPECT_EQ(program0().strip_loop, 0);

    // The same option twice: the later list replaces the earlier (no leak under sanitizers).
    ASSERT_EQ(patch("rate=1 rate=2,3 tremolo=1 tremolo=2,3").status, 0);
    EXPECT_EQ(std::make_tuple(program0().envratenum, program0().tremnum), std::make_tuple(2, 2));
    // A failed list leaves nothing behind.
    EXPECT_EQ(patch("tremolo=1:2,1.5").status, 1);
    EXPECT_TRUE(program0().tremnum == 0 && program0().trem == nullptr);

    // A comment equal to the former name follows the new name.
    ASSERT_EQ(read_config_text("bank 0\n9 old.pat\n9 new.pat comm=old.pat\n").status, 0);
    EXPECT_STREQ(tonebank[0]->tone[9].comment, "new.pat");

    r = read_config_text("bank 0\n1 %font a.sf2 0 5 amp=20\n2 %font b.sf2 0 5 60\n"
                         "drumset 0\n35 %font c.sf2 128 0 35\n3 %sample s.wav pan=left\n");
    ASSERT_EQ(r.status, 0) << r.messages;
    const ToneBankElement &a = tonebank[0]->tone[1], &c = drumset[0]->tone[35], &s = drumset[0]->tone[3];
    EXPECT_STREQ(a.name, "a.sf2");
    EXPECT_EQ((std::vector<int>{a.instype, a.font_bank, a.font_preset, a.font_keynote, a.amp}),
              (std::vector<int>{1, 0, 5, -1, 20}));
    EXPECT_EQ((std::vector<int>{tonebank[0]->tone[2].font_keynote, c.font_bank, c.font_keynote, s.instype,
                                s.pan}),
              (std::vector<int>{60, 128, 35, 2, 0}));
}

// At 44100 Hz with a control ratio of 44.
TEST_F(ToneBanks, QuantityConversionsUseTheOutputRate)
{
    PlayMode mode = {};
    mode.rate = 44100;
    Restore mode_in_use(play_mode, &mode);
    Restore ratio(control_ratio, 44);

    const int TR = QUANTITY_UNIT_TYPE_TREMOLO_RATE, TS = QUANTITY_UNIT_TYPE_TREMOLO_SWEEP;
    const int VR = QUANTITY_UNIT_TYPE_VIBRATO_RATE, VS = QUANTITY_UNIT_TYPE_VIBRATO_SWEEP;
    const struct { const char* text; int type; int32 param, value; } cases[] = {
        {"5Hz", TR, 0, 163},   {"10", TS, 0, 248},  {"0", TS, 0, 0},      {"31", VR, 0, 4096},
        {"100ms", VR, 0, 6890}, {"20", VS, 300, 847}, {"0ms", VR, 0, 0},   {"0Hz", VR, 0, 0},
        {"0ms", TR, 0, 0},     {"0ms", VS, 300, 0},  // periods and rates of zero would divide by zero
        {"1", VS, 2000000000, 0x7fffffff},           // held at the int32 limit
        {"1ms", VS, 300, 445823},                     // the shortest sweep is still one
    };
    Quantity q;
    for (const auto& c : cases) {
        ASSERT_EQ(string_to_quantity(c.text, &q, (uint16)c.type), nullptr) << c.text;
        EXPECT_EQ(quantity_to_int(&q, c.param), c.value) << c.text << " type " << c.type;
    }
    ASSERT_EQ(string_to_quantity("2.5Hz", &q, (uint16)VR), nullptr);
    EXPECT_DOUBLE_EQ(quantity_to_float(&q, 0), 275.625);
    mode.rate = 22050;  // a period counted in output samples: half the rate, half the count
    EXPECT_DOUBLE_EQ(quantity_to_float(&q, 0), 137.8125);

    EXPECT_STREQ(string_to_quantity("x", &q, QUANTITY_UNIT_TYPE_INT), "Number expected");
    EXPECT_STREQ(string_to_quantity("1.5", &q, (uint16)TS), "integer expected");
    EXPECT_STREQ(string_to_quantity("5Hz", &q, (uint16)TS), "invalid parameter");
    EXPECT_EQ(stderr_of([&] {
                  EXPECT_STREQ(string_to_quantity("5", &q, 99), "Parameter error");
                  q.type = 99;
                  EXPECT_EQ(quantity_to_int(&q, 0), 0);
              }),
              "Internal parameter error (99)\nInternal parameter error (99)\n");
}

TEST_F(ToneBanks, InstrumentMapsFallBackToBankZero)
{
    int slot = alloc_instrument_map_bank(0, SC_55_TONE_MAP, 0);
    ASSERT_GE(slot, 128);
    set_instrument_map(SC_55_TONE_MAP, 0, 5, slot, 5);
    EXPECT_EQ(mapped(SC_55_TONE_MAP, 8, 5), (std::vector<int>{2, slot, 5}));
    EXPECT_EQ(mapped(SC_55_TONE_MAP, 8, 6), (std::vector<int>{2, 8, 6}));  // not mapped anywhere
    // Bank 0 itself, no map, and a bank out of range: no map.
    for (auto [map, set] : {std::pair<int, int>{SC_55_TONE_MAP, 0}, {INST_NO_MAP, 0}, {SC_55_TONE_MAP, 500}})
        EXPECT_EQ(mapped(map, set, 6)[0], 0) << map << " " << set;
    set_instrument_map(SC_55_TONE_MAP, 0, 128, slot, 1);  // a program past 127 is not stored
    EXPECT_EQ(mapped(SC_55_TONE_MAP, 0, 128), (std::vector<int>{0, 0, 128}));
    int drum = 0;
    EXPECT_EQ((std::vector<int>{mapname2id("sc88pro", nullptr), mapname2id("xgsfx126", &drum), drum,
                                mapname2id("SC55", nullptr)}),
              (std::vector<int>{SC_88PRO_TONE_MAP, XG_SFX126_MAP, 1, -1}));

    // 256 mapped banks at most; the 257th finds no slot. The drum sets have their own 256.
    free_instrument_map();
    for (int i = 0; i < 256; i++)
        ASSERT_EQ(alloc_instrument_map_bank(0, 1 + i / 128 * 2, i % 128), 128 + i) << i;  // sc55, sc88
    EXPECT_EQ(alloc_instrument_map_bank(0, XG_NORMAL_MAP, 0), -1);
    EXPECT_EQ(alloc_instrument_map_bank(0, SC_55_TONE_MAP, 5), 128 + 5);  // existing pair
    EXPECT_EQ(alloc_instrument_map_bank(1, XG_DRUM_MAP, 0), 128);
    EXPECT_EQ(read_config_text("bank xg 9\n").messages,
              "(configuration): line 1: No free tone bank available to map\n");
}

// Adds the words of text to an alternate-assignment list.
AlternateAssign* add_alt(AlternateAssign* list, const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> words{std::istream_iterator<std::string>(in), {}};
    std::vector<char*> ptrs;
    for (std::string& w : words)
        ptrs.push_back(&w[0]);
    return add_altassign_string(list, ptrs.data(), (int)ptrs.size());
}

// The notes of an assignment, '1' for each note in it, against the range from..to.
std::string notes_of(AlternateAssign* a)
{
    std::string s;
    for (int n = 0; n < 128; n++)
        s += (a->bits[n / 32] >> (n % 32)) & 1 ? '1' : '0';
    return s;
}

std::string note_range(int from, int to)
{
    return std::string(from, '0') + std::string(to - from + 1, '1') + std::string(127 - to, '0');
}

TEST_F(ToneBanks, AlternateAssignmentsAndRanges)
{
    AlternateAssign* list = add_alt(add_alt(nullptr, "1 2"), "clear 35-40");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->next, nullptr);
    EXPECT_EQ(notes_of(list), note_range(35, 40));
    list = add_alt(list, "50-");
    EXPECT_EQ(notes_of(list), note_range(50, 127));
    list = add_alt(list, "-40");
    EXPECT_EQ(notes_of(list), note_range(0, 40));
    // Reversed ranges are turned round; numbers are held to 0..127.
    list = add_alt(list, "40-35 999");
    EXPECT_EQ(notes_of(list), note_range(35, 40).substr(0, 127) + "1");
    AlternateAssign* all = add_alt(nullptr, "-99999999999");
    EXPECT_EQ(notes_of(all), note_range(0, 127));
    add_alt(all, "clear");
    EXPECT_EQ(find_altassign(list, 36), list);
    EXPECT_EQ(find_altassign(list, 1), list->next);  // 0..40 set
    EXPECT_EQ(find_altassign(list, 200), nullptr);
    EXPECT_EQ(add_alt(list, "clear"), nullptr);
    EXPECT_EQ(add_altassign_string(nullptr, nullptr, 0), nullptr);

    const struct { const char* text; bool ok; int start, end; } cases[] = {
        {"5", true, 5, 5},   {"10-20", true, 10, 20},   {"100-", true, 100, 127},
        {"-", true, 0, 127}, {"300-2", true, 127, 127}, {"x", false, 0, 0}, {"", false, 0, 0}};
    for (const auto& c : cases) {
        int s = -1, e = -1;
        EXPECT_EQ(string_to_7bit_range(c.text, &s, &e), c.ok) << c.text;
        EXPECT_EQ(std::make_tuple(s, e), std::make_tuple(c.start, c.end)) << c.text;
    }
}

TEST_F(ToneBanks, CopiesAreDeepAndFreeingKeepsScalars)
{
    ASSERT_EQ(patch("tremolo=1:2:3 rate=1,2 modvelf=3,4 tune=1 pan=left").status, 0);
    ToneBankElement copy = {};
    copy_tone_bank_element(&copy, &program0());
    ASSERT_NE(copy.trem, nullptr);
    EXPECT_TRUE(copy.trem != program0().trem && copy.trem[0] != program0().trem[0] &&
                copy.envrate[1] != program0().envrate[1] && copy.modenvvelf != program0().modenvvelf);
    EXPECT_STREQ(copy.name, "piano.pat");
    free_tone_bank_element(&copy);
    // The scalars stay.
    EXPECT_EQ(std::make_tuple(copy.name, copy.tremnum, copy.pan), std::make_tuple((char*)nullptr, 0, 0));
    // Copying a bank onto itself changes nothing.
    copybank(tonebank[0], tonebank[0], INST_NO_MAP, 0, 0);
    EXPECT_EQ(std::make_tuple(std::string(program0().name), program0().tremnum),
              std::make_tuple(std::string("piano.pat"), 1));
}

// The configuration is read again before every song. A program whose line reads the same
// keeps the instrument loaded for it (here the load mark stands for one); a line that
// changes anything that makes the sound drops it, so that the next song loads the new one.
TEST_F(ToneBanks, AChangedLineDropsTheLoadedInstrumentAndTheSameLineKeepsIt)
{
    const std::string base = "piano.pat amp=90 pan=left tune=1 rate=1:2 tremolo=1:2:3 fc=300";
    // Each case replaces one word of the line (or adds words when from is empty).
    const struct { const char *from, *to; bool kept; } cases[] = {
        {"", "", true},           {"", "comm=Piano", true},  // the display name only
        {"piano.pat", "other.pat", false}, {"amp=90", "amp=91", false},
        {"pan=left", "pan=right", false},  {"", "note=60", false},
        {"tune=1", "tune=1,0", false},     {"tune=1", "tune=2", false},
        {"rate=1:2", "rate=1:3", false},   {"tremolo=1:2:3", "tremolo=1:2:4", false},
        {"tremolo=1:2:3", "tremolo=1:2Hz:3", false}, {"fc=300", "fc=301", false},
        {"", "strip=tail", false},         {"", "keep=loop", false},
        {"", "amp=", false},  // a line that fails
        {"piano.pat amp=90 pan=left tune=1 rate=1:2 tremolo=1:2:3 fc=300", "%font piano.sf2 0 1", false},
    };
    for (const auto& c : cases) {
        std::string line = base;
        if (*c.from)
            line.replace(line.find(c.from), strlen(c.from), c.to);
        else if (*c.to)
            line += std::string(" ") + c.to;
        ASSERT_EQ(read_config_text("bank 0\n0 " + base + "\n").status, 0);
        tonebank[0]->tone[0].instrument = MAGIC_LOAD_INSTRUMENT;
        read_config_text("bank 0\n0 " + line + "\n");
        EXPECT_EQ(program0().instrument, c.kept ? MAGIC_LOAD_INSTRUMENT : nullptr) << line;
    }
    tonebank[0]->tone[0].instrument = nullptr;
}

}  // namespace
