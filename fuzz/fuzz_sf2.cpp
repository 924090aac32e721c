// libFuzzer program: fuzz_sf2_input (fuzz_targets.h) on every input.
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz_engine_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0x400000)
        return -1;  // larger inputs find nothing new and only slow the run
    fuzz_sf2_input(data, size);
    return 0;
}
