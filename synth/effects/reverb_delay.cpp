// The delays of GS reverb characters 6 (a feedback delay on each side) and 7 (a delay that
// bounces between the sides). The reverb time sets the delay (about 3 ms per step, up to
// 400 ms), the delay feedback the feedback (up to 0.9), the reverb level the return.
#include <cmath>

#include "effects/effect.h"
#include "output/output.h"

reverb_delay reverb_delay_status;

static void init_reverb_delay(reverb_delay* rev, int panning)
{
    const reverb_status_gs_t& st = reverb_status_gs;
    const double rate = (play_mode != nullptr && play_mode->rate > 0) ? play_mode->rate : 44100;
    const double ms = ((st.time & 0x7f) + 1) * 400.0 / 128.0;
    const int32 len = (int32)(rate * ms / 1000.0);
    set_delay(&rev->left, len);
    set_delay(&rev->right, len);
    rev->feedbacki = fx_gain((st.delay_feedback & 0x7f) / 127.0 * 0.9);
    rev->leveli = fx_gain((double)st.level / 127.0 * gs_revchar_to_level(st.character));
    rev->panning = (int8)panning;
}

static void free_reverb_delay(reverb_delay* rev)
{
    free_delay(&rev->left);
    free_delay(&rev->right);
}

static void reverb_delay_block(int32* buf, int32 count, reverb_delay* rev)
{
    if (count > EFFECT_BUFFER_SIZE)
        count = EFFECT_BUFFER_SIZE;
    int32* send = reverb_effect_buffer;
    simple_delay *l = &rev->left, *r = &rev->right;
    for (int32 i = 0; i + 1 < count; i += 2) {
        int32 outl = l->buf[l->index], outr = r->buf[r->index];
        if (rev->panning) {
            // Each echo comes back on the other side.
            l->buf[l->index] = (send[i] >> 1) + (send[i + 1] >> 1) + fx_mul(outr, rev->feedbacki);
            r->buf[r->index] = fx_mul(outl, rev->feedbacki);
        } else {
            l->buf[l->index] = send[i] + fx_mul(outl, rev->feedbacki);
            r->buf[r->index] = send[i + 1] + fx_mul(outr, rev->feedbacki);
        }
        if (++l->index >= l->size)
            l->index = 0;
        if (++r->index >= r->size)
            r->index = 0;
        buf[i] += fx_mul(outl, rev->leveli);
        buf[i + 1] += fx_mul(outr, rev->leveli);
        send[i] = send[i + 1] = 0;
    }
}

static void run(int32* buf, int32 count, reverb_delay* rev, int panning)
{
    if (count == -1)
        init_reverb_delay(rev, panning);
    else if (count == -2)
        free_reverb_delay(rev);
    else {
        if (rev->left.buf == nullptr || rev->panning != panning)
            init_reverb_delay(rev, panning);
        reverb_delay_block(buf, count, rev);
    }
}

void do_ch_reverb_normal_delay(int32* buf, int32 count, reverb_delay* rev)
{
    run(buf, count, rev, 0);
}

void do_ch_reverb_panning_delay(int32* buf, int32 count, reverb_delay* rev)
{
    run(buf, count, rev, 1);
}
