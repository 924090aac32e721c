// The resample cache: notes that sound long in a song are resampled once, before it plays, at
// the output rate and their own pitch, so that their voices copy instead of interpolating.
// The entry points the player and the voices use are in render/voice_params.h.
#ifndef CORVELLE_RENDER_RESAMPLE_CACHE_H
#define CORVELLE_RENDER_RESAMPLE_CACHE_H

#include "instrum/instrum.h"
#include "render/voice_params.h"

#define CACHE_HASH_SIZE 251

// The cache area: values in use of at most allocate_cache_size / 2.
extern sample_t* cache_data;
extern int32 cache_data_len;
extern cache_hash* cache_hash_table[CACHE_HASH_SIZE];

// The step ratio of sample sp played at `note`, quantised to 12 fraction bits, with the loop
// points and length (fixed point) the sample gets when resampled at that ratio (a short loop
// repeated to at least 1024 samples); 0 with a length of 0 when it cannot be cached.
double sample_resamp_info(Sample* sp, int note, splen_t* loop_start, splen_t* loop_end,
                          splen_t* data_length);

// Whether sample sp must be resampled to sound at the output rate and its own note.
bool sample_needs_resampling(Sample* sp);

#endif
