// The real visualiser when the world fails it, driven through "Play .mid" and the file chooser:
// a song it may not read, patch files damaged or gone after the configuration named them, and
// an audio device that fails in the middle of a song. Each time the reason is written on the
// program's standard error, the playback ends, nothing that was not heard is drawn, and the
// next good song plays and draws all its notes. (A device that cannot open: the transport test.)
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "support/tempdir.h"
#include "synth/play/player_fixture.h"
#include "tests/e2e/real_visualiser.h"
#include "tests/e2e/visualizer_driver.h"
#include "vis/view_test_util.h"

namespace {

const std::string visualizer = CORVELLE_BINARY_DIR "/corvelle-visualizer";
const std::string freepats = CORVELLE_SOURCE_DIR "/data/freepats";

// Notes every 120 ticks (1/8 s) on the given channels in turn, each 100 ticks long, for
// `seconds` of song. The file gives channel c the program c * 7.
std::vector<SongNote> notes_on(const std::vector<int>& channels, double seconds)
{
    std::vector<SongNote> notes;
    for (int i = 0; i * 120 < seconds * 960; i++) {
        int ch = channels[(size_t)i % channels.size()];
        notes.push_back({(uint32_t)(i * 120), 100, ch, 48 + (i * 5) % 30, 100});
    }
    return notes;
}

// The patch file the patch set gives a program of bank 0, relative to the set's folder.
std::string patch_of_program(int program)
{
    std::istringstream cfg(read_whole_file(freepats + "/patches.cfg"));
    std::string line;
    bool bank0 = false;
    while (std::getline(cfg, line)) {
        std::istringstream words(line);
        std::string first, second;
        words >> first >> second;
        if (first == "bank" || first == "drumset")
            bank0 = first == "bank" && second == "0";
        else if (bank0 && first == std::to_string(program))
            return second;
    }
    return "";
}

// The root mean square of the 16-bit samples of a capture between two byte offsets.
double level(const std::string& capture, size_t from, size_t to)
{
    std::string data = read_whole_file(capture);
    to = std::min(to, data.size());
    double sum = 0;
    size_t n = 0;
    for (size_t i = from & ~(size_t)1; i + 1 < to; i += 2, n++) {
        int16_t s = (int16_t)((uint8_t)data[i] | (uint8_t)data[i + 1] << 8);
        sum += (double)s * s;
    }
    return n ? std::sqrt(sum / (double)n) : 0;
}

size_t file_size(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (size_t)st.st_size : 0;
}

size_t occurrences(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

std::string ended(int status)
{
    if (WIFSIGNALED(status))
        return "killed by signal " + std::to_string(WTERMSIG(status));
    return "exit status " + std::to_string(WEXITSTATUS(status));
}

class VisualiserFaults : public RealVisualiser {
protected:
    std::unique_ptr<TraceFollower> trace;

    void start(const std::string& binary, const VisualizerLaunch& launch)
    {
        v.reset(new Visualizer(binary, dir.path(), launch));
        ASSERT_TRUE(v->wait_for_window(15)) << v->output();
        trace.reset(new TraceFollower(v->trace_path));
    }

    struct Outcome {
        double enter = -1;      // when Enter was pressed in the chooser
        size_t glyphs = 0;      // glyphs drawn since
        int64_t last_glyph_time = -1;  // the latest song time drawn, in samples
        std::string said;       // what the program wrote on its streams meanwhile
    };

    // Plays a file through the chooser and waits until the program is idle again.
    Outcome play(const std::string& path, double seconds = 40)
    {
        Outcome o;
        if (!v->running()) {
            ADD_FAILURE() << "the program is not running: " << ended(v->exit_status);
            return o;
        }
        size_t said_before = v->output().size();
        trace->update();
        size_t glyphs_before = trace->lines.glyph.size();
        o.enter = v->play(path);
        EXPECT_GT(o.enter, 0) << "no file chooser came up";
        EXPECT_TRUE(v->wait_until_idle(*trace, seconds, o.enter)) << v->output();
        o.glyphs = trace->lines.glyph.size() - glyphs_before;
        for (size_t i = glyphs_before; i < trace->lines.glyph.size(); i++)
            o.last_glyph_time = std::max<int64_t>(o.last_glyph_time, trace->lines.glyph[i].time);
        o.said = v->output().substr(said_before);
        EXPECT_TRUE(v->running()) << "the program has ended: " << ended(v->exit_status);
        return o;
    }
};

// The configuration names copies of three patches. A first song loads one of them; then one of
// the others is overwritten with junk and the last removed, and a song that needs all three is
// played: the two that fail are named, the one that loaded still sounds, and the first song
// plays again as before. A program that failed is not tried again while the program runs, so
// each damage is seen once.
TEST_F(VisualiserFaults, PatchesDamagedOrGoneAfterConfigurationAreNamed)
{
    DisplayLock display;
    std::string pats = dir.mkdir("pats");
    std::map<int, std::string> copies;
    for (int program : {0, 7, 14}) {
        std::string name = patch_of_program(program);
        ASSERT_FALSE(name.empty()) << "the patch set has no program " << program;
        copies[program] = pats + "/" + std::to_string(program) + ".pat";
        std::filesystem::copy_file(freepats + "/" + name, copies[program]);
    }
    // The program reads the configuration beside itself.
    std::string bin = dir.mkdir("bin");
    std::filesystem::copy_file(visualizer, bin + "/corvelle-visualizer");
    std::string cfg = "dir " + freepats + "\nsource " + freepats + "/patches.cfg\nbank 0\n";
    for (const auto& c : copies)
        cfg += " " + std::to_string(c.first) + " " + c.second + "\n";
    dir.write("bin/corvelle.cfg", cfg);

    std::vector<SongNote> first_notes = notes_on({2}, 1.5);   // program 14
    std::vector<SongNote> all_notes = notes_on({0, 1, 2}, 3);  // programs 0, 7 and 14
    std::string first = dir.write("first.mid", as_string(song_image(first_notes)));
    std::string all = dir.write("all.mid", as_string(song_image(all_notes)));
    ASSERT_NO_FATAL_FAILURE(start(bin + "/corvelle-visualizer", VisualizerLaunch()));

    size_t at = file_size(v->capture_path);
    Outcome o = play(first);
    EXPECT_EQ(o.glyphs, first_notes.size());
    EXPECT_EQ(o.said.find("Couldn't load"), std::string::npos) << o.said;
    size_t first_end = file_size(v->capture_path);
    double first_level = level(v->capture_path, at, first_end);
    EXPECT_GT(first_level, 100) << "the first song is silent";

    dir.write("pats/0.pat", std::string(2000, 'x'));
    std::filesystem::remove(copies[7]);
    at = file_size(v->capture_path);
    o = play(all);
    EXPECT_NE(o.said.find(copies[0] + ": not an instrument"), std::string::npos) << o.said;
    EXPECT_NE(o.said.find("Couldn't load instrument " + copies[0] + " (tone bank 0, program 0)"),
              std::string::npos)
        << o.said;
    EXPECT_NE(o.said.find(copies[7] + "' can't be found"), std::string::npos) << o.said;
    EXPECT_NE(o.said.find("Couldn't load instrument " + copies[7] + " (tone bank 0, program 7)"),
              std::string::npos)
        << o.said;
    // Program 14 still plays its notes, every third of the song.
    EXPECT_GT(level(v->capture_path, at, file_size(v->capture_path)), first_level / 4);

    at = file_size(v->capture_path);
    o = play(first);
    EXPECT_EQ(o.glyphs, first_notes.size());
    EXPECT_EQ(o.said.find("Couldn't load"), std::string::npos) << o.said;
    EXPECT_GT(level(v->capture_path, at, file_size(v->capture_path)), first_level / 2);
}

// A song the program may not read is named and nothing plays. Then the capture may grow to
// 1 000 000 bytes (5.7 s of sound): the write past that fails in the middle of a song of twelve
// seconds. The program is not killed by the file-size signal; the device names the file and the
// reason, the song stops there, and its later notes are not drawn. The capture starts again for
// the next song, whose notes and their ring (4 s) fit.
TEST_F(VisualiserFaults, ASongThatCannotBeReadOrADeviceThatFailsEndsThePlay)
{
    DisplayLock display;
    std::vector<SongNote> long_notes = notes_on({0, 1}, 12);
    std::vector<SongNote> short_notes = notes_on({0, 1}, 0.75);
    std::string long_song = dir.write("long.mid", as_string(song_image(long_notes)));
    std::string short_song = dir.write("short.mid", as_string(song_image(short_notes)));
    std::string locked = dir.write("locked.mid", as_string(song_image(short_notes)));
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    const long long limit = 1000000;
    VisualizerLaunch launch;
    launch.file_size_limit = limit;
    launch.obey_file_permissions = unreadable_to_launched_program(locked);
    ASSERT_NO_FATAL_FAILURE(start(visualizer, launch));

    Outcome o;
    if (launch.obey_file_permissions) {
        o = play(locked);
        EXPECT_NE(o.said.find(locked + ": Permission denied"), std::string::npos) << o.said;
        EXPECT_EQ(o.glyphs, 0u);
        EXPECT_EQ(o.said.find("Playing time"), std::string::npos) << o.said;
    } else {
        printf("a file of mode 000 cannot be made unreadable to the program here\n");
    }

    o = play(long_song);
    EXPECT_EQ(occurrences(o.said, "wave device failed: " + v->capture_path + ": File too large"),
              1u)
        << o.said;
    // Notes are drawn when the play clock reaches them, and the clock runs on over the audio
    // that was handed to the device before it failed (a few buffers): no note later than that
    // is drawn, and the view empties although the notes drawn never got their note-offs.
    double capacity = (limit - 44) / 4.0;  // samples of 16-bit stereo
    EXPECT_GT(o.glyphs, 0u);
    EXPECT_LT(o.glyphs, long_notes.size() * 2 / 3);
    EXPECT_LE(o.last_glyph_time, capacity + 44100 * 0.5) << o.glyphs << " glyphs";

    o = play(short_song);
    EXPECT_EQ(o.glyphs, short_notes.size()) << o.said;
    EXPECT_EQ(o.said.find("wave device failed"), std::string::npos) << o.said;
    EXPECT_EQ(o.said.find("Permission denied"), std::string::npos) << o.said;
    EXPECT_GT(level(v->capture_path, 44, file_size(v->capture_path)), 100);
}

}  // namespace
