// The mixer's side of a voice's low-pass filter: the coefficients last made for it and the
// filter's history, and the filtering of one span of resampled data.
#ifndef CORVELLE_RENDER_VOICE_FILTER_H
#define CORVELLE_RENDER_VOICE_FILTER_H

#include "sysdep.h"
#include "render/filter_kernels.h"

// Kept per voice index beside the voice record; cleared when a note starts its filter.
struct VoiceFilterState {
    int16 last_freq;      // cutoff the coefficients were made for, Hz; -1: make them anew
    double last_reso_dB;  // resonance they were made for, dB
    double reso_lin;      // resonance factor of the ladder filter, 0..0.9
    int32 f, q, p;        // coefficients, Q24
    int32 b0, b1, b2, b3, b4;  // history in the resampled values' scale: low, high, band of
                               // the state-variable filter; the ladder's input and four poles
    TwoPoleCoefs two_pole;  // coefficients of the two-pole filter, linear
    float s[2];             // its two states, in the resampled values' scale
};

// Filter kinds of FilterCoefficients::type: none, the state-variable filter of patches, the
// four-pole ladder, and the two-pole filter of SoundFont voices (12 dB per octave, stable
// up to the Nyquist frequency).
enum { FILTER_NONE = 0, FILTER_SVF = 1, FILTER_LADDER = 2, FILTER_TWO_POLE = 3 };

// A SoundFont zone's cutoff at the top of its range (13500 cents), Hz: the filter is open there.
#define SF_OPEN_CUTOFF_HZ 19912

VoiceFilterState& voice_filter_state(int v);

// Filters count values of voice v (filter type 1 or 2) from in to out (may be the same).
void run_voice_filter(int v, const int32* in, int32* out, int32 count);
// Filters nv values of voice v and nw values of voice w (both with a filter) as
// run_voice_filter does each, the two side by side while both have values.
void run_voice_filters(int v, const int32* in_v, int32* out_v, int32 nv, int w,
                       const int32* in_w, int32* out_w, int32 nw);
// Filters count[j] values of each of the k voices v[j] (all with a filter) from in[j] to
// out[j], as run_voice_filter does each, several side by side.
void run_voice_filter_group(int k, const int* v, const int32* const* in, int32* const* out,
                            const int32* count);

#endif
