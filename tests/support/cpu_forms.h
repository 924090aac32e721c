// The forms of the vector kernels a test can reach on this processor, and a guard that narrows
// cpu_has to one of them for its scope (put back however the test ends).
#ifndef CORVELLE_TESTS_SUPPORT_CPU_FORMS_H
#define CORVELLE_TESTS_SUPPORT_CPU_FORMS_H

#include <vector>

#include "render/cpu_features.h"
#include "support/guards.h"

struct CpuForm {
    const char* name;
    cpu_features has;
};

// Scalar, then SSE2 and AVX2 where the processor has them.
inline std::vector<CpuForm> cpu_forms()
{
    std::vector<CpuForm> forms = {{"scalar", {false, false}}};
    if (cpu_has.sse2)
        forms.push_back({"sse2", {true, false}});
    if (cpu_has.sse2 && cpu_has.avx2)
        forms.push_back({"avx2", {true, true}});
    return forms;
}

class CpuFormGuard : public Restore<cpu_features> {
public:
    explicit CpuFormGuard(const CpuForm& form) : Restore(cpu_has, form.has) {}
};

#endif
