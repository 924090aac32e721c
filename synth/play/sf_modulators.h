// The modulators of SoundFont voices: each one's value from its sources (note, velocity,
// controllers, pressure, bend) through their curves, summed by the generator it moves, and
// what the sums set in the voice. Evaluated when a note starts and when one of its sources
// changes.
#ifndef CORVELLE_PLAY_SF_MODULATORS_H
#define CORVELLE_PLAY_SF_MODULATORS_H

#include "sysdep.h"
#include "readmidi/event.h"

struct SF2Modulator;
struct SF2ModList;

// A curve of the format over 0..1: linear, concave, convex or switch.
double sf_curve(int type, double x);

// The value of a source operand for voice v: 0..1, or -1..1 for a bipolar source; 1 for "no
// controller".
double sf_source_value(uint16 src, int v);

// What one modulator adds to its generator for voice v.
double sf_modulator_value(const SF2Modulator& m, int v);

// The sum of voice v's modulators that move generator `gen` (0 for a voice without a list).
double sf_modulator_sum(int v, int gen);

// Evaluates voice v's modulators and sets what they move: its vibrato, filter cutoff and Q,
// pan, tuning, modulation-LFO depths and effect sends (the amplitude takes the attenuation
// itself, in recompute_amp). `starting`: the note starts (LFO delays begin).
void sf_modulate_voice(int v, bool starting);

// Whether something can move the cutoff of a voice with list l while it sounds: a modulator
// of the cutoff with a controller, pressure or pitch-wheel source, or the modulation LFO.
bool sf_cutoff_can_move(const SF2ModList& l);

// The amplitude factor of voice v's attenuation modulators (velocity, CC7 and CC11 by
// default): 10^(-cB/200), their sum taken within 0..1440 cB.
double sf_modulated_gain(int v);

// The depth of the tremolo for a modulation-LFO-to-volume amount in centibels.
int16 sf_tremolo_depth(double centibels);

// After an event on channel ev->channel: keeps the controller and pressure values that
// modulators read and, unless seeking, modulates the channel's SoundFont voices that follow
// the changed source again and recomputes their pitch, filter and amplitude.
void sf_channel_event(const MidiEvent* ev, bool seeking);

// The controller and pressure values of channel ch back to their defaults.
void sf_reset_controls(int ch);

#endif
