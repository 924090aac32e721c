// The event list as text, one event per line: "<sample time> <type name> <channel> <a> <b>".
#ifndef CORVELLE_READMIDI_EVENT_PRINT_H
#define CORVELLE_READMIDI_EVENT_PRINT_H

#include <cstdio>
#include "sysdep.h"
#include "readmidi/event.h"

// The name of an event type ("ME_NOTEON"), or "Unknown" for a number without one.
const char* event_type_name(int type);
// Writes one event and a line break; 0, or -1 on a write error.
int write_event_line(FILE* fp, const MidiEvent* ev);
// Writes count events; 0, or -1 on a write error (the stream's error flag included).
int write_event_list(FILE* fp, const MidiEvent* events, int32 count);

#endif
