#include "frontend/mt19937.h"

#include <emmintrin.h>

enum { MT_N = 624, MT_M = 397 };
static const uint32 matrix_a = 0x9908b0dfu;
static const uint32 upper_mask = 0x80000000u;
static const uint32 lower_mask = 0x7fffffffu;

static uint32 mt[MT_N];
static int mti = MT_N + 1;  // MT_N + 1: not seeded yet

void init_genrand(uint32 s)
{
    mt[0] = s;
    for (mti = 1; mti < MT_N; mti++)
        mt[mti] = 1812433253u * (mt[mti - 1] ^ (mt[mti - 1] >> 30)) + (uint32)mti;
}

void init_by_array(const uint32 init_key[], int key_length)
{
    init_genrand(19650218u);
    int i = 1, j = 0;
    int k = MT_N > key_length ? MT_N : key_length;
    for (; k > 0; k--) {
        mt[i] = (mt[i] ^ ((mt[i - 1] ^ (mt[i - 1] >> 30)) * 1664525u)) + init_key[j] + (uint32)j;
        i++;
        j++;
        if (i >= MT_N) {
            mt[0] = mt[MT_N - 1];
            i = 1;
        }
        if (j >= key_length)
            j = 0;
    }
    for (k = MT_N - 1; k > 0; k--) {
        mt[i] = (mt[i] ^ ((mt[i - 1] ^ (mt[i - 1] >> 30)) * 1566083941u)) - (uint32)i;
        i++;
        if (i >= MT_N) {
            mt[0] = mt[MT_N - 1];
            i = 1;
        }
    }
    mt[0] = 0x80000000u;  // a non-zero initial state
}

// Four words of the next state at once: word kk + i becomes word far + i mixed with the top
// bit of word kk + i and the low bits of word kk + i + 1.
static inline void next_four(int kk, int far)
{
    const __m128i upper = _mm_set1_epi32((int)upper_mask), lower = _mm_set1_epi32((int)lower_mask);
    const __m128i a = _mm_set1_epi32((int)matrix_a), one = _mm_set1_epi32(1);
    const __m128i here = _mm_loadu_si128((const __m128i*)(mt + kk));
    const __m128i next = _mm_loadu_si128((const __m128i*)(mt + kk + 1));
    const __m128i y = _mm_or_si128(_mm_and_si128(here, upper), _mm_and_si128(next, lower));
    const __m128i odd = _mm_sub_epi32(_mm_setzero_si128(), _mm_and_si128(y, one));
    const __m128i w = _mm_xor_si128(_mm_loadu_si128((const __m128i*)(mt + far)),
                                    _mm_xor_si128(_mm_srli_epi32(y, 1), _mm_and_si128(odd, a)));
    _mm_storeu_si128((__m128i*)(mt + kk), w);
}

static inline uint32 next_word(int kk, int far)
{
    const uint32 y = (mt[kk] & upper_mask) | (mt[kk + 1] & lower_mask);
    return mt[far] ^ (y >> 1) ^ (-(y & 1u) & matrix_a);
}

// The next MT_N words of state in one pass. A word's replacement reads the word MT_M places
// on (the first MT_N - MT_M words read it before it is replaced, the others after) and the
// word after it, always still the old one: a group of four loads it before it stores.
static void next_state(void)
{
    if (mti == MT_N + 1)
        init_genrand(5489u);
    int kk = 0;
    for (; kk + 4 <= MT_N - MT_M; kk += 4)
        next_four(kk, kk + MT_M);
    for (; kk < MT_N - MT_M; kk++)
        mt[kk] = next_word(kk, kk + MT_M);
    static_assert((MT_N - 1 - (MT_N - MT_M)) % 4 == 0, "the second part is whole groups of four");
    for (; kk < MT_N - 1; kk += 4)
        next_four(kk, kk + (MT_M - MT_N));
    const uint32 y = (mt[MT_N - 1] & upper_mask) | (mt[0] & lower_mask);
    mt[MT_N - 1] = mt[MT_M - 1] ^ (y >> 1) ^ (-(y & 1u) & matrix_a);
    mti = 0;
}

static inline uint32 temper(uint32 y)
{
    y ^= (y >> 11);
    y ^= (y << 7) & 0x9d2c5680u;
    y ^= (y << 15) & 0xefc60000u;
    y ^= (y >> 18);
    return y;
}

static inline __m128i temper4(__m128i y)
{
    y = _mm_xor_si128(y, _mm_srli_epi32(y, 11));
    y = _mm_xor_si128(y, _mm_and_si128(_mm_slli_epi32(y, 7), _mm_set1_epi32((int)0x9d2c5680u)));
    y = _mm_xor_si128(y, _mm_and_si128(_mm_slli_epi32(y, 15), _mm_set1_epi32((int)0xefc60000u)));
    return _mm_xor_si128(y, _mm_srli_epi32(y, 18));
}

uint32 genrand_int32(void)
{
    if (mti >= MT_N)
        next_state();
    return temper(mt[mti++]);
}

void genrand_int32_fill(uint32* out, int n)
{
    while (n > 0) {
        if (mti >= MT_N)
            next_state();
        const int take = MT_N - mti < n ? MT_N - mti : n;
        const uint32* from = mt + mti;
        int i = 0;
        for (; i + 4 <= take; i += 4)
            _mm_storeu_si128((__m128i*)(out + i),
                             temper4(_mm_loadu_si128((const __m128i*)(from + i))));
        for (; i < take; i++)
            out[i] = temper(from[i]);
        mti += take;
        out += take;
        n -= take;
    }
}

double genrand_real1(void)
{
    return genrand_int32() * (1.0 / 4294967295.0);
}
