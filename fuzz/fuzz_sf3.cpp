// libFuzzer program: fuzz_sf3_input (fuzz_targets.h) on every input.
#include "fuzz/fuzz_main.h"

CORVELLE_FUZZ_PROGRAM(fuzz_sf3_input, 0x100000)
