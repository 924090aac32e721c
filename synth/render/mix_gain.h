// A voice's gain through a run of samples: the smoothing of a jump between the gain it had
// and the gain its envelope asks for, sample by sample (GainRamp) or as a line in closed form
// (GainLine). Gains are the integer factors the resampled values are multiplied by, at most
// MAX_MIX_GAIN.
#ifndef CORVELLE_RENDER_MIX_GAIN_H
#define CORVELLE_RENDER_MIX_GAIN_H

#include "sysdep.h"

#define MAX_MIX_GAIN 8191

struct Voice;

// Sets the voice's smoothing offsets and increments from its old and new gains.
void compute_mix_smoothing(Voice* vp);

// One side's gain through a run of samples: it starts where the last run left it and moves
// by its increment per sample until it has reached the gain the envelope asks for.
struct GainRamp {
    int32 g;       // the gain now, at most MAX_MIX_GAIN
    int32 offset;  // g minus the gain the envelope asks for (0: there)
    int32 inc;     // step of g and offset per sample
    int32 &old, &offset_store;  // where the voice keeps g and offset after the run

    GainRamp(int32 gain, int32& old_mix, int32& offset_field, int32 increment)
        : g(gain), offset(offset_field), inc(increment), old(old_mix), offset_store(offset_field)
    {
        if (offset != 0) {
            g = gain + offset;
            if (g > MAX_MIX_GAIN) {
                g = MAX_MIX_GAIN;
                offset = 0;
            }
        }
    }
    inline int32 next()
    {
        int32 now = g;
        if (offset != 0) {
            g += inc;
            offset += inc;
            if (g > MAX_MIX_GAIN) {
                g = MAX_MIX_GAIN;
                offset = 0;
            }
        }
        return now;
    }
    ~GainRamp()
    {
        old = g;
        offset_store = offset;
    }
};

// The same gain path in closed form, when it is a plain line: the first `lin` samples of a
// run use g0 + k inc, the rest the final gain `last`. A path that would be cut at the gain
// limit, or whose offset is not a whole number of steps, is left to GainRamp.
struct GainLine {
    int32 g0 = 0;    // gain at the run's first sample
    int32 inc = 0;   // step per sample over the first lin samples
    int32 lin = 0;   // samples on the line; the rest use last
    int32 last = 0;  // the gain the path ends at
    int32 end_g = 0, end_offset = 0;  // what the voice keeps after the run

    // Plans the path for a run of count samples from the voice's gain, offset and increment;
    // false when it is not a plain line.
    bool plan(int32 gain, int32 offset, int32 increment, int32 count);
    // The gain at sample k of the run and its step from there (for a piece that does not
    // cross `lin`).
    int32 at(int32 k) const { return k < lin ? g0 + k * inc : last; }
    int32 step(int32 k) const { return k < lin ? inc : 0; }
};

inline bool GainLine::plan(int32 gain, int32 offset, int32 increment, int32 count)
{
    if (offset == 0 || gain + (int64)offset > MAX_MIX_GAIN) {
        last = end_g = offset == 0 ? gain : MAX_MIX_GAIN;
        g0 = last;
        return true;
    }
    if (increment == 0 || offset % increment != 0 || offset / increment >= 0)
        return false;
    const int64 steps = -(int64)(offset / increment);
    g0 = gain + offset;
    if (g0 + steps * increment > MAX_MIX_GAIN)
        return false;
    inc = increment;
    last = (int32)(g0 + steps * increment);
    if (count >= steps) {
        lin = (int32)steps;
        end_g = last;
    } else {
        lin = count;
        end_g = (int32)(g0 + (int64)count * increment);
        end_offset = (int32)(offset + (int64)count * increment);
    }
    return true;
}

#endif
