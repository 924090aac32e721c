// The one place that asks the processor which vector instructions it has.
#include "render/cpu_features.h"

cpu_features detect_cpu_features(void)
{
    cpu_features f = {false, false};
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    // Needed when this runs from a static initialiser, before the library's own.
    __builtin_cpu_init();
    f.sse2 = __builtin_cpu_supports("sse2") != 0;
    f.avx2 = __builtin_cpu_supports("avx2") != 0;
#endif
    return f;
}

cpu_features cpu_has = detect_cpu_features();
