// The state-variable low-pass filter of a voice in 24-bit fixed point, and four of them side by
// side. The scalar form defines the result (voice_filter.cpp); the AVX2 form gives the same
// values bit for bit (voice_filter_avx2.cpp); svf4_vector tells which one the voice filters
// take.
#ifndef CORVELLE_RENDER_FILTER_KERNELS_H
#define CORVELLE_RENDER_FILTER_KERNELS_H

#include "sysdep.h"

// a * b with 24 fraction bits in b: bits 24 to 55 of the 64-bit product.
static inline int32 mul24(int32 a, int32 b)
{
    return (int32)(((int64)a * b) >> 24);
}

// One sample: low += f band, high = x - low - q band, band += f high (products by mul24,
// sums wrapping at 32 bits); the output is low.
static inline int32 svf_step(int32 x, int32& low, int32& high, int32& band, int32 f, int32 q)
{
    low += mul24(f, band);
    high = x - low - mul24(q, band);
    band += mul24(f, high);
    return low;
}

// For each filter k < 4 and i < n: out[k][i] = svf_step(in[k][i], s[k][0], s[k][1], s[k][2],
// f[k], q[k]), the states s[k] = {low, high, band} left where the last step put them.
void svf4_scalar(int32* const* s, const int32* f, const int32* q, const int32* const* in,
                 int32* const* out, int32 n);
void svf4_avx2(int32* const* s, const int32* f, const int32* q, const int32* const* in,
               int32* const* out, int32 n);

// True when the voice filters run four state-variable filters at once with svf4_avx2.
bool svf4_vector(void);

// The two-pole low-pass of SoundFont voices (trapezoidal integrators) in single precision, as
// a state-space step whose two states each wait for one product and two sums per sample. With
// g = tan(pi cutoff / rate), k = 1 / Q, a1 = 1 / (1 + g (g + k)), a2 = g a1, a3 = g a2:
// c1 = 2 a1 - 1, c2 = 2 a2, d2 = 2 a3, e2 = 1 - 2 a3.
struct TwoPoleCoefs {
    float a2, a3, c1, c2, d2, e2;
};

// The coefficients for a cutoff (Hz, below half the rate) and a resonance (dB: the gain at the
// cutoff is 10^(dB / 20), that is Q).
TwoPoleCoefs two_pole_coefs(double cutoff, double reso_db, double rate);

// Largest magnitude the two-pole filter hands on (the largest float below 2^31), so that a
// resonance at its top keeps the value within 32 bits.
#define TWO_POLE_HELD 2147483520.0f

// One sample: the output is (s2 + a2 s1) + a3 (x - s2), held within TWO_POLE_HELD and cut
// toward zero; then s1 = (c2 x - c2 s2) + c1 s1 and s2 = (d2 x + c2 s1) + e2 s2, from the
// old states.
static inline int32 two_pole_step(int32 x, float& s1, float& s2, const TwoPoleCoefs& c)
{
    const float xf = (float)x;
    float y = (s2 + c.a2 * s1) + c.a3 * (xf - s2);
    const float n1 = (c.c2 * xf - c.c2 * s2) + c.c1 * s1;
    s2 = (c.d2 * xf + c.c2 * s1) + c.e2 * s2;
    s1 = n1;
    y = y < TWO_POLE_HELD ? y : TWO_POLE_HELD;
    y = y > -TWO_POLE_HELD ? y : -TWO_POLE_HELD;
    return (int32)y;
}

// For each filter k < lanes and i < n: out[k][i] = two_pole_step(in[k][i], s[k][0], s[k][1],
// c[k]), the states left where the last step put them. The vector forms take 4 and 8 lanes.
void two_pole_scalar(int lanes, float* const* s, const TwoPoleCoefs* c, const int32* const* in,
                     int32* const* out, int32 n);
void two_pole4_sse2(float* const* s, const TwoPoleCoefs* c, const int32* const* in,
                    int32* const* out, int32 n);
void two_pole8_avx2(float* const* s, const TwoPoleCoefs* c, const int32* const* in,
                    int32* const* out, int32 n);

// The end of a vector form: each filter's states back from the lanes (v1, v2), and its values
// from i to n by the scalar form.
static inline void two_pole_lanes_finish(int lanes, float* const* s, const float* v1,
                                         const float* v2, const TwoPoleCoefs* c,
                                         const int32* const* in, int32* const* out, int32 i,
                                         int32 n)
{
    for (int k = 0; k < lanes; k++) {
        s[k][0] = v1[k];
        s[k][1] = v2[k];
        const int32* ins[1] = {in[k] + i};
        int32* outs[1] = {out[k] + i};
        float* st[1] = {s[k]};
        two_pole_scalar(1, st, c + k, ins, outs, n - i);
    }
}

// The most two-pole filters the voice filters run at once: 8 with two_pole8_avx2, 4 with
// two_pole4_sse2, 2 side by side otherwise.
int two_pole_lanes(void);

#endif
