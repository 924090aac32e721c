// The SoundFont and sample-file instrument sources. This build reads patch files only: every
// request answers none, so a %font or %sample program is reported as missing like a patch
// that cannot be found, and no program is taken from a SoundFont before or after its patch.
#include "instrum/instrument_policy.h"

Instrument* load_soundfont_inst(int, int, int, int)
{
    return nullptr;
}

Instrument* extract_soundfont(const char*, int, int, int)
{
    return nullptr;
}

Instrument* extract_sample_file(const char*)
{
    return nullptr;
}
