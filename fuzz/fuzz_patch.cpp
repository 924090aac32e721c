// libFuzzer program: fuzz_patch_input (fuzz_targets.h) on every input.
#include "fuzz/fuzz_main.h"

CORVELLE_FUZZ_PROGRAM(fuzz_patch_input, 0x400000)
