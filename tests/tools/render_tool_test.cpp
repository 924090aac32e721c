// corvelle-render as a person runs it, and each failure named with a status that says whether
// the whole music was written.
#include "song_analysis.h"

using namespace songtest;

const std::string whistles = CORVELLE_TEST_DATA "/songs/wood_whistles.mid";

using RenderTool = SongToolTest;

TEST_F(RenderTool, EachRunEndsWithTheRightStatusAndNamesWhatFailed)
{
    const std::string cfg = "-c '" + config + "' ", song = " '" + whistles + "'";
    struct Case {
        std::string args, prefix, pipe;
        int status;
        std::vector<std::string> err, out;
    } cases[] = {
        {"--help", "", "", 0, {}, {"Usage: corvelle-render [options] FILE.mid", "-o file"}},
        {cfg, "", "", 1, {"Usage: corvelle-render"}, {}},
        {cfg + "-Ol -o -" + song, "", "", 0, {"MIDI file: "}, {"ME_NOTEON", "ME_EOT"}},
        {cfg + "-o /nonexistent-dir/out.wav" + song, "", "", 1, {"/nonexistent-dir/out.wav"}, {}},
        {cfg + "-o /dev/full" + song, "", "", 1, {"/dev/full: write failed: No space left on device"}, {}},
        // 200 kB of a song of two minutes: the write past the limit fails and the song ends there.
        {cfg + "-o big.wav" + song, "ulimit -f 200;", "", 1, {"big.wav: write failed: File too large"}, {}},
        // Standard output read by a program that stops after 1000 bytes.
        {cfg + "-o -" + song, "", " | head -c 1000 >/dev/null", 1,
         {"standard output: write failed: Broken pipe"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prefix + c.args + c.pipe);
        const ToolRun r = run_tool(dir.path(), c.args, scratch, c.prefix, c.pipe);
        EXPECT_EQ(r.status, c.status) << r.err;
        for (const std::string& text : c.err)
            EXPECT_TRUE(has(r.err, text)) << r.err;
        for (const std::string& text : c.out)
            EXPECT_TRUE(has(r.out, text)) << r.out.substr(0, 2000);
        EXPECT_FALSE(has(r.out, "MIDI file: "));  // messages stay on standard error
    }
    const size_t written = read_whole_file(dir.file("big.wav")).size();  // blocks of 512 or 1024
    EXPECT_TRUE(written >= 200u * 512 && written <= 200u * 1024) << written;
}

// Inputs that cannot be read are named and leave no output; the good one among them is written.
TEST_F(RenderTool, UnreadableInputsAmongGoodOnes)
{
    const std::string text = scratch.write("notes.mid", "These are my notes, not a song.\n");
    dir.mkdir("folder.mid");
    const ToolRun r = render("'" + text + "' folder.mid '" + whistles + "' missing.mid");
    EXPECT_EQ(r.status, 1);
    for (const char* m : {"notes.mid: Not a MIDI file!", "folder.mid: Is a directory",
                          "missing.mid: No such file or directory"})
        EXPECT_TRUE(has(r.err, m)) << m << "\n" << r.err;
    EXPECT_EQ(files_ending(dir.path(), ".wav"), std::vector<std::string>{"wood_whistles.wav"});
    EXPECT_GT(read_wave(dir.file("wood_whistles.wav")).left.size(), 44100u);
}

// Patch files are opened when a song needs them: each that cannot be read is named, and the whole
// song is played at the rate asked for with the instruments that did load.
TEST_F(RenderTool, PatchesGoneOrUnreadableAtPlaybackAreNamed)
{
    const std::string gone = dir.file("gone.pat"), folder = dir.mkdir("folder.pat"),
                      junk = dir.write("junk.pat", std::string(300, 'x'));
    dir.write("faulty.cfg", "dir " + pats + "\nsource " + pats + "/patches.cfg\nbank 0\n46 " +
                                gone + "\n76 " + folder + "\n79 " + junk + "\n");
    const ToolRun r = run_tool(dir.path(), "-c faulty.cfg -s 22050 -o out.wav '" + whistles + "'", scratch);
    EXPECT_EQ(r.status, 2);  // written, but not the whole music
    const std::string load = "Couldn't load instrument ";
    for (const std::string& m : std::vector<std::string>{
             "3 instruments could not be loaded", load + gone, load + folder, load + junk,
             "gone.pat' can't be found", "folder.pat: Is a directory", "junk.pat: not an instrument"})
        EXPECT_TRUE(has(r.err, m)) << m << "\n" << r.err;
    const Wave w = read_wave(dir.file("out.wav"));
    EXPECT_EQ(w.rate, 22050);
    EXPECT_GT(w.left.size(), 100u * 22050);
    EXPECT_LT(w.left.size(), 150u * 22050);
}

// A lone copy of the program with an empty home finds no configuration, unless the system has one.
TEST_F(RenderTool, NoConfigurationIsNamed)
{
    if (!read_whole_file(CORVELLE_SYSCONFDIR "/CORVELLE.CFG").empty() ||
        !read_whole_file(CORVELLE_SYSCONFDIR "/corvelle.cfg").empty())
        GTEST_SKIP() << "this machine has a configuration in " CORVELLE_SYSCONFDIR;
    const std::string copy = scratch.mkdir("bin") + "/corvelle-render";
    ASSERT_EQ(system(("cp '" CORVELLE_BINARY_DIR "/corvelle-render' '" + copy + "'").c_str()), 0);
    const std::string err = scratch.file("copy-stderr.txt");
    EXPECT_NE(system(("cd '" + dir.path() + "' && HOME='" + scratch.mkdir("home") + "' '" + copy +
                      "' '" + whistles + "' 2>'" + err + "'").c_str()), 0);
    EXPECT_TRUE(has(read_whole_file(err), "Could not find corvelle.cfg."));
}
