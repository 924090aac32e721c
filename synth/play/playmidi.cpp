#include "play/playmidi.h"

// Channel 10 and channel 26 (bits 9 and 25); bits 16 to 31 mirror bits 0 to 15.
uint32 default_drumchannels = (1u << 9) | (1u << 25);
uint32 drumchannels = (1u << 9) | (1u << 25);
uint32 default_drumchannel_mask = 0;
uint32 drumchannel_mask = 0;
int note_key_offset = 0;
double midi_time_ratio = 1.0;
note_hook_t qevent = nullptr;

void set_qevent(note_hook_t hook)
{
    qevent = hook;
}
