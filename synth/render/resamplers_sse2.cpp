// The SSE2 forms of the resampling kernels: the Gauss resampler's runs, four outputs of the
// 25th-order filter at once (other orders are left to the scalar form), and sample copies,
// eight values at a time.
#include <emmintrin.h>

#include "render/resample.h"
#include "render/resample_settings.h"

// Four 16-bit values from p as floats.
static inline __m128 four_values(const sample_t* p)
{
    const __m128i x = _mm_loadl_epi64((const __m128i*)p);
    return _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(x, x), 16));
}

// Four outputs of the 25th-order filter at once, one per lane. Each lane adds its 26 products
// in the scalar order (tap 0 first), so it rounds exactly as resample_gauss does; only the
// loads are shuffled so that a vector holds one tap of the four outputs.
static inline __m128 gauss25_four(const sample_t* const p[4], const float* const w[4])
{
    __m128 y = _mm_setzero_ps();
    for (int k = 0; k < 24; k += 4) {
        __m128 w0 = _mm_loadu_ps(w[0] + k), w1 = _mm_loadu_ps(w[1] + k),
               w2 = _mm_loadu_ps(w[2] + k), w3 = _mm_loadu_ps(w[3] + k);
        _MM_TRANSPOSE4_PS(w0, w1, w2, w3);
        __m128 p0 = four_values(p[0] + k), p1 = four_values(p[1] + k),
               p2 = four_values(p[2] + k), p3 = four_values(p[3] + k);
        _MM_TRANSPOSE4_PS(p0, p1, p2, p3);
        y = _mm_add_ps(y, _mm_mul_ps(p0, w0));
        y = _mm_add_ps(y, _mm_mul_ps(p1, w1));
        y = _mm_add_ps(y, _mm_mul_ps(p2, w2));
        y = _mm_add_ps(y, _mm_mul_ps(p3, w3));
    }
    for (int k = 24; k <= 25; k++) {
        const __m128 pk = _mm_setr_ps(p[0][k], p[1][k], p[2][k], p[3][k]);
        const __m128 wk = _mm_setr_ps(w[0][k], w[1][k], w[2][k], w[3][k]);
        y = _mm_add_ps(y, _mm_mul_ps(pk, wk));
    }
    return y;
}

void resample_gauss_run_sse2(const sample_t* src, int64 ofs, int32 incr, int32 n,
                             resample_t* out, const resample_rec_t* rec)
{
    if (gauss_n != 25) {
        resample_gauss_run_scalar(src, ofs, incr, n, out, rec);
        return;
    }
    const int64 frames = rec->data_length >> FRACTION_BITS;
    int32 k = 0;
    for (; k + 4 <= n; k += 4) {
        const sample_t* p[4];
        const float* w[4];
        bool inside = true;
        for (int j = 0; j < 4; j++) {
            const splen_t pos = (splen_t)(ofs + (int64)j * incr);
            const int64 i = pos >> FRACTION_BITS;
            // The whole window of 26 points lies inside the data.
            inside = inside && i >= 12 && frames - i - 1 >= 13;
            p[j] = src + i - 12;
            w[j] = gauss_table[pos & FRACTION_MASK];
            // The weights of the outputs eight groups on are fetched while these are made.
            const float* later = gauss_table[(pos + 32 * (int64)incr) & FRACTION_MASK];
            _mm_prefetch((const char*)later, _MM_HINT_T0);
            _mm_prefetch((const char*)later + 64, _MM_HINT_T0);
            _mm_prefetch((const char*)later + 103, _MM_HINT_T0);
        }
        if (inside)
            _mm_storeu_si128((__m128i*)(out + k), _mm_cvttps_epi32(gauss25_four(p, w)));
        else
            resample_gauss_run_scalar(src, ofs, incr, 4, out + k, rec);
        ofs += 4 * (int64)incr;
    }
    resample_gauss_run_scalar(src, ofs, incr, n - k, out + k, rec);
}

void copy_samples_sse2(resample_t* out, const sample_t* data, int64 n)
{
    int64 k = 0;
    for (; k + 8 <= n; k += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + k));
        // Each 16-bit value moved to the top of a 32-bit lane and shifted back with its sign.
        const __m128i zero = _mm_setzero_si128();
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k),
                         _mm_srai_epi32(_mm_unpacklo_epi16(zero, v), 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k + 4),
                         _mm_srai_epi32(_mm_unpackhi_epi16(zero, v), 16));
    }
    copy_samples_scalar(out + k, data + k, n - k);
}
