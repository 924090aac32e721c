// The smoothing of gain jumps: a jump larger than half a millisecond's worth of steps is
// spread over that time, a smaller one moves a step per sample.
#include <cstdlib>

#include "output/output.h"
#include "play/voice.h"
#include "render/mix_gain.h"

static void smoothing_side(int32 gain, int32 old, int32& inc, int32& offset)
{
    const int32 w = (int32)((play_mode != nullptr ? play_mode->rate : 44100) * 0.0005);
    const int32 d = gain - old;
    if (w > 0 && std::abs(d) > w) {
        inc = d / w;
        offset = inc * (1 - w);
    } else if (d != 0) {
        inc = d > 0 ? 1 : -1;
        offset = inc - d;
    }
}

void compute_mix_smoothing(Voice* vp)
{
    smoothing_side(vp->left_mix, vp->old_left_mix, vp->left_mix_inc, vp->left_mix_offset);
    smoothing_side(vp->right_mix, vp->old_right_mix, vp->right_mix_inc, vp->right_mix_offset);
}

bool GainLine::plan(int32 gain, int32 offset, int32 increment, int32 count)
{
    if (offset == 0 || gain + (int64)offset > MAX_MIX_GAIN) {
        last = end_g = offset == 0 ? gain : MAX_MIX_GAIN;
        g0 = last;
        return true;
    }
    if (increment == 0 || offset % increment != 0 || offset / increment >= 0)
        return false;
    const int64 steps = -(int64)(offset / increment);
    g0 = gain + offset;
    if (g0 + steps * increment > MAX_MIX_GAIN)
        return false;
    inc = increment;
    last = (int32)(g0 + steps * increment);
    if (count >= steps) {
        lin = (int32)steps;
        end_g = last;
    } else {
        lin = count;
        end_g = (int32)(g0 + (int64)count * increment);
        end_offset = (int32)(offset + (int64)count * increment);
    }
    return true;
}
