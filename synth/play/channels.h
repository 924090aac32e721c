// The 32 channel records: controllers, RPN/NRPN state, limits and per-note drum settings, with
// the operations that reset them, change programs and parameters, and push a changed setting
// to the channel's sounding voices.
#ifndef CORVELLE_PLAY_CHANNELS_H
#define CORVELLE_PLAY_CHANNELS_H

#include <cstddef>

#include "sysdep.h"

struct AlternateAssign;

// Settings of one modulation source (modulation wheel, pitch bend, channel and key pressure,
// the two assignable controllers): its current value and how it acts on pitch, filter and
// amplitude directly and through the two LFOs.
struct midi_controller {
    int16 val;
    int8 pitch;    // semitones
    int16 cutoff;  // cents
    float amp;
    float lfo1_rate;
    int16 lfo1_pitch_depth;  // cents
    int16 lfo1_tvf_depth;    // cents
    float lfo1_tva_depth;
    float lfo2_rate;
    int16 lfo2_pitch_depth;
    int16 lfo2_tvf_depth;
    float lfo2_tva_depth;
};

// The XG part equaliser of a channel (gains and frequencies as the song sends them).
struct part_eq_xg {
    int8 bass, treble, bass_freq, treble_freq;
    int8 valid;
};

// Receive flags of a channel (its receive switches) and of a drum note (note-on, note-off).
enum {
    RX_PITCH_BEND = 1 << 0,
    RX_CH_PRESSURE = 1 << 1,
    RX_PROGRAM_CHANGE = 1 << 2,
    RX_CONTROL_CHANGE = 1 << 3,
    RX_POLY_PRESSURE = 1 << 4,
    RX_NOTE_MESSAGE = 1 << 5,
    RX_RPN = 1 << 6,
    RX_NRPN = 1 << 7,
    RX_MODULATION = 1 << 8,
    RX_VOLUME = 1 << 9,
    RX_PANPOT = 1 << 10,
    RX_EXPRESSION = 1 << 11,
    RX_HOLD1 = 1 << 12,
    RX_PORTAMENTO = 1 << 13,
    RX_SOSTENUTO = 1 << 14,
    RX_SOFT = 1 << 15,
    RX_NOTE_ON = 1 << 16,
    RX_NOTE_OFF = 1 << 17,
    RX_BANK_SELECT = 1 << 18,
    RX_BANK_SELECT_LSB = 1 << 19
};

// The pending MSB slot of each family of system-exclusive parameters: the MSB event of a
// two-part parameter leaves its identifier and value here for the LSB event that follows.
enum { SYSEX_SLOT_OTHER = 0, SYSEX_SLOT_GS = 1, SYSEX_SLOT_XG = 2 };
struct SysexSlot {
    int16 id;  // -1: empty
    uint8 val;
};

// Per-note drum settings, created on demand for a drum channel's note.
struct DrumParts {
    int8 drum_panning;            // -1: not set
    int32 drum_envelope_rate[6];  // -1: none
    int8 pan_random;
    float drum_level;
    int8 chorus_level, reverb_level, delay_level;  // -1: taken from the drum set
    int8 coarse, fine;
    int8 play_note;  // -1: none
    int8 drum_cutoff_freq, drum_resonance;
    uint32 rx;
};

// Indices of the parameter table (last_rpn_addr, update_rpn_map).
enum {
    NRPN_ADDR_0108 = 0,   // vibrato rate
    NRPN_ADDR_0109,       // vibrato depth
    NRPN_ADDR_010A,       // vibrato delay
    NRPN_ADDR_0120,       // filter cutoff
    NRPN_ADDR_0121,       // filter resonance
    NRPN_ADDR_0130,       // EQ bass gain
    NRPN_ADDR_0131,       // EQ treble gain
    NRPN_ADDR_0134,       // EQ bass frequency
    NRPN_ADDR_0135,       // EQ treble frequency
    NRPN_ADDR_0163,       // envelope attack
    NRPN_ADDR_0164,       // envelope decay
    NRPN_ADDR_0166,       // envelope release
    NRPN_ADDR_1400,       // drum filter cutoff
    NRPN_ADDR_1500,       // drum filter resonance
    NRPN_ADDR_1600,       // drum attack
    NRPN_ADDR_1700,       // drum decay
    NRPN_ADDR_1800,       // drum pitch coarse
    NRPN_ADDR_1900,       // drum pitch fine
    NRPN_ADDR_1A00,       // drum level
    NRPN_ADDR_1C00,       // drum panning
    NRPN_ADDR_1D00,       // drum reverb send
    NRPN_ADDR_1E00,       // drum chorus send
    NRPN_ADDR_1F00,       // drum delay send
    NRPN_ADDR_3000,       // drum settings created, no effect (four entries)
    NRPN_ADDR_3100,
    NRPN_ADDR_3400,
    NRPN_ADDR_3500,
    RPN_ADDR_0000,        // pitch-bend sensitivity
    RPN_ADDR_0001,        // master fine tuning
    RPN_ADDR_0002,        // master coarse tuning
    RPN_ADDR_0003,        // tuning program select
    RPN_ADDR_0004,        // tuning bank select
    RPN_ADDR_0005,        // modulation depth range
    RPN_ADDR_7F7F,        // lock
    RPN_ADDR_FFFF,        // parameter reset
    RPN_MAX_DATA_ADDR
};

// One MIDI channel (channel c is MIDI channel c % 16 of port c / 16). The note view reads the
// limits and the key shift by these names.
struct Channel {
    int8 bank_msb, bank_lsb, bank, program, volume, expression, sustain, panning, mono, portamento;
    int8 key_shift;
    int8 loop_timeout;
    int8 chorus_level, reverb_level;
    int reverb_id;  // -1: to be recomputed
    int8 delay_level;
    int8 eq_gs, insertion_effect;
    int8 special_sample;
    int32 pitchbend;
    double pitchfactor;  // 0: recompute
    int8 portamento_time_msb, portamento_time_lsb;
    int32 porta_control_ratio, porta_dpb;
    int32 last_note_fine;  // portamento start pitch in 1/256 semitone, -1: none
    DrumParts* drums[128];
    int32 vibrato_depth, vibrato_delay;
    float vibrato_ratio;
    uint8 rpnmap[RPN_MAX_DATA_ADDR];
    uint8 rpnmap_lsb[RPN_MAX_DATA_ADDR];
    int8 lastlrpn, lastmrpn, nrpn;
    int32 rpn_7f7f_flag;
    int32 envelope_rate[6];  // -1: no override
    int32 mapID;
    AlternateAssign* altassign;
    int32 lasttime;  // sample time of the last seek or of the last rendered voice
    int32 pan_random;
    int8 param_resonance, param_cutoff_freq;
    float cutoff_freq_coef, resonance_dB;
    int8 velocity_sense_depth, velocity_sense_offset;
    int8 scale_tuning[12], prev_scale_tuning;
    int8 temper_type;
    int8 soft_pedal, sostenuto, damper_mode;
    int8 tone_map0_number;
    int8 assign_mode;
    int8 legato, legato_flag;
    midi_controller mod, bend, caf, paf, cc1, cc2;
    uint32 channel_layer;  // bit c set: this channel plays what arrives on channel c
    int32 port_select;     // port whose events this channel takes
    part_eq_xg eq_xg;
    int8 note_limit_high, note_limit_low;
    int8 vel_limit_high, vel_limit_low;
    uint32 rx;
    int8 drum_effect_flag;
    int8 dry_level;            // XG dry level, 127 when untouched
    double pitch_offset_fine;  // GS pitch offset fine, Hz added to every voice's frequency
    SysexSlot sysex_slot[3];   // pending MSB slots: other, GS, XG
};

extern Channel channel[MAX_CHANNELS];

// The note view reads the limits and the key shift on the window's thread while the playback
// thread changes them. The playback thread writes them with set_view_field and the window reads
// them with view_field: each byte is written and read whole (relaxed atomic access to the plain
// field), so neither side needs a lock.
inline int view_field(const int8& field)
{
    return __atomic_load_n(&field, __ATOMIC_RELAXED);
}
inline void set_view_field(int8& field, int value)
{
    __atomic_store_n(&field, (int8)value, __ATOMIC_RELAXED);
}

// The reverb send a channel gets when the song sets none.
#define DEFAULT_REVERB_SEND_LEVEL 40

// Display name of the instrument channel ch plays; the text belongs to the engine.
const char* channel_instrum_name(int ch);

// The instrument names the window shows. The playback thread copies a channel's name here when
// the song starts and whenever the channel's program changes; the window's thread reads the
// copies and never the channel records or instrument texts that the playback thread changes
// and frees. The count grows with every change, so the window can tell when to look again.
void publish_channel_instrum_name(int ch);
void published_channel_instrum_name(int ch, char* out, size_t size);
unsigned published_channel_instrum_names_count(void);

// Controller defaults of channel c (controller 121 and every MIDI reset).
void reset_controllers(int c);
// All 32 channels back to their defaults; with playing set the sounding voices are killed,
// otherwise the voice pool is cleared.
void reset_midi(int playing);
// Bit c of every channel's layer mask and its own port.
void init_channel_layer(int c);
// The drum settings of note (or of every note with -1) back to their defaults.
void reset_drum_controllers(DrumParts* d[], int note);
// Creates the drum settings of channel ch's note when missing.
void play_midi_setup_drums(int ch, int note);
// Forgets the drum settings of every channel (end of a song).
void free_drum_settings(void);

void midi_program_change(int ch, int prog);
// Index in the parameter table of channel ch's last RPN/NRPN select, or -1.
int last_rpn_addr(int ch);
// Applies the stored value of parameter addr; with update_now the sounding voices follow.
void update_rpn_map(int ch, int addr, int update_now);

// Before a note starts: the tone-bank entry's legato, damper and timeout settings (melodic)
// or the drum set's effect sends (drums).
void recompute_bank_parameter(int ch, int note);

void update_portamento_controls(int ch);
void update_portamento_time(int ch);
void drop_portamento(int ch);

// Push a changed channel setting to its sounding voices.
void adjust_volume(int ch);
void adjust_pitch(int ch);
void adjust_panning(int ch);
void update_channel_freq(int ch);

// The reverb send: set_reverb_level(ch, -1) returns the channel to the default.
void set_reverb_level(int ch, int level);
int get_reverb_level(int ch);

// Receive flags.
void set_rx(int ch, int32 rx, int flag);
void set_rx_drum(DrumParts* p, int32 rx, int flag);
int32 get_rx_drum(DrumParts* p, int32 rx);

#endif
