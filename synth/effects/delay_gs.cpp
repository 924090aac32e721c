// The GS delay: one line fed with the mono sum of the delay send and the centre tap times
// the feedback, read at three taps (centre, left, right) whose levels make the two sides.
#include <cstring>

#include "effects/effect.h"
#include "frontend/options.h"
#include "output/output.h"

struct three_tap_delay {
    simple_delay line;
    int32 tap[3];  // samples back from the write position: centre, left, right
    int32 leveli[3];  // each tap's level, Q24
    int32 leveli_all, feedbacki, send_reverbi;  // return level, feedback, send to reverb, Q24
};
static three_tap_delay delay_status;

static void init_three_tap_delay(three_tap_delay* info)
{
    const delay_status_gs_t& st = delay_status_gs;
    int32 longest = 1;
    for (int k = 0; k < 3; k++) {
        info->tap[k] = st.sample[k] < 1 ? 1 : st.sample[k];
        if (info->tap[k] > longest)
            longest = info->tap[k];
    }
    // The line holds the longest tap, whichever side it is on.
    set_delay(&info->line, longest + 1);
    for (int k = 0; k < 3; k++)
        info->leveli[k] = fx_gain(st.level_ratio[k]);
    info->leveli_all = fx_gain((st.level & 0x7f) / 127.0);
    info->feedbacki = fx_gain(st.feedback_ratio);
    info->send_reverbi = fx_gain(st.send_reverb_ratio * REV_INP_LEV);
}

static void do_three_tap_delay(int32* buf, int32 count, three_tap_delay* info)
{
    if (info->line.buf == nullptr)
        init_three_tap_delay(info);
    int32* send = delay_effect_buffer;
    simple_delay* d = &info->line;
    for (int32 i = 0; i + 1 < count; i += 2) {
        int32 t[3];
        for (int k = 0; k < 3; k++) {
            int32 r = d->index - info->tap[k];
            if (r < 0)
                r += d->size;
            t[k] = d->buf[r];
        }
        d->buf[d->index] = (send[i] >> 1) + (send[i + 1] >> 1) + fx_mul(t[0], info->feedbacki);
        if (++d->index >= d->size)
            d->index = 0;
        int32 c = fx_mul(t[0], info->leveli[0]);
        int32 l = fx_mul(c + fx_mul(t[1], info->leveli[1]), info->leveli_all);
        int32 r = fx_mul(c + fx_mul(t[2], info->leveli[2]), info->leveli_all);
        buf[i] += l;
        buf[i + 1] += r;
        reverb_effect_buffer[i] += fx_mul(l, info->send_reverbi);
        reverb_effect_buffer[i + 1] += fx_mul(r, info->send_reverbi);
    }
    memset(send, 0, sizeof(int32) * (size_t)count);
}

void init_ch_delay(void)
{
    memset(delay_effect_buffer, 0, sizeof(delay_effect_buffer));
    recompute_delay_status_gs();
    init_three_tap_delay(&delay_status);
}

void do_ch_delay(int32* buf, int32 count)
{
    if (count <= 0)
        return;
    if (count > EFFECT_BUFFER_SIZE)
        count = EFFECT_BUFFER_SIZE;
    if (!reverb_is_standard(opt_reverb_control) && delay_status_gs.pre_lpf)
        do_filter_lowpass1_stereo(delay_effect_buffer, count, &delay_status_gs.lpf);
    do_three_tap_delay(buf, count, &delay_status);
}
