// What rendering costs: every song of tests/data/songs is rendered by corvelle-render at the
// defaults, with --resample=l, and on the cheapest path (--resample=l --reverb=0 --chorus=0),
// and for each the table gives the audio seconds written, the CPU seconds of the tool (user and
// system time of the child process), the speed as a multiple of real time, the average and
// peak number of voices, the CPU nanoseconds per voice-sample (CPU time over average voices
// times audio samples) and the tool's peak resident memory. Under each table: the median
// song's speed, busy_schedule's CPU seconds and the largest peak memory.
//
// A last table renders a song this program writes for itself: 256 sustained notes (organ and
// strings on fifteen channels, no drums) held for 20 seconds, each channel bent a little off
// its pitch so that no note can be played from the resample cache and every voice goes through
// the resampler. Its CPU seconds over audio seconds is the share of one core that 256 voices
// take in real time.
//
// A SoundFont table (when /usr/share/sounds/sf2/FluidR3_GM.sf2 is installed) renders every
// song at the defaults with that font in front of the patch set (soundfont ... order=0): speed,
// CPU, voices, ns per voice-sample and peak memory as above; and a start-up row gives the CPU
// seconds, wall seconds and peak memory of the tool playing one short piano note, with the
// patch set and with the font (reading the font's tables and loading one preset).
//
// The tool does not report its voices, so this program plays the songs once more itself,
// through the engine at the defaults, and counts the voices in use (count_active_voices) at
// every control event the player sends while it plays (note events, the refresh after each
// event and the end of every 4096-frame block), weighting each count by the samples rendered
// until the next event. A voice that ends inside a block is counted up to the next event. The
// voice counts do not depend on the resampler and serve both rows of a song.
//
// With --video, only the video table: every song made into an H.264 + AAC video by
// corvelle-render --video at the defaults, 1280 x 720 and 1920 x 1080 at 60 frames a second:
// the video's length, the CPU seconds and speed (length over CPU time, and over wall time), the
// peak resident memory, and how the CPU time split between synthesis, drawing, colour
// conversion and encoding (the tool's summary line).
//
// Run from anywhere with the build's programs next to this one:
//     build/bench_render [--soundfont | --video] [song.mid ...]
// (--soundfont: only the SoundFont table and the start-up row)
// or all benchmarks with `make bench`.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <ctime>

#include "config/readconfig.h"
#include "frontend/controls.h"
#include "frontend/options.h"
#include "frontend/startup.h"
#include "output/output.h"
#include "play/playmidi.h"
#include "play/voice.h"
#include "bench/program_dir.h"

static std::string read_file(const std::string& path)
{
    std::string s;
    if (FILE* f = fopen(path.c_str(), "rb")) {
        char buf[65536];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            s.append(buf, n);
        fclose(f);
    }
    return s;
}

static uint32_t le32(const std::string& s, size_t at)
{
    return (uint8_t)s[at] | (uint8_t)s[at + 1] << 8 | (uint8_t)s[at + 2] << 16 |
           (uint32_t)(uint8_t)s[at + 3] << 24;
}

// Seconds of audio in a PCM RIFF WAVE file, -1 when it is not one.
static double wave_seconds(const std::string& path)
{
    std::string s = read_file(path);
    if (s.size() < 12 || s.compare(0, 4, "RIFF") != 0 || s.compare(8, 4, "WAVE") != 0)
        return -1;
    uint32_t bytes_per_second = 0;
    for (size_t at = 12; at + 8 <= s.size();) {
        uint32_t len = le32(s, at + 4);
        if (s.compare(at, 4, "fmt ") == 0 && at + 20 <= s.size())
            bytes_per_second = le32(s, at + 16);
        if (s.compare(at, 4, "data") == 0)
            return bytes_per_second > 0 ? (double)len / bytes_per_second : -1;
        at += 8 + len + (len & 1);
    }
    return -1;
}

struct ToolCost {
    double audio = -1, cpu = 0, rss_mib = 0, wall = 0;  // rss: the child's peak resident memory
    int status = -1;  // the tool's exit status
};

// Runs corvelle-render on the song with the extra option (or none) writing to out, and
// measures the child's CPU time.
static ToolCost render_with_tool(const std::string& tool, const std::string& song, const char* option,
                                 const std::string& out)
{
    ToolCost c;
    timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    pid_t pid = fork();
    if (pid < 0)
        return c;
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        // The options: words separated by spaces.
        std::vector<std::string> words;
        for (const char* p = option; p != nullptr && *p != '\0';) {
            const char* e = strchr(p, ' ');
            words.push_back(e ? std::string(p, e) : std::string(p));
            p = e ? e + 1 : nullptr;
        }
        std::vector<const char*> argv = {tool.c_str()};
        for (const std::string& w : words)
            argv.push_back(w.c_str());
        argv.insert(argv.end(), {"-o", out.c_str(), song.c_str(), nullptr});
        execv(tool.c_str(), (char* const*)argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage ru;
    const bool waited = wait4(pid, &status, 0, &ru) == pid;
    clock_gettime(CLOCK_MONOTONIC, &t1);
    c.wall = (double)(t1.tv_sec - t0.tv_sec) + (t1.tv_nsec - t0.tv_nsec) / 1e9;
    if (waited && WIFEXITED(status)) {
        c.status = WEXITSTATUS(status);
        c.cpu = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
                ru.ru_stime.tv_usec / 1e6;
        c.rss_mib = ru.ru_maxrss / 1024.0;
        if (c.status == 0)
            c.audio = wave_seconds(out);
    }
    unlink(out.c_str());
    return c;
}

// ---- video export ----

struct VideoCost {
    ToolCost cost;  // cost.audio: the video's length in seconds
    double synthesis = 0, drawing = 0, conversion = 0, encoding = 0;  // CPU seconds
};

// corvelle-render --video=out --size=size song; its summary line read from standard error.
static VideoCost video_with_tool(const std::string& tool, const std::string& song, const char* size,
                                 const std::string& out, const std::string& log)
{
    VideoCost v;
    timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    pid_t pid = fork();
    if (pid < 0)
        return v;
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY), err = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(null, 1);
        dup2(err, 2);
        const std::string video = "--video=" + out, sized = std::string("--size=") + size;
        const char* argv[] = {tool.c_str(), video.c_str(), sized.c_str(), song.c_str(), nullptr};
        execv(tool.c_str(), (char* const*)argv);
        _exit(127);
    }
    int status = 0;
    struct rusage ru;
    const bool waited = wait4(pid, &status, 0, &ru) == pid;
    clock_gettime(CLOCK_MONOTONIC, &t1);
    v.cost.wall = (double)(t1.tv_sec - t0.tv_sec) + (t1.tv_nsec - t0.tv_nsec) / 1e9;
    if (waited && WIFEXITED(status)) {
        v.cost.status = WEXITSTATUS(status);
        v.cost.cpu = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
                     ru.ru_stime.tv_usec / 1e6;
        v.cost.rss_mib = ru.ru_maxrss / 1024.0;
        std::string text = read_file(log);
        size_t at = text.find(".mid, ");
        size_t split = text.find("; CPU: synthesis ");
        if (v.cost.status == 0 && at != std::string::npos && split != std::string::npos) {
            v.cost.audio = atof(text.c_str() + at + 6);
            sscanf(text.c_str() + split, "; CPU: synthesis %lf s, drawing %lf s, conversion %lf s, encoding %lf s",
                   &v.synthesis, &v.drawing, &v.conversion, &v.encoding);
        }
    }
    unlink(out.c_str());
    unlink(log.c_str());
    return v;
}

static double median(std::vector<double> v);

static int video_table(const std::string& tool, const std::vector<std::string>& songs,
                       const std::string& dir)
{
    printf("corvelle-render --video=out.mp4 (libx264 superfast, CRF 20, no B-frames, AAC) at 60 fps; CPU: user\n"
           "and system time of the tool; x CPU: video length over CPU time; x wall: over wall\n"
           "time; the split: CPU seconds in synthesis, drawing, colour conversion, encoding\n");
    bool ok = true;
    for (const char* size : {"1280x720", "1920x1080"}) {
        printf("\n%s\n%-26s %8s %8s %7s %7s %8s %8s %8s %8s %8s\n", size, "song", "video s", "CPU s",
               "x CPU", "x wall", "RSS MiB", "synth s", "draw s", "conv s", "enc s");
        std::vector<double> speeds;
        double rss = 0;
        for (const std::string& song : songs) {
            const std::string name = song.substr(song.rfind('/') + 1);
            VideoCost v = video_with_tool(tool, song, size, dir + "/out.mp4", dir + "/log.txt");
            if (v.cost.audio <= 0) {
                printf("%-26s failed (exit status %d)\n", name.c_str(), v.cost.status);
                ok = false;
                continue;
            }
            printf("%-26s %8.1f %8.2f %7.2f %7.2f %8.1f %8.2f %8.2f %8.2f %8.2f\n", name.c_str(),
                   v.cost.audio, v.cost.cpu, v.cost.audio / v.cost.cpu, v.cost.audio / v.cost.wall,
                   v.cost.rss_mib, v.synthesis, v.drawing, v.conversion, v.encoding);
            fflush(stdout);
            speeds.push_back(v.cost.audio / v.cost.wall);
            rss = std::max(rss, v.cost.rss_mib);
        }
        printf("median song: %.2f x real time (wall); largest peak memory: %.1f MiB\n", median(speeds), rss);
    }
    return ok ? 0 : 1;
}

// ---- voices in use, counted in this process ----

struct VoiceUse {
    double voice_samples = 0;
    int32 samples = 0;
    int peak = 0;
};
static std::vector<VoiceUse> voice_use;  // one per song played
static bool waiting = false, counting = false;
static int32 last_sample = 0;
static int last_count = 0;

static void note_voices(void)
{
    VoiceUse& u = voice_use.back();
    if (current_sample > last_sample) {
        u.voice_samples += (double)last_count * (current_sample - last_sample);
        last_sample = current_sample;
    }
    last_count = count_active_voices();
    u.peak = std::max(u.peak, last_count);
    u.samples = std::max(u.samples, current_sample);
}

// A song's playback starts with the reset that puts the clock at 0 after the pre-scan.
static void count_voices(ControlEvent* e)
{
    if (e->type == CTLE_PLAY_START) {
        voice_use.push_back(VoiceUse());
        waiting = true;
        counting = false;
    } else if (e->type == CTLE_RESET && waiting && !prescanning_flag) {
        waiting = false;
        counting = true;
        last_sample = current_sample;
        note_voices();
    } else if (counting) {
        note_voices();
        if (e->type == CTLE_PLAY_END)
            counting = false;
    }
}

static int open_quietly(int using_stdin, int)
{
    return ctl_open(using_stdin, 1);
}

static void play_counted(const std::vector<std::string>& songs)
{
    for (const std::string& s : songs) {
        const size_t before = voice_use.size();
        std::string file = s;
        char* files[] = {&file[0]};
        corvelle_play_main(1, files);
        voice_use.resize(before + 1);
    }
}

// Plays the songs through the engine with the build's configuration, writing nothing; a song
// that cannot be played leaves an empty count.
static bool count_voices_of(const std::vector<std::string>& songs)
{
    dumb_control_mode.open = open_quietly;
    dumb_control_mode.event = count_voices;
    play_mode = &wave_play_mode;
    corvelle_start_initialize();
    char name[] = "bench_render", o[] = "-o", null[] = "/dev/null", quiet[] = "-idq";
    char* argv[] = {name, quiet, o, null};
    int next = 0;
    if (parse_options(4, argv, 1, &next) != 0)
        return false;
    corvelle_pre_load_configuration();
    if (corvelle_post_load_configuration() != 0)
        return false;
    corvelle_init_player();
    play_counted(songs);
    return true;
}

// ---- the sustained-voices song ----

static void put_vlq(std::string& out, uint32_t v)
{
    char buf[5];
    int n = 0;
    buf[n++] = (char)(v & 0x7f);
    while ((v >>= 7) != 0)
        buf[n++] = (char)(0x80 | (v & 0x7f));
    while (n > 0)
        out += buf[--n];
}

// A format 0 file at 480 ticks per quarter, 120 beats per minute: 256 notes from the start,
// a small bend on every channel after 50 ms, all notes off after `seconds`.
static bool write_song(const std::string& path, const std::string& track);

static bool write_sustained_song(const std::string& path, int notes, int seconds)
{
    struct Ev {
        uint32_t tick;
        std::string bytes;
    };
    std::vector<Ev> evs;
    const int channels[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 14, 15};
    const int programs[] = {16, 19, 48};
    const int nch = (int)(sizeof channels / sizeof channels[0]);
    for (int k = 0; k < nch; k++) {
        const char c = (char)channels[k];
        evs.push_back({0, std::string{(char)(0xC0 | c), (char)programs[k % 3]}});
        evs.push_back({0, std::string{(char)(0xB0 | c), 7, 40}});
        evs.push_back({48, std::string{(char)(0xE0 | c), (char)(k * 7 % 128), 0x40}});
    }
    const uint32_t end = 960u * (uint32_t)seconds;
    for (int i = 0; i < notes; i++) {
        const char c = (char)channels[i % nch], key = (char)(36 + (i * 7) % 60);
        evs.push_back({0, std::string{(char)(0x90 | c), key, 80}});
        evs.push_back({end, std::string{(char)(0x80 | c), key, 0}});
    }
    std::stable_sort(evs.begin(), evs.end(), [](const Ev& a, const Ev& b) { return a.tick < b.tick; });
    std::string track;
    uint32_t now = 0;
    for (const Ev& e : evs) {
        put_vlq(track, e.tick - now);
        now = e.tick;
        track += e.bytes;
    }
    return write_song(path, track);
}

// One piano note of half a second.
static bool write_one_note_song(const std::string& path)
{
    return write_song(path, std::string("\x00\xc0\x00\x00\x90\x3c\x64\x83\x60\x80\x3c\x00", 12));
}

// A format 0 file at 480 ticks per quarter of the track's events (the end is added).
static bool write_song(const std::string& path, const std::string& events)
{
    std::string track = events + std::string("\x00\xff\x2f\x00", 4);
    std::string file("MThd\0\0\0\6\0\0\0\1\x01\xe0MTrk", 18);
    const uint32_t len = (uint32_t)track.size();
    file += std::string{(char)(len >> 24), (char)(len >> 16), (char)(len >> 8), (char)len};
    file += track;
    FILE* fp = fopen(path.c_str(), "wb");
    if (fp == nullptr)
        return false;
    const bool ok = fwrite(file.data(), 1, file.size(), fp) == file.size();
    return fclose(fp) == 0 && ok;
}

static double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int main(int argc, char** argv)
{
    const std::string here = program_dir(), tool = here + "/corvelle-render";
    std::vector<std::string> songs;
    bool soundfont_only = false, video_only = false;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            printf("usage: bench_render [--soundfont | --video] [song.mid ...]\n"
                   "Renders the songs (default: tests/data/songs) with corvelle-render and prints\n"
                   "the tables of the patch set alone, of the GM SoundFont and of 256 sustained\n"
                   "voices; --soundfont prints only the SoundFont table and the start-up row;\n"
                   "--video only the table of video exports.\n");
            return 0;
        }
        if (strcmp(argv[i], "--soundfont") == 0)
            soundfont_only = true;
        else if (strcmp(argv[i], "--video") == 0)
            video_only = true;
        else
            songs.push_back(argv[i]);
    }
    if (songs.empty()) {
        std::string dir = here + "/../tests/data/songs";
        if (DIR* d = opendir(dir.c_str())) {
            while (dirent* e = readdir(d)) {
                std::string n = e->d_name;
                if (n.size() > 4 && n.compare(n.size() - 4, 4, ".mid") == 0)
                    songs.push_back(dir + "/" + n);
            }
            closedir(d);
        }
        std::sort(songs.begin(), songs.end());
    }
    if (songs.empty() || access(tool.c_str(), X_OK) != 0) {
        fprintf(stderr, "bench_render: needs %s and songs (none found in tests/data/songs)\n",
                tool.c_str());
        return 1;
    }
    char dir_template[] = "/tmp/corvelle-render-XXXXXX";
    if (mkdtemp(dir_template) == nullptr)
        return 1;
    const std::string out = std::string(dir_template) + "/out.wav";
    if (video_only) {
        int rc = video_table(tool, songs, dir_template);
        rmdir(dir_template);
        return rc;
    }

    // The synthetic song of sustained voices, next to the output.
    const std::string sustained = std::string(dir_template) + "/sustained_256.mid";
    const bool have_sustained = !soundfont_only && write_sustained_song(sustained, 256, 20);

    // The first tables measure the patch set alone: the configuration the build writes also
    // names the GM SoundFont for the programs the set lacks, which this leaves out.
    const std::string patch_cfg = std::string(dir_template) + "/patches.cfg";
    if (FILE* fp = fopen(patch_cfg.c_str(), "w")) {
        fprintf(fp, "source %s/corvelle.cfg\nsoundfont /usr/share/sounds/sf2/FluidR3_GM.sf2 remove\n",
                here.c_str());
        fclose(fp);
    }
    enum { SETTINGS = 3 };
    const std::string patch_options[SETTINGS] = {"-c " + patch_cfg, "-c " + patch_cfg + " --resample=l",
                                                 "-c " + patch_cfg + " --resample=l --reverb=0 --chorus=0"};
    const char* options[SETTINGS] = {patch_options[0].c_str(), patch_options[1].c_str(),
                                     patch_options[2].c_str()};
    const char* titles[SETTINGS] = {"at the defaults, patch set alone", "--resample=l, patch set alone",
                                    "--resample=l --reverb=0 --chorus=0 (the cheapest path), patch set alone"};
    struct Row {
        std::string song;
        ToolCost cost[SETTINGS];
    };
    std::vector<Row> rows;
    for (const std::string& s : songs) {
        Row r;
        r.song = s.substr(s.rfind('/') + 1);
        for (int k = 0; k < SETTINGS && !soundfont_only; k++)
            r.cost[k] = render_with_tool(tool, s, options[k], out);
        rows.push_back(r);
    }
    ToolCost held;
    if (have_sustained)
        held = render_with_tool(tool, sustained, options[0], out);

    // The GM SoundFont in front of the patch set, and the start-up with one note.
    const char* gm = "/usr/share/sounds/sf2/FluidR3_GM.sf2";
    const bool have_gm = access(gm, R_OK) == 0;
    const std::string gm_cfg = std::string(dir_template) + "/gm.cfg";
    const std::string gm_option = "-c " + gm_cfg;
    const std::string one_note = std::string(dir_template) + "/one_note.mid";
    std::vector<ToolCost> gm_costs;
    ToolCost start_patch, start_gm;
    if (have_gm) {
        if (FILE* fp = fopen(gm_cfg.c_str(), "w")) {
            fprintf(fp, "source %s/corvelle.cfg\nsoundfont %s order=0\n", here.c_str(), gm);
            fclose(fp);
        }
        for (const std::string& s : songs)
            gm_costs.push_back(render_with_tool(tool, s, gm_option.c_str(), out));
        if (write_one_note_song(one_note)) {
            start_patch = render_with_tool(tool, one_note, options[0], out);
            start_gm = render_with_tool(tool, one_note, gm_option.c_str(), out);
        }
        unlink(one_note.c_str());
    }
    std::vector<std::string> counted = soundfont_only ? std::vector<std::string>() : songs;
    if (have_sustained)
        counted.push_back(sustained);
    if (!count_voices_of(counted)) {
        fprintf(stderr, "bench_render: the engine found no configuration here\n");
        return 1;
    }
    const size_t gm_first = voice_use.size();
    if (have_gm) {
        read_config_file(gm_cfg.c_str(), 0);
        free_instruments(0);
        play_counted(songs);
    }
    unlink(sustained.c_str());
    unlink(gm_cfg.c_str());
    rmdir(dir_template);

    printf("CPU: user and system time of corvelle-render; voices: counted in this process at every\n"
           "control event of the player, weighted by the samples rendered until the next one;\n"
           "RSS: peak resident memory of corvelle-render\n");
    bool ok = true;
    for (int k = 0; k < SETTINGS && !soundfont_only; k++) {
        printf("\ncorvelle-render %s\n", titles[k]);
        printf("%-26s %8s %8s %9s %7s %5s %15s %8s\n", "song", "audio s", "CPU s", "x real",
               "voices", "peak", "ns/voice-sample", "RSS MiB");
        double audio = 0, cpu = 0, voice_samples = 0, busy_cpu = -1, rss = 0;
        int peak = 0;
        std::vector<double> speeds;
        for (size_t i = 0; i < rows.size(); i++) {
            const ToolCost& c = rows[i].cost[k];
            const VoiceUse& u = voice_use[i];
            if (c.audio <= 0 || u.samples <= 0) {
                printf("%-26s failed (exit status %d, %d samples played here)\n", rows[i].song.c_str(),
                       c.status, (int)u.samples);
                ok = false;
                continue;
            }
            // The voices' average over the samples the engine rendered here, applied to the
            // audio the tool wrote; the two renders are of one length.
            const double avg = u.voice_samples / u.samples;
            if (std::abs(u.samples - c.audio * play_mode->rate) > 4096)
                fprintf(stderr, "bench_render: %s: %d samples played here, %.0f written by the tool\n",
                        rows[i].song.c_str(), (int)u.samples, c.audio * play_mode->rate);
            const double vs = avg * c.audio * play_mode->rate;
            printf("%-26s %8.1f %8.2f %9.1f %7.1f %5d %15.1f %8.1f\n", rows[i].song.c_str(), c.audio,
                   c.cpu, c.cpu > 0 ? c.audio / c.cpu : 0.0, avg, u.peak,
                   vs > 0 ? c.cpu * 1e9 / vs : 0.0, c.rss_mib);
            audio += c.audio;
            cpu += c.cpu;
            voice_samples += vs;
            peak = std::max(peak, u.peak);
            rss = std::max(rss, c.rss_mib);
            if (c.cpu > 0)
                speeds.push_back(c.audio / c.cpu);
            if (rows[i].song == "busy_schedule.mid")
                busy_cpu = c.cpu;
        }
        if (audio > 0 && cpu > 0)
            printf("%-26s %8.1f %8.2f %9.1f %7.1f %5d %15.1f %8.1f\n", "all songs", audio, cpu,
                   audio / cpu, voice_samples / (audio * play_mode->rate), peak,
                   cpu * 1e9 / voice_samples, rss);
        printf("median song: %.1f x real time", median(speeds));
        if (busy_cpu >= 0)
            printf("; busy_schedule.mid: %.2f s CPU", busy_cpu);
        printf("; largest peak memory: %.1f MiB\n", rss);
    }

    if (!have_gm) {
        printf("\nSoundFont: %s is not installed (scripts/setup.sh installs fluid-soundfont-gm)\n", gm);
    } else {
        printf("\ncorvelle-render at the defaults with the GM SoundFont in front of the patch set\n"
               "(soundfont %s order=0)\n", gm);
        printf("%-26s %8s %8s %9s %7s %5s %15s %8s\n", "song", "audio s", "CPU s", "x real",
               "voices", "peak", "ns/voice-sample", "RSS MiB");
        std::vector<double> speeds;
        double busy_cpu = -1, rss = 0;
        for (size_t i = 0; i < rows.size(); i++) {
            const ToolCost& c = gm_costs[i];
            const VoiceUse* v = gm_first + i < voice_use.size() ? &voice_use[gm_first + i] : nullptr;
            if (c.audio <= 0 || v == nullptr || v->samples <= 0) {
                printf("%-26s failed (exit status %d)\n", rows[i].song.c_str(), c.status);
                ok = false;
                continue;
            }
            const double avg = v->voice_samples / v->samples, vs = avg * c.audio * play_mode->rate;
            printf("%-26s %8.1f %8.2f %9.1f %7.1f %5d %15.1f %8.1f\n", rows[i].song.c_str(), c.audio,
                   c.cpu, c.cpu > 0 ? c.audio / c.cpu : 0.0, avg, v->peak,
                   vs > 0 ? c.cpu * 1e9 / vs : 0.0, c.rss_mib);
            if (c.cpu > 0)
                speeds.push_back(c.audio / c.cpu);
            rss = std::max(rss, c.rss_mib);
            if (rows[i].song == "busy_schedule.mid")
                busy_cpu = c.cpu;
        }
        printf("median song: %.1f x real time", median(speeds));
        if (busy_cpu >= 0)
            printf("; busy_schedule.mid: %.2f s CPU", busy_cpu);
        printf("; largest peak memory: %.1f MiB\n", rss);
        printf("start-up and one piano note: patch set %.2f s CPU, %.2f s wall, %.1f MiB; "
               "GM SoundFont %.2f s CPU, %.2f s wall, %.1f MiB\n",
               start_patch.cpu, start_patch.wall, start_patch.rss_mib, start_gm.cpu, start_gm.wall,
               start_gm.rss_mib);
    }

    if (soundfont_only)
        return ok ? 0 : 1;
    printf("\n256 sustained notes for 20 s at the defaults (a song written here, bent off the\n"
           "resample cache)\n");
    const VoiceUse* u = have_sustained && voice_use.size() > rows.size() ? &voice_use[rows.size()] : nullptr;
    if (held.audio <= 0 || u == nullptr || u->samples <= 0) {
        printf("failed (exit status %d)\n", held.status);
        ok = false;
    } else {
        const double avg = u->voice_samples / u->samples;
        printf("audio %.1f s, CPU %.2f s, voices %.1f average, %d peak, %.1f MiB: "
               "%.3f of one core in real time, %.3f per 256 voices\n",
               held.audio, held.cpu, avg, u->peak, held.rss_mib, held.cpu / held.audio,
               avg > 0 ? held.cpu / held.audio * 256.0 / avg : 0.0);
    }
    return ok ? 0 : 1;
}
