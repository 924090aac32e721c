// Shared by the view and window tests: a play position, shown windows, GL read-back, modal answers.
#ifndef CORVELLE_TESTS_VIEW_TEST_UTIL_H
#define CORVELLE_TESTS_VIEW_TEST_UTIL_H

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cctype>
#include <memory>
#include <string>
#include <vector>
#include <FL/Fl.H>
#include <FL/Fl_Group.H>
#include <FL/gl.h>
#include "output/output.h"
#include "play/channels.h"
#include "play/playmidi.h"
#include "support/midi_bytes.h"
#include "app/gui.h"
#include "vis/CGL_Window.h"

#include "support/x_display.h"

#define REQUIRE_DISPLAY()                                                        \
    do {                                                                         \
        if (!getenv("DISPLAY"))                                                  \
            GTEST_SKIP() << "needs an X display (the suite runs under xvfb-run)"; \
    } while (0)

// Held by every test that shows windows: processes run side by side (ctest -j) take turns on
// the one virtual display, so clicks, screenshots and searches by title see only their windows.
class DisplayLock {
public:
    DisplayLock()
    {
        std::string name = "/tmp/corvelle-display";
        for (const char* d = getenv("DISPLAY"); d && *d; d++)
            name += isalnum((unsigned char)*d) ? *d : '_';
        fd = open((name + ".lock").c_str(), O_RDWR | O_CREAT, 0666);
        if (fd >= 0)
            flock(fd, LOCK_EX);
    }
    ~DisplayLock()
    {
        if (fd >= 0)
            close(fd);  // releases the lock
    }
    DisplayLock(const DisplayLock&) = delete;
    DisplayLock& operator=(const DisplayLock&) = delete;

private:
    int fd = -1;
};

// The channel state the player sets on reset: all notes, all velocities, no transposition.
inline void reset_engine_defaults()
{
    for (Channel& c : channel) {
        c.note_limit_low = c.vel_limit_low = c.key_shift = 0;
        c.note_limit_high = c.vel_limit_high = 127;
    }
    drumchannels = default_drumchannels;
    note_key_offset = 0;
    midi_time_ratio = 1.0;
    play_mode = nullptr;
}

// The play position the tests hand to the view instead of the audio device's.
inline int32 test_now = 0;
inline int32 test_clock() { return test_now; }

// A note event through the note hook, due at `time` (at once by default).
inline void note(int type, int ch, int key, int velocity = 100, int32 time = 0)
{
    MidiEvent ev = make_event(time, type, ch, key, velocity);
    enqueue_event(&ev);
}

// Runs the toolkit until done() holds or the seconds have passed; returns done().
template <class F>
bool run_toolkit_until(double seconds, F done)
{
    auto start = std::chrono::steady_clock::now();
    while (!done()) {
        if (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >= seconds)
            return false;
        Fl::wait(0.02);
    }
    return true;
}
// Runs the toolkit for the seconds (timers fire, drawing happens).
inline void run_toolkit_for(double seconds)
{
    run_toolkit_until(seconds, [] { return false; });
}

// Shows the window and runs the event loop until the X server has exposed it.
inline bool show_and_wait(Fl_Window* w)
{
    w->show();
    w->wait_for_expose();
    Fl::flush();
    return w->shown() && w->visible();
}

// What one GL window drew: RGB rows from the bottom, as GL numbers them.
struct Pixels {
    int w = 0, h = 0;
    std::vector<unsigned char> rgb;
    const unsigned char* at(int x, int y) const { return &rgb[3 * ((size_t)y * w + x)]; }
};

// Reads back the buffer the current GL context drew into (w x h pixels).
inline Pixels read_back(int w, int h)
{
    glFinish();
    GLint drawn;
    glGetIntegerv(GL_DRAW_BUFFER, &drawn);
    glReadBuffer((GLenum)drawn);
    Pixels p{w, h, std::vector<unsigned char>((size_t)w * h * 3)};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, p.w, p.h, GL_RGB, GL_UNSIGNED_BYTE, p.rgb.data());
    return p;
}

// Runs the window's draw() in its own context and reads the buffer it drew into.
template <class GlWindow>
Pixels render(GlWindow* win)
{
    win->make_current();
    win->draw();
    return read_back(win->w(), win->h());
}

inline ::testing::AssertionResult rgb_near(const Pixels& p, int x, int y, int r, int g, int b,
                                           int tolerance = 1)
{
    const unsigned char* c = p.at(x, y);
    if (std::abs(c[0] - r) <= tolerance && std::abs(c[1] - g) <= tolerance &&
        std::abs(c[2] - b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is (" << (int)c[0]
                                         << ", " << (int)c[1] << ", " << (int)c[2]
                                         << "), expected (" << r << ", " << g << ", " << b << ")";
}

// While armed, answers every modal window (message box or file chooser) as soon as it shows:
// records its title and labels, then presses its "Cancel" button if it has one, else closes it.
struct ModalAnswer {
    int count = 0;
    std::string title;  // of the last one
    std::vector<std::string> labels;

    void arm() { Fl::add_timeout(0.05, poll, this); }
    ~ModalAnswer() { Fl::remove_timeout(poll, this); }

    bool has_label(const std::string& text) const
    {
        return std::find(labels.begin(), labels.end(), text) != labels.end();
    }

private:
    static Fl_Widget* collect(Fl_Group* g, std::vector<std::string>& out)
    {
        Fl_Widget* cancel = nullptr;
        for (int i = 0; i < g->children(); i++) {
            Fl_Widget* c = g->child(i);
            if (c->label()) {
                out.push_back(c->label());
                if (out.back() == "Cancel")
                    cancel = c;
            }
            if (c->as_group())
                if (Fl_Widget* inner = collect(c->as_group(), out))
                    cancel = inner;
        }
        return cancel;
    }
    static void poll(void* data)
    {
        ModalAnswer* self = (ModalAnswer*)data;
        Fl::repeat_timeout(0.05, poll, data);
        Fl_Window* m = Fl::modal();
        if (!m)
            return;
        self->count++;
        self->title = m->label() ? m->label() : "";
        self->labels.clear();
        if (Fl_Widget* cancel = collect(m, self->labels))
            cancel->do_callback();
        else
            m->hide();
    }
};

// Holds and connects the display; starts from the engine's defaults and a play position of 0.
class OnDisplay : public ::testing::Test {
protected:
    std::unique_ptr<DisplayLock> display;
    void SetUp() override
    {
        REQUIRE_DISPLAY();
        display.reset(new DisplayLock);
        ASSERT_TRUE(connect_display());
        reset_engine_defaults();
        test_now = 0;
    }
    void TearDown() override { reset_engine_defaults(); }
};

// A note view of 512 x 503 pixels shown on the display, its play position the test's clock.
class ShownView : public OnDisplay {
protected:
    CGL_Window* view = nullptr;
    void SetUp() override
    {
        OnDisplay::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        view = new CGL_Window(0, 0, 512, 503, "note view");
        view->end();
        view->play_position = test_clock;
        ASSERT_TRUE(show_and_wait(view));
    }
    void TearDown() override
    {
        delete view;
        OnDisplay::TearDown();
    }
};

// The program's main window (the global `gui`); it goes after the test with its frame timer.
class MainWindowTest : public OnDisplay {
protected:
    GUI* g = nullptr;
    void SetUp() override
    {
        OnDisplay::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        g = new GUI;
        gui = g;
    }
    void TearDown() override
    {
        Fl::remove_timeout(animate);
        delete g;
        gui = nullptr;
        OnDisplay::TearDown();
    }
};

#endif
