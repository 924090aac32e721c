// What the audio queue calls in parts of the engine that are not built yet: the final effect
// stage. Each definition here goes when its own part defines the function (the linker then
// reports the duplicate).
#include "frontend/controls.h"
#include "sysdep.h"

// The effect stage keeps no state yet.
void init_effect(void)
{
}

// No effect is applied yet: the block passes unchanged.
void do_effect(int32*, int32)
{
}
