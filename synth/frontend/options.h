// Option settings: the synthesizer's run-time settings and the interpreter that changes them
// from option letters ("-p 64") and long options ("--polyphony=64"), as configuration `opt`
// lines and a command line give them.
#ifndef CORVELLE_FRONTEND_OPTIONS_H
#define CORVELLE_FRONTEND_OPTIONS_H

#include "sysdep.h"

// ---- the option letters and long options ----

// Letters, with ":" after a letter that takes an argument.
extern const char optcommands[];

enum { no_argument_opt = 0, required_argument_opt = 1, optional_argument_opt = 2 };

struct LongOption {
    const char* name;
    int has_arg;
    int code;
};
// The long options, ended by an entry with no name.
extern const LongOption longopts[];

// Long-option codes (256 and up; a "no-" name has the code of its positive name).
enum {
    ENGINE_OPT_FIRST = 256,
    ENGINE_OPT_VOLUME = 256,
    ENGINE_OPT_DRUM_POWER,
    ENGINE_OPT_VOLUME_COMP,
    ENGINE_OPT_ANTI_ALIAS,
    ENGINE_OPT_BUFFER_FRAGS,
    ENGINE_OPT_CONTROL_RATIO,
    ENGINE_OPT_CONFIG_FILE,
    ENGINE_OPT_DRUM_CHANNEL,
    ENGINE_OPT_IFACE_PATH,
    ENGINE_OPT_EXT,
    ENGINE_OPT_MOD_WHEEL,
    ENGINE_OPT_PORTAMENTO,
    ENGINE_OPT_VIBRATO,
    ENGINE_OPT_CH_PRESS,
    ENGINE_OPT_MOD_ENV,
    ENGINE_OPT_TRACE_TEXT,
    ENGINE_OPT_OVERLAP,
    ENGINE_OPT_TEMPER_CTRL,
    ENGINE_OPT_DEFAULT_MID,
    ENGINE_OPT_SYSTEM_MID,
    ENGINE_OPT_DEFAULT_BANK,
    ENGINE_OPT_FORCE_BANK,
    ENGINE_OPT_DEFAULT_PGM,
    ENGINE_OPT_FORCE_PGM,
    ENGINE_OPT_DELAY,
    ENGINE_OPT_CHORUS,
    ENGINE_OPT_REVERB,
    ENGINE_OPT_VOICE_LPF,
    ENGINE_OPT_NS,
    ENGINE_OPT_RESAMPLE,
    ENGINE_OPT_EVIL,
    ENGINE_OPT_FAST_PAN,
    ENGINE_OPT_FAST_DECAY,
    ENGINE_OPT_SPECTROGRAM,
    ENGINE_OPT_KEYSIG,
    ENGINE_OPT_HELP,
    ENGINE_OPT_INTERFACE,
    ENGINE_OPT_VERBOSE,
    ENGINE_OPT_QUIET,
    ENGINE_OPT_TRACE,
    ENGINE_OPT_LOOP,
    ENGINE_OPT_RANDOM,
    ENGINE_OPT_SORT,
    ENGINE_OPT_UNUSED_299,
    ENGINE_OPT_UNUSED_300,
    ENGINE_OPT_UNUSED_301,
    ENGINE_OPT_RT_LOAD,
    ENGINE_OPT_ADJUST_KEY,
    ENGINE_OPT_VOICE_QUEUE,
    ENGINE_OPT_PATCH_PATH,
    ENGINE_OPT_PCM_FILE,
    ENGINE_OPT_DECAY_TIME,
    ENGINE_OPT_INTERPOLATION,
    ENGINE_OPT_OUTPUT_MODE,
    ENGINE_OPT_OUTPUT_STEREO,
    ENGINE_OPT_OUTPUT_SIGNED,
    ENGINE_OPT_OUTPUT_BITWIDTH,
    ENGINE_OPT_OUTPUT_FORMAT,
    ENGINE_OPT_OUTPUT_SWAB,
    ENGINE_OPT_OUTPUT_FILE,
    ENGINE_OPT_PATCH_FILE,
    ENGINE_OPT_POLYPHONY,
    ENGINE_OPT_POLY_REDUCE,
    ENGINE_OPT_MUTE,
    ENGINE_OPT_TEMPER_MUTE,
    ENGINE_OPT_AUDIO_BUFFER,
    ENGINE_OPT_CACHE_SIZE,
    ENGINE_OPT_SAMPLE_FREQ,
    ENGINE_OPT_ADJUST_TEMPO,
    ENGINE_OPT_CHARSET,
    ENGINE_OPT_UNLOAD_INST,
    ENGINE_OPT_VOLUME_CURVE,
    ENGINE_OPT_VERSION,
    ENGINE_OPT_WRD,
    ENGINE_OPT_RCPCV_DLL,
    ENGINE_OPT_CONFIG_STR,
    ENGINE_OPT_FREQ_TABLE,
    ENGINE_OPT_PURE_INT,
    ENGINE_OPT_MODULE,
    ENGINE_OPT_LAST = ENGINE_OPT_MODULE
};

// Applies one option letter with its argument (none or empty for letters without one).
// Returns 0 on success, else a positive error weight.
int set_engine_opt_short(int c, const char* optarg);
// Applies one long option by its code; arg is none when the option was given without one.
int set_engine_opt_long(int code, const char* arg);
// Splits one command-line style word list (argv[first..argc-1]) of options ("-p64",
// "-p 64", "--polyphony=64", "--no-loop") and applies them; non-option words stop the scan.
// Sets *next to the index of the first word not used. An unknown long option reports
// "Could not understand option : try --help" and ends the process with status 1.
int parse_options(int argc, char** argv, int first, int* next);
// Finds a long option by name ("polyphony", "no-loop", or an unambiguous prefix of one);
// returns its entry or none. *negated is set for a "no-" name.
const LongOption* find_long_option(const char* name, int* negated);
// Effect and extension settings ("-E"), and the reverb setting ("--reverb").
int parse_opt_E(const char* arg);
int parse_opt_reverb(const char* arg);
// A manufacturer id from hexadecimal text or a name ("gs", "xg", "gm"...); 0 when unknown.
int str2mID(const char* str);
// Yes/no arguments: none, or an argument beginning with Y or T (any case), is yes.
int y_or_n_p(const char* arg);

// ---- front-end settings ----

extern int got_a_configuration;
extern int try_config_again;
extern char* opt_output_name;
extern char* pcm_alternate_file;
extern char* output_text_code;
extern char* opt_aq_max_buff;
extern char* opt_aq_fill_buff;
extern char* program_name;
extern int opt_evil_mode;
extern int opt_realtime_playing;
extern char* wrdt_open_opts;

// Configuration texts given as options ("-x"), read after the files.
struct StringTableNode {
    StringTableNode* next;
    char string[1];
};
struct StringTable {
    StringTableNode *head, *tail;
    uint16 nstring;
};
extern StringTable opt_config_string;
void put_string_table(StringTable* st, const char* s, int len);
void delete_string_table(StringTable* st);

// ---- player, voices and channels ----

extern int32 quietchannels;
extern int voices, max_voices;
extern int auto_reduce_polyphony;
extern int reduce_voice_threshold;
extern int32 min_sustain_time;
extern int opt_modulation_wheel, opt_portamento, opt_nrpn_vibrato, opt_channel_pressure;
extern int opt_modulation_envelope, opt_trace_text_meta_event, opt_overlap_voice_allow;
extern int opt_temper_control;
extern int key_adjust;
extern int8 opt_force_keysig, opt_init_keysig;
extern int opt_pure_intonation;
extern int temper_type_mute;
extern double tempo_adjust;
extern int opt_default_module;
extern int opt_default_mid, opt_system_mid;
extern int default_program[MAX_CHANNELS];
extern int def_prog, special_tonebank, default_tonebank;
extern char def_instr_name[256];
extern char* default_instrument_name;
extern int32 amplification;
extern int opt_drum_power;
extern int opt_amp_compensation;
extern int adjust_panning_immediately;
extern int opt_user_volume_curve;

// ---- instruments ----

extern int antialiasing_allowed;
extern int fast_decay;
extern int32 modify_release;
extern int free_instruments_afterwards;
extern int32 allocate_cache_size;

// ---- rendering and output ----

extern int32 control_ratio;
extern int32 opt_control_ratio;
extern int32 opt_output_rate;
extern int opt_buffer_fragments;
extern int audio_buffer_bits;
extern int no_4point_interpolation;
extern int opt_lpf_def;

// ---- effects ----

extern int opt_reverb_control, opt_chorus_control, opt_surround_chorus;
extern int opt_delay_control, opt_eq_control, opt_insertion_effect;
extern int effect_lr_mode, effect_lr_delay_msec;
extern int noise_sharp_type;

#endif
