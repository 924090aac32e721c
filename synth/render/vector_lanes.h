// Small pieces of vector code shared by the kernels of the mixer, the voice filters and the
// reverb. Only the files of vector forms include it.
#ifndef CORVELLE_RENDER_VECTOR_LANES_H
#define CORVELLE_RENDER_VECTOR_LANES_H

#include <emmintrin.h>

// Rows a, b, c, d of four 32-bit values become the columns: a holds the first value of each.
static inline void transpose4(__m128i& a, __m128i& b, __m128i& c, __m128i& d)
{
    const __m128i t0 = _mm_unpacklo_epi32(a, b), t1 = _mm_unpacklo_epi32(c, d);
    const __m128i t2 = _mm_unpackhi_epi32(a, b), t3 = _mm_unpackhi_epi32(c, d);
    a = _mm_unpacklo_epi64(t0, t1);
    b = _mm_unpackhi_epi64(t0, t1);
    c = _mm_unpacklo_epi64(t2, t3);
    d = _mm_unpackhi_epi64(t2, t3);
}

#endif
