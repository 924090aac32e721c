// Drives the real visualiser the way a person does, on the X display of $DISPLAY (clicks, keys,
// a path typed into the file chooser), and reads its trace back: how far each glyph is from the
// moment the device played its note. Used by the end-to-end tests and the benchmarks.
#ifndef CORVELLE_TESTS_E2E_VISUALIZER_DRIVER_H
#define CORVELLE_TESTS_E2E_VISUALIZER_DRIVER_H

#include <algorithm>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tests/support/device_trace.h"
#include "tests/support/shell.h"
#include "tests/support/tempdir.h"

// Calls done every `step` seconds until it holds, for up to `seconds`; whether it held.
template <class F>
bool wait_until(double seconds, double step, F done)
{
    for (double t = 0; t < seconds; t += step) {
        if (done())
            return true;
        usleep((useconds_t)(step * 1e6));
    }
    return false;
}

// ---- the trace ----

struct DeviceLine { double wall; long long frames; };
struct GlyphLine { double wall; long long time; int channel, key; };
struct FrameLine { double wall; long long position; long glyphs; };
// A transport command taking effect: pause, resume, stop (from: the play position) or seek.
struct MarkLine { std::string what; double wall; long long from, to; };
// What the window says about the song: the position it shows, whether the pause sign shows,
// and the line beside the Play button ("NAME  m:ss / m:ss").
struct StatusLine { double wall; long long position; int paused; std::string text; };
// Written when the frames stop after a song: the heap in use then and the open descriptors.
struct IdleLine { double wall; long long heap; int descriptors; };

struct Trace {
    std::vector<DeviceLine> device, capture;  // capture: frames already recorded at each opening
    std::vector<GlyphLine> glyph;
    std::vector<FrameLine> frame;
    std::vector<IdleLine> idle;
    std::vector<MarkLine> mark;
    std::vector<StatusLine> status;

    void add_line(const std::string& line)
    {
        std::istringstream s(line);
        std::string kind;
        s >> kind;
        DeviceLine d;
        GlyphLine g;
        FrameLine f;
        IdleLine i;
        StatusLine st;
        MarkLine m{kind, 0, 0, 0};
        if ((kind == "device" || kind == "capture") && s >> d.wall >> d.frames) {
            (kind == "device" ? device : capture).push_back(d);
        } else if (kind == "glyph" && s >> g.wall >> g.time >> g.channel >> g.key) {
            glyph.push_back(g);
        } else if (kind == "idle" && s >> i.wall >> i.heap >> i.descriptors) {
            idle.push_back(i);
        } else if (kind == "frame" && s >> f.wall >> f.position >> f.glyphs) {
            frame.push_back(f);
        } else if (kind == "status" && s >> st.wall >> st.position >> st.paused) {
            std::getline(s >> std::ws, st.text);
            status.push_back(st);
        } else if ((kind == "pause" || kind == "resume" || kind == "stop" || kind == "seek") &&
                   s >> m.wall >> m.from) {
            m.to = m.from;
            s >> m.to;
            mark.push_back(m);
        }
    }
    static Trace read(const std::string& path);
};

// Reads a trace that is still being written, each whole line once: update() adds the lines
// written since the last call, so long runs do not read the file again and again.
class TraceFollower {
public:
    Trace lines;

    explicit TraceFollower(const std::string& path) : path_(path) {}
    void update()
    {
        std::ifstream in(path_, std::ios::binary);
        in.seekg(offset_);
        // A line still being written (no newline yet) ends the loop with eof set, unread.
        for (std::string line; std::getline(in, line) && !in.eof(); offset_ = in.tellg())
            lines.add_line(line);
    }

private:
    std::string path_;
    std::streamoff offset_ = 0;
};

inline Trace Trace::read(const std::string& path)
{
    TraceFollower f(path);
    f.update();
    return f.lines;
}

// How long after the device played each glyph's note the glyph appeared, in milliseconds
// (negative: before). The device counts frames from each time it is opened, so its lines fall
// into sessions; each glyph is measured against the session that puts its sample closest to
// the glyph's time. A device line is written when the device thread gets round to it, never
// before: the moment sample t was played is taken from the line of the following second that
// puts it earliest (or from the last line before it when none follows).
struct SyncError {
    std::vector<double> lag_ms;  // in the order of the glyphs
    double median = 0, p95 = 0, min = 0, max = 0;
};

inline double played_at(const std::vector<DeviceLine>& s, long long t, double rate)
{
    double best = 1e300;
    for (const DeviceLine& d : s)
        if (d.frames >= t && d.frames - t <= rate)
            best = std::min(best, d.wall - (d.frames - t) / rate * 1e6);
    if (best < 1e299)
        return best;
    size_t i = 0;
    while (i + 1 < s.size() && s[i + 1].frames <= t)
        i++;
    return s[i].wall + (t - s[i].frames) / rate * 1e6;
}

inline SyncError sync_error(const Trace& t, double rate, double since_wall = 0)
{
    std::vector<std::vector<DeviceLine>> sessions;
    for (const DeviceLine& d : t.device) {
        if (sessions.empty() || d.frames < sessions.back().back().frames)
            sessions.emplace_back();
        sessions.back().push_back(d);
    }
    SyncError e;
    for (const GlyphLine& g : t.glyph) {
        if (g.wall < since_wall)
            continue;
        double best = 1e300;
        for (const std::vector<DeviceLine>& s : sessions) {
            double lag = (g.wall - played_at(s, g.time, rate)) / 1000.0;
            if (std::fabs(lag) < std::fabs(best))
                best = lag;
        }
        if (best < 1e299)
            e.lag_ms.push_back(best);
    }
    if (!e.lag_ms.empty()) {
        std::vector<double> sorted = e.lag_ms;
        std::sort(sorted.begin(), sorted.end());
        e.median = sorted[sorted.size() / 2];
        e.p95 = sorted[(size_t)((sorted.size() - 1) * 0.95)];
        e.min = sorted.front();
        e.max = sorted.back();
    }
    return e;
}

// ---- the program ----

struct VisualizerLaunch {
    // CORVELLE_AUDIO_DEVICE; empty: "capture:" and the capture path in the run's directory.
    std::string device;
    long long file_size_limit = 0;  // RLIMIT_FSIZE in bytes; 0: no limit
    // Without the power to read files whatever their permissions say, as a user other than
    // root runs it: a file with mode 000 is then unreadable to it.
    bool obey_file_permissions = false;
    std::vector<std::string> args;
};

// Drops the capabilities that let root read any file, for this process and what it executes.
inline bool drop_file_override()
{
    return geteuid() != 0 || (prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) == 0 &&
                              prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0) == 0);
}

// Whether a program started with obey_file_permissions would be refused reading path.
inline bool unreadable_to_launched_program(const std::string& path)
{
    pid_t child = fork();
    if (child == 0) {
        if (!drop_file_override())
            _exit(90);
        // The bounding set only takes effect at the next program: run one that reads.
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execl("/bin/cat", "cat", path.c_str(), (char*)nullptr);
        _exit(91);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 1;  // cat could not read it
}

class Visualizer {
public:
    pid_t pid = -1;
    int exit_status = -1;  // from waitpid, once the program has ended
    std::string window;    // X window id of the main window
    std::string trace_path, capture_path, output_path;
    // Where "Play .mid" is (it moves down when the window grows), and the time between the
    // keys of a path typed into the chooser.
    int play_x = 90, play_y = 615, type_delay_ms = 40;

    // Starts the program in directory dir with its trace and capture there.
    Visualizer(const std::string& binary, const std::string& dir,
               const VisualizerLaunch& launch = VisualizerLaunch())
        : trace_path(dir + "/trace.txt"), capture_path(dir + "/capture.wav"),
          output_path(dir + "/visualizer-output.txt")
    {
        std::string device = launch.device.empty() ? "capture:" + capture_path : launch.device;
        if ((pid = fork()) != 0)
            return;
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // the program goes when the test does
        setenv("CORVELLE_AUDIO_DEVICE", device.c_str(), 1);
        setenv("CORVELLE_TRACE", trace_path.c_str(), 1);
        int fd = open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        dup2(fd, 2);
        struct rlimit r;
        r.rlim_cur = r.rlim_max = (rlim_t)launch.file_size_limit;
        if (chdir(dir.c_str()) != 0 || fd < 0 ||
            (launch.file_size_limit > 0 && setrlimit(RLIMIT_FSIZE, &r) != 0) ||
            (launch.obey_file_permissions && !drop_file_override()))
            _exit(127);
        std::vector<char*> argv{const_cast<char*>(binary.c_str())};
        for (const std::string& a : launch.args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(binary.c_str(), argv.data());
        _exit(127);
    }
    ~Visualizer() { stop(); }
    Visualizer(const Visualizer&) = delete;
    Visualizer& operator=(const Visualizer&) = delete;

    bool running()
    {
        if (pid > 0 && waitpid(pid, &exit_status, WNOHANG) != 0)
            pid = -1;
        return pid > 0;
    }
    // Ends the program: asked first, killed when it has not gone within five seconds.
    void stop()
    {
        if (pid <= 0)
            return;
        kill(pid, SIGTERM);
        for (int i = 0; i < 50 && running(); i++)
            usleep(100000);
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &exit_status, 0);
            pid = -1;
        }
    }

    // Threads of the program, -1 when they cannot be counted.
    int threads() const
    {
        std::error_code ec;
        std::filesystem::directory_iterator d("/proc/" + std::to_string(pid) + "/task", ec);
        return ec ? -1 : (int)std::distance(d, std::filesystem::directory_iterator());
    }
    // User and system CPU time the program has used, in seconds.
    double cpu_seconds() const
    {
        std::istringstream in(read_whole_file("/proc/" + std::to_string(pid) + "/stat"));
        std::string field;
        long long ticks = 0, v = 0;
        for (int i = 1; i <= 15 && in >> field; i++)  // the name has no space in it
            if (i >= 14 && (std::istringstream(field) >> v))
                ticks += v;
        return (double)ticks / (double)sysconf(_SC_CLK_TCK);
    }

    // The id of this program's shown window of that title, whatever else has the same title.
    std::string find_window(const std::string& title) const
    {
        return shell_output("xdotool search --all --onlyvisible --pid " + std::to_string(pid) +
                            " --name '^" + title + "$' 2>/dev/null | head -1");
    }

    // Waits for the main window to show and its control panel to be drawn (a slow build maps
    // the window well before it paints it); false when that does not happen in time.
    bool wait_for_window(double seconds)
    {
        std::string png = trace_path + ".panel.png";
        return wait_until(seconds, 0.1, [&] {
                   return !running() || !(window = find_window("Midi Visualization")).empty();
               }) && running() && wait_until(seconds, 0.2, [&] {
                   return screenshot(png) && region_mean(png, 0, 520, 530, 118, "(r+g+b)/3") > 0.3;
               });
    }

    std::string title() const { return shell_output("xdotool getwindowname " + window); }

    void click(int x, int y)
    {
        shell("xdotool mousemove --window " + window + " " + std::to_string(x) + " " +
              std::to_string(y) + " click 1");
    }

    // Waits for a message box of the program (its title is "Corvelle") and closes it with
    // Return; false when none came.
    bool answer_message(double seconds)
    {
        std::string box;
        if (!wait_until(seconds, 0.1, [&] { return !(box = find_window("Corvelle")).empty(); }))
            return false;
        usleep(300000);  // drawn
        shell("xdotool windowfocus " + box + " 2>/dev/null; xdotool key Return");
        return wait_until(3, 0.1, [&] { return find_window("Corvelle").empty(); });
    }

    // Presses a key (xdotool's name: space, Escape, Left, Right, Home, Return) in the main
    // window; returns the wall-clock time just before, in microseconds.
    double key(const std::string& name)
    {
        shell("xdotool windowfocus " + window + " 2>/dev/null");
        double at = wall_us();
        shell("xdotool key " + name);
        return at;
    }

    // Drags with the left button from x0 through the given points on row y, in small steps
    // as a hand does (the toolkit sees every step); without release, the button stays down.
    void drag(int y, int x0, const std::vector<int>& xs, bool release = true)
    {
        auto to = [&](int x) {
            return "xdotool mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y);
        };
        shell(to(x0) + " mousedown 1");
        for (int x : xs) {
            usleep(50000);
            shell(to(x));
        }
        usleep(50000);
        if (release)
            shell("xdotool mouseup 1");
    }

    // Drags the FPS slider to its right end: 120 frames per second.
    void fastest_frames() { drag(532, 110, {120, 135, 150, 165, 175}); }

    // Clicks "Play .mid", types the (absolute) path into the file chooser and presses Enter;
    // the wall-clock time of the Enter key in microseconds, or -1 when no chooser came up.
    double play(const std::string& path)
    {
        click(play_x, play_y);
        if (!wait_until(5, 0.1, [&] { return !find_window("Open").empty(); }))
            return -1;
        usleep(500000);
        // Typed at a hand's pace into the name field, which opens empty. The chooser completes
        // names as they are typed: Delete drops what it offers to complete the last name with.
        shell("xdotool type --delay " + std::to_string(type_delay_ms) + " '" + path + "'");
        shell("xdotool key Delete");
        usleep(100000);
        double enter = wall_us();
        shell("xdotool key Return");
        return enter;
    }

    // The first glyph (of the channel and key, when given) traced after a time, waiting up to
    // the given seconds; -1 when none.
    double first_glyph_after(double since, double seconds, int channel = -1, int key = -1)
    {
        TraceFollower trace(trace_path);
        double at = -1;
        wait_until(seconds, 0.02, [&] {
            trace.update();
            for (const GlyphLine& g : trace.lines.glyph)
                if (at < 0 && g.wall >= since && (channel < 0 || (g.channel == channel && g.key == key)))
                    at = g.wall;
            return at >= 0;
        });
        return at;
    }

    // Waits until the frames have stopped after the time since: the program says so with an
    // idle line, so a machine too busy to draw for a while is not taken for one that stopped.
    bool wait_until_idle(TraceFollower& trace, double seconds, double since)
    {
        return wait_until(seconds, 0.1, [&] {
            trace.update();
            return !trace.lines.idle.empty() && trace.lines.idle.back().wall >= since;
        });
    }
    bool wait_until_idle(double seconds, double since)
    {
        TraceFollower trace(trace_path);
        return wait_until_idle(trace, seconds, since);
    }

    bool screenshot(const std::string& png) const { return ::screenshot(window, png); }
    // The mean over a region (w x h at x, y) of a screenshot of an fx expression, e.g. the
    // share of red pixels.
    static double region_mean(const std::string& png, int x, int y, int w, int h,
                              const std::string& fx)
    {
        std::string crop = std::to_string(w) + "x" + std::to_string(h) + "+" + std::to_string(x) +
                           "+" + std::to_string(y);
        return atof(shell_output("convert '" + png + "' -crop " + crop + " +repage -fx '" + fx +
                                 "' -format '%[fx:mean]' info:").c_str());
    }

    // What the program printed on its standard streams.
    std::string output() const { return read_whole_file(output_path); }
};

#endif
