// Four state-variable filters in the lanes of one AVX2 vector, and eight two-pole filters in
// the lanes of one AVX vector.
//
// State-variable filters: a lane holds its filter's 32-bit values in the low half of 64 bits:
// the signed 32 x 32 bit multiplication reads only those, and bits 24 to 55 of its product are
// the 32 bits that mul24 keeps; additions wrap at 32 bits as the scalar ones do. So every
// value is the one svf4_scalar gives.
#include <immintrin.h>

#include "render/filter_kernels.h"
#include "render/vector_lanes.h"

void svf4_avx2(int32* const* s, const int32* f, const int32* q, const int32* const* in,
               int32* const* out, int32 n)
{
    __m256i low = _mm256_setr_epi64x(s[0][0], s[1][0], s[2][0], s[3][0]);
    __m256i high = _mm256_setr_epi64x(s[0][1], s[1][1], s[2][1], s[3][1]);
    __m256i band = _mm256_setr_epi64x(s[0][2], s[1][2], s[2][2], s[3][2]);
    const __m256i fv = _mm256_setr_epi64x(f[0], f[1], f[2], f[3]);
    const __m256i qv = _mm256_setr_epi64x(q[0], q[1], q[2], q[3]);
    const __m256i halves = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
    int32 i = 0;
    for (; i + 4 <= n; i += 4) {
        __m128i x[4], y[4];
        for (int k = 0; k < 4; k++)
            x[k] = _mm_loadu_si128((const __m128i*)(in[k] + i));
        transpose4(x[0], x[1], x[2], x[3]);  // x[t]: value i + t of the four
        for (int t = 0; t < 4; t++) {
            const __m256i xt = _mm256_cvtepu32_epi64(x[t]);
            low = _mm256_add_epi32(low, _mm256_srli_epi64(_mm256_mul_epi32(fv, band), 24));
            high = _mm256_sub_epi32(_mm256_sub_epi32(xt, low),
                                    _mm256_srli_epi64(_mm256_mul_epi32(qv, band), 24));
            band = _mm256_add_epi32(band, _mm256_srli_epi64(_mm256_mul_epi32(fv, high), 24));
            y[t] = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(low, halves));
        }
        transpose4(y[0], y[1], y[2], y[3]);
        for (int k = 0; k < 4; k++)
            _mm_storeu_si128((__m128i*)(out[k] + i), y[k]);
    }
    alignas(32) int64 v[3][4];
    _mm256_store_si256((__m256i*)v[0], low);
    _mm256_store_si256((__m256i*)v[1], high);
    _mm256_store_si256((__m256i*)v[2], band);
    for (int k = 0; k < 4; k++) {
        int32 r[3] = {(int32)v[0][k], (int32)v[1][k], (int32)v[2][k]};
        for (int32 j = i; j < n; j++)
            out[k][j] = svf_step(in[k][j], r[0], r[1], r[2], f[k], q[k]);
        for (int m = 0; m < 3; m++)
            s[k][m] = r[m];
    }
}

// The two-pole filters: each lane does the single-precision operations of two_pole_step in the
// same order (no fused multiply-add), holds its output as the scalar comparisons do and cuts
// toward zero, so every value is the one two_pole_scalar gives. Four values of each filter are
// read at a time, the filters in two halves of four.
void two_pole8_avx2(float* const* s, const TwoPoleCoefs* c, const int32* const* in,
                    int32* const* out, int32 n)
{
    __m256 s1 = _mm256_setr_ps(s[0][0], s[1][0], s[2][0], s[3][0], s[4][0], s[5][0], s[6][0], s[7][0]);
    __m256 s2 = _mm256_setr_ps(s[0][1], s[1][1], s[2][1], s[3][1], s[4][1], s[5][1], s[6][1], s[7][1]);
#define LANES(f) \
    _mm256_setr_ps(c[0].f, c[1].f, c[2].f, c[3].f, c[4].f, c[5].f, c[6].f, c[7].f)
    const __m256 a2 = LANES(a2), a3 = LANES(a3), c1 = LANES(c1), c2 = LANES(c2), d2 = LANES(d2),
                 e2 = LANES(e2);
#undef LANES
    const __m256 hi = _mm256_set1_ps(TWO_POLE_HELD), lo = _mm256_set1_ps(-TWO_POLE_HELD);
    int32 i = 0;
    for (; i + 4 <= n; i += 4) {
        __m128i x[8], y[8];
        for (int k = 0; k < 8; k++)
            x[k] = _mm_loadu_si128((const __m128i*)(in[k] + i));
        transpose4(x[0], x[1], x[2], x[3]);  // x[t], x[4 + t]: value i + t of each half
        transpose4(x[4], x[5], x[6], x[7]);
        for (int t = 0; t < 4; t++) {
            const __m256 xf = _mm256_cvtepi32_ps(_mm256_setr_m128i(x[t], x[4 + t]));
            __m256 v = _mm256_add_ps(_mm256_add_ps(s2, _mm256_mul_ps(a2, s1)),
                                     _mm256_mul_ps(a3, _mm256_sub_ps(xf, s2)));
            const __m256 n1 = _mm256_add_ps(
                _mm256_sub_ps(_mm256_mul_ps(c2, xf), _mm256_mul_ps(c2, s2)), _mm256_mul_ps(c1, s1));
            s2 = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(d2, xf), _mm256_mul_ps(c2, s1)),
                               _mm256_mul_ps(e2, s2));
            s1 = n1;
            v = _mm256_max_ps(_mm256_min_ps(v, hi), lo);
            const __m256i yi = _mm256_cvttps_epi32(v);
            y[t] = _mm256_castsi256_si128(yi);
            y[4 + t] = _mm256_extracti128_si256(yi, 1);
        }
        transpose4(y[0], y[1], y[2], y[3]);
        transpose4(y[4], y[5], y[6], y[7]);
        for (int k = 0; k < 8; k++)
            _mm_storeu_si128((__m128i*)(out[k] + i), y[k]);
    }
    alignas(32) float v1[8], v2[8];
    _mm256_store_ps(v1, s1);
    _mm256_store_ps(v2, s2);
    two_pole_lanes_finish(8, s, v1, v2, c, in, out, i, n);
}
