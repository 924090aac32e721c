// Reading SoundFont 2 files (RIFF "sfbk"): the preset, instrument and sample tables of the
// "pdta" list, checked once when the file is opened, and where the 16-bit sample points of the
// "smpl" chunk lie. The points themselves are not read here: the file is mapped, and only the
// pages a voice plays are ever brought into memory. Two kinds of sample are made into 16-bit
// points of their own when a preset first needs them, once, and kept with the font: those of a
// compressed font (SF3: each sample an Ogg Vorbis stream in "smpl"), and those of a font with
// 24-bit data (the low bytes in "sm24"), rounded to 16 bits.
#ifndef CORVELLE_INSTRUM_SF2_READER_H
#define CORVELLE_INSTRUM_SF2_READER_H

#include <deque>
#include <string>
#include <vector>

#include "sysdep.h"

// Generator numbers of the format that this engine reads.
enum SF2Generator {
    SF2_START_OFFSET = 0, SF2_END_OFFSET = 1, SF2_STARTLOOP_OFFSET = 2, SF2_ENDLOOP_OFFSET = 3,
    SF2_START_COARSE = 4, SF2_MODLFO_TO_PITCH = 5, SF2_VIBLFO_TO_PITCH = 6,
    SF2_MODENV_TO_PITCH = 7, SF2_FILTER_FC = 8, SF2_FILTER_Q = 9, SF2_MODLFO_TO_FC = 10,
    SF2_MODENV_TO_FC = 11, SF2_END_COARSE = 12, SF2_MODLFO_TO_VOLUME = 13, SF2_CHORUS_SEND = 15,
    SF2_REVERB_SEND = 16, SF2_PAN = 17, SF2_MODLFO_DELAY = 21, SF2_MODLFO_FREQ = 22,
    SF2_VIBLFO_DELAY = 23, SF2_VIBLFO_FREQ = 24, SF2_MODENV_DELAY = 25, SF2_MODENV_ATTACK = 26,
    SF2_MODENV_HOLD = 27, SF2_MODENV_DECAY = 28, SF2_MODENV_SUSTAIN = 29,
    SF2_MODENV_RELEASE = 30, SF2_KEY_TO_MODENV_HOLD = 31, SF2_KEY_TO_MODENV_DECAY = 32,
    SF2_VOLENV_DELAY = 33, SF2_VOLENV_ATTACK = 34, SF2_VOLENV_HOLD = 35, SF2_VOLENV_DECAY = 36,
    SF2_VOLENV_SUSTAIN = 37, SF2_VOLENV_RELEASE = 38, SF2_KEY_TO_VOLENV_HOLD = 39,
    SF2_KEY_TO_VOLENV_DECAY = 40, SF2_INSTRUMENT = 41, SF2_KEY_RANGE = 43, SF2_VEL_RANGE = 44,
    SF2_STARTLOOP_COARSE = 45, SF2_KEYNUM = 46, SF2_VELOCITY = 47, SF2_ATTENUATION = 48,
    SF2_ENDLOOP_COARSE = 50, SF2_COARSE_TUNE = 51, SF2_FINE_TUNE = 52, SF2_SAMPLE_ID = 53,
    SF2_SAMPLE_MODES = 54, SF2_SCALE_TUNING = 56, SF2_EXCLUSIVE_CLASS = 57,
    SF2_ROOT_KEY = 58, SF2_GEN_COUNT = 61
};

// Fields of a modulator's source operand: the controller index (bits 0-6), whether it is a
// MIDI controller number (bit 7), falling from the largest value (bit 8), running -1..1
// (bit 9), and the curve (bits 10-15).
enum {
    SF2_SRC_INDEX = 0x7F, SF2_SRC_CC = 0x80, SF2_SRC_FALLING = 0x100, SF2_SRC_BIPOLAR = 0x200,
    SF2_SRC_CURVE_SHIFT = 10
};
enum { SF2_CURVE_LINEAR = 0, SF2_CURVE_CONCAVE = 1, SF2_CURVE_CONVEX = 2, SF2_CURVE_SWITCH = 3 };
// Sources that are not MIDI controllers.
enum {
    SF2_SRC_NONE = 0, SF2_SRC_VELOCITY = 2, SF2_SRC_KEY = 3, SF2_SRC_POLY_PRESSURE = 10,
    SF2_SRC_CHANNEL_PRESSURE = 13, SF2_SRC_PITCH_WHEEL = 14, SF2_SRC_BEND_RANGE = 16,
    SF2_SRC_LINK = 127
};
// Transforms of a modulator's output.
enum { SF2_TRANSFORM_LINEAR = 0, SF2_TRANSFORM_ABSOLUTE = 2 };
// A destination with this bit set feeds another modulator instead of a generator.
enum { SF2_DEST_LINK = 0x8000 };

// One modulator as the font stores it: source, destination generator, amount, the source that
// scales the amount, and the transform of the result.
struct SF2Modulator {
    uint16 src, dest, amount_src, transform;
    int16 amount;
};

// Whether two modulators are the same one (the later replaces the earlier): same sources,
// destination and transform; the amount may differ.
inline bool sf2_same_modulator(const SF2Modulator& a, const SF2Modulator& b)
{
    return a.src == b.src && a.dest == b.dest && a.amount_src == b.amount_src &&
           a.transform == b.transform;
}

// One zone: the generators it sets (a bit per generator), their amounts, its key and velocity
// ranges, the instrument (preset zone) or sample (instrument zone) it points at, -1 for a
// global zone, and its modulators (a later one replaces an earlier identical one).
struct SF2Zone {
    uint64 set = 0;
    int16 amount[SF2_GEN_COUNT] = {};
    uint8 key_lo = 0, key_hi = 127, vel_lo = 0, vel_hi = 127;
    int target = -1;
    std::vector<SF2Modulator> mods;
    bool has(int g) const { return (set >> g) & 1u; }
};

// The most modulators a zone keeps (the rest of a longer list is left out, with a warning).
enum { SF2_MAX_ZONE_MODULATORS = 64 };

// Adds m to a list of modulators, in place of an identical one when the list has it.
void sf2_put_modulator(std::vector<SF2Modulator>* list, const SF2Modulator& m);

// A preset or an instrument: its name, its global zone (set = 0 when there is none) and the
// zones that point somewhere.
struct SF2ZoneList {
    char name[81];  // as printable text: other bytes written \xNN
    int bank = 0, preset = 0;  // presets only
    SF2Zone global;
    std::vector<SF2Zone> zones;
};

// Sample type bit of a sample stored as an Ogg Vorbis stream: start and end are then byte
// offsets of the stream in "smpl", the loop points frames from the sample's first one.
enum { SF2_SAMPLE_VORBIS = 0x10 };

struct SF2SampleHeader {
    char name[81];  // as printable text
    uint32 start, end, loop_start, loop_end, rate;
    uint8 root_key;
    int8 correction;
    uint16 link, type;
};

// The 16-bit points of one sample made from a compressed or 24-bit font: `frames` points and
// two zero points after them; none when the sample could not be made (reported once).
struct SF2Decoded {
    bool tried = false;
    std::vector<int16> points;
    uint32 frames = 0;
    int64 announced = -1;  // frames the stream's last page gives (-1 not read, 0 unreadable)
};

// What modulates the voices of one sample made from a zone pair: the format's default
// modulators with the zones' own merged in (only those with an effect this engine plays), and
// the zone's values they add to that the sample itself does not keep.
struct SF2ModList {
    std::vector<SF2Modulator> mod;
    // The default pitch-wheel and CC10 modulators are left to the engine's own bend and pan,
    // which do the same; false where the font replaces them (they are in `mod` then).
    bool engine_bend = true, engine_pan = true;
    int vib_to_pitch = 0;                   // cents
    int32 vib_ratio = 0, vib_delay = 0;     // output samples per vibrato step; delay in samples
    int mod_lfo_to_pitch = 0, mod_lfo_to_fc = 0, mod_lfo_to_volume = 0;  // cents, cents, cB
    int32 mod_lfo_increment = 0, mod_lfo_delay = 0;  // tremolo phase step a control period
    bool lfo_modulated = false;  // a modulator moves the modulation LFO's pitch or cutoff depth
    bool reads_brightness = false;  // a modulator reads CC74: the engine's brightness stays out
};

struct SF2File {
    std::string name;  // as the configuration names it, for messages
    std::vector<SF2ZoneList> presets, instruments;
    std::vector<SF2SampleHeader> samples;
    const int16* points = nullptr;  // the "smpl" chunk, little-endian 16-bit
    uint32 point_count = 0;
    const uint8* smpl = nullptr;  // the same chunk as bytes (the streams of a compressed font)
    uint32 smpl_bytes = 0;
    const uint8* sm24 = nullptr;  // the low bytes of 24-bit points, point_count of them; or none
    bool compressed = false;      // some sample is an Ogg Vorbis stream
    mutable std::vector<SF2Decoded> decoded;  // by sample, for compressed and 24-bit fonts
    // The modulator lists of the samples made from the font (kept as long as the font, like
    // the points: the copies of a converted preset share them).
    mutable std::deque<SF2ModList> mod_lists;
    // Warnings about the font, counted by kind until they are reported (one line a kind).
    struct Warning {
        std::string kind, first;  // the first message of the kind in full
        int count = 0, reported = 0;
        bool left_out = false;  // something of the font will not be heard
    };
    mutable std::vector<Warning> warnings;
    mutable bool counted_unusable = false;  // already counted among the instruments not loaded
    void* map = nullptr;  // the whole file, mapped read-only (none when read from memory)
    size_t map_length = 0;
    ~SF2File();
};

// Reads the tables of a SoundFont held in `size` bytes at `data` (which must stay valid while
// the result is used). None when the file is damaged, with the reason in *error.
SF2File* sf2_read_memory(const void* data, size_t size, const char* name, std::string* error);

// Maps the file and reads its tables. None, with the reason in *error, when it cannot be
// opened or is damaged.
SF2File* sf2_open(const char* path, const char* name, std::string* error);

// Whether sample `index` is played from points made for it (sf2_decoded_sample) rather than
// from the mapped data.
bool sf2_needs_decoding(const SF2File* f, int index);

// The points of sample `index` of a compressed or 24-bit font, made on the first call and kept:
// decoded from its Ogg Vorbis stream, or the 24-bit points rounded to 16 bits. None when the
// stream is damaged, with the reason in *error (the first call only; later calls return none
// with an empty *error).
const SF2Decoded* sf2_decoded_sample(const SF2File* f, int index, std::string* error);

// The frames the Ogg Vorbis stream of sample `index` announces (its last page), read without
// decoding; 0 with the reason in *error (the first call only) when the stream is unreadable.
int64 sf2_announced_frames(const SF2File* f, int index, std::string* error);

// Text from the file as printable ASCII: other bytes written \xNN.
std::string sf2_printable(const void* text, size_t length);

// The preset of `bank` and `preset`, or none.
const SF2ZoneList* sf2_find_preset(const SF2File* f, int bank, int preset);

#endif
