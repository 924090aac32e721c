// Resampling: the voice resamplers and the conversion of a whole sample to the output rate.
#ifndef CORVELLE_RENDER_RESAMPLE_H
#define CORVELLE_RENDER_RESAMPLE_H

#include "instrum/instrum.h"

struct Voice;

// One resampled output value (16-bit scale, not limited).
typedef int32 resample_t;

// The loop a resampler may read within.
struct resample_rec_t {
    splen_t loop_start, loop_end;  // positions in the data, FRACTION_BITS fraction bits
    splen_t data_length;           // length of the data, FRACTION_BITS fraction bits
};

// A resampler: the value of the data at the fixed-point position `ofs`.
typedef resample_t (*resampler_t)(const sample_t* src, splen_t ofs, const resample_rec_t* rec);

resample_t resample_cspline(const sample_t* src, splen_t ofs, const resample_rec_t* rec);
resample_t resample_lagrange(const sample_t* src, splen_t ofs, const resample_rec_t* rec);
resample_t resample_gauss(const sample_t* src, splen_t ofs, const resample_rec_t* rec);
resample_t resample_newton(const sample_t* src, splen_t ofs, const resample_rec_t* rec);
resample_t resample_linear(const sample_t* src, splen_t ofs, const resample_rec_t* rec);
resample_t resample_none(const sample_t* src, splen_t ofs, const resample_rec_t* rec);

// n values of a sample as they are, for a voice played at its recorded pitch and rate:
// out[k] = data[k]. The scalar form defines the result (resample.cpp), the SSE2 form gives
// the same (resamplers_sse2.cpp).
void copy_samples(resample_t* out, const sample_t* data, int64 n);
void copy_samples_scalar(resample_t* out, const sample_t* data, int64 n);
void copy_samples_sse2(resample_t* out, const sample_t* data, int64 n);

// out[k] = resample_gauss(src, ofs + k * incr, rec) for k < n. The scalar form defines the
// result (resamplers.cpp); the SSE2 form works on four outputs at a time with the same
// rounding (resamplers_sse2.cpp). The forms expect the weights made for gauss_n, which
// resample_gauss_run sees to.
void resample_gauss_run(const sample_t* src, int64 ofs, int32 incr, int32 n, resample_t* out,
                        const resample_rec_t* rec);
void resample_gauss_run_scalar(const sample_t* src, int64 ofs, int32 incr, int32 n,
                               resample_t* out, const resample_rec_t* rec);
void resample_gauss_run_sse2(const sample_t* src, int64 ofs, int32 incr, int32 n,
                             resample_t* out, const resample_rec_t* rec);

// True when resample_gauss_run and copy_samples take the SSE2 forms.
bool resample_kernels_vector(void);

// The resamplers in selection order (see resample_settings.h for the indices).
extern const resampler_t resamplers[];
// The resampler in use (resample_gauss at start).
extern resampler_t cur_resample;
// Calls cur_resample.
resample_t do_resamplation(const sample_t* src, splen_t ofs, const resample_rec_t* rec);

// The output of one resample_voice call.
#define RESAMPLE_BUFFER_SIZE 4096
extern resample_t resample_buffer[RESAMPLE_BUFFER_SIZE];
extern int resample_buffer_offset;

// Loop modes of one resample_voice call.
enum { RESAMPLE_MODE_LOOP = 0, RESAMPLE_MODE_PLAIN = 1, RESAMPLE_MODE_BIDIR = 2 };

// The next *countptr (at most RESAMPLE_BUFFER_SIZE) output samples of voice v at its pitch,
// with its loop, vibrato and portamento; returns resample_buffer. *countptr shrinks when the
// sample ends (the voice's timeout is then 1).
resample_t* resample_voice(int v, int32* countptr);

// The pieces of resample_voice: render *countptr values at resample_buffer +
// resample_buffer_offset in one loop mode, with a fixed step or with vibrato.
resample_t* normal_resample_voice(int v, int32* countptr, int mode);
resample_t* vib_resample_voice(int v, int32* countptr, int mode);

// The voice's next sample step at a vibrato control point (negated when playing backwards).
int32 update_vibrato(Voice* vp, int backwards);

// Converts a sample with a fixed note to the output rate, in place, so that it plays at
// that note without resampling; a sample too long for it is left as it is.
void pre_resample(Sample* sp);

// Gauss resampler weights: gauss_table[f][k] is the weight of tap k (of gauss_n + 1) at the
// fractional position f (12 bits) between two samples.
extern float* gauss_table[1 << FRACTION_BITS];
// The order the weights were built for (-1: not built yet).
extern int gauss_table_n;
// Builds the weights for n + 1 taps (the block is made anew on every call).
void initialize_gauss_table(int n);
// Builds what the resamplers need for the current settings.
void initialize_resampler_coeffs(void);

#endif
