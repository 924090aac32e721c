// What the player asks of voice rendering when a voice starts, is released or its channel
// changes: pitch, amplitude, filter, envelopes, tunings, the master amplification and the
// resample cache's note accounting.
#ifndef CORVELLE_RENDER_VOICE_PARAMS_H
#define CORVELLE_RENDER_VOICE_PARAMS_H

#include "sysdep.h"

struct Sample;
struct midi_controller;

// Whether a voice of sample sp runs its modulation envelope and the tremolo's pitch and filter
// depths: for every sample with the modulation-envelope option, and always for a SoundFont
// sample that routes its modulation envelope or LFO to pitch or cutoff (by a generator or a
// modulator).
bool modulation_applies(const Sample* sp);

// Pitch, amplitude and filter of voice v from its sample, channel and the options.
void recompute_freq(int v);
void recompute_amp(int v);
void recompute_voice_filter(int v);
// The channel's cutoff coefficient and resonance offset for a note about to start.
void recompute_channel_filter(int ch, int note);
// The level ratio of a drum note's TVA level setting.
double calc_drum_tva_level(int ch, int note, int level);
// The pitch ratio of a drum note's play-note setting (1.0 when it has none).
double get_play_note_ratio(int ch, int note);
// Output samples per vibrato phase step at a vibrato rate in Hz.
double cnv_Hz_to_vib_ratio(double freq);
// Frequency (thousandths of a hertz) of note n with the sample's scale tuning.
int32 get_note_freq(const Sample* sp, int n);
// The channel's velocity-sense depth and offset applied to a velocity (0..127).
int calc_velocity(int ch, int vel);
// Frequency ratio of a pitch offset in 1/8192 semitone, from the bend tables.
double pitch_offset_ratio(int32 t);

// What the modulation sources (modulation wheel, bend, channel and key pressure, the two
// assignable controllers) of a channel contribute, one source at a time.
int32 get_midi_controller_pitch(const midi_controller* p);
int16 get_midi_controller_pitch_depth(const midi_controller* p);
float get_midi_controller_amp(const midi_controller* p);
int16 get_midi_controller_amp_depth(const midi_controller* p);
float get_midi_controller_filter_cutoff(const midi_controller* p);
float get_midi_controller_filter_depth(const midi_controller* p);

// Envelopes: 1 when the voice has been freed (or the modulation envelope ended), else 0.
int recompute_envelope(int v);
int apply_envelope_to_amp(int v);
int recompute_modulation_envelope(int v);
void apply_modulation_envelope(int v);
// One control period of a voice: envelopes, tremolo and gains; 1 when the voice was freed.
int update_signal(int v);
// Its tremolo and its modulation envelope alone (delay_counter samples have passed).
void update_tremolo(int v);
void update_modulation_envelope(int v);
// Whether the modulation envelope or the modulation LFO of SoundFont voice v moves its pitch or
// cutoff audibly over the next count frames: the mixer then resamples and filters it one
// control period at a time, so that each period sounds with its own step and coefficients.
bool modulation_moves_voice(int v, int32 count);
// The GS stage (0 attack, 2 decay, 3 release...) whose time control applies to a stage.
int get_eg_stage(int v, int stage);
// Sets the channel's envelope-time control of a GS stage (value 0..127, 64 neutral).
void set_envelope_time(int ch, int val, int stage);

// MIDI tuning messages and user temperaments.
void set_single_note_tuning(int part, int a, int b, int rt);
void set_user_temper_entry(int part, int a, int b);

// The master amplification: amplification (percent) x master_volume_ratio (0..65535, the
// song's master volume) x compensation_ratio.
extern double master_volume;
extern int32 master_volume_ratio;
extern double compensation_ratio;
void adjust_amplification(void);

// The resample cache: emptied, fed with how long each (sample, note) sounds during the
// pre-scan, then built.
void resamp_cache_reset(void);
void resamp_cache_refer_on(int v, int32 sample_start);
void resamp_cache_refer_off(int ch, int note, int32 sample_end);
void resamp_cache_refer_alloff(int ch, int32 sample_end);
void resamp_cache_create(void);

// One (sample, note) pair of the resample cache: how long it sounded in the pre-scan, the
// resampled length per sample played, and the sample resampled at the note's pitch (none
// until built).
struct cache_hash {
    int note;
    Sample* sp;
    int32 cnt, longest;  // all the pre-scan's notes together and the longest one, output samples
    int32 notes;         // how many
    double r;  // resampled frames per output sample played; the smallest are cached first
    Sample* resampled;
    cache_hash* next;
    int32 order;  // the pre-scan met the pair as the order-th: settles which is cached first
};
// The pair's entry when it has a resampled sample a new voice can play, else none.
cache_hash* resamp_cache_fetch(Sample* sp, int note);

#endif
