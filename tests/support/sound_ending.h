// How a recording ends. A stop that fades out leaves its last sample at silence and no jump
// between neighbouring samples in its last moments; a cut leaves a jump to silence.
#ifndef CORVELLE_TESTS_SUPPORT_SOUND_ENDING_H
#define CORVELLE_TESTS_SUPPORT_SOUND_ENDING_H

#include <algorithm>
#include <cmath>
#include <vector>

struct SoundEnding {
    double last = 0;      // |last sample|, full scale 1.0
    double steepest = 0;  // the largest |step| between neighbouring samples in the span
    double loudest = 0;   // the largest |sample| in the span: a silent span proves nothing
};

// Over the last `span` samples of x (one channel, full scale 1.0).
inline SoundEnding sound_ending(const std::vector<float>& x, size_t span)
{
    SoundEnding e;
    if (x.empty())
        return e;
    e.last = std::fabs(x.back());
    for (size_t i = x.size() - std::min(span, x.size()); i < x.size(); i++) {
        e.loudest = std::max(e.loudest, (double)std::fabs(x[i]));
        if (i > 0)
            e.steepest = std::max(e.steepest, (double)std::fabs(x[i] - x[i - 1]));
    }
    return e;
}

#endif
