#include "tools/video/video_export.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>
#include <vector>

#include "frontend/startup.h"
#include "output/output.h"
#include "play/playmidi.h"
#include "vis/note_view.h"
#include "vis/palette.h"

const char video_usage[] =
    "Video: --video=OUT.mp4|.mkv|.webm writes the song's note view and sound as a video\n"
    "  --size=WxH (1280x720)  --fps=N (60, 1 to 240)  --crf=N  --preset=NAME (encoder's)\n"
    "  --fade=A (0.015, alpha per frame)  --speed=P (5, pixels per frame, 1 to 25)\n"
    "  --palette=mono|channels  --video-codec=ffv1 (lossless, .mkv with FLAC sound)\n";

namespace {

bool starts(const char* arg, const char* name, const char** value)
{
    size_t n = strlen(name);
    if (strncmp(arg, name, n) != 0)
        return false;
    *value = arg + n;
    return true;
}

bool whole_number(const char* text, long low, long high, int* out)
{
    char* end;
    errno = 0;
    long v = strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || v < low || v > high)
        return false;
    *out = (int)v;
    return true;
}

bool number(const char* text, float low, float high, float* out)
{
    char* end;
    float v = strtof(text, &end);
    if (end == text || *end != '\0' || !(v >= low && v <= high))
        return false;
    *out = v;
    return true;
}

}  // namespace

bool take_video_options(int* argc, char** argv, VideoRequest* request, std::string* error)
{
    int kept = 1;
    bool other = false;  // a video option besides --video
    std::string first_other;
    for (int i = 1; i < *argc; i++) {
        const char* a = argv[i];
        const char* v;
        bool ok = true;
        if (strcmp(a, "--") == 0) {  // what follows are files
            while (i < *argc)
                argv[kept++] = argv[i++];
            break;
        }
        if (starts(a, "--video=", &v)) {
            request->wanted = true;
            request->file.path = v;
            ok = *v != '\0';
        } else if (starts(a, "--size=", &v)) {
            int w = 0, h = 0, n = 0;
            ok = sscanf(v, "%d x %d%n", &w, &h, &n) == 2 && v[n] == '\0' && w >= 2 && h >= 2 &&
                 w <= 8192 && h <= 8192;
            request->file.width = w;
            request->file.height = h;
        } else if (starts(a, "--fps=", &v)) {
            ok = whole_number(v, 1, 240, &request->file.fps);
        } else if (starts(a, "--crf=", &v)) {
            request->file.crf = v;
            ok = *v != '\0';
        } else if (starts(a, "--preset=", &v)) {
            request->file.preset = v;
            ok = *v != '\0';
        } else if (starts(a, "--video-codec=", &v)) {
            request->file.video_codec = v;
            ok = *v != '\0';
        } else if (starts(a, "--fade=", &v)) {
            ok = number(v, 0.0f, 1.0f, &request->fade);
        } else if (starts(a, "--speed=", &v)) {
            ok = number(v, 1.0f, 25.0f, &request->speed);
        } else if (starts(a, "--palette=", &v)) {
            Visual probe[MAX_CHANNELS];
            request->palette = v;
            if (!apply_palette(v, probe)) {
                *error = std::string(a) + ": no such palette (" + palette_names + ")";
                return false;
            }
        } else {
            argv[kept++] = argv[i];
            continue;
        }
        if (!ok) {
            static const char* const ranges[][2] = {
                {"--video=", "a file name ending in .mp4, .mkv or .webm"},
                {"--size=", "WxH, each 2 to 8192 pixels"},
                {"--fps=", "a whole number of frames per second from 1 to 240"},
                {"--fade=", "the alpha a released note loses per frame, 0 to 1"},
                {"--speed=", "the pixels a note rises per frame, 1 to 25"},
            };
            std::string want = "a value";
            for (const auto& r : ranges)
                if (strncmp(a, r[0], strlen(r[0])) == 0)
                    want = r[1];
            *error = std::string(a) + ": expected " + want;
            return false;
        }
        if (strncmp(a, "--video=", 8) != 0 && !other) {
            other = true;
            first_other = a;
        }
    }
    *argc = kept;
    argv[kept] = nullptr;
    if (other && !request->wanted) {
        *error = first_other + " applies to a video: give --video=OUT.mp4 too";
        return false;
    }
    return true;
}

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Everything the output mode's callbacks share while one song is written.
struct Export {
    VideoFile* file = nullptr;
    OffscreenView view;
    int fps = 60;
    int channels = 2;
    int64 samples = 0;   // output samples written
    int64 frames = 0;    // pictures written
    std::vector<uint8_t> rows;  // the frame as rows of BGR from the top
    std::string error;   // the first failure
    double drawing = 0.0;  // CPU seconds of this thread
    const char* song = "";
    Clock::time_point started, last_progress;
    double cpu_start = 0.0, process_start = 0.0;  // CPU seconds of this thread, of the process
    bool progress = false;  // standard error is a terminal
};

Export* current = nullptr;

// The first output sample after frame k.
int64 frame_end(const Export& e, int64 k)
{
    return (k + 1) * (int64)e.view.rate / e.fps;
}

void show_progress(Export& e, bool force)
{
    if (!e.progress || (!force && since(e.last_progress) < 0.25))
        return;
    e.last_progress = Clock::now();
    // The song's samples and, after them, the frames the last glyphs need to leave the view.
    double tail_frames = std::ceil(e.view.height / e.view.speed);
    double total = (double)sample_count * e.fps / e.view.rate + tail_frames;
    double done = (double)e.frames;
    double pct = total > 0 ? std::min(100.0, 100.0 * done / total) : 0.0;
    double wall = since(e.started);
    double speed = wall > 0 ? done / e.fps / wall : 0.0;
    double left = speed > 0 ? std::max(0.0, total - done) / e.fps / speed : 0.0;
    fprintf(stderr, "\r%s: %3.0f%%  %.1fx real time, %d:%02d left   ", e.song, pct, speed,
            (int)left / 60, (int)left % 60);
    fflush(stderr);
}

bool write_frame(Export& e)
{
    double start = thread_cpu_seconds();
    e.view.frame(frame_end(e, e.frames) - 1);
    // The canvas holds columns from the bottom; the encoder takes rows from the top.
    const GlyphCanvas& c = e.view.canvas;
    const int w = c.width(), h = c.height();
    const uint32_t* px = c.pixels();
    uint8_t* out = e.rows.data();
    // In tiles of 32 x 32, so that both sides stay in the cache; 3 bytes B, G, R a pixel,
    // which the scaler turns into 4:2:0 YUV on its fastest path.
    const int tile = 32;
    for (int x0 = 0; x0 < w; x0 += tile) {
        const int x1 = std::min(w, x0 + tile);
        for (int y0 = 0; y0 < h; y0 += tile) {
            const int y1 = std::min(h, y0 + tile);
            for (int x = x0; x < x1; x++) {
                const uint32_t* column = px + (size_t)x * h;
                for (int y = y0; y < y1; y++) {
                    uint8_t* bgr = out + ((size_t)(h - 1 - y) * w + x) * 3;
                    const uint32_t rgba = column[y];
                    bgr[0] = (uint8_t)(rgba >> 16);
                    bgr[1] = (uint8_t)(rgba >> 8);
                    bgr[2] = (uint8_t)rgba;
                }
            }
        }
    }
    e.drawing += thread_cpu_seconds() - start;
    e.frames++;
    bool ok = video_add_frame(e.file, e.rows.data(), &e.error);
    show_progress(e, false);
    return ok;
}

int video_open_output(void)
{
    return 0;
}

void video_close_output(void)
{
}

// The samples as -Ow would write them: into the sound stream, and every frame whose span
// they complete into the picture stream.
int video_output_data(char* buf, int32 bytes)
{
    Export& e = *current;
    if (!e.error.empty())
        return -1;
    int frames = bytes / (2 * e.channels);
    if (!video_add_audio(e.file, reinterpret_cast<const int16_t*>(buf), frames, &e.error))
        return -1;
    e.samples += frames;
    while (frame_end(e, e.frames) <= e.samples)
        if (!write_frame(e))
            return -1;
    return 0;
}

void take_note(MidiEvent* ev)
{
    if (current != nullptr)
        current->view.pending.push_back(*ev);
}

PlayMode video_play_mode = {44100, PE_16BIT | PE_SIGNED, PF_PCM_STREAM, -1, {0, 0, 0, 0, 0},
                            "video file", 'V', nullptr, video_open_output, video_close_output,
                            video_output_data, written_output_acntl, nullptr};

std::string clock_text(double seconds)
{
    char buf[32];
    snprintf(buf, sizeof buf, "%.2f s", seconds);
    return buf;
}

}  // namespace

int render_video(const VideoRequest& request, const char* song)
{
    Export e;
    VideoSettings settings = request.file;
    settings.sample_rate = play_mode->rate;
    settings.channels = (play_mode->encoding & PE_MONO) ? 1 : 2;
    std::string error;
    e.file = video_open(settings, &error);
    if (e.file == nullptr) {
        fprintf(stderr, "corvelle-render: %s\n", error.c_str());
        return 1;
    }
    e.fps = settings.fps;
    e.channels = settings.channels;
    e.view.width = settings.width;
    e.view.height = settings.height;
    e.view.fade = request.fade;
    e.view.speed = request.speed;
    e.view.rate = settings.sample_rate;
    apply_palette(request.palette.c_str(), e.view.visuals);
    e.rows.assign((size_t)settings.width * settings.height * 3, 0);
    const char* base = strrchr(song, '/');
    e.song = base != nullptr ? base + 1 : song;
    e.progress = isatty(2) != 0;
    e.started = e.last_progress = Clock::now();
    e.cpu_start = thread_cpu_seconds();
    timespec t0;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t0);
    e.process_start = (double)t0.tv_sec + t0.tv_nsec / 1e9;

    video_play_mode.rate = settings.sample_rate;
    video_play_mode.encoding = PE_16BIT | PE_SIGNED | (settings.channels == 1 ? PE_MONO : 0);
    PlayMode* before = play_mode;
    play_mode = &video_play_mode;
    current = &e;
    set_qevent(take_note);
    int failures = playlist_failures;
    char* file = const_cast<char*>(song);
    int rc = corvelle_play_main(1, &file);
    set_qevent(nullptr);
    play_mode = before;
    bool ok = rc == 0 && playlist_failures == failures && e.error.empty();
    if (ok) {
        // The last frame that holds sound, then the sound is over: what is held is let go,
        // and the frames go on until the last glyph has left the view.
        while (ok && frame_end(e, e.frames - 1) < e.samples)
            ok = write_frame(e);
        e.view.pending.clear();
        let_go_of_all(e.view.visuals);
        int64 most = e.frames + (int64)std::ceil(e.view.height / e.view.speed) + 1;
        while (ok && !e.view.empty() && e.frames < most)
            ok = write_frame(e);
    }
    current = nullptr;
    if (e.progress) {
        show_progress(e, true);
        fputc('\n', stderr);
    }
    if (!ok) {
        if (!e.error.empty())
            fprintf(stderr, "corvelle-render: %s\n", e.error.c_str());
        video_abandon(e.file);
        return 1;
    }
    VideoTimes times = video_times(e.file);
    std::string codecs = video_codecs(e.file);
    if (!video_finish(e.file, &error)) {
        fprintf(stderr, "corvelle-render: %s\n", error.c_str());
        return 1;
    }
    // The encoders' threads: whatever CPU time the process used beyond this thread's.
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    double process = (double)t.tv_sec + t.tv_nsec / 1e9, main = thread_cpu_seconds() - e.cpu_start;
    double wall = since(e.started), length = (double)e.frames / e.fps;
    double synthesis = std::max(0.0, main - e.drawing - times.conversion - times.encoding);
    double encoding = times.encoding + std::max(0.0, process - e.process_start - main);
    fprintf(stderr,
            "%s: %s, %.2f s, %lld frames of %dx%d at %d fps (%s) in %.2f s, %.1fx real time; "
            "CPU: synthesis %s, drawing %s, conversion %s, encoding %s\n",
            settings.path.c_str(), e.song, length, (long long)e.frames, settings.width,
            settings.height, settings.fps, codecs.c_str(), wall, wall > 0 ? length / wall : 0.0,
            clock_text(synthesis).c_str(), clock_text(e.drawing).c_str(),
            clock_text(times.conversion).c_str(), clock_text(encoding).c_str());
    return 0;
}
