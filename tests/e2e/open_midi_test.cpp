// Opening a file from the main window in this process: a configuration is required, the
// playback thread starts with "playing" already set and a path of its own, the channel choice
// follows the song's programs, files dropped on the window play like chosen ones (and are
// refused while a file plays), and failures are told in a message box. (The channel items'
// text and Play refused while busy: tests/app.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <FL/Fl.H>
#include "frontend/startup.h"
#include "output/output.h"
#include "support/device_trace.h"
#include "support/guards.h"
#include "support/tempdir.h"
#include "synth/play/player_fixture.h"
#include "vis/view_test_util.h"

// The display held (its window is titled like the real program's) and a configuration search
// in folders of the test's own.
class OpenMidi : public MainWindowTest {
protected:
    TempDir dir;
    std::string sys = dir.mkdir("sys"), prog = dir.mkdir("prog");
    Restore<const char*> sys_dir_{system_config_dir, sys.c_str()}, prog_dir_{program_config_dir, prog.c_str()};
    ScopedEnv home_{"HOME", dir.mkdir("home")}, device_{"CORVELLE_AUDIO_DEVICE", "null"};
    Restore<int> found_{got_a_configuration, 0};

    void TearDown() override
    {
        if (g != nullptr)
            wait_until_stopped();
        set_qevent(nullptr);
        MainWindowTest::TearDown();
    }
    // Runs the toolkit until the playback thread has ended and the last glyph has gone.
    bool wait_until_stopped(double seconds = 60)
    {
        return run_toolkit_until(seconds, [&] {
            return !g->view->playing && !g->view->hasGlyphs() && !Fl::has_timeout(animate);
        });
    }
};

// One modal answerer the whole way: each step checks the box it brought up, if any, by the
// count of boxes and the last one's labels.
TEST_F(OpenMidi, NeedsAConfigurationPlaysChosenAndDroppedFilesAndTellsFailuresInABox)
{
    std::vector<SongNote> notes;
    for (int i = 0; i < 12; i++)
        notes.push_back({(uint32_t)(i * 40), 60, i % 10, 50 + i, 100});
    std::string path = dir.write("my song.mid", song_image(notes));
    std::string text = dir.write("notes.mid", "Shopping list: milk, eggs.\n");
    g->show();
    ASSERT_TRUE(wait_until_stopped());
    ModalAnswer answer;
    answer.arm();
    // A file in the home directory is read but is not enough.
    dir.write("home/.corvelle.cfg", "# mine\n");
    EXPECT_FALSE(g->view->openMidi(path.c_str()));
    EXPECT_EQ(answer.count, 1);
    EXPECT_TRUE(answer.has_label("Could not find corvelle.cfg.")) << answer.title;
    EXPECT_FALSE(g->view->playing);

    // Channel 2 of the song plays program 7; its patch is named but not there.
    dir.write("prog/corvelle.cfg", "bank 0\n7 strings-one.pat\n");
    // The chooser's text is gone as soon as openMidi returns.
    char chooser_text[512];
    snprintf(chooser_text, sizeof chooser_text, "%s", path.c_str());
    ASSERT_TRUE(g->view->openMidi(chooser_text));
    EXPECT_TRUE(g->view->playing);  // before the thread could set it
    memset(chooser_text, 'x', sizeof chooser_text - 1);
    chooser_text[sizeof chooser_text - 1] = '\0';

    // The song's notes come through the queue and become glyphs as the device plays them.
    animate(nullptr);
    bool drawn = false;
    ASSERT_TRUE(run_toolkit_until(60, [&] {
        drawn = drawn || g->view->hasGlyphs();
        return !g->view->playing && !g->view->hasGlyphs() && !Fl::has_timeout(animate);
    }));
    EXPECT_TRUE(drawn);
    // The choice followed the song's program change while the frames ran.
    EXPECT_NE(std::string(g->channel->text(1)).find("strings-one"), std::string::npos)
        << g->channel->text(1);
    EXPECT_TRUE(g->view->events.empty());

    // Drops go to the view whatever lies under the mouse; the paste of a URI list plays the
    // file, and a drop while it plays stops it and plays the dropped one from an empty view.
    auto drop = [&](const std::string& uri_list) {
        EXPECT_EQ(Fl::handle(FL_DND_ENTER, g->mainwindow), 1);
        EXPECT_EQ(Fl::handle(FL_DND_RELEASE, g->mainwindow), 1);
        EXPECT_EQ(Fl::belowmouse(), g->view);
        Fl::e_text = const_cast<char*>(uri_list.c_str());
        Fl::e_length = (int)uri_list.size();
        return g->view->handle(FL_PASTE);
    };
    std::string encoded = "file://" + dir.path() + "/my%20song.mid\r\n";
    EXPECT_EQ(drop(encoded), 1);
    EXPECT_TRUE(g->view->playing);
    EXPECT_TRUE(run_toolkit_until(10, [&] { return g->view->hasGlyphs(); }));
    answer.labels.clear();
    int before = answer.count;
    drop(encoded);
    EXPECT_EQ(answer.count, before) << "a second song was refused";
    EXPECT_TRUE(g->view->playing);
    EXPECT_FALSE(g->view->hasGlyphs()) << "the first song's glyphs stayed";
    ASSERT_TRUE(wait_until_stopped());

    // A file that cannot be played is named in a box that says why, however it was chosen;
    // opened by the view alone (as a test does), on the streams only.
    drop("file://" + text + "\n");
    ASSERT_TRUE(wait_until_stopped());
    EXPECT_TRUE(answer.has_label("notes.mid: not a Standard MIDI File")) << answer.count;
    // A song cut off in the middle of its track plays as far as it goes, and is told where
    // its data ran out.
    std::string whole = song_image(notes);
    std::string cut = dir.write("cut.mid", whole.substr(0, whole.size() - 9));
    drop("file://" + cut + "\n");
    ASSERT_TRUE(wait_until_stopped());
    std::string where = "cut.mid: truncated in track 1 at byte " + std::to_string(whole.size() - 9);
    EXPECT_TRUE(answer.has_label(where)) << (answer.labels.empty() ? "" : answer.labels.back());
    int boxes = answer.count;
    ASSERT_TRUE(g->view->openMidi(text.c_str()));
    animate(nullptr);
    ASSERT_TRUE(wait_until_stopped());
    EXPECT_EQ(answer.count, boxes);
    drop("https://example.org/song.mid\n");
    EXPECT_TRUE(answer.has_label("Only files on this computer can be played."));

    // No audio device: the window says why and stays; with the device back, Play plays.
    PlayMode* was = play_mode;
    play_mode = nullptr;
    setenv("CORVELLE_AUDIO_DEVICE", "alsa:corvelle-missing", 1);
    EXPECT_FALSE(g->view->openMidi(path.c_str()));
    EXPECT_TRUE(answer.has_label(
        "Couldn't open output device: ALSA PCM \"corvelle-missing\": No such file or directory"))
        << (answer.labels.empty() ? "" : answer.labels[0]);
    EXPECT_TRUE(g->mainwindow->shown());
    setenv("CORVELLE_AUDIO_DEVICE", "null", 1);
    ASSERT_TRUE(g->playFile(path.c_str()));
    ASSERT_TRUE(wait_until_stopped());
    EXPECT_EQ(play_mode, was);

    // Closing the window during a song: the song stops and its thread has closed the device
    // before the window goes.
    ASSERT_TRUE(g->playFile(path.c_str()));
    run_toolkit_until(10, [&] { return g->view->hasGlyphs(); });
    ASSERT_TRUE(g->view->playing);
    g->mainwindow->do_callback();
    EXPECT_FALSE(g->view->playing);
    EXPECT_FALSE(g->mainwindow->shown());
    EXPECT_FALSE(Fl::has_timeout(animate));
    EXPECT_FALSE(g->view->hasGlyphs());
}

TEST(DroppedPath, TakesTheFirstLocalFileOfAUriList)
{
    const struct {
        const char* text;
        const char* path;
    } cases[] = {
        {"file:///home/a/my%20song.mid\r\n", "/home/a/my song.mid"},
        {"file://localhost/tmp/x%2Fy%41.mid", "/tmp/x/yA.mid"},
        {"# a comment\nfile:///one.mid\nfile:///two.mid\n", "/one.mid"},
        {"/plain/path.mid\n", "/plain/path.mid"},
        {"http://example.org/a.mid\r\nfile:///b.mid\r\n", "/b.mid"},
        {"file:///bad%zzname.mid", "/bad%zzname.mid"},   // not an escape: kept as it is
        {"file:///cut%4", "/cut%4"},
        {"file:///nul%00.mid", ""},                      // no file name holds a NUL
        {"file://otherhost/c.mid", ""},
        {"smb://server/d.mid", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(dropped_path(c.text), c.path) << c.text;
}
