// How fast the transport keys act on the sound, in the real visualiser (virtual capture device,
// trace file): from the key press to silence for pause (Space) and stop (Escape), and to new
// sound for resume (Space again) and seek (Right and Left in turn), 20 tries each, as median
// and worst; and how far the glyphs are from the sound after the seeks. The key press is
// timed just before xdotool is started, so the figures include sending the key.
// Run under a virtual display, from the build directory's parent or with a song:
//     xvfb-run -a -s "-screen 0 1280x1024x24" build/bench_transport [song.mid]
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "tests/e2e/visualizer_driver.h"
#include "bench/program_dir.h"

namespace {

const int tries = 20;

// The n-th transport line of a kind (from 1), waiting up to ten seconds; -1 when none.
int wait_for_mark(Visualizer& v, Trace& t, const std::string& what, int n)
{
    for (int i = 0; i < 500; i++) {
        t = Trace::read(v.trace_path);
        int seen = 0;
        for (size_t k = 0; k < t.mark.size(); k++)
            if (t.mark[k].what == what && ++seen == n)
                return (int)k;
        usleep(20000);
    }
    return -1;
}

void report(const char* what, std::vector<double> ms)
{
    if (ms.empty()) {
        printf("%-28s no measurement\n", what);
        return;
    }
    std::sort(ms.begin(), ms.end());
    printf("%-28s median %6.1f ms, worst %6.1f ms (%zu tries)\n", what, ms[ms.size() / 2],
           ms.back(), ms.size());
}

}  // namespace

int main(int argc, char** argv)
{
    std::string here = program_dir();
    std::string song = argc > 1 ? argv[1] : here + "/../tests/data/songs/chuggachugga.mid";
    char full[PATH_MAX];
    if (access(song.c_str(), R_OK) != 0 || realpath(song.c_str(), full) == nullptr) {
        fprintf(stderr, "bench_transport: cannot read %s\n", song.c_str());
        return 1;
    }
    song = full;
    if (!getenv("DISPLAY") || !have_program("xdotool")) {
        fprintf(stderr, "bench_transport: needs an X display and xdotool\n");
        return 1;
    }
    char dir_template[] = "/tmp/corvelle-transport-XXXXXX";
    if (mkdtemp(dir_template) == nullptr)
        return 1;
    std::string dir = dir_template;
    std::vector<double> pause_ms, resume_ms, seek_ms, stop_ms;
    SyncError after_seek;
    bool ok = false;
    {
        VisualizerLaunch launch;
        launch.args = {song};
        Visualizer v(here + "/corvelle-visualizer", dir, launch);
        if (!v.wait_for_window(15) || v.first_glyph_after(0, 20) < 0) {
            fprintf(stderr, "bench_transport: the song did not start\n%s", v.output().c_str());
            return 1;
        }
        v.click(200, 200);
        Trace t;
        for (int i = 1; i <= tries; i++) {
            usleep(700000);
            double key = v.key("space");
            int m = wait_for_mark(v, t, "pause", i);
            if (m < 0)
                break;
            pause_ms.push_back((t.mark[m].wall - key) / 1000.0);
            usleep(500000);
            key = v.key("space");
            m = wait_for_mark(v, t, "resume", i);
            if (m < 0)
                break;
            resume_ms.push_back((t.mark[m].wall - key) / 1000.0);
        }
        std::vector<double> seek_keys;
        for (int i = 1; i <= tries; i++) {
            usleep(1000000);
            double key = v.key(i % 2 ? "Right" : "Left");
            if (wait_for_mark(v, t, "seek", i) < 0)
                break;
            seek_keys.push_back(key);
        }
        usleep(1000000);
        t = Trace::read(v.trace_path);
        std::vector<const MarkLine*> seeks;
        for (const MarkLine& m : t.mark)
            if (m.what == "seek")
                seeks.push_back(&m);
        // The device reopens at each seek and counts from 0: its first line after the seek
        // puts frame 0, the new sound's start. The glyphs until the next seek are measured
        // against that device session.
        for (size_t k = 0; k < seeks.size() && k < seek_keys.size(); k++) {
            double from = seeks[k]->wall;
            double until = k + 1 < seeks.size() ? seeks[k + 1]->wall : 1e300;
            Trace part;
            for (const DeviceLine& d : t.device)
                if (d.wall > from && d.wall < until)
                    part.device.push_back(d);
            for (GlyphLine g : t.glyph)
                if (g.wall > from && g.wall < until) {
                    g.time -= seeks[k]->to;
                    part.glyph.push_back(g);
                }
            if (part.device.empty())
                continue;
            const DeviceLine& first = part.device.front();
            seek_ms.push_back((first.wall - first.frames / 44.1 * 1000.0 - seek_keys[k]) / 1000.0);
            SyncError e = sync_error(part, 44100);
            after_seek.lag_ms.insert(after_seek.lag_ms.end(), e.lag_ms.begin(), e.lag_ms.end());
        }
        for (int i = 1; i <= tries; i++) {
            double key = v.key("Escape");
            int m = wait_for_mark(v, t, "stop", i);
            if (m < 0)
                break;
            stop_ms.push_back((t.mark[m].wall - key) / 1000.0);
            if (i == tries || !v.wait_until_idle(20, t.mark[m].wall))
                break;
            double enter = v.play(song);
            if (enter < 0 || v.first_glyph_after(enter, 20) < 0)
                break;
            usleep(700000);
        }
        ok = pause_ms.size() == (size_t)tries && resume_ms.size() == (size_t)tries &&
             seek_ms.size() == (size_t)tries && stop_ms.size() == (size_t)tries;
    }
    system(("rm -rf '" + dir + "'").c_str());
    printf("song: %s\n", song.c_str());
    report("Space to silence (pause)", pause_ms);
    report("Space to sound (resume)", resume_ms);
    report("Right/Left to new sound (seek)", seek_ms);
    report("Escape to silence (stop)", stop_ms);
    if (!after_seek.lag_ms.empty()) {
        std::vector<double> s = after_seek.lag_ms;
        std::sort(s.begin(), s.end());
        printf("sync after seeks over %zu glyphs: median %.1f ms, 95th percentile %.1f ms, "
               "earliest %.1f ms, latest %.1f ms\n",
               s.size(), s[s.size() / 2], s[(size_t)((s.size() - 1) * 0.95)], s.front(), s.back());
    }
    return ok ? 0 : 1;
}
