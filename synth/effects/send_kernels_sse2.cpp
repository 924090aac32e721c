// The group sends four values at a time: the same single-precision product, the same hold
// (minps and maxps keep the operand order of the scalar comparisons) and the same cut toward
// zero as send_product, and additions that wrap as send_add does.
#include <emmintrin.h>

#include "effects/send_kernels.h"

static inline __m128i product4(__m128 x, __m128 g, __m128 top, __m128 bottom)
{
    const __m128 y = _mm_max_ps(_mm_min_ps(_mm_mul_ps(x, g), top), bottom);
    return _mm_cvttps_epi32(y);
}

static inline void add4(int32* p, __m128i v)
{
    _mm_storeu_si128((__m128i*)p, _mm_add_epi32(_mm_loadu_si128((const __m128i*)p), v));
}

void group_sends_sse2(const int32* in, int32* rev, int32* cho, int32* dry, int32 n, float gr,
                      float gc, float gd)
{
    const __m128 top = _mm_set1_ps(2147483520.0f), bottom = _mm_set1_ps(-2147483520.0f);
    const __m128 vr = _mm_set1_ps(gr), vc = _mm_set1_ps(gc), vd = _mm_set1_ps(gd);
    int32 i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m128i x = _mm_loadu_si128((const __m128i*)(in + i));
        const __m128 xf = _mm_cvtepi32_ps(x);
        add4(rev + i, product4(xf, vr, top, bottom));
        add4(cho + i, product4(xf, vc, top, bottom));
        add4(dry + i, gd < 0 ? x : product4(xf, vd, top, bottom));
    }
    group_sends_scalar(in + i, rev + i, cho + i, dry + i, n - i, gr, gc, gd);
}
