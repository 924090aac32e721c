#include "platform/waveout.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

#include "platform/debugout.h"
#include "platform/waveout_sink.h"

namespace {

enum DeviceKind { DEVICE_ALSA, DEVICE_VIRTUAL, DEVICE_UNKNOWN };

struct DeviceChoice {
    DeviceKind kind;
    std::string arg;  // ALSA PCM name, or the capture path (empty: no capture)
};

DeviceChoice chosen_device()
{
    const char* v = getenv("CORVELLE_AUDIO_DEVICE");
    std::string s = v ? v : "";
    if (s.empty() || s == "alsa")
        return {DEVICE_ALSA, "default"};
    if (s.compare(0, 5, "alsa:") == 0 && s.size() > 5)
        return {DEVICE_ALSA, s.substr(5)};
    if (s == "null")
        return {DEVICE_VIRTUAL, ""};
    if (s.compare(0, 8, "capture:") == 0 && s.size() > 8)
        return {DEVICE_VIRTUAL, s.substr(8)};
    return {DEVICE_UNKNOWN, s};
}

const uint32_t DEVICE_MAGIC = 0x57415645;  // "WAVE"

double wall_clock_us()
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return (double)tv.tv_sec * 1e6 + (double)tv.tv_usec;
}

}  // namespace

static std::mutex failure_lock;
static std::string failure_text;

void remember_device_failure(const std::string& text)
{
    std::lock_guard<std::mutex> g(failure_lock);
    failure_text = text;
}

const char* waveOutFailureText(void)
{
    thread_local std::string copy;
    std::lock_guard<std::mutex> g(failure_lock);
    copy = failure_text;
    return copy.c_str();
}

void report_device_failure(const std::string& text)
{
    remember_device_failure(text);
    std::string line = text + "\n";
    // One write keeps the line whole beside the engine's messages from other threads.
    ssize_t w = write(STDERR_FILENO, line.data(), line.size());
    (void)w;
}

struct WaveOutDevice {
    uint32_t magic = DEVICE_MAGIC;
    WAVEFORMATEX format{};
    WaveSink* sink = nullptr;
    WAVEOUTPROC callback = nullptr;
    DWORD_PTR instance = 0;

    std::mutex lock;
    std::condition_variable wake;
    // Queued headers, oldest first; the front one is playing. A header leaves the queue
    // only when it is handed back.
    std::deque<WAVEHDR*> queue;
    bool quit = false;
    bool resetting = false;
    bool failed = false;
    bool continues = false;  // the front header was queued before the last one finished
    bool paused = false;     // hold the queue (waveOutPause) until waveOutRestart
    bool in_play = false;    // the device thread is handing a header to the sink
    DWORD front_done = 0;    // bytes of the front header already played (before a pause)
    uint64_t bytes_played = 0;
    int trace_fd = -1;
    std::thread thread;
};

static bool valid_handle(HWAVEOUT h)
{
    return h != nullptr && h->magic == DEVICE_MAGIC;
}

static void notify_client(HWAVEOUT dev, UINT msg, DWORD_PTR param1)
{
    if (dev->callback != nullptr)
        dev->callback(dev, msg, dev->instance, param1, 0);
}

static void write_trace_line(HWAVEOUT dev, uint64_t frames)
{
    if (dev->trace_fd < 0)
        return;
    char line[96];
    int n = snprintf(line, sizeof line, "device %.0f %llu\n", wall_clock_us(),
                     (unsigned long long)frames);
    // O_APPEND and one write per line keep lines whole beside other writers of the file.
    if (write(dev->trace_fd, line, (size_t)n) != n)
        OutputDebugStringA("wave device: could not write a trace line\n");
}

// Hands every queued header back. Called with the lock held; returns with it held.
static void return_all_headers(HWAVEOUT dev, std::unique_lock<std::mutex>& held)
{
    while (!dev->queue.empty()) {
        WAVEHDR* hdr = dev->queue.front();
        dev->queue.pop_front();
        hdr->dwFlags = (hdr->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        held.unlock();
        notify_client(dev, WOM_DONE, (DWORD_PTR)hdr);
        held.lock();
    }
}

// Waits until the device has sounded what it holds, so that a header handed back last means
// "heard"; stops early when more audio is queued or the device is reset or closed.
static void settle(HWAVEOUT dev, std::unique_lock<std::mutex>& held)
{
    double limit = wall_clock_us() + 2e6;
    for (;;) {
        if (dev->queue.size() > 1 || dev->resetting || dev->quit || dev->paused)
            return;
        held.unlock();
        long pending = dev->sink->pending_frames();
        held.lock();
        if (pending <= 0 || wall_clock_us() > limit)
            return;
        long ms = pending * 1000L / (long)dev->format.nSamplesPerSec;
        if (ms > 10)
            ms = 10;
        dev->wake.wait_for(held, std::chrono::milliseconds(ms + 1));
    }
}

// How long a reset fades out what was sounding, so that a stop or a seek does not click.
static const double RESET_FADE_SECONDS = 0.02;

// Scales frames of PCM in f's format by a gain falling in a straight line from just under 1
// to 0 at the last frame.
static void fade_out_pcm(char* data, size_t frames, const WAVEFORMATEX& f)
{
    const int bytes = f.wBitsPerSample / 8;
    for (size_t i = 0; i < frames; i++) {
        double gain = (double)(frames - 1 - i) / (double)frames;
        for (int c = 0; c < f.nChannels; c++) {
            unsigned char* p = (unsigned char*)data + (i * f.nChannels + c) * bytes;
            if (bytes == 1) {  // unsigned, centred on 128
                p[0] = (unsigned char)(128 + (int)std::lround((p[0] - 128) * gain));
                continue;
            }
            int32_t v = 0;  // signed little-endian, 16 or 24 bits
            for (int k = bytes - 1; k >= 0; k--)
                v = (v << 8) | p[k];
            v = (int32_t)((uint32_t)v << (32 - 8 * bytes)) >> (32 - 8 * bytes);
            v = (int32_t)std::lround(v * gain);
            for (int k = 0; k < bytes; k++)
                p[k] = (unsigned char)((uint32_t)v >> (8 * k));
        }
    }
}

// A reset while the device sounds: plays what would have come next for a few milliseconds,
// fading to silence, and waits until the device has sounded it. Called with the lock held;
// returns with it held.
static void fade_out_on_reset(HWAVEOUT dev, std::unique_lock<std::mutex>& held)
{
    if (dev->paused || dev->failed || dev->queue.empty())
        return;
    const size_t align = dev->format.nBlockAlign;
    const size_t want = (size_t)(dev->format.nSamplesPerSec * RESET_FADE_SECONDS) * align;
    std::string tail;
    DWORD from = dev->front_done;
    for (WAVEHDR* hdr : dev->queue) {
        if (tail.size() >= want)
            break;
        size_t take = std::min((size_t)(hdr->dwBufferLength - from), want - tail.size());
        tail.append(hdr->lpData + from, take);
        from = 0;
    }
    tail.resize(tail.size() - tail.size() % align);
    if (tail.empty())
        return;
    fade_out_pcm(&tail[0], tail.size() / align, dev->format);
    held.unlock();
    dev->sink->clear_interrupt();
    long played = dev->sink->play(tail.data(), (long)tail.size(), true);
    // A device with its own buffer sounds the fade after what it holds: it drops nothing
    // before it has played that.
    double limit = wall_clock_us() + 250e3;
    while (played > 0 && dev->sink->pending_frames() > 0 && wall_clock_us() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    held.lock();
    if (played > 0)
        dev->bytes_played += (uint64_t)played;
}

static void device_thread(HWAVEOUT dev)
{
    notify_client(dev, WOM_OPEN, 0);
    std::unique_lock<std::mutex> held(dev->lock);
    for (;;) {
        dev->wake.wait(held, [dev] {
            return (!dev->queue.empty() && !dev->paused) || dev->quit || dev->resetting;
        });
        if (dev->resetting) {
            fade_out_on_reset(dev, held);
            held.unlock();
            dev->sink->discard();
            held.lock();
            return_all_headers(dev, held);
            dev->continues = false;
            dev->front_done = 0;
            dev->paused = false;
            dev->resetting = false;
            dev->wake.notify_all();
            continue;
        }
        if (dev->queue.empty())
            break;  // quit with nothing left to play

        WAVEHDR* hdr = dev->queue.front();
        if (!dev->failed) {
            DWORD from = dev->front_done;
            bool continues = dev->continues;
            dev->in_play = true;
            dev->wake.notify_all();  // a restart waits for this
            held.unlock();
            long played = dev->sink->play(hdr->lpData + from, (long)(hdr->dwBufferLength - from),
                                          continues);
            held.lock();
            dev->in_play = false;
            dev->wake.notify_all();
            if (played < 0) {
                dev->failed = true;
                report_device_failure("wave device failed: " + dev->sink->error());
            } else {
                dev->bytes_played += (uint64_t)played;
                dev->front_done = from + (DWORD)played;
            }
            if (dev->resetting)
                continue;  // the reset hands this header back with the rest
            if (!dev->failed && dev->front_done < hdr->dwBufferLength) {
                // A pause cut the header short: its rest plays after the restart, as a new
                // start of the device's clock.
                dev->continues = false;
                continue;
            }
        }
        if (dev->resetting)
            continue;
        if (!dev->failed)
            settle(dev, held);
        if (dev->resetting)
            continue;

        dev->queue.pop_front();
        dev->front_done = 0;
        dev->continues = !dev->queue.empty() && !dev->paused;
        hdr->dwFlags = (hdr->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        if (!dev->failed) {
            held.unlock();
            long pending = dev->sink->pending_frames();
            held.lock();
            uint64_t frames = dev->bytes_played / dev->format.nBlockAlign;
            write_trace_line(dev, pending > 0 && (uint64_t)pending < frames ? frames - (uint64_t)pending
                                                                            : frames);
        }
        held.unlock();
        notify_client(dev, WOM_DONE, (DWORD_PTR)hdr);
        held.lock();
    }
    held.unlock();
    notify_client(dev, WOM_CLOSE, 0);
}

static bool format_supported(const WAVEFORMATEX* f)
{
    if (f == nullptr || f->wFormatTag != WAVE_FORMAT_PCM)
        return false;
    if (f->nChannels < 1 || f->nChannels > 2)
        return false;
    if (f->wBitsPerSample != 8 && f->wBitsPerSample != 16 && f->wBitsPerSample != 24)
        return false;
    if (f->nSamplesPerSec < 1000 || f->nSamplesPerSec > 384000)
        return false;
    if (f->nBlockAlign != f->nChannels * f->wBitsPerSample / 8)
        return false;
    return true;
}

UINT waveOutGetNumDevs(void)
{
    DeviceChoice d = chosen_device();
    switch (d.kind) {
    case DEVICE_ALSA:
        return alsa_sink_available(d.arg) ? 1 : 0;
    case DEVICE_VIRTUAL:
        return 1;
    default:
        remember_device_failure("unknown audio device \"" + d.arg + "\" in CORVELLE_AUDIO_DEVICE");
        return 0;
    }
}

MMRESULT waveOutOpen(LPHWAVEOUT phwo, UINT device_id, const WAVEFORMATEX* format,
                     DWORD_PTR callback, DWORD_PTR instance, DWORD flags)
{
    if (device_id != 0 && device_id != WAVE_MAPPER)
        return MMSYSERR_BADDEVICEID;
    DWORD kind = flags & CALLBACK_TYPEMASK;
    if (kind != CALLBACK_NULL && kind != CALLBACK_FUNCTION)
        return MMSYSERR_INVALFLAG;
    if (format == nullptr)
        return MMSYSERR_INVALPARAM;
    if (!format_supported(format))
        return WAVERR_BADFORMAT;
    DeviceChoice d = chosen_device();
    if (d.kind == DEVICE_UNKNOWN)
        return MMSYSERR_NODRIVER;
    if (flags & WAVE_FORMAT_QUERY)
        return MMSYSERR_NOERROR;
    if (phwo == nullptr)
        return MMSYSERR_INVALPARAM;

    MMRESULT result = MMSYSERR_NOERROR;
    WaveSink* sink = d.kind == DEVICE_ALSA ? open_alsa_sink(d.arg, *format, &result)
                                           : open_virtual_sink(d.arg, *format, &result);
    if (sink == nullptr)
        return result != MMSYSERR_NOERROR ? result : (MMRESULT)MMSYSERR_ERROR;

    HWAVEOUT dev = new WaveOutDevice;
    dev->format = *format;
    dev->sink = sink;
    dev->callback = kind == CALLBACK_FUNCTION ? (WAVEOUTPROC)callback : nullptr;
    dev->instance = instance;
    const char* trace = getenv("CORVELLE_TRACE");
    if (trace != nullptr && *trace != '\0') {
        dev->trace_fd = open(trace, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (dev->trace_fd < 0) {
            std::string text = std::string("wave device: cannot open trace file ") + trace + ": " +
                               strerror(errno) + "\n";
            OutputDebugStringA(text.c_str());
        }
    }
    long long recorded = sink->recorded_frames();
    if (dev->trace_fd >= 0 && recorded >= 0) {
        char line[96];
        int n = snprintf(line, sizeof line, "capture %.0f %lld\n", wall_clock_us(), recorded);
        if (write(dev->trace_fd, line, (size_t)n) != n)
            OutputDebugStringA("wave device: could not write a trace line\n");
    }
    dev->thread = std::thread(device_thread, dev);
    *phwo = dev;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetID(HWAVEOUT hwo, UINT* device_id)
{
    if (!valid_handle(hwo))
        return MMSYSERR_INVALHANDLE;
    if (device_id == nullptr)
        return MMSYSERR_INVALPARAM;
    *device_id = 0;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetDevCapsA(UINT_PTR device_id, WAVEOUTCAPSA* caps, UINT size)
{
    if (caps == nullptr || size < sizeof(WAVEOUTCAPSA))
        return MMSYSERR_INVALPARAM;
    if (device_id != 0 && device_id != (UINT_PTR)WAVE_MAPPER && !valid_handle((HWAVEOUT)device_id))
        return MMSYSERR_BADDEVICEID;
    DeviceChoice d = chosen_device();
    if (d.kind == DEVICE_UNKNOWN)
        return MMSYSERR_NODRIVER;
    memset(caps, 0, sizeof *caps);
    caps->vDriverVersion = 0x0100;
    std::string name = d.kind == DEVICE_ALSA ? "ALSA " + d.arg
                       : d.arg.empty()       ? std::string("Virtual device")
                                             : std::string("Virtual capture device");
    snprintf(caps->szPname, sizeof caps->szPname, "%s", name.c_str());
    caps->dwFormats = 0xFFF;  // every rate, channel count and width of the format bits
    caps->wChannels = 2;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR hdr, UINT size)
{
    if (!valid_handle(hwo))
        return MMSYSERR_INVALHANDLE;
    if (hdr == nullptr || size < sizeof(WAVEHDR) || hdr->lpData == nullptr)
        return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> g(hwo->lock);
    if (hdr->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    hdr->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR hdr, UINT size)
{
    if (!valid_handle(hwo))
        return MMSYSERR_INVALHANDLE;
    if (hdr == nullptr || size < sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> g(hwo->lock);
    if (hdr->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    hdr->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT hwo, LPWAVEHDR hdr, UINT size)
{
    if (!valid_handle(hwo))
        return MMSYSERR_INVALHANDLE;
    if (hdr == nullptr || size < sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> g(hwo->lock);
    if (!(hdr->dwFlags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (hdr->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    // A device that has failed takes nothing more: the failure reaches the writer here.
    if (hwo->failed)
        return MMSYSERR_ERROR;
    hdr->dwFlags = (hdr->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    hwo->queue.push_back(hdr);
    hwo->wake.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutReset(HWAVEOUT hwo)
{
    if (!valid_handle(hwo))
        return MMSYSERR_INVALHANDLE;
    if (hwo->thread.get_id() == std::this_thread::get_id())
        return MMSYSERR_HANDLEBUSY;  // from inside the callback it could never finish
    std::unique_lock<std::mutex> held(hwo->lock);
    hwo->resetting = true;
    hwo->sink->interrupt();
    hwo->wake.notify_all();
    hwo->wake.wait(held, [hwo] { return !hwo->resetting; });
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutPause(HWAVEOUT hwo)
{
    if (!valid_handle(hwo))
        return MMSYSERR_INVALHANDLE;
    if (hwo->thread.get_id() == std::this_thread::get_id())
        return MMSYSERR_HANDLEBUSY;
    std::unique_lock<std::mutex> held(hwo->lock);
    if (hwo->paused)
        return MMSYSERR_NOERROR;
    hwo->paused = true;
    // The next header plays from the restart on, not straight after the last one: a pause
    // that falls between two headers must not leave the device owing the paused time.
    hwo->continues = false;
    hwo->sink->interrupt();
    hwo->wake.notify_all();
    hwo->wake.wait(held, [hwo] { return !hwo->in_play; });
    // The device thread waits now; the next play starts without the interrupt.
    hwo->sink->clear_interrupt();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutRestart(HWAVEOUT hwo)
{
    if (!valid_handle(hwo))
        return MMSYSERR_INVALHANDLE;
    if (hwo->thread.get_id() == std::this_thread::get_id())
        return MMSYSERR_HANDLEBUSY;
    std::unique_lock<std::mutex> held(hwo->lock);
    if (!hwo->paused)
        return MMSYSERR_NOERROR;
    hwo->paused = false;
    hwo->wake.notify_all();
    // Returns once the device plays again (or has nothing to play), so that a clock started
    // now runs with the sound.
    hwo->wake.wait_for(held, std::chrono::seconds(1), [hwo] {
        return hwo->in_play || hwo->queue.empty() || hwo->resetting || hwo->failed || hwo->paused;
    });
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT hwo)
{
    if (!valid_handle(hwo))
        return MMSYSERR_INVALHANDLE;
    if (hwo->thread.get_id() == std::this_thread::get_id())
        return MMSYSERR_HANDLEBUSY;
    {
        std::lock_guard<std::mutex> g(hwo->lock);
        if (!hwo->queue.empty())
            return WAVERR_STILLPLAYING;
        hwo->quit = true;
        hwo->wake.notify_all();
    }
    hwo->thread.join();
    delete hwo->sink;
    if (hwo->trace_fd >= 0)
        close(hwo->trace_fd);
    hwo->magic = 0;
    delete hwo;
    return MMSYSERR_NOERROR;
}
