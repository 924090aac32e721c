// XG parameter changes (43 1n 4C hh mm ll data...) and bulk dumps
// (43 0n 4C count-high count-low hh mm ll data... checksum) into parameter events.
#include "frontend/controls.h"
#include "readmidi/eventlist.h"
#include "readmidi/sysex.h"
#include "readmidi/sysex_out.h"

// The reverb type MSB is kept until its LSB arrives, possibly in a later message.
static int xg_reverb_type_msb = 0x01;

// Receive switches 30 .. 40 in address order.
static const uint8 xg_rx_switch_id[17] = {
    SYSEX_RX_PITCH_BEND, SYSEX_RX_CHANNEL_PRESSURE, SYSEX_RX_PROGRAM_CHANGE,
    SYSEX_RX_CONTROL_CHANGE, SYSEX_RX_POLY_PRESSURE, SYSEX_RX_NOTE_MESSAGE,
    SYSEX_RX_RPN, SYSEX_RX_NRPN, SYSEX_RX_MODULATION, SYSEX_RX_VOLUME,
    SYSEX_RX_PANPOT, SYSEX_RX_EXPRESSION, SYSEX_RX_HOLD1, SYSEX_RX_PORTAMENTO,
    SYSEX_RX_SOSTENUTO, SYSEX_RX_SOFT, SYSEX_RX_BANK_SELECT};

// Tone modify 15 .. 1C as NRPN numbers (MSB 1).
static const uint8 xg_tone_modify_nrpn[8] = {0x08, 0x09, 0x0A, 0x20, 0x21, 0x63, 0x64, 0x66};

// Controller settings: pitch, filter, amplitude, LFO pitch, LFO filter, LFO amplitude.
static const uint8 xg_ctrl_offset[6] = {CTRL_DEPTH_PITCH,       CTRL_DEPTH_FILTER,
                                        CTRL_DEPTH_AMPLITUDE,   CTRL_DEPTH_LFO1_PITCH,
                                        CTRL_DEPTH_LFO1_FILTER, CTRL_DEPTH_LFO1_AMPLITUDE};

static void report_unsupported(int bulk, int h, int m, int l, int v)
{
    if (bulk)
        cmsg(CMSG_INFO, VERB_NOISY, "Unsupported XG Bulk Dump SysEx. (ADDR:%02X %02X %02X VAL:%02X)",
             h, m, l, v);
    else
        cmsg(CMSG_INFO, VERB_NOISY, "Unsupported XG SysEx. (ADDR:%02X %02X %02X VAL:%02X)", h, m,
             l, v);
}

static void not_supported(const char* what, int p, int v)
{
    cmsg(CMSG_INFO, VERB_NOISY, "%s is not supported. (CH:%d VAL:%d)", what, p, v);
}

// Multi part parameter 08 p addr.
static void xg_multi_part(SysexOut* out, int p, int addr, int v, int bulk)
{
    switch (addr) {
    case 0x01: sysex_add(out, ME_TONE_BANK_MSB, p, v, 255); return;
    case 0x02: sysex_add(out, ME_TONE_BANK_LSB, p, v, 255); return;
    case 0x03: sysex_add(out, ME_PROGRAM, p, v, 255); return;
    case 0x04: sysex_add(out, ME_SYSEX_XG_LSB, p, v, XG_RECEIVE_CHANNEL); return;
    case 0x05: sysex_add(out, v ? ME_POLY : ME_MONO, p, 0, 255); return;
    case 0x06: sysex_add(out, ME_SYSEX_XG_LSB, p, v, XG_SAME_NOTE_KEY_ON_ASSIGN); return;
    case 0x07:
        if (v >= 1 && v <= 6)
            drum_setup_xg[v - 1] = p;
        sysex_add(out, ME_DRUMPART, p, v, 255);
        return;
    case 0x08: sysex_add(out, ME_KEYSHIFT, p, v, 255); return;
    case 0x09: not_supported("Detune 1st bit", p, v); return;
    case 0x0A: not_supported("Detune 2nd bit", p, v); return;
    case 0x0B: sysex_add(out, ME_MAINVOLUME, p, v, 255); return;
    case 0x0C: sysex_add(out, ME_SYSEX_GS_LSB, p, v, GS_VELOCITY_SENSE_DEPTH); return;
    case 0x0D: sysex_add(out, ME_SYSEX_GS_LSB, p, v, GS_VELOCITY_SENSE_OFFSET); return;
    case 0x0E:
        if (v == 0)
            sysex_add(out, ME_RANDOM_PAN, p, 0, 255);
        else
            sysex_add(out, ME_PAN, p, v, 255);
        return;
    case 0x0F: sysex_add(out, ME_SYSEX_LSB, p, v, SYSEX_NOTE_LIMIT_LOW); return;
    case 0x10: sysex_add(out, ME_SYSEX_LSB, p, v, SYSEX_NOTE_LIMIT_HIGH); return;
    case 0x11: sysex_add(out, ME_SYSEX_XG_LSB, p, v, XG_DRY_LEVEL); return;
    case 0x12: sysex_add(out, ME_CHORUS_EFFECT, p, v, 255); return;
    case 0x13: sysex_add(out, ME_REVERB_EFFECT, p, v, 255); return;
    case 0x14: sysex_add(out, ME_CELESTE_EFFECT, p, v, 255); return;
    case 0x23: sysex_add_rpn(out, p, 0, 0, v, -1); return;  // pitch-bend range
    case 0x59: not_supported("AC1 Controller Number", p, v); return;
    case 0x60: not_supported("AC2 Controller Number", p, v); return;
    case 0x67: sysex_add(out, ME_PORTAMENTO, p, v, 255); return;
    case 0x69: not_supported("Pitch EG Initial Level", p, v); return;
    case 0x6A: not_supported("Pitch EG Attack Time", p, v); return;
    case 0x6B: not_supported("Pitch EG Release Level", p, v); return;
    case 0x6C: not_supported("Pitch EG Release Time", p, v); return;
    case 0x6D: sysex_add(out, ME_SYSEX_LSB, p, v, SYSEX_VEL_LIMIT_LOW); return;
    case 0x6E: sysex_add(out, ME_SYSEX_LSB, p, v, SYSEX_VEL_LIMIT_HIGH); return;
    case 0x70: not_supported("Bend Pitch Low Control", p, v); return;
    case 0x71: not_supported("Filter EG Depth", p, v); return;
    case 0x72: sysex_add_nrpn(out, p, 0x01, 0x30, v); return;  // EQ bass gain
    case 0x73: sysex_add_nrpn(out, p, 0x01, 0x31, v); return;  // EQ treble gain
    case 0x76: sysex_add_nrpn(out, p, 0x01, 0x34, v); return;  // EQ bass frequency
    case 0x77: sysex_add_nrpn(out, p, 0x01, 0x35, v); return;  // EQ treble frequency
    default: break;
    }
    if (addr >= 0x15 && addr <= 0x1C) {
        sysex_add_nrpn(out, p, 0x01, xg_tone_modify_nrpn[addr - 0x15], v);
        return;
    }
    // Controller settings: one group of six per controller (pitch-bend pitch is the range).
    int base = -1, k = 0;
    if (addr >= 0x1D && addr <= 0x22) {
        base = SYSEX_MOD_BASE;
        k = addr - 0x1D;
    } else if (addr >= 0x24 && addr <= 0x28) {
        base = SYSEX_BEND_BASE;
        k = addr - 0x23;
    } else if (addr >= 0x4D && addr <= 0x52) {
        base = SYSEX_CAF_BASE;
        k = addr - 0x4D;
    } else if (addr >= 0x53 && addr <= 0x58) {
        base = SYSEX_PAF_BASE;
        k = addr - 0x53;
    } else if (addr >= 0x5A && addr <= 0x5F) {
        base = SYSEX_CC1_BASE;
        k = addr - 0x5A;
    } else if (addr >= 0x61 && addr <= 0x66) {
        base = SYSEX_CC2_BASE;
        k = addr - 0x61;
    }
    if (base >= 0) {
        sysex_add(out, ME_SYSEX_LSB, p, v, base + xg_ctrl_offset[k]);
        return;
    }
    if (addr >= 0x30 && addr <= 0x40) {
        sysex_add(out, ME_SYSEX_LSB, p, v, xg_rx_switch_id[addr - 0x30]);
        return;
    }
    if (addr >= 0x41 && addr <= 0x4C) {  // C .. B
        sysex_add_scale_tuning(out, p, addr - 0x41, v);
        return;
    }
    report_unsupported(bulk, 0x08, p, addr, v);
}

// Drum setup parameter 3n note addr for the part using drum setup n.
static void xg_drum_setup(SysexOut* out, int setup, int note, int addr, int v, int bulk)
{
    if (setup >= 6) {
        report_unsupported(bulk, 0x30 + setup, note, addr, v);
        return;
    }
    int p = drum_setup_xg[setup];
    note &= 0x7F;
    const char* unsupported = nullptr;
    switch (addr) {
    case 0x00: sysex_add_nrpn(out, p, 0x18, note, v); return;  // pitch coarse
    case 0x01: sysex_add_nrpn(out, p, 0x19, note, v); return;  // pitch fine
    case 0x02: sysex_add_nrpn(out, p, 0x1A, note, v); return;  // level
    case 0x03: unsupported = "Alternate Group"; break;
    case 0x04: sysex_add_nrpn(out, p, 0x1C, note, v); return;  // panpot
    case 0x05: sysex_add_nrpn(out, p, 0x1D, note, v); return;  // reverb send
    case 0x06: sysex_add_nrpn(out, p, 0x1E, note, v); return;  // chorus send
    case 0x07: sysex_add_nrpn(out, p, 0x1F, note, v); return;  // variation send
    case 0x08: unsupported = "Key Assign"; break;
    case 0x09:
        sysex_add(out, ME_SYSEX_MSB, p, note, SYSEX_DRUM_RX_NOTE_OFF);
        sysex_add(out, ME_SYSEX_LSB, p, v, SYSEX_DRUM_RX_NOTE_OFF);
        return;
    case 0x0A:
        sysex_add(out, ME_SYSEX_MSB, p, note, SYSEX_DRUM_RX_NOTE_ON);
        sysex_add(out, ME_SYSEX_LSB, p, v, SYSEX_DRUM_RX_NOTE_ON);
        return;
    case 0x0B: sysex_add_nrpn(out, p, 0x14, note, v); return;  // filter cutoff
    case 0x0C: sysex_add_nrpn(out, p, 0x15, note, v); return;  // filter resonance
    case 0x0D: sysex_add_nrpn(out, p, 0x16, note, v); return;  // EG attack
    case 0x0E:
        sysex_add(out, ME_SYSEX_XG_MSB, p, note, XG_DRUM_EG_DECAY1);
        sysex_add(out, ME_SYSEX_XG_LSB, p, v, XG_DRUM_EG_DECAY1);
        return;
    case 0x0F:
        sysex_add(out, ME_SYSEX_XG_MSB, p, note, XG_DRUM_EG_DECAY2);
        sysex_add(out, ME_SYSEX_XG_LSB, p, v, XG_DRUM_EG_DECAY2);
        return;
    case 0x20: sysex_add_nrpn(out, p, 0x30, note, v); return;  // EQ bass gain
    case 0x21: sysex_add_nrpn(out, p, 0x31, note, v); return;  // EQ treble gain
    case 0x24: sysex_add_nrpn(out, p, 0x34, note, v); return;  // EQ bass frequency
    case 0x25: sysex_add_nrpn(out, p, 0x35, note, v); return;  // EQ treble frequency
    case 0x50: unsupported = "High Pass Filter Cutoff Frequency"; break;
    case 0x60: unsupported = "Velocity Pitch Sense"; break;
    case 0x61: unsupported = "Velocity LPF Cutoff Sense"; break;
    default: report_unsupported(bulk, 0x30 + setup, note, addr, v); return;
    }
    cmsg(CMSG_INFO, VERB_NOISY, "%s is not supported. (CH:%d NOTE:%d VAL:%d)", unsupported, p,
         note, v);
}

// Effect 1 block 02 01 addr: reverb, chorus and variation.
static void xg_effect1(SysexOut* out, int block, int addr, int v)
{
    if (addr == 0x00) {
        xg_reverb_type_msb = v;
        return;
    }
    if (addr == 0x01) {
        int type = set_xg_reverb_type(xg_reverb_type_msb, v);
        if (type >= 0)
            sysex_add(out, ME_SYSEX_GS_LSB, 1, type, GS_REVERB_MACRO);
        return;
    }
    if (addr == 0x0C) {
        sysex_add(out, ME_SYSEX_XG_LSB, 0, v, XG_REVERB_RETURN);
        return;
    }
    sysex_add(out, ME_SYSEX_XG_MSB, 0, block, XG_SLOT_EFFECT);
    sysex_add(out, ME_SYSEX_XG_LSB, 0, v, addr);
}

// One data byte written to address h m l.
static void xg_parameter(SysexOut* out, int h, int m, int l, int v, int bulk)
{
    if (h == 0x00 && m == 0x00 && l == 0x7E)
        return;  // XG system on: parse_sysex_event
    if (h == 0x00 && m == 0x00 && l <= 0x03)
        sysex_add_master_tune(out, l, v);
    else if (h == 0x00 && m == 0x00 && l == 0x04)
        sysex_add_master_volume(out, v);
    else if (h == 0x00 && m == 0x00 && l == 0x06)
        sysex_add(out, ME_SYSEX_LSB, 0, v, SYSEX_MASTER_KEY_SHIFT);  // transpose
    else if (h == 0x02 && m == 0x01)
        xg_effect1(out, m, l, v);
    else if (h == 0x02 && m == 0x40 && l <= 0x14)
        sysex_add(out, ME_SYSEX_XG_LSB, 0, v, XG_MULTI_EQ_BASE + l);
    else if (h == 0x03) {
        sysex_add(out, ME_SYSEX_XG_MSB, 0, m, XG_SLOT_INSERTION);
        sysex_add(out, ME_SYSEX_XG_LSB, 0, v, l);
    } else if (h == 0x08)
        xg_multi_part(out, m + 16 * midi_port_number, l, v, bulk);
    else if ((h & 0xF0) == 0x30)
        xg_drum_setup(out, h & 0x0F, m, l, v, bulk);
    else
        report_unsupported(bulk, h, m, l, v);
}

int parse_xg_multi(const uint8* val, int32 len, SysexOut* out)
{
    if (len < 4 || val[2] != 0x4C)
        return 0;
    if ((val[1] & 0xF0) == 0x10) {
        // Parameter change: address, then data up to the closing F7.
        if (len < 8)
            return 1;
        int h = val[3], m = val[4], l = val[5];
        int end = (val[len - 1] == 0xF7) ? len - 1 : len;
        for (int i = 6; i < end && l + (i - 6) <= 0x7F; i++)
            xg_parameter(out, h, m, l + (i - 6), val[i], 0);
        return 1;
    }
    if ((val[1] & 0xF0) == 0x00) {
        // Bulk dump: byte count, address, data, checksum, F7.
        if (len < 11)
            return 1;
        int count = (val[3] << 7) | val[4];
        int h = val[5], m = val[6], l = val[7];
        int avail = len - 10;  // the checksum and F7 close the message
        if (count > avail)
            count = avail;
        for (int i = 0; i < count && l + i <= 0x7F; i++)
            xg_parameter(out, h, m, l + i, val[8 + i], 1);
        return 1;
    }
    return 0;
}
