// Four two-pole filters in the lanes of one SSE vector. Each lane does the single-precision
// operations of two_pole_step in the same order (no fused multiply-add), and the conversions
// cut toward zero as the scalar ones do, so every value is the one two_pole4_scalar gives.
#include <emmintrin.h>

#include "render/filter_kernels.h"
#include "render/vector_lanes.h"

void two_pole4_sse2(float* const* s, const TwoPoleCoefs* c, const int32* const* in,
                    int32* const* out, int32 n)
{
    __m128 s1 = _mm_setr_ps(s[0][0], s[1][0], s[2][0], s[3][0]);
    __m128 s2 = _mm_setr_ps(s[0][1], s[1][1], s[2][1], s[3][1]);
    const __m128 a2 = _mm_setr_ps(c[0].a2, c[1].a2, c[2].a2, c[3].a2);
    const __m128 a3 = _mm_setr_ps(c[0].a3, c[1].a3, c[2].a3, c[3].a3);
    const __m128 c1 = _mm_setr_ps(c[0].c1, c[1].c1, c[2].c1, c[3].c1);
    const __m128 c2 = _mm_setr_ps(c[0].c2, c[1].c2, c[2].c2, c[3].c2);
    const __m128 d2 = _mm_setr_ps(c[0].d2, c[1].d2, c[2].d2, c[3].d2);
    const __m128 hi = _mm_set1_ps(TWO_POLE_HELD), lo = _mm_set1_ps(-TWO_POLE_HELD);
    int32 i = 0;
    for (; i + 4 <= n; i += 4) {
        __m128i x[4], y[4];
        for (int k = 0; k < 4; k++)
            x[k] = _mm_loadu_si128((const __m128i*)(in[k] + i));
        transpose4(x[0], x[1], x[2], x[3]);  // x[t]: value i + t of the four
        for (int t = 0; t < 4; t++) {
            const __m128 d = _mm_sub_ps(_mm_cvtepi32_ps(x[t]), s2);
            __m128 v = _mm_add_ps(_mm_add_ps(s2, _mm_mul_ps(a2, s1)), _mm_mul_ps(a3, d));
            const __m128 n1 = _mm_add_ps(_mm_mul_ps(c1, s1), _mm_mul_ps(c2, d));
            s2 = _mm_add_ps(s2, _mm_add_ps(_mm_mul_ps(c2, s1), _mm_mul_ps(d2, d)));
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
    for (int k = 0; k < 4; k++) {
        float r1 = v1[k], r2 = v2[k];
        for (int32 j = i; j < n; j++)
            out[k][j] = two_pole_step(in[k][j], r1, r2, c[k]);
        s[k][0] = r1;
        s[k][1] = r2;
    }
}
