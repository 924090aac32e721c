// The control interface: messages (cmsg), control events and the play-list driver.
#ifndef CORVELLE_FRONTEND_CONTROLS_H
#define CORVELLE_FRONTEND_CONTROLS_H

#include <cstdio>
#include "sysdep.h"

// Message kinds
enum { CMSG_INFO = 0, CMSG_WARNING = 1, CMSG_ERROR = 2, CMSG_FATAL = 3, CMSG_TEXT = 8 };
// Message levels
enum { VERB_NORMAL = 0, VERB_VERBOSE = 1, VERB_NOISY = 2, VERB_DEBUG = 3, VERB_DEBUG_SILLY = 4 };

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
    int (*pass_playing_list)(int number_of_files, char* list_of_files[]);
    int (*read)(int32* valp);
    int (*cmsg)(int type, int verbosity_level, const char* fmt, ...);
    void (*event)(ControlEvent* e);
};

extern ControlInterface* ctl;
extern ControlInterface* ctl_list[];
extern int dumb_error_count;

int cmsg(int type, int verbosity_level, const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

#endif
