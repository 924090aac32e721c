// SoundFont requests of the configuration: which SoundFont files to use, with their order and
// filter settings, and which presets to leave out or reorder. The SoundFont instruments
// themselves are loaded by the SoundFont instrument source.
#ifndef CORVELLE_CONFIG_SOUNDFONT_H
#define CORVELLE_CONFIG_SOUNDFONT_H

struct SoundFontRequest {
    char* file;
    int order, cutoff, reso, amp;  // -1 where not given
    double attenuation;            // share of the zones' attenuation applied; -1 not given
    double chorus;                 // the chorus return of the font's voices; -1 not given
    SoundFontRequest* next;
};
extern SoundFontRequest* soundfont_requests;

// Adds (or updates) a SoundFont file; values not given are -1.
void add_soundfont(const char* file, int order, int cutoff, int reso, int amp,
                   double attenuation = -1, double chorus = -1);
void remove_soundfont(const char* file);
// Leave out or reorder presets of the SoundFont added last: 0 when there is one, else -1.
int exclude_soundfont(int bank, int preset, int keynote);
int order_soundfont(int bank, int preset, int keynote, int order);
void free_soundfont_requests(void);

// The order at which `font` offers a preset (bank, preset, key): the last matching
// `font order` rule, else the font's order (0 when not given); -1 when excluded.
int soundfont_preset_order(const SoundFontRequest* font, int bank, int preset, int keynote);

#endif
