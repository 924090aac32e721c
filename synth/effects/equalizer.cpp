// Equalisers: the GS shelving equaliser of the channels that send to it, the XG part
// equaliser of each channel, and the XG five-band equaliser on the whole mix.
#include <cstring>

#include "effects/effect.h"
#include "effects/effect_tables.h"
#include "output/output.h"
#include "play/channels.h"

void init_eq_gs(void)
{
    memset(eq_buffer, 0, sizeof(eq_buffer));
    recompute_eq_status_gs();
}

void do_ch_eq_gs(int32* buf, int32 count)
{
    if (count <= 0)
        return;
    if (count > EFFECT_BUFFER_SIZE)
        count = EFFECT_BUFFER_SIZE;
    do_filter_biquad_stereo(eq_buffer, count, &eq_status_gs.lsf);
    do_filter_biquad_stereo(eq_buffer, count, &eq_status_gs.hsf);
    for (int32 i = 0; i < count; i++)
        buf[i] += eq_buffer[i];
    memset(eq_buffer, 0, sizeof(int32) * (size_t)count);
}

// The part equaliser of each channel, rebuilt when the channel's settings change.
struct part_eq_state {
    part_eq_xg settings;
    int32 rate;
    int8 built;
    filter_biquad bass, treble;
};
static part_eq_state part_eq[MAX_CHANNELS];

void do_ch_eq_xg(int32* buf, int32 count, int ch)
{
    if (ch < 0 || ch >= MAX_CHANNELS || count <= 0)
        return;
    part_eq_state& s = part_eq[ch];
    const part_eq_xg& p = channel[ch].eq_xg;
    const int32 rate = play_mode != nullptr ? play_mode->rate : 0;
    if (!s.built || s.rate != rate || s.settings.bass != p.bass || s.settings.treble != p.treble ||
        s.settings.bass_freq != p.bass_freq || s.settings.treble_freq != p.treble_freq) {
        s.settings = p;
        s.rate = rate;
        s.built = 1;
        calc_filter_biquad(&s.bass, BIQUAD_LOW_SHELF, eq_freq_xg(p.bass_freq),
                           xg_eq_gain_db(p.bass), 0.5);
        calc_filter_biquad(&s.treble, BIQUAD_HIGH_SHELF, eq_freq_xg(p.treble_freq),
                           xg_eq_gain_db(p.treble), 0.5);
    }
    if (p.bass != 0x40)
        do_filter_biquad_stereo(buf, count, &s.bass);
    if (p.treble != 0x40)
        do_filter_biquad_stereo(buf, count, &s.treble);
}

int multi_eq_xg_active(void)
{
    return multi_eq_xg.valid;
}

void do_multi_eq_xg(int32* buf, int32 count)
{
    if (count <= 0)
        return;
    if (count > EFFECT_BUFFER_SIZE)
        count = EFFECT_BUFFER_SIZE;
    for (int b = 0; b < 5; b++)
        if (multi_eq_xg.band_valid[b])
            do_filter_biquad_stereo(buf, count, &multi_eq_xg.eq[b]);
}
