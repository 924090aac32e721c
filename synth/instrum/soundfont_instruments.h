// Turning a SoundFont preset into the engine's Instrument: one Sample per pair of preset and
// instrument zones that overlap, with the generators converted to the units the voice works
// in (frequencies in thousandths of a hertz, envelope rates per control period, LFO periods in
// output samples).
#ifndef CORVELLE_INSTRUM_SOUNDFONT_INSTRUMENTS_H
#define CORVELLE_INSTRUM_SOUNDFONT_INSTRUMENTS_H

#include "instrum/instrum.h"
#include "instrum/sf2_reader.h"

// Per-font settings of the configuration line: -1 where not given. cutoff=0 turns the
// filters of the font off, reso=0 its resonance; amp is a percentage of the font's level.
struct SF2Settings {
    int cutoff = -1, reso = -1, amp = -1;
};

// The instrument of `bank`/`preset` of the font, for key `keynote` only (its zones that cover
// the key; -1 for all keys), at output rate `rate` with control period `ratio` samples. None
// when the preset does not exist or has no playable zone (the reason of a damaged zone has
// been reported). The samples' data points into the font's mapping or, for a sample at the
// very end of the data, into a copy that the sample owns.
Instrument* sf2_convert_preset(const SF2File* f, int bank, int preset, int keynote,
                               const SF2Settings& s, int32 rate, int32 ratio);

#endif
