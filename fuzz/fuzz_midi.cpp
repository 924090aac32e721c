// libFuzzer program: fuzz_midi_input (fuzz_targets.h) on every input.
#include "fuzz/fuzz_main.h"

CORVELLE_FUZZ_PROGRAM(fuzz_midi_input, 0x200000)
