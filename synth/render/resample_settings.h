// Which resampler renders voices, and its order.
#ifndef CORVELLE_RENDER_RESAMPLE_SETTINGS_H
#define CORVELLE_RENDER_RESAMPLE_SETTINGS_H

// Resampler indices: positions in `resamplers`.
enum {
    RESAMPLE_CSPLINE = 0,
    RESAMPLE_LAGRANGE,
    RESAMPLE_GAUSS,
    RESAMPLE_NEWTON,
    RESAMPLE_LINEAR,
    RESAMPLE_NONE,
    RESAMPLE_COUNT
};

// Order of the Gauss resampler (gauss_n + 1 taps) and of the Newton resampler (newt_n + 1
// taps, growing up to newt_max + 1 while a voice moves forward).
extern int gauss_n;
extern int newt_n, newt_max;

// Index of cur_resample in resamplers (RESAMPLE_GAUSS at start).
int get_current_resampler(void);
// 0, or -1 when the index is not below RESAMPLE_COUNT (the resampler is kept).
int set_current_resampler(int type);
// Sets the order of the Gauss or Newton resampler; 0 on success, -1 when refused.
int set_resampler_parm(int val);

#endif
