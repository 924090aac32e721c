// The player as a new user meets it, end to end with the real program, the capture device and
// the trace: refusals named in a box, what is playing and where (title, times, pause sign, seek
// bar), transport keys up to the last sample heard, a second song chosen while one plays, and a
// window that grows. (Frames stopping while paused: the transport test.)
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "synth/play/player_fixture.h"
#include "tests/e2e/real_visualiser.h"

namespace {

// The sample where the song ends: its last note's end.
long long song_end(const std::vector<SongNote>& notes)
{
    uint32_t end = 0;
    for (const SongNote& n : notes)
        end = std::max(end, n.start + n.length);
    return tick_sample(end);
}

// The seconds an "m:ss" time in a status line stands for, the first one after the name.
int shown_seconds(const std::string& text)
{
    int m = 0, s = 0;
    size_t name_end = text.find("  ");
    return name_end != std::string::npos && sscanf(text.c_str() + name_end, " %d:%d", &m, &s) == 2
               ? m * 60 + s : -1;
}

class Player : public RealVisualiser {
protected:
    // Waits until the window shows a position of at least `at` samples.
    bool heard_up_to(long long at, double seconds)
    {
        return wait_until(seconds, 0.05, [&] {
            trace->update();
            return !trace->lines.status.empty() && trace->lines.status.back().position >= at;
        });
    }
    // A key pressed near the end of a song: its transport line, taking effect as anywhere.
    MarkLine press(const std::string& key, const std::string& what)
    {
        MarkLine m = mark_after(what, v->key(key));
        EXPECT_FALSE(m.what.empty()) << key << " refused";
        return m;
    }
    // Space, Space, Left (or Home), each acting from the last few seconds heard.
    void keys_near_the_end(long long end, const std::string& name)
    {
        SCOPED_TRACE(name);
        ASSERT_TRUE(heard_up_to(end - (long long)(2.5 * rate), 30)) << v->output();
        const MarkLine p = press("space", "pause");
        ASSERT_FALSE(p.what.empty());
        EXPECT_GE(p.from, end - 3 * (long long)rate);
        usleep(500000);
        ASSERT_FALSE(press("space", "resume").what.empty());
        const MarkLine back = press("Left", "seek");
        ASSERT_FALSE(back.what.empty());
        EXPECT_EQ(back.to, std::max(0LL, back.from - 220500));
        ASSERT_TRUE(heard_up_to(end - (long long)(2.5 * rate), 30)) << v->output();
        const MarkLine home = press("Home", "seek");
        ASSERT_FALSE(home.what.empty());
        EXPECT_EQ(home.to, 0);
    }
};

TEST_F(Player, RefusalsShowWhatPlaysKeysWorkToTheLastSampleASecondSongTakesOverAndTheWindowGrows)
{
    DisplayLock display;
    std::vector<SongNote> notes;  // 20 s of short notes on channel 1, one every quarter second
    for (int i = 0; i < 80; i++)
        notes.push_back({(uint32_t)(i * 240), 200, 0, 48 + (i * 5) % 30, 100});
    std::vector<SongNote> chord = {{0, 4800, 0, 60, 100}, {0, 4800, 0, 64, 100}, {0, 4800, 0, 67, 100}};
    std::string song = dir.write("flying_scotsman.mid", song_image(notes));
    std::string chord_song = dir.write("chord.mid", song_image(chord));
    std::string one_note = dir.write("one.mid", song_image({{0, 2880, 0, 64, 127}}));
    std::string text = dir.write("flying.mid", "Shopping list: milk, eggs.\n");
    std::string empty = dir.write("empty.mid", "");
    const long long end = song_end(notes), chord_end = song_end(chord);

    // ---- refusals named in a box; slow typing right after the chooser opens ----
    VisualizerLaunch launch;
    launch.args = {dir.file("gone.mid")};
    ASSERT_NO_FATAL_FAILURE(start(launch, visualizer, true));
    for (const std::string& path : {text, empty}) {
        Played o = play(path);
        EXPECT_TRUE(v->answer_message(10)) << path;
        EXPECT_TRUE(o.glyphs.empty()) << path;
    }
    for (const char* told : {"gone.mid: no such file", "flying.mid: not a Standard MIDI File",
                             "empty.mid: not a Standard MIDI File"})
        EXPECT_NE(v->output().find(told), std::string::npos) << told << "\n" << v->output();
    v->type_delay_ms = 120;
    Played next = play(one_note);
    EXPECT_EQ(next.glyphs.size(), 1u) << next.said;
    v->type_delay_ms = 40;

    // ---- name and time after 5 s of play ----
    double enter = v->play(song);
    ASSERT_GT(enter, 0);
    ASSERT_GT(v->first_glyph_after(enter, 15), 0) << v->output();
    usleep(5000000);
    EXPECT_EQ(v->title(), "Midi Visualization - flying_scotsman.mid");
    trace->update();
    ASSERT_FALSE(trace->lines.status.empty());
    const StatusLine shown = trace->lines.status.back();
    EXPECT_EQ(shown.text.substr(0, 21), "flying_scotsman.mid  ") << shown.text;
    EXPECT_NE(shown.text.find(" / 0:19"), std::string::npos) << shown.text;
    const DeviceLine* device = nullptr;
    for (const DeviceLine& d : trace->lines.device)
        if (!device || std::fabs(d.wall - shown.wall) < std::fabs(device->wall - shown.wall))
            device = &d;
    ASSERT_NE(device, nullptr);
    // The last status line may be up to a second old, and the sound starts a little after the
    // first note is drawn: well over 3 s of 5 have been heard when it was written.
    double heard = device->frames / rate + (shown.wall - device->wall) / 1e6;
    EXPECT_GE(heard, 3.0);
    EXPECT_NEAR(shown_seconds(shown.text), heard, 1.0) << shown.text;
    std::string png = dir.file("playing.png");
    ASSERT_TRUE(v->screenshot(png));
    EXPECT_EQ(Visualizer::region_mean(png, 172, 626, 12, 12, "(r+g+b)/3<0.3"), 0.0) << "pause sign";

    // ---- paused 5 s: the sign shows, next to no CPU ----
    const MarkLine p = press("space", "pause");
    ASSERT_FALSE(p.what.empty());
    usleep(500000);
    double cpu = v->cpu_seconds();
    usleep(5000000);
    EXPECT_LT(v->cpu_seconds() - cpu, 0.2) << "CPU seconds in 5 s of pause";
    trace->update();
    EXPECT_EQ(trace->lines.status.back().paused, 1);
    ASSERT_TRUE(v->screenshot(png));
    EXPECT_GT(Visualizer::region_mean(png, 172, 626, 12, 12, "(r+g+b)/3<0.3"), 0.05);
    ASSERT_FALSE(press("space", "resume").what.empty());

    // ---- a click at 75% of the seek bar ----
    double clicked = wall_us();
    v->click(9 + 384, 516);
    const MarkLine jump = mark_after("seek", clicked);
    ASSERT_FALSE(jump.what.empty());
    EXPECT_NEAR((double)jump.to, 0.75 * end, rate);
    // A drag from 50% to 80%: the song follows while the button is still down, in steps no
    // closer than a tenth of a second, and lands where the knob is let go.
    std::vector<int> xs;
    for (int x = 9 + 266; x <= 9 + 410; x += 12)
        xs.push_back(x);
    double grabbed = wall_us();
    v->drag(516, 9 + 256, xs, false);
    bool followed = wait_until(3, 0.05, [&] {
        std::vector<MarkLine> seen = marks_since("seek", grabbed);
        return !seen.empty() && seen.back().to > 0.7 * end;
    });
    double let_go = wall_us();
    shell("xdotool mouseup 1");
    EXPECT_TRUE(followed) << "the song did not follow the drag";
    EXPECT_TRUE(wait_until(3, 0.05, [&] {
        std::vector<MarkLine> seen = marks_since("seek", grabbed);
        return !seen.empty() && std::fabs(seen.back().to - 0.8 * end) < 0.01 * end;
    })) << "the song is not where the knob was let go";
    std::vector<MarkLine> dragged = marks_since("seek", grabbed);
    ASSERT_GE(dragged.size(), 2u);
    EXPECT_LE(dragged.size(), 2 + (size_t)((let_go - grabbed) / 1e5)) << "the drag flooded the player";
    EXPECT_NEAR((double)dragged.front().to, 0.5 * end, rate);
    for (size_t i = 1; i < dragged.size(); i++)
        EXPECT_GE(dragged[i].to, dragged[i - 1].to) << "the song went back during the drag";

    // ---- the last seconds heard: keys act as anywhere else ----
    keys_near_the_end(end, "twenty seconds");

    // ---- a second song chosen while the first plays ----
    enter = v->play(chord_song);
    ASSERT_GT(enter, 0);
    // The first song stops as soon as the second is chosen, not at its end (a second allowed:
    // a busy machine may hold the threads back).
    const MarkLine stop = mark_after("stop", enter - 1e6, 10);
    ASSERT_FALSE(stop.what.empty()) << v->output();
    EXPECT_LT(stop.wall - enter, 1e6) << "microseconds from the choice to the first song's stop";
    // The first song keeps playing while the chooser is open and until it stops: its glyphs
    // may be traced up to the stop (and by a frame that took its note just before), none
    // after it.
    double chord_first = v->first_glyph_after(stop.wall, 10);
    ASSERT_GT(chord_first, 0);
    trace->update();
    for (const FrameLine& f : trace->lines.frame)
        if (f.wall > stop.wall && f.wall < chord_first) {
            EXPECT_EQ(f.glyphs, 0) << "the first song's glyphs stayed";
        }
    for (const GlyphLine& g : trace->lines.glyph)
        if (g.wall > stop.wall + 20000) {
            EXPECT_TRUE(g.key == 60 || g.key == 64 || g.key == 67) << g.key;
        }
    keys_near_the_end(chord_end, "one chord held 5 s");
    ASSERT_TRUE(v->wait_until_idle(*trace, 30, wall_us()));
    SyncError e = sync_error(trace->lines, rate, enter);
    ASSERT_GE(e.lag_ms.size(), 3u);
    expect_in_step(e, "the chord");
    EXPECT_EQ(v->title(), "Midi Visualization");

    // ---- the window grows to 1280 x 900: the view takes the room, Play moves down (the
    // layout itself, and F11: tests/app) ----
    std::string big = dir.file("big.png");
    shell("xdotool windowsize " + v->window + " 1280 900");
    ASSERT_TRUE(wait_until(5, 0.1, [&] {
        return shell_output("xdotool getwindowgeometry " + v->window).find("1280x900") !=
               std::string::npos;
    }));
    usleep(500000);
    v->play_y += 262;
    enter = v->play(one_note);
    ASSERT_GT(enter, 0) << "the Play button is not at the bottom of the grown window";
    ASSERT_GT(v->first_glyph_after(enter, 10), 0);
    usleep(400000);
    ASSERT_TRUE(v->screenshot(big));
    // Key 64's column of the 1262-pixel view: 64 x 1262 / 128 = 631 to 640.9, from x 9.
    EXPECT_GT(Visualizer::region_mean(big, 642, 700, 6, 60, "(r+g+b)/3"), 0.8);
    EXPECT_LT(Visualizer::region_mean(big, 9 + 256, 700, 16, 60, "(r+g+b)/3"), 0.1);
}

}  // namespace
