// Tuning, volume, pan and waveform tables built once at start-up.
#ifndef CORVELLE_FRONTEND_TABLES_H
#define CORVELLE_FRONTEND_TABLES_H

#include "sysdep.h"

// Frequencies in thousandths of a hertz.
extern int32 freq_table[128];
extern int32 freq_table_tuning[128][128];
extern int32 freq_table_pytha[24][128];
extern int32 freq_table_meantone[48][128];
extern int32 freq_table_pureint[48][128];
extern int32 freq_table_user[4][48][128];

extern double bend_fine[256];
extern double bend_coarse[128];
extern const double sine_table[257];  // a quarter sine wave
extern double triangular_table[257];  // a quarter triangle wave
extern double gm2_pan_table[129];
extern double attack_vol_table[1024];
extern double sb_vol_table[1024];
extern double modenv_vol_table[1024];
extern double def_vol_table[1024];
extern double gs_vol_table[1024];
extern double perceived_vol_table[128];
extern double gm2_vol_table[128];
extern double user_vol_table[128];

struct SpecialPatch;
extern SpecialPatch* special_patch[256];

// The builders, in the order start-up runs them.
void init_freq_table(void);
void init_freq_table_tuning(void);
void init_freq_table_pytha(void);
void init_freq_table_meantone(void);
void init_freq_table_pureint(void);
void init_freq_table_user(void);
void init_bend_fine(void);
void init_bend_coarse(void);
// Seeds the MT19937 generator and builds the triangle table.
void init_triangular_table(void);
void init_gm2_pan_table(void);
void init_attack_vol_table(void);
void init_sb_vol_table(void);
void init_modenv_vol_table(void);
void init_def_vol_table(void);
void init_gs_vol_table(void);
void init_perceived_vol_table(void);
void init_gm2_vol_table(void);
// Built only when an option or a controller asks for a volume curve of this power.
void init_user_vol_table(double power);
// Runs every builder above (except the user volume curve) in order and clears special_patch.
void init_start_tables(void);

// One full period is 1024 steps of phase; both return -1..1.
double lookup_sine(int x);
double lookup_triangular(int x);

// n >= 0: a number in 0..n-1 (0 for n = 0); -1: seed from the time; other negative n: seed -n.
int int_rand(int n);

// Reads 128 frequencies (thousandths of a hertz, white space or commas between them) from
// a file into freq_table; 0 on success, -1 (reported) otherwise.
int load_table(const char* file);

#endif
