// The ring bookkeeping the vector forms of the comb bank share: the sixteen combs in the order
// they take them (left 0-7, right 0-7), their positions, and the runs of samples up to the
// next turn of any ring. Only the files of vector forms include it; its functions are static,
// so that each keeps its own copy built with its own instructions.
#ifndef CORVELLE_EFFECTS_REVERB_COMB_RINGS_H
#define CORVELLE_EFFECTS_REVERB_COMB_RINGS_H

#include "effects/reverb_comb.h"

struct comb_rings {
    freeverb_comb* c[2 * FREEVERB_COMBS];
    int32 idx[2 * FREEVERB_COMBS];  // ring positions, 0..size - 1
    int32* p[2 * FREEVERB_COMBS];   // each ring at its position, during a run
};

static inline void start_rings(comb_rings& r, freeverb_comb* left, freeverb_comb* right)
{
    for (int k = 0; k < FREEVERB_COMBS; k++) {
        r.c[k] = &left[k];
        r.c[FREEVERB_COMBS + k] = &right[k];
    }
    for (int m = 0; m < 2 * FREEVERB_COMBS; m++)
        r.idx[m] = r.c[m]->index < 0 || r.c[m]->index >= r.c[m]->size ? 0 : r.c[m]->index;
}

// The next run: at most `left` samples, none of them past a ring's end.
static inline int32 next_run(comb_rings& r, int32 left)
{
    for (int m = 0; m < 2 * FREEVERB_COMBS; m++) {
        if (left > r.c[m]->size - r.idx[m])
            left = r.c[m]->size - r.idx[m];
        r.p[m] = r.c[m]->buf + r.idx[m];
    }
    return left;
}

static inline void advance_rings(comb_rings& r, int32 run)
{
    for (int m = 0; m < 2 * FREEVERB_COMBS; m++) {
        r.idx[m] += run;
        if (r.idx[m] >= r.c[m]->size)
            r.idx[m] = 0;
    }
}

// The positions, and the filter stores (in the same order), back into the combs.
static inline void finish_rings(comb_rings& r, const int32* stores)
{
    for (int m = 0; m < 2 * FREEVERB_COMBS; m++) {
        r.c[m]->index = r.idx[m];
        r.c[m]->filterstore = stores[m];
    }
}

#endif
