// The damped comb and the allpass the comb-and-allpass reverb is made of, and the kernels that
// run them a block at a time. Every kernel has a scalar form that defines the result
// (reverb_comb.cpp) and vector forms that give the same ring values, filter stores, positions
// and outputs bit for bit: four filters to an SSE2 vector (reverb_comb_sse2.cpp), eight to an
// AVX2 one (reverb_comb_avx2.cpp). reverb_combs_form says which form a bank may take.
#ifndef CORVELLE_EFFECTS_REVERB_COMB_H
#define CORVELLE_EFFECTS_REVERB_COMB_H

#include "sysdep.h"

// A feedback comb with a one-pole low-pass in its loop.
struct freeverb_comb {
    int32* buf;                      // the ring, size values
    int32 filterstore;               // the low-pass's last output, sample scale
    int32 size;                      // length of the ring, samples
    int32 index;                     // next ring position read and written, 0..size - 1
    double feedback, damp1, damp2;   // feedback and the low-pass's two weights, 0..1
    int32 feedbacki, damp1i, damp2i; // the same, Q24
};

// A Schroeder allpass: the output is the delayed value minus the input.
struct freeverb_allpass {
    int32* buf;         // the ring, size values
    int32 size;         // length of the ring, samples
    int32 index;        // next ring position read and written, 0..size - 1
    double feedback;    // gain of the delayed value fed back, 0..1
    int32 feedbacki;    // the same, Q24
};

#define FREEVERB_COMBS 8
#define FREEVERB_ALLPASSES 4

// Frees the old ring and allocates size zeroed values (at least 1), position 0, store 0.
void set_freeverb_comb(freeverb_comb* c, int32 size);
void set_freeverb_allpass(freeverb_allpass* a, int32 size);
// Zeroes the ring.
void init_freeverb_comb(freeverb_comb* c);
void init_freeverb_allpass(freeverb_allpass* a);

// The forms a bank of filters runs in: a filter at a time, four to a vector (SSE2) or eight
// (AVX2).
enum freeverb_comb_form { FREEVERB_COMBS_SCALAR, FREEVERB_COMBS_SSE2, FREEVERB_COMBS_AVX2 };

// For each of the FREEVERB_COMBS combs c of left (and of right) and each input x[j], j < n:
// y = the ring value at the position, filterstore = fx_mul(y, damp2i) + fx_mul(filterstore,
// damp1i), the ring value becomes fx_mul(filterstore, feedbacki) + x[j], y is added to outL[j]
// (outR[j]) and the position moves on, turning at size. A position outside the ring starts at
// 0. The vector forms need every gain in 0..FX_ONE.
void reverb_combs_scalar(freeverb_comb* left, freeverb_comb* right, const int32* x, int32* outL,
                         int32* outR, int32 n);
void reverb_combs_sse2(freeverb_comb* left, freeverb_comb* right, const int32* x, int32* outL,
                       int32* outR, int32 n);
void reverb_combs_avx2(freeverb_comb* left, freeverb_comb* right, const int32* x, int32* outL,
                       int32* outR, int32 n);

// For each of the FREEVERB_ALLPASSES allpasses of left over x (of right over y) in turn, in
// place, each value v[j], j < n: d = the ring value at the position, the ring value becomes
// fx_mul(d, feedbacki) + v[j], v[j] becomes d - v[j], and the position moves on. The vector
// form needs every gain in 0..FX_ONE.
void reverb_allpasses_scalar(freeverb_allpass* left, freeverb_allpass* right, int32* x, int32* y,
                             int32 n);
void reverb_allpasses_sse2(freeverb_allpass* left, freeverb_allpass* right, int32* x, int32* y,
                           int32 n);

// The wet mix of n output pairs into the interleaved buffer b: b[2j] += fx_mul(L[j], wet1) +
// fx_mul(R[j], wet2), b[2j + 1] += fx_mul(R[j], wet1) + fx_mul(L[j], wet2). The vector form
// needs both gains in 0..FX_ONE.
void reverb_wet_mix_scalar(const int32* L, const int32* R, int32* b, int32 n, int32 wet1,
                           int32 wet2);
void reverb_wet_mix_sse2(const int32* L, const int32* R, int32* b, int32 n, int32 wet1,
                         int32 wet2);

// The widest form the processor offers for filters and wet gains like these (every gain in
// 0..FX_ONE, else the scalar form).
freeverb_comb_form reverb_combs_form(const freeverb_comb* left, const freeverb_comb* right,
                                     const freeverb_allpass* al, const freeverb_allpass* ar,
                                     int32 wet1, int32 wet2);

#endif
