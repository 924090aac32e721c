// The AVX2 form of the ninth-order shaper: both sides at once, the left side in the low 32
// bits of the first 64-bit lane, the right one in those of the second.
#include <immintrin.h>

#include "effects/noise_shaping.h"

// The weights, each twice as 64-bit lanes.
alignas(16) static const int64 ns9_lanes[9][2] = {
    {ns9_coef[0], ns9_coef[0]}, {ns9_coef[1], ns9_coef[1]}, {ns9_coef[2], ns9_coef[2]},
    {ns9_coef[3], ns9_coef[3]}, {ns9_coef[4], ns9_coef[4]}, {ns9_coef[5], ns9_coef[5]},
    {ns9_coef[6], ns9_coef[6]}, {ns9_coef[7], ns9_coef[7]}, {ns9_coef[8], ns9_coef[8]}};

// Bits 24 to 55 of a weight times an error, in each lane.
static inline __m128i term(__m128i w, __m128i e)
{
    return _mm_srli_epi64(_mm_mul_epi32(w, e), 24);
}

// A frame of two 32-bit values as two 64-bit lanes, and back.
static inline __m128i frame(const int32* p)
{
    return _mm_cvtepi32_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}
static inline void put(int32* p, __m128i v)
{
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_shuffle_epi32(v, _MM_SHUFFLE(3, 1, 2, 0)));
}

// One step of the scalar form for both sides at once. The signed 32 x 32 bit multiplication
// reads only the low 32 bits of each lane; the sum and what follows are only needed to 32
// bits, which bits 24 to 55 of each product give, in any order of addition.
static inline __m128i ns9_step2(__m128i x, __m128i d, __m128i e0, __m128i e1, __m128i e2,
                                __m128i e3, __m128i e4, __m128i e5, __m128i e6, __m128i e7,
                                __m128i& e8)
{
    const __m128i* const c = reinterpret_cast<const __m128i*>(ns9_lanes);
    const __m128i older = _mm_add_epi32(
        _mm_add_epi32(_mm_add_epi32(term(c[8], e8), term(c[7], e7)),
                      _mm_add_epi32(term(c[6], e6), term(c[5], e5))),
        _mm_add_epi32(_mm_add_epi32(term(c[4], e4), term(c[3], e3)),
                      _mm_add_epi32(term(c[2], e2), term(c[1], e1))));
    const __m128i y = _mm_sub_epi32(_mm_sub_epi32(x, older), term(c[0], e0));
    const __m128i out = _mm_add_epi32(_mm_and_si128(y, _mm_set1_epi32(~8191)), d);
    e8 = _mm_sub_epi32(out, y);
    return out;
}

void ns9_both_avx2(int32* buf, int32 n, const int32* dither, int32* hl, int32* pl, int32* hr,
                   int32* pr)
{
    __m128i e[9];
    for (int k = 0; k < 9; k++)
        e[k] = _mm_set_epi64x(hr[*pr - 1 + k], hl[*pl - 1 + k]);
    __m128i &e0 = e[0], &e1 = e[1], &e2 = e[2], &e3 = e[3], &e4 = e[4], &e5 = e[5], &e6 = e[6],
            &e7 = e[7], &e8 = e[8];
    int32 i = 0;
    for (; i + 9 <= n; i += 9) {
        int32* b = buf + 2 * i;
        const int32* d = dither + 2 * i;
        put(b, ns9_step2(frame(b), frame(d), e0, e1, e2, e3, e4, e5, e6, e7, e8));
        put(b + 2, ns9_step2(frame(b + 2), frame(d + 2), e8, e0, e1, e2, e3, e4, e5, e6, e7));
        put(b + 4, ns9_step2(frame(b + 4), frame(d + 4), e7, e8, e0, e1, e2, e3, e4, e5, e6));
        put(b + 6, ns9_step2(frame(b + 6), frame(d + 6), e6, e7, e8, e0, e1, e2, e3, e4, e5));
        put(b + 8, ns9_step2(frame(b + 8), frame(d + 8), e5, e6, e7, e8, e0, e1, e2, e3, e4));
        put(b + 10, ns9_step2(frame(b + 10), frame(d + 10), e4, e5, e6, e7, e8, e0, e1, e2, e3));
        put(b + 12, ns9_step2(frame(b + 12), frame(d + 12), e3, e4, e5, e6, e7, e8, e0, e1, e2));
        put(b + 14, ns9_step2(frame(b + 14), frame(d + 14), e2, e3, e4, e5, e6, e7, e8, e0, e1));
        put(b + 16, ns9_step2(frame(b + 16), frame(d + 16), e1, e2, e3, e4, e5, e6, e7, e8, e0));
    }
    for (; i < n; i++) {
        put(buf + 2 * i, ns9_step2(frame(buf + 2 * i), frame(dither + 2 * i), e0, e1, e2, e3, e4,
                                   e5, e6, e7, e8));
        const __m128i newest = e8;
        e8 = e7, e7 = e6, e6 = e5, e5 = e4, e4 = e3, e3 = e2, e2 = e1, e1 = e0, e0 = newest;
    }
    alignas(16) int64 lanes[9][2];
    for (int k = 0; k < 9; k++)
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes[k]), e[k]);
    for (int side = 0; side < 2; side++) {
        int32* h = side == 0 ? hl : hr;
        for (int k = 0; k < 9; k++)
            h[8 + k] = (int32)lanes[k][side];
        for (int k = 1; k < 9; k++)
            h[k - 1] = (int32)lanes[k][side];
        h[17] = (int32)lanes[0][side];
    }
    *pl = *pr = 9;
}
