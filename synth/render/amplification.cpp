// The master amplification shared by every voice.
#include "frontend/options.h"
#include "render/voice_params.h"

double master_volume = 0.7;
int32 master_volume_ratio = 0xFFFF;
double compensation_ratio = 1.0;

void adjust_amplification(void)
{
    master_volume = (double)amplification / 100.0 * (double)master_volume_ratio *
                    (compensation_ratio / 0xFFFF);
}
