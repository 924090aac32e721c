// The audio queue: takes rendered blocks, converts them, keeps them in a soft queue of
// buckets and feeds the output as it can take them; keeps the play-position clock.
#ifndef CORVELLE_OUTPUT_AQ_H
#define CORVELLE_OUTPUT_AQ_H

#include "sysdep.h"

// True while the queue is still in its initial filling stage.
extern int aq_fill_buffer_flag;

// Fragment size in bytes to ask of an output before it opens.
int aq_calc_fragsize(void);
// After the output opened: frame size, bucket size, device queue size; resets the effects.
void aq_setup(void);
// Sizes the soft queue (seconds); a negative argument keeps the previous value.
void aq_set_soft_queue(double soft_buff_time, double fill_start_time);
// Sizes the soft queue from opt_aq_max_buff and opt_aq_fill_buff.
void corvelle_init_aq_buff(void);

// Queues count rendered frames (converted in place); 0, or -1 when the output failed.
int aq_add(int32* samples, int32 count);
// End of a file: discard everything, or play everything out. 0 or the player's result code
// that interrupted it.
int aq_flush(int discard);
// Holds (paused 1) or goes on playing (0) what the output has queued; the play-position clock
// stands still while it is held. 0, or -1 when the output cannot pause.
int aq_pause(int paused);
// After a discard: the output gets the next block at once, without first filling the queue
// (a seek is to be heard now, not once seconds of the song are rendered).
void aq_skip_fill_stage(void);
// Sends every queued bucket (the last padded with silence) and tells the output it is done.
int aq_soft_flush(void);

// The end of a song. aq_watch_tail(1) starts measuring what the queue is given (after the
// effects, before conversion); aq_tail_peak answers the largest magnitude since it was last
// asked (full scale is 1 << 28). aq_fade_out(frames) fades what comes next to silence over
// that many frames, after which the queue is given silence. aq_watch_tail(0) ends both.
void aq_watch_tail(int on);
int32 aq_tail_peak(void);
void aq_fade_out(int32 frames);

// Frames played since the start of the file, or -1 when the output cannot tell. Safe to call
// from another thread than the one adding audio.
int32 aq_samples(void);
int32 aq_filled(void);       // frames still in the device
int32 aq_soft_filled(void);  // frames in the soft queue
int32 aq_fillable(void);     // frames the device can take without blocking
double aq_filled_ratio(void);
int aq_get_dev_queuesize(void);  // device queue in frames

int aq_fill_nonblocking(void);
void aq_wait_ticks(void);

#endif
