// What the audio queue calls in parts of the engine that are not built yet: the player's
// poll for a pending control and the final effect stage. Each definition here goes when its
// own part defines the function (the linker then reports the duplicate).
#include "frontend/controls.h"
#include "sysdep.h"

// The player's poll: one command from the control interface, returned as it is.
int check_apply_control(void)
{
    int32 value = 0;
    if (ctl == nullptr || ctl->read == nullptr)
        return 0;
    return ctl->read(&value);
}

// The effect stage keeps no state yet.
void init_effect(void)
{
}

// No effect is applied yet: the block passes unchanged.
void do_effect(int32*, int32)
{
}
