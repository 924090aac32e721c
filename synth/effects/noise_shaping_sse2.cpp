// The SSE2 forms of the shaper's preparation: limiting and dither, four samples at a time.
#include <emmintrin.h>

#include "effects/noise_shaping.h"

void ns9_limit_sse2(int32* buf, int32 n)
{
    const __m128i hi = _mm_set1_epi32(NS_LIMIT), lo = _mm_set1_epi32(-NS_LIMIT);
    int32 i = 0;
    for (; i + 4 <= n; i += 4) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + i));
        const __m128i over = _mm_cmpgt_epi32(x, hi);
        x = _mm_or_si128(_mm_and_si128(over, hi), _mm_andnot_si128(over, x));
        const __m128i under = _mm_cmplt_epi32(x, lo);
        x = _mm_or_si128(_mm_and_si128(under, lo), _mm_andnot_si128(under, x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(buf + i), x);
    }
    ns9_limit_scalar(buf + i, n - i);
}

void ns9_dither_sse2(int32* d, const uint32* r, int32 n, int stride)
{
    int32 i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m128i now = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + i));
        const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + i - stride));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i),
                         _mm_srli_epi32(_mm_sub_epi32(now, before), 30));
    }
    ns9_dither_scalar(d + i, r + i, n - i, stride);
}
