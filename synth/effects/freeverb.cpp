// The comb-and-allpass reverb: a pre-delay, eight damped combs in parallel and four allpasses
// in series on each side, the right side spread by 23 samples, lengths and feedback following
// the GS reverb character, level and time.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "effects/effect.h"
#include "frontend/lanes.h"
#include "frontend/memory.h"
#include "output/output.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define FREEVERB_AVX2 1
#endif
#endif

const int32 combtunings[FREEVERB_COMBS] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
const int32 allpasstunings[FREEVERB_ALLPASSES] = {225, 341, 441, 556};
static const int32 stereo_spread = 23;

freeverb_record freeverb_status;

static int32* alloc_zeroed(int32 size)
{
    int32* p = (int32*)safe_malloc(sizeof(int32) * (size_t)size);
    memset(p, 0, sizeof(int32) * (size_t)size);
    return p;
}

void set_freeverb_comb(freeverb_comb* c, int32 size)
{
    if (size < 1)
        size = 1;
    free(c->buf);
    c->buf = alloc_zeroed(size);
    c->size = size;
    c->index = 0;
    c->filterstore = 0;
}

void set_freeverb_allpass(freeverb_allpass* a, int32 size)
{
    if (size < 1)
        size = 1;
    free(a->buf);
    a->buf = alloc_zeroed(size);
    a->size = size;
    a->index = 0;
}

void init_freeverb_comb(freeverb_comb* c)
{
    if (c->buf != nullptr)
        memset(c->buf, 0, sizeof(int32) * (size_t)c->size);
}

void init_freeverb_allpass(freeverb_allpass* a)
{
    if (a->buf != nullptr)
        memset(a->buf, 0, sizeof(int32) * (size_t)a->size);
}

// A delay length for a tuning at 44100 Hz, scaled, at least 10, raised to a prime.
static int32 scaled_length(int32 tuning, double rate, double scale)
{
    double len = tuning * rate * scale / 44100.0;
    if (!(len < 1e8))  // also catches a NaN
        len = 1e8;
    int32 n = (int32)len;
    return next_prime(n < 10 ? 10 : n);
}

static void init_freeverb(freeverb_record* rev)
{
    const reverb_status_gs_t& st = reverb_status_gs;
    const double rate = (play_mode != nullptr && play_mode->rate > 0) ? play_mode->rate : 44100;

    if (!rev->initialized) {
        for (int i = 0; i < FREEVERB_COMBS; i++) {
            set_freeverb_comb(&rev->combL[i], combtunings[i]);
            set_freeverb_comb(&rev->combR[i], combtunings[i] + stereo_spread);
        }
        for (int i = 0; i < FREEVERB_ALLPASSES; i++) {
            set_freeverb_allpass(&rev->allpassL[i], allpasstunings[i]);
            set_freeverb_allpass(&rev->allpassR[i], allpasstunings[i] + stereo_spread);
        }
        rev->damp = 0.2;
        rev->initialized = 1;
    }

    rev->wet_level = (double)st.level / 127.0 * gs_revchar_to_level(st.character) * 0.025;

    double room;
    switch (st.character) {
    case 1: room = 0.94; break;
    case 2: room = 0.97; break;
    case 3: room = 0.9; break;
    case 4: room = 0.85; break;
    default: room = 1.0; break;
    }
    rev->roomsize = room * 0.28 + 0.7;
    rev->wet1 = 0.75;
    rev->wet2 = 0.25;

    const double T = gs_revchar_to_rt(st.character) * reverb_time_table[st.time & 0x7f];
    const double N = (1617.0 * 60.0) / (-20.0 * log10(rev->roomsize) * 44100.0);
    const double scale = (T * 3.0) / N;

    for (int i = 0; i < FREEVERB_COMBS; i++) {
        set_freeverb_comb(&rev->combL[i], scaled_length(combtunings[i], rate, scale));
        set_freeverb_comb(&rev->combR[i],
                          scaled_length(combtunings[i] + stereo_spread, rate, scale));
    }
    for (int i = 0; i < FREEVERB_ALLPASSES; i++) {
        set_freeverb_allpass(&rev->allpassL[i], scaled_length(allpasstunings[i], rate, scale));
        set_freeverb_allpass(&rev->allpassR[i],
                             scaled_length(allpasstunings[i] + stereo_spread, rate, scale));
    }

    for (int i = 0; i < FREEVERB_COMBS; i++) {
        double fb = pow(10.0, -3.0 * combtunings[i] / (44100.0 * T));
        freeverb_comb* sides[2] = {&rev->combL[i], &rev->combR[i]};
        for (freeverb_comb* c : sides) {
            c->feedback = fb;
            c->damp1 = rev->damp;
            c->damp2 = 1.0 - rev->damp;
            c->feedbacki = fx_gain(c->feedback);
            c->damp1i = fx_gain(c->damp1);
            c->damp2i = fx_gain(c->damp2);
        }
    }
    for (int i = 0; i < FREEVERB_ALLPASSES; i++) {
        rev->allpassL[i].feedback = rev->allpassR[i].feedback = 0.55;
        rev->allpassL[i].feedbacki = rev->allpassR[i].feedbacki = fx_gain(0.55);
    }
    rev->wet1i = fx_gain(rev->wet1);
    rev->wet2i = fx_gain(rev->wet2);

    set_delay(&rev->pdelay, (int32)(rate * st.pre_delay_time / 1000.0));

    for (int i = 0; i < FREEVERB_COMBS; i++) {
        init_freeverb_comb(&rev->combL[i]);
        init_freeverb_comb(&rev->combR[i]);
    }
    for (int i = 0; i < FREEVERB_ALLPASSES; i++) {
        init_freeverb_allpass(&rev->allpassL[i]);
        init_freeverb_allpass(&rev->allpassR[i]);
    }
}

static void free_freeverb(freeverb_record* rev)
{
    for (int i = 0; i < FREEVERB_COMBS; i++) {
        free(rev->combL[i].buf);
        free(rev->combR[i].buf);
        rev->combL[i].buf = rev->combR[i].buf = nullptr;
    }
    for (int i = 0; i < FREEVERB_ALLPASSES; i++) {
        free(rev->allpassL[i].buf);
        free(rev->allpassR[i].buf);
        rev->allpassL[i].buf = rev->allpassR[i].buf = nullptr;
    }
    free_delay(&rev->pdelay);
    rev->initialized = 0;
}

// The reverb runs a block at a time: the pre-delay first, then each pair of combs (left and
// right of one tuning) over the whole block, then each allpass over it, so that a filter's
// state stays in registers and its ring is walked in straight runs between wraps. Each
// filter sees the same values in the same order as sample by sample.
#define FREEVERB_CHUNK 2048

// Adds the outputs of the left and right comb of one tuning for the n inputs to outL, outR.
static void comb_pair(freeverb_comb* cl, freeverb_comb* cr, const int32* in, int32* outL,
                      int32* outR, int32 n)
{
    int32 *bl = cl->buf, *br = cr->buf;
    int32 il = cl->index, ir = cr->index, fl = cl->filterstore, fr = cr->filterstore;
    if (il < 0 || il >= cl->size)
        il = 0;
    if (ir < 0 || ir >= cr->size)
        ir = 0;
    const int32 fbl = cl->feedbacki, d1l = cl->damp1i, d2l = cl->damp2i;
    const int32 fbr = cr->feedbacki, d1r = cr->damp1i, d2r = cr->damp2i;
    for (int32 j = 0; j < n;) {
        int32 run = n - j;
        if (run > cl->size - il)
            run = cl->size - il;
        if (run > cr->size - ir)
            run = cr->size - ir;
        int32 *pl = bl + il, *pr = br + ir;
        for (int32 k = 0; k < run; k++) {
            const int32 x = in[j + k], yl = pl[k], yr = pr[k];
            fl = fx_mul(yl, d2l) + fx_mul(fl, d1l);
            fr = fx_mul(yr, d2r) + fx_mul(fr, d1r);
            pl[k] = fx_mul(fl, fbl) + x;
            pr[k] = fx_mul(fr, fbr) + x;
            outL[j + k] += yl;
            outR[j + k] += yr;
        }
        j += run;
        il += run;
        ir += run;
        if (il >= cl->size)
            il = 0;
        if (ir >= cr->size)
            ir = 0;
    }
    cl->index = il;
    cr->index = ir;
    cl->filterstore = fl;
    cr->filterstore = fr;
}

#if defined(__SSE2__)

// The sixteen combs at once, four to a vector: left 0-3, left 4-7, right 0-3, right 4-7. Each
// lane runs its comb's recursion in the scalar order, so every ring and output value is the
// one comb_pair gives.

// Whether every gain lies in [0, 1]: the vector product below needs that.
static bool gains_fit_vector(const freeverb_record* rev)
{
    for (int k = 0; k < FREEVERB_COMBS; k++)
        for (const freeverb_comb* c : {&rev->combL[k], &rev->combR[k]})
            for (int32 g : {c->feedbacki, c->damp1i, c->damp2i})
                if (g < 0 || g > FX_ONE)
                    return false;
    for (int k = 0; k < FREEVERB_ALLPASSES; k++)
        for (int32 g : {rev->allpassL[k].feedbacki, rev->allpassR[k].feedbacki})
            if (g < 0 || g > FX_ONE)
                return false;
    return rev->wet1i >= 0 && rev->wet1i <= FX_ONE && rev->wet2i >= 0 && rev->wet2i <= FX_ONE;
}

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
    __m128i f;                          // the four filter stores
    __m128i d1e, d1o, d2e, d2o, fbe, fbo;  // gains, as fx_mul4 takes them
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

// The sixteen combs in the order the vector forms take them (left 0-7, right 0-7), their ring
// positions, and the runs of samples up to the next turn of any ring.
struct CombRings {
    freeverb_comb* c[16];
    int32 idx[16];
    int32* p[16];  // each ring at its position, during a run

    explicit CombRings(freeverb_record* rev)
    {
        for (int k = 0; k < FREEVERB_COMBS; k++) {
            c[k] = &rev->combL[k];
            c[8 + k] = &rev->combR[k];
        }
        for (int m = 0; m < 16; m++)
            idx[m] = c[m]->index < 0 || c[m]->index >= c[m]->size ? 0 : c[m]->index;
    }
    // The next run: at most `left` samples, none of them past a ring's end.
    int32 next_run(int32 left)
    {
        for (int m = 0; m < 16; m++) {
            if (left > c[m]->size - idx[m])
                left = c[m]->size - idx[m];
            p[m] = c[m]->buf + idx[m];
        }
        return left;
    }
    void advance(int32 run)
    {
        for (int m = 0; m < 16; m++) {
            idx[m] += run;
            if (idx[m] >= c[m]->size)
                idx[m] = 0;
        }
    }
    // The positions, and the filter stores (in the same order), back into the combs.
    void finish(const int32* stores)
    {
        for (int m = 0; m < 16; m++) {
            c[m]->index = idx[m];
            c[m]->filterstore = stores[m];
        }
    }
};

// All combs over the n inputs, their outputs added to outL and outR.
static void comb_bank(freeverb_record* rev, const int32* in, int32* outL, int32* outR, int32 n)
{
    CombRings rings(rev);
    CombQuad q[4];
    for (int g = 0; g < 4; g++) {
        freeverb_comb* const* cg = rings.c + 4 * g;
        const __m128i d1 = gains4(cg, &freeverb_comb::damp1i), d2 = gains4(cg, &freeverb_comb::damp2i),
                      fb = gains4(cg, &freeverb_comb::feedbacki);
        q[g] = CombQuad{gains4(cg, &freeverb_comb::filterstore), d1, _mm_srli_epi64(d1, 32),
                        d2, _mm_srli_epi64(d2, 32), fb, _mm_srli_epi64(fb, 32)};
    }
    for (int32 j = 0; j < n;) {
        const int32 run = rings.next_run(n - j);
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
        rings.advance(run);
    }
    alignas(16) int32 f[16];
    for (int g = 0; g < 4; g++)
        _mm_store_si128((__m128i*)(f + 4 * g), q[g].f);
    rings.finish(f);
}

#if defined(FREEVERB_AVX2)

// The same with AVX2, eight combs to a vector: all left combs, then all right combs. Only
// these functions are built for AVX2 (the rest of the program stays generic x86-64), and they
// run only where the processor has it.
#define AVX2_FN __attribute__((target("avx2")))

static bool cpu_has_avx2()
{
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}

// fx_mul4 on eight lanes: the magnitude times the gain shifted down, given back the value's
// sign (vpsignd also keeps a 0 at 0). The even lanes' products land in the low halves of the
// 64-bit lanes, the odd lanes' are shifted up into the high halves.
AVX2_FN static inline __m256i fx_mul8(__m256i x, __m256i ge, __m256i go)
{
    const __m256i a = _mm256_abs_epi32(x);
    const __m256i e = _mm256_srli_epi64(_mm256_mul_epu32(a, ge), 24);
    const __m256i o = _mm256_slli_epi64(_mm256_mul_epu32(_mm256_srli_epi64(a, 32), go), 8);
    return _mm256_sign_epi32(_mm256_blend_epi32(e, o, 0xaa), x);
}

// transpose4 on both 128-bit halves at once.
AVX2_FN static inline void transpose4x2(__m256i& a, __m256i& b, __m256i& c, __m256i& d)
{
    const __m256i t0 = _mm256_unpacklo_epi32(a, b), t1 = _mm256_unpacklo_epi32(c, d);
    const __m256i t2 = _mm256_unpackhi_epi32(a, b), t3 = _mm256_unpackhi_epi32(c, d);
    a = _mm256_unpacklo_epi64(t0, t1);
    b = _mm256_unpackhi_epi64(t0, t1);
    c = _mm256_unpacklo_epi64(t2, t3);
    d = _mm256_unpackhi_epi64(t2, t3);
}

struct CombOctet {
    __m256i f;
    __m256i d1e, d1o, d2e, d2o, fbe, fbo;
};

AVX2_FN static inline __m256i gains8(const freeverb_comb* const* c, int32 freeverb_comb::*g)
{
    return _mm256_setr_epi32(c[0]->*g, c[1]->*g, c[2]->*g, c[3]->*g, c[4]->*g, c[5]->*g,
                             c[6]->*g, c[7]->*g);
}

AVX2_FN static inline __m256i comb_step8(CombOctet& q, __m256i y, __m256i x)
{
    q.f = _mm256_add_epi32(fx_mul8(y, q.d2e, q.d2o), fx_mul8(q.f, q.d1e, q.d1o));
    return _mm256_add_epi32(fx_mul8(q.f, q.fbe, q.fbo), x);
}

// Four samples of one group from position k of its rings pg, written out by hand so that the
// filter stores stay in registers: row m holds combs m and m + 4, four samples each, and the
// in-lane transpose turns the rows into one vector per sample. The rows' sum goes to out.
AVX2_FN __attribute__((always_inline)) static inline void comb_four8(CombOctet& q,
                                                                       int32* const* pg, int32 k,
                                                                       const int32* x, int32* out)
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

// comb_bank with two groups of eight.
AVX2_FN static void comb_bank_avx2(freeverb_record* rev, const int32* in, int32* outL,
                                   int32* outR, int32 n)
{
    CombRings rings(rev);
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
        const int32 run = rings.next_run(n - j);
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
        rings.advance(run);
    }
    alignas(32) int32 f[16];
    for (int g = 0; g < 2; g++)
        _mm256_store_si256((__m256i*)(f + 8 * g), q[g].f);
    rings.finish(f);
}

#endif

// One allpass over the n values of x, in place. Up to the next turn of its ring every value
// it reads was written a whole ring earlier, so four samples go at once.
static void allpass_vector(freeverb_allpass* a, int32* x, int32 n)
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

// The wet mix of the n output pairs into the interleaved buffer b, four pairs at a time.
static void wet_mix_vector(const freeverb_record* rev, const int32* L, const int32* R, int32* b,
                           int32 n)
{
    const __m128i w1 = _mm_set1_epi32(rev->wet1i), w2 = _mm_set1_epi32(rev->wet2i);
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
        b[2 * j] += fx_mul(L[j], rev->wet1i) + fx_mul(R[j], rev->wet2i);
        b[2 * j + 1] += fx_mul(R[j], rev->wet1i) + fx_mul(L[j], rev->wet2i);
    }
}

#endif

bool run_freeverb_combs(freeverb_record* rev, const int32* in, int32* outL, int32* outR, int32 n,
                        freeverb_comb_form form)
{
    switch (form) {
    case FREEVERB_COMBS_SCALAR:
        for (int k = 0; k < FREEVERB_COMBS; k++)
            comb_pair(&rev->combL[k], &rev->combR[k], in, outL, outR, n);
        return true;
#if defined(__SSE2__)
    case FREEVERB_COMBS_SSE2:
        if (!gains_fit_vector(rev))
            return false;
        comb_bank(rev, in, outL, outR, n);
        return true;
#endif
#if defined(FREEVERB_AVX2)
    case FREEVERB_COMBS_AVX2:
        if (!cpu_has_avx2() || !gains_fit_vector(rev))
            return false;
        comb_bank_avx2(rev, in, outL, outR, n);
        return true;
#endif
    default:
        return false;
    }
}

// The left and right allpass of one tuning over the n values of x and y, in place.
static void allpass_pair(freeverb_allpass* al, freeverb_allpass* ar, int32* x, int32* y, int32 n)
{
    int32 *bl = al->buf, *br = ar->buf;
    int32 il = al->index, ir = ar->index;
    if (il < 0 || il >= al->size)
        il = 0;
    if (ir < 0 || ir >= ar->size)
        ir = 0;
    const int32 gl = al->feedbacki, gr = ar->feedbacki;
    for (int32 j = 0; j < n;) {
        int32 run = n - j;
        if (run > al->size - il)
            run = al->size - il;
        if (run > ar->size - ir)
            run = ar->size - ir;
        int32 *pl = bl + il, *pr = br + ir;
        for (int32 k = 0; k < run; k++) {
            const int32 inl = x[j + k], inr = y[j + k], ol = pl[k], orr = pr[k];
            pl[k] = fx_mul(ol, gl) + inl;
            pr[k] = fx_mul(orr, gr) + inr;
            x[j + k] = ol - inl;
            y[j + k] = orr - inr;
        }
        j += run;
        il += run;
        ir += run;
        if (il >= al->size)
            il = 0;
        if (ir >= ar->size)
            ir = 0;
    }
    al->index = il;
    ar->index = ir;
}

void do_ch_freeverb(int32* buf, int32 count, freeverb_record* rev)
{
    if (count == -1) {
        init_freeverb(rev);
        return;
    }
    if (count == -2) {
        free_freeverb(rev);
        return;
    }
    if (!rev->initialized || rev->pdelay.buf == nullptr)
        init_freeverb(rev);
    if (count > EFFECT_BUFFER_SIZE)
        count = EFFECT_BUFFER_SIZE;
    int32* send = reverb_effect_buffer;
    simple_delay* pd = &rev->pdelay;
    static int32 d[FREEVERB_CHUNK], L[FREEVERB_CHUNK], R[FREEVERB_CHUNK];
    for (int32 at = 0; at + 1 < count; at += 2 * FREEVERB_CHUNK) {
        int32 n = (count - at) / 2;
        if (n > FREEVERB_CHUNK)
            n = FREEVERB_CHUNK;
        int32* s = send + at;
        for (int32 j = 0; j < n; j++) {
            const int32 in = s[2 * j] + s[2 * j + 1];
            s[2 * j] = s[2 * j + 1] = 0;
            d[j] = pd->buf[pd->index];
            pd->buf[pd->index] = in;
            if (++pd->index >= pd->size)
                pd->index = 0;
            L[j] = R[j] = 0;
        }
        int32* b = buf + at;
#if defined(__SSE2__)
        if (gains_fit_vector(rev)) {
#if defined(FREEVERB_AVX2)
            if (cpu_has_avx2())
                comb_bank_avx2(rev, d, L, R, n);
            else
#endif
                comb_bank(rev, d, L, R, n);
            for (int k = 0; k < FREEVERB_ALLPASSES; k++) {
                allpass_vector(&rev->allpassL[k], L, n);
                allpass_vector(&rev->allpassR[k], R, n);
            }
            wet_mix_vector(rev, L, R, b, n);
            continue;
        }
#endif
        for (int k = 0; k < FREEVERB_COMBS; k++)
            comb_pair(&rev->combL[k], &rev->combR[k], d, L, R, n);
        for (int k = 0; k < FREEVERB_ALLPASSES; k++)
            allpass_pair(&rev->allpassL[k], &rev->allpassR[k], L, R, n);
        for (int32 j = 0; j < n; j++) {
            b[2 * j] += fx_mul(L[j], rev->wet1i) + fx_mul(R[j], rev->wet2i);
            b[2 * j + 1] += fx_mul(R[j], rev->wet1i) + fx_mul(L[j], rev->wet2i);
        }
    }
}
