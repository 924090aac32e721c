// How far the picture is from the sound: plays a whole song in the real visualiser (virtual
// capture device, trace file) once at 60 and once at 120 frames per second, and reports the
// sync error (glyph time minus the time the device played the note's sample) as median and
// 95th percentile, and the time from pressing Enter in the file chooser to the first glyph.
// Run under a virtual display, from the build directory's parent or with a song:
//     xvfb-run -a -s "-screen 0 1280x1024x24" build/bench_sync [song.mid]
// or all benchmarks with `make bench`.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "tests/e2e/visualizer_driver.h"
#include "bench/program_dir.h"

static bool run(const std::string& visualizer, const std::string& song, bool fast)
{
    char dir_template[] = "/tmp/corvelle-sync-XXXXXX";
    if (mkdtemp(dir_template) == nullptr)
        return false;
    std::string dir = dir_template;
    bool ok = false;
    {
        Visualizer v(visualizer, dir);
        if (!v.wait_for_window(15)) {
            fprintf(stderr, "bench_sync: the visualiser did not show its window\n");
        } else {
            if (fast)
                v.fastest_frames();
            double enter = v.play(song);
            double first = enter > 0 ? v.first_glyph_after(enter, 20) : -1;
            if (first < 0) {
                fprintf(stderr, "bench_sync: no glyph appeared\n%s", v.output().c_str());
            } else if (!v.wait_until_idle(1200, enter)) {
                fprintf(stderr, "bench_sync: the song did not end\n");
            } else {
                Trace t = Trace::read(v.trace_path);
                SyncError e = sync_error(t, 44100, enter);
                double frame_ms = 0;
                size_t frames = 0;
                for (size_t i = 1; i < t.frame.size(); i++) {
                    double d = (t.frame[i].wall - t.frame[i - 1].wall) / 1000.0;
                    if (d < 100) {
                        frame_ms += d;
                        frames++;
                    }
                }
                printf("%s frames per second (measured %.1f): %zu glyphs, sync error median %.1f ms, "
                       "95th percentile %.1f ms, earliest %.1f ms, latest %.1f ms; Enter to first "
                       "glyph %.0f ms\n",
                       fast ? "120" : " 60", frames ? 1000.0 / (frame_ms / frames) : 0.0,
                       e.lag_ms.size(), e.median, e.p95, e.min, e.max, (first - enter) / 1000.0);
                ok = true;
            }
        }
    }
    system(("rm -rf '" + dir + "'").c_str());
    return ok;
}

int main(int argc, char** argv)
{
    std::string here = program_dir();
    std::string song = argc > 1 ? argv[1] : here + "/../tests/data/songs/5432gone_redfarn.mid";
    char full[PATH_MAX];
    if (access(song.c_str(), R_OK) != 0 || realpath(song.c_str(), full) == nullptr) {
        fprintf(stderr, "bench_sync: cannot read %s\n", song.c_str());
        return 1;
    }
    song = full;  // typed into the file chooser as an absolute path
    if (!getenv("DISPLAY") || !have_program("xdotool")) {
        fprintf(stderr, "bench_sync: needs an X display and xdotool\n");
        return 1;
    }
    printf("song: %s\n", song.c_str());
    bool ok = run(here + "/corvelle-visualizer", song, false);
    ok = run(here + "/corvelle-visualizer", song, true) && ok;
    return ok ? 0 : 1;
}
