// Effect switches that options change.
#include "frontend/options.h"

int opt_reverb_control = 3;
int opt_chorus_control = 1;
int opt_surround_chorus = 0;
int opt_delay_control = 0;
int opt_eq_control = 0;
int opt_insertion_effect = 0;
int effect_lr_mode = -1;  // -1 off, 0 left, 1 right, 2 both
int effect_lr_delay_msec = 25;
int noise_sharp_type = 4;
