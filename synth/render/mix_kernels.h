// The inner loops of voice mixing: a run of resampled values times a gain that moves by a
// fixed step per sample, added into 32-bit buffer values that hold at their limits. Each loop
// has a scalar form that defines the result (here, so that the vector forms' fall-backs and
// the mixer inline it) and an SSE2 form that gives the same values bit for bit
// (mix_kernels_sse2.cpp); mix_kernels_vector tells which one runs.
#ifndef CORVELLE_RENDER_MIX_KERNELS_H
#define CORVELLE_RENDER_MIX_KERNELS_H

#include "render/cpu_features.h"
#include "sysdep.h"

// True when mix_gain_run1, mix_gain_run2 and mix_gain_pair take the SSE2 forms.
inline bool mix_kernels_vector(void)
{
    return cpu_has.sse2;
}

// dest += x, the sum held within the 32-bit range.
inline void mix_add_held(int32& dest, int64 x)
{
    const int64 t = (int64)dest + x;
    dest = t > INT32_MAX ? INT32_MAX : t < INT32_MIN ? INT32_MIN : (int32)t;
}

// out[i * stride] += (g + i * inc) * s[i] for i < n, each sum held within the 32-bit range.
inline void mix_gain_run1_scalar(int32* out, int stride, const int32* s, int32 n, int32 g,
                                 int32 inc)
{
    int64 gain = g;
    for (int32 i = 0; i < n; i++, gain += inc)
        mix_add_held(out[(int64)i * stride], gain * s[i]);
}
void mix_gain_run1_sse2(int32* out, int stride, const int32* s, int32 n, int32 g, int32 inc);
inline void mix_gain_run1(int32* out, int stride, const int32* s, int32 n, int32 g, int32 inc)
{
    if (mix_kernels_vector())
        mix_gain_run1_sse2(out, stride, s, n, g, inc);
    else
        mix_gain_run1_scalar(out, stride, s, n, g, inc);
}

// An interleaved stereo pair per sample: out[2i] += (gl + i * incl) * s[i] and
// out[2i + 1] += (gr + i * incr) * s[i], held within the 32-bit range.
inline void mix_gain_run2_scalar(int32* out, const int32* s, int32 n, int32 gl, int32 incl,
                                 int32 gr, int32 incr)
{
    int64 l = gl, r = gr;
    for (int32 i = 0; i < n; i++, l += incl, r += incr) {
        mix_add_held(out[2 * i], l * s[i]);
        mix_add_held(out[2 * i + 1], r * s[i]);
    }
}
void mix_gain_run2_sse2(int32* out, const int32* s, int32 n, int32 gl, int32 incl, int32 gr,
                        int32 incr);
inline void mix_gain_run2(int32* out, const int32* s, int32 n, int32 gl, int32 incl, int32 gr,
                          int32 incr)
{
    if (mix_kernels_vector())
        mix_gain_run2_sse2(out, s, n, gl, incl, gr, incr);
    else
        mix_gain_run2_scalar(out, s, n, gl, incl, gr, incr);
}

// The two halves of a stereo pair per sample, each into its own side: out[2i] += (gl + i *
// incl) * sl[i] and out[2i + 1] += (gr + i * incr) * sr[i], held within the 32-bit range.
inline void mix_gain_pair_scalar(int32* out, const int32* sl, const int32* sr, int32 n,
                                 int32 gl, int32 incl, int32 gr, int32 incr)
{
    int64 l = gl, r = gr;
    for (int32 i = 0; i < n; i++, l += incl, r += incr) {
        mix_add_held(out[2 * i], l * sl[i]);
        mix_add_held(out[2 * i + 1], r * sr[i]);
    }
}
void mix_gain_pair_sse2(int32* out, const int32* sl, const int32* sr, int32 n, int32 gl,
                        int32 incl, int32 gr, int32 incr);
inline void mix_gain_pair(int32* out, const int32* sl, const int32* sr, int32 n, int32 gl,
                          int32 incl, int32 gr, int32 incr)
{
    if (mix_kernels_vector())
        mix_gain_pair_sse2(out, sl, sr, n, gl, incl, gr, incr);
    else
        mix_gain_pair_scalar(out, sl, sr, n, gl, incl, gr, incr);
}

#endif
