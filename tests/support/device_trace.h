// The virtual audio device's trace lines ("device <microseconds> <frames played>"), the data
// of its capture file, and the wall clock they are measured against.
#ifndef CORVELLE_TESTS_SUPPORT_DEVICE_TRACE_H
#define CORVELLE_TESTS_SUPPORT_DEVICE_TRACE_H

#include <algorithm>
#include <fstream>
#include <string>
#include <sys/time.h>
#include <vector>

struct DeviceTraceLine {
    double us;
    long long frames;
};

inline std::vector<DeviceTraceLine> read_device_trace(const std::string& path)
{
    std::vector<DeviceTraceLine> out;
    std::ifstream in(path);
    std::string word;
    DeviceTraceLine t;
    while (in >> word >> t.us >> t.frames)
        if (word == "device")
            out.push_back(t);
    return out;
}

// The data chunk of a RIFF WAVE file written by the capture device (44-byte header).
inline std::string wave_data(const std::string& bytes)
{
    return bytes.size() >= 44 ? bytes.substr(44) : std::string();
}

inline double wall_us()
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return tv.tv_sec * 1e6 + tv.tv_usec;
}

// When a call ran, in wall-clock microseconds. A clock that counts in real time from a moment
// inside one span to a moment inside another read between (to.from - from.to) and
// (to.to - from.from): comparing with both ends keeps a test true however long a busy machine
// makes the calls or the sleeps between them.
struct Span {
    double from, to;
};
template <class F>
Span timed(F call)
{
    Span s;
    s.from = wall_us();
    call();
    s.to = wall_us();
    return s;
}
// Frames a device playing continuously at rate from a moment in `from` has played at a moment
// in `to`, the fewest and the most, never more than it was given.
inline double fewest_frames(Span from, Span to, double rate, double given)
{
    return std::clamp((to.from - from.to) * rate / 1e6, 0.0, given);
}
inline double most_frames(Span from, Span to, double rate, double given)
{
    return std::clamp((to.to - from.from) * rate / 1e6, 0.0, given);
}

#endif
