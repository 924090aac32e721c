// The kernels of the ninth-order noise shaper for 16-bit output: limiting, dither, and the
// shaper on both sides of interleaved frames. The scalar forms define the results
// (noise_shaping.cpp); the vector forms give the same values bit for bit
// (noise_shaping_sse2.cpp, noise_shaping_avx2.cpp); cpu_has.sse2 and ns9_both_vector say
// which ones run.
#ifndef CORVELLE_EFFECTS_NOISE_SHAPING_H
#define CORVELLE_EFFECTS_NOISE_SHAPING_H

#include "sysdep.h"

#define NS_LIMIT 268435455  // just below 16-bit full scale in the mix

// Every sample of buf limited to -NS_LIMIT..NS_LIMIT.
void ns9_limit_scalar(int32* buf, int32 n);
void ns9_limit_sse2(int32* buf, int32 n);

// The triangular dither of each of the n samples: d[i] = (r[i] - r[i - stride]) >> 30 in
// unsigned 32-bit arithmetic, the difference of its random number and the one its side drew
// before (r holds those earlier numbers in front of the block's). Taken with the SSE2 form
// where the processor has it, as ns9_limit is.
void ns9_dither_scalar(int32* d, const uint32* r, int32 n, int stride);
void ns9_dither_sse2(int32* d, const uint32* r, int32 n, int stride);

// The weights 2.412, -3.370, 3.937, -4.174, 3.353, -2.205, 1.281, -0.569 and 0.0847 (as
// floats), Q24, rounded to nearest; the newest error's weight first.
static constexpr int64 ns9_coef[9] = {40466644,  -56539216, 66051900, -70028096, 56254004,
                                      -36993760, 21491614,  -9546236, 1421030};

// For each frame i < n and each side (left: buf[2i], history hl at position *pl; right:
// buf[2i + 1], hr, *pr), with e0..e8 the side's last nine errors, newest first: y = buf -
// sum of (ns9_coef[k] e_k) >> 24, each product shifted on its own; the sample becomes (y with
// its low 13 bits cleared) + dither[2i (+ 1)], and its error (sample - y) becomes the newest.
// Samples are already limited to the shaper's range. A history keeps entry p at index p - 1
// and p + 8 of its 18 values, the position counting 9, 8, .., 1, 9, ..; both forms leave it at
// position 9.
void ns9_both_scalar(int32* buf, int32 n, const int32* dither, int32* hl, int32* pl, int32* hr,
                     int32* pr);
void ns9_both_avx2(int32* buf, int32 n, const int32* dither, int32* hl, int32* pl, int32* hr,
                   int32* pr);

// True when the shaper takes ns9_both_avx2.
bool ns9_both_vector(void);

#endif
