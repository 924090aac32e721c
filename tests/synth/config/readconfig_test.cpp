// The configuration reader on good and bad text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config_fixture.h"
#include "support/tempdir.h"

namespace {

using ReadConfig = ConfigTest;

const std::string P = "(configuration): line ";

struct BadLine {
    const char* text;
    std::string message;  // everything the reader reports
};

// Every keyword's own messages: word counts, ranges and the missing bank.
TEST_F(ReadConfig, KeywordErrorMessages)
{
    const std::vector<BadLine> cases = {
        {"comm 5 Piano", P + "1: Must specify tone bank or drum set before assignment\n"},
        {"bank 0\ncomm 5", P + "2: syntax error\n"},
        {"bank 0\ncomm 128 Piano", P + "2: extension comm must be between 0 and 127\n"},
        {"bank 0\ntimeout -1 5", P + "2: extension timeout must be between 0 and 127\n"},
        {"timeout 1 5", P + "1: Must specify tone bank or drum set before assignment\n"},
        {"bank 0\ntimeout 1", P + "2: syntax error\n"},
        {"copydrumset", P + "1: No copydrumset number given\n"},
        {"copydrumset 128", P + "1: extension copydrumset must be between 0 and 127\n"},
        {"copydrumset 1", P + "1: Must specify tone bank or drum set before assignment\n"},
        {"copybank", P + "1: No copybank number given\n"},
        {"copybank 999", P + "1: extension copybank must be between 0 and 127\n"},
        {"copymap sc55", P + "1: syntax error\n"},
        {"copymap nomap sc55", P + "1: Invalid map name: nomap\n"},
        {"copymap sc55 nomap", P + "1: Invalid map name: nomap\n"},
        {"copymap sc55 xgdrum", P + "1: Map type should be matched\n"},
        {"HTTPproxy", P + "1: No proxy name given\n"},
        {"mailaddr", P + "1: No mail address given\n"},
        {"opt", P + "1: Syntax error\n"},
        {"opt p 1 2", P + "1: Syntax error\n"},
        {"opt y", P + "1: Invalid command line option\n"},
        {"opt p0", "Polyphony must be between 1 and 16644\n" + P + "1: Invalid command line option\n"},
        {"undef", P + "1: No undef number given\n"},
        {"undef 128", P + "1: extension undef must be between 0 and 127\n"},
        {"undef 5", P + "1: Must specify tone bank or drum set before assignment\n"},
        {"altassign 1-3", P + "1: Must specify tone bank or drum set before altassign\n"},
        {"drumset 0\naltassign", P + "2: No alternate assignment\n"},
        {"bank 0\nlegato 1", P + "2: syntax error\n"},
        {"bank 0\nlegato 128 1", P + "2: extension legato must be between 0 and 127\n"},
        {"bank 0\nlevel 0-5 128", P + "2: extension level must be between 0 and 127\n"},
        {"bank 0\nlevel 0-5", P + "2: syntax error\n"},
        {"bank 0\nreverbsend 1 -1", P + "2: extension reverbsend must be between 0 and 127\n"},
        {"bank 0\nplaynote 1 200", P + "2: extension playnotemust be between 0 and 127\n"},
        {"soundfont", P + "1: No soundfont file given\n"},
        {"soundfont a.sf2 loud", P + "1: bad patch option loud\n"},
        {"soundfont a.sf2 order=x", P + "1: order must be a digit\n"},
        {"font", P + "1: no font command\n"},
        {"font exclude", P + "1: No bank/preset/key is given\n"},
        {"font order 1", P + "1: No order/bank is given\n"},
        {"font exclude 0 1", P + "1: No soundfont is given\n"},
        {"progbase", P + "1: syntax error\n"},
        {"map sc55 0 0 0", P + "1: syntax error\n"},
        {"map nomap 0 0 0 0", P + "1: Invalid map name: nomap\n"},
        {"map sc55 0 0 0 128", P + "1: Invalid parameter\n"},
        {"map sc55drum 128 0 0 0", P + "1: Invalid parameter\n"},
        {"dir", P + "1: No directory given\n"},
        {"source", P + "1: No file name given\n"},
        {"default", P + "1: Must specify exactly one patch name\n"},
        {"bank", P + "1: No bank number given\n"},
        {"drumset", P + "1: No drum set number given\n"},
        {"bank 128", P + "1: Tone bank must be between 0 and 127\n"},
        {"drumset 128", P + "1: Drum set must be between 0 and 127\n"},
        {"bank xgdrum 0", P + "1: Invalid bank map name: xgdrum\n"},
        {"bank nomap 0", P + "1: Invalid bank map name: nomap\n"},
        {"bank 0 1", P + "1: syntax error\n"},
        {"0 piano", P + "1: Must specify tone bank or drum set before assignment\n"},
        {"bank 0\n128 piano", P + "2: Program must be between 0 and 127\n"},
        {"drumset 0\n128 kick", P + "2: Drum number must be between 0 and 127\n"},
        {"bank 0\n0 piano loud", P + "2: bad patch option loud\n"},
        {"bank 0\n0 piano amp=801", P + "2: amplification must be between 0 and 800\n"},
        {"bank 0\n0 piano amp=+5", P + "2: amplification must be between 0 and 800\n"},
        {"bank 0\n0 piano note=128", P + "2: note must be between 0 and 127\n"},
        {"bank 0\n0 piano pan=101", P + "2: panning must be left, right, center, or between -100 and 100\n"},
        {"bank 0\n0 piano keep=tail", P + "2: keep must be env or loop\n"},
        {"bank 0\n0 piano strip=all", P + "2: strip must be env, loop, or tail\n"},
        {"bank 0\n0 %font", P + "2: Syntax error\n"},
        {"bank 0\n0 %sample", P + "2: Syntax error\n"},
        {"bank 0\n0 piano tremolo=1.5:2:3",
         P + "2: tremolo: parameter 1 of item 1: integer expected (1.5)\n"},
        {"bank 0\n0 piano vibrato=1:2:3,4:5xs",
         P + "2: vibrato: parameter 2 of item 2: invalid parameter (5xs)\n"},
        {"bank 0\n0 piano tremolo=1:ms", P + "2: tremolo: parameter 2 of item 1: Number expected (ms)\n"},
        {"bank 0\n0 piano vibrato=1:2:3Hz", P + "2: vibrato: parameter 3 of item 1: invalid parameter (3Hz)\n"},
        {"nonsense word", P + "1: syntax error\n"},
    };
    for (const BadLine& c : cases) {
        reset_configuration_state();
        ReadResult r = read_config_text(c.text);
        EXPECT_EQ(r.status, 1) << c.text;
        EXPECT_EQ(r.messages, c.message) << c.text;
    }
}

TEST_F(ReadConfig, WarningsAndAcceptedLinesCountNoError)
{
    ctl->verbosity = 2;
    ReadResult r = read_config_text(
        "mailaddr nobody\nmailaddr me@example.org\nHTTPproxy host:80\nFTPproxy host\n"
        "bank 0\naltassign 1-3\n#extension unknownword 1 2\n# a comment\n\n   \n"
        "soundfont a.sf2 order=1 cutoff=0 reso=2 amp=-3 other=5\nfont exclude 0 1 2\n"
        "font order 1 0 2 3\nfont something\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.messages, P + "1: Warning: Mail address nobody is not valid\n" + P +
                              "6: Warning: Not a drumset altassign (ignored)\n");
    ASSERT_NE(soundfont_requests, nullptr);
    EXPECT_STREQ(soundfont_requests->file, "a.sf2");
    EXPECT_EQ(soundfont_requests->order, 1);
    EXPECT_EQ(soundfont_requests->cutoff, 0);
    EXPECT_EQ(soundfont_requests->reso, 2);
    EXPECT_EQ(soundfont_requests->amp, -3);
    r = read_config_text("soundfont a.sf2 remove\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(soundfont_requests, nullptr);
}

TEST_F(ReadConfig, ExtensionLinesAndTrailingComments)
{
    ReadResult r = read_config_text("bank 0\n#extension comm 5 Grand,Piano\n"
                                    "#extension timeout 5 3\n");
    EXPECT_EQ(r.status, 0) << r.messages;
    EXPECT_STREQ(tonebank[0]->tone[5].comment, "Grand Piano");
    EXPECT_EQ(tonebank[0]->tone[5].loop_timeout, 3);
    EXPECT_EQ(read_config_text("unknownword 5\n").messages, P + "1: syntax error\n");

    r = read_config_text("dir /a # comment\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_STREQ(pathlist->path, "/a");
    EXPECT_STREQ(pathlist->next->path, DEFAULT_PATH);
    r = read_config_text("dir /b## comment more\n");
    EXPECT_STREQ(pathlist->path, "/b");
    EXPECT_STREQ(pathlist->next->path, "/a");
    r = read_config_text("dir /c#d /e#\n");
    EXPECT_STREQ(pathlist->path, "/e#");
    EXPECT_STREQ(pathlist->next->path, "/c#d");

    // "0#" followed by a space ends the line; at the end of the line it stays "0#" and still
    // reads as bank 0.
    r = read_config_text("drumset 0# comment\n35 kick\n");
    EXPECT_EQ(r.status, 0) << r.messages;
    EXPECT_STREQ(drumset[0]->tone[35].name, "kick");
    r = read_config_text("drumset 0#\n36 snare\n");
    EXPECT_EQ(r.status, 0) << r.messages;
    EXPECT_STREQ(drumset[0]->tone[36].name, "snare");
    r = read_config_text("drumset 0#");  // no newline after it either
    EXPECT_EQ(r.status, 0) << r.messages;
}

TEST_F(ReadConfig, QuotedWords)
{
    ReadResult r = read_config_text("bank 0\n0 \"grand piano.pat\" amp=50\n1 'bright piano' \n"
                                    "2 \"unclosed amp=60\n3 x comm=\"a\n");
    EXPECT_EQ(r.status, 0) << r.messages;
    EXPECT_STREQ(tonebank[0]->tone[0].name, "grand piano.pat");
    EXPECT_EQ(tonebank[0]->tone[0].amp, 50);
    EXPECT_STREQ(tonebank[0]->tone[1].name, "bright piano");
    EXPECT_STREQ(tonebank[0]->tone[2].name, "\"unclosed");
    EXPECT_EQ(tonebank[0]->tone[2].amp, 60);
    // A quote inside a word is part of the word.
    EXPECT_STREQ(tonebank[0]->tone[3].comment, "\"a");

    // Quotes group words only where a word starts with one.
    r = read_config_text("bank 0\n4 x comm=\"a b\"\n");
    EXPECT_EQ(r.messages, P + "2: bad patch option b\"\n");
    r = read_config_text("bank 0\n0 \"grand piano.pat\"amp=50\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.messages, P + "2: there must be at least one whitespace between string terminator "
                              "(\") and the next parameter\n");
    r = read_config_text("bank 0\n0 'x'y\n");
    EXPECT_EQ(r.messages, P + "2: there must be at least one whitespace between string terminator "
                              "(') and the next parameter\n");
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
    r = read_config_text(line + "\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_STREQ(pathlist->path, "/d128");
    int entries = 0;
    for (PathList* p = pathlist; p != nullptr; p = p->next)
        entries++;
    EXPECT_EQ(entries, 129 + 2);  // 129 directories, the 1100-byte one and the default

    // A patch line of 130 words with every option valid.
    std::string patch = "bank 0\n0 piano";
    for (int i = 0; i < 128; i++)
        patch += " amp=" + std::to_string(i);
    r = read_config_text(patch + " amp=999\n");
    EXPECT_EQ(r.status, 0) << r.messages;
    EXPECT_EQ(tonebank[0]->tone[0].amp, 127);
}

TEST_F(ReadConfig, ProgbaseShiftsProgramsAndDrumSets)
{
    ReadResult r = read_config_text("progbase 1\nbank 0\n1 piano\ndrumset 1\n36 kick\n");
    EXPECT_EQ(r.status, 0) << r.messages;
    EXPECT_STREQ(tonebank[0]->tone[0].name, "piano");
    EXPECT_STREQ(drumset[0]->tone[36].name, "kick");  // drum notes are not shifted
    r = read_config_text("progbase 1\nbank 0\n0 piano\n");
    EXPECT_EQ(r.messages, P + "3: Program must be between 1 and 128\n");
    r = read_config_text("progbase 1\ndrumset 0\n");
    EXPECT_EQ(r.messages, P + "2: Drum set must be between 1 and 128\n");
}

TEST_F(ReadConfig, BankLinesPatchLinesAndMaps)
{
    ReadResult r = read_config_text("bank sc55 8\n0 piano8\nbank 0 5 piano5 amp=20\n"
                                    "drumset xgdrum 0 36 kick\ndefault some/patch.pat\n");
    EXPECT_EQ(r.status, 0) << r.messages;
    int set = 8, prog = 0;
    EXPECT_EQ(instrument_map(SC_55_TONE_MAP, &set, &prog), 1);
    EXPECT_GE(set, 128);
    ASSERT_NE(tonebank[set], nullptr);
    EXPECT_STREQ(tonebank[set]->tone[0].name, "piano8");
    EXPECT_STREQ(tonebank[0]->tone[5].name, "piano5");
    EXPECT_EQ(tonebank[0]->tone[5].amp, 20);
    set = 0;
    prog = 36;
    EXPECT_EQ(instrument_map(XG_DRUM_MAP, &set, &prog), 1);
    EXPECT_STREQ(drumset[set]->tone[36].name, "kick");
    EXPECT_STREQ(default_instrument_name, "some/patch.pat");

    // copybank into a mapped bank records the map for every copied program; undef drops one.
    r = read_config_text("bank 0\n7 seven\nbank sc88 3\ncopybank 0\nundef 5\n");
    EXPECT_EQ(r.status, 0) << r.messages;
    set = 3;
    prog = 7;
    EXPECT_EQ(instrument_map(SC_88_TONE_MAP, &set, &prog), 1);
    EXPECT_STREQ(tonebank[set]->tone[7].name, "seven");
    EXPECT_EQ(tonebank[set]->tone[5].name, nullptr);
    // copymap copies every bank of one map to another.
    r = read_config_text("copymap sc8850 sc88\n");
    EXPECT_EQ(r.status, 0) << r.messages;
    set = 3;
    prog = 7;
    EXPECT_EQ(instrument_map(SC_8850_TONE_MAP, &set, &prog), 1);
    EXPECT_STREQ(tonebank[set]->tone[7].name, "seven");
    // A map line: tone maps shift programs by progbase.
    r = read_config_text("progbase 1\nmap gm2 121 1 0 2\n");
    EXPECT_EQ(r.status, 0) << r.messages;
    set = 121;
    prog = 0;
    EXPECT_EQ(instrument_map(GM2_TONE_MAP, &set, &prog), 1);
    EXPECT_EQ(set, 0);
    EXPECT_EQ(prog, 1);
    // Per-program keywords and program ranges.
    r = read_config_text("progbase 0\ndrumset 0\nlevel 0-2,126- 100\nreverbsend 40 5\nplaynote - 60\n"
                         "altassign clear 35-40\naltassign 50-\n");
    EXPECT_EQ(r.status, 0) << r.messages;
    EXPECT_EQ(drumset[0]->tone[2].tva_level, 100);
    EXPECT_EQ(drumset[0]->tone[3].tva_level, 0);  // untouched
    EXPECT_EQ(drumset[0]->tone[127].tva_level, 100);
    EXPECT_EQ(drumset[0]->tone[40].reverb_send, 5);
    EXPECT_EQ(drumset[0]->tone[99].play_note, 60);
    EXPECT_NE(find_altassign(drumset[0]->alt, 36), nullptr);
    EXPECT_NE(find_altassign(drumset[0]->alt, 127), nullptr);
    EXPECT_EQ(find_altassign(drumset[0]->alt, 45), nullptr);
}

TEST_F(ReadConfig, TenthErrorGivesUpTheFile)
{
    std::string text;
    for (int i = 0; i < 12; i++)
        text += "bad" + std::to_string(i) + "\n";
    text += "dir /never\n";
    ReadResult r = read_config_text(text);
    EXPECT_EQ(r.status, 1);
    std::string expect;
    for (int i = 1; i <= 10; i++)
        expect += P + std::to_string(i) + ": syntax error\n";
    expect += "Too many errors... Give up read (configuration)\n";
    EXPECT_EQ(r.messages, expect);
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
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.messages, "Probable source loop in configuration files\n");
    EXPECT_EQ(rcf_count, 0);
    EXPECT_STREQ(pathlist->path, "/in-loop");

    // The configuration-file option is nested the same way.
    std::string self = t.file("self.cfg");
    t.write("self.cfg", "opt c " + self + "\n");
    reset_configuration_state();
    r = read_config_named(self);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.messages.find("Probable source loop in configuration files"), std::string::npos);
    EXPECT_EQ(rcf_count, 0);

    // A file that is not there.
    reset_configuration_state();
    r = read_config_named(t.file("missing.cfg"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.messages, t.file("missing.cfg") + ": No such file or directory\n");
}

TEST_F(ReadConfig, OptLines)
{
    int saved_voices = voices, saved_max = max_voices;
    ReadResult r = read_config_text("opt p64\nopt p 48\nopt --polyphony=40\nopt --polyphony 32\n"
                                    "opt -p 20\nopt a\nopt --no-anti-alias\n");
    EXPECT_EQ(r.status, 0) << r.messages;
    EXPECT_EQ(voices, 20);
    EXPECT_EQ(max_voices, 20);
    EXPECT_EQ(antialiasing_allowed, 0);
    voices = saved_voices;
    max_voices = saved_max;

    TempDir t;
    std::string inner = t.write("inner.cfg", "dir /from-option\n");
    got_a_configuration = 0;
    r = read_config_text("opt c" + inner + "\n");
    EXPECT_EQ(r.status, 0) << r.messages;
    EXPECT_EQ(got_a_configuration, 1);
    EXPECT_STREQ(pathlist->path, "/from-option");
    got_a_configuration = 0;
}

// An unknown long option (or one without its value) ends the program; help and version end it
// with status 0.
TEST_F(ReadConfig, OptionsThatEndTheProgram)
{
    EXPECT_EXIT(read_config_file("opt --no-such-option\n", 1), ::testing::ExitedWithCode(1),
                "Could not understand option : try --help");
    EXPECT_EXIT(read_config_file("opt --polyphony\n", 1), ::testing::ExitedWithCode(1),
                "Could not understand option : try --help");
    EXPECT_EXIT(read_config_file("opt h\n", 1), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(read_config_file("opt v\n", 1), ::testing::ExitedWithCode(0), "");
}

}  // namespace
