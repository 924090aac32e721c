// The data the mixer takes for a voice: resampled and filtered, made on demand or ahead of
// its turn beside another voice's (render.h has filter_runs_whole_block and
// drop_voice_data_ahead).
#ifndef CORVELLE_RENDER_VOICE_DATA_H
#define CORVELLE_RENDER_VOICE_DATA_H

#include "sysdep.h"

// Whether voice v has a low-pass filter (either kind).
bool voice_has_filter(int v);

// The next *count values of voice v, resampled and filtered (the filter writes to room); with
// keep they are in room in any case. *count may come back smaller (the voice ended).
const int32* voice_data(int v, int32* room, bool keep, int32* count);

// The data of voices v and w as voice_data gives each, v's in room_v, their filters run side
// by side when both have one.
void voice_data_two(int v, int32* room_v, const int32** sv, int32* nv, int w, int32* room_w,
                    const int32** sw, int32* nw);

// When filtered voice v (count samples, a whole block) has voices among the nnext of next
// whose filters run over the same block: makes the data of v (in room, *made values) and of up
// to seven of them at once, their filters side by side, the others' kept until their turns;
// true. False, with nothing done, otherwise.
bool make_filter_group(int v, int32 count, const int* next, int nnext, int32* room, int32* made);

#endif
