// Writes a picture of the main window playing a few dozen notes on several channels, so a
// person can look at it: <build>/screenshots/window.png.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>
#include <FL/Fl.H>
#include "app/gui.h"
#include "vis/view_test_util.h"

static std::string command_output(const std::string& command)
{
    std::string out;
    if (FILE* f = popen(command.c_str(), "r")) {
        char line[256];
        while (fgets(line, sizeof line, f))
            out += line;
        pclose(f);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

TEST(MainWindowScreenshot, WindowWithGlyphsOfSeveralChannels)
{
    REQUIRE_DISPLAY();
    DisplayLock display;
    ASSERT_TRUE(connect_display());
    reset_engine_defaults();
    test_now() = 0;
    GUI* g = new GUI;
    gui = g;
    g->view->play_position = test_clock;
    const float low[4][3] = {{0.2f, 0.0f, 0.0f}, {0.0f, 0.2f, 0.0f}, {0.0f, 0.0f, 0.3f}, {0.2f, 0.2f, 0.0f}};
    const float high[4][3] = {{1.0f, 0.3f, 0.2f}, {0.3f, 1.0f, 0.3f}, {0.4f, 0.5f, 1.0f}, {1.0f, 0.9f, 0.2f}};
    const int channels[4] = {0, 1, 2, 9};
    for (int i = 0; i < 4; i++)
        for (int c = 0; c < 3; c++) {
            g->view->setColor(false, channels[i], c, low[i][c]);
            g->view->setColor(true, channels[i], c, high[i][c]);
        }
    g->channel->value(2);
    g->channel->do_callback();  // the legend shows channel 3's colours
    g->show();
    ASSERT_TRUE(show_and_wait(g->mainwindow));

    // 42 notes over 90 frames: three at a time, spread over the keyboard, held for 4 to 16
    // frames each.
    std::vector<std::pair<int, MidiEvent>> score;
    for (int j = 0; j < 14; j++)
        for (int k = 0; k < 3; k++) {
            int ch = channels[(j + k) % 4];
            int key = 20 + (j * 19 + k * 31) % 90;
            score.push_back({5 * j, note_event(ME_NOTEON, 0, ch, key, 30 + (j * 13 + k * 29) % 98)});
            score.push_back({5 * j + 4 + 3 * ((j + k) % 5), note_event(ME_NOTEOFF, 0, ch, key, 0)});
        }
    int started = 0;
    for (int frame = 0; frame < 90; frame++) {
        for (auto& entry : score)
            if (entry.first == frame) {
                enqueue_event(&entry.second);
                started += entry.second.type == ME_NOTEON;
            }
        g->view->nextFrame();
    }
    ASSERT_TRUE(g->view->hasGlyphs());
    EXPECT_EQ(started, 42);
    g->view->redraw();
    g->legend->redraw();
    for (int i = 0; i < 10; i++)
        Fl::wait(0.02);

    std::string dir = std::string(CORVELLE_BINARY_DIR) + "/screenshots";
    std::string path = dir + "/window.png";
    mkdir(dir.c_str(), 0755);
    remove(path.c_str());
    std::string id = command_output("xdotool search --name '^Midi Visualization$' | head -1");
    ASSERT_FALSE(id.empty());
    ASSERT_EQ(system(("import -window " + id + " " + path).c_str()), 0);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_GT(st.st_size, 1000);
    // The picture's note area shows the glyphs: over 1% of its pixels are clearly lit.
    double lit = atof(command_output("convert " + path + " -crop 512x503+9+9 -colorspace gray"
                                     " -threshold 8% -format '%[fx:mean]' info:").c_str());
    EXPECT_GT(lit, 0.01);
    delete g;
    gui = nullptr;
    reset_engine_defaults();
}
