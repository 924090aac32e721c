// The SSE2 forms of the reverb's kernels: the sixteen combs four to a vector (left 0-3, left
// 4-7, right 0-3, right 4-7), each lane running its comb's recursion in the scalar order, and
// the allpasses and the wet mix four samples at a time.
#include <emmintrin.h>

#include "effects/effect_dsp.h"
#include "effects/reverb_comb.h"
#include "effects/reverb_comb_rings.h"
#include "render/vector_lanes.h"

// fx_mul of four values by four gains in [0, 2^24]: the product cut toward zero is the
// value's sign times (|x| g) >> 24, and with |x| <= 2^31 that fits 32 bits. ge holds the
// gains of lanes 0 and 2 in the low halves of its 64-bit lanes, go those of lanes 1 and 3.
static inline __m128i fx_mul4(__m128i x, __m128i ge, __m128i go)
{
    const __m128i s = _mm_srai_epi32(x, 31);
    const __m128i a = _mm_sub_epi32(_mm_xor_si128(x, s), s);
    const __m128i e = _mm_srli_epi64(_mm_mul_epu32(a, ge), 24);
    const __m128i o = _mm_slli_epi64(_mm_mul_epu32(_mm_srli_epi64(a, 32), go), 8);
    const __m128i r = _mm_or_si128(e, _mm_and_si128(o, _mm_set_epi32(-1, 0, -1, 0)));
    return _mm_sub_epi32(_mm_xor_si128(r, s), s);
}

struct CombQuad {
    __m128i f;                             // the four filter stores, mix scale
    __m128i d1e, d1o, d2e, d2o, fbe, fbo;  // gains, Q24, as fx_mul4 takes them
};

static inline __m128i gains4(const freeverb_comb* const* c, int32 freeverb_comb::*g)
{
    return _mm_setr_epi32(c[0]->*g, c[1]->*g, c[2]->*g, c[3]->*g);
}

// One sample of a quad: y holds the ring values of its four combs, x the input.
static inline __m128i comb_step(CombQuad& q, __m128i y, __m128i x)
{
    q.f = _mm_add_epi32(fx_mul4(y, q.d2e, q.d2o), fx_mul4(q.f, q.d1e, q.d1o));
    return _mm_add_epi32(fx_mul4(q.f, q.fbe, q.fbo), x);
}

void reverb_combs_sse2(freeverb_comb* left, freeverb_comb* right, const int32* in, int32* outL,
                       int32* outR, int32 n)
{
    comb_rings rings;
    start_rings(rings, left, right);
    CombQuad q[4];
    for (int g = 0; g < 4; g++) {
        freeverb_comb* const* cg = rings.c + 4 * g;
        const __m128i d1 = gains4(cg, &freeverb_comb::damp1i), d2 = gains4(cg, &freeverb_comb::damp2i),
                      fb = gains4(cg, &freeverb_comb::feedbacki);
        q[g] = CombQuad{gains4(cg, &freeverb_comb::filterstore), d1, _mm_srli_epi64(d1, 32),
                        d2, _mm_srli_epi64(d2, 32), fb, _mm_srli_epi64(fb, 32)};
    }
    for (int32 j = 0; j < n;) {
        const int32 run = next_run(rings, n - j);
        int32* const* p = rings.p;
        int32 k = 0;
        // Four samples at a time: a comb's four ring values are loaded together and turned
        // into four vectors of one sample each, and back for the store.
        for (; k + 4 <= run; k += 4) {
            const int32* x = in + j + k;
            const __m128i xv[4] = {_mm_set1_epi32(x[0]), _mm_set1_epi32(x[1]),
                                   _mm_set1_epi32(x[2]), _mm_set1_epi32(x[3])};
            __m128i sum[2] = {_mm_setzero_si128(), _mm_setzero_si128()};
            for (int g = 0; g < 4; g++) {
                int32* const* pg = p + 4 * g;
                __m128i r0 = _mm_loadu_si128((const __m128i*)(pg[0] + k)),
                        r1 = _mm_loadu_si128((const __m128i*)(pg[1] + k)),
                        r2 = _mm_loadu_si128((const __m128i*)(pg[2] + k)),
                        r3 = _mm_loadu_si128((const __m128i*)(pg[3] + k));
                // Rows hold one comb's four samples: their sum is the output.
                sum[g >> 1] = _mm_add_epi32(sum[g >> 1], _mm_add_epi32(_mm_add_epi32(r0, r1),
                                                                       _mm_add_epi32(r2, r3)));
                transpose4(r0, r1, r2, r3);
                r0 = comb_step(q[g], r0, xv[0]);
                r1 = comb_step(q[g], r1, xv[1]);
                r2 = comb_step(q[g], r2, xv[2]);
                r3 = comb_step(q[g], r3, xv[3]);
                transpose4(r0, r1, r2, r3);
                _mm_storeu_si128((__m128i*)(pg[0] + k), r0);
                _mm_storeu_si128((__m128i*)(pg[1] + k), r1);
                _mm_storeu_si128((__m128i*)(pg[2] + k), r2);
                _mm_storeu_si128((__m128i*)(pg[3] + k), r3);
            }
            int32* ol = outL + j + k;
            int32* orr = outR + j + k;
            _mm_storeu_si128((__m128i*)ol, _mm_add_epi32(_mm_loadu_si128((const __m128i*)ol), sum[0]));
            _mm_storeu_si128((__m128i*)orr, _mm_add_epi32(_mm_loadu_si128((const __m128i*)orr), sum[1]));
        }
        // The samples before the next turn of a ring, one at a time.
        for (; k < run; k++) {
            const __m128i xv = _mm_set1_epi32(in[j + k]);
            for (int g = 0; g < 4; g++) {
                int32* const* pg = p + 4 * g;
                alignas(16) int32 w[4];
                const __m128i y = _mm_setr_epi32(pg[0][k], pg[1][k], pg[2][k], pg[3][k]);
                _mm_store_si128((__m128i*)w, comb_step(q[g], y, xv));
                int32* o = g < 2 ? outL : outR;
                for (int m = 0; m < 4; m++) {
                    o[j + k] += pg[m][k];
                    pg[m][k] = w[m];
                }
            }
        }
        j += run;
        advance_rings(rings, run);
    }
    alignas(16) int32 f[16];
    for (int g = 0; g < 4; g++)
        _mm_store_si128((__m128i*)(f + 4 * g), q[g].f);
    finish_rings(rings, f);
}

// One allpass over the n values of x, in place. Up to the next turn of its ring every value
// it reads was written a whole ring earlier, so four samples go at once.
static void allpass_sse2(freeverb_allpass* a, int32* x, int32 n)
{
    int32* buf = a->buf;
    int32 i = a->index < 0 || a->index >= a->size ? 0 : a->index;
    const int32 g = a->feedbacki;
    const __m128i gv = _mm_set1_epi32(g);
    for (int32 j = 0; j < n;) {
        int32 run = n - j;
        if (run > a->size - i)
            run = a->size - i;
        int32 *p = buf + i, *xs = x + j;
        int32 k = 0;
        for (; k + 4 <= run; k += 4) {
            const __m128i in = _mm_loadu_si128((const __m128i*)(xs + k));
            const __m128i o = _mm_loadu_si128((const __m128i*)(p + k));
            _mm_storeu_si128((__m128i*)(p + k), _mm_add_epi32(fx_mul4(o, gv, gv), in));
            _mm_storeu_si128((__m128i*)(xs + k), _mm_sub_epi32(o, in));
        }
        for (; k < run; k++) {
            const int32 in = xs[k], o = p[k];
            p[k] = fx_mul(o, g) + in;
            xs[k] = o - in;
        }
        j += run;
        i += run;
        if (i >= a->size)
            i = 0;
    }
    a->index = i;
}

void reverb_allpasses_sse2(freeverb_allpass* left, freeverb_allpass* right, int32* x, int32* y,
                           int32 n)
{
    for (int k = 0; k < FREEVERB_ALLPASSES; k++) {
        allpass_sse2(&left[k], x, n);
        allpass_sse2(&right[k], y, n);
    }
}

// The wet mix of the n output pairs into the interleaved buffer b, four pairs at a time.
void reverb_wet_mix_sse2(const int32* L, const int32* R, int32* b, int32 n, int32 wet1,
                         int32 wet2)
{
    const __m128i w1 = _mm_set1_epi32(wet1), w2 = _mm_set1_epi32(wet2);
    int32 j = 0;
    for (; j + 4 <= n; j += 4) {
        const __m128i l = _mm_loadu_si128((const __m128i*)(L + j));
        const __m128i r = _mm_loadu_si128((const __m128i*)(R + j));
        const __m128i left = _mm_add_epi32(fx_mul4(l, w1, w1), fx_mul4(r, w2, w2));
        const __m128i right = _mm_add_epi32(fx_mul4(r, w1, w1), fx_mul4(l, w2, w2));
        int32* o = b + 2 * j;
        _mm_storeu_si128((__m128i*)o, _mm_add_epi32(_mm_loadu_si128((const __m128i*)o),
                                                    _mm_unpacklo_epi32(left, right)));
        _mm_storeu_si128((__m128i*)(o + 4), _mm_add_epi32(_mm_loadu_si128((const __m128i*)(o + 4)),
                                                          _mm_unpackhi_epi32(left, right)));
    }
    for (; j < n; j++) {
        b[2 * j] += fx_mul(L[j], wet1) + fx_mul(R[j], wet2);
        b[2 * j + 1] += fx_mul(R[j], wet1) + fx_mul(L[j], wet2);
    }
}
