// End to end, as a new user does it: the real corvelle-visualizer on the virtual display with
// the capture device, "Play .mid" clicked, a song's path typed into the file chooser, Enter.
// The trace then tells whether every note became a glyph no earlier than it was heard.
#include <gtest/gtest.h>

#include <map>
#include <sys/stat.h>
#include <string>
#include <utility>

#include "support/tempdir.h"
#include "synth/play/player_fixture.h"
#include "tests/e2e/real_visualiser.h"
#include "tests/e2e/visualizer_driver.h"
#include "vis/view_test_util.h"

static const std::string visualizer = CORVELLE_BINARY_DIR "/corvelle-visualizer";

// A short song on channels 1 to 10 (10 is drums): 30 notes over two seconds, 61 ticks apart
// so that they fall at every phase of the frame timer.
static std::vector<SongNote> short_song()
{
    std::vector<SongNote> notes;
    for (int i = 0; i < 30; i++) {
        int ch = i % 10;
        int key = ch == 9 ? 35 + i % 12 : 48 + (i * 7) % 36;
        notes.push_back({(uint32_t)(i * 61), 200, ch, key, 50 + (i * 23) % 78});
    }
    return notes;
}

class Visualiser : public RealVisualiser {};

// The glyphs traced after a time, as (channel, key) counts.
static std::map<std::pair<int, int>, int> glyphs_since(const Trace& t, double since)
{
    std::map<std::pair<int, int>, int> m;
    for (const GlyphLine& g : t.glyph)
        if (g.wall >= since)
            m[{g.channel, g.key}]++;
    return m;
}

TEST_F(Visualiser, PlaysSongsAsTheyAreHeardAndRecoversFromAFileThatIsNotMidi)
{
    DisplayLock display;
    std::vector<SongNote> notes = short_song();
    std::string song = dir.write("short song.mid", as_string(song_image(notes, 240)));
    std::string text = dir.write("notes.mid", "Shopping list: milk, eggs.\n");
    std::map<std::pair<int, int>, int> expected;
    for (const SongNote& n : notes)
        expected[{n.ch, n.key}]++;

    Visualizer v(visualizer, dir.path());
    std::string shots = CORVELLE_BINARY_DIR "/screenshots";
    mkdir(shots.c_str(), 0755);
    v.chooser_shot = shots + "/e2e-chooser.png";
    ASSERT_TRUE(v.wait_for_window(15)) << v.output();
    std::string before = dir.file("before.png");
    ASSERT_TRUE(v.screenshot(before));
    v.make_loud_colour_red();  // channel 1's loud notes are drawn red

    // ---- the first song ----
    double enter = v.play(song);
    ASSERT_GT(enter, 0) << "no file chooser came up";
    double first = v.first_glyph_after(enter, 10);
    ASSERT_GT(first, 0) << v.output();
    printf("Enter to first glyph: %.0f ms\n", (first - enter) / 1000.0);
    usleep(400000);
    std::string playing = shots + "/e2e-playing.png";
    ASSERT_TRUE(v.screenshot(playing));
    // Glyphs lit the note view, channel 1's in red.
    double lit = Visualizer::region_mean(playing, 9, 9, 512, 503, "(r+g+b)/3>0.1");
    double red = Visualizer::region_mean(playing, 9, 9, 512, 503, "r>0.3&&g<0.05&&b<0.05");
    EXPECT_GT(lit, 0.002);
    EXPECT_LT(lit, 0.5);
    EXPECT_GT(red, 0.0002);
    // The channel choice now names instruments: "1: ..." instead of "1".
    double text_before = Visualizer::region_mean(before, 258, 547, 130, 15, "(r+g+b)/3<0.4");
    double text_after = Visualizer::region_mean(playing, 258, 547, 130, 15, "(r+g+b)/3<0.4");
    EXPECT_GT(text_after, text_before * 3) << text_before << " " << text_after;

    ASSERT_TRUE(v.wait_until_idle(30, enter)) << v.output();
    // The trace stays beside the screenshots for whoever wants to look at it.
    system(("cp '" + v.trace_path + "' '" + shots + "/e2e-trace.txt'").c_str());
    Trace t = Trace::read(v.trace_path);
    EXPECT_EQ(glyphs_since(t, enter), expected);
    SyncError e = sync_error(t, 44100, enter);
    ASSERT_EQ(e.lag_ms.size(), notes.size());
    printf("Sync error over %zu glyphs: median %.1f ms, 95th percentile %.1f ms, earliest %.1f ms\n",
           e.lag_ms.size(), e.median, e.p95, e.min);
    // The clock may run a few milliseconds ahead of a device thread that starts late on a busy
    // machine; a glyph drawn when rendered instead of heard is early by the queue (>180 ms).
    EXPECT_GE(e.min, -60.0) << "a glyph appeared before its note was heard";
    // A busy machine may hold back a frame now and then; a view on the wrong clock is late or
    // early for every glyph. (The sync targets themselves are measured by bench_sync.)
    EXPECT_LE(e.median, 100.0);

    // ---- the timer has stopped: Play starts a second file ----
    double again = v.play(song);
    ASSERT_GT(again, 0) << "Play refused after the first file ended";
    ASSERT_TRUE(v.wait_until_idle(30, again)) << v.output();
    t = Trace::read(v.trace_path);
    EXPECT_EQ(glyphs_since(t, again), expected);

    // ---- a file that is not MIDI: its playback ends cleanly, Play works again ----
    double bad = v.play(text);
    ASSERT_GT(bad, 0);
    ASSERT_TRUE(v.wait_until_idle(30, bad)) << v.output();
    EXPECT_TRUE(v.running());
    EXPECT_NE(v.output().find("Not a MIDI file!"), std::string::npos) << v.output();
    t = Trace::read(v.trace_path);
    EXPECT_TRUE(glyphs_since(t, bad).empty());
    double last = v.play(song);
    ASSERT_GT(last, 0) << "Play refused after a file that is not MIDI";
    ASSERT_TRUE(v.wait_until_idle(30, last)) << v.output();
    t = Trace::read(v.trace_path);
    EXPECT_EQ(glyphs_since(t, last), expected);
    EXPECT_TRUE(v.running());
}
