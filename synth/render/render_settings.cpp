// Rendering settings that options change: control period, block size, output rate,
// amplification and the voice filter.
#include "frontend/options.h"

int32 control_ratio = 0;  // 0: derived from the output rate at start
int32 opt_control_ratio = 0;
int32 opt_output_rate = 0;  // 0: the output mode's own rate
int opt_buffer_fragments = -1;
int audio_buffer_bits = 12;
int no_4point_interpolation = 0;
int opt_lpf_def = 1;
int32 amplification = 70;
int opt_drum_power = 100;
int opt_amp_compensation = 0;
int adjust_panning_immediately = 1;
int opt_user_volume_curve = 0;
