// corvelle-render when the world fails it: an output on a full disk, past the file-size limit
// or into a pipe whose reader has gone; a song that cannot be read; patches named by the
// configuration that are gone or unreadable by the time the song needs them. Each is named in a
// message, the program is not killed by a signal, and only a full render reports success.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/wait.h>

#include "support/tempdir.h"

namespace {

const std::string tool = CORVELLE_BINARY_DIR "/corvelle-render";
const std::string song = CORVELLE_TEST_DATA "/songs/wood_whistles.mid";

struct Outcome {
    bool exited = false;  // false: ended by a signal
    int status = -1;
    std::string err;
};

class RenderFaults : public ::testing::Test {
protected:
    TempDir dir;
    std::string pats = CORVELLE_SOURCE_DIR "/data/freepats", config;
    void SetUp() override
    {
        if (read_whole_file(pats + "/patches.cfg").empty())
            GTEST_SKIP() << "the patch set is not installed (scripts/setup.sh provides it)";
        config = dir.write("ok.cfg", "dir " + pats + "\nsource " + pats + "/patches.cfg\n");
    }
    // Runs `prefix corvelle-render args` in a shell inside the directory; the tool's own status
    // is written to a file so that a pipe after it does not hide it.
    Outcome run(const std::string& args, const std::string& prefix = "",
                const std::string& pipe_to = "")
    {
        std::string err = dir.file("stderr.txt"), st = dir.file("status.txt");
        std::string cmd = "cd '" + dir.path() + "' && (" + prefix + " '" + tool + "' " + args +
                          " 2>'" + err + "'; echo $? >'" + st + "')" + pipe_to;
        int sys = system(cmd.c_str());
        EXPECT_TRUE(WIFEXITED(sys));
        Outcome o;
        int code = atoi(read_whole_file(st).c_str());
        o.exited = code < 128;  // the shell reports a signal as 128 + its number
        o.status = code;
        o.err = read_whole_file(err);
        return o;
    }
};

TEST_F(RenderFaults, OutputsThatCannotTakeTheSongFailWithTheReason)
{
    Outcome o = run("-c ok.cfg -o /dev/full '" + song + "'");
    EXPECT_TRUE(o.exited && o.status == 1) << o.status;
    EXPECT_NE(o.err.find("/dev/full: write failed: No space left on device"), std::string::npos)
        << o.err;

    // 200 kB of a song of two minutes: the write past the limit fails and the song ends there.
    o = run("-c ok.cfg -o big.wav '" + song + "'", "ulimit -f 200;");
    EXPECT_TRUE(o.exited && o.status == 1) << o.status;
    EXPECT_NE(o.err.find("big.wav: write failed: File too large"), std::string::npos) << o.err;
    size_t written = read_whole_file(dir.file("big.wav")).size();  // blocks of 512 or 1024 bytes
    EXPECT_TRUE(written >= 200u * 512 && written <= 200u * 1024) << written;

    // Standard output read by a program that stops after 1000 bytes.
    o = run("-c ok.cfg -o - '" + song + "'", "", " | head -c 1000 >/dev/null");
    EXPECT_TRUE(o.exited && o.status == 1) << o.status;
    EXPECT_NE(o.err.find("standard output: write failed: Broken pipe"), std::string::npos)
        << o.err;
}

TEST_F(RenderFaults, SongsThatCannotBeReadFail)
{
    dir.mkdir("folder.mid");
    Outcome o = run("-c ok.cfg folder.mid");
    EXPECT_TRUE(o.exited && o.status == 1) << o.status;
    EXPECT_NE(o.err.find("folder.mid: Is a directory"), std::string::npos) << o.err;
    EXPECT_TRUE(read_whole_file(dir.file("folder.wav")).empty());
}

// The configuration only names patch files; they are opened when a song needs them. One that
// has vanished, one that is a directory and one that is not a patch each get the loader's
// message, and the song is played with the instruments that did load.
TEST_F(RenderFaults, PatchesGoneOrUnreadableAtPlaybackAreNamed)
{
    std::string cfg = "dir " + pats + "\nsource " + pats + "/patches.cfg\nbank 0\n46 " +
                      dir.file("gone.pat") + "\n76 " + dir.mkdir("folder.pat") + "\n79 " +
                      dir.write("junk.pat", std::string(300, 'x')) + "\n";
    dir.write("faulty.cfg", cfg);
    Outcome o = run("-c faulty.cfg -o out.wav '" + song + "'");
    // Written, but not the whole music: the status says so.
    EXPECT_TRUE(o.exited && o.status == 2) << o.status;
    EXPECT_NE(o.err.find("3 instruments could not be loaded"), std::string::npos) << o.err;
    for (const std::string& f : {dir.file("gone.pat"), dir.file("folder.pat"), dir.file("junk.pat")})
        EXPECT_NE(o.err.find("Couldn't load instrument " + f), std::string::npos) << f << "\n" << o.err;
    EXPECT_NE(o.err.find("gone.pat' can't be found"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("folder.pat: Is a directory"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("junk.pat: not an instrument"), std::string::npos) << o.err;
    EXPECT_GT(read_whole_file(dir.file("out.wav")).size(), 100u * 44100 * 4);  // the whole song
}

}  // namespace
