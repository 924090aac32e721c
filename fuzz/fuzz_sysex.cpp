// libFuzzer program: fuzz_sysex_input (fuzz_targets.h) on every input.
#include "fuzz/fuzz_main.h"

CORVELLE_FUZZ_PROGRAM(fuzz_sysex_input, 0x10000)
