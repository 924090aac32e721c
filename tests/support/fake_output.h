// An output mode for the engine that records what it is given, told how to behave: its queue
// size and fill when asked, writes that fail, and playing in real time from a queue of its own.
#ifndef CORVELLE_TESTS_SUPPORT_FAKE_OUTPUT_H
#define CORVELLE_TESTS_SUPPORT_FAKE_OUTPUT_H

#include <algorithm>
#include <string>
#include <unistd.h>
#include <vector>

#include "output/output.h"
#include "support/device_trace.h"

struct FakeOutput {
    std::vector<int32> writes;  // bytes of each output_data call
    std::string data;           // everything written
    std::vector<int> requests;  // every control request, in order
    bool fail = false;          // output_data reports a failed write
    int qsize = -1;             // bytes answered to PM_REQ_GETQSIZ; -1: the request fails
    int filled = -1;            // frames answered to PM_REQ_GETFILLED; -1: the request fails
    // With drain_bytes, writes block while a queue of that many bytes, played at 44100 Hz
    // 16-bit stereo, is full; level: bytes in it at level_time (wall microseconds).
    long drain_bytes = 0, level = 0;
    double level_time = 0;

    int32 frames() const { return (int32)(data.size() / 4); }  // 16-bit stereo
    long count(int request) const { return std::count(requests.begin(), requests.end(), request); }
};

inline FakeOutput& fake_output()
{
    static FakeOutput f;
    return f;
}

inline int fake_output_data(char* buf, int32 bytes)
{
    FakeOutput& f = fake_output();
    if (f.fail)
        return -1;
    while (f.drain_bytes > 0) {
        const double now = wall_us();
        f.level = std::max(0L, f.level - (long)((now - f.level_time) * 44100 * 4 / 1e6));
        f.level_time = now;
        if (f.level + bytes <= f.drain_bytes) {
            f.level += bytes;
            break;
        }
        usleep(500);
    }
    f.writes.push_back(bytes);
    f.data.append(buf, (size_t)bytes);
    return 0;
}

inline int fake_acntl(int request, void* arg)
{
    FakeOutput& f = fake_output();
    f.requests.push_back(request);
    switch (request) {
    case PM_REQ_DISCARD: f.level = 0; return 0;
    case PM_REQ_FLUSH:
    case PM_REQ_OUTPUT_FINISH: return 0;
    case PM_REQ_GETQSIZ: return f.qsize >= 0 ? (*(int*)arg = f.qsize, 0) : -1;
    case PM_REQ_GETFILLED: return f.filled >= 0 ? (*(int*)arg = f.filled, 0) : -1;
    default: return -1;
    }
}

// 44100 Hz, 16-bit signed stereo PCM.
inline PlayMode& fake_mode()
{
    static PlayMode pm = {44100, PE_16BIT | PE_SIGNED, PF_PCM_STREAM, -1, {0, 0, 0, 0, 0},
                          "recording output", 'R', nullptr, [] { return 0; }, [] {},
                          fake_output_data, fake_acntl, nullptr};
    return pm;
}

#endif
