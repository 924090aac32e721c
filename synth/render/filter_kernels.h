// The state-variable low-pass filter of a voice in 24-bit fixed point, and four of them side by
// side. The scalar form defines the result (voice_filter.cpp); the AVX2 form gives the same
// values bit for bit (voice_filter_avx2.cpp); svf4_vector tells which one the voice filters
// take.
#ifndef CORVELLE_RENDER_FILTER_KERNELS_H
#define CORVELLE_RENDER_FILTER_KERNELS_H

#include "sysdep.h"

// a * b with 24 fraction bits in b: bits 24 to 55 of the 64-bit product.
static inline int32 mul24(int32 a, int32 b)
{
    return (int32)(((int64)a * b) >> 24);
}

// One sample: low += f band, high = x - low - q band, band += f high (products by mul24,
// sums wrapping at 32 bits); the output is low.
static inline int32 svf_step(int32 x, int32& low, int32& high, int32& band, int32 f, int32 q)
{
    low += mul24(f, band);
    high = x - low - mul24(q, band);
    band += mul24(f, high);
    return low;
}

// For each filter k < 4 and i < n: out[k][i] = svf_step(in[k][i], s[k][0], s[k][1], s[k][2],
// f[k], q[k]), the states s[k] = {low, high, band} left where the last step put them.
void svf4_scalar(int32* const* s, const int32* f, const int32* q, const int32* const* in,
                 int32* const* out, int32 n);
void svf4_avx2(int32* const* s, const int32* f, const int32* q, const int32* const* in,
               int32* const* out, int32 n);

// True when the voice filters run four state-variable filters at once with svf4_avx2.
bool svf4_vector(void);

#endif
