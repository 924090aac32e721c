// The real visualiser when the world fails it, started with a song as its argument and then
// driven through "Play .mid" and the file chooser, all in one run: a song it may not read, patch
// files damaged or gone after the configuration named them, and an audio device that fails in
// the middle of a song. Each time the reason is written on the program's standard error, the
// playback ends, nothing that was not heard is drawn, and the next good song plays and draws
// all its notes. (A device that cannot open: the transport test.)
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "synth/play/player_fixture.h"
#include "support/patch_set.h"
#include "tests/e2e/real_visualiser.h"

namespace {

// Notes every 120 ticks (1/8 s) on the given channels in turn, each 100 ticks long, for
// `seconds` of song. The file gives channel c the program c * 7.
std::vector<SongNote> notes_on(const std::vector<int>& channels, double seconds)
{
    std::vector<SongNote> notes;
    for (int i = 0; i * 120 < seconds * 960; i++)
        notes.push_back({(uint32_t)(i * 120), 100, channels[(size_t)i % channels.size()],
                         48 + (i * 5) % 30, 100});
    return notes;
}

// The patch file the patch set gives a program of bank 0, relative to the set's folder.
std::string patch_of_program(int program)
{
    for (const PatchEntry& e : read_patch_set(freepats + "/patches.cfg"))
        if (!e.drum && e.bank == 0 && e.number == program)
            return e.name;
    return "";
}

// The root mean square of the 16-bit samples of a capture from a byte offset to its end.
double level(const std::string& capture, long long from)
{
    std::string data = read_whole_file(capture);
    double sum = 0;
    size_t n = 0;
    for (size_t i = (size_t)from & ~(size_t)1; i + 1 < data.size(); i += 2, n++) {
        int16_t s = (int16_t)((uint8_t)data[i] | (uint8_t)data[i + 1] << 8);
        sum += (double)s * s;
    }
    return n ? std::sqrt(sum / (double)n) : 0;
}

class VisualiserFaults : public RealVisualiser {};

// The configuration names copies of three patches: after a first song loads one, another is
// overwritten with junk and the last removed. A program that failed is not tried again while
// the program runs, so each damage is seen once. The capture may not grow past a size limit: the
// write past it fails in the middle of a long song, which must not kill the program.
TEST_F(VisualiserFaults, UnreadableSongDamagedPatchesAndAFailingDeviceAreNamedAndPlayGoesOn)
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

    std::vector<SongNote> first_notes = notes_on({2}, 1.5);    // program 14
    std::vector<SongNote> all_notes = notes_on({0, 1, 2}, 3);  // programs 0, 7 and 14
    std::vector<SongNote> short_notes = notes_on({2}, 0.75);
    std::string first = dir.write("first.mid", song_image(first_notes));
    std::string all = dir.write("all.mid", song_image(all_notes));
    std::string short_song = dir.write("short.mid", song_image(short_notes));
    std::string locked = dir.write("locked.mid", song_image(short_notes));
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    // Bytes of capture: 45.4 s of sound, room for the songs before the long one with the tails
    // of their bells rung out.
    const long long limit = 8000000;
    VisualizerLaunch launch;
    launch.file_size_limit = limit;
    launch.obey_file_permissions = unreadable_to_launched_program(locked);
    launch.args = {first};
    ASSERT_NO_FATAL_FAILURE(start(launch, bin + "/corvelle-visualizer"));

    // The song given as argument plays as the program starts.
    double first_glyph = v->first_glyph_after(0, 15);
    ASSERT_GT(first_glyph, 0) << "the song given as argument did not play\n" << v->output();
    ASSERT_TRUE(v->wait_until_idle(*trace, 40, first_glyph)) << v->output();
    EXPECT_EQ(trace->lines.glyph.size(), first_notes.size());
    EXPECT_EQ(v->output().find("Couldn't load"), std::string::npos) << v->output();
    double first_level = level(v->capture_path, 44);
    EXPECT_GT(first_level, 100) << "the first song is silent";

    Played o;
    if (launch.obey_file_permissions) {  // else a file of mode 000 stays readable to it here
        o = play(locked);
        EXPECT_NE(o.said.find(locked + ": Permission denied"), std::string::npos) << o.said;
        EXPECT_EQ(o.glyphs.size(), 0u);
        EXPECT_EQ(o.said.find("Playing time"), std::string::npos) << o.said;
        EXPECT_TRUE(v->answer_message(10)) << "no box named the locked file";
    }

    dir.write("pats/0.pat", std::string(2000, 'x'));
    std::filesystem::remove(copies[7]);
    long long at = file_size(v->capture_path);
    o = play(all);
    // (The loader's words for each: the render tool's tests.)
    for (int p : {0, 7})
        EXPECT_NE(o.said.find("Couldn't load instrument " + copies[p]), std::string::npos) << o.said;
    // Program 14 still plays its notes, every third of the song.
    EXPECT_GT(level(v->capture_path, at), first_level / 4);

    at = file_size(v->capture_path);
    o = play(first);
    EXPECT_EQ(o.glyphs.size(), first_notes.size());
    EXPECT_EQ(o.said.find("Couldn't load"), std::string::npos) << o.said;
    EXPECT_GT(level(v->capture_path, at), first_level / 2);

    // A song of program 14 six seconds longer than the room left in the capture.
    double capacity = (limit - file_size(v->capture_path)) / 4.0;  // samples of 16-bit stereo
    ASSERT_GT(capacity, 44100) << "the songs before filled the capture";
    std::vector<SongNote> long_notes = notes_on({2}, capacity / 44100 + 6);
    o = play(dir.write("long.mid", song_image(long_notes)));
    const std::string failed = "wave device failed: " + v->capture_path + ": File too large";
    EXPECT_NE(o.said.find(failed), std::string::npos) << o.said;
    EXPECT_EQ(o.said.find(failed, o.said.find(failed) + 1), std::string::npos) << "told twice";
    // Notes are drawn when the play clock reaches them, and the clock runs on over the audio
    // that was handed to the device before it failed (a few buffers): no note later than that
    // is drawn, and the view empties although the notes drawn never got their note-offs.
    EXPECT_GT(o.glyphs.size(), 0u);
    EXPECT_LE(o.last_glyph_time, capacity + 44100 * 0.5) << o.glyphs.size() << " glyphs";

    o = play(short_song);
    EXPECT_EQ(o.glyphs.size(), short_notes.size()) << o.said;
    EXPECT_EQ(o.said.find("wave device failed"), std::string::npos) << o.said;
    EXPECT_GT(level(v->capture_path, 44), 100);
}

}  // namespace
