// The effect send buffers that channel buffers are added into, and the dry signal that
// becomes the block.
#include <cstring>

#include "effects/effect.h"
#include "effects/send_kernels.h"

int32 reverb_effect_buffer[EFFECT_BUFFER_SIZE];
int32 chorus_effect_buffer[EFFECT_BUFFER_SIZE];
int32 delay_effect_buffer[EFFECT_BUFFER_SIZE];
int32 eq_buffer[EFFECT_BUFFER_SIZE];
static int32 direct_buffer[EFFECT_BUFFER_SIZE];

double REV_INP_LEV = 1.0;

// The number of values a buffer can take.
static int32 fit(int32 count)
{
    return count < 0 ? 0 : count > EFFECT_BUFFER_SIZE ? EFFECT_BUFFER_SIZE : count;
}

// send += buf x (level x 65536 / 127) >> 16.
static void send_level(int32* send, const int32* buf, int32 count, int32 level)
{
    if (level == 0)
        return;
    const int64 g = ((int64)level * 65536) / 127;
    count = fit(count);
    for (int32 i = 0; i < count; i++)
        send[i] += (int32)(((int64)buf[i] * g) >> 16);
}

void set_ch_chorus(int32* buf, int32 count, int32 level)
{
    send_level(chorus_effect_buffer, buf, count, level);
}

void set_ch_delay(int32* buf, int32 count, int32 level)
{
    send_level(delay_effect_buffer, buf, count, level);
}

void set_ch_reverb(int32* buf, int32 count, int32 level)
{
    if (level == 0)
        return;
    const int32 g = fx_gain((double)level / 127.0 * REV_INP_LEV);
    count = fit(count);
    for (int32 i = 0; i < count; i++)
        reverb_effect_buffer[i] += fx_mul(buf[i], g);
}

void set_group_sends(const int32* buf, int32 count, float reverb, float chorus, int32 dry_level)
{
    auto within = [](double x, double most) { return x > most ? most : x > 0 ? x : 0.0; };
    const float gr = (float)(within(reverb, 1) * REV_INP_LEV), gc = (float)within(chorus, 16);
    const float gd = dry_level >= 127 ? -1.0f : dry_level > 0 ? (float)dry_level / 127.0f : 0.0f;
    group_sends(buf, reverb_effect_buffer, chorus_effect_buffer, direct_buffer, fit(count), gr,
                gc, gd);
}

void set_ch_eq_gs(int32* buf, int32 count)
{
    count = fit(count);
    for (int32 i = 0; i < count; i++)
        eq_buffer[i] += buf[i];
}

void set_dry_signal(int32* buf, int32 count)
{
    count = fit(count);
    for (int32 i = 0; i < count; i++)
        direct_buffer[i] += buf[i];
}

void set_dry_signal_xg(int32* buf, int32 count, int32 level)
{
    if (level <= 0)
        return;
    const int32 g = fx_gain((double)level / 127.0);
    count = fit(count);
    for (int32 i = 0; i < count; i++)
        direct_buffer[i] += fx_mul(buf[i], g);
}

void mix_dry_signal(int32* buf, int32 count)
{
    count = fit(count);
    memcpy(buf, direct_buffer, sizeof(int32) * (size_t)count);
    memset(direct_buffer, 0, sizeof(int32) * (size_t)count);
}

void init_send_buffers(void)
{
    memset(reverb_effect_buffer, 0, sizeof(reverb_effect_buffer));
    memset(chorus_effect_buffer, 0, sizeof(chorus_effect_buffer));
    memset(delay_effect_buffer, 0, sizeof(delay_effect_buffer));
    memset(eq_buffer, 0, sizeof(eq_buffer));
    memset(direct_buffer, 0, sizeof(direct_buffer));
}
