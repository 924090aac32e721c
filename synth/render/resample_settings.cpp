// The resampler in use and the orders of the Gauss and Newton resamplers.
#include "render/resample_settings.h"

#include "render/resample.h"

int gauss_n = 25;
int newt_n = 11;
int newt_max = 13;

const resampler_t resamplers[RESAMPLE_COUNT] = {resample_cspline, resample_lagrange,
                                                resample_gauss,   resample_newton,
                                                resample_linear,  resample_none};

resampler_t cur_resample = resample_gauss;

int get_current_resampler(void)
{
    for (int i = 0; i < RESAMPLE_COUNT; i++)
        if (resamplers[i] == cur_resample)
            return i;
    return 0;
}

int set_current_resampler(int type)
{
    if (type < 0 || type >= RESAMPLE_COUNT)
        return -1;
    cur_resample = resamplers[type];
    return 0;
}

int set_resampler_parm(int val)
{
    if (cur_resample == resample_gauss) {
        if (val < 1 || val > 34)
            return -1;
        gauss_n = val;
    } else if (cur_resample == resample_newton) {
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
