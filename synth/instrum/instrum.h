// Instruments and their waveforms, the patch-file loader and the cache of loaded instruments.
#ifndef CORVELLE_INSTRUM_INSTRUM_H
#define CORVELLE_INSTRUM_INSTRUM_H

#include "sysdep.h"

// Sample positions and lengths: unsigned fixed point with FRACTION_BITS fraction bits.
typedef uint32 splen_t;
typedef int16 sample_t;
#define FRACTION_BITS 12
#define FRACTION_MASK ((1 << FRACTION_BITS) - 1)

// The most sample frames one waveform may hold: its length in fixed point (plus a loop-end
// fraction of up to 15/16) must stay below 2^32.
#define MAX_SAMPLE_FRAMES ((splen_t)((0xFFFFFFFFu >> FRACTION_BITS) - 1))

// Mode bits of a sample.
enum {
    MODES_16BIT = 1,
    MODES_UNSIGNED = 2,
    MODES_LOOPING = 4,
    MODES_PINGPONG = 8,
    MODES_REVERSE = 16,
    MODES_SUSTAIN = 32,
    MODES_ENVELOPE = 64
};

// Instrument kinds.
enum { INST_GUS = 0, INST_SF2 = 1 };

// Sample types (mono, or one half of a stereo pair).
enum { SF_SAMPLETYPE_MONO = 1, SF_SAMPLETYPE_RIGHT = 2, SF_SAMPLETYPE_LEFT = 4 };

struct Sample {
    splen_t loop_start, loop_end, data_length;
    int32 sample_rate, low_freq, high_freq, root_freq;
    int8 panning, note_to_use;
    int32 envelope_rate[6], envelope_offset[6];
    int32 modenv_rate[6], modenv_offset[6];
    FLOAT_T volume;
    sample_t* data;  // data_length samples plus two zero samples after the end
    int32 tremolo_sweep_increment, tremolo_phase_increment;
    int32 vibrato_sweep_increment, vibrato_control_ratio;
    int16 tremolo_depth, vibrato_depth;
    uint8 modes, data_alloced;
    uint8 low_vel, high_vel;
    int32 cutoff_freq;
    int16 resonance;
    int16 tremolo_to_pitch, tremolo_to_fc, modenv_to_pitch, modenv_to_fc;
    int16 envelope_keyf[6], envelope_velf[6], modenv_keyf[6], modenv_velf[6];
    int16 vel_to_fc, key_to_fc, vel_to_resonance;
    int8 envelope_velf_bpo, modenv_velf_bpo, key_to_fc_bpo, vel_to_fc_threshold;
    int32 vibrato_delay, tremolo_delay, envelope_delay, modenv_delay;
    int16 scale_freq, scale_factor;
    int8 inst_type;
    int32 sf_sample_index, sf_sample_link;
    uint16 sample_type;
    uint8 sf_exclusive_class;  // a note of a SoundFont sample with a class cuts the older ones
    uint8 velocity_to_use;     // 1..127: the velocity its notes play with, whatever they have; 0 none
    // The zone's own effect sends of a SoundFont sample, in tenths of a percent (0..1000).
    int16 sf_chorus_send, sf_reverb_send;
    // What the chorus returns of the voice's chorus share: a factor of its font (1 the chorus
    // as a channel's send feeds it).
    float sf_chorus_return;
    // A compressed SoundFont sample not decoded yet: its font (data then reads silence), and
    // where the sample's points start in what its stream decodes to. None once decoded.
    const struct SF2File* sf_pending;
    uint32 sf_first;
    // A SoundFont sample's modulators (kept with its font); none for other samples.
    const struct SF2ModList* sf_mods;
    // A resample-cache copy that holds only the start of its source: values up to cache_valid
    // (fixed point) stand for the source's points at cache_step (fixed point) apart; a voice
    // that gets there goes on in the source. None for every other sample.
    const Sample* cache_source;
    int64 cache_step;
    splen_t cache_valid;
};

struct Instrument {
    int type;
    int samples;
    Sample* sample;  // owned, `samples` entries
    char* instname;  // owned; none for a patch-file instrument
};

// What a tone-bank element's instrument reference holds besides none or a loaded instrument:
// the load mark (wanted by the song, load it before playing) and the error mark (loading
// failed, do not try again until the marks are cleared).
#define MAGIC_LOAD_INSTRUMENT ((Instrument*)(-1))
#define MAGIC_ERROR_INSTRUMENT ((Instrument*)(-2))
#define IS_MAGIC_INSTRUMENT(ip) ((ip) == MAGIC_LOAD_INSTRUMENT || (ip) == MAGIC_ERROR_INSTRUMENT)

// A waveform set that the module player installs for a channel (special_patch); the samples,
// the data they own and the name belong to the record.
struct SpecialPatch {
    int type;
    int samples;
    Sample* sample;
    char* name;
    int32 sample_offset;  // where a note starts in the waveform, in samples
};

struct ToneBank;

// One loaded instrument in the cache, with the name and the six settings it was loaded with.
struct InstrumentCache {
    char* name;  // owned copy of the patch name
    int panning, amp, note, strip_loop, strip_envelope, strip_tail;
    Instrument* ip;
    InstrumentCache* next;
};

#define INSTRUMENT_HASH_SIZE 128
extern InstrumentCache* instrument_cache[INSTRUMENT_HASH_SIZE];

// Loads patch file `name` with the overrides of element `prog` of `bank` (no bank: none).
// `infomsg`, when given, names the instrument in the loading message. None on failure, after
// the reason has been reported.
Instrument* load_gus_instrument(const char* name, ToneBank* bank, int dr, int prog,
                                const char* infomsg);

// Reads a patch from `size` bytes at `data` with the same overrides and checks; `name` is used
// in messages only. The instrument is the caller's (free_instrument); the cache is not used.
Instrument* load_gus_instrument_from_memory(const char* name, const void* data, long size,
                                            ToneBank* bank, int dr, int prog);

// Low seven bits of the sum of the name's bytes, each taken as signed.
int name_hash(const char* name);

// Filters 16-bit data in place against aliasing when it is played at `output_rate`.
void antialiasing(int16* data, int32 data_length, int32 sample_rate, int32 output_rate);

// Frees each sample's data when the sample owns it, the sample array, the name and the record.
void free_instrument(Instrument* ip);

// The cached instrument loaded from `name` with these settings, or none.
Instrument* find_cached_instrument(const char* name, int panning, int amp, int note,
                                   int strip_loop, int strip_envelope, int strip_tail);
// Puts a loaded instrument at the head of its bucket.
void store_cached_instrument(const char* name, int panning, int amp, int note, int strip_loop,
                             int strip_envelope, int strip_tail, Instrument* ip);
// Empties every bucket, freeing each instrument and entry, except the entry holding `keep`
// (when not none), which stays as the only entry of its bucket.
void clear_instrument_cache(Instrument* keep);

#endif
