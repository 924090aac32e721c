// Anti-aliasing filter for waveforms recorded above the output rate: a 20-tap low-pass
// filter (sinc half-filter under a Kaiser window for 40 dB) run over the data once at load.
#include "instrum/instrum.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "frontend/controls.h"
#include "frontend/memory.h"

enum { ANTIALIAS_HALF_TAPS = 10, ANTIALIAS_TAPS = 2 * ANTIALIAS_HALF_TAPS };

// Modified Bessel function of the first kind, order 0, by its power series.
static double ino(double x)
{
    double sum = 1.0, term = 1.0, half = x / 2.0;
    for (int k = 1; k <= 25; k++) {
        double t = half / k;
        term *= t * t;
        sum += term;
        if (term < sum * 1e-8)
            break;
    }
    return sum;
}

// Kaiser window over the half filter, for an attenuation of 40 dB.
static void kaiser(double w[ANTIALIAS_HALF_TAPS])
{
    const double att = 40.0;
    double beta = exp(0.4 * log(0.58417 * (att - 20.96))) + 0.07886 * (att - 20.96);
    double ibeta = 1.0 / ino(beta);
    const double xind = (2 * ANTIALIAS_HALF_TAPS - 1) * (2 * ANTIALIAS_HALF_TAPS - 1);  // 361
    for (int i = 0; i < ANTIALIAS_HALF_TAPS; i++) {
        double xi = i + 0.5;
        w[i] = ino(beta * sqrt(1.0 - 4.0 * xi * xi / xind)) * ibeta;
    }
}

// Windowed sinc half filter for the cutoff f (fraction of the sample rate's Nyquist band).
static void design_filter(double h[ANTIALIAS_TAPS], double f)
{
    double g[ANTIALIAS_HALF_TAPS], w[ANTIALIAS_HALF_TAPS];
    for (int i = 0; i < ANTIALIAS_HALF_TAPS; i++) {
        double xi = M_PI * (i + 0.5);
        g[i] = sin(f * xi) / xi;
    }
    kaiser(w);
    for (int i = 0; i < ANTIALIAS_HALF_TAPS; i++) {
        h[ANTIALIAS_HALF_TAPS - 1 - i] = g[i] * w[i];
        h[ANTIALIAS_HALF_TAPS + i] = g[i] * w[i];
    }
}

void antialiasing(int16* data, int32 data_length, int32 sample_rate, int32 output_rate)
{
    cmsg(CMSG_INFO, VERB_NOISY, "Antialiasing: Fsample=%iKHz", (int)sample_rate);
    if (sample_rate <= output_rate || data_length <= 0)
        return;

    double f = (double)output_rate / (double)sample_rate;
    cmsg(CMSG_INFO, VERB_NOISY, "Antialiasing: cutoff=%f%%", f * 100.0);

    double h[ANTIALIAS_TAPS];
    design_filter(h, f);

    int16* x = (int16*)safe_large_malloc((size_t)data_length * sizeof(int16));
    memcpy(x, data, (size_t)data_length * sizeof(int16));

    long saturated = 0;
    for (int32 k = 0; k < data_length; k++) {
        double sum = 0.0;
        for (int j = 0; j < ANTIALIAS_TAPS; j++) {
            int64 src = (int64)k - ANTIALIAS_HALF_TAPS + j;
            if (src >= 0 && src < data_length)
                sum += h[j] * x[src];
        }
        if (sum > 32767.0) {
            data[k] = 32767;
            saturated++;
        } else if (sum < -32768.0) {
            data[k] = -32768;
            saturated++;
        } else {
            data[k] = (int16)lround(sum);
        }
    }
    free(x);

    if (saturated > 0)
        cmsg(CMSG_INFO, VERB_NOISY, "Saturation %2.3f %%.",
             100.0 * (double)saturated / (double)data_length);
}
