// The damped comb and the allpass: their rings, and the scalar forms of their kernels, which
// define what the vector forms must give. A block runs a pair of filters (left and right of one
// tuning) at a time over the whole block, so that a filter's state stays in registers and its
// ring is walked in straight runs between turns; each filter sees the same values in the same
// order as sample by sample.
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "effects/effect_dsp.h"
#include "effects/reverb_comb.h"
#include "frontend/memory.h"
#include "render/cpu_features.h"

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

void reverb_combs_scalar(freeverb_comb* left, freeverb_comb* right, const int32* x, int32* outL,
                         int32* outR, int32 n)
{
    for (int k = 0; k < FREEVERB_COMBS; k++)
        comb_pair(&left[k], &right[k], x, outL, outR, n);
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

void reverb_allpasses_scalar(freeverb_allpass* left, freeverb_allpass* right, int32* x, int32* y,
                             int32 n)
{
    for (int k = 0; k < FREEVERB_ALLPASSES; k++)
        allpass_pair(&left[k], &right[k], x, y, n);
}

void reverb_wet_mix_scalar(const int32* L, const int32* R, int32* b, int32 n, int32 wet1,
                           int32 wet2)
{
    for (int32 j = 0; j < n; j++) {
        b[2 * j] += fx_mul(L[j], wet1) + fx_mul(R[j], wet2);
        b[2 * j + 1] += fx_mul(R[j], wet1) + fx_mul(L[j], wet2);
    }
}

static bool gain_fits(int32 g)
{
    return g >= 0 && g <= FX_ONE;
}

freeverb_comb_form reverb_combs_form(const freeverb_comb* left, const freeverb_comb* right,
                                     const freeverb_allpass* al, const freeverb_allpass* ar,
                                     int32 wet1, int32 wet2)
{
    bool fit = gain_fits(wet1) && gain_fits(wet2);
    for (int k = 0; k < FREEVERB_COMBS; k++)
        for (const freeverb_comb* c : {&left[k], &right[k]})
            fit = fit && gain_fits(c->feedbacki) && gain_fits(c->damp1i) && gain_fits(c->damp2i);
    for (int k = 0; k < FREEVERB_ALLPASSES; k++)
        fit = fit && gain_fits(al[k].feedbacki) && gain_fits(ar[k].feedbacki);
    if (!fit)
        return FREEVERB_COMBS_SCALAR;
    return cpu_has.avx2 ? FREEVERB_COMBS_AVX2 : cpu_has.sse2 ? FREEVERB_COMBS_SSE2
                                                             : FREEVERB_COMBS_SCALAR;
}
