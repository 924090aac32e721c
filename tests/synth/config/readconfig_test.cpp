// The configuration reader: good and bad text, patch lines, quantities, maps, the free patches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "config_fixture.h"
#include "instrum/instrum.h"
#include "output/output.h"
#include "support/patch_set.h"
#include "support/tempdir.h"

namespace {

using ReadConfig = ConfigTest;

const std::string P = "(configuration): line ";

// Every keyword's own messages (after "(configuration): line "): word counts, ranges, no bank.
TEST_F(ReadConfig, KeywordErrorMessages)
{
    const std::string M = ": Must specify tone bank or drum set before assignment", S = ": syntax error";
    const std::string R = " must be between 0 and 127", Q = "2: there must be at least one whitespace "
                                                          "between string terminator (";
    const struct { const char* text; std::string message; } cases[] = {
        {"comm 5 Piano", "1" + M},             {"bank 0\ncomm 5", "2" + S},
        {"bank 0\ncomm 128 Piano", "2: extension comm" + R},
        {"bank 0\ntimeout -1 5", "2: extension timeout" + R},
        {"timeout 1 5", "1" + M},              {"bank 0\ntimeout 1", "2" + S},
        {"copydrumset", "1: No copydrumset number given"},
        {"copydrumset 128", "1: extension copydrumset" + R},
        {"copydrumset 1", "1" + M},            {"copybank", "1: No copybank number given"},
        {"copybank 999", "1: extension copybank" + R},
        {"copymap sc55", "1" + S},             {"copymap nomap sc55", "1: Invalid map name: nomap"},
        {"copymap sc55 nomap", "1: Invalid map name: nomap"},
        {"copymap sc55 xgdrum", "1: Map type should be matched"}, {"HTTPproxy", "1: No proxy name given"},
        {"mailaddr", "1: No mail address given"},
        {"opt", "1: Syntax error"},            {"opt p 1 2", "1: Syntax error"},
        {"opt y", "1: Invalid command line option"}, {"undef", "1: No undef number given"},
        {"undef 128", "1: extension undef" + R}, {"undef 5", "1" + M},
        {"altassign 1-3", "1: Must specify tone bank or drum set before altassign"},
        {"drumset 0\naltassign", "2: No alternate assignment"},
        {"bank 0\nlegato 1", "2" + S},         {"bank 0\nlegato 128 1", "2: extension legato" + R},
        {"bank 0\nlevel 0-5 128", "2: extension level" + R}, {"bank 0\nlevel 0-5", "2" + S},
        {"bank 0\nreverbsend 1 -1", "2: extension reverbsend" + R},
        {"bank 0\nplaynote 1 200", "2: extension playnotemust be between 0 and 127"},
        {"soundfont", "1: No soundfont file given"}, {"soundfont a.sf2 loud", "1: bad patch option loud"},
        {"soundfont a.sf2 order=x", "1: order must be a digit"},
        {"soundfont a.sf2 attenuation=1.5", "1: attenuation must be a number from 0 to 1"},
        {"soundfont a.sf2 attenuation=0.4x", "1: attenuation must be a number from 0 to 1"},
        {"soundfont a.sf2 chorus=16.5", "1: chorus must be a number from 0 to 16"},
        {"soundfont a.sf2 chorus=", "1: chorus must be a number from 0 to 16"},
        {"font", "1: no font command"},        {"font exclude", "1: No bank/preset/key is given"},
        {"font order 1", "1: No order/bank is given"}, {"font exclude 0 1", "1: No soundfont is given"},
        {"progbase", "1" + S},                 {"map sc55 0 0 0", "1" + S},
        {"map nomap 0 0 0 0", "1: Invalid map name: nomap"}, {"map sc55 0 0 0 128", "1: Invalid parameter"},
        {"map sc55drum 128 0 0 0", "1: Invalid parameter"},
        {"dir", "1: No directory given"},      {"source", "1: No file name given"},
        {"default", "1: Must specify exactly one patch name"},
        {"bank", "1: No bank number given"},   {"drumset", "1: No drum set number given"},
        {"bank 128", "1: Tone bank" + R},      {"drumset 128", "1: Drum set" + R},
        {"bank xgdrum 0", "1: Invalid bank map name: xgdrum"},
        {"bank nomap 0", "1: Invalid bank map name: nomap"},
        {"bank 0 1", "1" + S},                 {"0 piano", "1" + M}, {"bank 0\n128 piano", "2: Program" + R},
        {"drumset 0\n128 kick", "2: Drum number" + R}, {"bank 0\n0 piano loud", "2: bad patch option loud"},
        {"bank 0\n0 piano amp=801", "2: amplification must be between 0 and 800"},
        {"bank 0\n0 piano amp=+5", "2: amplification must be between 0 and 800"},
        {"bank 0\n0 piano note=128", "2: note" + R},
        {"bank 0\n0 piano pan=101", "2: panning must be left, right, center, or between -100 and 100"},
        {"bank 0\n0 piano pan=-200", "2: panning must be left, right, center, or between -100 and 100"},
        {"bank 0\n0 piano keep=tail", "2: keep must be env or loop"},
        {"bank 0\n0 piano strip=all", "2: strip must be env, loop, or tail"},
        {"bank 0\n0 %font", "2: Syntax error"}, {"bank 0\n0 %sample", "2: Syntax error"},
        {"bank 0\n0 piano tremolo=1.5:2:3", "2: tremolo: parameter 1 of item 1: integer expected (1.5)"},
        {"bank 0\n0 piano vibrato=1:2:3,4:5xs", "2: vibrato: parameter 2 of item 2: invalid parameter (5xs)"},
        {"bank 0\n0 piano tremolo=1:ms", "2: tremolo: parameter 2 of item 1: Number expected (ms)"},
        {"bank 0\n0 piano vibrato=1:2:3Hz", "2: vibrato: parameter 3 of item 1: invalid parameter (3Hz)"},
        // Quotes group words only where a word starts with one.
        {"bank 0\n4 x comm=\"a b\"", "2: bad patch option b\""},
        {"bank 0\n0 \"grand piano.pat\"amp=50", Q + "\") and the next parameter"},
        {"bank 0\n0 'x'y", Q + "') and the next parameter"}, {"nonsense word", "1" + S},
    };
    for (const auto& c : cases) {
        reset_configuration_state();
        EXPECT_EQ(read_config_text(c.text), (ReadResult{1, P + c.message + "\n"})) << c.text;
    }
}

TEST_F(ReadConfig, WarningsAndAcceptedLinesCountNoError)
{
    ctl->verbosity = 2;
    EXPECT_EQ(read_config_text(
                  "mailaddr nobody\nmailaddr me@example.org\nHTTPproxy host:80\nFTPproxy host\n"
                  "bank 0\naltassign 1-3\n#extension unknownword 1 2\n# a comment\n\n   \n"
                  "soundfont a.sf2 order=1 cutoff=0 reso=0 amp=-3 attenuation=0.25 chorus=2.5 other=5\n"
                  "font exclude 0 1 2\nfont order 1 0 2 3\nfont something\nfont exclude 0 4\n"),
              (ReadResult{0, P + "1: Warning: Mail address nobody is not valid\n" + P +
                                 "6: Warning: Not a drumset altassign (ignored)\n"}));
    const SoundFontRequest* sf = soundfont_requests;
    ASSERT_NE(sf, nullptr);
    EXPECT_EQ(std::make_tuple(std::string(sf->file), sf->order, sf->cutoff, sf->reso, sf->amp,
                              sf->attenuation, sf->chorus),
              std::make_tuple(std::string("a.sf2"), 1, 0, 0, -3, 0.25, 2.5));
    // A rule with a key covers that key only, one without covers every key of the preset.
    EXPECT_EQ((std::vector<int>{soundfont_preset_order(sf, 0, 1, 2), soundfont_preset_order(sf, 0, 1, 5),
                                soundfont_preset_order(sf, 0, 4, 60), soundfont_preset_order(sf, 0, 2, 3)}),
              (std::vector<int>{-1, 1, -1, 1}));
    EXPECT_EQ(read_config_text("soundfont a.sf2 remove\n").status, 0);
    EXPECT_EQ(soundfont_requests, nullptr);
}

// "#extension" lines, comments after words, quoted words.
TEST_F(ReadConfig, ExtensionLinesCommentsAndQuotes)
{
    EXPECT_TRUE(reads_clean("bank 0\n#extension comm 5 Grand,Piano\n#extension timeout 5 3\n"));
    EXPECT_STREQ(tonebank[0]->tone[5].comment, "Grand Piano");
    EXPECT_EQ(tonebank[0]->tone[5].loop_timeout, 3);

    // "#" ends a line only at the start of a word; "0#" at the end of a line still reads as 0.
    EXPECT_TRUE(reads_clean("dir /a # comment\ndir /b## comment more\ndir /c#d /e#\n"
                            "drumset 0# comment\n35 kick\ndrumset 0#\n36 snare\ndrumset 0#"));
    EXPECT_EQ(path_list_text(), "/e#;/c#d;/b;/a;" DEFAULT_PATH ";");
    EXPECT_EQ(std::string(drumset[0]->tone[35].name) + " " + drumset[0]->tone[36].name, "kick snare");

    // A quote inside a word, or one that is not closed, is part of the word.
    EXPECT_TRUE(reads_clean("bank 0\n0 \"grand piano.pat\" amp=50\n1 'bright piano' \n"
                            "2 \"unclosed amp=60\n3 x comm=\"a\n"));
    const ToneBankElement* t = tonebank[0]->tone;
    EXPECT_EQ((std::vector<std::string>{t[0].name, t[1].name, t[2].name, t[3].comment}),
              (std::vector<std::string>{"grand piano.pat", "bright piano", "\"unclosed", "\"a"}));
    EXPECT_EQ(std::make_tuple(t[0].amp, t[2].amp), std::make_tuple(50, 60));
}

TEST_F(ReadConfig, LongLinesAndManyWords)
{
    // A line over 1023 bytes is read in pieces; the rest counts as a further line.
    const std::string dir = "/" + std::string(1100, 'a'), text = "dir " + dir + "\nbank 0\n";
    EXPECT_EQ(read_config_text(text), (ReadResult{1, P + "2: syntax error\n"}));
    EXPECT_EQ(std::string(pathlist->path), dir.substr(0, 1019));

    // Words past the 130th are ignored.
    std::string line = "dir";
    for (int i = 0; i < 140; i++)
        line += " /d" + std::to_string(i);
    EXPECT_EQ(read_config_text(line + "\n").status, 0);
    EXPECT_STREQ(pathlist->path, "/d128");
    std::string paths = path_list_text();
    EXPECT_EQ(std::count(paths.begin(), paths.end(), ';'), 129 + 2);  // and the long one, the default

    // A patch line of 130 words with every option valid.
    std::string patch = "bank 0\n0 piano";
    for (int i = 0; i < 128; i++)
        patch += " amp=" + std::to_string(i);
    EXPECT_TRUE(reads_clean(patch + " amp=999\n"));
    EXPECT_EQ(tonebank[0]->tone[0].amp, 127);
}

TEST_F(ReadConfig, BankLinesPatchLinesAndMaps)
{
    EXPECT_TRUE(reads_clean("bank sc55 8\n0 piano8\nbank 0 5 piano5 amp=20\n"
                            "drumset xgdrum 0 36 kick\ndefault some/patch.pat\n"));
    std::vector<int> m = mapped(SC_55_TONE_MAP, 8, 0);
    EXPECT_EQ(m[0], 1);
    ASSERT_TRUE(m[1] >= 128 && tonebank[m[1]] != nullptr);
    EXPECT_STREQ(tonebank[m[1]]->tone[0].name, "piano8");
    EXPECT_EQ(std::make_tuple(std::string(tonebank[0]->tone[5].name), tonebank[0]->tone[5].amp),
              std::make_tuple(std::string("piano5"), 20));
    m = mapped(XG_DRUM_MAP, 0, 36);
    EXPECT_EQ(m[0], 1);
    EXPECT_STREQ(drumset[m[1]]->tone[36].name, "kick");
    EXPECT_STREQ(default_instrument_name, "some/patch.pat");

    // copybank into a mapped bank maps every copied program; undef drops one; copymap copies a map.
    EXPECT_TRUE(reads_clean("bank 0\n7 seven\nbank sc88 3\ncopybank 0\nundef 5\n"
                            "copymap sc8850 sc88\n"));
    for (int map : {SC_88_TONE_MAP, SC_8850_TONE_MAP}) {
        m = mapped(map, 3, 7);
        EXPECT_EQ(m[0], 1) << map;
        EXPECT_STREQ(tonebank[m[1]]->tone[7].name, "seven") << map;
        EXPECT_EQ(tonebank[m[1]]->tone[5].name, nullptr) << map;
    }
    // A map line: tone maps shift programs by progbase.
    EXPECT_TRUE(reads_clean("progbase 1\nmap gm2 121 1 0 2\n"));
    EXPECT_EQ(mapped(GM2_TONE_MAP, 121, 0), (std::vector<int>{1, 0, 1}));
    // Per-program keywords and program ranges.
    EXPECT_TRUE(reads_clean("progbase 0\ndrumset 0\nlevel 0-2,126- 100\nreverbsend 40 5\n"
                            "playnote - 60\naltassign clear 35-40\naltassign 50-\n"));
    const ToneBankElement* d = drumset[0]->tone;
    EXPECT_EQ((std::vector<int>{d[2].tva_level, d[3].tva_level, d[127].tva_level}),
              (std::vector<int>{100, 0, 100}));
    EXPECT_EQ(std::make_tuple(d[40].reverb_send, d[99].play_note), std::make_tuple(5, 60));
    AlternateAssign* alt = drumset[0]->alt;
    EXPECT_TRUE(find_altassign(alt, 36) && find_altassign(alt, 127) && !find_altassign(alt, 45));
}

TEST_F(ReadConfig, TenthErrorGivesUpTheFile)
{
    std::string text, expect;
    for (int i = 0; i < 12; i++)
        text += "bad" + std::to_string(i) + "\n";
    for (int i = 1; i <= 10; i++)
        expect += P + std::to_string(i) + ": syntax error\n";
    EXPECT_EQ(read_config_text(text + "dir /never\n"),
              (ReadResult{1, expect + "Too many errors... Give up read (configuration)\n"}));
    EXPECT_STREQ(pathlist->path, DEFAULT_PATH);
}

TEST_F(ReadConfig, NestedFilesCountOnceAndSourceLoopsEndTheWholeChain)
{
    TempDir t;
    std::string bad = t.write("bad.cfg", "x1\nx2\nx3\n");
    ReadResult r = read_config_text("source " + bad + " " + bad + "\ndir /after\n");
    EXPECT_EQ(r.status, 1);
    // Three errors in each nested file, two counted here; reading went on.
    EXPECT_EQ(r.messages.find("Too many"), std::string::npos);
    EXPECT_STREQ(pathlist->path, "/after");

    std::string loop = t.file("loop.cfg");
    t.write("loop.cfg", "dir /in-loop\nsource " + loop + "\ndir /not-reached\n");
    std::string outer = t.write("outer.cfg", "source " + loop + "\ndir /outer-not-reached\n");
    reset_configuration_state();
    EXPECT_EQ(read_config_text(outer, true),
              (ReadResult{2, "Probable source loop in configuration files\n"}));
    EXPECT_EQ(std::make_tuple(rcf_count, std::string(pathlist->path)),
              std::make_tuple(0, std::string("/in-loop")));

    // The configuration-file option is nested the same way.
    std::string self = t.file("self.cfg");
    t.write("self.cfg", "opt c " + self + "\n");
    reset_configuration_state();
    r = read_config_text(self, true);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.messages.find("Probable source loop in configuration files"), std::string::npos);
    EXPECT_EQ(rcf_count, 0);

    reset_configuration_state();
    EXPECT_EQ(read_config_text(t.file("missing.cfg"), true),
              (ReadResult{1, t.file("missing.cfg") + ": No such file or directory\n"}));
}

TEST_F(ReadConfig, OptLines)
{
    Restore voices_used(voices), polyphony(max_voices);
    EXPECT_TRUE(reads_clean("opt p64\nopt p 48\nopt --polyphony=40\nopt --polyphony 32\n"
                            "opt -p 20\nopt a\nopt --no-anti-alias\n"));
    EXPECT_EQ(std::make_tuple(voices, max_voices, antialiasing_allowed), std::make_tuple(20, 20, 0));
    EXPECT_EQ(read_config_text("opt p0"),
              (ReadResult{1, "Polyphony must be between 1 and 16644\n" + P +
                                 "1: Invalid command line option\n"}));

    TempDir t;
    std::string inner = t.write("inner.cfg", "dir /from-option\n");
    got_a_configuration = 0;
    EXPECT_TRUE(reads_clean("opt c" + inner + "\n"));
    EXPECT_EQ(std::make_tuple(got_a_configuration, std::string(pathlist->path)),
              std::make_tuple(1, std::string("/from-option")));
    got_a_configuration = 0;

    // An unknown long option, or one without its value, exits with 1; help and version with 0.
    for (const char* text : {"opt --no-such-option\n", "opt --polyphony\n"})
        EXPECT_EXIT(read_config_file(text, 1), ::testing::ExitedWithCode(1),
                    "Could not understand option : try --help");
    for (const char* text : {"opt h\n", "opt v\n"})
        EXPECT_EXIT(read_config_file(text, 1), ::testing::ExitedWithCode(0), "");
}

const std::string patch_dir = CORVELLE_SOURCE_DIR "/data/freepats";

using FreePats = ConfigTest;

// Reading a real configuration: the free patch set's patches.cfg through a corvelle.cfg.
TEST_F(FreePats, CorvelleCfgSourcingPatchesCfgFillsBankAndDrumSetZero)
{
    // Fails (where other tests skip) so that a set-up that lost the patch set is noticed.
    ASSERT_TRUE(std::filesystem::exists(patch_dir + "/patches.cfg"))
        << "the patch set is not installed: run scripts/setup.sh (make test does)";
    TempDir t;
    std::string cfg = t.write("corvelle.cfg", "dir " + patch_dir + "\nsource " + patch_dir +
                                                  "/patches.cfg\n");
    EXPECT_EQ(read_config_text(cfg, true), (ReadResult{0, ""}));

    // Each "number name" line names its element's patch, found through the search path.
    size_t lines = 0, tones = 0, drums = 0;
    for (const PatchEntry& e : read_patch_set(patch_dir + "/patches.cfg")) {
        ToneBank* bank = (e.drum ? drumset : tonebank)[e.bank];
        const char* name = bank != nullptr ? bank->tone[e.number].name : nullptr;
        ASSERT_NE(name, nullptr) << e.name;
        EXPECT_EQ(name, e.name);
        InputFile* tf = open_file(name, 1, OF_NORMAL);
        ASSERT_NE(tf, nullptr) << name;
        char magic[12] = {};
        EXPECT_EQ(tf_read(magic, 1, 11, tf), 11);
        EXPECT_EQ(std::string(magic, 8), "GF1PATCH");
        close_file(tf);
        lines++;
    }
    for (int i = 0; i < 128; i++)
        tones += tonebank[0]->tone[i].name != nullptr, drums += drumset[0]->tone[i].name != nullptr;
    EXPECT_TRUE(tones > 50 && drums > 30) << tones << " " << drums;
    EXPECT_EQ(tones + drums, lines);  // no element the file does not name
    EXPECT_EQ(drumset[0]->tone[35].amp, 100);
}

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
        EXPECT_EQ(patch(std::string("pan=") + c.first), (ReadResult{0, ""})) << c.first;
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
    EXPECT_EQ(std::string(e.name) + " " + e.comment, "piano.pat piano.pat");
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

    ASSERT_TRUE(reads_clean("bank 0\n1 %font a.sf2 0 5 amp=20\n2 %font b.sf2 0 5 60\n"
                            "drumset 0\n35 %font c.sf2 128 0 35\n3 %sample s.wav pan=left\n"));
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

// Adds the words to an alternate-assignment list.
AlternateAssign* add_alt(AlternateAssign* list, std::vector<std::string> words)
{
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
    AlternateAssign* list = add_alt(add_alt(nullptr, {"1", "2"}), {"clear", "35-40"});
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->next, nullptr);
    EXPECT_EQ(notes_of(list), note_range(35, 40));
    list = add_alt(list, {"50-"});
    EXPECT_EQ(notes_of(list), note_range(50, 127));
    list = add_alt(list, {"-40"});
    EXPECT_EQ(notes_of(list), note_range(0, 40));
    // Reversed ranges are turned round; numbers are held to 0..127.
    list = add_alt(list, {"40-35", "999"});
    EXPECT_EQ(notes_of(list), note_range(35, 40).substr(0, 127) + "1");
    AlternateAssign* all = add_alt(nullptr, {"-99999999999"});
    EXPECT_EQ(notes_of(all), note_range(0, 127));
    add_alt(all, {"clear"});
    EXPECT_EQ(find_altassign(list, 36), list);
    EXPECT_EQ(find_altassign(list, 1), list->next);  // 0..40 set
    EXPECT_EQ(find_altassign(list, 200), nullptr);
    EXPECT_EQ(add_alt(list, {"clear"}), nullptr);
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

// Read again before every song, a line that reads the same keeps the instrument loaded for it
// (the load mark stands for one); one that changes anything in the sound drops it.
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
