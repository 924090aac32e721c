// Resampling: the voice resamplers and the conversion of a whole sample to the output rate.
#ifndef CORVELLE_RENDER_RESAMPLE_H
#define CORVELLE_RENDER_RESAMPLE_H

#include "instrum/instrum.h"

// Converts a sample with a fixed note to the output rate, in place, so that it plays at
// that note without resampling. Not built yet: the patch loader calls it only when
// CORVELLE_HAVE_PRE_RESAMPLE is defined.
void pre_resample(Sample* sp);

// Gauss resampler weights: gauss_table[f][k] is the weight of tap k (of gauss_n + 1) at the
// fractional position f (12 bits) between two samples.
extern float* gauss_table[1 << FRACTION_BITS];
// Builds the weights for n + 1 taps (the block is made anew on every call).
void initialize_gauss_table(int n);
// Builds what the resamplers need for the current settings.
void initialize_resampler_coeffs(void);

#endif
