// The comb-and-allpass reverb: a pre-delay, eight damped combs in parallel and four allpasses
// in series on each side, the right side spread by 23 samples, lengths and feedback following
// the GS reverb character, level and time.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "effects/effect.h"
#include "frontend/memory.h"
#include "output/output.h"

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
        for (int k = 0; k < FREEVERB_COMBS; k++)
            comb_pair(&rev->combL[k], &rev->combR[k], d, L, R, n);
        for (int k = 0; k < FREEVERB_ALLPASSES; k++)
            allpass_pair(&rev->allpassL[k], &rev->allpassR[k], L, R, n);
        int32* b = buf + at;
        for (int32 j = 0; j < n; j++) {
            b[2 * j] += fx_mul(L[j], rev->wet1i) + fx_mul(R[j], rev->wet2i);
            b[2 * j + 1] += fx_mul(R[j], rev->wet1i) + fx_mul(L[j], rev->wet2i);
        }
    }
}
