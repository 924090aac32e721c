// The engine's event record and the numbering of event types.
#ifndef CORVELLE_READMIDI_EVENT_H
#define CORVELLE_READMIDI_EVENT_H

#include "sysdep.h"

// 8 bytes, fields in this order: the note view copies events byte for byte.
struct MidiEvent {
    int32 time;      // ticks while reading, output samples in the event array
    uint8 type;
    uint8 channel;
    uint8 a;
    uint8 b;
};
static_assert(sizeof(MidiEvent) == 8, "MidiEvent must stay 8 bytes");

// The order is binding: event arrays store these numbers and several places test ranges.
enum midi_event_t {
    ME_NONE = 0,
    ME_NOTEOFF = 1,
    ME_NOTEON = 2,
    ME_KEYPRESSURE = 3,
    ME_PROGRAM = 4,
    ME_CHANNEL_PRESSURE = 5,
    ME_PITCHWHEEL = 6,
    ME_TONE_BANK_MSB = 7,
    ME_TONE_BANK_LSB = 8,
    ME_MODULATION_WHEEL = 9,
    ME_BREATH = 10,
    ME_FOOT = 11,
    ME_MAINVOLUME = 12,
    ME_BALANCE = 13,
    ME_PAN = 14,
    ME_EXPRESSION = 15,
    ME_SUSTAIN = 16,
    ME_PORTAMENTO_TIME_MSB = 17,
    ME_PORTAMENTO_TIME_LSB = 18,
    ME_PORTAMENTO = 19,
    ME_PORTAMENTO_CONTROL = 20,
    ME_DATA_ENTRY_MSB = 21,
    ME_DATA_ENTRY_LSB = 22,
    ME_SOSTENUTO = 23,
    ME_SOFT_PEDAL = 24,
    ME_LEGATO_FOOTSWITCH = 25,
    ME_HOLD2 = 26,
    ME_HARMONIC_CONTENT = 27,
    ME_RELEASE_TIME = 28,
    ME_ATTACK_TIME = 29,
    ME_BRIGHTNESS = 30,
    ME_REVERB_EFFECT = 31,
    ME_TREMOLO_EFFECT = 32,
    ME_CHORUS_EFFECT = 33,
    ME_CELESTE_EFFECT = 34,
    ME_PHASER_EFFECT = 35,
    ME_RPN_INC = 36,
    ME_RPN_DEC = 37,
    ME_NRPN_LSB = 38,
    ME_NRPN_MSB = 39,
    ME_RPN_LSB = 40,
    ME_RPN_MSB = 41,
    ME_ALL_SOUNDS_OFF = 42,
    ME_RESET_CONTROLLERS = 43,
    ME_ALL_NOTES_OFF = 44,
    ME_MONO = 45,
    ME_POLY = 46,
    ME_SCALE_TUNING = 47,
    ME_BULK_TUNING_DUMP = 48,
    ME_SINGLE_NOTE_TUNING = 49,
    ME_RANDOM_PAN = 50,
    ME_SET_PATCH = 51,
    ME_DRUMPART = 52,
    ME_KEYSHIFT = 53,
    ME_PATCH_OFFS = 54,
    ME_TEMPO = 55,
    ME_CHORUS_TEXT = 56,
    ME_LYRIC = 57,
    ME_GSLCD = 58,
    ME_MARKER = 59,
    ME_INSERT_TEXT = 60,
    ME_TEXT = 61,
    ME_KARAOKE_LYRIC = 62,
    ME_MASTER_VOLUME = 63,
    ME_RESET = 64,
    ME_NOTE_STEP = 65,
    ME_TIMESIG = 66,
    ME_KEYSIG = 67,
    ME_TEMPER_KEYSIG = 68,
    ME_TEMPER_TYPE = 69,
    ME_MASTER_TEMPER_TYPE = 70,
    ME_USER_TEMPER_ENTRY = 71,
    ME_SYSEX_LSB = 72,
    ME_SYSEX_MSB = 73,
    ME_SYSEX_GS_LSB = 74,
    ME_SYSEX_GS_MSB = 75,
    ME_SYSEX_XG_LSB = 76,
    ME_SYSEX_XG_MSB = 77,
    ME_WRD = 78,
    ME_SHERRY = 79,
    ME_BARMARKER = 80,
    ME_STEP = 81,
    ME_LAST = 254,
    ME_EOT = 255
};

#endif
