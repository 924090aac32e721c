// Tone banks and drum sets: what to load for every bank and program and how to adjust it,
// the instrument maps that turn GS/XG/GM2 bank numbers into bank slots, and the alternate
// assignment note sets of drum sets.
#ifndef CORVELLE_CONFIG_TONEBANK_H
#define CORVELLE_CONFIG_TONEBANK_H

#include "sysdep.h"

struct Instrument;

// ---- quantities (values with a unit, converted when an instrument is loaded) ----

enum quantity_units {
    QUANTITY_UNIT_TYPE_UNDEFINED = 0,
    QUANTITY_UNIT_TYPE_INT,
    QUANTITY_UNIT_TYPE_FLOAT,
    QUANTITY_UNIT_TYPE_TREMOLO_SWEEP,
    QUANTITY_UNIT_TYPE_TREMOLO_RATE,
    QUANTITY_UNIT_TYPE_VIBRATO_SWEEP,
    QUANTITY_UNIT_TYPE_VIBRATO_RATE,
    QUANTITY_UNIT_TYPE_COUNT
};

// Unit ids: which conversion of the unit type applies.
enum quantity_unit_ids {
    QUANTITY_UNIT_NAME_INT = 0,    // plain integer
    QUANTITY_UNIT_NAME_FLOAT,      // plain float
    QUANTITY_UNIT_NAME_GUS,        // GUS sweep or rate value
    QUANTITY_UNIT_NAME_MSEC,       // "ms"
    QUANTITY_UNIT_NAME_HZ          // "Hz"
};

struct Quantity {
    uint16 type;  // quantity_units
    uint16 unit;  // quantity_unit_ids
    union {
        int32 i;
        FLOAT_T f;
    } value;
};

// Parses text as a quantity of the given unit type; returns none or the error text.
const char* string_to_quantity(const char* string, Quantity* quantity, uint16 type);
// Converts a quantity with the output rate and control ratio now in force; param is the
// conversion's extra parameter (the vibrato control ratio for vibrato sweeps).
int32 quantity_to_int(const Quantity* quantity, int32 param);
FLOAT_T quantity_to_float(const Quantity* quantity, int32 param);

// ---- tone banks ----

// One program of a bank or one note of a drum set; -1 means "not set, use the patch's own".
struct ToneBankElement {
    char* name;
    char* comment;
    Instrument* instrument;
    int8 note, pan, strip_loop, strip_envelope, strip_tail, loop_timeout;
    int8 font_preset, font_keynote, legato, tva_level, play_note, damper_mode;
    uint8 font_bank, instype;  // instype: 0 patch file, 1 SoundFont preset, 2 sample file
    int16 amp, rnddelay;
    int tunenum;
    float* tune;
    int sclnotenum;
    int16* sclnote;
    int scltunenum;
    int16* scltune;
    int fcnum;
    int16* fc;
    int resonum;
    int16* reso;
    int trempitchnum, tremfcnum, modpitchnum, modfcnum;
    int16 *trempitch, *tremfc, *modpitch, *modfc;
    // Envelope lists: each item points to six values, -1 where not given.
    int envratenum, envofsnum;
    int **envrate, **envofs;
    int modenvratenum, modenvofsnum;
    int **modenvrate, **modenvofs;
    int envvelfnum, envkeyfnum;
    int **envvelf, **envkeyf;
    int modenvvelfnum, modenvkeyfnum;
    int **modenvvelf, **modenvkeyf;
    // Tremolo and vibrato: each item points to three quantities (sweep, rate, depth).
    int tremnum, vibnum;
    Quantity **trem, **vib;
    int16 vel_to_fc, key_to_fc, vel_to_resonance;
    int8 reverb_send, chorus_send, delay_send;
};

// A set of notes 0..127 (note n is bit n % 32 of word n / 32) in a list.
struct AlternateAssign {
    uint32 bits[4];
    AlternateAssign* next;
};

struct ToneBank {
    ToneBankElement tone[128];
    AlternateAssign* alt;
};

enum { MAP_BANK_COUNT = 256, TONEBANK_SLOTS = 128 + MAP_BANK_COUNT };

// Slots 0..127 are banks by number; 128 and above are mapped banks.
extern ToneBank* tonebank[TONEBANK_SLOTS];
extern ToneBank* drumset[TONEBANK_SLOTS];
extern ToneBank standard_tonebank, standard_drumset;

// Subtracted from program numbers (and drum set numbers) written in configuration files.
extern int progbase;

// ---- instrument maps ----

enum instrument_mapID {
    INST_NO_MAP = 0,
    SC_55_TONE_MAP,
    SC_55_DRUM_MAP,
    SC_88_TONE_MAP,
    SC_88_DRUM_MAP,
    SC_88PRO_TONE_MAP,
    SC_88PRO_DRUM_MAP,
    SC_8850_TONE_MAP,
    SC_8850_DRUM_MAP,
    XG_NORMAL_MAP,
    XG_SFX64_MAP,
    XG_SFX126_MAP,
    XG_DRUM_MAP,
    GM2_TONE_MAP,
    GM2_DRUM_MAP,
    NUM_INST_MAP
};

struct inst_map_elem {
    int set, elem, mapped;
};

struct bank_map_elem {
    int16 used, mapid;
    int32 bankno;
};

extern bank_map_elem map_bank[MAP_BANK_COUNT], map_drumset[MAP_BANK_COUNT];
extern int map_bank_counter;

// The id of a map name ("sc55", "xgdrum", ...), -1 when unknown; *is_drum tells the kind.
int mapname2id(const char* name, int* is_drum);
int find_instrument_map_bank(int dr, int map, int bk);
int alloc_instrument_map_bank(int dr, int map, int bk);
void alloc_instrument_bank(int dr, int bankset);
void set_instrument_map(int mapID, int set_from, int elem_from, int set_to, int elem_to);
int instrument_map(int mapID, int* set_in_out, int* elem_in_out);
void free_instrument_map(void);

// ---- elements and banks ----

int set_patchconf(const char* name, int line, ToneBank* bank, char* w[], int dr, int mapid,
                  int bankmapfrom, int bankno);
void copybank(ToneBank* to, ToneBank* from, int mapid, int bankmapfrom, int bankno);
void copy_tone_bank_element(ToneBankElement* elm, const ToneBankElement* src);
void free_tone_bank_element(ToneBankElement* elm);
void free_tone_bank(void);

// ---- alternate assignments ----

AlternateAssign* add_altassign_string(AlternateAssign* old, char** params, int n);
AlternateAssign* find_altassign(AlternateAssign* altassign, int note);

// ---- value parsers ----

// A number clamped to 0..127 (the text's leading integer).
int atoi_limited(const char* string, int v_min, int v_max);
int string_to_7bit_range(const char* string_, int* start, int* end);
int16* config_parse_int16(const char* cp, int* num);
int** config_parse_envelope(const char* cp, int* num);
Quantity** config_parse_modulation(const char* name, int line, const char* cp, int* num, int mod_type);

#endif
