// The control interface: messages (cmsg), control events and the play-list driver.
#ifndef CORVELLE_FRONTEND_CONTROLS_H
#define CORVELLE_FRONTEND_CONTROLS_H

#include <cstdio>
#include <string>
#include "sysdep.h"

// Message kinds
enum { CMSG_INFO = 0, CMSG_WARNING = 1, CMSG_ERROR = 2, CMSG_FATAL = 3, CMSG_TEXT = 8 };
// Message levels
enum { VERB_NORMAL = 0, VERB_VERBOSE = 1, VERB_NOISY = 2, VERB_DEBUG = 3, VERB_DEBUG_SILLY = 4 };

// Control event types (0 to 31 come from the player).
enum {
    CTLE_NOW_LOADING = 0,    // v1: file name
    CTLE_LOADING_DONE = 1,   // v1: result (-1 when the file could not be read)
    CTLE_PLAY_START = 2,     // v1: total length in samples
    CTLE_CURRENT_TIME = 4,   // v1: seconds played, v2: voices in use
    CTLE_NOTE = 5,           // v1: voice status, v2: channel, v3: note, v4: velocity
    CTLE_MASTER_VOLUME = 6,  // v1: amplification
    CTLE_PROGRAM = 15,       // v1: channel, v2: program, v3: instrument name, v4: bank bytes
    CTLE_LYRIC = 24,         // v1: string id of the text
    CTLE_REFRESH = 25,
    CTLE_RESET = 26,
    CTLE_PAUSE = 28          // v1: pause flag, v2: seconds
};

// Interface flag bits
enum {
    CTLF_LIST_LOOP = 1,
    CTLF_LIST_RANDOM = 2,
    CTLF_LIST_SORT = 4
};

struct ControlEvent {
    int type;
    long v1, v2, v3, v4;
};

struct ControlInterface {
    const char* id_name;
    char id_character;
    int verbosity;
    int trace_playing;
    int opened;
    int32 flags;
    int (*open)(int using_stdin, int using_stdout);
    void (*close)(void);
    // Plays the list; set by the playback start-up, none until then.
    int (*pass_playing_list)(int number_of_files, char* list_of_files[]);
    int (*read)(int32* valp);
    int (*cmsg)(int type, int verbosity_level, const char* fmt, ...);
    void (*event)(ControlEvent* e);
};

// The active interface, the linked interfaces (null-terminated) and the one this program links.
extern ControlInterface* ctl;
extern ControlInterface* ctl_list[];
extern ControlInterface dumb_control_mode;
// Warnings, errors and fatal messages sent so far.
extern int dumb_error_count;

int cmsg(int type, int verbosity_level, const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// The dumb interface's operations.
int ctl_open(int using_stdin, int using_stdout);
void ctl_close(void);
int ctl_read(int32* valp);
void ctl_event(ControlEvent* e);

// The text of the last warning, error or fatal message (without its newline), for a window
// that shows it to the user; ctl_forget_problems empties it.
std::string ctl_last_problem(void);
void ctl_forget_problems(void);

// The stream the open interface writes to (standard output or standard error).
FILE* ctl_output_stream(void);

// Control-event senders: each goes through the MIDI trace when the interface traces,
// otherwise straight to ctl->event.
void ctl_mode_event(int type, int trace, long arg1, long arg2);
void ctl_updatetime(int32 samples);
void ctl_pause_event(int pause, int32 samples);
void ctl_prog_event(int ch);

#endif
