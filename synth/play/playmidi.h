// The player: walks the sample-timed event array and calls the note hook.
#ifndef CORVELLE_PLAY_PLAYMIDI_H
#define CORVELLE_PLAY_PLAYMIDI_H

#include "sysdep.h"
#include "readmidi/event.h"

extern uint32 drumchannels, default_drumchannels;
extern uint32 drumchannel_mask, default_drumchannel_mask;
extern int note_key_offset;     // global transposition in semitones
extern double midi_time_ratio;  // event times are multiplied by this (tempo scaling)

typedef void (*note_hook_t)(MidiEvent* ev);
// Installs the hook that is called for every note-on and note-off the player dispatches.
void set_qevent(note_hook_t hook);
extern note_hook_t qevent;

#endif
