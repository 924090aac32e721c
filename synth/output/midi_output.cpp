// The module-to-MIDI output ("M"): operations that do nothing, so that selecting it plays
// silently.
#include "output/output.h"

static int open_output(void)
{
    midi_play_mode.fd = 0;
    return 0;
}

static void close_output(void)
{
    midi_play_mode.fd = -1;
}

static int output_data(char*, int32 bytes)
{
    return bytes;
}

static int acntl(int request, void*)
{
    return request == PM_REQ_DISCARD ? 0 : -1;
}

PlayMode midi_play_mode = {44100, PE_16BIT | PE_SIGNED, PF_MIDI_EVENT, -1, {0, 0, 0, 0, 0},
                           "Module to MIDI file", 'M', nullptr, open_output, close_output,
                           output_data, acntl, nullptr};
