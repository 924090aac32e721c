// Noise shaping of the 32-bit mix before it is cut to 8 or 16 bits: error-feedback filters
// that push the quantisation error toward high frequencies, two soft clippers, and a
// ninth-order shaper with dither for 16-bit output.
#include <cmath>
#include <cstring>

#include "effects/effect.h"
#include "frontend/mt19937.h"
#include "frontend/options.h"
#include "output/output.h"

#define NS_LIMIT 268435455  // just below 16-bit full scale in the mix

int32 ns_z0[4], ns_z1[4];
int32 ns9_c[9];
int32 ns9_ehl[18], ns9_ehr[18];
int32 ns9_histposl, ns9_histposr;
uint32 ns9_r1l, ns9_r2l, ns9_r1r, ns9_r2r;

static inline int32 limit(int32 x)
{
    return x > NS_LIMIT ? NS_LIMIT : x < -NS_LIMIT ? -NS_LIMIT : x;
}

void init_noise_shaping(void)
{
    memset(ns_z0, 0, sizeof(ns_z0));
    memset(ns_z1, 0, sizeof(ns_z1));
    if (play_mode != nullptr && (play_mode->encoding & PE_16BIT)) {
        static const float coef[9] = {2.412f, -3.370f, 3.937f, -4.174f, 3.353f,
                                      -2.205f, 1.281f, -0.569f, 0.0847f};
        for (int k = 0; k < 9; k++)
            ns9_c[k] = (int32)lrint((double)coef[k] * 16777216.0);
        memset(ns9_ehl, 0, sizeof(ns9_ehl));
        memset(ns9_ehr, 0, sizeof(ns9_ehr));
        ns9_histposl = ns9_histposr = 8;
        ns9_r1l = ns9_r2l = ns9_r1r = ns9_r2r = 0;
    }
}

// Error feedback with coefficients a on the state z (newest error first); bits low bits are
// cleared.
static inline int32 error_feedback(int32 x, int32* z, const int32* a, int bits)
{
    const int32 mask = (1 << bits) - 1;
    int64 y = (int64)limit(x) + (int64)a[0] * z[0] + (int64)a[1] * z[1] + (int64)a[2] * z[2] +
              (int64)a[3] * z[3];
    int32 y32 = (int32)y;
    z[3] = z[2];
    z[2] = z[1];
    z[1] = z[0];
    z[0] = y32 & mask;
    return y32 & ~mask;
}

static void ns_error_feedback(int32* buf, int32 samples, const int32* a, int bits, int mono)
{
    if (mono) {
        for (int32 i = 0; i < samples; i++)
            buf[i] = error_feedback(buf[i], ns_z0, a, bits);
        return;
    }
    for (int32 i = 0; i + 1 < samples; i += 2) {
        buf[i] = error_feedback(buf[i], ns_z0, a, bits);
        buf[i + 1] = error_feedback(buf[i + 1], ns_z1, a, bits);
    }
}

// 1.5 u - 0.5 u^3 with u = x / 2^28.
static void ns_soft_clip2(int32* buf, int32 samples)
{
    for (int32 i = 0; i < samples; i++) {
        int64 x = limit(buf[i]);
        int64 cube = (((x * x) >> 28) * x) >> 28;
        buf[i] = (int32)(x * 3 / 2 - cube / 2);
    }
}

// sign(u) (2 |u| - u^2).
static void ns_soft_clip3(int32* buf, int32 samples)
{
    for (int32 i = 0; i < samples; i++) {
        int64 x = limit(buf[i]);
        int64 a = x < 0 ? -x : x;
        int64 y = 2 * a - ((a * a) >> 28);
        buf[i] = (int32)(x < 0 ? -y : y);
    }
}

// One sample of the ninth-order shaper on a channel's history h, position *pos (9, 8, ...,
// 1, 9, ...; entry p is kept at index p - 1 and p + 8 so that nine consecutive entries from
// any position lie inside the 18 entries) and random registers r1, r2.
static inline int32 ns9_sample(int32 x, int32* h, int32* pos, uint32* r1, uint32* r2)
{
    *r2 = *r1;
    *r1 = genrand_int32();
    x = limit(x);
    const int32* hp = h + (*pos - 1);
    int64 acc = 0;
    for (int k = 0; k < 9; k++)
        acc += ((int64)ns9_c[k] * hp[k]) >> 24;
    int32 y = (int32)(x - acc);
    int32 out = (y & ~8191) + (int32)((uint32)(*r1 - *r2) >> 30);
    *pos = *pos == 1 ? 9 : *pos - 1;
    h[*pos - 1] = h[*pos + 8] = out - y;
    return out;
}

void ns_shaping16_9(int32* buf, int32 samples)
{
    for (int32 i = 0; i + 1 < samples; i += 2) {
        buf[i] = ns9_sample(buf[i], ns9_ehl, &ns9_histposl, &ns9_r1l, &ns9_r2l);
        buf[i + 1] = ns9_sample(buf[i + 1], ns9_ehr, &ns9_histposr, &ns9_r1r, &ns9_r2r);
    }
}

// Mono output keeps one history: every sample is the left channel's.
static void ns_shaping16_9_mono(int32* buf, int32 samples)
{
    for (int32 i = 0; i < samples; i++)
        buf[i] = ns9_sample(buf[i], ns9_ehl, &ns9_histposl, &ns9_r1l, &ns9_r2l);
}

void do_noise_shaping(int32* buf, int32 samples)
{
    static const int32 ns8_coef[4][4] = {{1, 0, 0, 0}, {-2, 1, 0, 0}, {3, -3, 1, 0}, {-4, 6, -4, 1}};
    static const int32 ns16_coef[4] = {-4, 6, -4, 1};
    if (play_mode == nullptr || noise_sharp_type < 1 || noise_sharp_type > 4)
        return;
    const int32 enc = play_mode->encoding;
    const int mono = (enc & PE_MONO) != 0;
    if (enc & (PE_24BIT | PE_ULAW | PE_ALAW))
        return;
    if (!(enc & PE_16BIT)) {
        ns_error_feedback(buf, samples, ns8_coef[noise_sharp_type - 1], 21, mono);
        return;
    }
    switch (noise_sharp_type) {
    case 1: ns_error_feedback(buf, samples, ns16_coef, 13, mono); break;
    case 2: ns_soft_clip2(buf, samples); break;
    case 3: ns_soft_clip3(buf, samples); break;
    default:
        if (mono)
            ns_shaping16_9_mono(buf, samples);
        else
            ns_shaping16_9(buf, samples);
        break;
    }
}
