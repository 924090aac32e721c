// The processing stages of the insertion, variation and XG chorus effects: equalisers,
// drive, modulated delays, multi-tap delays, tremolo and auto pan, and the lo-fi stage. Each
// runs in place on count interleaved stereo values; count -1 initialises the stage from its
// record and -2 frees what it allocated.
#include <cmath>
#include <cstring>

#include "effects/effect_list.h"
#include "output/output.h"

static double out_rate(void)
{
    return (play_mode != nullptr && play_mode->rate > 0) ? play_mode->rate : 44100.0;
}

void effect_dry_wet(double wet_fraction, int system, double* dry, double* wet)
{
    if (system) {
        *dry = 0.0;
        *wet = 1.0;
        return;
    }
    if (wet_fraction < 0.0)
        wet_fraction = 0.0;
    if (wet_fraction > 1.0)
        wet_fraction = 1.0;
    *dry = 1.0 - wet_fraction;
    *wet = wet_fraction;
}

void effect_pan_gains(double pan, double* left, double* right)
{
    if (pan < 0.0)
        pan = 0.0;
    if (pan > 1.0)
        pan = 1.0;
    *left = pan <= 0.5 ? 1.0 : (1.0 - pan) * 2.0;
    *right = pan >= 0.5 ? 1.0 : pan * 2.0;
}

// ---- equalisers ----

static void do_eq2(int32* buf, int32 count, InfoEQ2* info)
{
    if (count == -1) {
        calc_filter_biquad(&info->lsf, BIQUAD_LOW_SHELF, info->low_freq, info->low_gain, 0.5);
        calc_filter_biquad(&info->hsf, BIQUAD_HIGH_SHELF, info->high_freq, info->high_gain, 0.5);
        return;
    }
    if (count < 0)
        return;
    if (info->low_gain != 0.0)
        do_filter_biquad_stereo(buf, count, &info->lsf);
    if (info->high_gain != 0.0)
        do_filter_biquad_stereo(buf, count, &info->hsf);
}

static void do_eq3(int32* buf, int32 count, InfoEQ3* info)
{
    if (count == -1) {
        calc_filter_biquad(&info->lsf, BIQUAD_LOW_SHELF, info->low_freq, info->low_gain, 0.5);
        calc_filter_biquad(&info->peak, BIQUAD_PEAKING, info->mid_freq, info->mid_gain,
                           info->mid_width);
        calc_filter_biquad(&info->hsf, BIQUAD_HIGH_SHELF, info->high_freq, info->high_gain, 0.5);
        return;
    }
    if (count < 0)
        return;
    if (info->low_gain != 0.0)
        do_filter_biquad_stereo(buf, count, &info->lsf);
    if (info->mid_gain != 0.0)
        do_filter_biquad_stereo(buf, count, &info->peak);
    if (info->high_gain != 0.0)
        do_filter_biquad_stereo(buf, count, &info->hsf);
}

static void do_stereo_eq(int32* buf, int32 count, InfoStereoEQ* info)
{
    if (count == -1) {
        calc_filter_biquad(&info->lsf, BIQUAD_LOW_SHELF, info->low_freq, info->low_gain, 0.5);
        calc_filter_biquad(&info->hsf, BIQUAD_HIGH_SHELF, info->high_freq, info->high_gain, 0.5);
        calc_filter_biquad(&info->m1, BIQUAD_PEAKING, info->m1_freq, info->m1_gain, info->m1_q);
        calc_filter_biquad(&info->m2, BIQUAD_PEAKING, info->m2_freq, info->m2_gain, info->m2_q);
        info->leveli = fx_gain(info->level);
        return;
    }
    if (count < 0)
        return;
    filter_biquad* bands[4] = {&info->lsf, &info->hsf, &info->m1, &info->m2};
    for (filter_biquad* f : bands)
        if (f->gain != 0.0)
            do_filter_biquad_stereo(buf, count, f);
    for (int32 i = 0; i < count; i++)
        buf[i] = fx_mul(buf[i], info->leveli);
}

// ---- drive ----

static void do_drive(int32* buf, int32 count, InfoDrive* info)
{
    if (count == -1) {
        info->pregaini = fx_gain(1.0 + info->drive * (info->kind == DRIVE_DISTORTION ? 63.0 : 15.0));
        if (info->cutoff > 0.0)
            calc_filter_biquad(&info->amp, BIQUAD_LOW_PASS, info->cutoff, 0.0, 0.707);
        double l, r;
        effect_pan_gains(info->pan, &l, &r);
        info->leveli = fx_gain(info->level);
        info->leftgaini = fx_gain(l);
        info->rightgaini = fx_gain(r);
        info->dryi = fx_gain(info->dry);
        info->weti = fx_gain(info->wet);
        return;
    }
    if (count < 0)
        return;
    const int64 full = 268435456;  // 16-bit full scale
    for (int32 i = 0; i + 1 < count; i += 2) {
        int32 in = (buf[i] >> 1) + (buf[i + 1] >> 1);
        int64 v = ((int64)in * info->pregaini) >> 24;
        v = v > full ? full : v < -full ? -full : v;
        int64 y;
        if (info->kind == DRIVE_DISTORTION) {
            int64 a = v < 0 ? -v : v;
            y = 2 * a - ((a * a) >> 28);
            if (v < 0)
                y = -y;
        } else {
            y = v + v / 2 - ((((v * v) >> 28) * v) >> 29);
        }
        int32 out = (int32)y;
        if (info->cutoff > 0.0)
            out = do_filter_biquad_left(out, &info->amp);
        out = fx_mul(out, info->leveli);
        buf[i] = fx_mul(buf[i], info->dryi) + fx_mul(fx_mul(out, info->leftgaini), info->weti);
        buf[i + 1] =
            fx_mul(buf[i + 1], info->dryi) + fx_mul(fx_mul(out, info->rightgaini), info->weti);
    }
}

// ---- modulated delays ----

// The sample written n samples ago (1 = the newest).
static inline int32 delay_at(const simple_delay* d, int32 n)
{
    int32 i = d->index - n;
    if (i < 0)
        i += d->size;
    return d->buf[i];
}

// n256 samples ago (in 1/256 sample), interpolated.
static inline int32 delay_at_frac(const simple_delay* d, int32 n256)
{
    int32 n = n256 >> 8, frac = n256 & 255;
    int32 s0 = delay_at(d, n), s1 = delay_at(d, n + 1);
    return s0 + (int32)(((int64)(s1 - s0) * frac) >> 8);
}

static inline void delay_push(simple_delay* d, int32 v)
{
    d->buf[d->index] = v;
    if (++d->index >= d->size)
        d->index = 0;
}

static void do_chorus_stage(int32* buf, int32 count, InfoChorus* info)
{
    if (count == -1) {
        const double rate = out_rate();
        if (info->voices < 1)
            info->voices = 1;
        if (info->voices > 4)
            info->voices = 4;
        if (info->delay_ms < 0.1)
            info->delay_ms = 0.1;
        int32 size = (int32)(rate * (info->delay_ms + info->depth_ms) / 1000.0) + 4;
        set_delay(&info->lineL, size);
        set_delay(&info->lineR, size);
        for (int k = 0; k < 4; k++) {
            double phase = 360.0 * k / info->voices;
            info->lfoL[k].type = info->lfoR[k].type = -1;
            init_lfo(&info->lfoL[k], info->lfo_freq, LFO_SINE, phase);
            init_lfo(&info->lfoR[k], info->lfo_freq, LFO_SINE, phase + info->phase_diff);
        }
        // Offsets in 1/256 sample, kept one sample away from the write position and from
        // the end of the line.
        int32 off = (int32)(rate * info->delay_ms / 1000.0 * 256.0);
        int32 dep = (int32)(rate * info->depth_ms / 1000.0 * 256.0);
        if (off < 256)
            off = 256;
        if (off + dep > (size - 2) * 256)
            dep = (size - 2) * 256 - off;
        info->offseti = off;
        info->depthi = dep < 0 ? 0 : dep;
        info->feedbacki = fx_gain(info->feedback);
        info->dryi = fx_gain(info->dry);
        info->weti = fx_gain(info->wet);
        return;
    }
    if (count == -2) {
        free_delay(&info->lineL);
        free_delay(&info->lineR);
        return;
    }
    const int v = info->voices;
    for (int32 i = 0; i + 1 < count; i += 2) {
        int64 sumL = 0, sumR = 0;
        for (int k = 0; k < v; k++) {
            int32 offL = info->offseti + (int32)(((int64)lfo_value(&info->lfoL[k]) * info->depthi) >> 16);
            int32 offR = info->offseti + (int32)(((int64)lfo_value(&info->lfoR[k]) * info->depthi) >> 16);
            sumL += delay_at_frac(&info->lineL, offL);
            sumR += delay_at_frac(&info->lineR, offR);
            lfo_advance(&info->lfoL[k]);
            lfo_advance(&info->lfoR[k]);
        }
        int32 yl = (int32)(sumL / v), yr = (int32)(sumR / v);
        delay_push(&info->lineL, buf[i] + fx_mul(yl, info->feedbacki));
        delay_push(&info->lineR, buf[i + 1] + fx_mul(yr, info->feedbacki));
        buf[i] = fx_mul(buf[i], info->dryi) + fx_mul(yl, info->weti);
        buf[i + 1] = fx_mul(buf[i + 1], info->dryi) + fx_mul(yr, info->weti);
    }
}

// ---- multi-tap delays ----

static void do_delay_stage(int32* buf, int32 count, InfoDelay* info)
{
    if (count == -1) {
        const double rate = out_rate();
        const int32 size = (int32)(rate * info->max_ms / 1000.0) + 2;
        set_delay(&info->lineL, size);
        set_delay(&info->lineR, size);
        // A time beyond what the lines hold is cut to their length.
        for (int k = 0; k < 6; k++) {
            int32 n = (int32)lround(rate * info->ms[k] / 1000.0);
            info->tap[k] = n < 1 ? 1 : n > size ? size : n;
        }
        info->feedbacki = fx_gain(info->feedback);
        info->feedback_ri = fx_gain(info->feedback_r);
        info->level_ci = fx_gain(info->level_c);
        info->level2i = fx_gain(info->level2);
        double damp = info->high_damp < 0.1 ? 0.1 : info->high_damp > 1.0 ? 1.0 : info->high_damp;
        info->dampi = fx_gain(damp);
        info->dryi = fx_gain(info->dry);
        info->weti = fx_gain(info->wet);
        info->damp_stateL = info->damp_stateR = 0;
        return;
    }
    if (count == -2) {
        free_delay(&info->lineL);
        free_delay(&info->lineR);
        return;
    }
    simple_delay *L = &info->lineL, *R = &info->lineR;
    const int32* t = info->tap;
    for (int32 i = 0; i + 1 < count; i += 2) {
        int32 inl = buf[i], inr = buf[i + 1], outl, outr;
        switch (info->kind) {
        case DELAY_LCR: {
            int32 fb = delay_at(L, t[3]);
            info->damp_stateL += fx_mul(fb - info->damp_stateL, info->dampi);
            int32 c = fx_mul(delay_at(L, t[2]), info->level_ci);
            outl = delay_at(L, t[0]) + c;
            outr = delay_at(L, t[1]) + c;
            delay_push(L, (inl >> 1) + (inr >> 1) + fx_mul(info->damp_stateL, info->feedbacki));
            break;
        }
        case DELAY_LR: {
            info->damp_stateL += fx_mul(delay_at(L, t[2]) - info->damp_stateL, info->dampi);
            info->damp_stateR += fx_mul(delay_at(R, t[3]) - info->damp_stateR, info->dampi);
            outl = delay_at(L, t[0]);
            outr = delay_at(R, t[1]);
            delay_push(L, inl + fx_mul(info->damp_stateL, info->feedbacki));
            delay_push(R, inr + fx_mul(info->damp_stateR, info->feedbacki));
            break;
        }
        case DELAY_ECHO: {
            int32 e1l = delay_at(L, t[0]), e1r = delay_at(R, t[1]);
            info->damp_stateL += fx_mul(e1l - info->damp_stateL, info->dampi);
            info->damp_stateR += fx_mul(e1r - info->damp_stateR, info->dampi);
            outl = e1l + fx_mul(delay_at(L, t[2]), info->level2i);
            outr = e1r + fx_mul(delay_at(R, t[3]), info->level2i);
            delay_push(L, inl + fx_mul(info->damp_stateL, info->feedbacki));
            delay_push(R, inr + fx_mul(info->damp_stateR, info->feedback_ri));
            break;
        }
        default: {  // cross delay: the left line comes out right and the right line left
            outr = delay_at(L, t[0]);
            outl = delay_at(R, t[1]);
            info->damp_stateL += fx_mul(outl - info->damp_stateL, info->dampi);
            info->damp_stateR += fx_mul(outr - info->damp_stateR, info->dampi);
            int32 sl = info->input_select == 1 ? 0 : inl;
            int32 sr = info->input_select == 0 ? 0 : inr;
            delay_push(L, sl + fx_mul(info->damp_stateL, info->feedbacki));
            delay_push(R, sr + fx_mul(info->damp_stateR, info->feedbacki));
            break;
        }
        }
        buf[i] = fx_mul(inl, info->dryi) + fx_mul(outl, info->weti);
        buf[i + 1] = fx_mul(inr, info->dryi) + fx_mul(outr, info->weti);
    }
}

// ---- tremolo and auto pan ----

static void do_tremolo(int32* buf, int32 count, InfoTremolo* info)
{
    if (count == -1) {
        info->lfoL.type = info->lfoR.type = -1;
        init_lfo(&info->lfoL, info->lfo_freq, LFO_SINE, 0.0);
        init_lfo(&info->lfoR, info->lfo_freq, LFO_SINE, info->auto_pan ? 180.0 : info->phase_diff);
        double d = info->depth < 0.0 ? 0.0 : info->depth > 1.0 ? 1.0 : info->depth;
        info->depthi = fx_gain(d);
        return;
    }
    if (count < 0)
        return;
    for (int32 i = 0; i + 1 < count; i += 2) {
        // gain = 1 - depth x lfo (lfo 0..1)
        int32 gl = FX_ONE - (int32)(((int64)lfo_value(&info->lfoL) * info->depthi) >> 16);
        int32 gr = FX_ONE - (int32)(((int64)lfo_value(&info->lfoR) * info->depthi) >> 16);
        lfo_advance(&info->lfoL);
        lfo_advance(&info->lfoR);
        buf[i] = fx_mul(buf[i], gl);
        buf[i + 1] = fx_mul(buf[i + 1], gr);
    }
}

// ---- lo-fi ----

static void do_lofi(int32* buf, int32 count, InfoLoFi* info)
{
    if (count == -1) {
        if (info->hold < 1)
            info->hold = 1;
        info->bits = info->bits < 1 ? 1 : info->bits > 28 ? 28 : info->bits;
        if (info->pre_cutoff > 0.0)
            calc_filter_biquad(&info->pre, BIQUAD_LOW_PASS, info->pre_cutoff, 0.0, 0.707);
        if (info->post_cutoff > 0.0)
            calc_filter_biquad(&info->post, BIQUAD_LOW_PASS, info->post_cutoff, 0.0,
                               info->resonance > 0.1 ? info->resonance : 0.707);
        calc_filter_biquad(&info->noise_lpf, BIQUAD_LOW_PASS,
                           info->noise_cutoff > 0.0 ? info->noise_cutoff : out_rate() / 2, 0.0,
                           0.707);
        double l, r;
        effect_pan_gains(info->pan, &l, &r);
        info->leveli = fx_gain(info->level);
        info->leftgaini = fx_gain(l);
        info->rightgaini = fx_gain(r);
        info->noisei = (int32)(info->noise_level * 268435456.0 / 8.0);
        info->dryi = fx_gain(info->dry);
        info->weti = fx_gain(info->wet);
        info->counter = info->heldL = info->heldR = 0;
        return;
    }
    if (count < 0)
        return;
    const int32 mask = ~((int32)((1u << (28 - info->bits)) - 1u));
    for (int32 i = 0; i + 1 < count; i += 2) {
        int32 l = buf[i], r = buf[i + 1];
        if (info->pre_cutoff > 0.0) {
            l = do_filter_biquad_left(l, &info->pre);
            r = do_filter_biquad_right(r, &info->pre);
        }
        if (info->counter == 0) {
            info->heldL = l & mask;
            info->heldR = r & mask;
        }
        if (++info->counter >= info->hold)
            info->counter = 0;
        l = info->heldL;
        r = info->heldR;
        if (info->noise_type != 0) {
            float n = info->noise_type == 2 ? get_pink_noise_light(&global_pink_noise_light)
                                            : get_white_noise();
            int32 ns = do_filter_biquad_left((int32)(n * info->noisei), &info->noise_lpf);
            l += ns;
            r += ns;
        }
        if (info->post_cutoff > 0.0) {
            l = do_filter_biquad_left(l, &info->post);
            r = do_filter_biquad_right(r, &info->post);
        }
        l = fx_mul(fx_mul(l, info->leveli), info->leftgaini);
        r = fx_mul(fx_mul(r, info->leveli), info->rightgaini);
        buf[i] = fx_mul(buf[i], info->dryi) + fx_mul(l, info->weti);
        buf[i + 1] = fx_mul(buf[i + 1], info->dryi) + fx_mul(r, info->weti);
    }
}

size_t effect_stage_size(int type)
{
    switch (type) {
    case EFFECT_EQ2: return sizeof(InfoEQ2);
    case EFFECT_EQ3: return sizeof(InfoEQ3);
    case EFFECT_STEREO_EQ: return sizeof(InfoStereoEQ);
    case EFFECT_DRIVE: return sizeof(InfoDrive);
    case EFFECT_CHORUS: return sizeof(InfoChorus);
    case EFFECT_DELAY: return sizeof(InfoDelay);
    case EFFECT_TREMOLO: return sizeof(InfoTremolo);
    case EFFECT_LOFI: return sizeof(InfoLoFi);
    default: return 0;
    }
}

void do_effect_stage(int32* buf, int32 count, EffectList* ef)
{
    if (ef->info == nullptr)
        return;
    switch (ef->type) {
    case EFFECT_EQ2: do_eq2(buf, count, (InfoEQ2*)ef->info); break;
    case EFFECT_EQ3: do_eq3(buf, count, (InfoEQ3*)ef->info); break;
    case EFFECT_STEREO_EQ: do_stereo_eq(buf, count, (InfoStereoEQ*)ef->info); break;
    case EFFECT_DRIVE: do_drive(buf, count, (InfoDrive*)ef->info); break;
    case EFFECT_CHORUS: do_chorus_stage(buf, count, (InfoChorus*)ef->info); break;
    case EFFECT_DELAY: do_delay_stage(buf, count, (InfoDelay*)ef->info); break;
    case EFFECT_TREMOLO: do_tremolo(buf, count, (InfoTremolo*)ef->info); break;
    case EFFECT_LOFI: do_lofi(buf, count, (InfoLoFi*)ef->info); break;
    default: break;
    }
}
