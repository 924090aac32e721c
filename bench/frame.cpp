// Cost of one animation frame of the note view (nextFrame, then drawing and showing the
// picture) with a steady number of glyphs on screen. Run under a virtual display:
//     xvfb-run -a -s "-screen 0 1920x1200x24" build/bench_frame [-r rounds] [-d drawing]...
//         [glyphs...]
// (-d plain, quads or image, as often as wanted: only those drawings). The view is measured
// at the smallest window's 512 x 503 pixels (every mix) and at full HD, 1920 x 1080 (the
// songs' mix), as it is in a full-screen window.
// or all benchmarks with `make bench`.
//
// Every case runs in rounds, each round once with each way of drawing, so that all meet the
// same load on a shared machine: "plain", every glyph its own glBegin/glEnd quad in immediate
// mode (the first drawing); "quads", the view's GL path (all quads in one call), which it
// takes on hardware renderers; "image", the view's picture composed on the CPU and shown as
// one texture, which it takes on software renderers. The figures are the median over the
// rounds of each run's mean, with the lowest and highest in brackets; CPU is the process's
// time (this thread and the GL's rasteriser threads) per frame.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>
#include <sys/resource.h>
#include <FL/Fl.H>
#include <FL/gl.h>
#include "play/channels.h"
#include "vis/CGL_Window.h"
#include "tests/vis/plain_drawing.h"

static int32 all_due()
{
    return INT32_MAX;
}

// CPU time of the whole process in ms.
static double cpu_ms()
{
    rusage use;
    getrusage(RUSAGE_SELF, &use);
    return (use.ru_utime.tv_sec + use.ru_stime.tv_sec) * 1e3 +
           (use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e3;
}

enum Drawing { PLAIN, QUADS, IMAGE };
static const char* const drawing_names[] = {"plain", "quads", "image"};

// The note view, drawing one of its own two ways or as it first did: one glBegin/glEnd quad
// per glyph with its colour set just before.
class BenchView : public CGL_Window {
public:
    Drawing drawing = IMAGE;
    BenchView(int x, int y, int w, int h, const char* label) : CGL_Window(x, y, w, h, label) {}
    void draw() override
    {
        if (drawing != PLAIN) {
            painter = drawing == QUADS ? PAINT_QUADS : PAINT_IMAGE;
            CGL_Window::draw();
            return;
        }
        if (!valid())
            init();
        draw_glyph_by_glyph(*this);
        glFlush();
    }
};

static size_t glyph_count(const CGL_Window& view)
{
    size_t n = 0;
    for (const Visual& visual : view.visuals)
        for (const auto& entry : visual.glyphs)
            n += entry.second.size();
    return n;
}

static double mean(const std::vector<double>& v)
{
    double sum = 0;
    for (double x : v)
        sum += x;
    return v.empty() ? 0 : sum / v.size();
}

static double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// How long notes are held, in frames at 60 per second. The song mix: the 20 quantile
// midpoints (2.5%, 7.5%, ... 97.5%) of the lengths of the 28,613 notes of the test songs
// (tests/data/songs), which play 14 to 27 notes a second; median 11 frames, mean 14.
static const std::vector<int> song_mix = {4,  6,  7,  7,  7,  8,  8,  9,  9,  10,
                                          11, 11, 14, 14, 15, 15, 20, 25, 30, 45};

// Notes start at a steady rate and each is held for one of the holds, taken in turn at
// random, so that about target glyphs (held, rising and fading) are on screen at any time.
// The hold sets a glyph's length and so the pixels drawn: 5 pixels per frame held.
class Song {
public:
    Song(int target, const std::vector<int>& holds, float speed, int height) : holds(holds)
    {
        double hold = 0;
        for (int h : holds)
            hold += h;
        hold /= holds.size();
        double lifetime = hold + (int)(height / speed) + 1;
        per_frame = target / lifetime;
    }
    void frame(CGL_Window* view, int number)
    {
        due += per_frame;
        while (due >= 1.0) {
            due -= 1.0;
            seed = seed * 1103515245u + 12345u;
            MidiEvent on{0, ME_NOTEON, (uint8)((seed >> 8) % 16), (uint8)((seed >> 12) % 128),
                         (uint8)(1 + (seed >> 20) % 127)};
            view->events.push(on);
            seed = seed * 1103515245u + 12345u;
            pending.push_back({number + holds[(seed >> 8) % holds.size()], on});
        }
        size_t kept = 0;
        for (auto& p : pending) {
            if (p.first == number) {
                MidiEvent off = p.second;
                off.type = ME_NOTEOFF;
                view->events.push(off);
            } else {
                pending[kept++] = p;
            }
        }
        pending.resize(kept);
    }

private:
    std::vector<int> holds;
    double per_frame, due = 0;
    unsigned seed = 1;
    std::vector<std::pair<int, MidiEvent>> pending;
};

struct Run {
    double frame, frame_p95, step, cpu;
    size_t glyphs;
};

static Run run(BenchView* view, int target, const std::vector<int>& holds)
{
    for (Visual& visual : view->visuals)
        visual.glyphs.clear();
    Song song(target, holds, view->speed, view->h());
    using clock = std::chrono::steady_clock;
    // The warm-up outlasts a glyph's life (hold plus the frames to rise through the view), so
    // the screen is full.
    const int warmup = std::max(200, (int)(view->h() / view->speed) + 100), measured = 200;
    std::vector<double> total, step;
    size_t glyphs = 0;
    double cpu = 0;
    for (int f = 0; f < warmup + measured; f++) {
        song.frame(view, f);
        if (f == warmup)
            cpu = cpu_ms();
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
            total.push_back(std::chrono::duration<double, std::milli>(t2 - t0).count());
            glyphs += glyph_count(*view);
        }
        Fl::check();
    }
    cpu = (cpu_ms() - cpu) / measured;
    std::sort(total.begin(), total.end());
    return {mean(total), total[(size_t)(total.size() * 0.95)], mean(step), cpu,
            glyphs / measured};
}

static std::string spread(const std::vector<double>& v)
{
    char text[64];
    snprintf(text, sizeof text, "%6.2f [%.2f-%.2f]", median(v),
             *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()));
    return text;
}

static std::vector<Drawing> drawings;

static void measure(BenchView* view, int target, const char* mix, const std::vector<int>& holds,
                    int rounds)
{
    std::vector<double> frame[3], cpu[3], p95[3], step[3];
    size_t glyphs = 0;
    for (int r = 0; r < rounds; r++) {
        for (Drawing d : drawings) {
            view->drawing = d;
            Run one = run(view, target, holds);
            frame[d].push_back(one.frame);
            cpu[d].push_back(one.cpu);
            p95[d].push_back(one.frame_p95);
            step[d].push_back(one.step);
            glyphs = one.glyphs;
        }
    }
    for (Drawing d : drawings) {
        printf("%4dx%-4d %6d %-6s %-6s %5zu | frame ms %s | p95 %6.2f | nextFrame %5.3f | CPU ms"
               " %s | %s\n",
               view->w(), view->h(), target, mix, drawing_names[d], glyphs, spread(frame[d]).c_str(),
               median(p95[d]), median(step[d]), spread(cpu[d]).c_str(),
               median(frame[d]) <= 8.0 ? "8 ms met" : "8 ms missed");
    }
    fflush(stdout);
}

static void print_load(const char* when)
{
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) == 3)
        printf("load average %s: %.2f %.2f %.2f\n", when, load[0], load[1], load[2]);
}

int main(int argc, char** argv)
{
    int rounds = 3;
    std::vector<int> targets;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "-r") == 0 && i + 1 < argc) {
            rounds = std::max(1, atoi(argv[++i]));
        } else if (strcmp(argv[i], "-d") == 0 && i + 1 < argc) {
            i++;
            for (Drawing d : {PLAIN, QUADS, IMAGE})
                if (strcmp(argv[i], drawing_names[d]) == 0)
                    drawings.push_back(d);
        } else {
            targets.push_back(atoi(argv[i]));
        }
    }
    if (drawings.empty())
        drawings = {PLAIN, QUADS, IMAGE};
    if (targets.empty())
        targets = {2000, 10000};

    for (Channel& c : channel) {
        c.note_limit_low = 0;
        c.note_limit_high = 127;
        c.vel_limit_low = 0;
        c.vel_limit_high = 127;
    }
    BenchView* view = new BenchView(0, 0, 512, 503, "Midi Visualization benchmark");
    view->end();
    view->play_position = all_due;
    for (int ch = 0; ch < 16; ch++) {
        view->setColor(false, ch, ch % 3, 0.2f);
        view->setColor(true, ch, (ch + 1) % 3, 0.3f);
    }
    view->show();
    view->wait_for_expose();
    view->make_current();
    const char* threads = getenv("LP_NUM_THREADS");
    printf("GL renderer: %s; %u CPUs; LP_NUM_THREADS %s; %d rounds\n",
           (const char*)glGetString(GL_RENDERER), std::thread::hardware_concurrency(),
           threads ? threads : "not set", rounds);
    print_load("at start");
    printf("view      glyphs mix    draw  shown | frame ms median [range] | p95 | nextFrame | CPU ms"
           " median [range] |\n");
    // Long: every note held a third of a second (100-pixel glyphs, the most pixels). Short:
    // held one frame, as drums (the cost per glyph without the filling). Songs: the lengths
    // of the test songs' notes.
    const std::vector<int> long_notes = {20}, short_notes = {1};
    for (int target : targets) {
        measure(view, target, "long", long_notes, rounds);
        measure(view, target, "songs", song_mix, rounds);
        measure(view, target, "short", short_notes, rounds);
    }
    // Full HD: the view of a full-screen window on a 1920 x 1080 screen.
    view->size(1920, 1080);
    for (int i = 0; i < 20; i++)
        Fl::wait(0.01);
    if (view->w() != 1920 || view->h() != 1080)
        printf("the view could not grow to 1920x1080 (the screen is smaller?)\n");
    for (int target : targets)
        measure(view, target, "songs", song_mix, rounds);
    print_load("at end");
    delete view;
    return 0;
}
