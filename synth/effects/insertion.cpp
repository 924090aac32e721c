// The GS insertion effect and the XG insertion, variation and chorus effects: the known
// effect types with their names and default parameters, how the song's parameters become the
// records of the processing stages, and running the effects on their buffers.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "effects/effect_list.h"
#include "effects/effect_tables.h"
#include "frontend/controls.h"
#include "frontend/memory.h"

// ---- effect lists ----

EffectList* push_effect(EffectList* list, int type)
{
    size_t size = effect_stage_size(type);
    if (size == 0)
        return list;
    EffectList* ef = (EffectList*)safe_malloc(sizeof(EffectList));
    ef->type = type;
    ef->info = safe_malloc(size);
    memset(ef->info, 0, size);
    ef->next_ef = nullptr;
    if (list == nullptr)
        return ef;
    EffectList* last = list;
    while (last->next_ef != nullptr)
        last = last->next_ef;
    last->next_ef = ef;
    return list;
}

void free_effect_list(EffectList* list)
{
    while (list != nullptr) {
        EffectList* next = list->next_ef;
        do_effect_stage(nullptr, -2, list);
        free(list->info);
        free(list);
        list = next;
    }
}

void do_effect_list(int32* buf, int32 count, EffectList* list)
{
    for (EffectList* ef = list; ef != nullptr; ef = ef->next_ef)
        do_effect_stage(buf, count, ef);
}

// ---- parameter conversions ----

static double p127(int v)
{
    return clip_param(v) / 127.0;
}

// Pan 0..127 with 64 in the centre as 0..1.
static double pan_param(int v)
{
    return clip_param(v) / 128.0;
}

// XG feedback 1..127: -63..+63 percent, kept below 1.
static double xg_feedback(int v)
{
    return (clip_param(v) - 64) / 64.0 * 0.98;
}

// XG dry/wet 1..127: all dry .. all wet.
static double xg_wet(int v)
{
    return (clip_param(v) < 1 ? 0 : clip_param(v) - 1) / 126.0;
}

// GS mid frequency: 200 Hz and up in 24 steps an octave, at most 6300 Hz.
static double gs_mid_freq(int v)
{
    double f = 200.0 * pow(2.0, clip_param(v) / 24.0);
    return f > 6300.0 ? 6300.0 : f;
}

static double gs_q(int v)
{
    static const double q[5] = {0.5, 1.0, 2.0, 4.0, 9.0};
    return q[v < 0 ? 0 : v > 4 ? 4 : v];
}

// GS lo-fi filters: off, then lower and lower cutoffs.
static double gs_lofi_filter(int v)
{
    static const double f[6] = {0.0, 8000.0, 4000.0, 2000.0, 1000.0, 500.0};
    return f[v < 0 ? 0 : v > 5 ? 5 : v];
}

typedef void (*conv_gs_fn)(const int8* p, void* info);
typedef void (*conv_xg_fn)(const effect_xg_t* st, int system, void* info);

static void conv_gs_stereo_eq(const int8* p, void* v)
{
    InfoStereoEQ* info = (InfoStereoEQ*)v;
    info->low_freq = p[0] ? 400.0 : 200.0;
    info->low_gain = gs_eq_gain_db(p[1]);
    info->high_freq = p[2] ? 8000.0 : 4000.0;
    info->high_gain = gs_eq_gain_db(p[3]);
    info->m1_freq = gs_mid_freq(p[4]);
    info->m1_q = gs_q(p[5]);
    info->m1_gain = gs_eq_gain_db(p[6]);
    info->m2_freq = gs_mid_freq(p[7]);
    info->m2_q = gs_q(p[8]);
    info->m2_gain = gs_eq_gain_db(p[9]);
    info->level = p127(p[19]);
}

static void conv_gs_drive(const int8* p, InfoDrive* info, int kind)
{
    static const double amp_cutoff[4] = {3000.0, 5000.0, 4000.0, 3200.0};
    info->kind = kind;
    info->drive = p127(p[0]);
    info->cutoff = p[2] ? amp_cutoff[p[1] < 0 ? 0 : p[1] > 3 ? 3 : p[1]] : 0.0;
    info->level = p127(p[19]);
    info->pan = pan_param(p[18]);
    info->dry = 0.0;
    info->wet = 1.0;
}

static void conv_gs_overdrive(const int8* p, void* v)
{
    conv_gs_drive(p, (InfoDrive*)v, DRIVE_OVERDRIVE);
}

static void conv_gs_distortion(const int8* p, void* v)
{
    conv_gs_drive(p, (InfoDrive*)v, DRIVE_DISTORTION);
}

// The equaliser that follows most GS effects: low and high gain in parameters 17 and 18.
static void conv_gs_eq2(const int8* p, void* v)
{
    InfoEQ2* info = (InfoEQ2*)v;
    info->low_freq = 400.0;
    info->high_freq = 4000.0;
    info->low_gain = gs_eq_gain_db(p[16]);
    info->high_gain = gs_eq_gain_db(p[17]);
}

static void conv_gs_lofi1(const int8* p, void* v)
{
    static const int bits[9] = {15, 12, 10, 9, 8, 7, 6, 5, 4};
    InfoLoFi* info = (InfoLoFi*)v;
    info->pre_cutoff = gs_lofi_filter(p[0]);
    info->hold = 1;
    info->bits = bits[p[1] < 0 ? 0 : p[1] > 8 ? 8 : p[1]];
    info->post_cutoff = gs_lofi_filter(p[2]);
    info->level = p127(p[19]);
    info->pan = pan_param(p[18]);
    info->dry = 0.0;
    info->wet = 1.0;
}

static void conv_gs_lofi2(const int8* p, void* v)
{
    static const int hold[6] = {1, 2, 3, 4, 6, 8};
    InfoLoFi* info = (InfoLoFi*)v;
    info->hold = hold[p[0] < 0 ? 0 : p[0] > 5 ? 5 : p[0]];
    info->bits = 16;
    info->noise_type = p[3] ? 2 : 1;
    info->noise_cutoff = gs_lofi_filter(p[4]);
    info->noise_level = p127(p[5]);
    info->level = p127(p[19]);
    info->pan = pan_param(p[18]);
    effect_dry_wet(p127(p[15]), 0, &info->dry, &info->wet);
}

static void conv_gs_tremolo(const int8* p, void* v)
{
    InfoTremolo* info = (InfoTremolo*)v;
    info->lfo_freq = p127(p[1]) * 10.0;
    info->depth = p127(p[2]);
}

static void conv_gs_auto_pan(const int8* p, void* v)
{
    conv_gs_tremolo(p, v);
    ((InfoTremolo*)v)->auto_pan = 1;
}

static void conv_xg_eq_after(const effect_xg_t* st, int first, void* v)
{
    InfoEQ2* info = (InfoEQ2*)v;
    info->low_freq = eq_freq_xg(xg_effect_param(st, first));
    info->low_gain = xg_eq_gain_db(xg_effect_param(st, first + 1));
    info->high_freq = eq_freq_xg(xg_effect_param(st, first + 2));
    info->high_gain = xg_eq_gain_db(xg_effect_param(st, first + 3));
}

// Equalisers after the effect: parameters 13..16 (delays), 6..9 (choruses), 5..8 (tremolo).
static void conv_xg_eq_13(const effect_xg_t* st, int, void* v)
{
    conv_xg_eq_after(st, 13, v);
}
static void conv_xg_eq_6(const effect_xg_t* st, int, void* v)
{
    conv_xg_eq_after(st, 6, v);
}
static void conv_xg_eq_5(const effect_xg_t* st, int, void* v)
{
    conv_xg_eq_after(st, 5, v);
}

// XG delay times are in 0.1 ms.
static double xg_ms(const effect_xg_t* st, int n)
{
    return xg_effect_param(st, n) / 10.0;
}

static void conv_xg_delay_common(const effect_xg_t* st, int system, InfoDelay* info, int kind,
                                 double max_ms)
{
    info->kind = kind;
    info->max_ms = max_ms;
    effect_dry_wet(xg_wet(xg_effect_param(st, 10)), system, &info->dry, &info->wet);
}

static void conv_xg_delay_lcr(const effect_xg_t* st, int system, void* v)
{
    InfoDelay* info = (InfoDelay*)v;
    conv_xg_delay_common(st, system, info, DELAY_LCR, 715.0);
    for (int k = 0; k < 4; k++)
        info->ms[k] = xg_ms(st, k + 1);
    info->feedback = xg_feedback(xg_effect_param(st, 5));
    info->level_c = p127(xg_effect_param(st, 6));
    info->high_damp = xg_effect_param(st, 7) / 10.0;
}

static void conv_xg_delay_lr(const effect_xg_t* st, int system, void* v)
{
    InfoDelay* info = (InfoDelay*)v;
    conv_xg_delay_common(st, system, info, DELAY_LR, 715.0);
    for (int k = 0; k < 4; k++)
        info->ms[k] = xg_ms(st, k + 1);
    info->feedback = xg_feedback(xg_effect_param(st, 5));
    info->high_damp = xg_effect_param(st, 6) / 10.0;
}

static void conv_xg_echo(const effect_xg_t* st, int system, void* v)
{
    InfoDelay* info = (InfoDelay*)v;
    conv_xg_delay_common(st, system, info, DELAY_ECHO, 355.0);
    info->ms[0] = xg_ms(st, 1);
    info->feedback = xg_feedback(xg_effect_param(st, 2));
    info->ms[1] = xg_ms(st, 3);
    info->feedback_r = xg_feedback(xg_effect_param(st, 4));
    info->high_damp = xg_effect_param(st, 5) / 10.0;
    info->ms[2] = xg_ms(st, 6);
    info->ms[3] = xg_ms(st, 7);
    info->level2 = p127(xg_effect_param(st, 8));
}

static void conv_xg_cross_delay(const effect_xg_t* st, int system, void* v)
{
    InfoDelay* info = (InfoDelay*)v;
    conv_xg_delay_common(st, system, info, DELAY_CROSS, 355.0);
    info->ms[0] = xg_ms(st, 1);
    info->ms[1] = xg_ms(st, 2);
    info->feedback = xg_feedback(xg_effect_param(st, 3));
    info->input_select = xg_effect_param(st, 4) > 2 ? 2 : xg_effect_param(st, 4);
    info->high_damp = xg_effect_param(st, 5) / 10.0;
}

static void conv_xg_chorus_kind(const effect_xg_t* st, int system, InfoChorus* info, int voices,
                                double max_depth_ms)
{
    info->lfo_freq = xg_lfo_freq(xg_effect_param(st, 1));
    info->depth_ms = p127(xg_effect_param(st, 2)) * max_depth_ms;
    info->feedback = xg_feedback(xg_effect_param(st, 3));
    info->delay_ms = xg_delay_offset_ms(xg_effect_param(st, 4));
    info->phase_diff = 90.0;
    info->voices = voices;
    effect_dry_wet(xg_wet(xg_effect_param(st, 10)), system, &info->dry, &info->wet);
}

static void conv_xg_chorus(const effect_xg_t* st, int system, void* v)
{
    conv_xg_chorus_kind(st, system, (InfoChorus*)v, 1, 6.0);
}

static void conv_xg_celeste(const effect_xg_t* st, int system, void* v)
{
    conv_xg_chorus_kind(st, system, (InfoChorus*)v, 3, 6.0);
}

static void conv_xg_flanger(const effect_xg_t* st, int system, void* v)
{
    InfoChorus* info = (InfoChorus*)v;
    conv_xg_chorus_kind(st, system, info, 1, 2.0);
    info->phase_diff = (clip_param(xg_effect_param(st, 14)) - 64) * 3.0;
}

static void conv_xg_symphonic(const effect_xg_t* st, int system, void* v)
{
    InfoChorus* info = (InfoChorus*)v;
    conv_xg_chorus_kind(st, system, info, 4, 6.0);
    info->feedback = 0.0;
    info->delay_ms = xg_delay_offset_ms(xg_effect_param(st, 3));
}

static void conv_xg_drive(const effect_xg_t* st, int system, InfoDrive* info, int kind)
{
    info->kind = kind;
    info->drive = p127(xg_effect_param(st, 1));
    info->cutoff = eq_freq_xg(xg_effect_param(st, 4));
    info->level = p127(xg_effect_param(st, 5));
    info->pan = 0.5;
    effect_dry_wet(xg_wet(xg_effect_param(st, 10)), system, &info->dry, &info->wet);
}

static void conv_xg_distortion(const effect_xg_t* st, int system, void* v)
{
    conv_xg_drive(st, system, (InfoDrive*)v, DRIVE_DISTORTION);
}

static void conv_xg_overdrive(const effect_xg_t* st, int system, void* v)
{
    conv_xg_drive(st, system, (InfoDrive*)v, DRIVE_OVERDRIVE);
}

// The equaliser of distortion and overdrive: low (2, 3) and mid (7, 8, 9).
static void conv_xg_drive_eq(const effect_xg_t* st, int, void* v)
{
    InfoEQ3* info = (InfoEQ3*)v;
    info->low_freq = eq_freq_xg(xg_effect_param(st, 2));
    info->low_gain = xg_eq_gain_db(xg_effect_param(st, 3));
    info->mid_freq = eq_freq_xg(xg_effect_param(st, 7));
    info->mid_gain = xg_eq_gain_db(xg_effect_param(st, 8));
    info->mid_width = xg_effect_param(st, 9) / 10.0;
    info->high_freq = 8000.0;
    info->high_gain = 0.0;
}

static void conv_xg_amp_simulator(const effect_xg_t* st, int system, void* v)
{
    InfoDrive* info = (InfoDrive*)v;
    info->kind = DRIVE_DISTORTION;
    info->drive = p127(xg_effect_param(st, 1));
    info->cutoff = eq_freq_xg(xg_effect_param(st, 3));
    info->level = p127(xg_effect_param(st, 4));
    info->pan = 0.5;
    effect_dry_wet(xg_wet(xg_effect_param(st, 10)), system, &info->dry, &info->wet);
}

static void conv_xg_eq3(const effect_xg_t* st, int, void* v)
{
    InfoEQ3* info = (InfoEQ3*)v;
    info->low_gain = xg_eq_gain_db(xg_effect_param(st, 1));
    info->mid_freq = eq_freq_xg(xg_effect_param(st, 2));
    info->mid_gain = xg_eq_gain_db(xg_effect_param(st, 3));
    info->mid_width = xg_effect_param(st, 4) / 10.0;
    info->high_gain = xg_eq_gain_db(xg_effect_param(st, 5));
    info->low_freq = eq_freq_xg(xg_effect_param(st, 6));
    info->high_freq = eq_freq_xg(xg_effect_param(st, 7));
}

static void conv_xg_eq2(const effect_xg_t* st, int, void* v)
{
    conv_xg_eq_after(st, 1, v);
}

static void conv_xg_tremolo(const effect_xg_t* st, int, void* v)
{
    InfoTremolo* info = (InfoTremolo*)v;
    info->lfo_freq = xg_lfo_freq(xg_effect_param(st, 1));
    info->depth = p127(xg_effect_param(st, 2));
    info->phase_diff = (clip_param(xg_effect_param(st, 11)) - 64) * 3.0;
}

static void conv_xg_auto_pan(const effect_xg_t* st, int system, void* v)
{
    conv_xg_tremolo(st, system, v);
    ((InfoTremolo*)v)->auto_pan = 1;
}

static void conv_xg_lofi(const effect_xg_t* st, int system, void* v)
{
    InfoLoFi* info = (InfoLoFi*)v;
    info->hold = clip_param(xg_effect_param(st, 1)) + 1;
    info->bits = 1 + clip_param(xg_effect_param(st, 2)) * 27 / 127;
    int gain = xg_effect_param(st, 3);
    info->level = pow(10.0, ((gain > 18 ? 18 : gain) - 6) / 20.0);
    info->post_cutoff = eq_freq_xg(xg_effect_param(st, 4));
    info->resonance = xg_effect_param(st, 6) / 10.0;
    info->pan = 0.5;
    effect_dry_wet(xg_wet(xg_effect_param(st, 10)), system, &info->dry, &info->wet);
}

// ---- effect types ----

struct stage_gs {
    int type;
    conv_gs_fn conv;
};
struct effect_type_gs {
    int8 msb, lsb;
    const char* name;
    int8 param[20];
    stage_gs stages[2];
};

static const effect_type_gs gs_types[] = {
    {0x00, 0x00, "Thru", {0}, {{EFFECT_NONE, nullptr}, {EFFECT_NONE, nullptr}}},
    {0x01, 0x00, "Stereo-EQ",
     {1, 0x45, 1, 0x34, 0x48, 0, 0x48, 0x38, 0, 0x48, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x7F},
     {{EFFECT_STEREO_EQ, conv_gs_stereo_eq}, {EFFECT_NONE, nullptr}}},
    {0x01, 0x10, "Overdrive",
     {48, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x40, 0x40, 0x60},
     {{EFFECT_DRIVE, conv_gs_overdrive}, {EFFECT_EQ2, conv_gs_eq2}}},
    {0x01, 0x11, "Distortion",
     {76, 3, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x38, 0x40, 0x54},
     {{EFFECT_DRIVE, conv_gs_distortion}, {EFFECT_EQ2, conv_gs_eq2}}},
    {0x01, 0x25, "Tremolo",
     {1, 0x40, 0x60, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x40, 0x40, 0x7F},
     {{EFFECT_TREMOLO, conv_gs_tremolo}, {EFFECT_EQ2, conv_gs_eq2}}},
    {0x01, 0x26, "Auto Pan",
     {1, 0x40, 0x60, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x40, 0x40, 0x7F},
     {{EFFECT_TREMOLO, conv_gs_auto_pan}, {EFFECT_EQ2, conv_gs_eq2}}},
    {0x01, 0x72, "Lo-Fi 1",
     {2, 6, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x40, 0x40, 0x7F},
     {{EFFECT_LOFI, conv_gs_lofi1}, {EFFECT_EQ2, conv_gs_eq2}}},
    {0x01, 0x73, "Lo-Fi 2",
     {2, 0, 0, 1, 3, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x7F, 0x40, 0x40, 0x40, 0x7F},
     {{EFFECT_LOFI, conv_gs_lofi2}, {EFFECT_EQ2, conv_gs_eq2}}},
};

struct stage_xg {
    int type;
    conv_xg_fn conv;
};
struct effect_type_xg {
    int8 msb, lsb;
    const char* name;
    int16 param[16];
    stage_xg stages[2];
};

#define XG_NO_STAGES {{EFFECT_NONE, nullptr}, {EFFECT_NONE, nullptr}}
static const effect_type_xg xg_types[] = {
    {0x00, 0x00, "No Effect", {0}, XG_NO_STAGES},
    {0x40, 0x00, "Thru", {0}, XG_NO_STAGES},
    {0x05, 0x00, "Delay L,C,R",
     {3333, 1667, 5000, 5000, 74, 100, 10, 0, 0, 64, 0, 0, 28, 64, 46, 64},
     {{EFFECT_DELAY, conv_xg_delay_lcr}, {EFFECT_EQ2, conv_xg_eq_13}}},
    {0x06, 0x00, "Delay L,R",
     {2500, 3750, 3752, 3750, 87, 10, 0, 0, 0, 64, 0, 0, 28, 64, 46, 64},
     {{EFFECT_DELAY, conv_xg_delay_lr}, {EFFECT_EQ2, conv_xg_eq_13}}},
    {0x07, 0x00, "Echo",
     {1700, 88, 1700, 88, 10, 1700, 1700, 0, 0, 64, 0, 0, 28, 64, 46, 64},
     {{EFFECT_DELAY, conv_xg_echo}, {EFFECT_EQ2, conv_xg_eq_13}}},
    {0x08, 0x00, "Cross Delay",
     {1700, 1750, 111, 1, 10, 0, 0, 0, 0, 64, 0, 0, 28, 64, 46, 64},
     {{EFFECT_DELAY, conv_xg_cross_delay}, {EFFECT_EQ2, conv_xg_eq_13}}},
    {0x41, 0x00, "Chorus 1", {6, 54, 77, 106, 0, 28, 64, 46, 64, 64, 46, 64, 10, 0, 0, 0},
     {{EFFECT_CHORUS, conv_xg_chorus}, {EFFECT_EQ2, conv_xg_eq_6}}},
    {0x41, 0x01, "Chorus 2", {8, 63, 64, 30, 0, 28, 62, 42, 58, 64, 46, 64, 10, 0, 0, 0},
     {{EFFECT_CHORUS, conv_xg_chorus}, {EFFECT_EQ2, conv_xg_eq_6}}},
    {0x41, 0x02, "Chorus 3", {4, 44, 64, 110, 0, 28, 64, 46, 66, 64, 46, 64, 10, 0, 0, 0},
     {{EFFECT_CHORUS, conv_xg_chorus}, {EFFECT_EQ2, conv_xg_eq_6}}},
    {0x41, 0x08, "Chorus 4", {9, 32, 69, 104, 0, 28, 64, 46, 64, 64, 46, 64, 10, 0, 1, 0},
     {{EFFECT_CHORUS, conv_xg_chorus}, {EFFECT_EQ2, conv_xg_eq_6}}},
    {0x42, 0x00, "Celeste 1", {12, 32, 64, 0, 0, 28, 64, 46, 64, 64, 46, 64, 10, 0, 0, 0},
     {{EFFECT_CHORUS, conv_xg_celeste}, {EFFECT_EQ2, conv_xg_eq_6}}},
    {0x42, 0x01, "Celeste 2", {28, 18, 90, 2, 0, 28, 62, 42, 60, 64, 46, 64, 10, 0, 0, 0},
     {{EFFECT_CHORUS, conv_xg_celeste}, {EFFECT_EQ2, conv_xg_eq_6}}},
    {0x43, 0x00, "Flanger 1", {14, 14, 104, 2, 0, 28, 64, 46, 64, 96, 40, 64, 10, 4, 0, 0},
     {{EFFECT_CHORUS, conv_xg_flanger}, {EFFECT_EQ2, conv_xg_eq_6}}},
    {0x43, 0x01, "Flanger 2", {32, 17, 26, 2, 0, 28, 64, 46, 60, 96, 40, 64, 10, 4, 0, 0},
     {{EFFECT_CHORUS, conv_xg_flanger}, {EFFECT_EQ2, conv_xg_eq_6}}},
    {0x44, 0x00, "Symphonic", {12, 25, 16, 0, 0, 28, 64, 46, 64, 64, 46, 64, 10, 0, 0, 0},
     {{EFFECT_CHORUS, conv_xg_symphonic}, {EFFECT_EQ2, conv_xg_eq_6}}},
    {0x46, 0x00, "Tremolo", {83, 56, 0, 0, 28, 64, 46, 64, 0, 0, 127, 1, 0, 0, 0, 0},
     {{EFFECT_TREMOLO, conv_xg_tremolo}, {EFFECT_EQ2, conv_xg_eq_5}}},
    {0x47, 0x00, "Auto Pan", {76, 80, 32, 5, 28, 64, 46, 64, 0, 0, 0, 0, 0, 0, 0, 0},
     {{EFFECT_TREMOLO, conv_xg_auto_pan}, {EFFECT_EQ2, conv_xg_eq_5}}},
    {0x49, 0x00, "Distortion", {40, 20, 72, 53, 48, 0, 43, 74, 10, 127, 120, 0, 0, 0, 0, 0},
     {{EFFECT_DRIVE, conv_xg_distortion}, {EFFECT_EQ3, conv_xg_drive_eq}}},
    {0x4A, 0x00, "Overdrive", {29, 24, 68, 45, 55, 0, 41, 72, 10, 127, 104, 0, 0, 0, 0, 0},
     {{EFFECT_DRIVE, conv_xg_overdrive}, {EFFECT_EQ3, conv_xg_drive_eq}}},
    {0x4B, 0x00, "Amp Simulator", {39, 1, 48, 55, 0, 0, 0, 0, 0, 127, 112, 0, 0, 0, 0, 0},
     {{EFFECT_DRIVE, conv_xg_amp_simulator}, {EFFECT_NONE, nullptr}}},
    {0x4C, 0x00, "3-Band EQ", {70, 34, 60, 10, 70, 28, 46, 0, 0, 0, 0, 0, 0, 0, 0, 0},
     {{EFFECT_EQ3, conv_xg_eq3}, {EFFECT_NONE, nullptr}}},
    {0x4D, 0x00, "2-Band EQ", {28, 70, 46, 70, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
     {{EFFECT_EQ2, conv_xg_eq2}, {EFFECT_NONE, nullptr}}},
    {0x5E, 0x00, "Lo-Fi", {2, 60, 6, 54, 5, 10, 1, 0, 0, 127, 0, 0, 0, 0, 0, 0},
     {{EFFECT_LOFI, conv_xg_lofi}, {EFFECT_NONE, nullptr}}},
};

static const effect_type_gs* find_gs_type(int msb, int lsb)
{
    for (const effect_type_gs& t : gs_types)
        if (t.msb == msb && t.lsb == lsb)
            return &t;
    return nullptr;
}

// An XG type with an unknown LSB falls back to the basic type of its MSB.
static const effect_type_xg* find_xg_type(int msb, int lsb)
{
    for (const effect_type_xg& t : xg_types)
        if (t.msb == msb && t.lsb == lsb)
            return &t;
    for (const effect_type_xg& t : xg_types)
        if (t.msb == msb && t.lsb == 0)
            return &t;
    return nullptr;
}

// ---- GS insertion effect ----

static void build_insertion_effect_gs(const effect_type_gs* t)
{
    insertion_effect_gs_t& st = insertion_effect_gs;
    free_effect_list(st.ef);
    st.ef = nullptr;
    if (t == nullptr)
        return;
    for (const stage_gs& s : t->stages) {
        if (s.type == EFFECT_NONE)
            continue;
        st.ef = push_effect(st.ef, s.type);
        EffectList* ef = st.ef;
        while (ef->next_ef != nullptr)
            ef = ef->next_ef;
        s.conv(st.parameter, ef->info);
        do_effect_stage(nullptr, -1, ef);
    }
}

void realloc_insertion_effect_gs(void)
{
    insertion_effect_gs_t& st = insertion_effect_gs;
    const effect_type_gs* t = find_gs_type(st.type_msb, st.type_lsb);
    if (t != nullptr) {
        memcpy(st.parameter, t->param, sizeof(st.parameter));
        cmsg(CMSG_INFO, VERB_NOISY, "GS EFX: %s", t->name);
    }
    build_insertion_effect_gs(t);
}

void recompute_insertion_effect_gs(void)
{
    build_insertion_effect_gs(find_gs_type(insertion_effect_gs.type_msb, insertion_effect_gs.type_lsb));
}

void do_insertion_effect_gs(int32* buf, int32 count)
{
    if (count > 0)
        do_effect_list(buf, count, insertion_effect_gs.ef);
}

// ---- XG effects ----

int xg_effect_param(const effect_xg_t* st, int n)
{
    if (n < 1 || n > 16)
        return 0;
    int v = st->param_lsb[n - 1] & 0x7f;
    if (n <= 10)
        v += (st->param_msb[n - 1] & 0x7f) * 128;
    return v;
}

// The chorus and the variation in system connection give only the effect's output.
static int is_system_effect(const effect_xg_t* st)
{
    return st == &chorus_status_xg || st == &reverb_status_xg ||
           (st == &variation_effect_xg[0] && st->connection == 1);
}

void realloc_effect_xg(effect_xg_t* st, int load_defaults)
{
    free_effect_list(st->ef);
    st->ef = nullptr;
    const effect_type_xg* t = find_xg_type(st->type_msb, st->type_lsb);
    if (t == nullptr)
        return;
    if (load_defaults) {
        for (int k = 0; k < 16; k++) {
            st->param_lsb[k] = (int8)(t->param[k] & 0x7f);
            if (k < 10)
                st->param_msb[k] = (int8)((t->param[k] >> 7) & 0x7f);
        }
        if (load_defaults == 1)
            cmsg(CMSG_INFO, VERB_NOISY, "XG EFX: %s", t->name);
    }
    const int system = is_system_effect(st);
    for (const stage_xg& s : t->stages) {
        if (s.type == EFFECT_NONE)
            continue;
        st->ef = push_effect(st->ef, s.type);
        EffectList* ef = st->ef;
        while (ef->next_ef != nullptr)
            ef = ef->next_ef;
        s.conv(st, system, ef->info);
        do_effect_stage(nullptr, -1, ef);
    }
}

void do_insertion_effect_xg(int32* buf, int32 count, effect_xg_t* st)
{
    if (st != nullptr && count > 0)
        do_effect_list(buf, count, st->ef);
}

// Runs a system effect on its send buffer and adds the return (64 is unity) into buf, with
// its sends to the reverb and the chorus; the send buffer is cleared.
static void run_system_effect(int32* buf, int32 count, effect_xg_t* st, int32* send,
                              int to_chorus)
{
    if (count > EFFECT_BUFFER_SIZE)
        count = EFFECT_BUFFER_SIZE;
    if (st->ef != nullptr) {
        do_effect_list(send, count, st->ef);
        const int32 ret = fx_gain(clip_param(st->ret) / 64.0);
        const int32 rev = fx_gain(clip_param(st->send_reverb) / 127.0 * REV_INP_LEV);
        const int32 cho = to_chorus ? fx_gain(clip_param(st->send_chorus) / 127.0) : 0;
        for (int32 i = 0; i < count; i++) {
            int32 out = fx_mul(send[i], ret);
            buf[i] += out;
            reverb_effect_buffer[i] += fx_mul(out, rev);
            if (cho != 0)
                chorus_effect_buffer[i] += fx_mul(out, cho);
        }
    }
    memset(send, 0, sizeof(int32) * (size_t)count);
}

void do_variation_effect1_xg(int32* buf, int32 count)
{
    if (count <= 0)
        return;
    effect_xg_t* st = &variation_effect_xg[0];
    if (st->connection == 1)
        run_system_effect(buf, count, st, delay_effect_buffer, 1);
    else
        memset(delay_effect_buffer, 0,
               sizeof(int32) * (size_t)(count > EFFECT_BUFFER_SIZE ? EFFECT_BUFFER_SIZE : count));
}

void do_ch_chorus_xg(int32* buf, int32 count)
{
    if (count <= 0)
        return;
    run_system_effect(buf, count, &chorus_status_xg, chorus_effect_buffer, 0);
}
