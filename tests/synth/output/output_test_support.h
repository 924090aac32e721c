// Helpers shared by the output tests: the environment of the virtual device, its trace lines
// and the RIFF WAVE file it captures.
#ifndef CORVELLE_TESTS_OUTPUT_SUPPORT_H
#define CORVELLE_TESTS_OUTPUT_SUPPORT_H

#include <cstdlib>
#include <string>

#include "frontend/options.h"
#include "support/device_trace.h"

// Turns the final effect stage (left/right delay, noise shaping) off for the life of the
// object, so that what reaches the output is the samples added, bit for bit.
struct FinalStageOff {
    const int lr = effect_lr_mode, shaping = noise_sharp_type;
    FinalStageOff()
    {
        effect_lr_mode = -1;
        noise_sharp_type = 0;
    }
    ~FinalStageOff()
    {
        effect_lr_mode = lr;
        noise_sharp_type = shaping;
    }
};

// Sets an environment variable for the life of the object and restores it after.
struct ScopedEnv {
    const char* name;
    const bool had;
    const std::string old;
    ScopedEnv(const char* n, const std::string& value)
        : name(n), had(getenv(n) != nullptr), old(had ? getenv(n) : "")
    {
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv()
    {
        had ? setenv(name, old.c_str(), 1) : unsetenv(name);
    }
};

// The data chunk of a RIFF WAVE file written by the capture device (44-byte header).
inline std::string wave_data(const std::string& bytes)
{
    return bytes.size() >= 44 ? bytes.substr(44) : std::string();
}

#endif
