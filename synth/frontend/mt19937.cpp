#include "frontend/mt19937.h"

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

uint32 genrand_int32(void)
{
    static const uint32 mag01[2] = {0u, matrix_a};
    uint32 y;

    if (mti >= MT_N) {
        if (mti == MT_N + 1)
            init_genrand(5489u);
        int kk;
        for (kk = 0; kk < MT_N - MT_M; kk++) {
            y = (mt[kk] & upper_mask) | (mt[kk + 1] & lower_mask);
            mt[kk] = mt[kk + MT_M] ^ (y >> 1) ^ mag01[y & 1u];
        }
        for (; kk < MT_N - 1; kk++) {
            y = (mt[kk] & upper_mask) | (mt[kk + 1] & lower_mask);
            mt[kk] = mt[kk + (MT_M - MT_N)] ^ (y >> 1) ^ mag01[y & 1u];
        }
        y = (mt[MT_N - 1] & upper_mask) | (mt[0] & lower_mask);
        mt[MT_N - 1] = mt[MT_M - 1] ^ (y >> 1) ^ mag01[y & 1u];
        mti = 0;
    }

    y = mt[mti++];
    y ^= (y >> 11);
    y ^= (y << 7) & 0x9d2c5680u;
    y ^= (y << 15) & 0xefc60000u;
    y ^= (y >> 18);
    return y;
}

double genrand_real1(void)
{
    return genrand_int32() * (1.0 / 4294967295.0);
}
