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
