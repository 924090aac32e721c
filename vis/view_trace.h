// Timing lines of the note view. With CORVELLE_TRACE naming a file, the view appends
//   glyph <wall-clock microseconds> <event sample time> <channel> <key>
// when a note-on becomes a glyph, and
//   frame <wall-clock microseconds> <play position> <glyphs on screen> <glyphs that moved>
// after every frame step (a glyph moved when it rose, grew or faded), and
//   pause <wall-clock microseconds> <play position>
//   resume <wall-clock microseconds> <play position>
//   stop <wall-clock microseconds> <play position>
//   seek <wall-clock microseconds> <play position before> <play position after>
// as each command of the transport takes effect on the playback thread (the sound has stopped,
// goes on, or has moved), and
//   idle <wall-clock microseconds> <heap bytes in use> <open file descriptors>
// when the frames stop after a song (playback over, view empty), and
//   status <wall-clock microseconds> <position shown> <paused 0 or 1> <the song's line>
// when what the window says about the song changes. Beside the audio device's
// "device" lines in the same file they show how far the picture is from the sound.
#ifndef CORVELLE_VIS_VIEW_TRACE_H
#define CORVELLE_VIS_VIEW_TRACE_H

#include "sysdep.h"

void trace_glyph(int64 event_time, int ch, int key);
void trace_frame(int32 position, long glyphs, long moved);
// One transport line: what ("pause", "resume", "stop", "seek") and its positions (to is
// written for "seek" only).
void trace_transport(const char* what, int32 from, int32 to);
void trace_idle(void);
void trace_status(int32 position, bool paused, const char* line);

#endif
