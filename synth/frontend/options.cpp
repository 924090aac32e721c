// The option interpreter: option letters with their argument, long options by code, and the
// parser that splits command-line style words into options.
#include "frontend/options.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "config/files.h"
#include "config/readconfig.h"
#include "config/tonebank.h"
#include "frontend/controls.h"
#include "frontend/memory.h"
#include "frontend/tables.h"
#include "output/output.h"
#include "play/playmidi.h"
#include "render/resample_settings.h"

const char optcommands[] = "4A:aB:b:C:c:D:d:E:eFfg:H:hI:i:jK:k:L:M:m:N:O:o:P:p:Q:q:R:S:s:T:t:UV:vW:w:x:Z:";

#define NO_ARG no_argument_opt
#define REQ_ARG required_argument_opt
#define OPT_ARG optional_argument_opt

const LongOption longopts[] = {
    {"volume", REQ_ARG, ENGINE_OPT_VOLUME},
    {"drum-power", REQ_ARG, ENGINE_OPT_DRUM_POWER},
    {"volume-compensation", OPT_ARG, ENGINE_OPT_VOLUME_COMP},
    {"no-volume-compensation", NO_ARG, ENGINE_OPT_VOLUME_COMP},
    {"anti-alias", OPT_ARG, ENGINE_OPT_ANTI_ALIAS},
    {"no-anti-alias", NO_ARG, ENGINE_OPT_ANTI_ALIAS},
    {"buffer-fragments", REQ_ARG, ENGINE_OPT_BUFFER_FRAGS},
    {"control-ratio", REQ_ARG, ENGINE_OPT_CONTROL_RATIO},
    {"config-file", REQ_ARG, ENGINE_OPT_CONFIG_FILE},
    {"drum-channel", REQ_ARG, ENGINE_OPT_DRUM_CHANNEL},
    {"interface-path", REQ_ARG, ENGINE_OPT_IFACE_PATH},
    {"ext", REQ_ARG, ENGINE_OPT_EXT},
    {"mod-wheel", OPT_ARG, ENGINE_OPT_MOD_WHEEL},
    {"no-mod-wheel", NO_ARG, ENGINE_OPT_MOD_WHEEL},
    {"portamento", OPT_ARG, ENGINE_OPT_PORTAMENTO},
    {"no-portamento", NO_ARG, ENGINE_OPT_PORTAMENTO},
    {"vibrato", OPT_ARG, ENGINE_OPT_VIBRATO},
    {"no-vibrato", NO_ARG, ENGINE_OPT_VIBRATO},
    {"ch-pressure", OPT_ARG, ENGINE_OPT_CH_PRESS},
    {"no-ch-pressure", NO_ARG, ENGINE_OPT_CH_PRESS},
    {"mod-envelope", OPT_ARG, ENGINE_OPT_MOD_ENV},
    {"no-mod-envelope", NO_ARG, ENGINE_OPT_MOD_ENV},
    {"trace-text-meta", OPT_ARG, ENGINE_OPT_TRACE_TEXT},
    {"no-trace-text-meta", NO_ARG, ENGINE_OPT_TRACE_TEXT},
    {"overlap-voice", OPT_ARG, ENGINE_OPT_OVERLAP},
    {"no-overlap-voice", NO_ARG, ENGINE_OPT_OVERLAP},
    {"temper-control", OPT_ARG, ENGINE_OPT_TEMPER_CTRL},
    {"no-temper-control", NO_ARG, ENGINE_OPT_TEMPER_CTRL},
    {"default-mid", REQ_ARG, ENGINE_OPT_DEFAULT_MID},
    {"system-mid", REQ_ARG, ENGINE_OPT_SYSTEM_MID},
    {"default-bank", REQ_ARG, ENGINE_OPT_DEFAULT_BANK},
    {"force-bank", REQ_ARG, ENGINE_OPT_FORCE_BANK},
    {"default-program", REQ_ARG, ENGINE_OPT_DEFAULT_PGM},
    {"force-program", REQ_ARG, ENGINE_OPT_FORCE_PGM},
    {"delay", REQ_ARG, ENGINE_OPT_DELAY},
    {"chorus", REQ_ARG, ENGINE_OPT_CHORUS},
    {"reverb", REQ_ARG, ENGINE_OPT_REVERB},
    {"voice-lpf", REQ_ARG, ENGINE_OPT_VOICE_LPF},
    {"noise-shaping", REQ_ARG, ENGINE_OPT_NS},
    {"resample", REQ_ARG, ENGINE_OPT_RESAMPLE},
    {"evil", REQ_ARG, ENGINE_OPT_EVIL},
    {"fast-panning", OPT_ARG, ENGINE_OPT_FAST_PAN},
    {"no-fast-panning", NO_ARG, ENGINE_OPT_FAST_PAN},
    {"fast-decay", OPT_ARG, ENGINE_OPT_FAST_DECAY},
    {"no-fast-decay", NO_ARG, ENGINE_OPT_FAST_DECAY},
    {"spectrogram", REQ_ARG, ENGINE_OPT_SPECTROGRAM},
    {"force-keysig", REQ_ARG, ENGINE_OPT_KEYSIG},
    {"help", OPT_ARG, ENGINE_OPT_HELP},
    {"interface", REQ_ARG, ENGINE_OPT_INTERFACE},
    {"verbose", OPT_ARG, ENGINE_OPT_VERBOSE},
    {"quiet", OPT_ARG, ENGINE_OPT_QUIET},
    {"trace", OPT_ARG, ENGINE_OPT_TRACE},
    {"no-trace", NO_ARG, ENGINE_OPT_TRACE},
    {"loop", OPT_ARG, ENGINE_OPT_LOOP},
    {"no-loop", NO_ARG, ENGINE_OPT_LOOP},
    {"random", OPT_ARG, ENGINE_OPT_RANDOM},
    {"no-random", NO_ARG, ENGINE_OPT_RANDOM},
    {"sort", OPT_ARG, ENGINE_OPT_SORT},
    {"no-sort", NO_ARG, ENGINE_OPT_SORT},
    {"realtime-load", OPT_ARG, ENGINE_OPT_RT_LOAD},
    {"no-realtime-load", NO_ARG, ENGINE_OPT_RT_LOAD},
    {"adjust-key", REQ_ARG, ENGINE_OPT_ADJUST_KEY},
    {"voice-queue", REQ_ARG, ENGINE_OPT_VOICE_QUEUE},
    {"patch-path", REQ_ARG, ENGINE_OPT_PATCH_PATH},
    {"pcm-file", REQ_ARG, ENGINE_OPT_PCM_FILE},
    {"decay-time", REQ_ARG, ENGINE_OPT_DECAY_TIME},
    {"interpolation", REQ_ARG, ENGINE_OPT_INTERPOLATION},
    {"output-mode", REQ_ARG, ENGINE_OPT_OUTPUT_MODE},
    {"output-stereo", NO_ARG, ENGINE_OPT_OUTPUT_STEREO},
    {"output-mono", NO_ARG, ENGINE_OPT_OUTPUT_STEREO},
    {"output-signed", NO_ARG, ENGINE_OPT_OUTPUT_SIGNED},
    {"output-unsigned", NO_ARG, ENGINE_OPT_OUTPUT_SIGNED},
    {"output-16bit", NO_ARG, ENGINE_OPT_OUTPUT_BITWIDTH},
    {"output-24bit", NO_ARG, ENGINE_OPT_OUTPUT_BITWIDTH},
    {"output-8bit", NO_ARG, ENGINE_OPT_OUTPUT_BITWIDTH},
    {"output-linear", NO_ARG, ENGINE_OPT_OUTPUT_FORMAT},
    {"output-ulaw", NO_ARG, ENGINE_OPT_OUTPUT_FORMAT},
    {"output-alaw", NO_ARG, ENGINE_OPT_OUTPUT_FORMAT},
    {"output-swab", OPT_ARG, ENGINE_OPT_OUTPUT_SWAB},
    {"no-output-swab", NO_ARG, ENGINE_OPT_OUTPUT_SWAB},
    {"output-file", REQ_ARG, ENGINE_OPT_OUTPUT_FILE},
    {"patch-file", REQ_ARG, ENGINE_OPT_PATCH_FILE},
    {"polyphony", REQ_ARG, ENGINE_OPT_POLYPHONY},
    {"polyphony-reduction", OPT_ARG, ENGINE_OPT_POLY_REDUCE},
    {"no-polyphony-reduction", NO_ARG, ENGINE_OPT_POLY_REDUCE},
    {"mute", REQ_ARG, ENGINE_OPT_MUTE},
    {"temper-mute", REQ_ARG, ENGINE_OPT_TEMPER_MUTE},
    {"audio-buffer", REQ_ARG, ENGINE_OPT_AUDIO_BUFFER},
    {"cache-size", REQ_ARG, ENGINE_OPT_CACHE_SIZE},
    {"sampling-freq", REQ_ARG, ENGINE_OPT_SAMPLE_FREQ},
    {"adjust-tempo", REQ_ARG, ENGINE_OPT_ADJUST_TEMPO},
    {"output-charset", REQ_ARG, ENGINE_OPT_CHARSET},
    {"unload-instruments", OPT_ARG, ENGINE_OPT_UNLOAD_INST},
    {"no-unload-instruments", NO_ARG, ENGINE_OPT_UNLOAD_INST},
    {"volume-curve", REQ_ARG, ENGINE_OPT_VOLUME_CURVE},
    {"version", NO_ARG, ENGINE_OPT_VERSION},
    {"wrd", REQ_ARG, ENGINE_OPT_WRD},
    {"rcpcv-dll", REQ_ARG, ENGINE_OPT_RCPCV_DLL},
    {"config-string", REQ_ARG, ENGINE_OPT_CONFIG_STR},
    {"freq-table", REQ_ARG, ENGINE_OPT_FREQ_TABLE},
    {"pure-intonation", OPT_ARG, ENGINE_OPT_PURE_INT},
    {"module", REQ_ARG, ENGINE_OPT_MODULE},
    {nullptr, 0, 0},
};

// WRD reading options collected from "-WR...".
static StringTable wrd_read_opts = {nullptr, nullptr, 0};

// ---- helpers ----------------------------------------------------------------------------

// The leading integer of s (0 when none), held within the int range.
static int opt_int(const char* s)
{
    return atoi_limited(s, INT_MIN, INT_MAX);
}

// The range message; 1 when v is outside low..high, else 0.
static int out_of_range(long v, long low, long high, const char* name)
{
    if (v >= low && v <= high)
        return 0;
    cmsg(CMSG_ERROR, VERB_NORMAL, "%s must be between %ld and %ld", name, low, high);
    return 1;
}

template <typename T>
static int set_value(T* param, long v, long low, long high, const char* name)
{
    if (out_of_range(v, low, high, name))
        return 1;
    *param = (T)v;
    return 0;
}

static void replace_string(char** target, const char* value)
{
    free(*target);
    *target = safe_strdup(value != nullptr ? value : "");
}

int y_or_n_p(const char* arg)
{
    if (arg == nullptr || *arg == '\0')
        return 1;
    int c = toupper((unsigned char)*arg);
    return c == 'Y' || c == 'T';
}

// ---- letters ----------------------------------------------------------------------------

static int parse_opt_A(const char* arg)
{
    int err = 0;
    if (*arg != ',' && *arg != 'a' && *arg != '\0') {
        if (set_value(&amplification, opt_int(arg), 0, 800, "Amplification"))
            return 1;
    }
    const char* p = strchr(arg, ',');
    if (p != nullptr && set_value(&opt_drum_power, opt_int(p + 1), 0, 800, "Drum power"))
        err++;
    if (strchr(arg, 'a') != nullptr)
        opt_amp_compensation = 1;
    return err;
}

static int parse_opt_B(const char* arg)
{
    if (*arg != ',' && *arg != '\0') {
        if (set_value(&opt_buffer_fragments, opt_int(arg), 0, 1000, "Buffer Fragments (num)"))
            return 1;
    }
    const char* p = strchr(arg, ',');
    if (p != nullptr) {
        if (set_value(&audio_buffer_bits, opt_int(p + 1), 1, 12, "Buffer Fragments (bit)"))
            return 1;
    }
    return 0;
}

// A channel list as "-D" or "-Q" take it: 0 for all channels, n to add, -n to remove.
static int parse_channel_number(const char* arg, uint32* set, const char* name)
{
    int n = opt_int(arg);
    if (n == 0) {
        *set = 0xffffffffu;
        return 0;
    }
    if (n >= 1 && n <= MAX_CHANNELS) {
        *set |= 1u << (n - 1);
        return 0;
    }
    if (n <= -1 && n >= -MAX_CHANNELS) {
        *set &= ~(1u << (-n - 1));
        return 0;
    }
    cmsg(CMSG_ERROR, VERB_NORMAL, "%s must be between (-)1 and (-)%d, or 0", name, MAX_CHANNELS);
    return 1;
}

static int parse_temper_list(const char* arg, int* mute_set)
{
    for (const char* p = arg; p != nullptr;) {
        int prog = opt_int(p);
        if (out_of_range(prog, 0, 7, "Temperament program number"))
            return 1;
        *mute_set |= 1 << prog;
        p = strchr(p, ',');
        if (p != nullptr)
            p++;
    }
    return 0;
}

static int parse_opt_Q(const char* arg)
{
    if (strchr(arg, 't') != nullptr)
        return parse_temper_list(arg, &temper_type_mute);
    uint32 set = (uint32)quietchannels;
    for (const char* p = arg; p != nullptr;) {
        if (parse_channel_number(p, &set, "Quiet channel"))
            return 1;
        p = strchr(p, ',');
        if (p != nullptr)
            p++;
    }
    quietchannels = (int32)set;
    return 0;
}

static int parse_opt_N(const char* arg)
{
    switch (get_current_resampler()) {
    case RESAMPLE_CSPLINE:
    case RESAMPLE_LAGRANGE:
        no_4point_interpolation = y_or_n_p(arg);
        return 0;
    case RESAMPLE_GAUSS:
    case RESAMPLE_NEWTON: {
        int val = opt_int(arg);
        if (val == 0) {
            set_current_resampler(RESAMPLE_LINEAR);
            return 0;
        }
        if (set_resampler_parm(val) != 0) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "Invalid -N value");
            return 1;
        }
        return 0;
    }
    default:
        return 0;
    }
}

// Changes the encoding bits of the selected output mode by one format modifier.
static int apply_format_modifier(PlayMode* pmp, int c)
{
    int32& e = pmp->encoding;
    switch (c) {
    case 'S': e &= ~PE_MONO; break;
    case 'M': e |= PE_MONO; break;
    case 's': e |= PE_SIGNED; e &= ~(PE_ULAW | PE_ALAW); break;
    case 'u': e &= ~(PE_SIGNED | PE_ULAW | PE_ALAW); break;
    case '1': e |= PE_16BIT; e &= ~(PE_ULAW | PE_ALAW | PE_24BIT); break;
    case '2': e |= PE_24BIT; e &= ~(PE_16BIT | PE_ULAW | PE_ALAW); break;
    case '8': e &= ~(PE_16BIT | PE_24BIT); break;
    case 'l': e &= ~(PE_ULAW | PE_ALAW); break;
    case 'U': e |= PE_ULAW; e &= ~(PE_SIGNED | PE_16BIT | PE_ALAW | PE_BYTESWAP | PE_24BIT); break;
    case 'A': e |= PE_ALAW; e &= ~(PE_SIGNED | PE_16BIT | PE_ULAW | PE_BYTESWAP | PE_24BIT); break;
    case 'x': e ^= PE_BYTESWAP; e &= ~(PE_ULAW | PE_ALAW); break;
    default:
        cmsg(CMSG_ERROR, VERB_NORMAL, "Unknown format modifier `%c'", c);
        return 1;
    }
    return 0;
}

static PlayMode* find_play_mode(int c)
{
    for (PlayMode** p = play_mode_list; *p != nullptr; p++)
        if ((*p)->id_character == c)
            return *p;
    return nullptr;
}

static int parse_opt_O(const char* arg)
{
    PlayMode* pmp = find_play_mode((unsigned char)arg[0]);
    if (pmp == nullptr || arg[0] == '\0') {
        cmsg(CMSG_ERROR, VERB_NORMAL, "Playmode `%c' is not compiled in.", arg[0]);
        return 1;
    }
    play_mode = pmp;
    for (const char* p = arg + 1; *p != '\0'; p++)
        if (apply_format_modifier(pmp, (unsigned char)*p))
            return 1;
    return 0;
}

static int parse_opt_P(const char* arg)
{
    strncpy(def_instr_name, arg, sizeof(def_instr_name) - 1);
    def_instr_name[sizeof(def_instr_name) - 1] = '\0';
    default_instrument_name = def_instr_name;
    return 0;
}

static int parse_opt_R(const char* arg)
{
    int v = opt_int(arg);
    if (v == -1)
        modify_release = 0;
    else if (v == 0)
        modify_release = 800;
    else
        return set_value(&modify_release, v, 0, 5000, "Modify Release");
    return 0;
}

static int parse_opt_S(const char* arg)
{
    double size = atof(arg);
    const char* p = arg;
    while (*p != '\0' && (isdigit((unsigned char)*p) || *p == '.' || *p == '-' || *p == '+'))
        p++;
    if (*p == 'k' || *p == 'K')
        size *= 1024;
    else if (*p == 'm' || *p == 'M')
        size *= 1048576;
    if (size > 2147483647.0)
        size = 2147483647.0;
    if (size < 0)
        size = 0;
    allocate_cache_size = (int32)size;
    return 0;
}

static int parse_opt_T(const char* arg)
{
    int percent = opt_int(arg);
    if (out_of_range(percent, 10, 400, "Tempo adjust"))
        return 1;
    tempo_adjust = 100.0 / percent;
    return 0;
}

static int parse_opt_V(const char* arg)
{
    double power = atof(arg);
    if (power < 0) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "Volume curve power must be >= 0");
        return 1;
    }
    if (power == 0)
        return 0;
    init_user_vol_table(power);
    opt_user_volume_curve = 1;
    return 0;
}

static int parse_opt_W(const char* arg)
{
    if (arg[0] == 'R') {
        put_string_table(&wrd_read_opts, arg + 1, -1);
        return 0;
    }
    // No lyric-display tracer is built into this program.
    cmsg(CMSG_ERROR, VERB_NORMAL, "WRD Tracer `%c' is not compiled in.", arg[0]);
    return 1;
}

static int parse_opt_Z(const char* arg)
{
    if (strncmp(arg, "pure", 4) == 0) {
        opt_pure_intonation = 1;
        const char* p = arg + 4;
        if (*p != '\0') {
            int k = opt_int(p);
            if (set_value(&opt_init_keysig, k, -7, 7,
                          "Initial keysig (number of #(+)/b(-)[m(minor)])"))
                return 1;
            if (strchr(p, 'm') != nullptr)
                opt_init_keysig += 16;
        }
        return 0;
    }
    return load_table(arg) != 0 ? 1 : 0;
}

static int parse_opt_c(const char* arg)
{
    // Counted like `source`, so a file that names itself cannot recurse without end.
    rcf_count++;
    int status = read_config_file(arg, 0);
    rcf_count--;
    if (status != 0)
        return 1;
    got_a_configuration = 1;
    return 0;
}

static ControlInterface* find_interface(int c)
{
    for (ControlInterface** p = ctl_list; *p != nullptr; p++)
        if ((*p)->id_character == c)
            return *p;
    return nullptr;
}

static int parse_opt_i(const char* arg)
{
    ControlInterface* cmp = arg[0] != '\0' ? find_interface((unsigned char)arg[0]) : nullptr;
    if (cmp == nullptr) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "Interface `%c' is not compiled in.", arg[0]);
        return 1;
    }
    ctl = cmp;
    static const char flag_letters[] = "lrsaxduRC";
    for (const char* p = arg + 1; *p != '\0'; p++) {
        const char* f;
        if (*p == 'v')
            cmp->verbosity++;
        else if (*p == 'q')
            cmp->verbosity--;
        else if (*p == 't')
            cmp->trace_playing = !cmp->trace_playing;
        else if ((f = strchr(flag_letters, *p)) != nullptr)
            cmp->flags ^= 1 << (f - flag_letters);
        else {
            cmsg(CMSG_ERROR, VERB_NORMAL, "Unknown interface option `%c'", *p);
            return 1;
        }
    }
    return 0;
}

static int parse_opt_o(const char* arg)
{
    free(opt_output_name);
    opt_output_name = expand_home_dir(arg);
    return 0;
}

static int parse_opt_p(const char* arg)
{
    int err = 0;
    if (*arg != 'a' && *arg != '\0') {
        int n = opt_int(arg);
        if (out_of_range(n, 1, 16644, "Polyphony"))
            err = 1;
        else
            max_voices = voices = n;
    }
    if (strchr(arg, 'a') != nullptr)
        auto_reduce_polyphony = !auto_reduce_polyphony;
    return err;
}

static int parse_opt_q(const char* arg)
{
    const char* slash = strchr(arg, '/');
    free(opt_aq_max_buff);
    if (slash == nullptr) {
        opt_aq_max_buff = safe_strdup(arg);
        return 0;
    }
    size_t len = (size_t)(slash - arg);
    opt_aq_max_buff = (char*)safe_malloc(len + 1);
    memcpy(opt_aq_max_buff, arg, len);
    opt_aq_max_buff[len] = '\0';
    replace_string(&opt_aq_fill_buff, slash + 1);
    return 0;
}

static int parse_opt_s(const char* arg)
{
    double rate = atof(arg);
    long freq;
    if (rate < 100)
        freq = (long)(rate * 1000 + 0.5);
    else
        freq = rate > 2147483647.0 ? LONG_MAX : (long)rate;
    return set_value(&opt_output_rate, freq, 4000, 65000, "Resampling frequency");
}

static int parse_opt_w(const char* arg)
{
    if (arg[0] == 'R' || arg[0] == 'r')
        cmsg(CMSG_ERROR, VERB_NORMAL, "-w%c option is not supported", arg[0]);
    else
        cmsg(CMSG_ERROR, VERB_NORMAL, "-w: Illegal mode `%c'", arg[0]);
    return 1;
}

static int parse_opt_x(const char* arg)
{
    size_t len = strlen(arg);
    char* text = (char*)safe_malloc(len + 1);
    size_t n = 0;
    for (const char* p = arg; *p != '\0'; p++) {
        if (*p != '\\' || p[1] == '\0') {
            text[n++] = *p;
            continue;
        }
        p++;
        switch (*p) {
        case 'a': text[n++] = '\a'; break;
        case 'b': text[n++] = '\b'; break;
        case 'f': text[n++] = '\f'; break;
        case 'n': text[n++] = '\n'; break;
        case 'r': text[n++] = '\r'; break;
        case 't': text[n++] = '\t'; break;
        case 'v': text[n++] = '\v'; break;
        default: text[n++] = *p; break;  // "\\" and any other character: the character
        }
    }
    text[n] = '\0';
    put_string_table(&opt_config_string, text, (int)n);
    free(text);
    return 0;
}

[[noreturn]] static void help_and_exit(void)
{
    FILE* fp = stdout;
    FILE* pager = nullptr;
    const char* pager_cmd = getenv("PAGER");
    if (isatty(fileno(stdout)) && pager_cmd != nullptr && *pager_cmd != '\0') {
        pager = popen(pager_cmd, "w");
        if (pager != nullptr)
            fp = pager;
    }
    fprintf(fp,
            "%s: a software synthesizer for Standard MIDI Files.\n"
            "Options (in configuration files as `opt LETTER [ARGUMENT]` or `opt --LONG[=VALUE]`):\n"
            "  -A n[,m][a]   amplification n%% (0..800), drum power m%%, a: compensation\n"
            "  -a            anti-aliasing of instrument samples\n"
            "  -B n[,bits]   device fragments, block size 2^bits\n"
            "  -C n          samples per control step (0..255)\n"
            "  -c file       read a configuration file\n"
            "  -D n          add (n) or remove (-n) a drum channel, 0 for all\n"
            "  -E text       effect and extension settings\n"
            "  -e            raise the playback thread's priority\n"
            "  -F            toggle immediate panning\n"
            "  -f            toggle fast decay\n"
            "  -H n          force a key signature (-7..7)\n"
            "  -h            this help\n"
            "  -i c[mods]    control interface\n"
            "  -j            toggle real-time loading\n"
            "  -K n          transpose by n semitones (-24..24)\n"
            "  -k n          voice reduction threshold\n"
            "  -L dir        add a directory to the search path\n"
            "  -M file       PCM file for songs\n"
            "  -m ms         minimum sustain time\n"
            "  -N n          resampler order\n"
            "  -O c[mods]    output mode and format\n"
            "  -o file       output file\n"
            "  -P file       default instrument\n"
            "  -p n[a]       polyphony (1..16644), a: toggle automatic reduction\n"
            "  -Q n[,...]    mute channels (t: temperaments)\n"
            "  -q max[/fill] audio queue size and fill\n"
            "  -R ms         release modification\n"
            "  -S size[k|m]  resample cache size\n"
            "  -s rate       output rate in Hz or kHz (4000..65000)\n"
            "  -T percent    tempo (10..400)\n"
            "  -t code       text code\n"
            "  -U            unload instruments after each song\n"
            "  -V power      volume curve\n"
            "  -v            version\n"
            "  -x text       configuration text\n"
            "  -Z file|pure[k][m]  frequency table or pure intonation\n"
            "Interfaces:\n",
            program_name != nullptr ? program_name : "Corvelle");
    for (ControlInterface** p = ctl_list; *p != nullptr; p++)
        fprintf(fp, "  -i%c          %s\n", (*p)->id_character, (*p)->id_name);
    fprintf(fp, "Output modes:\n");
    for (PlayMode** p = play_mode_list; *p != nullptr; p++)
        fprintf(fp, "  -O%c          %s\n", (*p)->id_character, (*p)->id_name);
    fflush(fp);
    if (pager != nullptr)
        pclose(pager);
    exit(0);
}

[[noreturn]] static void version_and_exit(void)
{
    printf("%s version 1.0\n", program_name != nullptr ? program_name : "Corvelle");
    fflush(stdout);
    exit(0);
}

int set_engine_opt_short(int c, const char* optarg)
{
    const char* arg = optarg != nullptr ? optarg : "";
    switch (c) {
    case '4':
        cmsg(CMSG_ERROR, VERB_NORMAL, "-4 option is obsoleted.  Please use -N");
        return 1;
    case 'A': return parse_opt_A(arg);
    case 'B': return parse_opt_B(arg);
    case 'C': {
        int32 v;
        if (set_value(&v, opt_int(arg), 0, 255, "Control ratio"))
            return 1;
        control_ratio = opt_control_ratio = v;
        return 0;
    }
    case 'D': return parse_channel_number(arg, &default_drumchannels, "Drum channel");
    case 'E': return parse_opt_E(arg);
    case 'F':
        adjust_panning_immediately = !adjust_panning_immediately;
        return 0;
    case 'H':
        return set_value(&opt_force_keysig, opt_int(arg), -7, 7,
                         "Force keysig (number of sHarp(+)/flat(-))");
    case 'I':
        cmsg(CMSG_ERROR, VERB_NORMAL, "-I option is obsoleted.  Please use -Ei");
        return 1;
    case 'K': return set_value(&key_adjust, opt_int(arg), -24, 24, "Key adjust");
    case 'L':
        add_to_pathlist(arg);
        try_config_again = 1;
        return 0;
    case 'M':
        replace_string(&pcm_alternate_file, arg);
        return 0;
    case 'N': return parse_opt_N(arg);
    case 'O': return parse_opt_O(arg);
    case 'P': return parse_opt_P(arg);
    case 'Q': return parse_opt_Q(arg);
    case 'R': return parse_opt_R(arg);
    case 'S': return parse_opt_S(arg);
    case 'T': return parse_opt_T(arg);
    case 'U':
        free_instruments_afterwards = 1;
        return 0;
    case 'V': return parse_opt_V(arg);
    case 'W': return parse_opt_W(arg);
    case 'Z': return parse_opt_Z(arg);
    case 'a':
        antialiasing_allowed = 1;
        return 0;
    case 'c': return parse_opt_c(arg);
    case 'd':
        cmsg(CMSG_WARNING, VERB_NOISY, "-d option is not supported");
        return 1;
    case 'e':
        opt_evil_mode = 1;
        return 0;
    case 'f':
        fast_decay = !fast_decay;
        return 0;
    case 'g':
        cmsg(CMSG_ERROR, VERB_NORMAL, "-g option is not supported");
        return 1;
    case 'h': help_and_exit();
    case 'i': return parse_opt_i(arg);
    case 'j':
        opt_realtime_playing = !opt_realtime_playing;
        return 0;
    case 'k':
        reduce_voice_threshold = opt_int(arg);
        return 0;
    case 'm': {
        int ms = opt_int(arg);
        min_sustain_time = ms < 0 ? 0 : ms;
        return 0;
    }
    case 'o': return parse_opt_o(arg);
    case 'p': return parse_opt_p(arg);
    case 'q': return parse_opt_q(arg);
    case 's': return parse_opt_s(arg);
    case 't':
        replace_string(&output_text_code, arg);
        return 0;
    case 'v': version_and_exit();
    case 'w': return parse_opt_w(arg);
    case 'x': return parse_opt_x(arg);
    default: return 1;
    }
}

// ---- long options -----------------------------------------------------------------------

// "n[/ch]": the program and, after a slash, a channel 1..32 (0 for every channel).
static int parse_program_channel(const char* arg, int* prog, int* ch)
{
    int n = opt_int(arg);
    if (out_of_range(n, 0, 127, "Program number"))
        return 1;
    *prog = n;
    *ch = 0;
    const char* slash = strchr(arg, '/');
    if (slash != nullptr) {
        int c = opt_int(slash + 1);
        if (out_of_range(c, 1, MAX_CHANNELS, "Program channel"))
            return 1;
        *ch = c;
    }
    return 0;
}

static int parse_opt_default_program(const char* arg)
{
    int prog, ch;
    if (parse_program_channel(arg, &prog, &ch))
        return 1;
    for (int i = 0; i < MAX_CHANNELS; i++)
        if (ch == 0 || i == ch - 1)
            default_program[i] = prog;
    return 0;
}

static int parse_opt_force_program(const char* arg)
{
    int prog, ch;
    if (parse_program_channel(arg, &prog, &ch))
        return 1;
    def_prog = prog;
    // While a list plays, the default instrument is loaded by the playback start-up; it
    // reads def_prog for the next file.
    for (int i = 0; i < MAX_CHANNELS; i++)
        if (ch == 0 || i == ch - 1)
            default_program[i] = -1;
    return 0;
}

static int parse_opt_delay(const char* arg)
{
    switch (arg[0]) {
    case 'd':
    case '0': effect_lr_mode = -1; return 0;
    case 'l': effect_lr_mode = 0; break;
    case 'r': effect_lr_mode = 1; break;
    case 'b': effect_lr_mode = 2; break;
    default:
        cmsg(CMSG_ERROR, VERB_NORMAL, "Invalid delay parameter.");
        effect_lr_mode = -1;
        return 1;
    }
    const char* comma = strchr(arg, ',');
    if (comma != nullptr) {
        int ms = opt_int(comma + 1);
        if (ms < 0) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "Invalid delay parameter.");
            effect_lr_mode = -1;
            return 1;
        }
        effect_lr_delay_msec = ms;
    }
    return 0;
}

static int parse_opt_chorus(const char* arg)
{
    switch (arg[0]) {
    case 'd':
    case '0':
        opt_chorus_control = 0;
        opt_surround_chorus = 0;
        return 0;
    case 'n':
    case '1': opt_surround_chorus = 0; break;
    case 's':
    case '2': opt_surround_chorus = 1; break;
    default:
        cmsg(CMSG_ERROR, VERB_NORMAL, "Invalid chorus parameter.");
        return 1;
    }
    const char* comma = strchr(arg, ',');
    if (comma != nullptr) {
        int level = opt_int(comma + 1);
        if (out_of_range(level, 0, 127, "Chorus level"))
            return 1;
        opt_chorus_control = -level;
    } else {
        opt_chorus_control = 1;
    }
    return 0;
}

static int parse_opt_voice_lpf(const char* arg)
{
    switch (arg[0]) {
    case 'd':
    case '0': opt_lpf_def = 0; return 0;
    case 'c':
    case '1': opt_lpf_def = 1; return 0;
    case 'm':
    case '2': opt_lpf_def = 2; return 0;
    default:
        cmsg(CMSG_ERROR, VERB_NORMAL, "Invalid voice LPF type %s", arg);
        return 1;
    }
}

static int parse_opt_resample(const char* arg)
{
    int type;
    switch (arg[0]) {
    case 'd':
    case '0': type = RESAMPLE_NONE; break;
    case 'l':
    case '1': type = RESAMPLE_LINEAR; break;
    case 'c':
    case '2': type = RESAMPLE_CSPLINE; break;
    case 'L':
    case '3': type = RESAMPLE_LAGRANGE; break;
    case 'n':
    case '4': type = RESAMPLE_NEWTON; break;
    case 'g':
    case '5': type = RESAMPLE_GAUSS; break;
    default:
        cmsg(CMSG_ERROR, VERB_NORMAL, "Invalid resample type %s", arg);
        return 1;
    }
    set_current_resampler(type);
    return 0;
}

static int parse_opt_mid(const char* arg, int* target)
{
    int mid = str2mID(arg);
    if (mid == 0) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "Manufacture ID: Illegal value");
        return 1;
    }
    *target = mid;
    return 0;
}

static int parse_opt_verbosity(const char* arg, int sign)
{
    int by = arg != nullptr && *arg != '\0' ? opt_int(arg) : 1;
    ctl->verbosity += sign * by;
    return 0;
}

static void set_flag_bit(int32* flags, int bit, int on)
{
    if (on)
        *flags |= 1 << bit;
    else
        *flags &= ~(1 << bit);
}

static PlayMode* output_mode_for_format(void)
{
    return play_mode;
}

static int parse_opt_output_format(int modifier)
{
    PlayMode* pmp = output_mode_for_format();
    if (pmp == nullptr) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "No output mode is selected");
        return 1;
    }
    return apply_format_modifier(pmp, modifier);
}

int set_engine_opt_long(int code, const char* arg)
{
    const char* a = arg != nullptr ? arg : "";
    switch (code) {
    case ENGINE_OPT_VOLUME:
        return set_value(&amplification, opt_int(a), 0, 800, "Amplification");
    case ENGINE_OPT_DRUM_POWER:
        return set_value(&opt_drum_power, opt_int(a), 0, 800, "Drum power");
    case ENGINE_OPT_VOLUME_COMP: opt_amp_compensation = y_or_n_p(arg); return 0;
    case ENGINE_OPT_ANTI_ALIAS: antialiasing_allowed = y_or_n_p(arg); return 0;
    case ENGINE_OPT_BUFFER_FRAGS: return set_engine_opt_short('B', a);
    case ENGINE_OPT_CONTROL_RATIO: return set_engine_opt_short('C', a);
    case ENGINE_OPT_CONFIG_FILE: return set_engine_opt_short('c', a);
    case ENGINE_OPT_DRUM_CHANNEL: return set_engine_opt_short('D', a);
    case ENGINE_OPT_IFACE_PATH: return set_engine_opt_short('d', a);
    case ENGINE_OPT_EXT: return set_engine_opt_short('E', a);
    case ENGINE_OPT_MOD_WHEEL: opt_modulation_wheel = y_or_n_p(arg); return 0;
    case ENGINE_OPT_PORTAMENTO: opt_portamento = y_or_n_p(arg); return 0;
    case ENGINE_OPT_VIBRATO: opt_nrpn_vibrato = y_or_n_p(arg); return 0;
    case ENGINE_OPT_CH_PRESS: opt_channel_pressure = y_or_n_p(arg); return 0;
    case ENGINE_OPT_MOD_ENV: opt_modulation_envelope = y_or_n_p(arg); return 0;
    case ENGINE_OPT_TRACE_TEXT: opt_trace_text_meta_event = y_or_n_p(arg); return 0;
    case ENGINE_OPT_OVERLAP: opt_overlap_voice_allow = y_or_n_p(arg); return 0;
    case ENGINE_OPT_TEMPER_CTRL: opt_temper_control = y_or_n_p(arg); return 0;
    case ENGINE_OPT_DEFAULT_MID: return parse_opt_mid(a, &opt_default_mid);
    case ENGINE_OPT_SYSTEM_MID: return parse_opt_mid(a, &opt_system_mid);
    case ENGINE_OPT_DEFAULT_BANK:
        if (set_value(&default_tonebank, opt_int(a), 0, 127, "Bank number"))
            return 1;
        special_tonebank = -1;
        return 0;
    case ENGINE_OPT_FORCE_BANK:
        return set_value(&special_tonebank, opt_int(a), 0, 127, "Bank number");
    case ENGINE_OPT_DEFAULT_PGM: return parse_opt_default_program(a);
    case ENGINE_OPT_FORCE_PGM: return parse_opt_force_program(a);
    case ENGINE_OPT_DELAY: return parse_opt_delay(a);
    case ENGINE_OPT_CHORUS: return parse_opt_chorus(a);
    case ENGINE_OPT_REVERB: return parse_opt_reverb(a);
    case ENGINE_OPT_VOICE_LPF: return parse_opt_voice_lpf(a);
    case ENGINE_OPT_NS: return set_value(&noise_sharp_type, opt_int(a), 0, 4, "Noise shaping type");
    case ENGINE_OPT_RESAMPLE: return parse_opt_resample(a);
    case ENGINE_OPT_EVIL: return set_engine_opt_short('e', a);
    case ENGINE_OPT_FAST_PAN: adjust_panning_immediately = y_or_n_p(arg); return 0;
    case ENGINE_OPT_FAST_DECAY: fast_decay = y_or_n_p(arg); return 0;
    case ENGINE_OPT_SPECTROGRAM: return set_engine_opt_short('g', a);
    case ENGINE_OPT_KEYSIG: return set_engine_opt_short('H', a);
    case ENGINE_OPT_HELP: return set_engine_opt_short('h', a);
    case ENGINE_OPT_INTERFACE: return set_engine_opt_short('i', a);
    case ENGINE_OPT_VERBOSE: return parse_opt_verbosity(arg, 1);
    case ENGINE_OPT_QUIET: return parse_opt_verbosity(arg, -1);
    case ENGINE_OPT_TRACE: ctl->trace_playing = y_or_n_p(arg); return 0;
    case ENGINE_OPT_LOOP: set_flag_bit(&ctl->flags, 0, y_or_n_p(arg)); return 0;
    case ENGINE_OPT_RANDOM: set_flag_bit(&ctl->flags, 1, y_or_n_p(arg)); return 0;
    case ENGINE_OPT_SORT: set_flag_bit(&ctl->flags, 2, y_or_n_p(arg)); return 0;
    case ENGINE_OPT_RT_LOAD: opt_realtime_playing = y_or_n_p(arg); return 0;
    case ENGINE_OPT_ADJUST_KEY: return set_engine_opt_short('K', a);
    case ENGINE_OPT_VOICE_QUEUE: return set_engine_opt_short('k', a);
    case ENGINE_OPT_PATCH_PATH: return set_engine_opt_short('L', a);
    case ENGINE_OPT_PCM_FILE: return set_engine_opt_short('M', a);
    case ENGINE_OPT_DECAY_TIME: return set_engine_opt_short('m', a);
    case ENGINE_OPT_INTERPOLATION: return set_engine_opt_short('N', a);
    case ENGINE_OPT_OUTPUT_MODE: return set_engine_opt_short('O', a);
    case ENGINE_OPT_OUTPUT_STEREO: return parse_opt_output_format(y_or_n_p(arg) ? 'S' : 'M');
    case ENGINE_OPT_OUTPUT_SIGNED: return parse_opt_output_format(y_or_n_p(arg) ? 's' : 'u');
    case ENGINE_OPT_OUTPUT_BITWIDTH:
        return parse_opt_output_format(a[0] == '1' ? '1' : a[0] == '2' ? '2' : '8');
    case ENGINE_OPT_OUTPUT_FORMAT:
        return parse_opt_output_format(a[0] == 'u' ? 'U' : a[0] == 'a' ? 'A' : 'l');
    case ENGINE_OPT_OUTPUT_SWAB: {
        PlayMode* pmp = output_mode_for_format();
        if (pmp == nullptr)
            return parse_opt_output_format('x');
        if (y_or_n_p(arg))
            pmp->encoding |= PE_BYTESWAP;
        else
            pmp->encoding &= ~PE_BYTESWAP;
        pmp->encoding &= ~(PE_ULAW | PE_ALAW);
        return 0;
    }
    case ENGINE_OPT_OUTPUT_FILE: return set_engine_opt_short('o', a);
    case ENGINE_OPT_PATCH_FILE: return set_engine_opt_short('P', a);
    case ENGINE_OPT_POLYPHONY: {
        int n = opt_int(a);
        if (out_of_range(n, 1, 16644, "Polyphony"))
            return 1;
        max_voices = voices = n;
        return 0;
    }
    case ENGINE_OPT_POLY_REDUCE: auto_reduce_polyphony = y_or_n_p(arg); return 0;
    case ENGINE_OPT_MUTE: return set_engine_opt_short('Q', a);
    case ENGINE_OPT_TEMPER_MUTE: return parse_temper_list(a, &temper_type_mute);
    case ENGINE_OPT_AUDIO_BUFFER: return set_engine_opt_short('q', a);
    case ENGINE_OPT_CACHE_SIZE: return set_engine_opt_short('S', a);
    case ENGINE_OPT_SAMPLE_FREQ: return set_engine_opt_short('s', a);
    case ENGINE_OPT_ADJUST_TEMPO: return set_engine_opt_short('T', a);
    case ENGINE_OPT_CHARSET: return set_engine_opt_short('t', a);
    case ENGINE_OPT_UNLOAD_INST: free_instruments_afterwards = y_or_n_p(arg); return 0;
    case ENGINE_OPT_VOLUME_CURVE: return set_engine_opt_short('V', a);
    case ENGINE_OPT_VERSION: return set_engine_opt_short('v', a);
    case ENGINE_OPT_WRD: return set_engine_opt_short('W', a);
    case ENGINE_OPT_RCPCV_DLL: return set_engine_opt_short('w', a);
    case ENGINE_OPT_CONFIG_STR: return set_engine_opt_short('x', a);
    case ENGINE_OPT_FREQ_TABLE: return load_table(a) != 0 ? 1 : 0;
    case ENGINE_OPT_PURE_INT: {
        // The argument is the initial key signature, as after "-Zpure".
        char text[64];
        snprintf(text, sizeof(text), "pure%.50s", a);
        return set_engine_opt_short('Z', text);
    }
    case ENGINE_OPT_MODULE: {
        int m = opt_int(a);
        opt_default_module = m < 0 ? 0 : m;
        return 0;
    }
    default:
        cmsg(CMSG_FATAL, VERB_NORMAL, "[BUG] Inconceivable case branch %d", code);
        abort();
    }
}

// ---- the option parser ------------------------------------------------------------------

const LongOption* find_long_option(const char* name, int* negated)
{
    size_t len = strcspn(name, "=");
    const LongOption* found = nullptr;
    int matches = 0;
    for (const LongOption* o = longopts; o->name != nullptr; o++) {
        if (strncmp(o->name, name, len) != 0)
            continue;
        if (strlen(o->name) == len) {  // exact
            found = o;
            matches = 1;
            break;
        }
        // A prefix: ambiguous unless every candidate means the same option.
        if (found == nullptr || found->code != o->code || found->has_arg != o->has_arg)
            matches++;
        if (found == nullptr)
            found = o;
    }
    if (matches != 1)
        return nullptr;
    if (negated != nullptr)
        *negated = strncmp(found->name, "no-", 3) == 0;
    return found;
}

[[noreturn]] static void option_not_understood(void)
{
    cmsg(CMSG_FATAL, VERB_NORMAL, "Could not understand option : try --help");
    exit(1);
}

// The argument a long option passes: "no" for a "no-" name; the sign-like words
// output-mono/-unsigned and the width and format names pass their own name.
static const char* long_option_argument(const LongOption* o, const char* given)
{
    if (strncmp(o->name, "no-", 3) == 0)
        return "no";
    switch (o->code) {
    case ENGINE_OPT_OUTPUT_STEREO: return strcmp(o->name, "output-mono") == 0 ? "no" : nullptr;
    case ENGINE_OPT_OUTPUT_SIGNED: return strcmp(o->name, "output-unsigned") == 0 ? "no" : nullptr;
    case ENGINE_OPT_OUTPUT_BITWIDTH:
    case ENGINE_OPT_OUTPUT_FORMAT: return o->name + strlen("output-");
    default: return given;
    }
}

int parse_options(int argc, char** argv, int first, int* next)
{
    int err = 0;
    int i = first;
    while (i < argc && argv[i] != nullptr && argv[i][0] == '-' && argv[i][1] != '\0') {
        char* word = argv[i++];
        if (strcmp(word, "--") == 0)
            break;
        if (word[1] == '-') {
            const char* name = word + 2;
            const LongOption* o = find_long_option(name, nullptr);
            if (o == nullptr)
                option_not_understood();
            const char* eq = strchr(name, '=');
            const char* arg = eq != nullptr ? eq + 1 : nullptr;
            if (o->has_arg == no_argument_opt && arg != nullptr)
                option_not_understood();
            if (o->has_arg == required_argument_opt && arg == nullptr) {
                if (i >= argc || argv[i] == nullptr)
                    option_not_understood();
                arg = argv[i++];
            }
            err += set_engine_opt_long(o->code, long_option_argument(o, arg));
            continue;
        }
        // Option letters, several in one word while they take no argument.
        for (char* p = word + 1; *p != '\0'; p++) {
            const char* entry = *p != ':' ? strchr(optcommands, *p) : nullptr;
            if (entry == nullptr)
                option_not_understood();
            if (entry[1] != ':') {
                err += set_engine_opt_short(*p, "");
                continue;
            }
            const char* arg = p + 1;
            if (*arg == '\0') {
                if (i >= argc || argv[i] == nullptr)
                    option_not_understood();
                arg = argv[i++];
            }
            err += set_engine_opt_short(*p, arg);
            break;
        }
    }
    if (next != nullptr)
        *next = i;
    return err;
}
