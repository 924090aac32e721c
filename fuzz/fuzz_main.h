// The two entry points of a libFuzzer program: the engine set up once, then one reader of
// fuzz_targets.h on every input no larger than max_size (larger inputs find nothing new and
// only slow the run).
#ifndef CORVELLE_FUZZ_FUZZ_MAIN_H
#define CORVELLE_FUZZ_FUZZ_MAIN_H

#include "fuzz/fuzz_targets.h"

#define CORVELLE_FUZZ_PROGRAM(reader, max_size)                              \
    extern "C" int LLVMFuzzerInitialize(int*, char***)                       \
    {                                                                        \
        fuzz_engine_init();                                                  \
        return 0;                                                            \
    }                                                                        \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)  \
    {                                                                        \
        if (size > (max_size))                                               \
            return -1;                                                       \
        reader(data, size);                                                  \
        return 0;                                                            \
    }

#endif
