// When instruments are loaded and freed: the programs a song marked are loaded before it
// plays, others on demand while it plays, a program a bank does not define falls back to
// bank 0, the element's per-sample lists are applied after loading, and everything goes
// between songs. A default instrument can stand in for any program.
#ifndef CORVELLE_INSTRUM_INSTRUMENT_POLICY_H
#define CORVELLE_INSTRUM_INSTRUMENT_POLICY_H

#include "sysdep.h"

struct Instrument;
struct ToneBankElement;

// The instrument of program `prog` of tone bank (dr 0) or drum set (dr 1) slot `b`, with the
// element's lists applied; none when it cannot be loaded. The element is not changed.
Instrument* load_instrument(int dr, int b, int prog);

// How many times an element that names an instrument file (or preset) could not be loaded
// from it since the program started. Elements that name nothing are not counted.
extern int instrument_load_failures;

// Loads every program of the bank that carries the load mark. Returns the number that
// failed; *rc (when given) gets the control interface's code, and a stop code ends at once.
int fill_bank(int dr, int b, int* rc);

// Fills every tone bank and drum set from the highest slot in use down to 0. Returns the
// total of failures; a stop code in *rc ends the walk.
int load_missing_instruments(int* rc);

// The instrument to play for a program during playback, loading it (or bank 0's program in
// its place) when needed; none when there is none to play.
Instrument* play_midi_load_instrument(int dr, int b, int prog);

// Applies the element's per-sample lists (tune, envelopes, tremolo, vibrato, scale tuning,
// filter) to the instrument's samples.
void apply_bank_parameter(Instrument* ip, const ToneBankElement* tone);

// A configuration line changed the element that had `ip` loaded: every element holding
// it drops it (they load again when next needed), and the instrument stays owned by the
// cache or the private list until the instruments are freed. Marks are only dropped.
void retire_instrument(Instrument* ip);

// Resets every load mark and error mark to none.
void clear_magic_instruments(void);

// Drops every element's instrument and empties the instrument cache. With reload_default 0
// the default instrument stays loaded; otherwise it is loaded again from its name.
void free_instruments(int reload_default);

// Makes patch `name` (none: the name loaded last) the default instrument and sets every
// channel's default program to -1. 0, or -1 when it cannot be loaded (the old default stays).
int set_default_instrument(const char* name);

// Frees special patch `id`, or all of them for -1.
void free_special_patch(int id);

extern Instrument* default_instrument;

// The SoundFont and sample-file instrument sources. load_soundfont_inst asks the configured
// fonts whose order (for this preset) is `order`, the font added last first; extract_soundfont
// reads a %font element's preset. Each gives a new instrument (or none) that the caller owns.
// Sample files are not read by this build: extract_sample_file answers none.
// init_load_soundfont reads the tables of every configured font before a song plays.
void init_load_soundfont(void);
Instrument* load_soundfont_inst(int order, int bank, int preset, int keynote);
Instrument* extract_soundfont(const char* sf_file, int bank, int preset, int keynote);
Instrument* extract_sample_file(const char* file);
// Prints what the fonts' loads have warned about since the last call, one line per kind of
// warning and font; a font with parts left out counts once in instrument_load_failures.
void report_soundfont_warnings(void);

#endif
