// Tables and conversions of effect parameters: reverb times, chorus delays, reverb character
// factors, GS delay times, XG frequencies, and the prime lengths of delay lines.
#include <cmath>

#include "effects/effect.h"
#include "effects/effect_tables.h"

// Reverb time in seconds for the GS reverb time parameter.
const float reverb_time_table[128] = {
    0.410349f, 0.420716f, 0.431322f, 0.442171f, 0.45327f, 0.464621f, 0.476232f, 0.488107f,
    0.500251f, 0.512669f, 0.525368f, 0.538353f, 0.551628f, 0.565201f, 0.579077f, 0.593262f,
    0.607762f, 0.622583f, 0.637731f, 0.653212f, 0.669034f, 0.685202f, 0.701724f, 0.718605f,
    0.735853f, 0.753474f, 0.771476f, 0.789866f, 0.808652f, 0.827839f, 0.847436f, 0.867451f,
    0.887891f, 0.908764f, 0.930078f, 0.951841f, 0.974061f, 0.996746f, 1.01991f, 1.04355f,
    1.06768f, 1.09231f, 1.11745f, 1.14311f, 1.16929f, 1.19601f, 1.22327f, 1.25109f,
    1.27948f, 1.30843f, 1.33797f, 1.36811f, 1.39885f, 1.4302f, 1.46218f, 1.49479f,
    1.52804f, 1.56196f, 1.59654f, 1.6318f, 1.66775f, 1.70439f, 1.74175f, 1.77984f,
    1.81866f, 1.85823f, 1.89855f, 1.93965f, 1.98153f, 2.02421f, 2.06769f, 2.112f,
    2.15714f, 2.20313f, 2.24997f, 2.29769f, 2.3463f, 2.3958f, 2.44622f, 2.49757f,
    2.54986f, 2.6031f, 2.65732f, 2.71251f, 2.76871f, 2.82592f, 2.88415f, 2.94343f,
    3.00377f, 3.06518f, 3.12767f, 3.19127f, 3.25599f, 3.32184f, 3.38885f, 3.45702f,
    3.52637f, 3.59692f, 3.66868f, 3.74168f, 3.81593f, 3.89144f, 3.96823f, 4.04632f,
    4.12573f, 4.20647f, 4.28856f, 4.37202f, 4.45686f, 4.54311f, 4.63077f, 4.71988f,
    4.81044f, 4.90248f, 4.99601f, 5.09106f, 5.18763f, 5.28576f, 5.38545f, 5.48672f,
    5.58961f, 5.69411f, 5.80026f, 5.90808f, 6.01757f, 6.12876f, 6.24168f, 6.35634f,
};

// Chorus pre-delay in milliseconds for the GS chorus delay parameter.
const float chorus_delay_time_table[128] = {
    0.0f, 0.0787402f, 0.15748f, 0.23622f, 0.314961f, 0.393701f, 0.472441f, 0.551181f,
    0.629921f, 0.708661f, 0.787402f, 0.866142f, 0.944882f, 1.02362f, 1.10236f, 1.1811f,
    1.25984f, 1.33858f, 1.41732f, 1.49606f, 1.5748f, 1.65354f, 1.73228f, 1.81102f,
    1.88976f, 1.9685f, 2.04724f, 2.12598f, 2.20472f, 2.28346f, 2.3622f, 2.44094f,
    2.51969f, 2.59843f, 2.67717f, 2.75591f, 2.83465f, 2.91339f, 2.99213f, 3.07087f,
    3.14961f, 3.22835f, 3.30709f, 3.38583f, 3.46457f, 3.54331f, 3.62205f, 3.70079f,
    3.77953f, 3.85827f, 3.93701f, 4.01575f, 4.09449f, 4.17323f, 4.25197f, 4.33071f,
    4.40945f, 4.48819f, 4.56693f, 4.64567f, 4.72441f, 4.80315f, 4.88189f, 4.96063f,
    5.03937f, 5.35621f, 5.67304f, 5.98988f, 6.30671f, 6.62355f, 6.94038f, 7.25722f,
    7.57405f, 7.89089f, 8.20772f, 8.52456f, 8.84139f, 9.15823f, 9.47507f, 9.7919f,
    10.1087f, 10.4256f, 10.7424f, 11.0592f, 11.3761f, 11.6929f, 12.0097f, 12.3266f,
    12.6434f, 12.9603f, 13.2771f, 13.5939f, 13.9108f, 14.2276f, 14.5444f, 14.8613f,
    15.1781f, 15.4949f, 15.8118f, 16.1286f, 16.4454f, 16.7623f, 17.0791f, 17.396f,
    17.7128f, 18.0296f, 18.3465f, 18.6633f, 18.9801f, 19.297f, 19.6138f, 19.9306f,
    20.2475f, 20.5643f, 20.8811f, 21.198f, 21.5148f, 21.8316f, 22.1485f, 22.4653f,
    22.7822f, 23.099f, 23.4158f, 23.7327f, 24.0495f, 24.3663f, 24.6832f, 25.0f,
};

double gs_revchar_to_rt(int character)
{
    switch (character) {
    case 0: return 0.516850262;
    case 1: return 1.004226004;
    case 2: return 0.691046825;
    case 3: return 0.893006004;
    case 5: return 0.538476488;
    default: return 1.0;
    }
}

double gs_revchar_to_level(int character)
{
    switch (character) {
    case 0: return 0.744025605;
    case 1: return 1.224309745;
    case 2: return 0.858592403;
    case 3: return 1.0471802;
    case 5: return 0.865335496;
    default: return 1.0;
    }
}

int32 next_prime(int32 n)
{
    for (;; n++) {
        if (n == 1 || n == 2)
            return n;
        if (n < 1 || n % 2 == 0)
            continue;
        int32 limit = (int32)lround(sqrt((double)n));
        bool prime = true;
        for (int32 d = 3; d <= limit; d += 2) {
            if (n % d == 0) {
                prime = false;
                break;
            }
        }
        if (prime)
            return n;
    }
}

double gs_delay_time_center_ms(int v)
{
    static const struct {
        int from;
        double ms, step;
    } segments[] = {{0, 0.0, 0.1},     {20, 2.0, 0.2},    {35, 5.0, 0.5},    {45, 10.0, 1.0},
                    {55, 20.0, 2.0},   {70, 50.0, 5.0},   {80, 100.0, 10.0}, {90, 200.0, 20.0},
                    {105, 500.0, 50.0}, {115, 1000.0, 0.0}};
    if (v < 1)
        return 0.1;
    if (v > 115)
        v = 115;
    int k = 0;
    while (k + 1 < (int)(sizeof(segments) / sizeof(segments[0])) && v >= segments[k + 1].from)
        k++;
    return segments[k].ms + (v - segments[k].from) * segments[k].step;
}

double gs_delay_time_ratio(int v)
{
    if (v < 1)
        v = 1;
    if (v > 120)
        v = 120;
    return v * 500.0 / 120.0 / 100.0;
}

// The third-octave frequencies of the XG equalisers and effects, for parameter values 0..60.
static const float eq_freq_table_xg[61] = {
    20,   22,   25,   28,   32,   36,   40,   45,   50,    56,    63,    70,    80,
    90,   100,  110,  125,  140,  160,  180,  200,  225,   250,   280,   315,   355,
    400,  450,  500,  560,  630,  700,  800,  900,  1000,  1100,  1200,  1400,  1600,
    1800, 2000, 2200, 2500, 2800, 3200, 3600, 4000, 4500,  5000,  5600,  6300,  7000,
    8000, 9000, 10000, 11000, 12000, 14000, 16000, 18000, 20000};

double eq_freq_xg(int v)
{
    if (v < 0)
        v = 0;
    if (v > 60)
        v = 60;
    return eq_freq_table_xg[v];
}

double xg_lfo_freq(int v)
{
    if (v < 0)
        v = 0;
    if (v > 127)
        v = 127;
    // The step doubles every 16 values above 64, reaching 39.7 Hz at 127.
    if (v <= 64)
        return v * 0.04238;
    double f = 64 * 0.04238, step = 0.0848;
    for (int i = 65; i <= v; i++) {
        if (i > 112)
            step = 1.83;
        else if (i > 96)
            step = 0.339;
        else if (i > 80)
            step = 0.1695;
        f += step;
    }
    return f;
}

double xg_delay_offset_ms(int v)
{
    if (v < 0)
        v = 0;
    if (v > 127)
        v = 127;
    return v <= 63 ? v * 0.1 : 6.3 + (v - 63) * (50.0 - 6.3) / 64.0;
}

double xg_eq_gain_db(int v)
{
    double g = v - 64;
    return g < -12 ? -12 : g > 12 ? 12 : g;
}

double gs_eq_gain_db(int v)
{
    double g = v - 64;
    return g < -12 ? -12 : g > 12 ? 12 : g;
}

int clip_param(int v)
{
    return v < 0 ? 0 : v > 127 ? 127 : v;
}
