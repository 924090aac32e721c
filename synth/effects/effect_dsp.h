// Building blocks of the effects: fixed-point gains, delay lines, one-pole and biquad filters,
// the low-frequency oscillator and the pink-noise generator. Gains are kept as doubles and as
// fixed values with 24 fraction bits (Q24); the per-sample work uses only the fixed values.
// Sample values are in the mix's 32-bit scale (2^28 is full scale), called "mix scale" below.
#ifndef CORVELLE_EFFECTS_EFFECT_DSP_H
#define CORVELLE_EFFECTS_EFFECT_DSP_H

#include "sysdep.h"

#define FX_ONE 16777216  // 1.0 as a fixed gain

// A double gain as a fixed value (truncated).
inline int32 fx_gain(double g)
{
    return (int32)(g * 16777216.0);
}

// A sample times a fixed gain: a 64-bit product scaled down by 2^24, cut toward zero so that
// a signal recirculating through gains below 1 dies away to exactly 0 (a shift would round
// negative values down and keep a small offset circulating for ever).
inline int32 fx_mul(int32 x, int32 g)
{
    return (int32)(((int64)x * g) / FX_ONE);
}

// Keeps a value in lo..hi.
inline int32 fx_clip(int32 v, int32 lo, int32 hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

// ---- delay lines ----

struct simple_delay {
    int32* buf;   // the ring, size values in mix scale
    int32 size;   // length, samples
    int32 index;  // next position written (and, for a plain delay, read), 0..size - 1
};

// Frees the old buffer and allocates size zeroed samples (at least 1), index 0.
void set_delay(simple_delay* d, int32 size);
void free_delay(simple_delay* d);
// Zeroes the buffer and the index.
void init_delay(simple_delay* d);

// ---- one-pole low-pass on both sides of an interleaved stereo buffer ----

struct filter_lowpass1 {
    double a;        // coefficient 0..1
    int32 ai, iai;   // a and 1 - a, Q24
    int32 x1l, x1r;  // the previous output of each side, mix scale
};

// Sets the coefficient (limited to 0..1) and clears the state.
void init_filter_lowpass1(filter_lowpass1* p, double a);
void do_filter_lowpass1_stereo(int32* buf, int32 count, filter_lowpass1* p);
// The pre-filter of the GS reverb, chorus and delay: 0 off, 1..7 down to 200 Hz.
void init_pre_lpf(filter_lowpass1* p, int pre_lpf);

// ---- biquad filters (stereo state) ----

enum {
    BIQUAD_LOW_SHELF = 0,
    BIQUAD_HIGH_SHELF,
    BIQUAD_PEAKING,
    BIQUAD_LOW_PASS,
    BIQUAD_HIGH_PASS
};

struct filter_biquad {
    int kind;
    double freq, gain, q;      // Hz, dB, quality (shelf slope for shelves)
    int32 b0, b1, b2, a1, a2;  // coefficients divided by a0, Q24
    int32 x1l, x2l, y1l, y2l, x1r, x2r, y1r, y2r;  // last two inputs and outputs per side, mix scale
};

// Computes the coefficients for the output rate (the frequency is kept below half the rate)
// and clears the state.
void calc_filter_biquad(filter_biquad* f, int kind, double freq, double gain, double q);
void do_filter_biquad_stereo(int32* buf, int32 count, filter_biquad* f);
// One sample through the left state.
int32 do_filter_biquad_left(int32 x, filter_biquad* f);
int32 do_filter_biquad_right(int32 x, filter_biquad* f);

// ---- low-frequency oscillator ----

enum { LFO_NONE = 0, LFO_SINE, LFO_TRIANGULAR };

struct lfo {
    int32 buf[1024];  // (w + 1) / 2 x 65536: the waveform w over one cycle, 0..65536
    int32 count;      // samples into the cycle, 0..cycle - 1
    int32 cycle;      // length of a cycle, samples
    int64 icycle;     // table step per sample, Q24
    int type;         // the waveform of buf (-1: not built)
    double freq;      // Hz
};

// freq Hz (at least 0.05), waveform type, phase in degrees; the table is rebuilt only when
// the waveform changes. l->type must be -1 before the first call.
void init_lfo(lfo* l, double freq, int type, double phase);
// The table value at the current count (0..65536).
inline int32 lfo_value(const lfo* l)
{
    return l->buf[((int64)l->count * l->icycle) >> 24];
}
inline void lfo_advance(lfo* l)
{
    if (++l->count >= l->cycle)
        l->count = 0;
}

// ---- pink noise (white noise through a bank of one-pole filters) ----

struct pink_noise {
    float b0, b1, b2, b3, b4, b5, b6;  // the one-pole filters' states, roughly -1..1
};

extern pink_noise global_pink_noise_light;
void init_pink_noise(pink_noise* p);
// A pink-noise value, roughly -1..1.
float get_pink_noise_light(pink_noise* p);
// A white-noise value in -1..1.
float get_white_noise(void);

#endif
