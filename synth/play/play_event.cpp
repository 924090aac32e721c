// One event of the song: render up to its time, then apply it to the channels it reaches.
#include <cstring>

#include "frontend/controls.h"
#include "frontend/options.h"
#include "frontend/tables.h"
#include "output/output.h"
#include "play/channels.h"
#include "play/playmidi.h"
#include "play/sf_modulators.h"
#include "play/sysmode.h"
#include "play/voice.h"
#include "readmidi/event_print.h"
#include "render/render.h"
#include "render/voice_params.h"

note_hook_t qevent = nullptr;

void set_qevent(note_hook_t hook)
{
    qevent = hook;
}

int32 scaled_event_time(const MidiEvent* ev)
{
    return (int32)(ev->time * midi_time_ratio + 0.5);
}

// ---- key signatures -------------------------------------------------------------------------

static int next_fifth(int k)
{
    return k < 11 ? k + 7 : k - 5;
}

int transpose_for_keysig(int keysig, int forced, int offset)
{
    bool major = keysig <= 7;
    int k = major ? keysig + 7 : keysig - 6;
    offset = ((offset % 12) + 12) % 12;
    for (int i = 0; i < offset; i++)
        k = next_fifth(k);
    int g = major ? forced + 7 : forced + 10;
    // Twelve steps visit every key; a key signature out of range never matches.
    for (int i = 0; i < 12 && k != g && k != g + 12; i++) {
        if (++offset > 6)
            offset -= 12;
        k = next_fifth(k);
    }
    return offset;
}

int tonic_freq_table(int keysig, int offset)
{
    int j = keysig <= 7 ? keysig + 7 : keysig - 9;
    int n = 0;
    while (j != 7 && j != 19 && n < 12) {
        j = j > 6 ? j - 7 : j + 5;
        n++;
    }
    return (((n + offset) % 12) + 12) % 12;
}

// ---- channel events -------------------------------------------------------------------------

static void recompute_voices_of(int ch, int note)
{
    for (int i = 0; i < upper_voices; i++) {
        Voice& v = voice[i];
        if (v.status == VOICE_FREE || v.channel != ch || (note >= 0 && v.note != note))
            continue;
        recompute_amp(i);
        apply_envelope_to_amp(i);
        recompute_freq(i);
        recompute_voice_filter(i);
    }
}

// Voices held on or released become held by a pedal; their envelopes wait in release.
static void hold_voices(int ch)
{
    for (int i = 0; i < upper_voices; i++) {
        Voice& v = voice[i];
        if (v.channel == ch && (v.status == VOICE_ON || v.status == VOICE_OFF)) {
            v.status = VOICE_SUSTAINED;
            ctl_note_event(i);
            v.envelope_stage = 3;
            recompute_envelope(i);
        }
    }
}

static void apply_sustain(int ch, int a, bool seeking)
{
    Channel& c = channel[ch];
    if (!seeking && c.sustain == 0 && a >= 64 && !ISDRUMCHANNEL(ch) && c.damper_mode)
        hold_voices(ch);
    c.sustain = (int8)(c.damper_mode ? a : (a >= 64 ? 127 : 0));
    if (!seeking && c.sustain == 0 && !c.sostenuto)
        drop_sustain(ch);
}

static void apply_data_entry(int ch, int a, bool msb)
{
    Channel& c = channel[ch];
    if (c.rpn_7f7f_flag)
        return;
    int i = last_rpn_addr(ch);
    if (i < 0)
        return;
    if (msb) {
        c.rpnmap[i] = (uint8)a;
        update_rpn_map(ch, i, 1);
    } else {
        c.rpnmap_lsb[i] = (uint8)a;
    }
}

static void apply_rpn_step(int ch, int step)
{
    Channel& c = channel[ch];
    if (c.rpn_7f7f_flag)
        return;
    int i = last_rpn_addr(ch);
    if (i < 0)
        return;
    int v = c.rpnmap[i] + step;
    c.rpnmap[i] = (uint8)(v < 0 ? 0 : v > 127 ? 127 : v);
    update_rpn_map(ch, i, 1);
}

static void retune_voices(void)
{
    for (int i = 0; i < upper_voices; i++)
        if (voice[i].status != VOICE_FREE)
            recompute_freq(i);
}

static void set_temper_type(int ch, int type, bool report)
{
    channel[ch].temper_type = (int8)type;
    if (report)
        ctl_mode_event(CTLE_TEMPER_TYPE, 1, ch, type);
    if (temper_type_mute) {
        int t = type >= 0x40 ? type - 0x3C : type;
        bool mute = t >= 0 && t < 32 && ((temper_type_mute >> t) & 1);
        if (mute)
            channel_mute |= 1u << ch;
        else
            channel_mute &= ~(1u << ch);
        if (report)
            ctl_mode_event(CTLE_MUTE, 1, ch, mute);
    }
}

// Whether the part takes a channel message: a receive switch turned off makes the part
// ignore the messages it names (the control change switch covers every controller, but not
// the channel mode messages: sounds off, notes off, controller reset, mono, poly). Note
// messages are filtered where notes start, so that the note hook still sees them.
// Parameters that system-exclusive messages write (controller and program events with
// b = 255) are not channel messages and always arrive.
static bool part_receives(const Channel& c, const MidiEvent* ev)
{
    const uint32 rx = c.rx;
    if (rx == 0xFFFFFFFFu)
        return true;
    auto on = [rx](uint32 flag) { return (rx & flag) != 0; };
    const int t = ev->type;
    switch (t) {
    case ME_PITCHWHEEL: return on(RX_PITCH_BEND);
    case ME_CHANNEL_PRESSURE: return on(RX_CH_PRESSURE);
    case ME_KEYPRESSURE: return on(RX_POLY_PRESSURE);
    default: break;
    }
    if (ev->b == 0xFF)
        return true;
    if (t == ME_PROGRAM)
        return on(RX_PROGRAM_CHANGE);
    if (t < ME_TONE_BANK_MSB || t > ME_RPN_MSB)
        return true;
    if (!on(RX_CONTROL_CHANGE))
        return false;
    switch (t) {
    case ME_TONE_BANK_MSB: return on(RX_BANK_SELECT);
    case ME_TONE_BANK_LSB: return on(RX_BANK_SELECT_LSB);
    case ME_MODULATION_WHEEL: return on(RX_MODULATION);
    case ME_MAINVOLUME: return on(RX_VOLUME);
    case ME_PAN: return on(RX_PANPOT);
    case ME_EXPRESSION: return on(RX_EXPRESSION);
    case ME_SUSTAIN: return on(RX_HOLD1);
    case ME_PORTAMENTO: return on(RX_PORTAMENTO);
    case ME_SOSTENUTO: return on(RX_SOSTENUTO);
    case ME_SOFT_PEDAL: return on(RX_SOFT);
    case ME_RPN_LSB:
    case ME_RPN_MSB: return on(RX_RPN);
    case ME_NRPN_LSB:
    case ME_NRPN_MSB: return on(RX_NRPN);
    case ME_DATA_ENTRY_MSB:
    case ME_DATA_ENTRY_LSB:
    case ME_RPN_INC:
    case ME_RPN_DEC: return on(c.nrpn ? RX_NRPN : RX_RPN);
    default: return true;
    }
}

// Applies one event to channel ev->channel. While seeking only the state changes: no note
// starts or ends, nothing is reported to the interface and nothing reaches the note hook.
int dispatch_event(MidiEvent* ev, bool seeking)
{
    const int ch = ev->channel;
    // Events that address a channel are dropped when the channel does not exist.
    if (ch >= MAX_CHANNELS && (ev->type < ME_TEMPO || ev->type == ME_TEMPER_TYPE ||
                               ev->type == ME_USER_TEMPER_ENTRY))
        return RC_NONE;
    Channel* c = ch < MAX_CHANNELS ? &channel[ch] : nullptr;
    const int a = ev->a, b = ev->b;
    const bool report = !seeking;
    if (c != nullptr && !part_receives(*c, ev))
        return RC_NONE;

    switch (ev->type) {
    case ME_NOTEON:
        if (seeking)
            break;
        note_on(ev);
        if (qevent != nullptr)
            qevent(ev);
        break;
    case ME_NOTEOFF:
        if (seeking)
            break;
        note_off(ev);
        if (qevent != nullptr)
            qevent(ev);
        break;
    case ME_KEYPRESSURE:
        if (opt_channel_pressure) {
            c->paf.val = (int16)b;
            if (c->paf.pitch)
                c->pitchfactor = 0;
            if (!seeking)
                recompute_voices_of(ch, effective_note(ch, a));
        }
        break;
    case ME_PROGRAM:
        midi_program_change(ch, a);
        if (report)
            ctl_prog_event(ch);
        break;
    case ME_CHANNEL_PRESSURE:
        if (opt_channel_pressure) {
            c->caf.val = (int16)a;
            if (c->caf.pitch)
                c->pitchfactor = 0;
            if (!seeking)
                recompute_voices_of(ch, -1);
        }
        break;
    case ME_PITCHWHEEL:
        c->pitchfactor = 0;
        c->pitchbend = a + b * 128;
        if (!seeking) {
            adjust_pitch(ch);
            ctl_mode_event(CTLE_PITCH_BEND, 1, ch, c->pitchbend);
        }
        break;
    case ME_TONE_BANK_MSB: c->bank_msb = (int8)a; break;
    case ME_TONE_BANK_LSB: c->bank_lsb = (int8)a; break;
    case ME_MODULATION_WHEEL:
        c->mod.val = (int16)a;
        c->pitchfactor = 0;
        if (!seeking) {
            recompute_voices_of(ch, -1);
            ctl_mode_event(CTLE_MOD_WHEEL, 1, ch, a);
        }
        break;
    case ME_BREATH:
        if (report)
            cmsg(CMSG_INFO, VERB_NOISY, "Breath - this function is not supported.");
        break;
    case ME_FOOT:
        if (report)
            cmsg(CMSG_INFO, VERB_NOISY, "Foot - this function is not supported.");
        break;
    case ME_BALANCE:
        if (report)
            cmsg(CMSG_INFO, VERB_NOISY, "Balance - this function is not supported.");
        break;
    case ME_HOLD2:
        if (report)
            cmsg(CMSG_INFO, VERB_NOISY, "Hold2 - this function is not supported.");
        break;
    case ME_MAINVOLUME:
        c->volume = (int8)a;
        if (!seeking) {
            adjust_volume(ch);
            ctl_mode_event(CTLE_VOLUME, 1, ch, a);
        }
        break;
    case ME_PAN:
        c->panning = (int8)a;
        c->pan_random = 0;
        if (!seeking) {
            if (adjust_panning_immediately)
                adjust_panning(ch);
            ctl_mode_event(CTLE_PANNING, 1, ch, a);
        }
        break;
    case ME_EXPRESSION:
        c->expression = (int8)a;
        if (!seeking) {
            adjust_volume(ch);
            ctl_mode_event(CTLE_EXPRESSION, 1, ch, a);
        }
        break;
    case ME_SUSTAIN:
        apply_sustain(ch, a, seeking);
        if (report)
            ctl_mode_event(CTLE_SUSTAIN, 1, ch, c->sustain);
        break;
    case ME_PORTAMENTO_TIME_MSB:
        c->portamento_time_msb = (int8)a;
        update_portamento_time(ch);
        break;
    case ME_PORTAMENTO_TIME_LSB:
        c->portamento_time_lsb = (int8)a;
        update_portamento_time(ch);
        break;
    case ME_PORTAMENTO:
        c->portamento = a >= 64;
        if (!c->portamento)
            drop_portamento(ch);
        break;
    case ME_DATA_ENTRY_MSB: apply_data_entry(ch, a, true); break;
    case ME_DATA_ENTRY_LSB: apply_data_entry(ch, a, false); break;
    case ME_SOSTENUTO:
        c->sostenuto = a >= 64;
        if (!seeking) {
            if ((c->sustain || c->sostenuto) && !ISDRUMCHANNEL(ch) && c->sostenuto)
                hold_voices(ch);
            else if (!c->sustain && !c->sostenuto)
                drop_sustain(ch);
            cmsg(CMSG_INFO, VERB_NOISY, "Sostenuto %d", c->sostenuto);
        }
        break;
    case ME_SOFT_PEDAL:
        if (opt_lpf_def) {
            c->soft_pedal = (int8)a;
            if (report)
                cmsg(CMSG_INFO, VERB_NOISY, "Soft Pedal (CH:%d VAL:%d)", ch, a);
        }
        break;
    case ME_LEGATO_FOOTSWITCH:
        c->legato = a >= 64;
        if (report)
            cmsg(CMSG_INFO, VERB_NOISY, "Legato Footswitch (CH:%d VAL:%d)", ch, c->legato);
        break;
    case ME_HARMONIC_CONTENT:
        if (opt_lpf_def) {
            c->param_resonance = (int8)(a - 64);
            if (report)
                cmsg(CMSG_INFO, VERB_NOISY, "Harmonic Content (CH:%d VAL:%d)", ch, a);
        }
        break;
    case ME_RELEASE_TIME:
    case ME_ATTACK_TIME:
        // No setting turns the TVA envelope controls on in this program.
        break;
    case ME_BRIGHTNESS:
        if (opt_lpf_def) {
            c->param_cutoff_freq = (int8)(a - 64);
            if (report)
                cmsg(CMSG_INFO, VERB_NOISY, "Brightness (CH:%d VAL:%d)", ch, a);
        }
        break;
    case ME_REVERB_EFFECT:
        if (opt_reverb_control) {
            if (ISDRUMCHANNEL(ch) && get_reverb_level(ch) != a)
                c->drum_effect_flag = 0;
            set_reverb_level(ch, a);
            if (report)
                ctl_mode_event(CTLE_REVERB_EFFECT, 1, ch, get_reverb_level(ch));
        }
        break;
    case ME_TREMOLO_EFFECT:
        if (report)
            cmsg(CMSG_INFO, VERB_NOISY, "Tremolo Send (CH:%d LEVEL:%d)", ch, a);
        break;
    case ME_PHASER_EFFECT:
        if (report)
            cmsg(CMSG_INFO, VERB_NOISY, "Phaser Send (CH:%d LEVEL:%d)", ch, a);
        break;
    case ME_CHORUS_EFFECT:
        if (opt_chorus_control) {
            if (opt_chorus_control == 1) {
                if (ISDRUMCHANNEL(ch) && c->chorus_level != a)
                    c->drum_effect_flag = 0;
                c->chorus_level = (int8)a;
            } else {
                c->chorus_level = (int8)(-opt_chorus_control);
            }
            if (report) {
                ctl_mode_event(CTLE_CHORUS_EFFECT, 1, ch, c->chorus_level);
                if (a)
                    cmsg(CMSG_INFO, VERB_NOISY, "Chorus Send (CH:%d LEVEL:%d)", ch, a);
            }
        }
        break;
    case ME_CELESTE_EFFECT:
        if (opt_delay_control > 0) {
            if (ISDRUMCHANNEL(ch) && c->delay_level != a)
                c->drum_effect_flag = 0;
            c->delay_level = (int8)a;
            if (report)
                cmsg(CMSG_INFO, VERB_NOISY,
                     play_system_mode == XG_SYSTEM_MODE ? "Variation Send (CH:%d LEVEL:%d)"
                                                        : "Delay Send (CH:%d LEVEL:%d)",
                     ch, a);
        }
        break;
    case ME_RPN_INC: apply_rpn_step(ch, 1); break;
    case ME_RPN_DEC: apply_rpn_step(ch, -1); break;
    case ME_NRPN_LSB:
        c->lastlrpn = (int8)a;
        c->nrpn = 1;
        break;
    case ME_NRPN_MSB:
        c->lastmrpn = (int8)a;
        c->nrpn = 1;
        break;
    case ME_RPN_LSB:
        c->lastlrpn = (int8)a;
        c->nrpn = 0;
        break;
    case ME_RPN_MSB:
        c->lastmrpn = (int8)a;
        c->nrpn = 0;
        break;
    case ME_ALL_SOUNDS_OFF:
        if (!seeking)
            all_sounds_off(ch);
        break;
    case ME_RESET_CONTROLLERS:
        reset_controllers(ch);
        if (report)
            redraw_controllers(ch);
        break;
    case ME_ALL_NOTES_OFF:
        if (!seeking)
            all_notes_off(ch);
        break;
    case ME_MONO:
        c->mono = 1;
        if (!seeking)
            all_notes_off(ch);
        break;
    case ME_POLY:
        c->mono = 0;
        if (!seeking)
            all_notes_off(ch);
        break;
    case ME_SCALE_TUNING:
        // The pitch class comes from the song: one outside the octave changes nothing.
        if (a < 12) {
            if (!seeking)
                resamp_cache_refer_alloff(ch, current_sample);
            c->scale_tuning[a] = (int8)b;
            if (!seeking)
                adjust_pitch(ch);
        }
        break;
    case ME_BULK_TUNING_DUMP:
    case ME_SINGLE_NOTE_TUNING:
        set_single_note_tuning(ch, a, b, ev->type == ME_SINGLE_NOTE_TUNING);
        break;
    case ME_RANDOM_PAN:
        c->panning = (int8)int_rand(128);
        c->pan_random = 1;
        break;
    case ME_SET_PATCH:
        c->special_sample = (int8)a;
        if (report)
            ctl_prog_event(ch);
        break;
    case ME_DRUMPART:
        if (midi_drumpart_change(ch, a)) {
            midi_program_change(ch, c->program);
            if (report) {
                ctl_mode_event(CTLE_DRUMPART, 1, ch, a);
                ctl_prog_event(ch);
            }
        }
        break;
    case ME_KEYSHIFT: {
        int shift = a - 64;
        if (shift != c->key_shift) {
            if (!seeking)
                all_sounds_off(ch);
            set_view_field(c->key_shift, shift);
        }
        break;
    }
    case ME_PATCH_OFFS:
        // Sample offsets of special patches belong to module songs, not played here.
        break;
    case ME_TEMPO:
        current_play_tempo = a * 65536 + b * 256 + ch;
        if (report)
            ctl_mode_event(CTLE_TEMPO, 1, current_play_tempo, 0);
        break;
    case ME_CHORUS_TEXT:
    case ME_LYRIC:
    case ME_MARKER:
    case ME_INSERT_TEXT:
    case ME_TEXT:
    case ME_KARAOKE_LYRIC:
        if (report)
            ctl_mode_event(CTLE_LYRIC, 1, a | (b << 8), 0);
        break;
    case ME_GSLCD:
        if (report)
            ctl_mode_event(CTLE_GSLCD, 1, a | (b << 8), 0);
        break;
    case ME_MASTER_VOLUME:
        master_volume_ratio = a + 256 * b;
        adjust_amplification();
        if (!seeking) {
            for (int i = 0; i < upper_voices; i++) {
                if (voice[i].status & (VOICE_ON | VOICE_SUSTAINED)) {
                    recompute_amp(i);
                    apply_envelope_to_amp(i);
                }
            }
        }
        break;
    case ME_RESET:
        change_system_mode(a);
        reset_midi(!seeking);
        break;
    case ME_NOTE_STEP:
        if (report)
            ctl_mode_event(CTLE_METRONOME, 1, a + 256 * (b & 0x0F), b >> 4);
        break;
    case ME_KEYSIG:
        if (opt_init_keysig != 8)
            break;
        current_keysig = (int8)(a + 16 * b);
        if (report)
            ctl_mode_event(CTLE_KEYSIG, 1, current_keysig, 0);
        if (opt_force_keysig != 8) {
            note_key_offset = transpose_for_keysig(current_keysig, opt_force_keysig, note_key_offset);
            if (!seeking) {
                kill_all_voices();
                ctl_mode_event(CTLE_KEY_OFFSET, 1, note_key_offset, 0);
            }
        }
        current_freq_table = tonic_freq_table(current_keysig, note_key_offset);
        break;
    case ME_TEMPER_KEYSIG:
        current_temper_keysig = (int8)(((a + 8) % 32) - 8);
        temper_adj = ((a + 8) & 0x20) ? 1 : 0;
        if (report)
            ctl_mode_event(CTLE_TEMPER_KEYSIG, 1, a, 0);
        current_freq_table = tonic_freq_table(current_temper_keysig, note_key_offset);
        if (b && !seeking)
            retune_voices();
        break;
    case ME_TEMPER_TYPE:
        set_temper_type(ch, a, report);
        if (b && !seeking)
            retune_voices();
        break;
    case ME_MASTER_TEMPER_TYPE:
        for (int i = 0; i < MAX_CHANNELS; i++)
            set_temper_type(i, a, report);
        if (b && !seeking)
            retune_voices();
        break;
    case ME_USER_TEMPER_ENTRY:
        set_user_temper_entry(ch, a, b);
        break;
    case ME_SYSEX_LSB:
    case ME_SYSEX_MSB:
    case ME_SYSEX_GS_LSB:
    case ME_SYSEX_GS_MSB:
    case ME_SYSEX_XG_LSB:
    case ME_SYSEX_XG_MSB:
        process_sysex_event(ev->type, ch, a, b);
        break;
    case ME_EOT:
        if (!seeking)
            return midi_play_end();
        break;
    default:
        break;
    }
    if (c != nullptr)
        sf_channel_event(ev, seeking);
    return RC_NONE;
}

// Calls f for every channel a layered event reaches, with the event's channel byte set to
// that channel; other events go to their own channel once. The channel byte is restored.
template <class F>
static int fan_out(MidiEvent* ev, F f)
{
    if (ev->type >= ME_NOTEOFF && ev->type <= ME_SINGLE_NOTE_TUNING && ev->b != 0xFF &&
        ev->channel < MAX_CHANNELS) {
        const uint8 orig = ev->channel;
        for (int k = 0; k < MAX_CHANNELS; k += 16) {
            int cn = (orig + k) % MAX_CHANNELS;
            int group = cn & ~0xF;
            for (int l = group; l < group + 16; l++) {
                if ((channel[l].channel_layer & (1u << cn)) && channel[l].port_select == (orig >> 4)) {
                    ev->channel = (uint8)l;
                    f(ev);
                }
            }
        }
        ev->channel = orig;
        return RC_NONE;
    }
    return f(ev);
}

int dispatch_layered(MidiEvent* ev, bool seeking)
{
    return fan_out(ev, [seeking](MidiEvent* e) { return dispatch_event(e, seeking); });
}

int play_event(MidiEvent* ev)
{
    if (play_mode->flag & PF_MIDI_EVENT) {
        // The output takes the events themselves; the song ends with its end of track.
        if (play_mode->output_data(reinterpret_cast<char*>(ev), (int32)sizeof(MidiEvent)) == -1)
            return RC_ERROR;
        return ev->type == ME_EOT ? RC_TUNE_END : RC_NONE;
    }
    if (!(play_mode->flag & PF_PCM_STREAM))
        return ev->type == ME_EOT ? RC_TUNE_END : RC_NONE;

    current_event = ev;
    int32 t = scaled_event_time(ev);
    if (ctl->verbosity >= VERB_DEBUG_SILLY)
        cmsg(CMSG_INFO, VERB_DEBUG_SILLY, "Midi Event %d: %s %d %d %d", t, event_type_name(ev->type),
             ev->channel, ev->a, ev->b);
    if (t > current_sample) {
        int rc = compute_data(t - current_sample);
        ctl_mode_event(CTLE_REFRESH, 0, 0, 0);
        if (rc == RC_JUMP) {
            ctl_timestamp();
            return RC_NONE;
        }
        if (rc != RC_NONE)
            return rc;
    }
    // The end of track comes back with RC_JUMP after a seek made while the song's end rang
    // out: the song plays on from the event the seek left.
    int rc = dispatch_layered(ev, false);
    if (rc == RC_JUMP) {
        ctl_timestamp();
        return RC_NONE;
    }
    return rc;
}
