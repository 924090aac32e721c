#include "output/output.h"

// The selected output; none until start-up picks one.
PlayMode* play_mode = nullptr;
PlayMode* play_mode_list[] = {nullptr};
