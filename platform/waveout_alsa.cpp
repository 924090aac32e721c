// The ALSA device: plays through an ALSA PCM with a small ring, so that what the device
// hands back has nearly been heard.
#include <alsa/asoundlib.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/debugout.h"
#include "platform/waveout_sink.h"

namespace {

// The ring's length in microseconds: short, because the play-position clock takes what was
// handed back as heard.
const unsigned RING_LATENCY_US = 50000;

// ALSA's own complaints go to the debug sink instead of standard error.
void alsa_error_sink(const char* file, int line, const char* function, int err, const char* fmt, ...)
{
    char text[512];
    int n = snprintf(text, sizeof text, "ALSA %s:%d (%s): ", file, line, function);
    if (n < 0 || n >= (int)sizeof text)
        n = 0;
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text + n, sizeof text - (size_t)n, fmt, ap);
    va_end(ap);
    std::string s = text;
    if (err != 0)
        s += std::string(": ") + snd_strerror(err);
    s += "\n";
    OutputDebugStringA(s.c_str());
}

void quiet_alsa()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(alsa_error_sink); });
}

class AlsaSink : public WaveSink {
public:
    AlsaSink(snd_pcm_t* pcm, const WAVEFORMATEX& f, snd_pcm_uframes_t period)
        : pcm_(pcm), format_(f), period_(period)
    {
    }

    ~AlsaSink() override
    {
        snd_pcm_drop(pcm_);
        snd_pcm_close(pcm_);
    }

    long play(const char* data, long bytes, bool) override
    {
        const long frame = format_.nBlockAlign;
        long taken = 0;
        // Complete the partial frame left by the last buffer.
        if (!carry_.empty()) {
            long need = frame - (long)carry_.size();
            long n = bytes < need ? bytes : need;
            carry_.insert(carry_.end(), data, data + n);
            taken = n;
            if ((long)carry_.size() < frame)
                return bytes;
            long w = write_frames(carry_.data(), 1);
            if (w < 0)
                return -1;
            carry_.clear();
            if (w == 0)
                return taken;
        }
        long frames = (bytes - taken) / frame;
        long w = write_frames(data + taken, frames);
        if (w < 0)
            return -1;
        taken += w * frame;
        if (w == frames) {
            carry_.assign(data + taken, data + bytes);
            taken = bytes;
        }
        return taken;
    }

    void interrupt() override { interrupted_ = true; }

    void discard() override
    {
        snd_pcm_drop(pcm_);
        snd_pcm_prepare(pcm_);
        carry_.clear();
        interrupted_ = false;
    }

    void clear_interrupt() override { interrupted_ = false; }

    long pending_frames() override
    {
        snd_pcm_state_t state = snd_pcm_state(pcm_);
        if (state != SND_PCM_STATE_RUNNING && state != SND_PCM_STATE_PREPARED)
            return 0;
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_delay(pcm_, &delay) < 0 || delay <= 0)
            return 0;
        // Sound that waits for the start threshold would never be heard: start it.
        if (state == SND_PCM_STATE_PREPARED && snd_pcm_start(pcm_) < 0)
            return 0;
        return (long)delay;
    }

    const std::string& error() const override { return error_; }

private:
    // Writes up to frames frames in period-sized pieces, stopping at an interrupt; returns the
    // frames written or -1 when the device failed.
    long write_frames(const char* p, long frames)
    {
        long done = 0;
        int recoveries = 0;
        while (done < frames && !interrupted_) {
            long n = frames - done;
            if (n > (long)period_)
                n = (long)period_;
            snd_pcm_sframes_t w = snd_pcm_writei(pcm_, p + done * format_.nBlockAlign, (snd_pcm_uframes_t)n);
            if (w < 0) {
                // Underrun, suspend or signal: recover and go on; anything else is a failure.
                if (++recoveries > 8 || snd_pcm_recover(pcm_, (int)w, 1) < 0) {
                    error_ = std::string("snd_pcm_writei: ") + snd_strerror((int)w);
                    return -1;
                }
                continue;
            }
            recoveries = 0;
            done += (long)w;
        }
        return done;
    }

    snd_pcm_t* pcm_;
    WAVEFORMATEX format_;
    snd_pcm_uframes_t period_;
    std::atomic<bool> interrupted_{false};
    std::vector<char> carry_;
    std::string error_;
};

snd_pcm_format_t alsa_format(const WAVEFORMATEX& f)
{
    switch (f.wBitsPerSample) {
    case 8:
        return SND_PCM_FORMAT_U8;
    case 16:
        return SND_PCM_FORMAT_S16_LE;
    default:
        return SND_PCM_FORMAT_S24_3LE;
    }
}

}  // namespace

int alsa_sink_available(const std::string& pcm_name)
{
    quiet_alsa();
    snd_pcm_t* pcm = nullptr;
    int err = snd_pcm_open(&pcm, pcm_name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0) {
        remember_device_failure("ALSA PCM \"" + pcm_name + "\": " + snd_strerror(err));
        return 0;
    }
    snd_pcm_close(pcm);
    return 1;
}

WaveSink* open_alsa_sink(const std::string& pcm_name, const WAVEFORMATEX& format, MMRESULT* result)
{
    quiet_alsa();
    snd_pcm_t* pcm = nullptr;
    int err = snd_pcm_open(&pcm, pcm_name.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
    if (err < 0) {
        remember_device_failure("ALSA PCM \"" + pcm_name + "\": " + snd_strerror(err));
        *result = err == -EBUSY ? MMSYSERR_ALLOCATED : MMSYSERR_NODRIVER;
        return nullptr;
    }
    err = snd_pcm_set_params(pcm, alsa_format(format), SND_PCM_ACCESS_RW_INTERLEAVED,
                             format.nChannels, format.nSamplesPerSec, 1, RING_LATENCY_US);
    if (err < 0)  // some devices cannot go that short
        err = snd_pcm_set_params(pcm, alsa_format(format), SND_PCM_ACCESS_RW_INTERLEAVED,
                                 format.nChannels, format.nSamplesPerSec, 1, 4 * RING_LATENCY_US);
    snd_pcm_uframes_t buffer = 0, period = 0;
    if (err >= 0)
        err = snd_pcm_get_params(pcm, &buffer, &period);
    if (err < 0) {
        snd_pcm_close(pcm);
        *result = WAVERR_BADFORMAT;
        return nullptr;
    }
    if (period == 0)
        period = 1024;
    // Start as soon as one period is there rather than when the ring is full.
    snd_pcm_sw_params_t* sw = nullptr;
    if (snd_pcm_sw_params_malloc(&sw) == 0) {
        if (snd_pcm_sw_params_current(pcm, sw) == 0 &&
            snd_pcm_sw_params_set_start_threshold(pcm, sw, period) == 0)
            snd_pcm_sw_params(pcm, sw);
        snd_pcm_sw_params_free(sw);
    }
    return new AlsaSink(pcm, format, period);
}
