// Timing lines of the note view. With CORVELLE_TRACE naming a file, the view appends
//   glyph <wall-clock microseconds> <event sample time> <channel> <key>
// when a note-on becomes a glyph, and
//   frame <wall-clock microseconds> <play position> <glyphs on screen>
// after every frame step, and
//   idle <wall-clock microseconds> <heap bytes in use> <open file descriptors>
// when the frames stop after a song (playback over, view empty). Beside the audio device's "device" lines in the same file they show
// how far the picture is from the sound.
#ifndef CORVELLE_VIS_VIEW_TRACE_H
#define CORVELLE_VIS_VIEW_TRACE_H

#include "sysdep.h"

void trace_glyph(int64 event_time, int ch, int key);
void trace_frame(int32 position, long glyphs);
void trace_idle(void);

#endif
