// The GS stereo chorus: a delay line for each side whose read point a triangular LFO moves
// (the right LFO a quarter cycle ahead), with feedback, level and sends to reverb and delay.
#include <cmath>
#include <cstring>

#include "effects/effect.h"
#include "frontend/options.h"
#include "output/output.h"

static stereo_chorus chorus_status = [] {
    stereo_chorus c{};
    c.lfoL.type = c.lfoR.type = -1;
    return c;
}();

static void init_stereo_chorus(stereo_chorus* info)
{
    const chorus_status_gs_t& st = chorus_status_gs;
    const double rate = (play_mode != nullptr && play_mode->rate > 0) ? play_mode->rate : 44100;
    const double freq = (st.rate & 0x7f) * 0.122;
    init_lfo(&info->lfoL, freq, LFO_TRIANGULAR, 0.0);
    init_lfo(&info->lfoR, freq, LFO_TRIANGULAR, 90.0);
    int32 d = (int32)lround(rate * chorus_delay_time_table[st.delay & 0x7f] / 1000.0);
    int32 m = (int32)lround(((st.depth & 0x7f) + 1) / 3.2 * rate / 1000.0);
    d -= m / 2;
    if (d < 1)
        d = 1;
    info->pdelay = d;
    info->depth = m;
    set_delay(&info->delayL, m + d + 2);
    set_delay(&info->delayR, m + d + 2);
    info->wpt0 = info->spt0 = info->spt1 = info->hist0 = info->hist1 = 0;

    info->feedback = (st.feedback & 0x7f) * 0.763 / 100.0;
    info->level = (double)(st.level & 0x7f) / 127.0 * 1.7;
    info->send_reverb = (st.send_reverb & 0x7f) * 0.787 / 100.0 * REV_INP_LEV;
    info->send_delay = (st.send_delay & 0x7f) * 0.787 / 100.0;
    info->feedbacki = fx_gain(info->feedback);
    info->leveli = fx_gain(info->level);
    info->send_reverbi = fx_gain(info->send_reverb);
    info->send_delayi = fx_gain(info->send_delay);
}

static void free_stereo_chorus(stereo_chorus* info)
{
    free_delay(&info->delayL);
    free_delay(&info->delayR);
}

// The chorus over count interleaved values; the sends to the reverb and the delay are left
// out of the loop when their gains are 0 (they would add 0).
template <bool to_reverb, bool to_delay>
static void chorus_run(int32* buf, int32 count, stereo_chorus* info)
{
    int32* send = chorus_effect_buffer;
    int32 *bufL = info->delayL.buf, *bufR = info->delayR.buf;
    const int32 size = info->delayL.size, d = info->pdelay, m = info->depth;
    int32 wpt = info->wpt0, spt0 = info->spt0, spt1 = info->spt1;
    int32 hist0 = info->hist0, hist1 = info->hist1;
    const int32 fb = info->feedbacki, lv = info->leveli, sr = info->send_reverbi,
                sd = info->send_delayi;

    for (int32 i = 0; i + 1 < count; i += 2) {
        if (++wpt == size)
            wpt = 0;

        // Left: the offset o is in 1/256 sample, 0..m x 256.
        int32 o = (int32)(((int64)lfo_value(&info->lfoL) * m) >> 8);
        int32 prev = bufL[spt0];
        spt0 = wpt - d - (o >> 8);
        if (spt0 < 0)
            spt0 += size;
        lfo_advance(&info->lfoL);
        hist0 = prev + (int32)(((int64)(bufL[spt0] - hist0) * (255 - (o & 0xff))) >> 8);
        bufL[wpt] = fx_mul(hist0, fb) + send[i];
        int32 out = fx_mul(hist0, lv);
        buf[i] += out;
        if (to_reverb)
            reverb_effect_buffer[i] += fx_mul(out, sr);
        if (to_delay)
            delay_effect_buffer[i] += fx_mul(out, sd);

        // Right.
        o = (int32)(((int64)lfo_value(&info->lfoR) * m) >> 8);
        prev = bufR[spt1];
        spt1 = wpt - d - (o >> 8);
        if (spt1 < 0)
            spt1 += size;
        lfo_advance(&info->lfoR);
        hist1 = prev + (int32)(((int64)(bufR[spt1] - hist1) * (255 - (o & 0xff))) >> 8);
        bufR[wpt] = fx_mul(hist1, fb) + send[i + 1];
        out = fx_mul(hist1, lv);
        buf[i + 1] += out;
        if (to_reverb)
            reverb_effect_buffer[i + 1] += fx_mul(out, sr);
        if (to_delay)
            delay_effect_buffer[i + 1] += fx_mul(out, sd);
    }
    memset(send, 0, sizeof(int32) * (size_t)count);
    info->wpt0 = wpt;
    info->spt0 = spt0;
    info->spt1 = spt1;
    info->hist0 = hist0;
    info->hist1 = hist1;
}

void do_ch_stereo_chorus(int32* buf, int32 count, stereo_chorus* info)
{
    if (count == -1) {
        init_stereo_chorus(info);
        return;
    }
    if (count == -2) {
        free_stereo_chorus(info);
        return;
    }
    if (info->delayL.buf == nullptr)
        init_stereo_chorus(info);
    if (count > EFFECT_BUFFER_SIZE)
        count = EFFECT_BUFFER_SIZE;
    // The delay send is taken out only while the delay effect runs; otherwise nothing empties
    // it during a song, and the chorus's share would pile up there until it overflowed.
    const bool to_reverb = info->send_reverbi != 0,
               to_delay = info->send_delayi != 0 && opt_delay_control > 0;
    if (to_reverb && to_delay)
        chorus_run<true, true>(buf, count, info);
    else if (to_reverb)
        chorus_run<true, false>(buf, count, info);
    else if (to_delay)
        chorus_run<false, true>(buf, count, info);
    else
        chorus_run<false, false>(buf, count, info);
}

void init_ch_chorus(void)
{
    memset(chorus_effect_buffer, 0, sizeof(chorus_effect_buffer));
    recompute_chorus_status_gs();
    do_ch_stereo_chorus(nullptr, -1, &chorus_status);
}

void do_ch_chorus(int32* buf, int32 count)
{
    if (count <= 0)
        return;
    if (count > EFFECT_BUFFER_SIZE)
        count = EFFECT_BUFFER_SIZE;
    if (!reverb_is_standard(opt_reverb_control) && chorus_status_gs.pre_lpf)
        do_filter_lowpass1_stereo(chorus_effect_buffer, count, &chorus_status_gs.lpf);
    do_ch_stereo_chorus(buf, count, &chorus_status);
}
