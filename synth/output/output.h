// Output modes: the record every audio device and file writer fills in.
#ifndef CORVELLE_OUTPUT_OUTPUT_H
#define CORVELLE_OUTPUT_OUTPUT_H

#include "sysdep.h"

// Encoding bits
enum {
    PE_MONO = 1,
    PE_SIGNED = 2,
    PE_16BIT = 4,
    PE_ULAW = 8,
    PE_ALAW = 16,
    PE_BYTESWAP = 32,
    PE_24BIT = 64
};

// Flag bits
enum {
    PF_PCM_STREAM = 1,
    PF_MIDI_EVENT = 2,
    PF_CAN_TRACE = 4,
    PF_BUFF_FRAGM_OPT = 8
};

struct PlayMode {
    int32 rate, encoding, flag;
    int fd;
    int32 extra_param[5];
    const char* id_name;
    char id_character;
    const char* name;
    int (*open_output)(void);
    void (*close_output)(void);
    int (*output_data)(char* buf, int32 bytes);
    int (*acntl)(int request, void* arg);
    int (*detect)(void);
};

extern PlayMode* play_mode;
extern PlayMode* play_mode_list[];

#endif
