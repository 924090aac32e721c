// Patch lines and their options, quantities, instrument maps and alternate assignments.
#include <gtest/gtest.h>

#include <cmath>
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

const ToneBankElement& program0()
{
    return tonebank[0]->tone[0];
}

TEST_F(ToneBanks, PanNoteAmpAndDefaults)
{
    struct PanCase {
        const char* text;
        int pan;
    } pans[] = {{"-100", 0}, {"0", 63}, {"100", 127}, {"center", 64}, {"left", 0},
                {"right", 127}, {"xyz", 63}, {"-5", 60}};
    for (const PanCase& c : pans) {
        ReadResult r = patch(std::string("pan=") + c.text);
        EXPECT_EQ(r.status, 0) << c.text << r.messages;
        EXPECT_EQ(program0().pan, c.pan) << c.text;
    }
    for (const char* bad : {"101", "-200", "99999999999999999999"})
        EXPECT_EQ(patch(std::string("pan=") + bad).status, 1) << bad;

    ASSERT_EQ(patch("note=60").status, 0);
    EXPECT_EQ(program0().note, 60);
    ASSERT_EQ(program0().scltunenum, 1);
    EXPECT_EQ(program0().scltune[0], 100);
    ASSERT_EQ(patch("amp=800").status, 0);
    EXPECT_EQ(program0().amp, 800);
    EXPECT_EQ(patch("amp=801").status, 1);
    EXPECT_EQ(patch("amp=+5").status, 1);

    // A patch line resets what the element held: the note and its scale tuning are gone.
    ASSERT_EQ(patch("").status, 0);
    const ToneBankElement& e = program0();
    EXPECT_EQ(e.note, -1);
    EXPECT_EQ(e.pan, -1);
    EXPECT_EQ(e.amp, -1);
    EXPECT_EQ(e.scltunenum, 0);
    EXPECT_EQ(e.strip_loop, -1);
    EXPECT_EQ(e.reverb_send, -1);
    EXPECT_EQ(e.instype, 0);
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
    ASSERT_EQ(e.tunenum, 2);
    EXPECT_FLOAT_EQ(e.tune[0], 1.5f);
    EXPECT_FLOAT_EQ(e.tune[1], -2.0f);
    ASSERT_EQ(e.envratenum, 1);
    const int want_rate[6] = {1, -1, 3, -1, -1, -1};
    for (int j = 0; j < 6; j++)
        EXPECT_EQ(e.envrate[0][j], want_rate[j]) << j;
    ASSERT_EQ(e.envofsnum, 2);
    for (int j = 0; j < 6; j++)
        EXPECT_EQ(e.envofs[0][j], -1);
    const int want_ofs[6] = {5, 6, 7, 8, 9, 10};  // a seventh value is ignored
    for (int j = 0; j < 6; j++)
        EXPECT_EQ(e.envofs[1][j], want_ofs[j]) << j;
    ASSERT_EQ(e.sclnotenum, 3);
    EXPECT_EQ(e.sclnote[1], 0);
    EXPECT_EQ(e.sclnote[2], 62);
    EXPECT_EQ(e.fcnum, 1);
    EXPECT_EQ(e.resonum, 2);
    EXPECT_EQ(e.reso[1], 4);
    EXPECT_EQ(e.strip_envelope, 0);
    EXPECT_EQ(e.strip_loop, 1);
    EXPECT_EQ(e.strip_tail, 1);
    EXPECT_STREQ(e.comment, "Big Piano");
    EXPECT_EQ(e.key_to_fc, 5);
    EXPECT_EQ(e.vel_to_fc, -3);
    EXPECT_EQ(e.vel_to_resonance, 2);
    EXPECT_EQ(e.trempitchnum, 3);
    EXPECT_EQ(e.modfc[0], -4);

    // The same option twice: the later list replaces the earlier (no leak under sanitizers).
    ASSERT_EQ(patch("rate=1 rate=2,3 tremolo=1 tremolo=2,3").status, 0);
    EXPECT_EQ(program0().envratenum, 2);
    EXPECT_EQ(program0().tremnum, 2);

    // A comment equal to the former name follows the new name.
    ASSERT_EQ(read_config_text("bank 0\n9 old.pat\n9 new.pat comm=old.pat\n").status, 0);
    EXPECT_STREQ(tonebank[0]->tone[9].comment, "new.pat");
}

TEST_F(ToneBanks, FontAndSampleForms)
{
    ReadResult r = read_config_text("bank 0\n1 %font a.sf2 0 5 amp=20\n2 %font b.sf2 0 5 60\n"
                                    "drumset 0\n35 %font c.sf2 128 0 35\n3 %sample s.wav pan=left\n");
    ASSERT_EQ(r.status, 0) << r.messages;
    const ToneBankElement& a = tonebank[0]->tone[1];
    EXPECT_EQ(a.instype, 1);
    EXPECT_STREQ(a.name, "a.sf2");
    EXPECT_EQ(a.font_bank, 0);
    EXPECT_EQ(a.font_preset, 5);
    EXPECT_EQ(a.font_keynote, -1);
    EXPECT_EQ(a.amp, 20);
    EXPECT_EQ(tonebank[0]->tone[2].font_keynote, 60);
    const ToneBankElement& c = drumset[0]->tone[35];
    EXPECT_EQ(c.font_bank, 128);
    EXPECT_EQ(c.font_keynote, 35);
    EXPECT_EQ(drumset[0]->tone[3].instype, 2);
    EXPECT_EQ(drumset[0]->tone[3].pan, 0);
}

TEST_F(ToneBanks, ModulationQuantities)
{
    ReadResult r = patch("tremolo=10:5Hz:20,10:5 vibrato=0:300ms:7,:2");
    ASSERT_EQ(r.status, 0) << r.messages;
    const ToneBankElement& e = program0();
    ASSERT_EQ(e.tremnum, 2);
    const Quantity* t = e.trem[0];
    EXPECT_EQ(t[0].type, QUANTITY_UNIT_TYPE_TREMOLO_SWEEP);
    EXPECT_EQ(t[0].unit, QUANTITY_UNIT_NAME_GUS);
    EXPECT_EQ(t[0].value.i, 10);
    EXPECT_EQ(t[1].type, QUANTITY_UNIT_TYPE_TREMOLO_RATE);
    EXPECT_EQ(t[1].unit, QUANTITY_UNIT_NAME_HZ);
    EXPECT_DOUBLE_EQ(t[1].value.f, 5.0);
    EXPECT_EQ(t[2].type, QUANTITY_UNIT_TYPE_INT);
    EXPECT_EQ(t[2].value.i, 20);
    EXPECT_EQ(e.trem[1][2].type, QUANTITY_UNIT_TYPE_UNDEFINED);  // depth not given
    EXPECT_EQ(e.trem[1][1].unit, QUANTITY_UNIT_NAME_GUS);
    ASSERT_EQ(e.vibnum, 2);
    EXPECT_EQ(e.vib[0][1].type, QUANTITY_UNIT_TYPE_VIBRATO_RATE);
    EXPECT_EQ(e.vib[0][1].unit, QUANTITY_UNIT_NAME_MSEC);
    EXPECT_EQ(e.vib[0][1].value.i, 300);
    EXPECT_EQ(e.vib[1][0].type, QUANTITY_UNIT_TYPE_UNDEFINED);
    EXPECT_EQ(e.vib[1][1].value.i, 2);

    // A failed list leaves nothing behind.
    EXPECT_EQ(patch("tremolo=1:2,1.5").status, 1);
    EXPECT_EQ(program0().tremnum, 0);
    EXPECT_EQ(program0().trem, nullptr);
}

TEST_F(ToneBanks, QuantityConversionsUseTheOutputRate)
{
    PlayMode mode = {};
    mode.rate = 44100;
    PlayMode* saved_mode = play_mode;
    int32 saved_ratio = control_ratio;
    play_mode = &mode;
    control_ratio = 44;

    Quantity q;
    ASSERT_EQ(string_to_quantity("5Hz", &q, QUANTITY_UNIT_TYPE_TREMOLO_RATE), nullptr);
    EXPECT_EQ(quantity_to_int(&q, 0), (int32)(5.0 * 44 * 32768 / 44100));
    ASSERT_EQ(string_to_quantity("10", &q, QUANTITY_UNIT_TYPE_TREMOLO_SWEEP), nullptr);
    EXPECT_EQ(quantity_to_int(&q, 0), (int32)(44.0 * 38 * 65536 / (44100.0 * 10)));
    ASSERT_EQ(string_to_quantity("0", &q, QUANTITY_UNIT_TYPE_TREMOLO_SWEEP), nullptr);
    EXPECT_EQ(quantity_to_int(&q, 0), 0);
    ASSERT_EQ(string_to_quantity("31", &q, QUANTITY_UNIT_TYPE_VIBRATO_RATE), nullptr);
    EXPECT_EQ(quantity_to_int(&q, 0), 4096);
    ASSERT_EQ(string_to_quantity("100ms", &q, QUANTITY_UNIT_TYPE_VIBRATO_RATE), nullptr);
    EXPECT_EQ(quantity_to_int(&q, 0), 44100 * 1000 / (64 * 100));
    ASSERT_EQ(string_to_quantity("2.5Hz", &q, QUANTITY_UNIT_TYPE_VIBRATO_RATE), nullptr);
    EXPECT_DOUBLE_EQ(quantity_to_float(&q, 0), 44100.0 / (64 * 2.5));
    ASSERT_EQ(string_to_quantity("20", &q, QUANTITY_UNIT_TYPE_VIBRATO_SWEEP), nullptr);
    EXPECT_EQ(quantity_to_int(&q, 300), (int32)(300.0 * 38 * 65536 / (20 * 44100.0)));
    // Periods and rates of zero would divide by zero: they convert to 0.
    for (const char* zero : {"0ms", "0Hz"}) {
        ASSERT_EQ(string_to_quantity(zero, &q, QUANTITY_UNIT_TYPE_VIBRATO_RATE), nullptr) << zero;
        EXPECT_EQ(quantity_to_int(&q, 0), 0) << zero;
    }
    ASSERT_EQ(string_to_quantity("0ms", &q, QUANTITY_UNIT_TYPE_TREMOLO_RATE), nullptr);
    EXPECT_EQ(quantity_to_int(&q, 0), 0);
    ASSERT_EQ(string_to_quantity("0ms", &q, QUANTITY_UNIT_TYPE_VIBRATO_SWEEP), nullptr);
    EXPECT_EQ(quantity_to_int(&q, 300), 0);
    // Huge values are held at the int32 limits.
    ASSERT_EQ(string_to_quantity("1", &q, QUANTITY_UNIT_TYPE_VIBRATO_SWEEP), nullptr);
    EXPECT_EQ(quantity_to_int(&q, 2000000000), 0x7fffffff);

    EXPECT_STREQ(string_to_quantity("x", &q, QUANTITY_UNIT_TYPE_INT), "Number expected");
    EXPECT_STREQ(string_to_quantity("1.5", &q, QUANTITY_UNIT_TYPE_TREMOLO_SWEEP),
                 "integer expected");
    EXPECT_STREQ(string_to_quantity("5Hz", &q, QUANTITY_UNIT_TYPE_TREMOLO_SWEEP),
                 "invalid parameter");
    testing::internal::CaptureStderr();
    EXPECT_STREQ(string_to_quantity("5", &q, 99), "Parameter error");
    q.type = 99;
    EXPECT_EQ(quantity_to_int(&q, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Internal parameter error (99)\nInternal parameter error (99)\n");

    play_mode = saved_mode;
    control_ratio = saved_ratio;
}

TEST_F(ToneBanks, InstrumentMapsFallBackToBankZero)
{
    int slot = alloc_instrument_map_bank(0, SC_55_TONE_MAP, 0);
    ASSERT_GE(slot, 128);
    set_instrument_map(SC_55_TONE_MAP, 0, 5, slot, 5);
    int set = 8, prog = 5;
    EXPECT_EQ(instrument_map(SC_55_TONE_MAP, &set, &prog), 2);
    EXPECT_EQ(set, slot);
    set = 8;
    prog = 6;
    EXPECT_EQ(instrument_map(SC_55_TONE_MAP, &set, &prog), 2);
    EXPECT_EQ(set, 8);  // not mapped anywhere: unchanged
    set = 0;
    EXPECT_EQ(instrument_map(SC_55_TONE_MAP, &set, &prog), 0);
    EXPECT_EQ(instrument_map(INST_NO_MAP, &set, &prog), 0);
    set = 500;  // out of range: no map
    EXPECT_EQ(instrument_map(SC_55_TONE_MAP, &set, &prog), 0);
    EXPECT_EQ(mapname2id("sc88pro", nullptr), SC_88PRO_TONE_MAP);
    int drum = 0;
    EXPECT_EQ(mapname2id("xgsfx126", &drum), XG_SFX126_MAP);
    EXPECT_EQ(drum, 1);
    EXPECT_EQ(mapname2id("SC55", nullptr), -1);
}

TEST_F(ToneBanks, TheTwoHundredFiftySeventhMappedBankFindsNoSlot)
{
    for (int i = 0; i < 256; i++) {
        int map = 1 + i / 128 * 2;  // sc55 then sc88 tone maps
        ASSERT_EQ(alloc_instrument_map_bank(0, map, i % 128), 128 + i) << i;
    }
    EXPECT_EQ(alloc_instrument_map_bank(0, XG_NORMAL_MAP, 0), -1);
    EXPECT_EQ(alloc_instrument_map_bank(0, SC_55_TONE_MAP, 5), 128 + 5);  // existing pair
    // The drum sets have their own 256 slots.
    EXPECT_EQ(alloc_instrument_map_bank(1, XG_DRUM_MAP, 0), 128);
    ReadResult r = read_config_text("bank xg 9\n");
    EXPECT_EQ(r.messages, "(configuration): line 1: No free tone bank available to map\n");
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

// The notes of an assignment, '1' for each note in it.
std::string notes_of(AlternateAssign* a)
{
    std::string s;
    for (int n = 0; n < 128; n++)
        s += (a->bits[n / 32] >> (n % 32)) & 1 ? '1' : '0';
    return s;
}

std::string note_range(int from, int to)
{
    std::string s(128, '0');
    for (int n = from; n <= to; n++)
        s[n] = '1';
    return s;
}

TEST_F(ToneBanks, AlternateAssignments)
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
    std::string want = note_range(35, 40);
    want[127] = '1';
    EXPECT_EQ(notes_of(list), want);
    AlternateAssign* all = add_alt(nullptr, "-99999999999");
    EXPECT_EQ(notes_of(all), note_range(0, 127));
    add_alt(all, "clear");
    EXPECT_EQ(find_altassign(list, 36), list);
    EXPECT_EQ(find_altassign(list, 1), list->next);  // 0..40 set
    EXPECT_EQ(find_altassign(list, 200), nullptr);
    EXPECT_EQ(add_alt(list, "clear"), nullptr);
    EXPECT_EQ(add_altassign_string(nullptr, nullptr, 0), nullptr);
}

TEST_F(ToneBanks, SevenBitRanges)
{
    const struct {
        const char* text;
        bool ok;
        int start, end;
    } cases[] = {{"5", true, 5, 5},      {"10-20", true, 10, 20},   {"100-", true, 100, 127},
                 {"-", true, 0, 127},    {"300-2", true, 127, 127}, {"x", false, 0, 0},
                 {"", false, 0, 0}};
    for (const auto& c : cases) {
        int s = -1, e = -1;
        EXPECT_EQ(string_to_7bit_range(c.text, &s, &e), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(s, c.start) << c.text;
            EXPECT_EQ(e, c.end) << c.text;
        }
    }
}

TEST_F(ToneBanks, CopiesAreDeepAndFreeingKeepsScalars)
{
    ASSERT_EQ(patch("tremolo=1:2:3 rate=1,2 modvelf=3,4 tune=1 pan=left").status, 0);
    ToneBankElement copy = {};
    copy_tone_bank_element(&copy, &program0());
    ASSERT_NE(copy.trem, nullptr);
    EXPECT_NE(copy.trem, program0().trem);
    EXPECT_NE(copy.trem[0], program0().trem[0]);
    EXPECT_NE(copy.envrate[1], program0().envrate[1]);
    EXPECT_NE(copy.modenvvelf, program0().modenvvelf);
    EXPECT_STREQ(copy.name, "piano.pat");
    free_tone_bank_element(&copy);
    EXPECT_EQ(copy.name, nullptr);
    EXPECT_EQ(copy.tremnum, 0);
    EXPECT_EQ(copy.pan, 0);  // scalars stay
    // Copying a bank onto itself changes nothing.
    copybank(tonebank[0], tonebank[0], INST_NO_MAP, 0, 0);
    EXPECT_STREQ(program0().name, "piano.pat");
    EXPECT_EQ(program0().tremnum, 1);
}

}  // namespace

namespace {

// The configuration is read again before every song. A program whose line reads the same
// keeps the instrument loaded for it (here the load mark stands for one); a line that
// changes anything that makes the sound drops it, so that the next song loads the new one.
TEST_F(ToneBanks, AChangedLineDropsTheLoadedInstrumentAndTheSameLineKeepsIt)
{
    const std::string base = "piano.pat amp=90 pan=left tune=1 rate=1:2 tremolo=1:2:3 fc=300";
    struct Case {
        std::string line;
        bool kept;
    } cases[] = {
        {base, true},
        {base + " comm=Piano", true},  // the display name only
        {"other.pat amp=90 pan=left tune=1 rate=1:2 tremolo=1:2:3 fc=300", false},
        {"piano.pat amp=91 pan=left tune=1 rate=1:2 tremolo=1:2:3 fc=300", false},
        {"piano.pat amp=90 pan=right tune=1 rate=1:2 tremolo=1:2:3 fc=300", false},
        {base + " note=60", false},
        {"piano.pat amp=90 pan=left tune=1,0 rate=1:2 tremolo=1:2:3 fc=300", false},
        {"piano.pat amp=90 pan=left tune=2 rate=1:2 tremolo=1:2:3 fc=300", false},
        {"piano.pat amp=90 pan=left tune=1 rate=1:3 tremolo=1:2:3 fc=300", false},
        {"piano.pat amp=90 pan=left tune=1 rate=1:2 tremolo=1:2:4 fc=300", false},
        {"piano.pat amp=90 pan=left tune=1 rate=1:2 tremolo=1:2Hz:3 fc=300", false},
        {"piano.pat amp=90 pan=left tune=1 rate=1:2 tremolo=1:2:3 fc=301", false},
        {base + " strip=tail", false},
        {base + " keep=loop", false},
        {"%font piano.sf2 0 1", false},
        {base + " amp=", false},  // a line that fails
    };
    for (const Case& c : cases) {
        ASSERT_EQ(read_config_text("bank 0\n0 " + base + "\n").status, 0);
        tonebank[0]->tone[0].instrument = MAGIC_LOAD_INSTRUMENT;
        read_config_text("bank 0\n0 " + c.line + "\n");
        EXPECT_EQ(program0().instrument, c.kept ? MAGIC_LOAD_INSTRUMENT : nullptr) << c.line;
    }
    tonebank[0]->tone[0].instrument = nullptr;
}

}  // namespace
