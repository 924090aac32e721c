// Which resampler renders voices, and its order.
#ifndef CORVELLE_RENDER_RESAMPLE_SETTINGS_H
#define CORVELLE_RENDER_RESAMPLE_SETTINGS_H

// Resampler indices
enum {
    RESAMPLE_CSPLINE = 0,
    RESAMPLE_LAGRANGE,
    RESAMPLE_GAUSS,
    RESAMPLE_NEWTON,
    RESAMPLE_LINEAR,
    RESAMPLE_NONE,
    RESAMPLE_COUNT
};

extern int gauss_n;
extern int newt_n, newt_max;

// Index of the resampler in use (RESAMPLE_GAUSS at start).
int get_current_resampler(void);
// 0, or -1 when the index is not below RESAMPLE_COUNT (the resampler is kept).
int set_current_resampler(int type);
// Sets the order of the Gauss or Newton resampler; 0 on success, -1 when refused.
int set_resampler_parm(int val);

#endif
