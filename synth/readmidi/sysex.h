// Decoding of system-exclusive messages into events.
//
// Most parameters travel as the private types ME_SYSEX_LSB/MSB ("other" family),
// ME_SYSEX_GS_LSB/MSB and ME_SYSEX_XG_LSB/MSB: channel = part (0 for system parameters),
// a = value, b = identifier within the family. A parameter of two parts comes as the MSB
// event (stored in the channel's pending slot) followed by the LSB event of its family.
// Parameters with an ordinary MIDI meaning come as ordinary events with b = 255.
#ifndef CORVELLE_READMIDI_SYSEX_H
#define CORVELLE_READMIDI_SYSEX_H

#include "sysdep.h"
#include "readmidi/event.h"

// Identifiers of the "other" family (ME_SYSEX_LSB, ME_SYSEX_MSB).
enum {
    // Controller depth settings: six groups of eleven, each group in the order of the offsets.
    SYSEX_CAF_BASE = 0x00,  // channel pressure
    SYSEX_PAF_BASE = 0x0B,  // key pressure
    SYSEX_MOD_BASE = 0x16,  // modulation wheel
    SYSEX_BEND_BASE = 0x21, // pitch bend
    SYSEX_CC1_BASE = 0x2C,  // controller CC1 (XG: AC1)
    SYSEX_CC2_BASE = 0x37,  // controller CC2 (XG: AC2)
    SYSEX_NOTE_LIMIT_LOW = 0x42,
    SYSEX_NOTE_LIMIT_HIGH = 0x43,
    SYSEX_VEL_LIMIT_LOW = 0x44,
    SYSEX_VEL_LIMIT_HIGH = 0x45,
    SYSEX_DRUM_RX_NOTE_OFF = 0x46,  // note in the pending MSB slot
    SYSEX_DRUM_RX_NOTE_ON = 0x47,   // note in the pending MSB slot
    // Receive switches, in this order.
    SYSEX_RX_PITCH_BEND = 0x48,
    SYSEX_RX_CHANNEL_PRESSURE = 0x49,
    SYSEX_RX_PROGRAM_CHANGE = 0x4A,
    SYSEX_RX_CONTROL_CHANGE = 0x4B,
    SYSEX_RX_POLY_PRESSURE = 0x4C,
    SYSEX_RX_NOTE_MESSAGE = 0x4D,
    SYSEX_RX_RPN = 0x4E,
    SYSEX_RX_NRPN = 0x4F,
    SYSEX_RX_MODULATION = 0x50,
    SYSEX_RX_VOLUME = 0x51,
    SYSEX_RX_PANPOT = 0x52,
    SYSEX_RX_EXPRESSION = 0x53,
    SYSEX_RX_HOLD1 = 0x54,
    SYSEX_RX_PORTAMENTO = 0x55,
    SYSEX_RX_SOSTENUTO = 0x56,
    SYSEX_RX_SOFT = 0x57,
    SYSEX_RX_BANK_SELECT = 0x58,
    SYSEX_RX_BANK_SELECT_LSB = 0x59,
    SYSEX_GM2_REVERB_TYPE = 0x60,  // limited to 8
    SYSEX_GM2_CHORUS_TYPE = 0x61,  // limited to 5
    // System parameters of the GS and XG modules (channel 0).
    SYSEX_MASTER_KEY_SHIFT = 0x62,  // GS master key shift, XG transpose: semitones + 0x40
    SYSEX_MASTER_TUNE = 0x63        // one nibble of the master tune; its index (0..3) in
                                    // the pending MSB slot
};

// Offsets within a controller-depth group.
enum {
    CTRL_DEPTH_PITCH = 0,
    CTRL_DEPTH_FILTER = 1,
    CTRL_DEPTH_AMPLITUDE = 2,
    CTRL_DEPTH_LFO1_RATE = 3,
    CTRL_DEPTH_LFO1_PITCH = 4,
    CTRL_DEPTH_LFO1_FILTER = 5,
    CTRL_DEPTH_LFO1_AMPLITUDE = 6,
    CTRL_DEPTH_LFO2_RATE = 7,
    CTRL_DEPTH_LFO2_PITCH = 8,
    CTRL_DEPTH_LFO2_FILTER = 9,
    CTRL_DEPTH_LFO2_AMPLITUDE = 10
};

// Identifiers of the GS family (ME_SYSEX_GS_LSB, ME_SYSEX_GS_MSB).
enum {
    GS_EQ_SWITCH = 0x00,  // per part
    GS_EQ_LOW_FREQ = 0x01,
    GS_EQ_LOW_GAIN = 0x02,
    GS_EQ_HIGH_FREQ = 0x03,
    GS_EQ_HIGH_GAIN = 0x04,
    GS_REVERB_MACRO = 0x05,
    GS_REVERB_CHARACTER = 0x06,
    GS_REVERB_PRE_LPF = 0x07,
    GS_REVERB_LEVEL = 0x08,
    GS_REVERB_TIME = 0x09,
    GS_REVERB_DELAY_FEEDBACK = 0x0A,
    GS_REVERB_PREDELAY_TIME = 0x0C,
    GS_CHORUS_MACRO = 0x0D,
    GS_CHORUS_PRE_LPF = 0x0E,
    GS_CHORUS_LEVEL = 0x0F,
    GS_CHORUS_FEEDBACK = 0x10,
    GS_CHORUS_DELAY = 0x11,
    GS_CHORUS_RATE = 0x12,
    GS_CHORUS_DEPTH = 0x13,
    GS_CHORUS_SEND_TO_REVERB = 0x14,
    GS_CHORUS_SEND_TO_DELAY = 0x15,
    GS_DELAY_MACRO = 0x16,
    GS_DELAY_PRE_LPF = 0x17,
    GS_DELAY_TIME_CENTER = 0x18,
    GS_DELAY_TIME_RATIO_LEFT = 0x19,
    GS_DELAY_TIME_RATIO_RIGHT = 0x1A,
    GS_DELAY_LEVEL_CENTER = 0x1B,
    GS_DELAY_LEVEL_LEFT = 0x1C,
    GS_DELAY_LEVEL_RIGHT = 0x1D,
    GS_DELAY_LEVEL = 0x1E,
    GS_DELAY_FEEDBACK = 0x1F,
    GS_DELAY_SEND_TO_REVERB = 0x20,
    GS_VELOCITY_SENSE_DEPTH = 0x21,  // per part
    GS_VELOCITY_SENSE_OFFSET = 0x22, // per part
    GS_INSERTION_SWITCH = 0x23,      // per part
    GS_ASSIGN_MODE = 0x24,           // per part
    GS_TONE_MAP0_NUMBER = 0x25,      // per part
    GS_PITCH_OFFSET_FINE = 0x26,     // per part; high nibble in the MSB slot
    GS_INSERTION_TYPE_MSB = 0x27,
    GS_INSERTION_TYPE_LSB = 0x28,
    GS_INSERTION_PARAMETER1 = 0x29,  // parameters 1 to 20: 0x29 to 0x3C
    GS_INSERTION_SEND_REVERB = 0x3D,
    GS_INSERTION_SEND_CHORUS = 0x3E,
    GS_INSERTION_SEND_DELAY = 0x3F,
    GS_INSERTION_CONTROL_SOURCE1 = 0x40,
    GS_INSERTION_CONTROL_DEPTH1 = 0x41,
    GS_INSERTION_CONTROL_SOURCE2 = 0x42,
    GS_INSERTION_CONTROL_DEPTH2 = 0x43,
    GS_INSERTION_SEND_EQ_SWITCH = 0x44,
    GS_RECEIVE_CHANNEL = 0x45,       // a = new channel, 0x80 for none
    GS_PORT_SELECT = 0x46,
    GS_DRUM_PLAY_NOTE = 0x47         // note in the pending MSB slot
};

// Identifiers of the XG family (ME_SYSEX_XG_LSB, ME_SYSEX_XG_MSB).
enum {
    XG_REVERB_RETURN = 0x00,
    // MSB slot identifiers: the LSB that follows carries an effect address as identifier.
    XG_SLOT_EFFECT = 0x01,     // MSB a = address middle byte (block)
    XG_SLOT_INSERTION = 0x02,  // MSB a = insertion block number
    XG_MULTI_EQ_BASE = 0x50,   // multi EQ addresses 02 40 00..14 as 0x50..0x64
    XG_RECEIVE_CHANNEL = 0x65,
    XG_SAME_NOTE_KEY_ON_ASSIGN = 0x66,
    XG_DRY_LEVEL = 0x67,
    XG_DRUM_EG_DECAY1 = 0x68,  // note in the pending MSB slot
    XG_DRUM_EG_DECAY2 = 0x69   // note in the pending MSB slot
};

// Parts that use GS drum map 1 and 2, and the XG drum setups 1 to 6.
extern int rhythm_part[2];
extern int drum_setup_xg[6];

// The per-track chorus-text state (48 bytes; byte 0 = started).
extern uint8 chorus_text_state[48];
void clear_chorus_text_state(void);
int chorus_text_started(void);

// Reader state of the decoders for a new song (drum parts, drum setups, chorus text).
void reset_sysex_reader_state(void);

// Decodes a message that changes the whole machine into one event. val holds the bytes after
// 0xF0 (the closing 0xF7 included). Returns 1 when ev was filled (its time is the caller's).
int parse_sysex_event(const uint8* val, int32 len, MidiEvent* ev);
// Decodes parameter writes into at most MAX_SYSEX_EVENTS events; returns their number.
int parse_sysex_event_multi(const uint8* val, int32 datalen, MidiEvent* evm);

// GS part number of an address block number.
int block_to_part(int block, int port);
// GS reverb macro for an XG reverb type, or -1 for types without an equivalent.
int set_xg_reverb_type(int msb, int lsb);

#endif
