// The note view's palettes: the colours of each channel's softest and loudest notes.
#ifndef CORVELLE_VIS_PALETTE_H
#define CORVELLE_VIS_PALETTE_H

#include "sysdep.h"
#include "vis/glyph.h"

// The names a palette can be chosen by, for messages: "mono, channels".
extern const char palette_names[];

// Sets every channel's two colours to the palette `name`: "mono" (black to white on every
// channel) or "channels" (one hue per MIDI channel, the softest notes darker, the drum
// channel a neutral tone). False, and nothing changed, for any other name.
bool apply_palette(const char* name, Visual visuals[MAX_CHANNELS]);

#endif
