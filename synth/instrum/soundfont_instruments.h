// Turning a SoundFont preset into the engine's Instrument: one Sample per pair of preset and
// instrument zones that overlap, with the generators converted to the units the voice works
// in (frequencies in thousandths of a hertz, envelope rates per control period, LFO periods in
// output samples).
#ifndef CORVELLE_INSTRUM_SOUNDFONT_INSTRUMENTS_H
#define CORVELLE_INSTRUM_SOUNDFONT_INSTRUMENTS_H

#include "instrum/instrum.h"
#include "instrum/sf2_reader.h"

// Per-font settings of the configuration line: -1 where not given. cutoff=0 turns the
// filters of the font off, reso=0 its resonance; amp is a percentage of the font's level;
// attenuation is the share of the zones' attenuation applied (fonts are voiced on players that
// apply 0.4 of it; 1.0 applies all); chorus is what the chorus returns of the font's voices, as
// a factor on their chorus sends (fonts are voiced on players whose chorus lifts a fully sent
// voice 15 to 20 dB over its dry sound; 5 comes near that and leaves a song whose lead is sent in
// full room below full scale; 1 is the engine's chorus as patches hear it).
struct SF2Settings {
    int cutoff = -1, reso = -1, amp = -1;
    double attenuation = 0.4, chorus = 5;
};
inline bool operator==(const SF2Settings& a, const SF2Settings& b)
{
    return a.cutoff == b.cutoff && a.reso == b.reso && a.amp == b.amp &&
           a.attenuation == b.attenuation && a.chorus == b.chorus;
}

// The most samples one preset may expand to (pairs of preset and instrument zones that
// overlap): far above any real preset, far below what would exhaust memory.
enum { SF2_MAX_PRESET_SAMPLES = 8192 };

// The format's default modulators; the two at these places are played by the engine's own
// bend and pan unless a font replaces them.
enum { SF2_DEFAULT_MODULATORS = 10, SF2_DEFAULT_PAN = 5, SF2_DEFAULT_BEND = 9 };
extern const SF2Modulator sf2_default_modulators[SF2_DEFAULT_MODULATORS];

// Makes a sample of a compressed font ready to play when it has not been decoded yet (its
// stream is decoded once for the whole run): false when it cannot be, and it plays silence.
bool sf2_sample_ready(Sample* sp);

// Counts a warning about font f under `kind`; it is printed by sf2_report_warnings. left_out:
// part of the font will not be heard because of it.
void sf2_warn(const SF2File* f, const char* kind, bool left_out, const char* fmt, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 4, 5)))
#endif
    ;

// Prints the warnings counted since the last call, one line a kind: the first message, and
// how many more there were. Returns whether the font has something left out that had not been
// reported before (counted once per font).
bool sf2_report_warnings(const SF2File* f);

// The instrument of `bank`/`preset` of the font, for key `keynote` only (its zones that cover
// the key; -1 for all keys), at output rate `rate` with control period `ratio` samples. None
// when the preset does not exist or has no playable zone (the reason of a damaged zone has
// been reported). The samples' data points into the font's mapping or, for a sample at the
// very end of the data, into a copy that the sample owns.
Instrument* sf2_convert_preset(const SF2File* f, int bank, int preset, int keynote,
                               const SF2Settings& s, int32 rate, int32 ratio);

#endif
