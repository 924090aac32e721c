// What the processor offers the vector kernels, asked once when the program starts. Each
// kernel's query reads this record; nothing else asks the processor.
#ifndef CORVELLE_RENDER_CPU_FEATURES_H
#define CORVELLE_RENDER_CPU_FEATURES_H

struct cpu_features {
    bool sse2;  // 128-bit integer and float vectors (every x86-64)
    bool avx2;  // 256-bit integer vectors
};

// The processor's answer, filled in before main runs. A test may turn a feature off (never on)
// to reach the narrower forms.
extern cpu_features cpu_has;

// Asks the processor (what cpu_has was filled in with).
cpu_features detect_cpu_features(void);

#endif
