// Helpers shared by the output tests: the virtual device's trace lines and the RIFF WAVE file
// it captures.
#ifndef CORVELLE_TESTS_OUTPUT_SUPPORT_H
#define CORVELLE_TESTS_OUTPUT_SUPPORT_H

#include <cstdlib>
#include <string>

#include "frontend/options.h"
#include "support/capture.h"
#include "support/device_trace.h"
#include "support/guards.h"

// The data chunk of a RIFF WAVE file written by the capture device (44-byte header).
inline std::string wave_data(const std::string& bytes)
{
    return bytes.size() >= 44 ? bytes.substr(44) : std::string();
}

#endif
