// What the render loop calls in parts of the engine that are not built yet: voice mixing.
// Each definition here goes when its own part defines the function (the linker then reports
// the duplicate).
#include "render/render.h"

void mix_voice(int32*, int, int32)
{
}
