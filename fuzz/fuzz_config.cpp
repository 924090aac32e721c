// libFuzzer program: fuzz_config_input (fuzz_targets.h) on every input.
#include "fuzz/fuzz_main.h"

CORVELLE_FUZZ_PROGRAM(fuzz_config_input, 0x20000)
