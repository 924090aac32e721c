// The SSE2 forms of the mixing loops: eight samples at a time (four at the end of a one-gain
// run). They multiply 16-bit values by 16-bit gains, which is exact whenever both fit; a group
// whose values do not fit, or whose buffer values come within 2^30 of the 32-bit limits, is
// done by the scalar form instead, so both forms give the same buffer.
#include <emmintrin.h>

#include "render/mix_kernels.h"

// Whether the gains g .. g + (n - 1) inc all fit 16 bits.
static inline bool gains_fit16(int32 g, int32 inc, int32 n)
{
    const int64 last = (int64)g + (int64)inc * (n > 0 ? n - 1 : 0);
    return g >= -32768 && g <= 32767 && last >= -32768 && last <= 32767;
}

// The gains g, g + inc, .. g + 7 inc as 16 bits (one multiply instead of eight).
static inline __m128i gain_lanes16(int32 g, int32 inc)
{
    const __m128i k = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
    return _mm_add_epi16(_mm_set1_epi16((short)g), _mm_mullo_epi16(_mm_set1_epi16((short)inc), k));
}

// Eight values as 16 bits, and a mask with the sign bit set in a lane where one of them does
// not fit (a value fits when adding 2^15 leaves its upper 16 bits clear; 2^31 - 1 added to
// those bits carries into the sign bit exactly when one of them is set).
static inline __m128i values16(const int32* s, __m128i& bad)
{
    const __m128i a = _mm_loadu_si128((const __m128i*)s);
    const __m128i b = _mm_loadu_si128((const __m128i*)(s + 4));
    const __m128i bias = _mm_set1_epi32(0x8000);
    const __m128i high =
        _mm_srli_epi32(_mm_or_si128(_mm_add_epi32(a, bias), _mm_add_epi32(b, bias)), 16);
    bad = _mm_add_epi32(high, _mm_set1_epi32(INT32_MAX));
    return _mm_packs_epi32(a, b);
}

// The 32-bit products of eight 16-bit values and gains: lanes 0..3 in lo, 4..7 in hi.
static inline void products(__m128i v, __m128i g, __m128i& lo, __m128i& hi)
{
    const __m128i pl = _mm_mullo_epi16(v, g), ph = _mm_mulhi_epi16(v, g);
    lo = _mm_unpacklo_epi16(pl, ph);
    hi = _mm_unpackhi_epi16(pl, ph);
}

// d + p, with the sign bit of `over` set in a lane whose buffer value d lies outside
// [-2^30, 2^30). A product of two 16-bit values lies within [-2^30 + 2^15, 2^30], so a sum
// with d inside that range cannot pass the 32-bit limits; the few lanes outside it are redone
// by the scalar form, which holds the sum at the limits.
static inline __m128i add_watch(__m128i d, __m128i p, __m128i& over)
{
    over = _mm_or_si128(over, _mm_add_epi32(d, _mm_set1_epi32(0x40000000)));
    return _mm_add_epi32(d, p);
}

// Whether any lane of bad or over has its sign bit set.
static inline bool must_redo(__m128i bad, __m128i over)
{
    return _mm_movemask_ps(_mm_castsi128_ps(_mm_or_si128(bad, over))) != 0;
}

// Four samples of a run's end, lanes 0..3 of gv holding their gains (g for the first). With
// stride 2 it touches only the seven values from the first sample's to the last one's: the
// first three samples go through the vector unit, the last one through the scalar form.
static inline void mix_four(int32* o, int stride, const int32* s, __m128i gv, int32 g, int32 inc)
{
    const __m128i a = _mm_loadu_si128((const __m128i*)s), zero = _mm_setzero_si128();
    const __m128i bias = _mm_set1_epi32(0x8000), near = _mm_set1_epi32(0x40000000);
    const __m128i bad = _mm_add_epi32(_mm_srli_epi32(_mm_add_epi32(a, bias), 16),
                                      _mm_set1_epi32(INT32_MAX));
    const __m128i v = _mm_packs_epi32(a, a);
    const __m128i p = _mm_unpacklo_epi16(_mm_mullo_epi16(v, gv), _mm_mulhi_epi16(v, gv));
    const __m128i d0 = _mm_loadu_si128((const __m128i*)o);
    if (stride == 1) {
        if (must_redo(bad, _mm_add_epi32(d0, near))) {
            mix_gain_run1_scalar(o, 1, s, 4, g, inc);
            return;
        }
        _mm_storeu_si128((__m128i*)o, _mm_add_epi32(d0, p));
        return;
    }
    const __m128i d1 = _mm_loadl_epi64((const __m128i*)(o + 4));
    if (must_redo(bad, _mm_or_si128(_mm_add_epi32(d0, near), _mm_add_epi32(d1, near)))) {
        mix_gain_run1_scalar(o, 2, s, 4, g, inc);
        return;
    }
    _mm_storeu_si128((__m128i*)o, _mm_add_epi32(d0, _mm_unpacklo_epi32(p, zero)));
    _mm_storel_epi64((__m128i*)(o + 4), _mm_add_epi32(d1, _mm_unpackhi_epi32(p, zero)));
    mix_gain_run1_scalar(o + 6, 2, s + 3, 1, g + 3 * inc, inc);
}

void mix_gain_run1_sse2(int32* out, int stride, const int32* s, int32 n, int32 g, int32 inc)
{
    if ((stride != 1 && stride != 2) || n < 9 || !gains_fit16(g, inc, n)) {
        mix_gain_run1_scalar(out, stride, s, n, g, inc);
        return;
    }
    __m128i gv = gain_lanes16(g, inc);
    const __m128i step = _mm_set1_epi16((short)(8 * inc)), zero = _mm_setzero_si128();
    // With stride 2 a group of eight also loads and stores the other side's value after its
    // last sample, which must still be a value of the run's buffer: a ninth sample follows.
    const int32 reach = stride == 1 ? 8 : 9;
    int32 i = 0;
    for (; i + reach <= n; i += 8, gv = _mm_add_epi16(gv, step)) {
        __m128i bad, over = zero, lo, hi;
        const __m128i v = values16(s + i, bad);
        products(v, gv, lo, hi);
        int32* o = out + (int64)i * stride;
        if (stride == 1) {
            const __m128i t0 = add_watch(_mm_loadu_si128((const __m128i*)o), lo, over);
            const __m128i t1 = add_watch(_mm_loadu_si128((const __m128i*)(o + 4)), hi, over);
            if (must_redo(bad, over)) {
                mix_gain_run1_scalar(o, 1, s + i, 8, g + i * inc, inc);
                continue;
            }
            _mm_storeu_si128((__m128i*)o, t0);
            _mm_storeu_si128((__m128i*)(o + 4), t1);
        } else {
            // One side of interleaved pairs: the other side gets 0 added.
            const __m128i t0 = add_watch(_mm_loadu_si128((const __m128i*)o),
                                         _mm_unpacklo_epi32(lo, zero), over);
            const __m128i t1 = add_watch(_mm_loadu_si128((const __m128i*)(o + 4)),
                                         _mm_unpackhi_epi32(lo, zero), over);
            const __m128i t2 = add_watch(_mm_loadu_si128((const __m128i*)(o + 8)),
                                         _mm_unpacklo_epi32(hi, zero), over);
            const __m128i t3 = add_watch(_mm_loadu_si128((const __m128i*)(o + 12)),
                                         _mm_unpackhi_epi32(hi, zero), over);
            if (must_redo(bad, over)) {
                mix_gain_run1_scalar(o, 2, s + i, 8, g + i * inc, inc);
                continue;
            }
            _mm_storeu_si128((__m128i*)o, t0);
            _mm_storeu_si128((__m128i*)(o + 4), t1);
            _mm_storeu_si128((__m128i*)(o + 8), t2);
            _mm_storeu_si128((__m128i*)(o + 12), t3);
        }
    }
    if (n - i >= 4) {
        mix_four(out + (int64)i * stride, stride, s + i, gv, g + i * inc, inc);
        i += 4;
    }
    mix_gain_run1_scalar(out + (int64)i * stride, stride, s + i, n - i, g + i * inc, inc);
}

// The stereo loop for one source (sl == sr, `two` false) or the two halves of a pair.
template <bool two>
static inline void run2(int32* out, const int32* sl, const int32* sr, int32 n, int32 gl,
                        int32 incl, int32 gr, int32 incr)
{
    __m128i lv = gain_lanes16(gl, incl), rv = gain_lanes16(gr, incr);
    const __m128i lstep = _mm_set1_epi16((short)(8 * incl)), rstep = _mm_set1_epi16((short)(8 * incr));
    const bool same = !two && gl == gr && incl == incr;
    int32 i = 0;
    for (; i + 8 <= n; i += 8, lv = _mm_add_epi16(lv, lstep), rv = _mm_add_epi16(rv, rstep)) {
        __m128i bad, over = _mm_setzero_si128(), llo, lhi, rlo, rhi;
        const __m128i v = values16(sl + i, bad);
        products(v, lv, llo, lhi);
        if (two) {
            __m128i bad_r;
            products(values16(sr + i, bad_r), rv, rlo, rhi);
            bad = _mm_or_si128(bad, bad_r);
        } else if (same) {
            rlo = llo;
            rhi = lhi;
        } else {
            products(v, rv, rlo, rhi);
        }
        int32* o = out + 2 * (int64)i;
        const __m128i t0 = add_watch(_mm_loadu_si128((const __m128i*)o), _mm_unpacklo_epi32(llo, rlo), over);
        const __m128i t1 = add_watch(_mm_loadu_si128((const __m128i*)(o + 4)), _mm_unpackhi_epi32(llo, rlo), over);
        const __m128i t2 = add_watch(_mm_loadu_si128((const __m128i*)(o + 8)), _mm_unpacklo_epi32(lhi, rhi), over);
        const __m128i t3 = add_watch(_mm_loadu_si128((const __m128i*)(o + 12)), _mm_unpackhi_epi32(lhi, rhi), over);
        if (must_redo(bad, over)) {
            if (two)
                mix_gain_pair_scalar(o, sl + i, sr + i, 8, gl + i * incl, incl, gr + i * incr, incr);
            else
                mix_gain_run2_scalar(o, sl + i, 8, gl + i * incl, incl, gr + i * incr, incr);
            continue;
        }
        _mm_storeu_si128((__m128i*)o, t0);
        _mm_storeu_si128((__m128i*)(o + 4), t1);
        _mm_storeu_si128((__m128i*)(o + 8), t2);
        _mm_storeu_si128((__m128i*)(o + 12), t3);
    }
    if (n - i >= 4) {
        // Four more samples: eight buffer values, the gain lanes' first four.
        const __m128i a = _mm_loadu_si128((const __m128i*)(sl + i));
        const __m128i c = two ? _mm_loadu_si128((const __m128i*)(sr + i)) : a;
        const __m128i bias = _mm_set1_epi32(0x8000), near = _mm_set1_epi32(0x40000000);
        const __m128i high = _mm_srli_epi32(_mm_or_si128(_mm_add_epi32(a, bias), _mm_add_epi32(c, bias)), 16);
        const __m128i bad = _mm_add_epi32(high, _mm_set1_epi32(INT32_MAX));
        const __m128i va = _mm_packs_epi32(a, a), vc = _mm_packs_epi32(c, c);
        const __m128i pl = _mm_unpacklo_epi16(_mm_mullo_epi16(va, lv), _mm_mulhi_epi16(va, lv));
        const __m128i pr = _mm_unpacklo_epi16(_mm_mullo_epi16(vc, rv), _mm_mulhi_epi16(vc, rv));
        int32* o = out + 2 * (int64)i;
        const __m128i d0 = _mm_loadu_si128((const __m128i*)o), d1 = _mm_loadu_si128((const __m128i*)(o + 4));
        if (!must_redo(bad, _mm_or_si128(_mm_add_epi32(d0, near), _mm_add_epi32(d1, near)))) {
            _mm_storeu_si128((__m128i*)o, _mm_add_epi32(d0, _mm_unpacklo_epi32(pl, pr)));
            _mm_storeu_si128((__m128i*)(o + 4), _mm_add_epi32(d1, _mm_unpackhi_epi32(pl, pr)));
            i += 4;
        }
    }
    if (two)
        mix_gain_pair_scalar(out + 2 * (int64)i, sl + i, sr + i, n - i, gl + i * incl, incl,
                             gr + i * incr, incr);
    else
        mix_gain_run2_scalar(out + 2 * (int64)i, sl + i, n - i, gl + i * incl, incl,
                             gr + i * incr, incr);
}

void mix_gain_run2_sse2(int32* out, const int32* s, int32 n, int32 gl, int32 incl, int32 gr,
                        int32 incr)
{
    if (n < 8 || !gains_fit16(gl, incl, n) || !gains_fit16(gr, incr, n)) {
        mix_gain_run2_scalar(out, s, n, gl, incl, gr, incr);
        return;
    }
    run2<false>(out, s, s, n, gl, incl, gr, incr);
}

void mix_gain_pair_sse2(int32* out, const int32* sl, const int32* sr, int32 n, int32 gl,
                        int32 incl, int32 gr, int32 incr)
{
    if (n < 8 || !gains_fit16(gl, incl, n) || !gains_fit16(gr, incr, n)) {
        mix_gain_pair_scalar(out, sl, sr, n, gl, incl, gr, incr);
        return;
    }
    run2<true>(out, sl, sr, n, gl, incl, gr, incr);
}
