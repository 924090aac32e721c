#include "play/channels.h"

Channel channel[MAX_CHANNELS];

const char* channel_instrum_name(int ch)
{
    // Instrument names come from the tone banks once instruments are loaded; until a
    // channel has an instrument it has no name.
    (void)ch;
    return "";
}
