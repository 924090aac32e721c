// System-exclusive parameters at playback: the private events that the decoders make from
// GS, XG and GM2 messages change the channel records, the per-note drum settings and the
// effect parameter stores.
#include <cmath>

#include "effects/effect.h"
#include "frontend/controls.h"
#include "play/channels.h"
#include "play/playmidi.h"
#include "play/voice.h"
#include "readmidi/sysex.h"
#include "render/voice_params.h"

// Song data is seven-bit; a damaged message may carry any byte.
static int clip7(int v)
{
    return v < 0 ? 0 : v > 127 ? 127 : v;
}

// Takes and clears the pending slot of a family; -1 when it is empty.
static int take_slot(Channel& c, int family, int* val)
{
    SysexSlot& s = c.sysex_slot[family];
    int id = s.id;
    *val = s.val;
    s.id = -1;
    s.val = 0;
    return id;
}

// ---- master key shift and tune -----------------------------------------------------------

static uint8 master_tune_nibble[4] = {0x00, 0x04, 0x00, 0x00};

void reset_master_settings(void)
{
    master_key_shift = 0;
    master_tuning = 0;
    master_tune_nibble[0] = 0x00;
    master_tune_nibble[1] = 0x04;
    master_tune_nibble[2] = master_tune_nibble[3] = 0x00;
}

// Key shift v (semitones + 0x40, -24..24) of every melodic part; the notes sounding on them
// stop, as a part's own key shift stops its notes.
static void set_master_key_shift(int v)
{
    int shift = v < 0x28 ? -24 : v > 0x58 ? 24 : v - 0x40;
    cmsg(CMSG_INFO, VERB_NOISY, "Master Key Shift (%d)", shift);
    if (shift == master_key_shift)
        return;
    master_key_shift = shift;
    if (playmidi_seek_flag)
        return;
    for (int ch = 0; ch < MAX_CHANNELS; ch++)
        if (!ISDRUMCHANNEL(ch))
            all_sounds_off(ch);
}

// Nibble k of the master tune: the four make a number whose centre 0x400 is the written
// pitch, in tenths of a cent.
static void set_master_tune(int k, int v)
{
    if (k < 0 || k > 3)
        return;
    master_tune_nibble[k] = (uint8)(v & 0x0F);
    int value = master_tune_nibble[0] << 12 | master_tune_nibble[1] << 8 |
                master_tune_nibble[2] << 4 | master_tune_nibble[3];
    double cents = (value - 0x400) / 10.0;
    cmsg(CMSG_INFO, VERB_NOISY, "Master Tune (%.1f cents)", cents);
    master_tuning = (int32)std::lround(cents * 8192.0 / 100.0);
    for (int ch = 0; ch < MAX_CHANNELS; ch++)
        channel[ch].pitchfactor = 0;
    if (playmidi_seek_flag)
        return;
    for (int i = 0; i < upper_voices; i++)
        if (voice[i].status != VOICE_FREE)
            recompute_freq(i);
}

// ---- controller depth settings ----------------------------------------------------------

static void set_controller_depth(int ch, midi_controller* p, const char* src, int k, int v)
{
    switch (k) {
    case CTRL_DEPTH_PITCH:
        p->pitch = (int8)(v - 64);
        cmsg(CMSG_INFO, VERB_NOISY, "%s Pitch Control (CH:%d %d semitones)", src, ch, p->pitch);
        break;
    case CTRL_DEPTH_FILTER:
        p->cutoff = (int16)((v - 64) * 150);
        cmsg(CMSG_INFO, VERB_NOISY, "%s Filter Cutoff Control (CH:%d %d cents)", src, ch, p->cutoff);
        break;
    case CTRL_DEPTH_AMPLITUDE:
        p->amp = (float)((v - 64) / 64.0);
        cmsg(CMSG_INFO, VERB_NOISY, "%s Amplitude Control (CH:%d %.2f)", src, ch, p->amp);
        break;
    case CTRL_DEPTH_LFO1_RATE:
    case CTRL_DEPTH_LFO2_RATE: {
        float rate = (float)((v - 64) / 6.4);
        int lfo = k == CTRL_DEPTH_LFO1_RATE ? 1 : 2;
        (lfo == 1 ? p->lfo1_rate : p->lfo2_rate) = rate;
        cmsg(CMSG_INFO, VERB_NOISY, "%s LFO%d Rate Control (CH:%d %.1f Hz)", src, lfo, ch, rate);
        break;
    }
    case CTRL_DEPTH_LFO1_PITCH:
    case CTRL_DEPTH_LFO2_PITCH: {
        int16 cents = (int16)(v * 600 / 127);
        int lfo = k == CTRL_DEPTH_LFO1_PITCH ? 1 : 2;
        (lfo == 1 ? p->lfo1_pitch_depth : p->lfo2_pitch_depth) = cents;
        cmsg(CMSG_INFO, VERB_NOISY, "%s LFO%d Pitch Depth (CH:%d %d cents)", src, lfo, ch, cents);
        break;
    }
    case CTRL_DEPTH_LFO1_FILTER:
    case CTRL_DEPTH_LFO2_FILTER: {
        int16 cents = (int16)(v * 2400 / 127);
        int lfo = k == CTRL_DEPTH_LFO1_FILTER ? 1 : 2;
        (lfo == 1 ? p->lfo1_tvf_depth : p->lfo2_tvf_depth) = cents;
        cmsg(CMSG_INFO, VERB_NOISY, "%s LFO%d Filter Depth (CH:%d %d cents)", src, lfo, ch, cents);
        break;
    }
    default: {  // amplitude depths
        float depth = (float)(v / 127.0);
        int lfo = k == CTRL_DEPTH_LFO1_AMPLITUDE ? 1 : 2;
        (lfo == 1 ? p->lfo1_tva_depth : p->lfo2_tva_depth) = depth;
        cmsg(CMSG_INFO, VERB_NOISY, "%s LFO%d Amplitude Depth (CH:%d %.2f)", src, lfo, ch, depth);
        break;
    }
    }
}

// ---- the "other" family -------------------------------------------------------------------

// Receive switches 0x48 .. 0x59, in identifier order.
static const struct {
    uint32 flag;
    const char* text;
} rx_switch[18] = {
    {RX_PITCH_BEND, "Rx. Pitch Bend (CH:%d VAL:%d)"},
    {RX_CH_PRESSURE, "Rx. Channel Pressure (CH:%d VAL:%d)"},
    {RX_PROGRAM_CHANGE, "Rx. Program Change (CH:%d VAL:%d)"},
    {RX_CONTROL_CHANGE, "Rx. Control Change (CH:%d VAL:%d)"},
    {RX_POLY_PRESSURE, "Rx. Poly Pressure (CH:%d VAL:%d)"},
    {RX_NOTE_MESSAGE, "Rx. Note Message (CH:%d VAL:%d)"},
    {RX_RPN, "Rx. RPN (CH:%d VAL:%d)"},
    {RX_NRPN, "Rx. NRPN (CH:%d VAL:%d)"},
    {RX_MODULATION, "Rx. Modulation (CH:%d VAL:%d)"},
    {RX_VOLUME, "Rx. Volume (CH:%d VAL:%d)"},
    {RX_PANPOT, "Rx. Panpot (CH:%d VAL:%d)"},
    {RX_EXPRESSION, "Rx. Expression (CH:%d VAL:%d)"},
    {RX_HOLD1, "Rx. Hold1 (CH:%d VAL:%d)"},
    {RX_PORTAMENTO, "Rx. Portamento (CH:%d VAL:%d)"},
    {RX_SOSTENUTO, "Rx. Sostenuto (CH:%d VAL:%d)"},
    {RX_SOFT, "Rx. Soft (CH:%d VAL:%d)"},
    {RX_BANK_SELECT, "Rx. Bank Select (CH:%d VAL:%d)"},
    {RX_BANK_SELECT_LSB, "Rx. Bank Select LSB (CH:%d VAL:%d)"},
};

// The drum settings of the note a pending slot names, created when missing; none without
// a slot of this identifier.
static DrumParts* slot_drum(int ch, int slot_id, int slot_val, int id)
{
    if (slot_id != id)
        return nullptr;
    int note = slot_val & 0x7F;
    play_midi_setup_drums(ch, note);
    return channel[ch].drums[note];
}

static void sysex_other(int ch, int val, int id)
{
    Channel& c = channel[ch];
    int slot_val;
    int slot_id = take_slot(c, SYSEX_SLOT_OTHER, &slot_val);
    const int v = clip7(val);

    if (id >= SYSEX_CAF_BASE && id < SYSEX_NOTE_LIMIT_LOW) {
        static const char* const src[6] = {"CAf", "PAf", "MOD", "BEND", "CC1", "CC2"};
        midi_controller* rec[6] = {&c.caf, &c.paf, &c.mod, &c.bend, &c.cc1, &c.cc2};
        int g = id / 11;
        set_controller_depth(ch, rec[g], src[g], id % 11, v);
        c.pitchfactor = 0;
        return;
    }
    if (id >= SYSEX_RX_PITCH_BEND && id <= SYSEX_RX_BANK_SELECT_LSB) {
        const int k = id - SYSEX_RX_PITCH_BEND;
        set_rx(ch, (int32)rx_switch[k].flag, v != 0);
        cmsg(CMSG_INFO, VERB_NOISY, rx_switch[k].text, ch, v);
        return;
    }
    switch (id) {
    case SYSEX_MASTER_KEY_SHIFT: set_master_key_shift(v); break;
    case SYSEX_MASTER_TUNE:
        if (slot_id == SYSEX_MASTER_TUNE)
            set_master_tune(slot_val, v);
        break;
    case SYSEX_NOTE_LIMIT_LOW:
        set_view_field(c.note_limit_low, v);
        cmsg(CMSG_INFO, VERB_NOISY, "Note Limit Low (CH:%d VAL:%d)", ch, v);
        break;
    case SYSEX_NOTE_LIMIT_HIGH:
        set_view_field(c.note_limit_high, v);
        cmsg(CMSG_INFO, VERB_NOISY, "Note Limit High (CH:%d VAL:%d)", ch, v);
        break;
    case SYSEX_VEL_LIMIT_LOW:
        set_view_field(c.vel_limit_low, v);
        cmsg(CMSG_INFO, VERB_NOISY, "Velocity Limit Low (CH:%d VAL:%d)", ch, v);
        break;
    case SYSEX_VEL_LIMIT_HIGH:
        set_view_field(c.vel_limit_high, v);
        cmsg(CMSG_INFO, VERB_NOISY, "Velocity Limit High (CH:%d VAL:%d)", ch, v);
        break;
    case SYSEX_DRUM_RX_NOTE_OFF:
    case SYSEX_DRUM_RX_NOTE_ON: {
        DrumParts* d = slot_drum(ch, slot_id, slot_val, id);
        if (d == nullptr)
            break;
        bool on = id == SYSEX_DRUM_RX_NOTE_ON;
        set_rx_drum(d, on ? RX_NOTE_ON : RX_NOTE_OFF, v != 0);
        cmsg(CMSG_INFO, VERB_NOISY,
             on ? "Drum Instrument Rx. Note On (CH:%d NOTE:%d VAL:%d)"
                : "Drum Instrument Rx. Note Off (CH:%d NOTE:%d VAL:%d)",
             ch, slot_val & 0x7F, v);
        break;
    }
    default:
        set_effect_param_gm2(id, v);
        break;
    }
}

// ---- receiving channel and port ------------------------------------------------------------

// A part that changes what it listens to starts afresh: controllers reset, notes off.
static void restart_part(int ch)
{
    reset_controllers(ch);
    redraw_controllers(ch);
    all_notes_off(ch);
}

// The part plays what arrives on channel rx (0..31), or nothing for any other value.
static void set_receive_channel(int ch, int rx)
{
    restart_part(ch);
    if (rx >= 0 && rx < MAX_CHANNELS) {
        channel[ch].channel_layer = 1u << rx;
        cmsg(CMSG_INFO, VERB_NOISY, "Channel Layer (CH:%d -> CH:%d)", ch, rx);
    } else {
        channel[ch].channel_layer = 0;
    }
}

// ---- the GS family --------------------------------------------------------------------------

static void sysex_gs(int ch, int val, int id)
{
    Channel& c = channel[ch];
    int slot_val;
    int slot_id = take_slot(c, SYSEX_SLOT_GS, &slot_val);
    const int v = clip7(val);

    switch (id) {
    case GS_EQ_SWITCH: {
        int8 on = v != 0;
        if (c.eq_gs != on)
            cmsg(CMSG_INFO, VERB_NOISY, on ? "EQ ON (CH:%d)" : "EQ OFF (CH:%d)", ch);
        c.eq_gs = on;
        break;
    }
    case GS_VELOCITY_SENSE_DEPTH:
        c.velocity_sense_depth = (int8)v;
        cmsg(CMSG_INFO, VERB_NOISY, "Velocity Sense Depth (CH:%d VAL:%d)", ch, v);
        break;
    case GS_VELOCITY_SENSE_OFFSET:
        c.velocity_sense_offset = (int8)v;
        cmsg(CMSG_INFO, VERB_NOISY, "Velocity Sense Offset (CH:%d VAL:%d)", ch, v);
        break;
    case GS_INSERTION_SWITCH: {
        int8 on = v != 0;
        if (c.insertion_effect != on)
            cmsg(CMSG_INFO, VERB_NOISY, on ? "EFX ON (CH:%d)" : "EFX OFF (CH:%d)", ch);
        c.insertion_effect = on;
        break;
    }
    case GS_ASSIGN_MODE:
        c.assign_mode = (int8)(v > 2 ? 2 : v);
        cmsg(CMSG_INFO, VERB_NOISY,
             c.assign_mode == 0   ? "Assign Mode: Single (CH:%d)"
             : c.assign_mode == 1 ? "Assign Mode: Limited-Multi (CH:%d)"
                                  : "Assign Mode: Full-Multi (CH:%d)",
             ch);
        break;
    case GS_TONE_MAP0_NUMBER:
        c.tone_map0_number = (int8)v;
        cmsg(CMSG_INFO, VERB_NOISY, "Tone Map-0 Number (CH:%d VAL:%d)", ch, v);
        break;
    case GS_PITCH_OFFSET_FINE: {
        // Two nibbles, 0x80 for no offset, tenths of a hertz.
        int hi = slot_id == id ? slot_val & 0x0F : 0x08;
        c.pitch_offset_fine = (((hi << 4) | (v & 0x0F)) - 0x80) / 10.0;
        cmsg(CMSG_INFO, VERB_NOISY, "Pitch Offset Fine (CH:%d %3fHz)", ch, c.pitch_offset_fine);
        adjust_pitch(ch);
        break;
    }
    case GS_RECEIVE_CHANNEL:
        // 0x80: the part receives on no channel.
        set_receive_channel(ch, val == 0x80 ? -1 : val);
        break;
    case GS_PORT_SELECT:
        restart_part(ch);
        c.port_select = v;
        break;
    case GS_DRUM_PLAY_NOTE: {
        DrumParts* d = slot_drum(ch, slot_id, slot_val, id);
        if (d == nullptr)
            break;
        d->play_note = (int8)v;
        cmsg(CMSG_INFO, VERB_NOISY, "Drum Instrument Play Note (CH:%d NOTE:%d VAL:%d)", ch,
             slot_val & 0x7F, v);
        break;
    }
    default:
        set_effect_param_gs(id, v);
        break;
    }
}

// ---- the XG family --------------------------------------------------------------------------

static void sysex_xg(int ch, int val, int id)
{
    Channel& c = channel[ch];
    int slot_val;
    int slot_id = take_slot(c, SYSEX_SLOT_XG, &slot_val);
    const int v = clip7(val);

    if (slot_id == XG_SLOT_EFFECT || slot_id == XG_SLOT_INSERTION) {
        set_effect_param_xg(slot_id, slot_val, id, v);
        return;
    }
    switch (id) {
    case XG_RECEIVE_CHANNEL:
        // 0..31 a channel of either port; 0x7F (or anything else) receives nothing.
        set_receive_channel(ch, v);
        break;
    case XG_SAME_NOTE_KEY_ON_ASSIGN:
        if (v == 0) {
            c.assign_mode = 0;
            cmsg(CMSG_INFO, VERB_NOISY, "Same Note Number Key On Assign: Single (CH:%d)", ch);
        } else if (v == 1) {
            c.assign_mode = 2;
            cmsg(CMSG_INFO, VERB_NOISY, "Same Note Number Key On Assign: Multi (CH:%d)", ch);
        } else {
            cmsg(CMSG_INFO, VERB_NOISY,
                 "Same Note Number Key On Assign: Inst is not supported. (CH:%d)", ch);
        }
        break;
    case XG_DRY_LEVEL:
        c.dry_level = (int8)v;
        cmsg(CMSG_INFO, VERB_NOISY, "Dry Level (CH:%d VAL:%d)", ch, v);
        break;
    case XG_DRUM_EG_DECAY1:
    case XG_DRUM_EG_DECAY2: {
        DrumParts* d = slot_drum(ch, slot_id, slot_val, id);
        if (d == nullptr)
            break;
        // Envelope-time values by the stage numbers of the envelope-time controls.
        bool first = id == XG_DRUM_EG_DECAY1;
        d->drum_envelope_rate[first ? 2 : 5] = v;
        cmsg(CMSG_INFO, VERB_NOISY,
             first ? "Drum Instrument EG Decay1 (CH:%d NOTE:%d VAL:%d)"
                   : "Drum Instrument EG Decay2 (CH:%d NOTE:%d VAL:%d)",
             ch, slot_val & 0x7F, v);
        break;
    }
    default:
        set_effect_param_xg(-1, 0, id, v);
        break;
    }
}

void process_sysex_event(int ev, int ch, int val, int b)
{
    if (ch < 0 || ch >= MAX_CHANNELS)
        return;
    Channel& c = channel[ch];
    switch (ev) {
    case ME_SYSEX_MSB: c.sysex_slot[SYSEX_SLOT_OTHER] = {(int16)b, (uint8)val}; break;
    case ME_SYSEX_GS_MSB: c.sysex_slot[SYSEX_SLOT_GS] = {(int16)b, (uint8)val}; break;
    case ME_SYSEX_XG_MSB: c.sysex_slot[SYSEX_SLOT_XG] = {(int16)b, (uint8)val}; break;
    case ME_SYSEX_LSB: sysex_other(ch, val, b); break;
    case ME_SYSEX_GS_LSB: sysex_gs(ch, val, b); break;
    case ME_SYSEX_XG_LSB: sysex_xg(ch, val, b); break;
    default: break;
    }
}
