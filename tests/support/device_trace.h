// The trace lines the virtual audio device writes ("device <microseconds> <frames played>")
// and the wall clock they are measured against; shared by the platform and output tests.
#ifndef CORVELLE_TESTS_SUPPORT_DEVICE_TRACE_H
#define CORVELLE_TESTS_SUPPORT_DEVICE_TRACE_H

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

inline double wall_us()
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return tv.tv_sec * 1e6 + tv.tv_usec;
}

#endif
