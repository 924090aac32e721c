// corvelle-render as a person runs it, and when the world fails it: every song becomes a WAV
// file, the event list goes to standard output, and each failure (input, output, patches)
// is named in a message with a status that says whether the whole music was written.
#include "song_analysis.h"

using namespace songtest;

namespace {

const std::string busy = CORVELLE_TEST_DATA "/songs/busy_schedule.mid";
const std::string whistles = CORVELLE_TEST_DATA "/songs/wood_whistles.mid";

bool has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

}  // namespace

using RenderTool = SongToolTest;

TEST_F(RenderTool, NamedOutputAndTheEventList)
{
    ToolRun r = render("-s 22050 -o out.wav '" + busy + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    const Wave w = read_wave(dir.file("out.wav"));
    EXPECT_EQ(w.rate, 22050);
    EXPECT_GT(w.left.size(), 100u * 22050);
    EXPECT_LT(w.left.size(), 150u * 22050);

    r = render("-Ol -o - '" + busy + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.out, "ME_NOTEON") && has(r.out, "ME_EOT"));
    EXPECT_TRUE(has(r.err, "MIDI file: "));  // messages stay on standard error
    EXPECT_FALSE(has(r.out, "MIDI file: "));
}

TEST_F(RenderTool, InputsThatCannotBeReadFail)
{
    const std::string text = scratch.write("notes.mid", "These are my notes, not a song.\n");
    ToolRun r = render("'" + text + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "Not a MIDI file!")) << r.err;
    EXPECT_TRUE(read_whole_file(dir.file("notes.wav")).empty());  // no empty output left behind

    dir.mkdir("folder.mid");
    r = render("folder.mid");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "folder.mid: Is a directory")) << r.err;
    EXPECT_TRUE(read_whole_file(dir.file("folder.wav")).empty());

    // One bad file among good ones: the good one is written, the status still says failure.
    r = render("'" + text + "' '" + whistles + "' '" + scratch.file("missing.mid") + "'");
    EXPECT_NE(r.status, 0);
    EXPECT_GT(read_wave(dir.file("wood_whistles.wav")).left.size(), 44100u);
}

TEST_F(RenderTool, OutputsThatCannotTakeTheSongFailWithTheReason)
{
    ToolRun r = render("-o /nonexistent-dir/out.wav '" + whistles + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "/nonexistent-dir/out.wav")) << r.err;

    r = render("-o /dev/full '" + whistles + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "/dev/full: write failed: No space left on device")) << r.err;

    // 200 kB of a song of two minutes: the write past the limit fails and the song ends there.
    r = run_tool(dir.path(), "-c '" + config + "' -o big.wav '" + whistles + "'", scratch,
                 "ulimit -f 200;");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "big.wav: write failed: File too large")) << r.err;
    size_t written = read_whole_file(dir.file("big.wav")).size();  // blocks of 512 or 1024 bytes
    EXPECT_TRUE(written >= 200u * 512 && written <= 200u * 1024) << written;

    // Standard output read by a program that stops after 1000 bytes.
    r = run_tool(dir.path(), "-c '" + config + "' -o - '" + whistles + "'", scratch, "",
                 " | head -c 1000 >/dev/null");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "standard output: write failed: Broken pipe")) << r.err;
}

// The configuration only names patch files; they are opened when a song needs them. One that
// has vanished, one that is a directory and one that is not a patch each get the loader's
// message, and the song is played with the instruments that did load.
TEST_F(RenderTool, PatchesGoneOrUnreadableAtPlaybackAreNamed)
{
    const std::string gone = dir.file("gone.pat"), folder = dir.mkdir("folder.pat"),
                      junk = dir.write("junk.pat", std::string(300, 'x'));
    dir.write("faulty.cfg", "dir " + pats + "\nsource " + pats + "/patches.cfg\nbank 0\n46 " +
                                gone + "\n76 " + folder + "\n79 " + junk + "\n");
    ToolRun r = run_tool(dir.path(), "-c faulty.cfg -o out.wav '" + whistles + "'", scratch);
    EXPECT_EQ(r.status, 2);  // written, but not the whole music
    EXPECT_TRUE(has(r.err, "3 instruments could not be loaded")) << r.err;
    for (const std::string& f : {gone, folder, junk})
        EXPECT_TRUE(has(r.err, "Couldn't load instrument " + f)) << f << "\n" << r.err;
    EXPECT_TRUE(has(r.err, "gone.pat' can't be found")) << r.err;
    EXPECT_TRUE(has(r.err, "folder.pat: Is a directory")) << r.err;
    EXPECT_TRUE(has(r.err, "junk.pat: not an instrument")) << r.err;
    EXPECT_GT(read_whole_file(dir.file("out.wav")).size(), 100u * 44100 * 4);  // the whole song
}

TEST_F(RenderTool, HelpAndUsage)
{
    ToolRun r = run_tool(dir.path(), "--help", scratch);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.out, "Usage: corvelle-render [options] FILE.mid")) << r.out;
    EXPECT_TRUE(has(r.out, "-o file"));

    r = render("");
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(has(r.err, "Usage: corvelle-render"));

    // A copy of the program in a directory of its own, with an empty home directory: no
    // configuration anywhere it looks (unless the system directory has one).
    if (!read_whole_file(CORVELLE_SYSCONFDIR "/CORVELLE.CFG").empty() ||
        !read_whole_file(CORVELLE_SYSCONFDIR "/corvelle.cfg").empty())
        GTEST_SKIP() << "this machine has a configuration in " CORVELLE_SYSCONFDIR;
    const std::string copy = scratch.mkdir("bin") + "/corvelle-render";
    ASSERT_EQ(system(("cp '" CORVELLE_BINARY_DIR "/corvelle-render' '" + copy + "'").c_str()), 0);
    const std::string err = scratch.file("copy-stderr.txt");
    const int st = system(("cd '" + dir.path() + "' && HOME='" + scratch.mkdir("home") + "' '" +
                           copy + "' '" + whistles + "' 2>'" + err + "'").c_str());
    EXPECT_NE(st, 0);
    EXPECT_TRUE(has(read_whole_file(err), "Could not find corvelle.cfg."));
}
