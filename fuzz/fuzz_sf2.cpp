// libFuzzer program: fuzz_sf2_input (fuzz_targets.h) on every input.
#include "fuzz/fuzz_main.h"

CORVELLE_FUZZ_PROGRAM(fuzz_sf2_input, 0x400000)
