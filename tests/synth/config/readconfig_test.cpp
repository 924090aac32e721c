// The configuration reader on good and bad text, and on the free patch set's configuration.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "config_fixture.h"
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
        ReadResult r = read_config_text(c.text);
        EXPECT_EQ(r.status, 1) << c.text;
        EXPECT_EQ(r.messages, P + c.message + "\n") << c.text;
    }
}

TEST_F(ReadConfig, WarningsAndAcceptedLinesCountNoError)
{
    ctl->verbosity = 2;
    ReadResult r = read_config_text(
        "mailaddr nobody\nmailaddr me@example.org\nHTTPproxy host:80\nFTPproxy host\n"
        "bank 0\naltassign 1-3\n#extension unknownword 1 2\n# a comment\n\n   \n"
        "soundfont a.sf2 order=1 cutoff=0 reso=0 amp=-3 attenuation=0.25 chorus=2.5 other=5\nfont exclude 0 1 2\n"
        "font order 1 0 2 3\nfont something\nfont exclude 0 4\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.messages, P + "1: Warning: Mail address nobody is not valid\n" + P +
                              "6: Warning: Not a drumset altassign (ignored)\n");
    const SoundFontRequest* sf = soundfont_requests;
    ASSERT_NE(sf, nullptr);
    EXPECT_EQ(std::make_tuple(std::string(sf->file), sf->order, sf->cutoff, sf->reso, sf->amp, sf->attenuation,
                              sf->chorus), std::make_tuple(std::string("a.sf2"), 1, 0, 0, -3, 0.25, 2.5));
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
    ReadResult r = read_config_text("bank 0\n#extension comm 5 Grand,Piano\n#extension timeout 5 3\n");
    EXPECT_EQ(r.status, 0) << r.messages;
    EXPECT_STREQ(tonebank[0]->tone[5].comment, "Grand Piano");
    EXPECT_EQ(tonebank[0]->tone[5].loop_timeout, 3);

    // "#" ends a line only at the start of a word; "0#" at the end of a line still reads as 0.
    r = read_config_text("dir /a # comment\ndir /b## comment more\ndir /c#d /e#\n"
                         "drumset 0# comment\n35 kick\ndrumset 0#\n36 snare\ndrumset 0#");
    EXPECT_EQ(r.status, 0) << r.messages;
    EXPECT_EQ(path_list_text(), "/e#;/c#d;/b;/a;" DEFAULT_PATH ";");
    EXPECT_EQ(std::string(drumset[0]->tone[35].name) + " " + drumset[0]->tone[36].name, "kick snare");

    // A quote inside a word, or one that is not closed, is part of the word.
    r = read_config_text("bank 0\n0 \"grand piano.pat\" amp=50\n1 'bright piano' \n"
                         "2 \"unclosed amp=60\n3 x comm=\"a\n");
    EXPECT_EQ(r.status, 0) << r.messages;
    const ToneBankElement* t = tonebank[0]->tone;
    EXPECT_EQ((std::vector<std::string>{t[0].name, t[1].name, t[2].name, t[3].comment}),
              (std::vector<std::string>{"grand piano.pat", "bright piano", "\"unclosed", "\"a"}));
    EXPECT_EQ(std::make_tuple(t[0].amp, t[2].amp), std::make_tuple(50, 60));
}

TEST_F(ReadConfig, LongLinesAndManyWords)
{
    // A line over 1023 bytes is read in pieces; the rest counts as a further line.
    std::string dir = "/" + std::string(1100, 'a');
    ReadResult r = read_config_text("dir " + dir + "\nbank 0\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::string(pathlist->path), dir.substr(0, 1019));
    EXPECT_EQ(r.messages, P + "2: syntax error\n");

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
    r = read_config_text(patch + " amp=999\n");
    EXPECT_EQ(r.status, 0) << r.messages;
    EXPECT_EQ(tonebank[0]->tone[0].amp, 127);
}

TEST_F(ReadConfig, BankLinesPatchLinesAndMaps)
{
    ReadResult r = read_config_text("bank sc55 8\n0 piano8\nbank 0 5 piano5 amp=20\n"
                                    "drumset xgdrum 0 36 kick\ndefault some/patch.pat\n");
    EXPECT_EQ(r.status, 0) << r.messages;
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

    // copybank into a mapped bank records the map for every copied program; undef drops one;
    // copymap copies every bank of one map to another.
    r = read_config_text("bank 0\n7 seven\nbank sc88 3\ncopybank 0\nundef 5\ncopymap sc8850 sc88\n");
    EXPECT_EQ(r.status, 0) << r.messages;
    for (int map : {SC_88_TONE_MAP, SC_8850_TONE_MAP}) {
        m = mapped(map, 3, 7);
        EXPECT_EQ(m[0], 1) << map;
        EXPECT_STREQ(tonebank[m[1]]->tone[7].name, "seven") << map;
        EXPECT_EQ(tonebank[m[1]]->tone[5].name, nullptr) << map;
    }
    // A map line: tone maps shift programs by progbase.
    r = read_config_text("progbase 1\nmap gm2 121 1 0 2\n");
    EXPECT_EQ(r.status, 0) << r.messages;
    EXPECT_EQ(mapped(GM2_TONE_MAP, 121, 0), (std::vector<int>{1, 0, 1}));
    // Per-program keywords and program ranges.
    r = read_config_text("progbase 0\ndrumset 0\nlevel 0-2,126- 100\nreverbsend 40 5\nplaynote - 60\n"
                         "altassign clear 35-40\naltassign 50-\n");
    EXPECT_EQ(r.status, 0) << r.messages;
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
    ReadResult r = read_config_text(text + "dir /never\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.messages, expect + "Too many errors... Give up read (configuration)\n");
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
    r = read_config_named(outer);
    EXPECT_EQ(std::make_tuple(r.status, r.messages, rcf_count, std::string(pathlist->path)),
              std::make_tuple(2, std::string("Probable source loop in configuration files\n"), 0,
                              std::string("/in-loop")));

    // The configuration-file option is nested the same way.
    std::string self = t.file("self.cfg");
    t.write("self.cfg", "opt c " + self + "\n");
    reset_configuration_state();
    r = read_config_named(self);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.messages.find("Probable source loop in configuration files"), std::string::npos);
    EXPECT_EQ(rcf_count, 0);

    reset_configuration_state();
    r = read_config_named(t.file("missing.cfg"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.messages, t.file("missing.cfg") + ": No such file or directory\n");
}

TEST_F(ReadConfig, OptLines)
{
    Restore voices_used(voices), polyphony(max_voices);
    ReadResult r = read_config_text("opt p64\nopt p 48\nopt --polyphony=40\nopt --polyphony 32\n"
                                    "opt -p 20\nopt a\nopt --no-anti-alias\n");
    EXPECT_EQ(r.status, 0) << r.messages;
    EXPECT_EQ(std::make_tuple(voices, max_voices, antialiasing_allowed), std::make_tuple(20, 20, 0));
    r = read_config_text("opt p0");
    EXPECT_EQ(r.messages, "Polyphony must be between 1 and 16644\n" + P + "1: Invalid command line option\n");

    TempDir t;
    std::string inner = t.write("inner.cfg", "dir /from-option\n");
    got_a_configuration = 0;
    r = read_config_text("opt c" + inner + "\n");
    EXPECT_EQ(r.status, 0) << r.messages;
    EXPECT_EQ(std::make_tuple(got_a_configuration, std::string(pathlist->path)),
              std::make_tuple(1, std::string("/from-option")));
    got_a_configuration = 0;

    // An unknown long option (or one without its value) ends the program; help and version end
    // it with status 0.
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
    ReadResult r = read_config_named(cfg);
    EXPECT_EQ(std::make_tuple(r.status, r.messages), std::make_tuple(0, std::string()));

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

}  // namespace
