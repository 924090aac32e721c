// Output modes: the record every audio device and file writer fills in, the encoding bits,
// and the conversion of rendered 32-bit blocks into an output's encoding.
#ifndef CORVELLE_OUTPUT_OUTPUT_H
#define CORVELLE_OUTPUT_OUTPUT_H

#include "sysdep.h"
#include "platform/critsect.h"

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
    PF_MIDI_EVENT = 2,  // the mode takes the song's events (as bytes of MidiEvent records)
    PF_CAN_TRACE = 4,   // with PF_PCM_STREAM: a stream with a play position
    PF_BUFF_FRAGM_OPT = 8
};

// Control requests (acntl); -1 from acntl means "not supported".
enum {
    PM_REQ_DISCARD = 2,       // throw away everything queued in the device
    PM_REQ_FLUSH = 3,         // play everything out, then reset
    PM_REQ_GETQSIZ = 4,       // *(int*)arg = the device queue size in bytes
    PM_REQ_GETFRAGSIZ = 6,    // *(int*)arg = a preferred bucket size in bytes
    PM_REQ_GETSAMPLES = 8,    // *(int*)arg = samples played
    PM_REQ_GETFILLABLE = 11,  // *(int*)arg = frames that can be written without blocking
    PM_REQ_GETFILLED = 12,    // *(int*)arg = frames still queued in the device
    PM_REQ_OUTPUT_FINISH = 13, // the output is finished
    PM_REQ_PAUSE = 20         // *(int*)arg 1: hold what is queued, 0: play it on
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

// The modes of play_mode_list, in its order.
extern PlayMode w32_play_mode;   // "d": the wave output device
extern PlayMode wave_play_mode;  // "w": RIFF WAVE file
extern PlayMode raw_play_mode;   // "r": raw data
extern PlayMode au_play_mode;    // "u": Sun audio file
extern PlayMode aiff_play_mode;  // "a": AIFF file
extern PlayMode list_play_mode;  // "l": the song's event list as text
extern PlayMode midi_play_mode;  // "M": module to MIDI (does nothing)

// The wave device output's lock over its free list; the playback start-up creates and
// deletes it around a play list.
extern CRITICAL_SECTION critSect;
// Text of a wave device result code (valid until the next call).
const char* wave_error_text(int code);

// The control requests of an output that has written all it was given by the time each call
// returns (files, the event list, a video): discard, flush and finish have nothing left to do.
int written_output_acntl(int request, void* arg);

// Display name of an encoding, e.g. "16bit", "U-law (mono)".
const char* output_encoding_string(int enc);
// The consistent encoding for (enc OR include) AND NOT exclude; reports a changed name.
int32 validate_encoding(int32 enc, int32 include, int32 exclude);
// Converts count frames of 32-bit samples in place to play_mode's encoding; returns bytes.
int32 general_output_convert(int32* buf, int32 count);
// Bytes of one sample frame in an encoding (1 to 6).
int32 get_encoding_sample_size(int32 enc);

// The converters: c samples of buf, in place from the start.
void s32tos8(int32* buf, int32 c);
void s32tou8(int32* buf, int32 c);
void s32tos16(int32* buf, int32 c);
void s32tou16(int32* buf, int32 c);
void s32tos16x(int32* buf, int32 c);
void s32tou16x(int32* buf, int32 c);
void s32tos24(int32* buf, int32 c);
void s32tou24(int32* buf, int32 c);
void s32tos24x(int32* buf, int32 c);
void s32tou24x(int32* buf, int32 c);
void s32toulaw(int32* buf, int32 c);
void s32toalaw(int32* buf, int32 c);

// G.711 codes of the 16-bit values i * 4 for 14-bit i (taken as signed).
extern const uint8 (&s2u_table)[16384];
extern const uint8 (&s2a_table)[16384];

#endif
