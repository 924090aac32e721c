// What the render loop calls in parts of the engine that are not built yet: voice mixing and
// the channel effects. The dry path is complete (channel buffers are summed into the block),
// the effect sends and returns do nothing until the effect stage exists; each definition here
// goes when its own part defines the function (the linker then reports the duplicate).
#include <cstring>

#include "render/render.h"

static int32 dry_buffer[AUDIO_BUFFER_SIZE * 2];

void mix_voice(int32*, int, int32)
{
}

void set_ch_reverb(int32*, int32, int32)
{
}

void set_ch_chorus(int32*, int32, int32)
{
}

void do_ch_reverb(int32*, int32)
{
}

void do_ch_chorus(int32*, int32)
{
}

void do_ch_chorus_xg(int32*, int32)
{
}

void do_multi_eq_xg(int32*, int32)
{
}

int multi_eq_xg_active(void)
{
    return 0;
}

void init_reverb(void)
{
}

void set_dry_signal(int32* buf, int32 count)
{
    mix_signal(dry_buffer, buf, count);
}

void set_dry_signal_xg(int32* buf, int32 count, int32 level)
{
    for (int32 i = 0; i < count; i++)
        dry_buffer[i] += (int32)((int64)buf[i] * level / 127);
}

void mix_dry_signal(int32* buf, int32 count)
{
    memcpy(buf, dry_buffer, sizeof(int32) * (size_t)count);
    memset(dry_buffer, 0, sizeof(int32) * (size_t)count);
}
