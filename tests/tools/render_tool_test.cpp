// corvelle-render as a person runs it: every song becomes a WAV file of the song's length and
// its tail, a file that is not MIDI fails with the reader's message, the event list goes to
// standard output, and --help explains the command.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "config/files.h"
#include "output/output.h"
#include "readmidi/readmidi.h"
#include "support/tempdir.h"

static const std::string tool = CORVELLE_BINARY_DIR "/corvelle-render";

struct ToolRun {
    int status = -1;
    std::string out, err;
};

// Runs the command line in directory cwd, keeping both output streams.
static ToolRun run(const std::string& cwd, const std::string& args, const TempDir& scratch)
{
    std::string out = scratch.file("stdout.txt"), err = scratch.file("stderr.txt");
    std::string cmd = "cd '" + cwd + "' && '" + tool + "' " + args + " >'" + out + "' 2>'" + err + "'";
    ToolRun r;
    int st = system(cmd.c_str());
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.out = read_whole_file(out);
    r.err = read_whole_file(err);
    return r;
}

static uint32_t le32(const std::string& s, size_t at)
{
    return (uint8_t)s[at] | (uint8_t)s[at + 1] << 8 | (uint8_t)s[at + 2] << 16 |
           (uint32_t)(uint8_t)s[at + 3] << 24;
}

// Frames of a 16-bit stereo RIFF WAVE file, or -1 when it is not one.
static long wave_frames(const std::string& path)
{
    std::string s = read_whole_file(path);
    if (s.size() < 12 || s.compare(0, 4, "RIFF") != 0 || s.compare(8, 4, "WAVE") != 0)
        return -1;
    size_t at = 12;
    while (at + 8 <= s.size()) {
        uint32_t len = le32(s, at + 4);
        if (s.compare(at, 4, "fmt ") == 0 && (le32(s, at + 8) & 0xFFFF) != 1)
            return -1;
        if (s.compare(at, 4, "data") == 0)
            return at + 8 + len <= s.size() ? (long)(len / 4) : -1;
        at += 8 + len + (len & 1);
    }
    return -1;
}

class RenderTool : public ::testing::Test {
protected:
    TempDir dir, scratch;
    std::string config;
    void SetUp() override
    {
        std::string pats = CORVELLE_SOURCE_DIR "/data/freepats";
        if (read_whole_file(pats + "/patches.cfg").empty())
            GTEST_SKIP() << "the patch set is not installed (scripts/setup.sh provides it)";
        config = scratch.write("corvelle.cfg", "dir " + pats + "\nsource " + pats + "/patches.cfg\n");
    }
};

TEST_F(RenderTool, NamedOutputAndTheEventList)
{
    std::string song = CORVELLE_TEST_DATA "/songs/busy_schedule.mid";
    ToolRun r = run(dir.path(), "-c '" + config + "' -s 22050 -o out.wav '" + song + "'", scratch);
    ASSERT_EQ(r.status, 0) << r.err;
    long frames = wave_frames(dir.file("out.wav"));
    EXPECT_GT(frames, 100 * 22050);
    EXPECT_LT(frames, 150 * 22050);

    r = run(dir.path(), "-c '" + config + "' -Ol -o - '" + song + "'", scratch);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("ME_NOTEON"), std::string::npos);
    EXPECT_NE(r.out.find("ME_EOT"), std::string::npos);
    EXPECT_NE(r.err.find("MIDI file: "), std::string::npos);  // messages stay on standard error
    EXPECT_EQ(r.out.find("MIDI file: "), std::string::npos);
}

TEST_F(RenderTool, FilesThatCannotBeReadFailWithTheReadersMessage)
{
    std::string text = scratch.write("notes.mid", "These are my notes, not a song.\n");
    std::string song = CORVELLE_TEST_DATA "/songs/wood_whistles.mid";
    ToolRun r = run(dir.path(), "-c '" + config + "' '" + text + "'", scratch);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("Not a MIDI file!"), std::string::npos) << r.err;
    EXPECT_TRUE(read_whole_file(dir.file("notes.wav")).empty());  // no empty output left behind

    // One bad file among good ones: the good one is written, the status still says failure.
    r = run(dir.path(), "-c '" + config + "' '" + text + "' '" + song + "' '" +
                            scratch.file("missing.mid") + "'",
            scratch);
    EXPECT_NE(r.status, 0);
    EXPECT_GT(wave_frames(dir.file("wood_whistles.wav")), 44100);

    // An output that cannot be written.
    r = run(dir.path(), "-c '" + config + "' -o /nonexistent-dir/out.wav '" + song + "'", scratch);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("/nonexistent-dir/out.wav"), std::string::npos) << r.err;
}

TEST_F(RenderTool, HelpAndUsage)
{
    ToolRun r = run(dir.path(), "--help", scratch);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Usage: corvelle-render [options] FILE.mid"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("-o file"), std::string::npos);

    r = run(dir.path(), "-c '" + config + "'", scratch);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("Usage: corvelle-render"), std::string::npos);

    // A copy of the program in a directory of its own, with an empty home directory: no
    // configuration anywhere it looks (unless the system directory has one).
    if (!read_whole_file(CORVELLE_SYSCONFDIR "/CORVELLE.CFG").empty() ||
        !read_whole_file(CORVELLE_SYSCONFDIR "/corvelle.cfg").empty())
        GTEST_SKIP() << "this machine has a configuration in " CORVELLE_SYSCONFDIR;
    std::string copy = scratch.mkdir("bin") + "/corvelle-render";
    std::string home = scratch.mkdir("home");
    ASSERT_EQ(system(("cp '" + tool + "' '" + copy + "'").c_str()), 0);
    std::string err = scratch.file("copy-stderr.txt");
    int st = system(("cd '" + dir.path() + "' && HOME='" + home + "' '" + copy + "' '" +
                     CORVELLE_TEST_DATA "/songs/wood_whistles.mid' 2>'" + err + "'")
                        .c_str());
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) != 0);
    EXPECT_NE(read_whole_file(err).find("Could not find corvelle.cfg."), std::string::npos);
}
