// Effect switches that options change.
#include <cstdlib>
#include <cstring>

#include "frontend/controls.h"
#include "frontend/options.h"
#include "effects/effect.h"

int opt_reverb_control = 3;
int opt_chorus_control = 1;
int opt_surround_chorus = 0;
int opt_delay_control = 0;
int opt_eq_control = 0;
int opt_insertion_effect = 0;
int effect_lr_mode = -1;  // -1 off, 0 left, 1 right, 2 both
int effect_lr_delay_msec = 25;
int noise_sharp_type = 4;

// "d" or 0: off; "n" or 1: normal reverb, "g" or 2: global reverb, "f" or 3: freeverb on each
// channel, "G" or 4: freeverb on the mix; each with an optional ",level" (1..127) that is
// stored negated with 128 times the kind less one added: -L, -(128 + L), -(256 + L),
// -(384 + L).
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
    case '3': kind = 3; break;
    case 'G':
    case '4': kind = 4; break;
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
    opt_reverb_control = -(int)(128 * (kind - 1) + level);
    return 0;
}

int reverb_is_global(int control)
{
    if (control == 2 || control == 4)
        return 1;
    return control < 0 && (int8)(control & 0xff) >= 0;
}

int reverb_is_standard(int control)
{
    if (control == 3 || control == 4)
        return 0;
    return control >= 0 || (control & 0x100) != 0;
}

int reverb_global_level(int control)
{
    return control < 0 ? (-control) % 128 : 40;
}
