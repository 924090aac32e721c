// Effect switches that options change.
#include <cstdlib>
#include <cstring>

#include "frontend/controls.h"
#include "frontend/options.h"

int opt_reverb_control = 3;
int opt_chorus_control = 1;
int opt_surround_chorus = 0;
int opt_delay_control = 0;
int opt_eq_control = 0;
int opt_insertion_effect = 0;
int effect_lr_mode = -1;  // -1 off, 0 left, 1 right, 2 both
int effect_lr_delay_msec = 25;
int noise_sharp_type = 4;

// "d" or 0: off; "n" or 1: normal reverb, "g" or 2: global reverb, each with an optional
// ",level" (1..127) that is stored negated (with 128 added for the global one); "f" or 3:
// freeverb on each channel; "G" or 4: freeverb on the mix.
int parse_opt_reverb(const char* arg)
{
    int kind;
    switch (arg[0]) {
    case 'd':
    case '0': opt_reverb_control = 0; return 0;
    case 'n':
    case '1': kind = 1; break;
    case 'g':
    case '2': kind = 2; break;
    case 'f':
    case '3': opt_reverb_control = 3; return 0;
    case 'G':
    case '4': opt_reverb_control = 4; return 0;
    default:
        cmsg(CMSG_ERROR, VERB_NORMAL, "Invalid reverb parameter.");
        return 1;
    }
    const char* comma = strchr(arg, ',');
    if (comma == nullptr) {
        opt_reverb_control = kind;
        return 0;
    }
    long level = strtol(comma + 1, nullptr, 10);
    if (level < 1 || level > 127) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s must be between %ld and %ld", "Reverb level", 1L, 127L);
        return 1;
    }
    opt_reverb_control = kind == 1 ? -(int)level : -((int)level | 0x80);
    return 0;
}
