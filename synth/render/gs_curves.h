// Level, pan, envelope-time and filter-resonance curves of the GS sound module that voices
// follow in GS mode (and the filter in every mode).
#ifndef CORVELLE_RENDER_GS_CURVES_H
#define CORVELLE_RENDER_GS_CURVES_H

#include "sysdep.h"

// Velocity and volume/expression curves: 0 at index 0, 127.0 at index 127.
extern double sc_vel_table[128];
extern double sc_vol_table[128];
// Pan gain of one side: 0 at indices 0 and 1, 128.0 at 127 and 128.
extern double sc_pan_table[129];
// Drum TVA level curve: i * i / 127, index 0 as index 1.
extern double sc_drum_level_table[128];
// Rate multipliers of the envelope-time controls: 1.0 at 64, falling with the index.
extern float sc_eg_attack_table[128];
extern float sc_eg_decay_table[128];
extern float sc_eg_release_table[128];
// Q of the state-variable voice filter by resonance in quarter decibels (0..96).
extern float chamberlin_filter_db_to_q_table[97];

#endif
