// The MIDI trace: control events held until the audio device reaches their sample time,
// and the play-position clock.
#ifndef CORVELLE_FRONTEND_MIDITRACE_H
#define CORVELLE_FRONTEND_MIDITRACE_H

#include "sysdep.h"

// Samples the audio device has played plus the trace offset, or -1 when the output cannot tell.
int32 current_trace_samples(void);

#endif
