// Pieces of voice mixing (render.h has mix_voice itself).
#ifndef CORVELLE_RENDER_MIX_H
#define CORVELLE_RENDER_MIX_H

#include "sysdep.h"

struct Voice;

// Sets the voice's smoothing offsets and increments from its old and new gains.
void compute_mix_smoothing(Voice* vp);
// Adds count samples of stereo voice v at frame lp with its two gains smoothed apart and
// its pan delay.
void mix_mystery_signal(const int32* sp, int32* lp, int v, int32 count);

#endif
