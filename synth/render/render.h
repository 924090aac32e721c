// The render loop: turns elapsed song time into blocks of mixed 32-bit audio, hands full
// blocks to the audio queue, keeps rendering cheap enough for the device, and notices the end
// of the song.
#ifndef CORVELLE_RENDER_RENDER_H
#define CORVELLE_RENDER_RENDER_H

#include "sysdep.h"

// A block holds at most this many frames (2^audio_buffer_bits, bits 1..12).
#define AUDIO_BUFFER_SIZE 4096

extern int32 common_buffer[AUDIO_BUFFER_SIZE * 2];
extern int32* buffer_pointer;
extern int32 buffered_count;
extern int reduce_quality_flag;

// Renders count frames (0: queue what is buffered). 0, -1 when the audio queue refuses the
// data, 1 when interrupted, 6 when playback was repositioned, or the result of the end of
// the song.
int compute_data(int32 count);
// Renders count frames (at most what fits in the block) at buffer_pointer.
void do_compute_data(int32 count);
void mix_signal(int32* dest, const int32* src, int32 count);
// The polyphony control starts learning again (a new song).
void init_polyphony_control(void);

// ---- what the render loop uses of the mixer ----

// Mixes count frames of voice v into buf (stereo interleaved, or mono). next holds nnext
// voices with a filter to be mixed later in the same block over the same count: their data
// may be made now beside v's, and waits until their turns.
void mix_voice(int32* buf, int v, int32 count, const int* next = nullptr, int nnext = 0);
// Whether voice v sounds with a filter and no start delay left, so that its filter runs over
// a whole block of count frames with one set of coefficients.
bool filter_runs_whole_block(int v, int32 count);
// Forgets data made ahead that no voice took (the block is over).
void drop_voice_data_ahead(void);

#endif
