// The devices behind the wave output interface. Only platform/waveout*.cpp include this.
#ifndef CORVELLE_PLATFORM_WAVEOUT_SINK_H
#define CORVELLE_PLATFORM_WAVEOUT_SINK_H

#include <cstdint>
#include <string>

#include "platform/waveout.h"

// One open device. play() is called on the device thread only; interrupt() from any thread.
class WaveSink {
public:
    virtual ~WaveSink() {}
    // Plays bytes of PCM (not necessarily whole frames: a partial frame is kept for the next
    // call), taking as long as the device needs to accept them. continues: this buffer was
    // queued before the last one finished, so it follows it without a gap. Returns the bytes
    // played, fewer when interrupt() cut it short, or -1 when the device failed (see error()).
    virtual long play(const char* data, long bytes, bool continues) = 0;
    // Makes a running or the next play() return as soon as possible.
    virtual void interrupt() = 0;
    // Clears an interrupt and throws away whatever the device still holds.
    virtual void discard() = 0;
    // Clears an interrupt and keeps what the device holds (a pause cut the last play short).
    virtual void clear_interrupt() = 0;
    // Frames accepted by play() that the device has not yet sounded.
    virtual long pending_frames() = 0;
    virtual const std::string& error() const = 0;
    // Frames already in the capture file when this device opened; -1 without a capture.
    virtual long long recorded_frames() const { return -1; }
};

// Open the ALSA PCM pcm_name or the virtual device (the values of CORVELLE_AUDIO_DEVICE after
// "alsa:" and "capture:"); none with *result set to the failure's result code.
WaveSink* open_alsa_sink(const std::string& pcm_name, const WAVEFORMATEX& format, MMRESULT* result);
// capture_path empty: the plain virtual device.
WaveSink* open_virtual_sink(const std::string& capture_path, const WAVEFORMATEX& format,
                            MMRESULT* result);
// Tells why a device failed, on standard error whether or not debug output is on: the result
// codes of the wave interface cannot carry a file's error, and without it the user would only
// read "unspecified error". One line per call.
void report_device_failure(const std::string& text);
// Keeps text as the answer of waveOutFailureText without printing it.
void remember_device_failure(const std::string& text);
// 1 when the ALSA PCM can be opened for playback (else the reason is remembered).
int alsa_sink_available(const std::string& pcm_name);

#endif
