// The 32 channel records and the functions that read them.
#ifndef CORVELLE_PLAY_CHANNELS_H
#define CORVELLE_PLAY_CHANNELS_H

#include "sysdep.h"

// One MIDI channel (channel c is MIDI channel c % 16 of port c / 16).
// The record grows as the player learns more of a channel; the fields the note view reads
// (limits and key shift) keep their names.
struct Channel {
    int8 bank_msb, bank_lsb, bank, program, volume, expression, sustain, panning, mono, portamento;
    int8 key_shift;
    int8 note_limit_high, note_limit_low;
    int8 vel_limit_high, vel_limit_low;
    uint32 channel_layer;  // bit c set: this channel plays what arrives on channel c
    int32 port_select;     // port whose events this channel takes
};

extern Channel channel[MAX_CHANNELS];

// Display name of the instrument channel ch plays; the text belongs to the engine.
const char* channel_instrum_name(int ch);

#endif
