// The GS, XG and GM2 effect parameters a song sets: their power-on values, the GS macros,
// and applying one parameter of a system-exclusive message with its report.
#include <cstdio>
#include <cstring>

#include "effects/effect.h"
#include "effects/effect_tables.h"
#include "frontend/controls.h"
#include "output/output.h"
#include "readmidi/sysex.h"

reverb_status_gs_t reverb_status_gs;
chorus_status_gs_t chorus_status_gs;
delay_status_gs_t delay_status_gs;
eq_status_gs_t eq_status_gs;
insertion_effect_gs_t insertion_effect_gs;
effect_xg_t reverb_status_xg, chorus_status_xg;
effect_xg_t variation_effect_xg[XG_VARIATION_EFFECT_NUM];
effect_xg_t insertion_effect_xg[XG_INSERTION_EFFECT_NUM];
multi_eq_xg_t multi_eq_xg;

static double output_rate(void)
{
    return (play_mode != nullptr && play_mode->rate > 0) ? play_mode->rate : 44100.0;
}

// ---- GS reverb ----

// character, pre-LPF, level, time, delay feedback, pre-delay time
static const int8 reverb_macro_presets[8][6] = {
    {0, 3, 64, 80, 0, 0}, {1, 4, 64, 56, 0, 0}, {2, 0, 64, 64, 0, 0},  {3, 4, 64, 72, 0, 0},
    {4, 0, 64, 64, 0, 0}, {5, 0, 64, 88, 0, 0}, {6, 0, 64, 32, 40, 0}, {7, 0, 64, 64, 32, 0},
};

void init_reverb_status_gs(void)
{
    reverb_status_gs_t& st = reverb_status_gs;
    st.character = 4;
    st.pre_lpf = 0;
    st.level = 64;
    st.time = 64;
    st.delay_feedback = 0;
    st.pre_delay_time = 0;
    recompute_reverb_status_gs();
}

void set_reverb_macro_gs(int macro)
{
    // A macro number outside the table takes its nearest row.
    macro = macro < 0 ? 0 : macro > 7 ? 7 : macro;
    const int8* p = reverb_macro_presets[macro];
    reverb_status_gs_t& st = reverb_status_gs;
    st.character = p[0];
    st.pre_lpf = p[1];
    st.level = p[2];
    st.time = p[3];
    st.delay_feedback = p[4];
    st.pre_delay_time = p[5];
}

void set_reverb_macro_gm2(int macro)
{
    macro = macro < 0 ? 0 : macro > 8 ? 8 : macro;
    set_reverb_macro_gs(macro == 8 ? 5 : macro);
    switch (macro) {
    case 0: reverb_status_gs.time = 44; break;
    case 1:
    case 8: reverb_status_gs.time = 50; break;
    case 2: reverb_status_gs.time = 56; break;
    case 3:
    case 4: reverb_status_gs.time = 64; break;
    default: break;
    }
}

void recompute_reverb_status_gs(void)
{
    if (reverb_status_gs.pre_lpf)
        init_pre_lpf(&reverb_status_gs.lpf, reverb_status_gs.pre_lpf);
}

// ---- GS chorus ----

// pre-LPF, level, feedback, delay, rate, depth, send to reverb, send to delay
static const int8 chorus_macro_presets[8][8] = {
    {0, 64, 0, 112, 3, 5, 0, 0},   {0, 64, 5, 80, 9, 19, 0, 0},   {0, 64, 8, 80, 3, 19, 0, 0},
    {0, 64, 16, 64, 9, 16, 0, 0},  {0, 64, 64, 127, 2, 24, 0, 0}, {0, 64, 112, 127, 1, 5, 0, 0},
    {0, 64, 0, 127, 0, 127, 0, 0}, {0, 64, 80, 127, 0, 127, 0, 0},
};

void init_chorus_status_gs(void)
{
    set_chorus_macro_gs(2);
    recompute_chorus_status_gs();
}

void set_chorus_macro_gs(int macro)
{
    macro = macro < 0 ? 0 : macro > 7 ? 7 : macro;
    const int8* p = chorus_macro_presets[macro];
    chorus_status_gs_t& st = chorus_status_gs;
    st.macro = (int8)macro;
    st.pre_lpf = p[0];
    st.level = p[1];
    st.feedback = p[2];
    st.delay = p[3];
    st.rate = p[4];
    st.depth = p[5];
    st.send_reverb = p[6];
    st.send_delay = p[7];
}

void recompute_chorus_status_gs(void)
{
    if (chorus_status_gs.pre_lpf)
        init_pre_lpf(&chorus_status_gs.lpf, chorus_status_gs.pre_lpf);
}

// ---- GS delay ----

// pre-LPF, time centre, ratio left, ratio right, level centre, left, right, level,
// feedback, send to reverb
static const int8 delay_macro_presets[10][10] = {
    {0, 97, 1, 1, 127, 0, 0, 64, 79, 0},      {0, 106, 1, 1, 127, 0, 0, 64, 79, 0},
    {0, 115, 1, 1, 127, 0, 0, 64, 63, 0},     {0, 83, 1, 1, 127, 0, 0, 64, 71, 0},
    {0, 90, 12, 24, 0, 125, 60, 64, 73, 0},   {0, 109, 12, 24, 0, 125, 60, 64, 70, 0},
    {0, 115, 12, 24, 0, 120, 64, 64, 72, 0},  {0, 93, 12, 24, 0, 120, 64, 64, 63, 0},
    {0, 109, 12, 24, 0, 114, 60, 64, 60, 36}, {0, 110, 21, 31, 97, 127, 67, 64, 39, 0},
};

void init_delay_status_gs(void)
{
    set_delay_macro_gs(0);
    recompute_delay_status_gs();
}

void set_delay_macro_gs(int macro)
{
    macro = macro < 0 ? 0 : macro > 9 ? 9 : macro;
    const int8* p = delay_macro_presets[macro];
    delay_status_gs_t& st = delay_status_gs;
    st.type = (int8)macro;
    st.pre_lpf = p[0];
    st.time_c = p[1];
    st.time_l = p[2];
    st.time_r = p[3];
    st.level_center = p[4];
    st.level_left = p[5];
    st.level_right = p[6];
    st.level = p[7];
    st.feedback = p[8];
    st.send_reverb = p[9];
}

void recompute_delay_status_gs(void)
{
    delay_status_gs_t& st = delay_status_gs;
    const double rate = output_rate();
    st.time_center = gs_delay_time_center_ms(st.time_c);
    st.time_ratio_left = gs_delay_time_ratio(st.time_l);
    st.time_ratio_right = gs_delay_time_ratio(st.time_r);
    st.sample[0] = (int32)(rate * st.time_center / 1000.0);
    st.sample[1] = (int32)(rate * st.time_center * st.time_ratio_left / 1000.0);
    st.sample[2] = (int32)(rate * st.time_center * st.time_ratio_right / 1000.0);
    st.level_ratio[0] = clip_param(st.level_center) / 127.0;
    st.level_ratio[1] = clip_param(st.level_left) / 127.0;
    st.level_ratio[2] = clip_param(st.level_right) / 127.0;
    st.feedback_ratio = (clip_param(st.feedback) - 64) * (0.98 / 64.0);
    st.send_reverb_ratio = clip_param(st.send_reverb) / 127.0;
    if (st.pre_lpf)
        init_pre_lpf(&st.lpf, st.pre_lpf);
}

// ---- GS equaliser ----

void init_eq_status_gs(void)
{
    eq_status_gs.low_freq = 0;
    eq_status_gs.low_gain = 0x40;
    eq_status_gs.high_freq = 0;
    eq_status_gs.high_gain = 0x40;
    recompute_eq_status_gs();
}

void recompute_eq_status_gs(void)
{
    eq_status_gs_t& st = eq_status_gs;
    calc_filter_biquad(&st.lsf, BIQUAD_LOW_SHELF, st.low_freq ? 400.0 : 200.0,
                       gs_eq_gain_db(st.low_gain), 0.5);
    calc_filter_biquad(&st.hsf, BIQUAD_HIGH_SHELF, st.high_freq ? 6000.0 : 3000.0,
                       gs_eq_gain_db(st.high_gain), 0.5);
}

// ---- GS insertion effect ----

void init_insertion_effect_gs(void)
{
    insertion_effect_gs_t& st = insertion_effect_gs;
    free_effect_list(st.ef);
    memset(&st, 0, sizeof(st));
    st.send_reverb = 0x28;
    st.control_source1 = st.control_source2 = 0x7F;
    st.control_depth1 = st.control_depth2 = 0x40;
    st.send_eq_switch = 1;
}

// ---- XG effects ----

void init_effect_xg(effect_xg_t* st)
{
    free_effect_list(st->ef);
    memset(st, 0, sizeof(*st));
    st->ret = 0x40;
    st->pan = 0x40;
    st->part = 0x7F;
    st->mw_depth = st->bend_depth = st->cat_depth = st->ac1_depth = st->ac2_depth =
        st->cbc1_depth = st->cbc2_depth = 0x40;
}

static void set_xg_type(effect_xg_t* st, int msb, int lsb, int connection)
{
    init_effect_xg(st);
    st->type_msb = (int8)msb;
    st->type_lsb = (int8)lsb;
    st->connection = (int8)connection;
    realloc_effect_xg(st, 2);
}

void init_all_effect_xg(void)
{
    set_xg_type(&reverb_status_xg, 0x01, 0x00, 1);
    set_xg_type(&chorus_status_xg, 0x41, 0x00, 1);
    for (effect_xg_t& st : variation_effect_xg)
        set_xg_type(&st, 0x05, 0x00, 0);
    for (effect_xg_t& st : insertion_effect_xg)
        set_xg_type(&st, 0x49, 0x00, 0);
}

// ---- XG multi equaliser ----

static const char* const multi_eq_type_name[5] = {"Flat", "Jazz", "Pops", "Rock", "Concert"};
static const int8 multi_eq_type_gain[5][5] = {
    {64, 64, 64, 64, 64}, {67, 64, 63, 66, 67}, {62, 66, 68, 66, 62},
    {68, 66, 62, 66, 68}, {66, 64, 62, 64, 66},
};

void init_multi_eq_xg(void)
{
    set_multi_eq_type_xg(0);
    recompute_multi_eq_xg();
}

void set_multi_eq_type_xg(int type)
{
    static const int8 freq[5] = {12, 28, 34, 46, 52};
    type = type < 0 ? 0 : type > 4 ? 4 : type;
    multi_eq_xg.type = (int8)type;
    for (int b = 0; b < 5; b++) {
        multi_eq_xg.gain[b] = multi_eq_type_gain[type][b];
        multi_eq_xg.freq[b] = freq[b];
        multi_eq_xg.q[b] = 7;
    }
    multi_eq_xg.shape1 = multi_eq_xg.shape5 = 0;
}

void recompute_multi_eq_xg(void)
{
    multi_eq_xg_t& eq = multi_eq_xg;
    eq.valid = 0;
    for (int b = 0; b < 5; b++) {
        int kind = BIQUAD_PEAKING;
        if (b == 0 && eq.shape1 == 0)
            kind = BIQUAD_LOW_SHELF;
        if (b == 4 && eq.shape5 == 0)
            kind = BIQUAD_HIGH_SHELF;
        double q = eq.q[b] < 1 ? 0.1 : eq.q[b] / 10.0;
        calc_filter_biquad(&eq.eq[b], kind, eq_freq_xg(eq.freq[b]), xg_eq_gain_db(eq.gain[b]),
                           kind == BIQUAD_PEAKING ? q : 0.5);
        eq.band_valid[b] = eq.gain[b] != 64;
        if (eq.band_valid[b])
            eq.valid = 1;
    }
}

// ---- all stores ----

static bool effect_status_ready = false;

static void init_effect_stores(void)
{
    effect_status_ready = true;
    init_reverb_status_gs();
    init_chorus_status_gs();
    init_delay_status_gs();
    init_eq_status_gs();
    init_insertion_effect_gs();
    init_all_effect_xg();
    init_multi_eq_xg();
}

void init_effect_status(void)
{
    init_effect_stores();
    // The running effects follow the reset parameters.
    init_reverb();
    init_ch_chorus();
    init_ch_delay();
    init_eq_gs();
}

void prepare_effect_status(void)
{
    if (!effect_status_ready) {
        init_effect_stores();
        return;
    }
    // Rebuild what depends on the output rate.
    recompute_multi_eq_xg();
    recompute_insertion_effect_gs();
    realloc_effect_xg(&chorus_status_xg, 0);
    for (effect_xg_t& st : variation_effect_xg)
        realloc_effect_xg(&st, 0);
    for (effect_xg_t& st : insertion_effect_xg)
        realloc_effect_xg(&st, 0);
}

// ---- parameters of system-exclusive messages ----

static void report(const char* fmt, int v)
{
    cmsg(CMSG_INFO, VERB_NOISY, fmt, v);
}

int set_effect_param_gs(int id, int val)
{
    val = clip_param(val);
    const int8 v = (int8)val;
    reverb_status_gs_t& rev = reverb_status_gs;
    chorus_status_gs_t& cho = chorus_status_gs;
    delay_status_gs_t& dly = delay_status_gs;
    insertion_effect_gs_t& ins = insertion_effect_gs;

    if (id >= GS_EQ_LOW_FREQ && id <= GS_EQ_HIGH_GAIN) {
        switch (id) {
        case GS_EQ_LOW_FREQ: eq_status_gs.low_freq = v; report("EQ LOW FREQ (%d)", val); break;
        case GS_EQ_LOW_GAIN: eq_status_gs.low_gain = v; report("EQ LOW GAIN (%d dB)", val - 0x40); break;
        case GS_EQ_HIGH_FREQ: eq_status_gs.high_freq = v; report("EQ HIGH FREQ (%d)", val); break;
        default: eq_status_gs.high_gain = v; report("EQ HIGH GAIN (%d dB)", val - 0x40); break;
        }
        recompute_eq_status_gs();
        return 1;
    }
    if (id >= GS_REVERB_MACRO && id <= GS_REVERB_PREDELAY_TIME && id != 0x0B) {
        switch (id) {
        case GS_REVERB_MACRO: set_reverb_macro_gs(val); report("Reverb Macro (%d)", val); break;
        case GS_REVERB_CHARACTER: rev.character = v; report("Reverb Character (%d)", val); break;
        case GS_REVERB_PRE_LPF: rev.pre_lpf = v; report("Reverb Pre-LPF (%d)", val); break;
        case GS_REVERB_LEVEL: rev.level = v; report("Reverb Level (%d)", val); break;
        case GS_REVERB_TIME: rev.time = v; report("Reverb Time (%d)", val); break;
        case GS_REVERB_DELAY_FEEDBACK: rev.delay_feedback = v; report("Reverb Delay Feedback (%d)", val); break;
        default: rev.pre_delay_time = v; report("Reverb Predelay Time (%d)", val); break;
        }
        init_reverb();
        return 1;
    }
    if (id >= GS_CHORUS_MACRO && id <= GS_CHORUS_SEND_TO_DELAY) {
        switch (id) {
        case GS_CHORUS_MACRO: set_chorus_macro_gs(val); report("Chorus Macro (%d)", val); break;
        case GS_CHORUS_PRE_LPF: cho.pre_lpf = v; report("Chorus Pre-LPF (%d)", val); break;
        case GS_CHORUS_LEVEL: cho.level = v; report("Chorus Level (%d)", val); break;
        case GS_CHORUS_FEEDBACK: cho.feedback = v; report("Chorus Feedback (%d)", val); break;
        case GS_CHORUS_DELAY: cho.delay = v; report("Chorus Delay (%d)", val); break;
        case GS_CHORUS_RATE: cho.rate = v; report("Chorus Rate (%d)", val); break;
        case GS_CHORUS_DEPTH: cho.depth = v; report("Chorus Depth (%d)", val); break;
        case GS_CHORUS_SEND_TO_REVERB: cho.send_reverb = v; report("Chorus Send Level to Reverb (%d)", val); break;
        default: cho.send_delay = v; report("Chorus Send Level to Delay (%d)", val); break;
        }
        init_ch_chorus();
        return 1;
    }
    if (id >= GS_DELAY_MACRO && id <= GS_DELAY_SEND_TO_REVERB) {
        switch (id) {
        case GS_DELAY_MACRO: set_delay_macro_gs(val); report("Delay Macro (%d)", val); break;
        case GS_DELAY_PRE_LPF: dly.pre_lpf = v; report("Delay Pre-LPF (%d)", val); break;
        case GS_DELAY_TIME_CENTER: dly.time_c = v; report("Delay Time Center (%d)", val); break;
        case GS_DELAY_TIME_RATIO_LEFT: dly.time_l = v; report("Delay Time Ratio Left (%d)", val); break;
        case GS_DELAY_TIME_RATIO_RIGHT: dly.time_r = v; report("Delay Time Ratio Right (%d)", val); break;
        case GS_DELAY_LEVEL_CENTER: dly.level_center = v; report("Delay Level Center (%d)", val); break;
        case GS_DELAY_LEVEL_LEFT: dly.level_left = v; report("Delay Level Left (%d)", val); break;
        case GS_DELAY_LEVEL_RIGHT: dly.level_right = v; report("Delay Level Right (%d)", val); break;
        case GS_DELAY_LEVEL: dly.level = v; report("Delay Level (%d)", val); break;
        case GS_DELAY_FEEDBACK: dly.feedback = v; report("Delay Feedback (%d)", val); break;
        default: dly.send_reverb = v; report("Delay Send Level to Reverb (%d)", val); break;
        }
        init_ch_delay();
        return 1;
    }
    if (id == GS_INSERTION_TYPE_MSB || id == GS_INSERTION_TYPE_LSB) {
        if (id == GS_INSERTION_TYPE_MSB)
            ins.type_msb = v;
        else
            ins.type_lsb = v;
        ins.type = ((int32)ins.type_msb << 8) | ins.type_lsb;
        cmsg(CMSG_INFO, VERB_NOISY, "EFX TYPE (%02X %02X)", ins.type_msb, ins.type_lsb);
        realloc_insertion_effect_gs();
        return 1;
    }
    if (id >= GS_INSERTION_PARAMETER1 && id < GS_INSERTION_PARAMETER1 + 20) {
        int n = id - GS_INSERTION_PARAMETER1;
        ins.parameter[n] = v;
        cmsg(CMSG_INFO, VERB_NOISY, "EFX Parameter %d (%d)", n + 1, val);
        recompute_insertion_effect_gs();
        return 1;
    }
    switch (id) {
    case GS_INSERTION_SEND_REVERB: ins.send_reverb = v; report("EFX Send Level to Reverb (%d)", val); return 1;
    case GS_INSERTION_SEND_CHORUS: ins.send_chorus = v; report("EFX Send Level to Chorus (%d)", val); return 1;
    case GS_INSERTION_SEND_DELAY: ins.send_delay = v; report("EFX Send Level to Delay (%d)", val); return 1;
    case GS_INSERTION_CONTROL_SOURCE1: ins.control_source1 = v; report("EFX Control Source1 (%d)", val); return 1;
    case GS_INSERTION_CONTROL_DEPTH1: ins.control_depth1 = v; report("EFX Control Depth1 (%d)", val); return 1;
    case GS_INSERTION_CONTROL_SOURCE2: ins.control_source2 = v; report("EFX Control Source2 (%d)", val); return 1;
    case GS_INSERTION_CONTROL_DEPTH2: ins.control_depth2 = v; report("EFX Control Depth2 (%d)", val); return 1;
    case GS_INSERTION_SEND_EQ_SWITCH: ins.send_eq_switch = v; report("EFX Send EQ Switch (%d)", val); return 1;
    default: return 0;
    }
}

int set_effect_param_gm2(int id, int val)
{
    if (id == SYSEX_GM2_REVERB_TYPE) {
        val = val < 0 ? 0 : val > 8 ? 8 : val;
        report("Reverb Type (%d)", val);
        set_reverb_macro_gm2(val);
        init_reverb();
        return 1;
    }
    if (id == SYSEX_GM2_CHORUS_TYPE) {
        val = val < 0 ? 0 : val > 5 ? 5 : val;
        report("Chorus Type (%d)", val);
        set_chorus_macro_gs(val);
        init_ch_chorus();
        return 1;
    }
    return 0;
}

// Parameter n (1..16) of an XG effect: the MSB (msb set) or LSB byte.
static void set_xg_param(effect_xg_t* st, int n, int val, int msb)
{
    if (msb && n <= 10)
        st->param_msb[n - 1] = (int8)val;
    else
        st->param_lsb[n - 1] = (int8)val;
}

static const char* const control_depth_name[7] = {"MW", "BEND", "CAT", "AC1", "AC2", "CBC1", "CBC2"};

static int8* control_depth(effect_xg_t* st, int k)
{
    int8* d[7] = {&st->mw_depth,  &st->bend_depth, &st->cat_depth, &st->ac1_depth,
                  &st->ac2_depth, &st->cbc1_depth, &st->cbc2_depth};
    return d[k];
}

// Reverb (00..15), chorus (20..35) and variation (40..75) addresses of the effect 1 block.
static int set_xg_effect1(int addr, int val)
{
    effect_xg_t& rev = reverb_status_xg;
    effect_xg_t& cho = chorus_status_xg;
    effect_xg_t& var = variation_effect_xg[0];
    const int8 v = (int8)val;
    char text[64];

    switch (addr) {
    case 0x00: rev.type_msb = v; report("Reverb Type MSB (%02X)", val); return 1;
    case 0x01: rev.type_lsb = v; report("Reverb Type LSB (%02X)", val); return 1;
    case 0x0C:
        rev.ret = v;
        reverb_status_gs.level = v;
        report("Reverb Return (%d)", val);
        init_reverb();
        return 1;
    case 0x0D: rev.pan = v; report("Reverb Pan (%d)", val); return 1;
    case 0x20:
    case 0x21:
        if (addr == 0x20)
            cho.type_msb = v;
        else
            cho.type_lsb = v;
        report(addr == 0x20 ? "Chorus Type MSB (%02X)" : "Chorus Type LSB (%02X)", val);
        realloc_effect_xg(&cho, 1);
        return 1;
    case 0x2C: cho.ret = v; report("Chorus Return (%d)", val); return 1;
    case 0x2D: cho.pan = v; report("Chorus Pan (%d)", val); return 1;
    case 0x2E: cho.send_reverb = v; report("Send Chorus To Reverb (%d)", val); return 1;
    case 0x40:
    case 0x41:
        if (addr == 0x40)
            var.type_msb = v;
        else
            var.type_lsb = v;
        report(addr == 0x40 ? "Variation Type MSB (%02X)" : "Variation Type LSB (%02X)", val);
        realloc_effect_xg(&var, 1);
        return 1;
    case 0x56: var.ret = v; report("Variation Return (%d)", val); return 1;
    case 0x57: var.pan = v; report("Variation Pan (%d)", val); return 1;
    case 0x58: var.send_reverb = v; report("Send Variation To Reverb (%d)", val); return 1;
    case 0x59: var.send_chorus = v; report("Send Variation To Chorus (%d)", val); return 1;
    case 0x5A:
        var.connection = v;
        report("Variation Connection (%d)", val);
        realloc_effect_xg(&var, 0);
        return 1;
    case 0x5B: var.part = v; report("Variation Part (%d)", val); return 1;
    default: break;
    }
    if (addr >= 0x5C && addr <= 0x62) {
        int k = addr - 0x5C;
        *control_depth(&var, k) = v;
        snprintf(text, sizeof(text), "%s Variation Control Depth (%%d)", control_depth_name[k]);
        cmsg(CMSG_INFO, VERB_NOISY, text, val);
        return 1;
    }
    // Reverb parameters 1..10 and 11..16 are kept; the reverb runs from its type's macro.
    if ((addr >= 0x02 && addr <= 0x0B) || (addr >= 0x10 && addr <= 0x15)) {
        int n = addr <= 0x0B ? addr - 0x02 + 1 : addr - 0x10 + 11;
        set_xg_param(&rev, n, val, 0);
        cmsg(CMSG_INFO, VERB_NOISY, "Reverb Parameter %d (%d)", n, val);
        return 1;
    }
    if ((addr >= 0x22 && addr <= 0x2B) || (addr >= 0x30 && addr <= 0x35)) {
        int n = addr <= 0x2B ? addr - 0x22 + 1 : addr - 0x30 + 11;
        set_xg_param(&cho, n, val, 0);
        cmsg(CMSG_INFO, VERB_NOISY, "Chorus Parameter %d (%d)", n, val);
        realloc_effect_xg(&cho, 0);
        return 1;
    }
    // Variation parameters 1..10 come as MSB/LSB pairs, 11..16 as single bytes.
    if ((addr >= 0x42 && addr <= 0x55) || (addr >= 0x70 && addr <= 0x75)) {
        int n;
        if (addr <= 0x55) {
            n = (addr - 0x42) / 2 + 1;
            set_xg_param(&var, n, val, (addr - 0x42) % 2 == 0);
        } else {
            n = addr - 0x70 + 11;
            set_xg_param(&var, n, val, 0);
        }
        cmsg(CMSG_INFO, VERB_NOISY, "Variation Parameter %d (%d)", n, xg_effect_param(&var, n));
        realloc_effect_xg(&var, 0);
        return 1;
    }
    return 0;
}

// Insertion block addresses.
static int set_xg_insertion(int block, int addr, int val)
{
    // The song may name a block this engine does not have.
    if (block < 0 || block >= XG_INSERTION_EFFECT_NUM)
        return 0;
    effect_xg_t& ins = insertion_effect_xg[block];
    const int8 v = (int8)val;
    char text[64];
    switch (addr) {
    case 0x00:
    case 0x01:
        if (addr == 0x00)
            ins.type_msb = v;
        else
            ins.type_lsb = v;
        cmsg(CMSG_INFO, VERB_NOISY,
             addr == 0x00 ? "Insertion Effect Type MSB (%d %02X)" : "Insertion Effect Type LSB (%d %02X)",
             block, val);
        realloc_effect_xg(&ins, 1);
        return 1;
    case 0x0C:
        ins.part = v;
        cmsg(CMSG_INFO, VERB_NOISY, "Insertion Effect Part (%d %d)", block, val);
        return 1;
    default: break;
    }
    if (addr >= 0x0D && addr <= 0x11) {
        int k = addr - 0x0D;
        *control_depth(&ins, k) = v;
        snprintf(text, sizeof(text), "%s Insertion Control Depth (%%d %%d)", control_depth_name[k]);
        cmsg(CMSG_INFO, VERB_NOISY, text, block, val);
        return 1;
    }
    int n = 0;
    if (addr >= 0x02 && addr <= 0x0B) {
        n = addr - 0x02 + 1;
        set_xg_param(&ins, n, val, 0);
    } else if (addr >= 0x20 && addr <= 0x25) {
        n = addr - 0x20 + 11;
        set_xg_param(&ins, n, val, 0);
    } else if (addr >= 0x30 && addr <= 0x43) {
        n = (addr - 0x30) / 2 + 1;
        set_xg_param(&ins, n, val, (addr - 0x30) % 2 == 0);
    } else {
        return 0;
    }
    cmsg(CMSG_INFO, VERB_NOISY, "Insertion Effect Parameter %d (%d %d)", n, block,
         xg_effect_param(&ins, n));
    realloc_effect_xg(&ins, 0);
    return 1;
}

static void set_xg_multi_eq(int addr, int val)
{
    multi_eq_xg_t& eq = multi_eq_xg;
    const int8 v = (int8)val;
    char text[64];
    if (addr == 0x00) {
        int type = val > 4 ? 4 : val;
        set_multi_eq_type_xg(type);
        cmsg(CMSG_INFO, VERB_NOISY, "EQ type (%d: %s)", type, multi_eq_type_name[type]);
    } else if (addr == 0x04) {
        eq.shape1 = v;
        report("EQ shape1 (%d)", val);
    } else if (addr == 0x14) {
        eq.shape5 = v;
        report("EQ shape5 (%d)", val);
    } else {
        // Four addresses a band from 01: gain, frequency, Q, (shape or unused).
        int band = (addr - 1) / 4, k = (addr - 1) % 4;
        if (band > 4 || k == 3)
            return;
        if (k == 0) {
            eq.gain[band] = v;
            snprintf(text, sizeof(text), "EQ gain%d (%%d dB)", band + 1);
            cmsg(CMSG_INFO, VERB_NOISY, text, val - 64);
        } else if (k == 1) {
            eq.freq[band] = v;
            snprintf(text, sizeof(text), "EQ freq%d (%%d Hz)", band + 1);
            cmsg(CMSG_INFO, VERB_NOISY, text, (int)eq_freq_xg(val));
        } else {
            eq.q[band] = v;
            snprintf(text, sizeof(text), "EQ Q%d (%%f)", band + 1);
            cmsg(CMSG_INFO, VERB_NOISY, text, val / 10.0);
        }
    }
    recompute_multi_eq_xg();
}

int set_effect_param_xg(int slot_id, int slot_val, int id, int val)
{
    val = clip_param(val);
    if (slot_id == XG_SLOT_EFFECT)
        return set_xg_effect1(id, val);
    if (slot_id == XG_SLOT_INSERTION)
        return set_xg_insertion(slot_val, id, val);
    if (id == XG_REVERB_RETURN)
        return set_xg_effect1(0x0C, val);
    if (id >= XG_MULTI_EQ_BASE && id <= XG_MULTI_EQ_BASE + 0x14) {
        set_xg_multi_eq(id - XG_MULTI_EQ_BASE, val);
        return 1;
    }
    return 0;
}
