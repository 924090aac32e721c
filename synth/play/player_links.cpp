// What the player calls in parts of the engine that are not built yet: the per-voice pitch,
// amplitude, filter and envelope computations, tunings,
// and the resample cache. Until those parts exist no note finds
// a sample and no voice sounds;
// each definition here goes when its own part defines the function (the linker then reports
// the duplicate).
#include "config/tonebank.h"
#include "play/playmidi.h"
#include "play/voice.h"
#include "render/voice_params.h"

void set_user_temper_entry(int, int, int)
{
}
