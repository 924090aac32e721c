// The main window and its control panel: layout, callbacks, the frame timer and the Play path.
#include <gtest/gtest.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>
#include <FL/Fl.H>
#include "support/guards.h"
#include "support/shell.h"
#include "vis/view_test_util.h"

// Finds a widget below g by its label.
static Fl_Widget* find_labelled(Fl_Group* g, const char* label)
{
    for (int i = 0; i < g->children(); i++) {
        Fl_Widget* c = g->child(i);
        if (c->label() && strcmp(c->label(), label) == 0)
            return c;
        if (c->as_group() && !c->as_gl_window())
            if (Fl_Widget* found = find_labelled(c->as_group(), label))
                return found;
    }
    return nullptr;
}

class MainWindow : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        if (g != nullptr)
            g->view->play_position = test_clock;
    }
    Fl_Slider* slider(const char* label) { return (Fl_Slider*)find_labelled(g->mainwindow, label); }
    // Shows the window; its X id, found by its title as a person's tools would ("" if none).
    std::string show_window()
    {
        g->show();
        if (!show_and_wait(g->mainwindow))
            return "";
        return shell_output("xdotool search --name '^Midi Visualization$' 2>/dev/null | head -1");
    }
};

TEST_F(MainWindow, ControlsStartAtTheViewsValuesCallbacksSetTheViewAndTheFrameTimerRuns)
{
    EXPECT_STREQ(g->mainwindow->label(), "Midi Visualization");
    EXPECT_EQ(g->mainwindow->w() * 1000 + g->mainwindow->h(), 530638);
    EXPECT_STREQ(Fl::scheme(), "plastic");
    // (Where the widgets sit: the layout test below, and the end-to-end tests' clicks.)
    ASSERT_TRUE(slider("Fade") && slider("FPS") && slider("Speed"));

    const struct {
        Fl_Slider* s;
        int type;
        double min, max, step, value;
    } ranges[] = {
        {slider("Fade"), FL_HOR_SLIDER, 0, 1, 0.001, 0.015},
        {slider("FPS"), FL_HOR_SLIDER, 1, 120, 1, 60},
        {slider("Speed"), FL_HOR_SLIDER, 1, 25, 0.1, 5},
        {g->minslider, FL_HOR_NICE_SLIDER, 0, 1, 0, 0},
        {g->maxslider, FL_HOR_NICE_SLIDER, 0, 1, 0, 1},
    };
    for (const auto& r : ranges) {
        SCOPED_TRACE(r.s->label());
        EXPECT_EQ(r.s->type(), r.type);
        EXPECT_EQ((std::vector<double>{r.s->minimum(), r.s->maximum(), r.s->step(), r.s->value()}),
                  (std::vector<double>{r.min, r.max, r.step, r.value}));
    }
    ASSERT_EQ(g->color->size(), 4);  // three items and the terminator
    EXPECT_STREQ(g->color->text(0), "Red");
    EXPECT_STREQ(g->color->text(2), "Blue");
    EXPECT_EQ(g->color->value(), 0);
    ASSERT_EQ(g->channel->size(), 11);
    EXPECT_STREQ(g->channel->text(0), "1");
    EXPECT_STREQ(g->channel->text(9), "10");
    EXPECT_EQ(g->channel->value(), 0);

    // The panel agrees with the view before anything is touched.
    EXPECT_EQ((std::vector<float>{g->view->fade, g->view->fps, g->view->speed}),
              (std::vector<float>{0.015f, 60, 5}));

    EXPECT_FALSE(Fl::has_timeout(animate));  // no timer until a file plays
    animate(nullptr);  // idle: one tick fills the labels and does not re-arm
    EXPECT_FALSE(Fl::has_timeout(animate));
    EXPECT_EQ(std::string(g->midlabel->label()) + " " + g->maxlabel->label(), "63 127");

    // The animation sliders set the view and their labels.
    const struct {
        const char* slider;
        double value;
        float CGL_Window::*field;
        Fl_Box* label;
        const char* text;
    } moves[] = {
        {"Fade", 0.123, &CGL_Window::fade, g->fadelabel, "0.123 alpha/frame"},
        {"FPS", 37, &CGL_Window::fps, g->fpslabel, "37 frames/second"},
        {"FPS", 60, &CGL_Window::fps, g->fpslabel, "60 frames/second"},
        {"Speed", 12.3, &CGL_Window::speed, g->speedlabel, "12.3 pixels/frame"},
    };
    for (const auto& m : moves) {
        slider(m.slider)->value(m.value);
        slider(m.slider)->do_callback();
        EXPECT_FLOAT_EQ(g->view->*m.field, (float)m.value) << m.slider;
        EXPECT_STREQ(m.label->label(), m.text);
    }

    // The colour sliders set the chosen component of the chosen channel, view and legend.
    g->channel->value(2);
    g->color->value(2);
    g->minslider->value(0.4);
    g->minslider->do_callback();
    g->maxslider->value(0.3);
    g->maxslider->do_callback();
    EXPECT_FLOAT_EQ(g->view->getColor(false, 2, 2), 0.4f);
    EXPECT_FLOAT_EQ(g->view->getColor(true, 2, 2), 0.3f);
    EXPECT_FLOAT_EQ(g->view->getColor(true, 2, 0), 1.0f);  // other components keep theirs
    EXPECT_FLOAT_EQ(g->view->getColor(false, 0, 2), 0.0f);  // and other channels
    EXPECT_FLOAT_EQ(g->legend->mincolor[2], 0.4f);
    EXPECT_FLOAT_EQ(g->legend->maxcolor[2], 0.3f);

    // Choosing a component only moves the sliders to that component's values.
    g->view->setColor(false, 2, 1, 0.25f);
    g->view->setColor(true, 2, 1, 0.75f);
    g->color->value(1);
    g->color->do_callback();
    EXPECT_DOUBLE_EQ(g->minslider->value(), 0.25);
    EXPECT_DOUBLE_EQ(g->maxslider->value(), 0.75);
    EXPECT_FLOAT_EQ(g->view->getColor(false, 2, 1), 0.25f);
    EXPECT_FLOAT_EQ(g->view->getColor(false, 2, 2), 0.4f);

    // Choosing a channel shows its colours on the sliders and the legend, and its limits.
    Restore<Channel> channel_4(channel[4]);
    channel[4].vel_limit_low = 20;
    channel[4].vel_limit_high = 100;
    g->view->setColor(false, 4, 0, 0.1f);
    g->view->setColor(false, 4, 1, 0.2f);
    g->view->setColor(true, 4, 1, 0.6f);
    g->channel->value(4);
    g->channel->do_callback();
    EXPECT_DOUBLE_EQ(g->minslider->value(), (double)0.2f);
    EXPECT_DOUBLE_EQ(g->maxslider->value(), (double)0.6f);
    for (int c = 0; c < 3; c++) {
        EXPECT_FLOAT_EQ(g->legend->mincolor[c], g->view->getColor(false, 4, c));
        EXPECT_FLOAT_EQ(g->legend->maxcolor[c], g->view->getColor(true, 4, c));
    }
    EXPECT_EQ(std::string(g->minlabel->label()) + " " + g->midlabel->label() + " " +
                  g->maxlabel->label(), "20 40 100");
    EXPECT_FLOAT_EQ(g->view->getColor(false, 4, 0), 0.1f);

    // The channel items name the instruments and keep the selection.
    g->channel->value(3);
    g->listinstruments();
    ASSERT_EQ(g->channel->size(), 11);
    for (int i = 0; i < 10; i++)
        EXPECT_EQ(std::string(g->channel->text(i)),
                  std::to_string(i + 1) + ": " + channel_instrum_name(i));
    EXPECT_EQ(g->channel->value(), 3);
    // A name too long for the 32-character entry is cut, and nothing past the entry changes.
    char entry[48];
    memset(entry, '#', sizeof entry);
    const char* name = "Acoustic Grand Piano with a very long bank name";
    channel_item_text(entry, 32, 10, name);
    EXPECT_EQ(std::string(entry), ("10: " + std::string(name)).substr(0, 31));
    EXPECT_EQ(std::string(entry + 32, 16), std::string(16, '#'));
    channel_item_text(entry, 32, 1, nullptr);
    EXPECT_STREQ(entry, "1: ");

    // The frame timer runs while playing.
    g->view->playing = true;
    g->view->fps = 20;
    g->view->speed = 5;
    note(ME_NOTEON, 0, 60);
    animate(nullptr);
    ASSERT_TRUE(Fl::has_timeout(animate));
    // At 20 frames per second each tick grows the note by 5: ten ticks take at least 0.45 s
    // (the timer never runs ahead of its rate; a busy machine may only make it late).
    auto start = std::chrono::steady_clock::now();
    double elapsed = 0;
    float ticks = 0;
    while (ticks < 10 && elapsed < 30) {
        Fl::wait(0.01);
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ticks = g->view->visuals[0].glyphs[60].front().corners[2][1] / 5;
    }
    EXPECT_GE(ticks, 10);
    EXPECT_GE(elapsed, 9 / 20.0 * 0.95);

    // Playback ends: the note is let go, and the timer runs on until its glyph has left (at
    // every step of the loop, no timer means no glyph: however fast the frames come).
    g->view->playing = false;
    g->view->fps = 120;
    g->view->speed = 25;
    int stopped_with_glyphs = 0;
    EXPECT_TRUE(run_toolkit_until(4, [&] {
        stopped_with_glyphs += !Fl::has_timeout(animate) && g->view->hasGlyphs();
        return !Fl::has_timeout(animate);
    }));
    EXPECT_EQ(stopped_with_glyphs, 0);
    EXPECT_FALSE(g->view->hasGlyphs());
}

// A person clicks "Play .mid" and cancels the chooser: nothing starts. Opening is refused while
// playing and while glyphs of the last file remain. The window playing a few dozen notes on
// several channels is kept as a picture a person can look at: <build>/screenshots/window.png.
TEST_F(MainWindow, PlayRefusesWhileBusyCancelStartsNothingAndScreenshot)
{
    const float low[4][3] = {{0.2f, 0, 0}, {0, 0.2f, 0}, {0, 0, 0.3f}, {0.2f, 0.2f, 0}};
    const float high[4][3] = {{1, 0.3f, 0.2f}, {0.3f, 1, 0.3f}, {0.4f, 0.5f, 1}, {1, 0.9f, 0.2f}};
    const int channels[4] = {0, 1, 2, 9};
    for (int i = 0; i < 4; i++)
        for (int c = 0; c < 3; c++) {
            g->view->setColor(false, channels[i], c, low[i][c]);
            g->view->setColor(true, channels[i], c, high[i][c]);
        }
    g->channel->value(2);
    g->channel->do_callback();  // the legend shows channel 3's colours
    const std::string id = show_window();
    ASSERT_FALSE(id.empty());
    std::string geometry = shell_output("xdotool getwindowgeometry " + id);
    EXPECT_NE(geometry.find("Geometry: 530x638"), std::string::npos) << geometry;
    EXPECT_TRUE(g->view->shown());
    {
        ModalAnswer chooser;
        chooser.arm();
        ASSERT_EQ(system(("xdotool mousemove --window " + id + " 90 615 click 1").c_str()), 0);
        run_toolkit_until(4, [&] { return chooser.count != 0; });
        run_toolkit_for(0.2);
        EXPECT_EQ(chooser.count, 1);
        EXPECT_EQ(chooser.title, "Open");
    }
    EXPECT_FALSE(Fl::has_timeout(animate));
    EXPECT_STREQ(g->channel->text(0), "1");
    EXPECT_FALSE(g->view->openMidi(nullptr));
    auto expect_refused = [&](const char* why) {
        ModalAnswer answer;
        answer.arm();
        EXPECT_FALSE(g->view->openMidi("/tmp/song.mid")) << why;
        EXPECT_EQ(answer.count, 1) << why;
        EXPECT_TRUE(answer.has_label("A midi is already playing.")) << why;
    };
    g->view->playing = true;
    expect_refused("playing");
    g->view->playing = false;

    // 42 notes over 90 frames: three at a time, spread over the keyboard, held for 4 to 16
    // frames each.
    std::vector<std::pair<int, MidiEvent>> score;
    for (int j = 0; j < 14; j++)
        for (int k = 0; k < 3; k++) {
            int ch = channels[(j + k) % 4], key = 20 + (j * 19 + k * 31) % 90;
            score.push_back({5 * j, make_event(0, ME_NOTEON, ch, key, 30 + (j * 13 + k * 29) % 98)});
            score.push_back({5 * j + 4 + 3 * ((j + k) % 5), make_event(0, ME_NOTEOFF, ch, key, 0)});
        }
    for (int frame = 0; frame < 90; frame++) {
        for (auto& entry : score)
            if (entry.first == frame)
                enqueue_event(&entry.second);
        g->view->nextFrame();
    }
    ASSERT_TRUE(g->view->hasGlyphs());
    expect_refused("glyphs remain");

    g->view->redraw();
    g->legend->redraw();
    run_toolkit_for(0.2);
    const std::string dir = std::string(CORVELLE_BINARY_DIR) + "/screenshots";
    const std::string path = dir + "/window.png";
    mkdir(dir.c_str(), 0755);
    remove(path.c_str());
    ASSERT_TRUE(screenshot(id, path));
    // The picture's note area shows the glyphs: over 1% of its pixels are clearly lit.
    double lit = atof(shell_output("convert " + path + " -crop 512x503+9+9 -colorspace gray"
                                  " -threshold 8% -format '%[fx:mean]' info:").c_str());
    EXPECT_GT(lit, 0.01);
}

// Where a widget is: x, y, w, h.
static std::vector<int> place(const Fl_Widget* w)
{
    return {w->x(), w->y(), w->w(), w->h()};
}

// The window grows: the view takes the room, the seek bar follows it, the panel keeps its
// size at the bottom; back at the smallest size every widget is where it was. F11 gives the
// view the whole screen. The transport keys never reach a control, whatever has the focus.
TEST_F(MainWindow, ViewTakesTheRoomPanelKeepsItsSizeAndKeysNeverReachAControl)
{
    const std::string id = show_window();
    ASSERT_FALSE(id.empty());
    Fl_Widget* play = find_labelled(g->mainwindow, "Play .mid");
    Fl_Slider* fade = slider("Fade");
    const struct {
        int w, h;
        std::vector<int> view, seekbar, controls, play, legend;
    } sizes[] = {
        {1280, 900, {9, 9, 1262, 765}, {9, 774, 1262, 8}, {10, 782, 520, 111},
         {29, 868, 125, 19}, {420, 803, 25, 89}},
        {530, 638, {9, 9, 512, 503}, {9, 512, 512, 8}, {10, 520, 520, 111},
         {29, 606, 125, 19}, {420, 541, 25, 89}},
    };
    for (const auto& s : sizes) {
        g->mainwindow->size(s.w, s.h);
        run_toolkit_for(0.3);
        std::vector<std::vector<int>> seen = {place(g->view), place(g->seekbar),
                                              place(g->controls), place(play), place(g->legend)};
        EXPECT_EQ(seen, (std::vector<std::vector<int>>{s.view, s.seekbar, s.controls, s.play,
                                                       s.legend}))
            << s.w << "x" << s.h;
    }

    // Idle, with the Play button or a slider focused: Space opens no chooser, Left and Right
    // move no slider.
    {
        ModalAnswer chooser;
        chooser.arm();
        play->take_focus();
        run_toolkit_for(0.1);
        shell_output("xdotool windowfocus " + id + " 2>/dev/null; xdotool key space Home");
        run_toolkit_for(0.3);
        EXPECT_EQ(chooser.count, 0) << "Space pressed the focused button";
        fade->take_focus();
        run_toolkit_for(0.1);
        shell_output("xdotool key Left Left Right Right Right");
        run_toolkit_for(0.3);
        EXPECT_DOUBLE_EQ(fade->value(), 0.015);
    }

    // F11: the view alone on the screen; F11 again: the window as it was.
    shell_output("xdotool key F11");
    EXPECT_TRUE(run_toolkit_until(2, [&] { return g->view->w() >= Fl::w(); }));
    EXPECT_EQ(place(g->view), (std::vector<int>{0, 0, Fl::w(), Fl::h()}));
    EXPECT_FALSE(g->controls->visible());
    shell_output("xdotool key F11");
    EXPECT_TRUE(run_toolkit_until(2, [&] { return g->view->w() == 512; }));
    EXPECT_EQ(place(g->view), (std::vector<int>{9, 9, 512, 503}));
    EXPECT_EQ(place(play), (std::vector<int>{29, 606, 125, 19}));
    EXPECT_TRUE(g->controls->visible());
}

// Paused, the frames stop drawing: glyphs stand, the pause sign shows, the title names the song;
// a seek while paused empties the view at once and stays paused.
TEST_F(MainWindow, PausedNothingIsDrawnUntilTheSongMoves)
{
    ASSERT_FALSE(show_window().empty());
    g->songPath = "/songs/flying_scotsman.mid";
    g->view->playing = true;
    note(ME_NOTEON, 0, 60);
    animate(nullptr);
    ASSERT_TRUE(g->view->hasGlyphs());
    EXPECT_STREQ(g->songline->label(), "flying_scotsman.mid  0:00 / 0:00");
    g->view->paused = true;
    float top = g->view->visuals[0].glyphs[60].front().corners[2][1];
    run_toolkit_for(0.5);
    EXPECT_EQ(g->view->visuals[0].glyphs[60].front().corners[2][1], top) << "drawn while paused";
    EXPECT_TRUE(g->pausesign->visible());
    EXPECT_TRUE(Fl::has_timeout(animate));
    g->view->moved_while_paused = true;
    EXPECT_TRUE(run_toolkit_until(2, [&] { return !g->view->hasGlyphs(); }));
    EXPECT_TRUE(g->pausesign->visible());
    g->view->paused = false;
    g->view->playing = false;
    EXPECT_TRUE(run_toolkit_until(2, [] { return !Fl::has_timeout(animate); }));
    EXPECT_STREQ(g->mainwindow->label(), "Midi Visualization");
    EXPECT_FALSE(g->pausesign->visible());
}
