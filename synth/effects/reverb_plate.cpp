// The plate reverb of GS reverb character 5: the send's mono sum passes a pre-delay, a
// bandwidth filter and four input diffusers into a figure-of-eight tank of two branches
// (modulated allpass, delay, damping, decay, allpass, delay), and each side of the output is
// taken from seven taps of the tank. Lengths are given at 29761 Hz and scaled to the output
// rate.
#include <cmath>

#include "effects/effect.h"
#include "output/output.h"

plate_reverb plate_reverb_status = [] {
    plate_reverb r{};
    r.mod.type = -1;
    return r;
}();

static const int32 in_ap_len[4] = {142, 107, 379, 277};
static const int32 tank_ap1_len[2] = {672, 908};
static const int32 tank_dl1_len[2] = {4453, 4217};
static const int32 tank_ap2_len[2] = {1800, 2656};
static const int32 tank_dl2_len[2] = {3720, 3163};
// Output taps: line (0 dl1, 1 ap2, 2 dl2), branch, offset, sign; seven per side.
static const struct {
    int line, branch;
    int32 offset;
    int sign;
} taps[2][7] = {
    {{0, 1, 266, 1}, {0, 1, 2974, 1}, {1, 1, 1913, -1}, {2, 1, 1996, 1},
     {0, 0, 1990, -1}, {1, 0, 187, -1}, {2, 0, 1066, -1}},
    {{0, 0, 353, 1}, {0, 0, 3627, 1}, {1, 0, 1228, -1}, {2, 0, 2673, 1},
     {0, 1, 2111, -1}, {1, 1, 335, -1}, {2, 1, 121, -1}},
};

static double rate_scale(void)
{
    double r = (play_mode != nullptr && play_mode->rate > 0) ? play_mode->rate : 44100;
    return r / 29761.0;
}

static int32 scaled(int32 len)
{
    int32 n = (int32)lround(len * rate_scale());
    return n < 1 ? 1 : n;
}

// The sample written k samples ago (k below the line's size).
static inline int32 tap_at(const simple_delay* d, int32 k)
{
    int32 i = d->index - 1 - k;
    while (i < 0)
        i += d->size;
    return d->buf[i];
}

static inline void push(simple_delay* d, int32 v)
{
    d->buf[d->index] = v;
    if (++d->index >= d->size)
        d->index = 0;
}

// An allpass of coefficient g on a line: v = x - g x out; y = out + g x v.
static inline int32 allpass(simple_delay* d, int32 x, int32 g)
{
    int32 out = d->buf[d->index];
    int32 v = x - fx_mul(out, g);
    push(d, v);
    return out + fx_mul(v, g);
}

// The modulated allpass: the output is read 0..2 x excursion samples early, interpolated.
static inline int32 allpass_mod(simple_delay* d, int32 x, int32 g, int32 offset256)
{
    int32 whole = offset256 >> 8, frac = offset256 & 255;
    int32 i0 = d->index + whole, i1 = i0 + 1;
    while (i0 >= d->size)
        i0 -= d->size;
    while (i1 >= d->size)
        i1 -= d->size;
    int32 out = d->buf[i0] + (int32)(((int64)(d->buf[i1] - d->buf[i0]) * frac) >> 8);
    int32 v = x - fx_mul(out, g);
    push(d, v);
    return out + fx_mul(v, g);
}

static const simple_delay* tap_line(const plate_reverb* rev, int side, int j)
{
    const int b = taps[side][j].branch;
    switch (taps[side][j].line) {
    case 0: return &rev->tank_dl1[b];
    case 1: return &rev->tank_ap2[b];
    default: return &rev->tank_dl2[b];
    }
}

static void init_plate_reverb(plate_reverb* rev)
{
    const reverb_status_gs_t& st = reverb_status_gs;
    const double r = rate_scale() * 29761.0;
    set_delay(&rev->pre, (int32)(r * st.pre_delay_time / 1000.0));
    for (int k = 0; k < 4; k++)
        set_delay(&rev->in_ap[k], scaled(in_ap_len[k]));
    rev->excursion = scaled(16);
    for (int b = 0; b < 2; b++) {
        set_delay(&rev->tank_ap1[b], scaled(tank_ap1_len[b]) + 2 * rev->excursion + 2);
        set_delay(&rev->tank_dl1[b], scaled(tank_dl1_len[b]));
        set_delay(&rev->tank_ap2[b], scaled(tank_ap2_len[b]));
        set_delay(&rev->tank_dl2[b], scaled(tank_dl2_len[b]));
        rev->damp_state[b] = rev->tank_out[b] = 0;
    }
    rev->bw_state = 0;
    init_lfo(&rev->mod, 1.0, LFO_SINE, 0.0);
    for (int side = 0; side < 2; side++) {
        for (int j = 0; j < 7; j++) {
            const simple_delay* line = tap_line(rev, side, j);
            int32 k = scaled(taps[side][j].offset);
            rev->tap[side * 7 + j] = k < line->size ? k : line->size - 1;
        }
    }

    // One pass around a branch lasts this long; the decay brings the tank down 60 dB in
    // the reverb time of the character.
    const double T = gs_revchar_to_rt(st.character) * reverb_time_table[st.time & 0x7f];
    const double branch = (tank_ap1_len[0] + tank_dl1_len[0] + tank_ap2_len[0] +
                           tank_dl2_len[0]) / 29761.0;
    double decay = pow(10.0, -3.0 * branch / T);
    if (decay > 0.95)
        decay = 0.95;
    rev->decayi = fx_gain(decay);
    rev->bwi = fx_gain(0.9995);
    rev->ibwi = fx_gain(1.0 - 0.9995);
    rev->dampi = fx_gain(0.0005);
    rev->idampi = fx_gain(1.0 - 0.0005);
    rev->in_diff1i = fx_gain(0.75);
    rev->in_diff2i = fx_gain(0.625);
    rev->dec_diff1i = fx_gain(0.7);
    rev->dec_diff2i = fx_gain(0.5);
    rev->wet_level = (double)st.level / 127.0 * gs_revchar_to_level(st.character) * 0.125;
    rev->weti = fx_gain(0.6);
}

static void free_plate_reverb(plate_reverb* rev)
{
    free_delay(&rev->pre);
    for (simple_delay& d : rev->in_ap)
        free_delay(&d);
    for (int b = 0; b < 2; b++) {
        free_delay(&rev->tank_ap1[b]);
        free_delay(&rev->tank_dl1[b]);
        free_delay(&rev->tank_ap2[b]);
        free_delay(&rev->tank_dl2[b]);
    }
}

void do_ch_plate_reverb(int32* buf, int32 count, plate_reverb* rev)
{
    if (count == -1) {
        init_plate_reverb(rev);
        return;
    }
    if (count == -2) {
        free_plate_reverb(rev);
        return;
    }
    if (rev->pre.buf == nullptr)
        init_plate_reverb(rev);
    if (count > EFFECT_BUFFER_SIZE)
        count = EFFECT_BUFFER_SIZE;
    int32* send = reverb_effect_buffer;
    const int32 exc256 = rev->excursion << 8;
    for (int32 i = 0; i + 1 < count; i += 2) {
        int32 in = (send[i] >> 1) + (send[i + 1] >> 1);
        send[i] = send[i + 1] = 0;
        int32 x = rev->pre.buf[rev->pre.index];
        push(&rev->pre, in);
        rev->bw_state = fx_mul(x, rev->bwi) + fx_mul(rev->bw_state, rev->ibwi);
        x = rev->bw_state;
        x = allpass(&rev->in_ap[0], x, rev->in_diff1i);
        x = allpass(&rev->in_ap[1], x, rev->in_diff1i);
        x = allpass(&rev->in_ap[2], x, rev->in_diff2i);
        x = allpass(&rev->in_ap[3], x, rev->in_diff2i);

        // Both branches read the other's output of the previous sample.
        int32 mod = (int32)(((int64)lfo_value(&rev->mod) * exc256) >> 15);  // 0..2 x excursion
        lfo_advance(&rev->mod);
        int32 fed[2] = {x + fx_mul(rev->tank_out[1], rev->decayi),
                        x + fx_mul(rev->tank_out[0], rev->decayi)};
        for (int b = 0; b < 2; b++) {
            int32 offset = b == 0 ? mod : 2 * exc256 - mod;
            int32 y = allpass_mod(&rev->tank_ap1[b], fed[b], -rev->dec_diff1i, offset);
            int32 d1 = rev->tank_dl1[b].buf[rev->tank_dl1[b].index];
            push(&rev->tank_dl1[b], y);
            rev->damp_state[b] = fx_mul(d1, rev->idampi) + fx_mul(rev->damp_state[b], rev->dampi);
            y = fx_mul(rev->damp_state[b], rev->decayi);
            y = allpass(&rev->tank_ap2[b], y, rev->dec_diff2i);
            rev->tank_out[b] = rev->tank_dl2[b].buf[rev->tank_dl2[b].index];
            push(&rev->tank_dl2[b], y);
        }

        for (int side = 0; side < 2; side++) {
            int32 acc = 0;
            for (int j = 0; j < 7; j++)
                acc += taps[side][j].sign * tap_at(tap_line(rev, side, j), rev->tap[side * 7 + j]);
            buf[i + side] += fx_mul(acc, rev->weti);
        }
    }
}
