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
    TIM_OPT_FIRST = 256,
    TIM_OPT_VOLUME = 256,
    TIM_OPT_DRUM_POWER,
    TIM_OPT_VOLUME_COMP,
    TIM_OPT_ANTI_ALIAS,
    TIM_OPT_BUFFER_FRAGS,
    TIM_OPT_CONTROL_RATIO,
    TIM_OPT_CONFIG_FILE,
    TIM_OPT_DRUM_CHANNEL,
    TIM_OPT_IFACE_PATH,
    TIM_OPT_EXT,
    TIM_OPT_MOD_WHEEL,
    TIM_OPT_PORTAMENTO,
    TIM_OPT_VIBRATO,
    TIM_OPT_CH_PRESS,
    TIM_OPT_MOD_ENV,
    TIM_OPT_TRACE_TEXT,
    TIM_OPT_OVERLAP,
    TIM_OPT_TEMPER_CTRL,
    TIM_OPT_DEFAULT_MID,
    TIM_OPT_SYSTEM_MID,
    TIM_OPT_DEFAULT_BANK,
    TIM_OPT_FORCE_BANK,
    TIM_OPT_DEFAULT_PGM,
    TIM_OPT_FORCE_PGM,
    TIM_OPT_DELAY,
    TIM_OPT_CHORUS,
    TIM_OPT_REVERB,
    TIM_OPT_VOICE_LPF,
    TIM_OPT_NS,
    TIM_OPT_RESAMPLE,
    TIM_OPT_EVIL,
    TIM_OPT_FAST_PAN,
    TIM_OPT_FAST_DECAY,
    TIM_OPT_SPECTROGRAM,
    TIM_OPT_KEYSIG,
    TIM_OPT_HELP,
    TIM_OPT_INTERFACE,
    TIM_OPT_VERBOSE,
    TIM_OPT_QUIET,
    TIM_OPT_TRACE,
    TIM_OPT_LOOP,
    TIM_OPT_RANDOM,
    TIM_OPT_SORT,
    TIM_OPT_UNUSED_299,
    TIM_OPT_UNUSED_300,
    TIM_OPT_UNUSED_301,
    TIM_OPT_RT_LOAD,
    TIM_OPT_ADJUST_KEY,
    TIM_OPT_VOICE_QUEUE,
    TIM_OPT_PATCH_PATH,
    TIM_OPT_PCM_FILE,
    TIM_OPT_DECAY_TIME,
    TIM_OPT_INTERPOLATION,
    TIM_OPT_OUTPUT_MODE,
    TIM_OPT_OUTPUT_STEREO,
    TIM_OPT_OUTPUT_SIGNED,
    TIM_OPT_OUTPUT_BITWIDTH,
    TIM_OPT_OUTPUT_FORMAT,
    TIM_OPT_OUTPUT_SWAB,
    TIM_OPT_OUTPUT_FILE,
    TIM_OPT_PATCH_FILE,
    TIM_OPT_POLYPHONY,
    TIM_OPT_POLY_REDUCE,
    TIM_OPT_MUTE,
    TIM_OPT_TEMPER_MUTE,
    TIM_OPT_AUDIO_BUFFER,
    TIM_OPT_CACHE_SIZE,
    TIM_OPT_SAMPLE_FREQ,
    TIM_OPT_ADJUST_TEMPO,
    TIM_OPT_CHARSET,
    TIM_OPT_UNLOAD_INST,
    TIM_OPT_VOLUME_CURVE,
    TIM_OPT_VERSION,
    TIM_OPT_WRD,
    TIM_OPT_RCPCV_DLL,
    TIM_OPT_CONFIG_STR,
    TIM_OPT_FREQ_TABLE,
    TIM_OPT_PURE_INT,
    TIM_OPT_MODULE,
    TIM_OPT_LAST = TIM_OPT_MODULE
};

// Applies one option letter with its argument (none or empty for letters without one).
// Returns 0 on success, else a positive error weight.
int set_tim_opt_short(int c, const char* optarg);
// Applies one long option by its code; arg is none when the option was given without one.
int set_tim_opt_long(int code, const char* arg);
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
