// The mixing loops in the scalar form that states the arithmetic: a 64-bit product, the sum
// held at the 32-bit limits. The entry points take the SSE2 forms where the processor has them.
#include "render/cpu_features.h"
#include "render/mix_kernels.h"

static inline void add_held(int32& dest, int64 x)
{
    const int64 t = (int64)dest + x;
    dest = t > INT32_MAX ? INT32_MAX : t < INT32_MIN ? INT32_MIN : (int32)t;
}

void mix_gain_run1_scalar(int32* out, int stride, const int32* s, int32 n, int32 g, int32 inc)
{
    int64 gain = g;
    for (int32 i = 0; i < n; i++, gain += inc)
        add_held(out[(int64)i * stride], gain * s[i]);
}

void mix_gain_run2_scalar(int32* out, const int32* s, int32 n, int32 gl, int32 incl, int32 gr,
                          int32 incr)
{
    int64 l = gl, r = gr;
    for (int32 i = 0; i < n; i++, l += incl, r += incr) {
        add_held(out[2 * i], l * s[i]);
        add_held(out[2 * i + 1], r * s[i]);
    }
}

void mix_gain_pair_scalar(int32* out, const int32* sl, const int32* sr, int32 n, int32 gl,
                          int32 incl, int32 gr, int32 incr)
{
    int64 l = gl, r = gr;
    for (int32 i = 0; i < n; i++, l += incl, r += incr) {
        add_held(out[2 * i], l * sl[i]);
        add_held(out[2 * i + 1], r * sr[i]);
    }
}

bool mix_kernels_vector(void)
{
    return cpu_has.sse2;
}

void mix_gain_run1(int32* out, int stride, const int32* s, int32 n, int32 g, int32 inc)
{
    if (mix_kernels_vector())
        mix_gain_run1_sse2(out, stride, s, n, g, inc);
    else
        mix_gain_run1_scalar(out, stride, s, n, g, inc);
}

void mix_gain_run2(int32* out, const int32* s, int32 n, int32 gl, int32 incl, int32 gr,
                   int32 incr)
{
    if (mix_kernels_vector())
        mix_gain_run2_sse2(out, s, n, gl, incl, gr, incr);
    else
        mix_gain_run2_scalar(out, s, n, gl, incl, gr, incr);
}

void mix_gain_pair(int32* out, const int32* sl, const int32* sr, int32 n, int32 gl, int32 incl,
                   int32 gr, int32 incr)
{
    if (mix_kernels_vector())
        mix_gain_pair_sse2(out, sl, sr, n, gl, incl, gr, incr);
    else
        mix_gain_pair_scalar(out, sl, sr, n, gl, incl, gr, incr);
}
