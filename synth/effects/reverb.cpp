// The reverb of the channel sends: choosing the algorithm by the reverb switch and the GS
// reverb character, the standard reverb of four pairs of delay lines, and the mono reverb.
#include <cmath>
#include <cstring>

#include "effects/effect.h"
#include "frontend/options.h"
#include "output/output.h"

standard_reverb std_reverb;
static standard_reverb mono_reverb;

// The algorithm whose state is initialised.
enum { REV_NONE = -1, REV_STANDARD, REV_FREEVERB, REV_PLATE, REV_NORMAL_DELAY, REV_PANNING_DELAY };
static int reverb_ready = REV_NONE;

static int32 rate(void)
{
    return (play_mode != nullptr && play_mode->rate > 0) ? play_mode->rate : 44100;
}

static int selected_reverb(void)
{
    if (reverb_is_standard(opt_reverb_control))
        return REV_STANDARD;
    switch (reverb_status_gs.character) {
    case 5: return REV_PLATE;
    case 6: return REV_NORMAL_DELAY;
    case 7: return REV_PANNING_DELAY;
    default: return REV_FREEVERB;
    }
}

static void set_coef(double* d, int32* fixed, double v)
{
    *d = v;
    *fixed = fx_gain(v);
}

static void init_standard_reverb(standard_reverb* rev)
{
    const reverb_status_gs_t& st = reverb_status_gs;
    double t = reverb_time_table[st.time & 0x7f] * gs_revchar_to_rt(st.character) /
               reverb_time_table[64] * 0.8;
    static const double ms[4] = {5.3, 10.5, 44.12, 21.0};
    simple_delay* lines[4][2] = {{&rev->buf0_L, &rev->buf0_R},
                                 {&rev->buf1_L, &rev->buf1_R},
                                 {&rev->buf2_L, &rev->buf2_R},
                                 {&rev->buf3_L, &rev->buf3_R}};
    for (int k = 0; k < 4; k++) {
        int32 len = next_prime((int32)lround(rate() * ms[k] / 1000.0 * t));
        set_delay(lines[k][0], len);
        set_delay(lines[k][1], len);
    }
    rev->spt0 = rev->buf0_L.size;
    rev->spt1 = rev->buf1_L.size;
    rev->spt2 = rev->buf2_L.size;
    rev->spt3 = rev->buf3_L.size;
    rev->rpt0 = rev->rpt1 = rev->rpt2 = rev->rpt3 = 0;
    rev->ta = rev->tb = 0;
    rev->HPFL = rev->HPFR = rev->LPFL = rev->LPFR = rev->EPFL = rev->EPFR = 0;
    set_coef(&rev->fbklev, &rev->fbklevi, 0.12);
    set_coef(&rev->nmixlev, &rev->nmixlevi, 0.7);
    set_coef(&rev->cmixlev, &rev->cmixlevi, 0.9);
    set_coef(&rev->monolev, &rev->monolevi, 0.7);
    set_coef(&rev->hpflev, &rev->hpflevi, 0.5);
    set_coef(&rev->lpflev, &rev->lpflevi, 0.45);
    set_coef(&rev->lpfinp, &rev->lpfinpi, 0.55);
    set_coef(&rev->epflev, &rev->epflevi, 0.4);
    set_coef(&rev->epfinp, &rev->epfinpi, 0.48);
    set_coef(&rev->width, &rev->widthi, 0.125);
    set_coef(&rev->wet, &rev->weti,
             2.0 * (double)st.level / 127.0 * gs_revchar_to_level(st.character));
}

static void free_standard_reverb(standard_reverb* rev)
{
    simple_delay* lines[8] = {&rev->buf0_L, &rev->buf0_R, &rev->buf1_L, &rev->buf1_R,
                              &rev->buf2_L, &rev->buf2_R, &rev->buf3_L, &rev->buf3_R};
    for (simple_delay* d : lines)
        free_delay(d);
}

// The standard reverb of count stereo values of send added into buf.
static void standard_reverb_block(int32* buf, int32* send, int32 count, standard_reverb* rev)
{
    if (rev->buf0_L.buf == nullptr)
        init_standard_reverb(rev);
    int32 *b0L = rev->buf0_L.buf, *b0R = rev->buf0_R.buf, *b1L = rev->buf1_L.buf,
          *b1R = rev->buf1_R.buf, *b2L = rev->buf2_L.buf, *b2R = rev->buf2_R.buf,
          *b3L = rev->buf3_L.buf, *b3R = rev->buf3_R.buf;
    int32 p0 = rev->rpt0, p1 = rev->rpt1, p2 = rev->rpt2, p3 = rev->rpt3;
    int32 ta = rev->ta, tb = rev->tb;
    int32 HPFL = rev->HPFL, HPFR = rev->HPFR, LPFL = rev->LPFL, LPFR = rev->LPFR,
          EPFL = rev->EPFL, EPFR = rev->EPFR;
    const int32 fbk = rev->fbklevi, cmix = rev->cmixlevi, hpf = rev->hpflevi,
                lpf = rev->lpflevi, lpfi = rev->lpfinpi, epf = rev->epflevi,
                epfi = rev->epfinpi, width = rev->widthi, wet = rev->weti;

    for (int32 i = 0; i + 1 < count; i += 2) {
        // Left.
        int32 f = send[i];
        int32 x = tb + b2L[p2];
        LPFL = fx_mul(LPFL, lpf) + fx_mul(x, lpfi) + fx_mul(ta, width);
        ta = b3L[p3];
        int32 s = b0L[p0];
        b3L[p3] = s;
        b0L[p0] = -LPFL;
        int32 t = fx_mul(HPFL + f, hpf);
        HPFL = t - f;
        b2L[p2] = fx_mul(s - fx_mul(f, fbk), cmix);
        tb = b1L[p1];
        b1L[p1] = t;
        EPFL = fx_mul(EPFL, epf) + fx_mul(ta, epfi);
        buf[i] += fx_mul(ta + EPFL, wet);

        // Right.
        f = send[i + 1];
        x = tb + b2R[p2];
        LPFR = fx_mul(LPFR, lpf) + fx_mul(x, lpfi) + fx_mul(ta, width);
        ta = b3R[p3];
        s = b0R[p0];
        b3R[p3] = s;
        b0R[p0] = LPFR;
        t = fx_mul(HPFR + f, hpf);
        HPFR = t - f;
        b2R[p2] = fx_mul(s - fx_mul(f, fbk), cmix);
        tb = b1R[p1];
        b1R[p1] = t;
        EPFR = fx_mul(EPFR, epf) + fx_mul(ta, epfi);
        buf[i + 1] += fx_mul(ta + EPFR, wet);

        if (++p0 == rev->spt0)
            p0 = 0;
        if (++p1 == rev->spt1)
            p1 = 0;
        if (++p2 == rev->spt2)
            p2 = 0;
        if (++p3 == rev->spt3)
            p3 = 0;
    }
    memset(send, 0, sizeof(int32) * (size_t)count);
    rev->rpt0 = p0;
    rev->rpt1 = p1;
    rev->rpt2 = p2;
    rev->rpt3 = p3;
    rev->ta = ta;
    rev->tb = tb;
    rev->HPFL = HPFL;
    rev->HPFR = HPFR;
    rev->LPFL = LPFL;
    rev->LPFR = LPFR;
    rev->EPFL = EPFL;
    rev->EPFR = EPFR;
}

void do_ch_standard_reverb(int32* buf, int32 count, standard_reverb* rev)
{
    if (count == -1) {
        init_standard_reverb(rev);
        return;
    }
    if (count == -2) {
        free_standard_reverb(rev);
        return;
    }
    if (count > EFFECT_BUFFER_SIZE)
        count = EFFECT_BUFFER_SIZE;
    standard_reverb_block(buf, reverb_effect_buffer, count, rev);
}

// Runs (count -1: initialises) the algorithm and returns its wet level factor.
static double run_reverb(int kind, int32* buf, int32 count)
{
    switch (kind) {
    case REV_STANDARD:
        do_ch_standard_reverb(buf, count, &std_reverb);
        return 1.0;
    case REV_PLATE:
        do_ch_plate_reverb(buf, count, &plate_reverb_status);
        return plate_reverb_status.wet_level;
    case REV_NORMAL_DELAY:
        do_ch_reverb_normal_delay(buf, count, &reverb_delay_status);
        return 1.0;
    case REV_PANNING_DELAY:
        do_ch_reverb_panning_delay(buf, count, &reverb_delay_status);
        return 1.0;
    default:
        do_ch_freeverb(buf, count, &freeverb_status);
        return freeverb_status.wet_level;
    }
}

void init_reverb(void)
{
    memset(reverb_effect_buffer, 0, sizeof(reverb_effect_buffer));
    recompute_reverb_status_gs();
    reverb_ready = selected_reverb();
    REV_INP_LEV = run_reverb(reverb_ready, nullptr, -1);
    init_standard_reverb(&mono_reverb);
}

void do_ch_reverb(int32* buf, int32 count)
{
    if (count <= 0)
        return;
    if (count > EFFECT_BUFFER_SIZE)
        count = EFFECT_BUFFER_SIZE;
    int kind = selected_reverb();
    if (kind != reverb_ready) {
        reverb_ready = kind;
        run_reverb(kind, nullptr, -1);
    }
    if (kind != REV_STANDARD && reverb_status_gs.pre_lpf)
        do_filter_lowpass1_stereo(reverb_effect_buffer, count, &reverb_status_gs.lpf);
    REV_INP_LEV = run_reverb(kind, buf, count);
}

void do_mono_reverb(int32* buf, int32 count)
{
    // The mono signal at the default send level goes to both sides of the standard reverb;
    // the two sides come back as one.
    enum { CHUNK = 1024 };
    int32 send[CHUNK * 2], wet[CHUNK * 2];
    const int32 g = fx_gain(40.0 / 127.0);
    for (int32 done = 0; done < count;) {
        int32 n = count - done < CHUNK ? count - done : CHUNK;
        for (int32 i = 0; i < n; i++)
            send[2 * i] = send[2 * i + 1] = fx_mul(buf[done + i], g);
        memset(wet, 0, sizeof(int32) * (size_t)(2 * n));
        standard_reverb_block(wet, send, 2 * n, &mono_reverb);
        for (int32 i = 0; i < n; i++)
            buf[done + i] += fx_mul(wet[2 * i] + wet[2 * i + 1], mono_reverb.monolevi);
        done += n;
    }
}
