// Resampling: the voice resamplers and the conversion of a whole sample to the output rate.
#ifndef CORVELLE_RENDER_RESAMPLE_H
#define CORVELLE_RENDER_RESAMPLE_H

#include "instrum/instrum.h"

// Converts a sample with a fixed note to the output rate, in place, so that it plays at
// that note without resampling. Not built yet: the patch loader calls it only when
// CORVELLE_HAVE_PRE_RESAMPLE is defined.
void pre_resample(Sample* sp);

#endif
