// Four two-pole filters in the lanes of one SSE vector. Each lane does the single-precision
// operations of two_pole_step in the same order (no fused multiply-add), holds its output as
// the scalar comparisons do (minps and maxps keep their operand order) and cuts toward zero,
// so every value is the one two_pole_scalar gives.
#include <emmintrin.h>

#include "render/filter_kernels.h"
#include "render/vector_lanes.h"

void two_pole4_sse2(float* const* s, const TwoPoleCoefs* c, const int32* const* in,
                    int32* const* out, int32 n)
{
    __m128 s1 = _mm_setr_ps(s[0][0], s[1][0], s[2][0], s[3][0]);
    __m128 s2 = _mm_setr_ps(s[0][1], s[1][1], s[2][1], s[3][1]);
#define LANES(f) _mm_setr_ps(c[0].f, c[1].f, c[2].f, c[3].f)
    const __m128 a2 = LANES(a2), a3 = LANES(a3), c1 = LANES(c1), c2 = LANES(c2), d2 = LANES(d2),
                 e2 = LANES(e2);
#undef LANES
    const __m128 hi = _mm_set1_ps(TWO_POLE_HELD), lo = _mm_set1_ps(-TWO_POLE_HELD);
    int32 i = 0;
    for (; i + 4 <= n; i += 4) {
        __m128i x[4], y[4];
        for (int k = 0; k < 4; k++)
            x[k] = _mm_loadu_si128((const __m128i*)(in[k] + i));
        transpose4(x[0], x[1], x[2], x[3]);  // x[t]: value i + t of the four
        for (int t = 0; t < 4; t++) {
            const __m128 xf = _mm_cvtepi32_ps(x[t]);
            __m128 v = _mm_add_ps(_mm_add_ps(s2, _mm_mul_ps(a2, s1)),
                                  _mm_mul_ps(a3, _mm_sub_ps(xf, s2)));
            const __m128 n1 = _mm_add_ps(_mm_sub_ps(_mm_mul_ps(c2, xf), _mm_mul_ps(c2, s2)),
                                         _mm_mul_ps(c1, s1));
            s2 = _mm_add_ps(_mm_add_ps(_mm_mul_ps(d2, xf), _mm_mul_ps(c2, s1)), _mm_mul_ps(e2, s2));
            s1 = n1;
            v = _mm_max_ps(_mm_min_ps(v, hi), lo);
            y[t] = _mm_cvttps_epi32(v);
        }
        transpose4(y[0], y[1], y[2], y[3]);
        for (int k = 0; k < 4; k++)
            _mm_storeu_si128((__m128i*)(out[k] + i), y[k]);
    }
    alignas(16) float v1[4], v2[4];
    _mm_store_ps(v1, s1);
    _mm_store_ps(v2, s2);
    two_pole_lanes_finish(4, s, v1, v2, c, in, out, i, n);
}
