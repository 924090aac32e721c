// Helpers shared by the output tests: environment for the virtual device, its trace lines
// and the RIFF WAVE file it captures.
#ifndef CORVELLE_TESTS_OUTPUT_SUPPORT_H
#define CORVELLE_TESTS_OUTPUT_SUPPORT_H

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "frontend/options.h"
#include "support/device_trace.h"

// Turns the final effect stage (left/right delay, noise shaping) off for the life of the object,
// so that what reaches the output is the samples added, bit for bit.
class FinalStageOff {
public:
    FinalStageOff() : lr_(effect_lr_mode), shaping_(noise_sharp_type)
    {
        effect_lr_mode = -1;
        noise_sharp_type = 0;
    }
    ~FinalStageOff()
    {
        effect_lr_mode = lr_;
        noise_sharp_type = shaping_;
    }
    FinalStageOff(const FinalStageOff&) = delete;
    FinalStageOff& operator=(const FinalStageOff&) = delete;

private:
    int lr_, shaping_;
};

// Sets an environment variable for the life of the object and restores it after.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name)
    {
        const char* old = getenv(name);
        had_ = old != nullptr;
        if (had_)
            old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv()
    {
        if (had_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    std::string old_;
};

// The data chunk of a RIFF WAVE file written by the capture device (44-byte header).
inline std::string wave_data(const std::string& bytes)
{
    return bytes.size() >= 44 ? bytes.substr(44) : std::string();
}

#endif
