// Cost of one animation frame of the note view (nextFrame, then drawing and showing the
// picture) with a steady number of glyphs on screen. Run under a virtual display:
//     xvfb-run -a -s "-screen 0 1280x1024x24" build/bench_frame [glyphs...]
// or all benchmarks with `make bench`.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>
#include <FL/Fl.H>
#include <FL/gl.h>
#include "play/channels.h"
#include "vis/CGL_Window.h"

static int32 all_due()
{
    return INT32_MAX;
}

static size_t glyph_count(const CGL_Window& view)
{
    size_t n = 0;
    for (const Visual& visual : view.visuals)
        for (const auto& entry : visual.glyphs)
            n += entry.second.size();
    return n;
}

struct Stats {
    double mean, median, p95;
};

static Stats stats(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double v : ms)
        sum += v;
    return {sum / ms.size(), ms[ms.size() / 2], ms[(size_t)(ms.size() * 0.95)]};
}

// Notes start at a steady rate and are held for hold frames, so that about target glyphs
// (held, rising and fading) are on screen at any time. The hold sets the glyphs' length and
// so the pixels drawn: 5 pixels per frame held.
class Song {
public:
    Song(int target, int hold, float speed, int height) : hold(hold)
    {
        int lifetime = hold + (int)(height / speed) + 1;
        per_frame = (double)target / lifetime;
    }
    void frame(int number)
    {
        due += per_frame;
        while (due >= 1.0) {
            due -= 1.0;
            seed = seed * 1103515245u + 12345u;
            MidiEvent on{0, ME_NOTEON, (uint8)((seed >> 8) % 16), (uint8)((seed >> 12) % 128),
                         (uint8)(1 + (seed >> 20) % 127)};
            enqueue_event(&on);
            pending.push_back({number + hold, on});
        }
        size_t kept = 0;
        for (auto& p : pending) {
            if (p.first == number) {
                MidiEvent off = p.second;
                off.type = ME_NOTEOFF;
                enqueue_event(&off);
            } else {
                pending[kept++] = p;
            }
        }
        pending.resize(kept);
    }

private:
    int hold;
    double per_frame, due = 0;
    unsigned seed = 1;
    std::vector<std::pair<int, MidiEvent>> pending;
};

static void run(CGL_Window* view, int target, int hold, double budget_ms)
{
    for (Visual& visual : view->visuals)
        visual.glyphs.clear();
    Song song(target, hold, view->speed, view->h());
    using clock = std::chrono::steady_clock;
    const int warmup = 300, measured = 300;
    std::vector<double> total, step, draw;
    size_t glyphs = 0;
    for (int f = 0; f < warmup + measured; f++) {
        song.frame(f);
        auto t0 = clock::now();
        view->nextFrame();
        auto t1 = clock::now();
        view->redraw();
        Fl::flush();
        view->make_current();
        glFinish();
        auto t2 = clock::now();
        if (f >= warmup) {
            step.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
            draw.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
            total.push_back(std::chrono::duration<double, std::milli>(t2 - t0).count());
            glyphs += glyph_count(*view);
        }
        Fl::check();
    }
    Stats t = stats(total), s = stats(step), d = stats(draw);
    printf("%6d glyphs, held %2d frames (on screen: %zu on average): frame mean %.2f ms,"
           " median %.2f, p95 %.2f | nextFrame mean %.3f ms | draw and show mean %.2f ms"
           " | target %.0f ms (mean): %s\n",
           target, hold, glyphs / measured, t.mean, t.median, t.p95, s.mean, d.mean, budget_ms,
           t.mean <= budget_ms ? "met" : "missed");
    fflush(stdout);
}

int main(int argc, char** argv)
{
    for (Channel& c : channel) {
        c.note_limit_low = 0;
        c.note_limit_high = 127;
        c.vel_limit_low = 0;
        c.vel_limit_high = 127;
    }
    CGL_Window* view = new CGL_Window(0, 0, 512, 503, "Midi Visualization benchmark");
    view->end();
    view->play_position = all_due;
    for (int ch = 0; ch < 16; ch++) {
        view->setColor(false, ch, ch % 3, 0.2f);
        view->setColor(true, ch, (ch + 1) % 3, 0.3f);
    }
    view->show();
    view->wait_for_expose();
    view->make_current();
    printf("GL renderer: %s\n", (const char*)glGetString(GL_RENDERER));
    // Arguments: glyph counts to measure with notes held 20 frames (a third of a second).
    if (argc > 1) {
        for (int i = 1; i < argc; i++)
            run(view, atoi(argv[i]), 20, 16.0);
    } else {
        // Notes held a third of a second: long glyphs, many pixels. Then short notes (one
        // frame, as drums): the cost per glyph without the filling.
        for (int hold : {20, 1}) {
            run(view, 2000, hold, 8.0);
            run(view, 10000, hold, 16.0);
        }
    }
    delete view;
    return 0;
}
