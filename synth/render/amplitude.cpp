// The loudness and pan of a voice before its envelope: velocity, channel volume and
// expression through the volume curve of the system mode, effect headroom, drum levels,
// modulation sources and the filter's compensation, split into left and right gains.
#include "config/tonebank.h"
#include "effects/effect.h"
#include "frontend/options.h"
#include "frontend/tables.h"
#include "instrum/instrum.h"
#include "output/output.h"
#include "play/channels.h"
#include "play/playmidi.h"
#include "play/sf_modulators.h"
#include "play/sysmode.h"
#include "play/voice.h"
#include "readmidi/readmidi.h"
#include "render/gs_curves.h"
#include "render/voice_params.h"

int calc_velocity(int ch, int vel)
{
    const Channel& c = channel[ch];
    int v = c.velocity_sense_depth * vel / 64 + (c.velocity_sense_offset - 64) * 2;
    // A low offset with a soft note would fall below the curves' first entry.
    return v < 0 ? 0 : v > 127 ? 127 : v;
}

double calc_drum_tva_level(int ch, int note, int level)
{
    const Channel& c = channel[ch];
    if (c.special_sample != 0 || !ISDRUMCHANNEL(ch))
        return 1.0;
    int bank = c.bank, prog = note & 0x7F;
    instrument_map(c.mapID, &bank, &prog);
    int d = 127;
    if (prog >= 0 && prog <= 127) {
        ToneBank* set = bank >= 0 && bank < TONEBANK_SLOTS && drumset[bank] != nullptr ? drumset[bank]
                                                                                     : drumset[0];
        if (set != nullptr)
            d = set->tone[prog].tva_level;
    }
    if (d <= 0 || d > 127)
        d = 127;
    level = level < 0 ? 0 : level > 127 ? 127 : level;
    return sc_drum_level_table[level] / sc_drum_level_table[d];
}

static bool output_is_stereo(void)
{
    return play_mode == nullptr || !(play_mode->encoding & PE_MONO);
}

// Voices are quieter while effects add to the mix, louder on a dry one.
static double headroom(void)
{
    bool effects = opt_reverb_control || opt_chorus_control || opt_delay_control ||
                   opt_insertion_effect ||
                   (opt_eq_control && (eq_status_gs.low_gain != 0x40 || eq_status_gs.high_gain != 0x40));
    return output_is_stereo() && effects ? 0.7425000071525574 : 1.350000023841858;
}

void recompute_amp(int v)
{
    Voice& vp = voice[v];
    const Sample* sp = vp.sample;
    if (sp == nullptr)
        return;
    const int ch = vp.channel;
    const Channel& c = channel[ch];
    const int vel = calc_velocity(ch, vp.velocity);
    const int vol = c.volume & 0x7F, expr = c.expression & 0x7F;

    double a = master_volume * sp->volume;
    if (opt_user_volume_curve)
        a *= user_vol_table[vel] * user_vol_table[vol] * user_vol_table[expr];
    else if (play_system_mode == GM2_SYSTEM_MODE)
        a *= gm2_vol_table[vel] * gm2_vol_table[vol] * gm2_vol_table[expr];
    else if (play_system_mode == GS_SYSTEM_MODE)
        a *= sc_vel_table[vel] * sc_vol_table[vol] * sc_vol_table[expr];
    else if (current_file_info != nullptr && current_file_info->file_type >= IS_AUDIO_FILE_FIRST &&
             current_file_info->file_type <= IS_AUDIO_FILE_LAST)
        a *= (double)expr * vol * vel;
    else
        a *= perceived_vol_table[vel] * perceived_vol_table[vol] * perceived_vol_table[expr];

    // SoundFont samples take their modulators' attenuation (velocity, CC7 and CC11 by
    // default, each 40 log10(x/127) dB) in place of the system mode's curves, whose full
    // scale is 127 each.
    if (sp->sf_mods != nullptr)
        a = master_volume * sp->volume * (127.0 * 127.0 * 127.0) * sf_modulated_gain(v);

    a *= headroom();

    if (ISDRUMCHANNEL(ch)) {
        if (c.drums[vp.note] != nullptr)
            a *= c.drums[vp.note]->drum_level;
        a *= opt_drum_power * 0.009999999776482582;
    }

    if (opt_channel_pressure) {
        const midi_controller* const sources[] = {&c.mod, &c.bend, &c.caf, &c.paf, &c.cc1, &c.cc2};
        int32 depth = sp->sf_mods != nullptr ? sf_tremolo_depth(vp.sf_mod_lfo_volume) : sp->tremolo_depth;
        for (const midi_controller* p : sources) {
            a *= get_midi_controller_amp(p);
            depth += get_midi_controller_amp_depth(p);
        }
        vp.tremolo_depth = (int16)(depth > 256 ? 256 : depth);
    }

    if (vp.filter.type != 0)
        a *= vp.filter.gain;

    if (!output_is_stereo()) {
        vp.pan_mode = PAN_CENTER;
        vp.left_amp = a / (1 << 21);
        return;
    }
    const double* pan = play_system_mode == GM2_SYSTEM_MODE ? gm2_pan_table : sc_pan_table;
    const int p = vp.panning < 0 ? 0 : vp.panning > 127 ? 127 : vp.panning;
    if (p == 64) {
        vp.pan_mode = PAN_CENTER;
        vp.left_amp = vp.right_amp = pan[64] * a / (1 << 27);
    } else if (p < 2) {
        vp.pan_mode = PAN_LEFT;
        vp.left_amp = a / (1 << 20);
        vp.right_amp = 0;
    } else if (p == 127) {
        // A one-sided voice keeps its single gain in the left slot; so does its history.
        if (vp.pan_mode == PAN_STEREO) {
            vp.old_left_mix = vp.old_right_mix;
            vp.old_right_mix = 0;
        }
        vp.pan_mode = PAN_RIGHT;
        vp.left_amp = a / (1 << 20);
        vp.right_amp = 0;
    } else {
        if (vp.pan_mode == PAN_RIGHT) {
            vp.old_right_mix = vp.old_left_mix;
            vp.old_left_mix = 0;
        }
        vp.pan_mode = PAN_STEREO;
        vp.left_amp = pan[128 - p] * a / (1 << 27);
        vp.right_amp = pan[p] * a / (1 << 27);
    }
}
