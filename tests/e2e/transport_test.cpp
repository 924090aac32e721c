// The real program's transport end to end: the trace's transport, device and glyph lines, the
// captured sound and screenshots show that sound and picture stop, go on and jump together, and
// that every note heard becomes a glyph no earlier than it is heard. Also: the command line and
// the installation.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <tuple>

#include "synth/play/player_fixture.h"
#include "tests/e2e/real_visualiser.h"
#include "tests/support/sound_ending.h"
#include "tests/tools/song_analysis.h"

namespace {

// 40 s of short notes, one every quarter second on channels 1 and 2, keys wandering so that
// each stretch of the song has its own pitch classes.
std::vector<SongNote> long_song()
{
    std::vector<SongNote> notes;
    for (int i = 0; i < 160; i++)
        notes.push_back({(uint32_t)(i * 240), 110, i % 2, 48 + (i * 5 + i / 16 * 7) % 30, 100});
    return notes;
}

// A short song on channels 1 to 10 (10 is drums): 30 notes over two seconds, 61 ticks apart
// so that they fall at every phase of the frame timer.
std::vector<SongNote> short_song()
{
    std::vector<SongNote> notes;
    for (int i = 0; i < 30; i++) {
        int ch = i % 10;
        int key = ch == 9 ? 35 + i % 12 : 48 + (i * 7) % 36;
        notes.push_back({(uint32_t)(i * 61), 200, ch, key, 50 + (i * 23) % 78});
    }
    return notes;
}

// The glyphs drawn after a time, as (channel, key) counts.
std::map<std::pair<int, int>, int> glyph_keys(const std::vector<GlyphLine>& glyphs, double since)
{
    std::map<std::pair<int, int>, int> m;
    for (const GlyphLine& g : glyphs)
        if (g.wall >= since)
            m[{g.channel, g.key}]++;
    return m;
}

// Sync of the glyphs that appeared between two wall-clock times against the device lines of
// the same stretch; the device counts from 0 where a seek to `to` reopened it.
SyncError stretch_sync(const Trace& t, double from_wall, double to_wall, long long to)
{
    Trace part;
    for (const DeviceLine& d : t.device)
        if (d.wall >= from_wall && d.wall < to_wall + 1e6)
            part.device.push_back(d);
    for (GlyphLine g : t.glyph)
        if (g.wall >= from_wall && g.wall < to_wall) {
            g.time -= to;
            part.glyph.push_back(g);
        }
    return sync_error(part, rate);
}

// Two seconds of a recording from frame `at` as one channel: its onsets and, after the first
// 0.3 s (where a render still rings with earlier notes), its summed pitch-class energy.
struct Heard {
    std::vector<double> onsets;
    songtest::Chroma chroma{};
};
Heard heard(const songtest::Wave& w, long long at)
{
    std::vector<float> m = w.mono();
    size_t a = (size_t)std::min<long long>(at, (long long)m.size());
    std::vector<float> x(m.begin() + a, m.begin() + std::min(m.size(), a + 2 * (size_t)w.rate));
    Heard h;
    h.onsets = songtest::onsets(x, w.rate);
    x.erase(x.begin(), x.begin() + std::min(x.size(), (size_t)13230));
    for (const songtest::Chroma& c :
         songtest::pitch_class_energy(songtest::spectrogram(x, 4096, 1024), 4096, w.rate))
        for (int i = 0; i < 12; i++)
            h.chroma[i] += c[i];
    return h;
}

class Transport : public RealVisualiser {};

TEST_F(Transport, NoDeviceAtFirstThenSoundAndPictureStayInStepThroughTransportAndSongs)
{
    DisplayLock display;
    std::vector<SongNote> notes = long_song(), short_notes = short_song();
    std::string song = dir.write("long song.mid", song_image(notes, 240));
    std::string second = dir.write("short song.mid", song_image(short_notes, 240));
    std::string text = dir.write("notes.mid", "Shopping list: milk, eggs.\n");
    // The same song rendered without a window: the reference for the sound after each seek.
    std::string rendered = dir.file("rendered.wav");
    ASSERT_EQ(songtest::run_tool(dir.path(), "-o '" + rendered + "' '" + song + "'", dir).status, 0);

    // The capture's folder is not there yet: the device cannot open for the song given as
    // argument. A message box says so and the window stays; once the folder is there, "Play
    // .mid" plays.
    std::string capture = dir.path() + "/later/capture.wav";
    VisualizerLaunch launch;
    launch.device = "capture:" + capture;
    launch.args = {song};
    ASSERT_NO_FATAL_FAILURE(start(launch, visualizer, true));
    EXPECT_NE(v->output().find("Couldn't open output device: capture device: " + capture +
                               ": No such file or directory"),
              std::string::npos)
        << v->output();
    EXPECT_EQ(v->output().find("Playing time"), std::string::npos) << v->output();
    dir.mkdir("later");
    double enter = v->play(song);
    ASSERT_GT(enter, 0) << "Play refused after the failed start";
    ASSERT_GT(v->first_glyph_after(enter, 15), 0) << v->output();
    v->click(200, 200);  // the note view takes the focus; clicks do nothing there

    // Space, two seconds, Space; Right, Left, Home, and Left again (before the start); Escape:
    // each after 2.5 s of play.
    const char* keys[] = {"space", "space", "Right", "Left", "Home", "Left", "Escape"};
    const char* kinds[] = {"pause", "resume", "seek", "seek", "seek", "seek", "stop"};
    MarkLine mark[7];
    for (int k = 0; k < 7; k++) {
        if (k == 1) {
            long long held = file_size(capture);
            usleep(2000000);
            EXPECT_EQ(file_size(capture), held) << "the device went on playing while paused";
        } else {
            usleep(2500000);
        }
        mark[k] = mark_after(kinds[k], v->key(keys[k]), 10);
        ASSERT_FALSE(mark[k].what.empty()) << keys[k] << "\n" << v->output();
    }
    ASSERT_TRUE(v->wait_until_idle(20, mark[6].wall)) << "the view did not empty";
    long long end_size = file_size(capture);
    const Trace t = Trace::read(v->trace_path);
    const MarkLine &p = mark[0], &r = mark[1], &s = mark[6];
    const MarkLine* sk[4] = {&mark[2], &mark[3], &mark[4], &mark[5]};
    const char* const* moves = keys + 2;
    EXPECT_EQ(r.from, p.from);

    // The seeks went 5 s forward, 5 s back, to the start, and from less than 5 s to the start.
    EXPECT_EQ(sk[0]->to - sk[0]->from, 220500);
    EXPECT_EQ(sk[1]->from - sk[1]->to, 220500);
    EXPECT_EQ(sk[2]->to, 0);
    EXPECT_LT(sk[3]->from, 220500);
    EXPECT_EQ(sk[3]->to, 0);

    // While paused nothing was drawn (the frame that saw the pause aside), and only notes
    // heard before the pause appeared.
    for (const FrameLine& f : t.frame)
        EXPECT_FALSE(f.wall > p.wall + 100000 && f.wall < r.wall) << "a frame while paused";
    for (const GlyphLine& g : t.glyph)
        EXPECT_TRUE(g.wall <= p.wall || g.wall >= r.wall || g.time <= p.from) << g.time;

    // Up to the first seek, every note heard became exactly one glyph, across the pause.
    std::multiset<std::tuple<long long, int, int>> before_seek;
    for (const GlyphLine& g : t.glyph)
        if (g.wall < sk[0]->wall)
            before_seek.insert({g.time, g.channel, g.key});
    for (const SongNote& n : notes) {
        long long at = tick_sample(n.start);
        size_t c = before_seek.count({at, n.ch, n.key});
        if (at <= sk[0]->from - 4410)
            EXPECT_EQ(c, 1u) << "note at sample " << at;
        else
            EXPECT_LE(c, 1u) << "note at sample " << at;
    }

    // After each seek: no glyph of a note before the new position; the notes after it appear,
    // in step with the sound.
    for (int k = 0; k < 4; k++) {
        double until = k < 3 ? sk[k + 1]->wall : s.wall;
        std::set<long long> shown;
        for (const GlyphLine& g : t.glyph)
            if (g.wall > sk[k]->wall && g.wall < until) {
                EXPECT_GE(g.time, sk[k]->to) << moves[k];
                shown.insert(g.time);
            }
        for (const SongNote& n : notes) {
            long long at = tick_sample(n.start);
            if (at >= sk[k]->to && at < sk[k]->to + 1.5 * rate) {
                EXPECT_EQ(shown.count(at), 1u) << moves[k] << " note " << at;
            }
        }
    }
    const struct {
        const char* name;
        double from, to;
        long long at;
    } stretches[] = {{"start", 0, p.wall, 0},
                     {"resume", r.wall, sk[0]->wall, 0},
                     {"Right", sk[0]->wall, sk[1]->wall, sk[0]->to},
                     {"Left", sk[1]->wall, sk[2]->wall, sk[1]->to},
                     {"Home", sk[2]->wall, sk[3]->wall, 0},
                     {"Left at the start", sk[3]->wall, s.wall, 0}};
    double median[6];
    for (int i = 0; i < 6; i++) {
        SyncError e = stretch_sync(t, stretches[i].from, stretches[i].to, stretches[i].at);
        ASSERT_GT(e.lag_ms.size(), 4u) << stretches[i].name;
        expect_in_step(e, stretches[i].name);
        median[i] = e.median;
    }
    // Same device session as the start: the pause does not put the picture behind. (The medians
    // of two stretches may differ by up to a frame: the notes meet the frame timer at another
    // phase after the pause.)
    EXPECT_LE(median[1], median[0] + 30.0) << "the pause put the picture behind";

    // The sound from each jump on is the song from that position on: same onsets, same pitch
    // classes.
    songtest::Wave captured = songtest::read_wave(capture);
    songtest::Wave reference = songtest::read_wave(rendered);
    ASSERT_EQ(std::make_pair(captured.rate, reference.rate), std::make_pair(44100, 44100));
    auto recorded_before = [&](double wall) {  // frames recorded when the device last opened
        long long at = -1;
        for (const DeviceLine& c : t.capture)
            if (c.wall < wall)
                at = c.frames;
        return at;
    };
    for (int k = 0; k < 4; k++) {
        long long recorded = recorded_before(sk[k]->wall);
        ASSERT_GE(recorded, 0) << moves[k];
        Heard a = heard(captured, recorded), b = heard(reference, sk[k]->to);
        EXPECT_GE(a.onsets.size(), 6u) << moves[k];
        // Every note of the song is heard on time. The other way round allows a few more
        // onsets: an engine that falls behind on a busy machine cuts voices, and a cut clicks.
        EXPECT_GE(songtest::matched_share(b.onsets, a.onsets, 0.03), 0.9) << moves[k];
        EXPECT_GE(songtest::matched_share(a.onsets, b.onsets, 0.03), 0.7) << moves[k];
        EXPECT_GE(songtest::cosine(a.chroma, b.chroma), 0.95) << moves[k];
    }

    // Escape: the device played nothing after the stop.
    EXPECT_EQ((end_size - 44) / 4, recorded_before(s.wall)) << "sound after the stop";
    // What it played last fell to silence over a few milliseconds: no click. (The last 2 ms
    // of a cut are as loud as the sound before it.)
    SoundEnding last_50ms = sound_ending(captured.left, 2205), last_2ms = sound_ending(captured.left, 88);
    ASSERT_GT(last_50ms.loudest, 0.005) << "nothing sounded when Escape was pressed";
    EXPECT_LT(last_2ms.loudest, 0.25 * last_50ms.loudest) << "the stop cut the sound";
    EXPECT_LT(last_2ms.last, 0.002);

    // ---- "Play .mid" after Escape: every note a glyph in step, channel 1's loud ones red ----
    std::map<std::pair<int, int>, int> expected;
    for (const SongNote& n : short_notes)
        expected[{n.ch, n.key}]++;
    for (int component = 1; component < 3; component++) {  // channel 1's loudest colour: pure red
        v->click(330, 575);  // the "RGB" choice opens its menu: green, then blue
        usleep(400000);
        shell("xdotool key Down Return");
        usleep(300000);
        v->drag(618, 398, {380, 340, 300, 260, 228, 215});  // that colour's maximum to 0
    }
    enter = v->play(second);
    ASSERT_GT(enter, 0) << "Play refused after Escape";
    // The picture is taken a quarter second after channel 1's loudest note (velocity 124)
    // appeared: grown, and not yet faded however late a busy machine takes it.
    const SongNote& loud = short_notes[10];
    ASSERT_GT(v->first_glyph_after(enter, 10, loud.ch, loud.key), 0) << v->output();
    usleep(250000);
    std::string playing = dir.file("playing.png");
    ASSERT_TRUE(v->screenshot(playing));
    double lit = Visualizer::region_mean(playing, 9, 9, 512, 503, "(r+g+b)/3>0.1");
    EXPECT_GT(lit, 0.002);
    EXPECT_LT(lit, 0.5);
    EXPECT_GT(Visualizer::region_mean(playing, 9, 9, 512, 503, "r>0.3&&g<0.05&&b<0.05"), 0.0002);
    ASSERT_TRUE(v->wait_until_idle(*trace, 30, enter)) << v->output();
    EXPECT_EQ(glyph_keys(trace->lines.glyph, enter), expected);
    SyncError e = sync_error(trace->lines, rate, enter);
    ASSERT_EQ(e.lag_ms.size(), short_notes.size());
    expect_in_step(e, "Play .mid");

    // ---- a file that is not MIDI after a song that ended: named, nothing drawn; Play again ----
    Played bad = play(text);
    EXPECT_NE(bad.said.find("Not a MIDI file!"), std::string::npos) << bad.said;
    EXPECT_TRUE(bad.glyphs.empty());
    EXPECT_TRUE(v->answer_message(10)) << "no box named the file";
    Played again = play(second);
    EXPECT_EQ(glyph_keys(again.glyphs, again.enter), expected) << "after a file that is not MIDI";
}

TEST(VisualiserCommandLine, HelpVersionAndWrongArguments)
{
    const struct {
        std::string args;
        int status;
        const char* says;
    } cases[] = {
        {"--help", 0, "Usage: corvelle-visualizer [FILE.mid]"},
        {"--version", 0, "corvelle-visualizer "},
        {"--volume=3", 2, "unknown option --volume=3"},
        {"a.mid b.mid", 2, "one file at a time"},
    };
    for (const auto& c : cases) {
        std::string out = shell_output(visualizer + " " + c.args + " 2>&1; echo \"status $?\"");
        EXPECT_NE(out.find(c.says), std::string::npos) << c.args << ": " << out;
        EXPECT_NE(out.find("status " + std::to_string(c.status)), std::string::npos)
            << c.args << ": " << out;
    }
}

// make install into a folder: the programs, the desktop file (valid), the icon, and a
// configuration that the installed corvelle-render finds on its own.
TEST(Install, InstallsProgramsDesktopFileIconAndAConfigurationTheyFind)
{
    if (!have_program("desktop-file-validate"))
        GTEST_SKIP() << "desktop-file-validate is missing (scripts/setup.sh installs it)";
    if (read_whole_file(freepats + "/patches.cfg").empty())
        GTEST_SKIP() << "the patch set is not installed (scripts/setup.sh provides it)";
    TempDir dir;
    std::string prefix = dir.mkdir("prefix");
    std::string made = shell_output("make -C " CORVELLE_SOURCE_DIR " install PREFIX='" + prefix +
                                    "' BUILD='" CORVELLE_BINARY_DIR "' JOBS=2 >/dev/null 2>&1; echo $?");
    ASSERT_EQ(made, "0");
    for (const char* f : {"bin/corvelle-visualizer", "bin/corvelle-render",
                          "share/applications/corvelle.desktop",
                          "share/icons/hicolor/scalable/apps/corvelle.svg",
                          "share/corvelle/corvelle.cfg", "share/corvelle/freepats/patches.cfg"})
        EXPECT_GT(file_size(prefix + "/" + f), 0) << f;
    std::string desktop = read_whole_file(prefix + "/share/applications/corvelle.desktop");
    EXPECT_NE(desktop.find("Exec=corvelle-visualizer %f"), std::string::npos);
    EXPECT_NE(desktop.find("MimeType=audio/midi;audio/x-midi;"), std::string::npos);
    EXPECT_EQ(shell_output("desktop-file-validate '" + prefix +
                           "/share/applications/corvelle.desktop' 2>&1; echo $?"),
              "0");

    // Run from elsewhere with an empty home: only the installed configuration can be found.
    std::string home = dir.mkdir("home");
    std::string song = dir.write("song.mid", song_image(long_song(), 0));
    std::string out = shell_output("cd '" + home + "' && HOME='" + home + "' '" + prefix +
                                   "/bin/corvelle-render' -o out.wav '" + song +
                                   "' 2>&1; echo \"status $?\"");
    EXPECT_NE(out.find("status 0"), std::string::npos) << out;
    EXPECT_GT(file_size(home + "/out.wav"), 44100 * 4 * 30) << out;
}

}  // namespace
