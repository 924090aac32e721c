// Pause, stop and seek: commands that the window hands to the playback thread through the
// control interface, what the player does with them where it polls the interface, and the
// notice the window gets when each has taken effect.
#ifndef CORVELLE_FRONTEND_TRANSPORT_H
#define CORVELLE_FRONTEND_TRANSPORT_H

#include "sysdep.h"

// Commands beside the player's own result codes: go forward or back by val samples from the
// play position (RC_JUMP, 6, goes to the sample val).
enum { RC_FORWARD = 3, RC_BACK = 4 };

// ---- the window's side (any thread) ----

// Queues a command for the player: RC_TOGGLE_PAUSE, RC_STOP, RC_QUIT, RC_FORWARD, RC_BACK or
// RC_JUMP with its value.
void ctl_request(int rc, int32 val);
// Forward (seconds > 0) or back by that many seconds of output.
void ctl_request_skip(double seconds);
// Forgets commands not yet taken (a new song starts without the last one's).
void ctl_clear_requests(void);
// The next command, waiting up to wait_ms for one; RC_NONE (0) when none came.
int ctl_take_request(int32* val, int wait_ms);

// What took effect, with the play position before (from) and after it (to), in samples.
enum { TRANSPORT_PAUSE, TRANSPORT_RESUME, TRANSPORT_STOP, TRANSPORT_SEEK };
// Called on the playback thread as each takes effect: the sound has stopped (pause, stop),
// or is about to go on (resume), or the old position's sound is gone and the new position's
// notes are not yet dispatched (seek).
typedef void (*TransportHook)(int change, int32 from, int32 to);
void set_transport_hook(TransportHook hook);

// The length in samples of the song last started (0 before any), and how many songs have
// started playing their events; read on any thread.
int32 transport_song_samples(void);
unsigned transport_songs_started(void);
// Whether the reader stopped taking the last started song's events at its limit (the song
// plays only as far as it kept them).
bool transport_song_cut_short(void);

// ---- the player's side (playback thread), from check_apply_control ----

// A song of that many samples starts playing its events; cut_short: the reader kept only
// part of them.
void transport_song_started(int32 samples, bool cut_short);


// Holds the output where it is and waits for the next command: resume (RC_NONE, or RC_JUMP
// when a seek moved the song meanwhile: seeks while paused stay paused), or a stop code.
// Works until the device has played the song's last sample.
int transport_pause(void);
// Seeks by the command (RC_FORWARD, RC_BACK, RC_JUMP with val) from the heard position, also
// while the song's end rings out: RC_JUMP when playback moved, RC_TUNE_END past the end,
// RC_NONE when no song is in hand.
int transport_seek(int rc, int32 val);
// Drops the queued sound at once for a stop code.
void transport_stop(int rc);

#endif
