#include "render/resample_settings.h"

int gauss_n = 25;
int newt_n = 11;
int newt_max = 13;

static int current_resampler = RESAMPLE_GAUSS;

int get_current_resampler(void)
{
    return current_resampler;
}

int set_current_resampler(int type)
{
    if (type < 0 || type >= RESAMPLE_COUNT)
        return -1;
    current_resampler = type;
    return 0;
}

int set_resampler_parm(int val)
{
    if (current_resampler == RESAMPLE_GAUSS) {
        if (val < 1 || val > 34)
            return -1;
        gauss_n = val;
    } else if (current_resampler == RESAMPLE_NEWTON) {
        if (val < 1 || val > 57 || val % 2 == 0)
            return -1;
        newt_n = val;
        newt_max = (int)(val * 1.57730263158 - 1.875328947);
        if (newt_max < newt_n)
            newt_max = newt_n;
        if (newt_max > 57)
            newt_max = 57;
    }
    return 0;
}
