// Conversions of effect parameter values into times, frequencies and gains.
#ifndef CORVELLE_EFFECTS_EFFECT_TABLES_H
#define CORVELLE_EFFECTS_EFFECT_TABLES_H

// A 7-bit parameter value kept in 0..127.
int clip_param(int v);
// GS delay time centre in milliseconds (0.1 to 1000) and left/right ratio (0.04 to 5).
double gs_delay_time_center_ms(int v);
double gs_delay_time_ratio(int v);
// GS equaliser gain in dB (-12..12) from 0x34..0x4C.
double gs_eq_gain_db(int v);
// XG equaliser frequency (parameter 0..60), gain in dB (52..76 is -12..12).
double eq_freq_xg(int v);
double xg_eq_gain_db(int v);
// XG modulation frequency in Hz (0..39.7) and chorus delay offset in ms (0..50).
double xg_lfo_freq(int v);
double xg_delay_offset_ms(int v);

#endif
