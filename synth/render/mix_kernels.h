// The inner loops of voice mixing: a run of resampled values times a gain that moves by a
// fixed step per sample, added into 32-bit buffer values that hold at their limits. Each loop
// has a scalar form that defines the result (mix_kernels.cpp) and an SSE2 form that gives the
// same values bit for bit (mix_kernels_sse2.cpp); mix_kernels_vector tells which one runs.
#ifndef CORVELLE_RENDER_MIX_KERNELS_H
#define CORVELLE_RENDER_MIX_KERNELS_H

#include "sysdep.h"

// out[i * stride] += (g + i * inc) * s[i] for i < n, each sum held within the 32-bit range.
void mix_gain_run1(int32* out, int stride, const int32* s, int32 n, int32 g, int32 inc);
void mix_gain_run1_scalar(int32* out, int stride, const int32* s, int32 n, int32 g, int32 inc);
void mix_gain_run1_sse2(int32* out, int stride, const int32* s, int32 n, int32 g, int32 inc);

// An interleaved stereo pair per sample: out[2i] += (gl + i * incl) * s[i] and
// out[2i + 1] += (gr + i * incr) * s[i], held within the 32-bit range.
void mix_gain_run2(int32* out, const int32* s, int32 n, int32 gl, int32 incl, int32 gr,
                   int32 incr);
void mix_gain_run2_scalar(int32* out, const int32* s, int32 n, int32 gl, int32 incl, int32 gr,
                          int32 incr);
void mix_gain_run2_sse2(int32* out, const int32* s, int32 n, int32 gl, int32 incl, int32 gr,
                        int32 incr);

// The two halves of a stereo pair per sample, each into its own side: out[2i] += (gl + i *
// incl) * sl[i] and out[2i + 1] += (gr + i * incr) * sr[i], held within the 32-bit range.
void mix_gain_pair(int32* out, const int32* sl, const int32* sr, int32 n, int32 gl, int32 incl,
                   int32 gr, int32 incr);
void mix_gain_pair_scalar(int32* out, const int32* sl, const int32* sr, int32 n, int32 gl,
                          int32 incl, int32 gr, int32 incr);
void mix_gain_pair_sse2(int32* out, const int32* sl, const int32* sr, int32 n, int32 gl,
                        int32 incl, int32 gr, int32 incr);

// True when mix_gain_run1, mix_gain_run2 and mix_gain_pair take the SSE2 forms.
bool mix_kernels_vector(void);

#endif
