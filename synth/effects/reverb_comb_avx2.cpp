// The AVX2 form of the comb bank: eight combs to a vector, all left combs, then all right ones.
// Each lane runs its comb's recursion in the scalar order, so every ring and output value is
// the one reverb_combs_scalar gives. This file includes nothing with code of its own beyond
// the comb records and the ring bookkeeping, so no function built here for AVX2 can stand in
// for one the rest of the program calls.
#include <immintrin.h>

#include "effects/reverb_comb.h"
#include "effects/reverb_comb_rings.h"

// fx_mul4 on eight lanes: the magnitude times the gain shifted down, given back the value's
// sign (vpsignd also keeps a 0 at 0). The even lanes' products land in the low halves of the
// 64-bit lanes, the odd lanes' are shifted up into the high halves.
static inline __m256i fx_mul8(__m256i x, __m256i ge, __m256i go)
{
    const __m256i a = _mm256_abs_epi32(x);
    const __m256i e = _mm256_srli_epi64(_mm256_mul_epu32(a, ge), 24);
    const __m256i o = _mm256_slli_epi64(_mm256_mul_epu32(_mm256_srli_epi64(a, 32), go), 8);
    return _mm256_sign_epi32(_mm256_blend_epi32(e, o, 0xaa), x);
}

// transpose4 on both 128-bit halves at once.
static inline void transpose4x2(__m256i& a, __m256i& b, __m256i& c, __m256i& d)
{
    const __m256i t0 = _mm256_unpacklo_epi32(a, b), t1 = _mm256_unpacklo_epi32(c, d);
    const __m256i t2 = _mm256_unpackhi_epi32(a, b), t3 = _mm256_unpackhi_epi32(c, d);
    a = _mm256_unpacklo_epi64(t0, t1);
    b = _mm256_unpackhi_epi64(t0, t1);
    c = _mm256_unpacklo_epi64(t2, t3);
    d = _mm256_unpackhi_epi64(t2, t3);
}

struct CombOctet {
    __m256i f;                             // the eight filter stores, mix scale
    __m256i d1e, d1o, d2e, d2o, fbe, fbo;  // gains, Q24, as fx_mul8 takes them
};

static inline __m256i gains8(const freeverb_comb* const* c, int32 freeverb_comb::*g)
{
    return _mm256_setr_epi32(c[0]->*g, c[1]->*g, c[2]->*g, c[3]->*g, c[4]->*g, c[5]->*g,
                             c[6]->*g, c[7]->*g);
}

static inline __m256i comb_step8(CombOctet& q, __m256i y, __m256i x)
{
    q.f = _mm256_add_epi32(fx_mul8(y, q.d2e, q.d2o), fx_mul8(q.f, q.d1e, q.d1o));
    return _mm256_add_epi32(fx_mul8(q.f, q.fbe, q.fbo), x);
}

// Four samples of one group from position k of its rings pg, written out by hand so that the
// filter stores stay in registers: row m holds combs m and m + 4, four samples each, and the
// in-lane transpose turns the rows into one vector per sample. The rows' sum goes to out.
__attribute__((always_inline)) static inline void comb_four8(CombOctet& q, int32* const* pg,
                                                              int32 k, const int32* x, int32* out)
{
#define LOAD_ROW(m)                                                                                \
    _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128((const __m128i*)(pg[m] + k))), \
                            _mm_loadu_si128((const __m128i*)(pg[m + 4] + k)), 1)
    __m256i r0 = LOAD_ROW(0), r1 = LOAD_ROW(1), r2 = LOAD_ROW(2), r3 = LOAD_ROW(3);
#undef LOAD_ROW
    const __m256i s = _mm256_add_epi32(_mm256_add_epi32(r0, r1), _mm256_add_epi32(r2, r3));
    const __m128i sum = _mm_add_epi32(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
    _mm_storeu_si128((__m128i*)out, _mm_add_epi32(_mm_loadu_si128((const __m128i*)out), sum));
    transpose4x2(r0, r1, r2, r3);
    r0 = comb_step8(q, r0, _mm256_set1_epi32(x[0]));
    r1 = comb_step8(q, r1, _mm256_set1_epi32(x[1]));
    r2 = comb_step8(q, r2, _mm256_set1_epi32(x[2]));
    r3 = comb_step8(q, r3, _mm256_set1_epi32(x[3]));
    transpose4x2(r0, r1, r2, r3);
#define STORE_ROW(m, r)                                                        \
    _mm_storeu_si128((__m128i*)(pg[m] + k), _mm256_castsi256_si128(r));        \
    _mm_storeu_si128((__m128i*)(pg[m + 4] + k), _mm256_extracti128_si256(r, 1))
    STORE_ROW(0, r0);
    STORE_ROW(1, r1);
    STORE_ROW(2, r2);
    STORE_ROW(3, r3);
#undef STORE_ROW
}

void reverb_combs_avx2(freeverb_comb* left, freeverb_comb* right, const int32* in, int32* outL,
                       int32* outR, int32 n)
{
    comb_rings rings;
    start_rings(rings, left, right);
    CombOctet q[2];
    for (int g = 0; g < 2; g++) {
        freeverb_comb* const* cg = rings.c + 8 * g;
        const __m256i d1 = gains8(cg, &freeverb_comb::damp1i),
                      d2 = gains8(cg, &freeverb_comb::damp2i),
                      fb = gains8(cg, &freeverb_comb::feedbacki);
        q[g] = CombOctet{gains8(cg, &freeverb_comb::filterstore),
                         d1, _mm256_srli_epi64(d1, 32), d2, _mm256_srli_epi64(d2, 32),
                         fb, _mm256_srli_epi64(fb, 32)};
    }
    for (int32 j = 0; j < n;) {
        const int32 run = next_run(rings, n - j);
        int32* const* p = rings.p;
        int32 k = 0;
        for (; k + 4 <= run; k += 4) {
            comb_four8(q[0], p, k, in + j + k, outL + j + k);
            comb_four8(q[1], p + 8, k, in + j + k, outR + j + k);
        }
        for (; k < run; k++) {
            const __m256i xv = _mm256_set1_epi32(in[j + k]);
            for (int g = 0; g < 2; g++) {
                int32* const* pg = p + 8 * g;
                alignas(32) int32 w[8];
                const __m256i y = _mm256_setr_epi32(pg[0][k], pg[1][k], pg[2][k], pg[3][k],
                                                    pg[4][k], pg[5][k], pg[6][k], pg[7][k]);
                _mm256_store_si256((__m256i*)w, comb_step8(q[g], y, xv));
                int32* o = g == 0 ? outL : outR;
                for (int m = 0; m < 8; m++) {
                    o[j + k] += pg[m][k];
                    pg[m][k] = w[m];
                }
            }
        }
        j += run;
        advance_rings(rings, run);
    }
    alignas(32) int32 f[16];
    for (int g = 0; g < 2; g++)
        _mm256_store_si256((__m256i*)(f + 8 * g), q[g].f);
    finish_rings(rings, f);
}
