// Noise shaping of the 32-bit mix before it is cut to 8 or 16 bits: error-feedback filters
// that push the quantisation error toward high frequencies, two soft clippers, and a
// ninth-order shaper with dither for 16-bit output.
#include <cmath>
#include <cstring>

#include "effects/effect.h"
#include "effects/noise_shaping.h"
#include "frontend/mt19937.h"
#include "frontend/options.h"
#include "output/output.h"
#include "render/cpu_features.h"

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
        for (int k = 0; k < 9; k++)
            ns9_c[k] = (int32)ns9_coef[k];
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

// One sample of the ninth-order shaper: the weighted sum of the last nine errors (newest
// first, each product scaled down on its own) is taken off the limited sample x, the low 13
// bits are cut, the dither is added, and the new error replaces the oldest, e8.
static inline int32 ns9_step(int32 x, int32 dither, int64 e0, int64 e1, int64 e2, int64 e3,
                             int64 e4, int64 e5, int64 e6, int64 e7, int64& e8)
{
    const int64 acc = ((ns9_coef[8] * e8) >> 24) + ((ns9_coef[7] * e7) >> 24) +
                      ((ns9_coef[6] * e6) >> 24) + ((ns9_coef[5] * e5) >> 24) +
                      ((ns9_coef[4] * e4) >> 24) + ((ns9_coef[3] * e3) >> 24) +
                      ((ns9_coef[2] * e2) >> 24) + ((ns9_coef[1] * e1) >> 24) +
                      ((ns9_coef[0] * e0) >> 24);
    const int32 y = (int32)(x - acc);
    const int32 out = (y & ~8191) + dither;
    e8 = out - y;
    return out;
}

// The shaper on one side of n samples, already limited, `stride` apart (2 for one side of an
// interleaved pair, 1 for mono); dither is laid out like buf. The history is kept as entry p
// at index p - 1 and p + 8 of h, position *pos counting 9, 8, ..., 1, 9, ...; the loop keeps
// it in nine locals and writes it back in that form. Nine samples a turn, each writing its
// error over the oldest, so that the nine names come round to their places without moving a
// value.
template <int stride>
static void ns9_side(int32* buf, int32 n, const int32* dither, int32* h, int32* pos)
{
    const int32* hp = h + (*pos - 1);
    int64 e0 = hp[0], e1 = hp[1], e2 = hp[2], e3 = hp[3], e4 = hp[4], e5 = hp[5], e6 = hp[6],
          e7 = hp[7], e8 = hp[8];
    int32 i = 0;
    for (; i + 9 <= n; i += 9) {
        int32* b = buf + i * stride;
        const int32* d = dither + i * stride;
        b[0] = ns9_step(b[0], d[0], e0, e1, e2, e3, e4, e5, e6, e7, e8);
        b[stride] = ns9_step(b[stride], d[stride], e8, e0, e1, e2, e3, e4, e5, e6, e7);
        b[2 * stride] = ns9_step(b[2 * stride], d[2 * stride], e7, e8, e0, e1, e2, e3, e4, e5, e6);
        b[3 * stride] = ns9_step(b[3 * stride], d[3 * stride], e6, e7, e8, e0, e1, e2, e3, e4, e5);
        b[4 * stride] = ns9_step(b[4 * stride], d[4 * stride], e5, e6, e7, e8, e0, e1, e2, e3, e4);
        b[5 * stride] = ns9_step(b[5 * stride], d[5 * stride], e4, e5, e6, e7, e8, e0, e1, e2, e3);
        b[6 * stride] = ns9_step(b[6 * stride], d[6 * stride], e3, e4, e5, e6, e7, e8, e0, e1, e2);
        b[7 * stride] = ns9_step(b[7 * stride], d[7 * stride], e2, e3, e4, e5, e6, e7, e8, e0, e1);
        b[8 * stride] = ns9_step(b[8 * stride], d[8 * stride], e1, e2, e3, e4, e5, e6, e7, e8, e0);
    }
    for (; i < n; i++) {
        buf[i * stride] =
            ns9_step(buf[i * stride], dither[i * stride], e0, e1, e2, e3, e4, e5, e6, e7, e8);
        const int64 newest = e8;
        e8 = e7;
        e7 = e6;
        e6 = e5;
        e5 = e4;
        e4 = e3;
        e3 = e2;
        e2 = e1;
        e1 = e0;
        e0 = newest;
    }
    // Written back at position 9: entries 1..9 hold e1..e8, e0 at both of its places.
    const int32 e[9] = {(int32)e0, (int32)e1, (int32)e2, (int32)e3, (int32)e4,
                        (int32)e5, (int32)e6, (int32)e7, (int32)e8};
    for (int k = 0; k < 9; k++)
        h[8 + k] = e[k];
    for (int k = 1; k < 9; k++)
        h[k - 1] = e[k];
    h[17] = (int32)e0;
    *pos = 9;
}

void ns9_both_scalar(int32* buf, int32 n, const int32* dither, int32* hl, int32* pl, int32* hr,
                     int32* pr)
{
    ns9_side<2>(buf, n, dither, hl, pl);
    ns9_side<2>(buf + 1, n, dither + 1, hr, pr);
}

bool ns9_both_vector(void)
{
    return cpu_has.avx2;
}

void ns9_limit_scalar(int32* buf, int32 n)
{
    for (int32 i = 0; i < n; i++)
        buf[i] = limit(buf[i]);
}

void ns9_dither_scalar(int32* d, const uint32* r, int32 n, int stride)
{
    for (int32 i = 0; i < n; i++)
        d[i] = (int32)((r[i] - r[i - stride]) >> 30);
}

// The random values are drawn left, right, left, ... as the samples come, then each side
// runs on its own.
#define NS9_CHUNK 2048

void ns_shaping16_9(int32* buf, int32 samples)
{
    uint32 r[2 + NS9_CHUNK];
    int32 d[NS9_CHUNK];
    for (int32 at = 0; at + 1 < samples; at += NS9_CHUNK) {
        int32 n = (samples - at) / 2;
        if (n > NS9_CHUNK / 2)
            n = NS9_CHUNK / 2;
        r[0] = ns9_r1l;
        r[1] = ns9_r1r;
        genrand_int32_fill(r + 2, 2 * n);
        if (cpu_has.sse2) {
            ns9_dither_sse2(d, r + 2, 2 * n, 2);
            ns9_limit_sse2(buf + at, 2 * n);
        } else {
            ns9_dither_scalar(d, r + 2, 2 * n, 2);
            ns9_limit_scalar(buf + at, 2 * n);
        }
        if (ns9_both_vector())
            ns9_both_avx2(buf + at, n, d, ns9_ehl, &ns9_histposl, ns9_ehr, &ns9_histposr);
        else
            ns9_both_scalar(buf + at, n, d, ns9_ehl, &ns9_histposl, ns9_ehr, &ns9_histposr);
        ns9_r1l = r[2 * n];
        ns9_r2l = r[2 * n - 2];
        ns9_r1r = r[2 * n + 1];
        ns9_r2r = r[2 * n - 1];
    }
}

// Mono output keeps one history: every sample is the left channel's.
static void ns_shaping16_9_mono(int32* buf, int32 samples)
{
    uint32 r[1 + NS9_CHUNK];
    int32 d[NS9_CHUNK];
    for (int32 at = 0; at < samples; at += NS9_CHUNK) {
        const int32 n = samples - at < NS9_CHUNK ? samples - at : NS9_CHUNK;
        r[0] = ns9_r1l;
        genrand_int32_fill(r + 1, n);
        if (cpu_has.sse2) {
            ns9_dither_sse2(d, r + 1, n, 1);
            ns9_limit_sse2(buf + at, n);
        } else {
            ns9_dither_scalar(d, r + 1, n, 1);
            ns9_limit_scalar(buf + at, n);
        }
        ns9_side<1>(buf + at, n, d, ns9_ehl, &ns9_histposl);
        ns9_r1l = r[n];
        ns9_r2l = r[n - 1];
    }
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
