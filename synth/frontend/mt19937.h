// The MT19937 pseudo-random generator (period 2^19937 - 1).
#ifndef CORVELLE_FRONTEND_MT19937_H
#define CORVELLE_FRONTEND_MT19937_H

#include "sysdep.h"

void init_genrand(uint32 s);
void init_by_array(const uint32 init_key[], int key_length);
// A number in 0..0xffffffff.
uint32 genrand_int32(void);
// The next n numbers genrand_int32 would give, in the same order, into out.
void genrand_int32_fill(uint32* out, int n);
// A number in [0, 1].
double genrand_real1(void);

#endif
