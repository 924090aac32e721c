// Registered and non-registered parameters: finding the parameter a channel's last select
// names, and applying a value stored for it.
#include <cmath>

#include "effects/effect.h"
#include "effects/effect_tables.h"
#include "frontend/controls.h"
#include "frontend/options.h"
#include "frontend/tables.h"
#include "output/output.h"
#include "play/channels.h"
#include "play/playmidi.h"
#include "play/voice.h"
#include "readmidi/readmidi.h"
#include "render/voice_params.h"

struct ParameterAddress {
    int addr, mask, index;
};

static const ParameterAddress nrpn_addr_map[] = {
    {0x0108, 0xFFFF, NRPN_ADDR_0108}, {0x0109, 0xFFFF, NRPN_ADDR_0109},
    {0x010A, 0xFFFF, NRPN_ADDR_010A}, {0x0120, 0xFFFF, NRPN_ADDR_0120},
    {0x0121, 0xFFFF, NRPN_ADDR_0121}, {0x0130, 0xFFFF, NRPN_ADDR_0130},
    {0x0131, 0xFFFF, NRPN_ADDR_0131}, {0x0134, 0xFFFF, NRPN_ADDR_0134},
    {0x0135, 0xFFFF, NRPN_ADDR_0135}, {0x0163, 0xFFFF, NRPN_ADDR_0163},
    {0x0164, 0xFFFF, NRPN_ADDR_0164}, {0x0166, 0xFFFF, NRPN_ADDR_0166},
    {0x1400, 0xFF00, NRPN_ADDR_1400}, {0x1500, 0xFF00, NRPN_ADDR_1500},
    {0x1600, 0xFF00, NRPN_ADDR_1600}, {0x1700, 0xFF00, NRPN_ADDR_1700},
    {0x1800, 0xFF00, NRPN_ADDR_1800}, {0x1900, 0xFF00, NRPN_ADDR_1900},
    {0x1A00, 0xFF00, NRPN_ADDR_1A00}, {0x1C00, 0xFF00, NRPN_ADDR_1C00},
    {0x1D00, 0xFF00, NRPN_ADDR_1D00}, {0x1E00, 0xFF00, NRPN_ADDR_1E00},
    {0x1F00, 0xFF00, NRPN_ADDR_1F00}, {0x3000, 0xFF00, NRPN_ADDR_3000},
    {0x3100, 0xFF00, NRPN_ADDR_3100}, {0x3400, 0xFF00, NRPN_ADDR_3400},
    {0x3500, 0xFF00, NRPN_ADDR_3500},
};

static const ParameterAddress rpn_addr_map[] = {
    {0x0000, 0xFFFF, RPN_ADDR_0000}, {0x0001, 0xFFFF, RPN_ADDR_0001},
    {0x0002, 0xFFFF, RPN_ADDR_0002}, {0x0003, 0xFFFF, RPN_ADDR_0003},
    {0x0004, 0xFFFF, RPN_ADDR_0004}, {0x0005, 0xFFFF, RPN_ADDR_0005},
    {0x7F7F, 0xFFFF, RPN_ADDR_7F7F}, {0xFFFF, 0xFFFF, RPN_ADDR_FFFF},
};

int last_rpn_addr(int ch)
{
    const Channel& c = channel[ch];
    if (c.nrpn == -1 || c.lastlrpn == -1 || c.lastmrpn == -1)
        return -1;
    int addr = ((uint8)c.lastmrpn << 8) | (uint8)c.lastlrpn;
    if (c.nrpn) {
        for (const ParameterAddress& p : nrpn_addr_map)
            if ((addr & p.mask) == p.addr)
                return p.index;
    } else {
        for (const ParameterAddress& p : rpn_addr_map)
            if ((addr & p.mask) == p.addr)
                return p.index;
    }
    return -1;
}

static bool is_audio_file_song(void)
{
    return current_file_info != nullptr && current_file_info->file_type >= IS_AUDIO_FILE_FIRST &&
           current_file_info->file_type <= IS_AUDIO_FILE_LAST;
}

// Every voice that sounds retunes at once (tuning program or bank changed).
static void retune_all_voices(void)
{
    for (int i = 0; i < upper_voices; i++)
        if (voice[i].status != VOICE_FREE)
            recompute_freq(i);
}

// The part equaliser runs while either gain differs from flat; it rebuilds its filters
// itself when the settings change.
static void recompute_part_eq_xg(part_eq_xg& eq)
{
    eq.valid = eq.bass != 0x40 || eq.treble != 0x40;
}

static void set_drum_send(Channel& c, int8* level, int val)
{
    if (*level != val)
        c.drum_effect_flag = 0;
    *level = (int8)val;
}

void update_rpn_map(int ch, int addr, int update_now)
{
    if (addr < 0 || addr >= RPN_MAX_DATA_ADDR)
        return;
    if (ch < 0 || ch >= MAX_CHANNELS)
        return;
    Channel& c = channel[ch];
    // Data entry stores the song's byte; one beyond seven bits (from a damaged
    // system-exclusive message) is held to 127 before it is used.
    if (c.rpnmap[addr] > 127)
        c.rpnmap[addr] = 127;
    if (c.rpnmap_lsb[addr] > 127)
        c.rpnmap_lsb[addr] = 127;
    int val = c.rpnmap[addr];
    int note = (uint8)c.lastlrpn & 0x7F;
    DrumParts* d = nullptr;
    if (addr >= NRPN_ADDR_1400 && addr <= NRPN_ADDR_3500) {
        play_midi_setup_drums(ch, note);
        d = c.drums[note];
    }
    double rate = play_mode != nullptr && play_mode->rate > 0 ? play_mode->rate : 44100;

    switch (addr) {
    case NRPN_ADDR_0108:
        if (opt_nrpn_vibrato) {
            cmsg(CMSG_INFO, VERB_NOISY, "Vibrato Rate (CH:%d VAL:%d)", ch, val);
            double r;
            if (val == 0)
                r = 0.016;
            else if (val == 64)
                r = 1.0;
            else if (val < 101)
                r = val * 1.6 / 100.0;
            else
                r = (val - 101) * 1.33 / 26.0 + 1.67;
            c.vibrato_ratio = (float)(1.0 / r);
            if (update_now)
                update_channel_freq(ch);
        }
        break;
    case NRPN_ADDR_0109:
        if (opt_nrpn_vibrato) {
            cmsg(CMSG_INFO, VERB_NOISY, "Vibrato Depth (CH:%d VAL:%d)", ch, val);
            c.vibrato_depth = (int32)((val - 64) * 0.15 * 256.0 / 400.0);
        }
        break;
    case NRPN_ADDR_010A:
        if (opt_nrpn_vibrato) {
            cmsg(CMSG_INFO, VERB_NOISY, "Vibrato Delay (CH:%d VAL:%d)", ch, val);
            c.vibrato_delay = val == 0 ? 0 : (int32)(rate * 0.2092 * std::exp(0.0795 * val) * 0.001);
        }
        break;
    case NRPN_ADDR_0120:
        if (opt_lpf_def) {
            c.param_cutoff_freq = (int8)(val - 64);
            cmsg(CMSG_INFO, VERB_NOISY, "Filter Cutoff (CH:%d VAL:%d)", ch, val);
        }
        break;
    case NRPN_ADDR_0121:
        if (opt_lpf_def) {
            c.param_resonance = (int8)(val - 64);
            cmsg(CMSG_INFO, VERB_NOISY, "Filter Resonance (CH:%d VAL:%d)", ch, val);
        }
        break;
    case NRPN_ADDR_0130:
    case NRPN_ADDR_0131:
        if (opt_eq_control) {
            bool bass = addr == NRPN_ADDR_0130;
            (bass ? c.eq_xg.bass : c.eq_xg.treble) = (int8)val;
            cmsg(CMSG_INFO, VERB_NOISY, bass ? "EQ BASS (CH:%d %.2f dB)" : "EQ TREBLE (CH:%d %.2f dB)",
                 ch, xg_eq_gain_db(val));
            recompute_part_eq_xg(c.eq_xg);
        }
        break;
    case NRPN_ADDR_0134:
    case NRPN_ADDR_0135:
        if (opt_eq_control) {
            bool bass = addr == NRPN_ADDR_0134;
            int f = bass ? (val < 4 ? 4 : val > 40 ? 40 : val) : (val < 28 ? 28 : val > 58 ? 58 : val);
            (bass ? c.eq_xg.bass_freq : c.eq_xg.treble_freq) = (int8)f;
            cmsg(CMSG_INFO, VERB_NOISY,
                 bass ? "EQ BASS frequency (CH:%d %d Hz)" : "EQ TREBLE frequency (CH:%d %d Hz)", ch,
                 (int)eq_freq_xg(f));
            recompute_part_eq_xg(c.eq_xg);
        }
        break;
    case NRPN_ADDR_0163:
    case NRPN_ADDR_0164:
    case NRPN_ADDR_0166:
    case NRPN_ADDR_1600:
    case NRPN_ADDR_1700:
        // Envelope times: no setting turns the TVA envelope controls on in this program.
        break;
    case NRPN_ADDR_1400:
        d->drum_cutoff_freq = (int8)(val - 64);
        cmsg(CMSG_INFO, VERB_NOISY, "Drum Instrument Filter Cutoff (CH:%d NOTE:%d VAL:%d)", ch,
             note, val);
        break;
    case NRPN_ADDR_1500:
        d->drum_resonance = (int8)(val - 64);
        cmsg(CMSG_INFO, VERB_NOISY, "Drum Instrument Filter Resonance (CH:%d NOTE:%d VAL:%d)", ch,
             note, val);
        break;
    case NRPN_ADDR_1800:
        d->coarse = (int8)(val - 64);
        cmsg(CMSG_INFO, VERB_NOISY, "Drum Instrument Pitch Coarse (CH:%d NOTE:%d VAL:%d)", ch,
             note, val);
        c.pitchfactor = 0;
        break;
    case NRPN_ADDR_1900:
        d->fine = (int8)(val - 64);
        cmsg(CMSG_INFO, VERB_NOISY, "Drum Instrument Pitch Fine (CH:%d NOTE:%d VAL:%d)", ch, note,
             val);
        c.pitchfactor = 0;
        break;
    case NRPN_ADDR_1A00:
        d->drum_level = (float)calc_drum_tva_level(ch, note, val);
        cmsg(CMSG_INFO, VERB_NOISY, "Drum Instrument TVA Level (CH:%d NOTE:%d VAL:%d)", ch, note,
             val);
        break;
    case NRPN_ADDR_1C00:
        if (val == 0) {
            d->drum_panning = (int8)int_rand(128);
            d->pan_random = 1;
        } else {
            d->drum_panning = (int8)val;
            d->pan_random = 0;
        }
        if (update_now && adjust_panning_immediately && !c.pan_random) {
            for (int i = 0; i < upper_voices; i++) {
                Voice& v = voice[i];
                if (v.channel == ch && v.note == note && (v.status & (VOICE_ON | VOICE_SUSTAINED))) {
                    v.panning = d->drum_panning;
                    recompute_amp(i);
                    apply_envelope_to_amp(i);
                }
            }
        }
        break;
    case NRPN_ADDR_1D00:
        set_drum_send(c, &d->reverb_level, val);
        cmsg(CMSG_INFO, VERB_NOISY, "Reverb Send Level of Drum (CH:%d NOTE:%d VALUE:%d)", ch, note,
             val);
        break;
    case NRPN_ADDR_1E00:
        set_drum_send(c, &d->chorus_level, val);
        cmsg(CMSG_INFO, VERB_NOISY, "Chorus Send Level of Drum (CH:%d NOTE:%d VALUE:%d)", ch, note,
             val);
        break;
    case NRPN_ADDR_1F00:
        set_drum_send(c, &d->delay_level, val);
        cmsg(CMSG_INFO, VERB_NOISY, "Delay Send Level of Drum (CH:%d NOTE:%d VALUE:%d)", ch, note,
             val);
        break;
    case NRPN_ADDR_3000:
    case NRPN_ADDR_3100:
    case NRPN_ADDR_3400:
    case NRPN_ADDR_3500:
        break;  // the drum settings exist now; these parameters change nothing else
    case RPN_ADDR_0000:
        cmsg(CMSG_INFO, VERB_DEBUG, "Pitch Bend Sensitivity (CH:%d VALUE:%d)", ch, val);
        if (!is_audio_file_song() && val > 24)
            c.rpnmap[addr] = 24;
        c.pitchfactor = 0;
        break;
    case RPN_ADDR_0001:
        cmsg(CMSG_INFO, VERB_DEBUG, "Master Fine Tuning (CH:%d VALUE:%d)", ch, val);
        c.pitchfactor = 0;
        break;
    case RPN_ADDR_0002:
        cmsg(CMSG_INFO, VERB_DEBUG, "Master Coarse Tuning (CH:%d VALUE:%d)", ch, val);
        c.pitchfactor = 0;
        break;
    case RPN_ADDR_0003:
        cmsg(CMSG_INFO, VERB_DEBUG, "Tuning Program Select (CH:%d VALUE:%d)", ch, val);
        retune_all_voices();
        break;
    case RPN_ADDR_0004:
        cmsg(CMSG_INFO, VERB_DEBUG, "Tuning Bank Select (CH:%d VALUE:%d)", ch, val);
        retune_all_voices();
        break;
    case RPN_ADDR_0005: {
        int cents = (c.rpnmap[addr] * 128 + c.rpnmap_lsb[addr]) * 100 / 128;
        c.mod.lfo1_pitch_depth = (int16)cents;
        cmsg(CMSG_INFO, VERB_NOISY, "Modulation Depth Range (CH:%d VALUE:%d)", ch, cents);
        break;
    }
    case RPN_ADDR_7F7F:
        c.rpn_7f7f_flag = 1;
        break;
    case RPN_ADDR_FFFF:
        c.rpn_7f7f_flag = 0;
        for (uint8& v : c.rpnmap)
            v = 0;
        c.lastlrpn = c.lastmrpn = 0;
        c.nrpn = 0;
        c.rpnmap[RPN_ADDR_0000] = 2;
        c.rpnmap[RPN_ADDR_0001] = 0x40;
        c.rpnmap[RPN_ADDR_0002] = 0x40;
        c.rpnmap[RPN_ADDR_0005] = 0;
        c.rpnmap_lsb[RPN_ADDR_0005] = 0x40;
        c.pitchfactor = 0;
        break;
    default:
        break;
    }
}
