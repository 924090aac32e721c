#include "frontend/startup.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "config/files.h"
#include "config/readconfig.h"
#include "frontend/controls.h"
#include "frontend/memory.h"
#include "frontend/miditrace.h"
#include "frontend/options.h"
#include "frontend/tables.h"
#include "instrum/instrument_policy.h"
#include "output/aq.h"
#include "output/output.h"
#include "platform/critsect.h"
#include "platform/process.h"
#include "play/channels.h"
#include "play/playmidi.h"
#include "play/voice.h"
#include "render/voice_params.h"

volatile sig_atomic_t intr = 0;
const char* system_config_dir = nullptr;
const char* program_config_dir = nullptr;
int playlist_failures = 0;

static int is_first = 1;

// The built-in drum channels (1-based), ended by a value that is not above 0.
static const int default_drum_channel_list[] = {10, 0};

const char* last_resort_config_file = "/usr/local/share/corvelle/corvelle.cfg";

static void set_default_string(char** s, const char* value)
{
    if (*s == nullptr)
        *s = safe_strdup(value);
}

int exit_without_output_device = 1;

// The output mode with this identifying character that is usable, or none.
static PlayMode* usable_mode(int id)
{
    for (PlayMode** p = play_mode_list; *p != nullptr; p++) {
        if ((*p)->id_character != id)
            continue;
        if ((*p)->detect == nullptr || (*p)->detect())
            return *p;
    }
    return nullptr;
}

static void select_output_mode(void)
{
    if (play_mode != nullptr)
        return;
    const char* id = getenv("CORVELLE_OUTPUT_ID");
    int c = (id != nullptr && id[0] != '\0') ? (unsigned char)id[0] : 'd';
    play_mode = usable_mode(c);
    for (PlayMode** p = play_mode_list; play_mode == nullptr && *p != nullptr; p++)
        if ((*p)->detect != nullptr && (*p)->detect())
            play_mode = *p;
    if (play_mode == nullptr && exit_without_output_device) {
        fputs("Couldn't open output device\n", stderr);
        exit(1);
    }
}

void corvelle_start_initialize(void)
{
    set_default_string(&output_text_code, "SJIS");
    set_default_string(&opt_aq_max_buff, "5.0");
    set_default_string(&opt_aq_fill_buff, "100%");

    memset(channel, 0, sizeof(channel));

    default_drumchannels = 0;
    for (const int* p = default_drum_channel_list; *p > 0; p++)
        if (*p <= MAX_CHANNELS)
            default_drumchannels |= 1u << (*p - 1);
    for (int i = 16; i < 32; i++)
        if ((default_drumchannels >> (i - 16)) & 1u)
            default_drumchannels |= 1u << i;
    quietchannels = 0;

    set_default_string(&program_name, "Corvelle");
    for (int i = 0; i < MAX_CHANNELS; i++)
        default_program[i] = 0;

    select_output_mode();

    if (is_first) {
        got_a_configuration = 0;
        delete_string_table(&opt_config_string);
        init_start_tables();
        init_midi_trace();
        int_rand(-1);
        int_rand(42);
        is_first = 0;
    }
}

// Reads path when it can be opened; 0 when it was read without error, 1 when it could not be
// opened, 2 when reading it failed.
static int try_config(const char* path)
{
    FILE* fp = fopen(path, "r");
    if (fp == nullptr)
        return 1;
    fclose(fp);
    return read_config_file(path, 0) == 0 ? 0 : 2;
}

// The configuration in directory dir: "CORVELLE.CFG", else "corvelle.cfg" (file names are
// case-sensitive here). 0 when one was read without error.
static int try_config_in(const char* dir)
{
    static const char* const names[] = {"CORVELLE.CFG", "corvelle.cfg"};
    for (const char* name : names) {
        char path[1100];
        size_t len = strlen(dir);
        const char* sep = (len > 0 && dir[len - 1] == '/') ? "" : "/";
        if (snprintf(path, sizeof path, "%s%s%s", dir, sep, name) >= (int)sizeof path)
            return 1;
        int rc = try_config(path);
        if (rc != 1)
            return rc;
    }
    return 1;
}

int corvelle_pre_load_configuration(void)
{
    char dir[1024];
    const char* a = system_config_dir;
    if (a == nullptr && GetWindowsDirectoryA(dir, sizeof dir) > 0)
        a = dir;
    if (a != nullptr && try_config_in(a) == 0) {
        got_a_configuration = 1;
        return 0;
    }

    const char* b = program_config_dir;
    if (b == nullptr && GetModuleFileNameA(nullptr, dir, sizeof dir) > 0) {
        char* slash = strrchr(dir, '/');
        if (slash != nullptr) {
            slash[1] = '\0';
            b = dir;
        }
    }
    if (b != nullptr && try_config_in(b) == 0) {
        got_a_configuration = 1;
        return 0;
    }
    // An installed program (PREFIX/bin) finds its configuration in PREFIX/share/corvelle.
    if (program_config_dir == nullptr && b != nullptr) {
        char shared[1100];
        if (snprintf(shared, sizeof shared, "%s../share/corvelle", b) < (int)sizeof shared &&
            try_config_in(shared) == 0) {
            got_a_configuration = 1;
            return 0;
        }
    }

    const char* home = home_directory();
    if (home == nullptr) {
        cmsg(CMSG_INFO, VERB_NOISY, "Warning: HOME environment is not defined.");
        return 0;
    }
    static const char* const home_names[] = {"corvelle.cfg", "_corvelle.cfg", ".corvelle.cfg"};
    char path[1100];
    for (const char* name : home_names) {
        snprintf(path, sizeof path, "%s/%s", home, name);
        FILE* fp = fopen(path, "r");
        if (fp == nullptr)
            continue;
        fclose(fp);
        if (read_config_file(path, 0) != 0)
            cmsg(CMSG_INFO, VERB_NOISY, "Warning: Can't read ~/.corvelle.cfg correctly");
        return 0;
    }
    cmsg(CMSG_INFO, VERB_NOISY, "%s: %s", path, strerror(errno));
    return 0;
}

int corvelle_post_load_configuration(void)
{
    if (!got_a_configuration && try_config_again && read_config_file(last_resort_config_file, 0) == 0)
        got_a_configuration = 1;

    int failures = 0;
    for (StringTableNode* p = opt_config_string.head; p != nullptr; p = p->next) {
        if (read_config_file(p->string, 1) == 0)
            got_a_configuration = 1;
        else
            failures++;
    }
    return failures + (got_a_configuration ? 0 : 1);
}

void corvelle_init_player(void)
{
    if (voices > max_voices)
        voices = max_voices;
    // The previous song's voices may still hold pan-delay buffers; the array had the size of
    // its day (an `opt` line of the configuration read since may have changed max_voices).
    static int voices_allocated = 0;
    if (voice != nullptr)
        for (int i = 0; i < voices_allocated; i++)
            free(voice[i].pan_delay_buf);
    free(voice);
    voice = (Voice*)safe_malloc(sizeof(Voice) * (size_t)max_voices);
    voices_allocated = max_voices;
    memset(voice, 0, sizeof(Voice) * (size_t)max_voices);
    reset_voices();

    if (opt_output_rate != 0)
        play_mode->rate = opt_output_rate;
    else if (play_mode->rate == 0)
        play_mode->rate = 44100;

    drumchannels = default_drumchannels;
    drumchannel_mask = default_drumchannel_mask;

    if (opt_buffer_fragments != -1) {
        if (play_mode->flag & PF_BUFF_FRAGM_OPT)
            play_mode->extra_param[0] = opt_buffer_fragments;
        else
            cmsg(CMSG_WARNING, VERB_NORMAL, "%s: -B option is ignored", play_mode->id_name);
    }
}

// ---- the main play routine ----------------------------------------------------------------

static void terminate_handler(int sig)
{
    static const char hex[] = "0123456789abcdef";
    char text[] = "Terminated sig=0x00\n";
    text[17] = hex[(sig >> 4) & 0xF];
    text[18] = hex[sig & 0xF];
    ssize_t w = write(STDERR_FILENO, text, sizeof(text) - 1);
    (void)w;
    _exit(1);
}

static void break_handler(int)
{
    ssize_t w = write(STDOUT_FILENO, "***BREAK", 8);
    (void)w;
    intr = intr + 1;
}

// Plays the list in order; a request to go back replays the file before (or the first).
int dumb_pass_playing_list(int number_of_files, char* list_of_files[])
{
    for (;;) {
        int i = 0;
        while (i < number_of_files) {
            int rc = play_midi_file(list_of_files[i]);
            if (rc == RC_ERROR)
                playlist_failures++;
            if (rc == RC_QUIT)
                return 0;
            if (rc == RC_REALLY_PREVIOUS) {
                if (i > 0)
                    i--;
                continue;
            }
            i++;
        }
        aq_flush(0);
        if (!(ctl->flags & CTLF_LIST_LOOP))
            return 0;
    }
}

static void shuffle_list(int n, char** files)
{
    for (int i = n - 1; i > 0; i--) {
        int j = int_rand(i + 1);
        char* t = files[i];
        files[i] = files[j];
        files[j] = t;
    }
}

int corvelle_play_main(int nfiles, char** files)
{
    if (nfiles == 0 && strchr("kmqagrwAWP", ctl->id_character) == nullptr)
        return 0;
    if (ctl->pass_playing_list == nullptr)
        ctl->pass_playing_list = dumb_pass_playing_list;

    int need_stdin = 0, need_stdout = 0;
    if (opt_output_name != nullptr) {
        play_mode->name = opt_output_name;
        if (strcmp(opt_output_name, "-") == 0)
            need_stdout = 1;
    }
    for (int i = 0; i < nfiles; i++)
        if (strcmp(files[i], "-") == 0)
            need_stdin = 1;

    if (ctl->open(need_stdin, need_stdout)) {
        fprintf(stderr, "Couldn't open %s (`%c')\n", ctl->id_name, ctl->id_character);
        play_mode->close_output();
        return 3;
    }

    intr = 0;
    void (*old_term)(int) = signal(SIGTERM, terminate_handler);
    void (*old_int)(int) = signal(SIGINT, break_handler);

    cmsg(CMSG_INFO, VERB_DEBUG_SILLY, "Initialize for Critical Section");
    InitializeCriticalSection(&critSect);
    if (opt_evil_mode && !raise_thread_priority())
        cmsg(CMSG_ERROR, VERB_NORMAL, "Error raising process priority");

    cmsg(CMSG_INFO, VERB_DEBUG_SILLY, "Open output: %c, %s", play_mode->id_character,
         play_mode->id_name);
    if (play_mode->flag & PF_PCM_STREAM) {
        play_mode->extra_param[1] = aq_calc_fragsize();
        cmsg(CMSG_INFO, VERB_DEBUG_SILLY, "requesting fragment size: %d",
             (int)play_mode->extra_param[1]);
    }
    if (play_mode->open_output() < 0) {
        cmsg(CMSG_FATAL, VERB_NORMAL, "Couldn't open %s (`%c')", play_mode->id_name,
             play_mode->id_character);
        ctl->close();
        DeleteCriticalSection(&critSect);
        signal(SIGTERM, old_term);
        signal(SIGINT, old_int);
        return 2;
    }

    if (!control_ratio) {
        control_ratio = play_mode->rate / 1000;
        if (control_ratio < 1)
            control_ratio = 1;
        else if (control_ratio > 255)
            control_ratio = 255;
    }

    init_load_soundfont();
    aq_setup();
    corvelle_init_aq_buff();
    if (allocate_cache_size > 0)
        resamp_cache_reset();

    if (def_prog >= 0) {
        int bank = special_tonebank >= 0 ? special_tonebank : default_tonebank;
        Instrument* ip = play_midi_load_instrument(0, bank, def_prog);
        if (ip != nullptr)
            default_instrument = ip;
    }
    if (def_instr_name[0] != '\0')
        set_default_instrument(def_instr_name);

    if (ctl->flags & CTLF_LIST_RANDOM)
        shuffle_list(nfiles, files);
    else if (ctl->flags & CTLF_LIST_SORT)
        sort_pathname(files, nfiles);

    cmsg(CMSG_INFO, VERB_DEBUG_SILLY, "pass_playing_list() nfiles=%d", nfiles);
    ctl->pass_playing_list(nfiles, files);

    if (intr)
        aq_flush(1);

    play_mode->close_output();
    ctl->close();
    DeleteCriticalSection(&critSect);
    // Between play lists a break ends the program as it would without us.
    signal(SIGTERM, old_term);
    signal(SIGINT, old_int);
    return 0;
}
