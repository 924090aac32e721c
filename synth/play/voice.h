// The voice pool: the records that sound notes, their status values, and the operations that
// release, kill, free and count them.
#ifndef CORVELLE_PLAY_VOICE_H
#define CORVELLE_PLAY_VOICE_H

#include "sysdep.h"
#include "readmidi/event.h"

struct Sample;

// Voice status values: exactly one bit is set in a record.
enum {
    VOICE_FREE = 1,
    VOICE_ON = 2,
    VOICE_SUSTAINED = 4,
    VOICE_OFF = 8,
    VOICE_DIE = 16
};

// Pan modes of a voice.
enum { PAN_STEREO = 0, PAN_LEFT = 1, PAN_RIGHT = 2, PAN_CENTER = 3 };

// The low-pass filter of a voice: its cutoff and resonance now and as started, its kind
// (0 off) and the gain that compensates the resonance.
struct FilterCoefficients {
    int16 freq, orig_freq;
    double reso_dB, orig_reso_dB;
    int8 type;
    float gain;
    int8 start_flag;
};

struct Voice {
    uint8 status, channel, note, velocity;
    int32 vid, temper_instant;
    Sample* sample;
    int64 sample_offset;
    int32 orig_frequency, frequency, sample_step;
    int32 envelope_volume, envelope_target, envelope_increment;
    int32 tremolo_sweep, tremolo_sweep_position, tremolo_phase, tremolo_phase_increment;
    int32 vibrato_sweep, vibrato_sweep_position;
    int32 left_mix, right_mix;
    int32 old_left_mix, old_right_mix, left_mix_offset, right_mix_offset, left_mix_inc,
        right_mix_inc;
    double left_amp, right_amp, tremolo_volume;
    int32 vibrato_step_table[32];
    int32 vibrato_delay;
    int32 vibrato_phase, orig_vibrato_control_ratio, vibrato_control_ratio, vibrato_depth,
        vibrato_control_counter;
    int32 envelope_stage, control_counter;
    int32 panning, pan_mode;
    int16 tremolo_depth;
    int32 porta_control_ratio, porta_control_counter, porta_dpb, porta_pb;
    int32 delay;
    int32 timeout;  // -1 from note start; 1: the sample ended, freed after the block
    void* cache;
    uint16 chorus_link;  // wide enough for every voice the polyphony option allows
    int8 newest_of_note;
    FilterCoefficients filter;
    double envelope_scale, last_envelope_volume;
    int32 inv_envelope_scale;
    int32 modenv_stage;
    int32 modenv_volume, modenv_target, modenv_increment;
    double last_modenv_volume;
    int32 tremolo_delay, modenv_delay;
    int32 delay_counter;
    int32* pan_delay_buf;
    int32 pan_delay_length, pan_delay_write, pan_delay_read;
    // A SoundFont voice's own sends: the share of its output fed to the reverb (0..1) and the
    // gain to the chorus (its share 0..1 times its font's chorus return, up to 16), from its
    // zone's sends and its channel's CC91/CC93. Negative for voices that follow their
    // channel's send levels (patches).
    float reverb_send, chorus_send;
    // What a SoundFont voice's modulators set beyond its zone (play/sf_modulators.cpp): its
    // tuning in cents, and its modulation LFO's depths to pitch and cutoff (cents) and to
    // volume (centibels).
    float sf_tune, sf_mod_lfo_pitch, sf_mod_lfo_fc, sf_mod_lfo_volume;
};

// The pool (max_voices and voices are option settings, see frontend/options.h).
extern Voice* voice;
extern int upper_voices;
extern int32 cut_notes, lost_notes;
extern uint8 vidq_head[128 * MAX_CHANNELS], vidq_tail[128 * MAX_CHANNELS];
extern int prescanning_flag;

// The note a channel plays for an event's key: transposed on melodic channels.
int effective_note(int ch, int note);
// How loud a voice is for stealing: its left gain, or the right one when that is louder on a
// stereo voice.
int32 voice_loudness(const Voice& v);
// A drum voice whose sample has a fixed note is only stolen when nothing else can go.
int is_protected_drum(const Voice& v);
// The quietest voice below `end` that take(v) accepts (the lowest index among equals), or -1.
int quietest_voice(int end, int (*take)(int v));

// Note-on and note-off on the voice side (the player calls the note hook itself).
void note_on(MidiEvent* e);
void note_off(MidiEvent* e);
// The channel and drum filters a note-on passes before it may sound.
int note_on_allowed(const MidiEvent* e);

void finish_note(int v);
void kill_note(int v);
void free_voice(int v);
void drop_sustain(int ch);
void all_notes_off(int ch);
void all_sounds_off(int ch);
void kill_all_voices(void);
void reset_voices(void);
// A record for a new voice of the event's note, after the same-key, mono and alternate-assign
// rules have ended the voices it replaces.
int find_voice(MidiEvent* e);
// Steals a voice; returns its index (freed).
int reduce_voice(void);
void voice_increment(int n);
void voice_decrement(int n);
void voice_decrement_conservative(int n);
void restore_voices(int save_voices);
// Voices below upper_voices that are not free.
int count_active_voices(void);
// Lowers upper_voices past the free records at its top.
void trim_upper_voices(void);

// Started voices of a note: fills voicelist (room for MAX_VOICES_PER_NOTE) with their
// indices (the instrument side).
#define MAX_VOICES_PER_NOTE 256
int find_samples(MidiEvent* e, int* voicelist);
// Chooses among num_samples samples by pitch and velocity and gives each chosen one a voice
// (status VOICE_ON, sample and orig_frequency set); *note may move to the note nearest a
// tuning program's pitch. Returns the number of voices in vlist.
int select_play_sample(Sample* base_sp, int num_samples, int* note, int* vlist, MidiEvent* e);
// Initialises voice v for the event; remaining voices of the note still to start.
void start_note(MidiEvent* e, int v, int vid, int remaining);
int get_panning(int ch, int note, int v);

// Pan delay: the later side of a voice off centre waits up to half a millisecond.
extern int opt_pan_delay;
extern float pan_delay_table[128];
void init_voice_pan_delay(int v);
// Surround chorus: voice v gets a partner at 0.7 of its velocity, spread apart in pan and a
// few milliseconds later.
void surround_chorus_double(int v);

// Control events about voices (the voice's status, channel, note and velocity; the time and
// the voices in use).
void ctl_note_event(int noteID);
void ctl_timestamp(void);

#endif
