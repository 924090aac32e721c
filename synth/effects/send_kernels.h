// The inner loop of the sends of voices with sends of their own: one buffer to the reverb,
// the chorus and the dry signal in one pass, each by its own single-precision gain. The scalar
// form defines the result; the SSE2 form gives the same values bit for bit
// (send_kernels_sse2.cpp); send_kernels_vector tells which one runs.
#ifndef CORVELLE_EFFECTS_SEND_KERNELS_H
#define CORVELLE_EFFECTS_SEND_KERNELS_H

#include "render/cpu_features.h"
#include "sysdep.h"

inline bool send_kernels_vector(void)
{
    return cpu_has.sse2;
}

// x times a gain as a 32-bit value: the single-precision product, held within the range
// (the largest float below 2^31) and cut toward zero.
inline int32 send_product(int32 x, float g)
{
    const float top = 2147483520.0f;
    float y = (float)x * g;
    y = y < top ? y : top;
    y = y > -top ? y : -top;
    return (int32)y;
}

// a + b wrapping at 32 bits.
inline int32 send_add(int32 a, int32 b)
{
    return (int32)((uint32)a + (uint32)b);
}

// For i < n: rev[i] += send_product(in[i], gr), cho[i] += send_product(in[i], gc), and
// dry[i] += in[i] (gd < 0) or send_product(in[i], gd); the sums wrap at 32 bits.
inline void group_sends_scalar(const int32* in, int32* rev, int32* cho, int32* dry, int32 n,
                               float gr, float gc, float gd)
{
    for (int32 i = 0; i < n; i++) {
        rev[i] = send_add(rev[i], send_product(in[i], gr));
        cho[i] = send_add(cho[i], send_product(in[i], gc));
        dry[i] = send_add(dry[i], gd < 0 ? in[i] : send_product(in[i], gd));
    }
}
void group_sends_sse2(const int32* in, int32* rev, int32* cho, int32* dry, int32 n, float gr,
                      float gc, float gd);
inline void group_sends(const int32* in, int32* rev, int32* cho, int32* dry, int32 n, float gr,
                        float gc, float gd)
{
    if (send_kernels_vector())
        group_sends_sse2(in, rev, cho, dry, n, gr, gc, gd);
    else
        group_sends_scalar(in, rev, cho, dry, n, gr, gc, gd);
}

#endif
