// Pieces of voice mixing (render.h has mix_voice itself).
#ifndef CORVELLE_RENDER_MIX_H
#define CORVELLE_RENDER_MIX_H

#include "sysdep.h"

// Adds count samples of stereo voice v at frame lp with its two gains smoothed apart and
// its pan delay.
void mix_mystery_signal(const int32* sp, int32* lp, int v, int32 count);

// A partner for voice v: the next voice in the table when it is of the same note-on and
// sounds on one side only while v sounds on the other only (the halves of a stereo zone, or
// two zones panned apart); -1 otherwise. Only the next one, so that every buffer value still
// gets its voices' sums in the order of the voice table (which matters where a sum holds at
// the 32-bit limits).
int stereo_partner(int v);
// Mixes voices v and w = v + 1 (v's partner) as mix_voice mixes each of them, both in
// one pass where their states allow it.
void mix_voice_pair(int32* buf, int v, int w, int32 count);

#endif
