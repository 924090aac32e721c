// Delay lines, filters, the low-frequency oscillator and noise shared by the effects.
#include "effects/effect_dsp.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "frontend/memory.h"
#include "frontend/mt19937.h"
#include "frontend/tables.h"
#include "output/output.h"

static double output_rate(void)
{
    return (play_mode != nullptr && play_mode->rate > 0) ? (double)play_mode->rate : 44100.0;
}

void set_delay(simple_delay* d, int32 size)
{
    if (size < 1)
        size = 1;
    free(d->buf);
    d->buf = (int32*)safe_malloc(sizeof(int32) * (size_t)size);
    memset(d->buf, 0, sizeof(int32) * (size_t)size);
    d->size = size;
    d->index = 0;
}

void free_delay(simple_delay* d)
{
    free(d->buf);
    d->buf = nullptr;
    d->size = d->index = 0;
}

void init_delay(simple_delay* d)
{
    if (d->buf != nullptr)
        memset(d->buf, 0, sizeof(int32) * (size_t)d->size);
    d->index = 0;
}

void init_filter_lowpass1(filter_lowpass1* p, double a)
{
    if (a > 1.0)
        a = 1.0;
    if (a < 0.0)
        a = 0.0;
    p->a = a;
    p->ai = fx_gain(a);
    p->iai = fx_gain(1.0 - a);
    p->x1l = p->x1r = 0;
}

void do_filter_lowpass1_stereo(int32* buf, int32 count, filter_lowpass1* p)
{
    const int32 a = p->ai, ia = p->iai;
    int32 yl = p->x1l, yr = p->x1r;
    for (int32 i = 0; i + 1 < count; i += 2) {
        yl = fx_mul(buf[i], a) + fx_mul(yl, ia);
        buf[i] = yl;
        yr = fx_mul(buf[i + 1], a) + fx_mul(yr, ia);
        buf[i + 1] = yr;
    }
    p->x1l = yl;
    p->x1r = yr;
}

void init_pre_lpf(filter_lowpass1* p, int pre_lpf)
{
    if (pre_lpf <= 0) {
        init_filter_lowpass1(p, 1.0);
        return;
    }
    if (pre_lpf > 7)
        pre_lpf = 7;
    double f = (7.0 - pre_lpf) / 7.0 * 16000.0 + 200.0;
    init_filter_lowpass1(p, 2.0 * f / output_rate());
}

void calc_filter_biquad(filter_biquad* f, int kind, double freq, double gain, double q)
{
    const double rate = output_rate();
    f->kind = kind;
    f->freq = freq;
    f->gain = gain;
    f->q = q;
    if (freq > rate * 0.45)
        freq = rate * 0.45;
    if (freq < 1.0)
        freq = 1.0;
    if (q < 0.01)
        q = 0.01;
    const double w0 = 2.0 * M_PI * freq / rate;
    const double cw = cos(w0), sw = sin(w0);
    const double A = pow(10.0, gain / 40.0);
    double b0, b1, b2, a0, a1, a2;
    switch (kind) {
    case BIQUAD_LOW_SHELF:
    case BIQUAD_HIGH_SHELF: {
        // q is the shelf slope here (1: the steepest without overshoot).
        double s = q > 1.0 ? 1.0 : q;
        double alpha = sw / 2.0 * sqrt((A + 1.0 / A) * (1.0 / s - 1.0) + 2.0);
        double sq = 2.0 * sqrt(A) * alpha;
        if (kind == BIQUAD_LOW_SHELF) {
            b0 = A * ((A + 1) - (A - 1) * cw + sq);
            b1 = 2 * A * ((A - 1) - (A + 1) * cw);
            b2 = A * ((A + 1) - (A - 1) * cw - sq);
            a0 = (A + 1) + (A - 1) * cw + sq;
            a1 = -2 * ((A - 1) + (A + 1) * cw);
            a2 = (A + 1) + (A - 1) * cw - sq;
        } else {
            b0 = A * ((A + 1) + (A - 1) * cw + sq);
            b1 = -2 * A * ((A - 1) + (A + 1) * cw);
            b2 = A * ((A + 1) + (A - 1) * cw - sq);
            a0 = (A + 1) - (A - 1) * cw + sq;
            a1 = 2 * ((A - 1) - (A + 1) * cw);
            a2 = (A + 1) - (A - 1) * cw - sq;
        }
        break;
    }
    case BIQUAD_PEAKING: {
        double alpha = sw / (2.0 * q);
        b0 = 1 + alpha * A;
        b1 = -2 * cw;
        b2 = 1 - alpha * A;
        a0 = 1 + alpha / A;
        a1 = -2 * cw;
        a2 = 1 - alpha / A;
        break;
    }
    case BIQUAD_HIGH_PASS: {
        double alpha = sw / (2.0 * q);
        b0 = (1 + cw) / 2;
        b1 = -(1 + cw);
        b2 = (1 + cw) / 2;
        a0 = 1 + alpha;
        a1 = -2 * cw;
        a2 = 1 - alpha;
        break;
    }
    default: {  // low pass
        double alpha = sw / (2.0 * q);
        b0 = (1 - cw) / 2;
        b1 = 1 - cw;
        b2 = (1 - cw) / 2;
        a0 = 1 + alpha;
        a1 = -2 * cw;
        a2 = 1 - alpha;
        break;
    }
    }
    f->b0 = fx_gain(b0 / a0);
    f->b1 = fx_gain(b1 / a0);
    f->b2 = fx_gain(b2 / a0);
    f->a1 = fx_gain(a1 / a0);
    f->a2 = fx_gain(a2 / a0);
    f->x1l = f->x2l = f->y1l = f->y2l = 0;
    f->x1r = f->x2r = f->y1r = f->y2r = 0;
}

static inline int32 biquad_step(int32 x, const filter_biquad* f, int32& x1, int32& x2, int32& y1,
                                int32& y2)
{
    int64 acc = (int64)f->b0 * x + (int64)f->b1 * x1 + (int64)f->b2 * x2 - (int64)f->a1 * y1 -
                (int64)f->a2 * y2;
    int32 y = (int32)(acc >> 24);
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
}

int32 do_filter_biquad_left(int32 x, filter_biquad* f)
{
    return biquad_step(x, f, f->x1l, f->x2l, f->y1l, f->y2l);
}

int32 do_filter_biquad_right(int32 x, filter_biquad* f)
{
    return biquad_step(x, f, f->x1r, f->x2r, f->y1r, f->y2r);
}

void do_filter_biquad_stereo(int32* buf, int32 count, filter_biquad* f)
{
    for (int32 i = 0; i + 1 < count; i += 2) {
        buf[i] = biquad_step(buf[i], f, f->x1l, f->x2l, f->y1l, f->y2l);
        buf[i + 1] = biquad_step(buf[i + 1], f, f->x1r, f->x2r, f->y1r, f->y2r);
    }
}

// The waveform at table position i (0..1023) from its quarter wave.
static double waveform(int type, int i)
{
    i &= 1023;
    int q = i & 255;
    int idx;
    switch (i >> 8) {
    case 0: idx = q; break;
    case 1: idx = 256 - q; break;
    case 2: idx = q; break;
    default: idx = 256 - q; break;
    }
    double v = type == LFO_SINE ? sine_table[idx] : (double)idx / 256.0;
    return i >= 512 ? -v : v;
}

void init_lfo(lfo* l, double freq, int type, double phase)
{
    const double rate = output_rate();
    if (freq < 0.05)
        freq = 0.05;
    l->freq = freq;
    l->count = 0;
    double cycle = rate / freq;
    l->cycle = cycle < 1.0 ? 1 : cycle > 2147483647.0 ? 2147483647 : (int32)cycle;
    l->icycle = (int64)llround((1023.0 / l->cycle) * 16777216.0 - 0.5);
    if (l->type == type)
        return;
    l->type = type;
    int offset = (int)(phase * 1024.0 / 360.0);
    for (int i = 0; i < 1024; i++) {
        if (type == LFO_SINE || type == LFO_TRIANGULAR)
            l->buf[i] = (int32)((waveform(type, i + offset) + 1.0) / 2.0 * 65536.0);
        else
            l->buf[i] = 32768;
    }
}

pink_noise global_pink_noise_light;

void init_pink_noise(pink_noise* p)
{
    memset(p, 0, sizeof(*p));
}

float get_white_noise(void)
{
    return (float)(genrand_real1() * 2.0 - 1.0);
}

float get_pink_noise_light(pink_noise* p)
{
    float white = get_white_noise();
    p->b0 = 0.99886f * p->b0 + white * 0.0555179f;
    p->b1 = 0.99332f * p->b1 + white * 0.0750759f;
    p->b2 = 0.96900f * p->b2 + white * 0.1538520f;
    p->b3 = 0.86650f * p->b3 + white * 0.3104856f;
    p->b4 = 0.55000f * p->b4 + white * 0.5329522f;
    p->b5 = -0.7616f * p->b5 - white * 0.0168980f;
    float pink = p->b0 + p->b1 + p->b2 + p->b3 + p->b4 + p->b5 + p->b6 + white * 0.5362f;
    p->b6 = white * 0.115926f;
    pink *= 0.11f;
    return pink > 1.0f ? 1.0f : pink < -1.0f ? -1.0f : pink;
}
