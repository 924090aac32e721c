// GS data sets (41 dev 42 12 aa bb cc data... checksum) into parameter events.
#include "frontend/controls.h"
#include "readmidi/eventlist.h"
#include "readmidi/sysex.h"
#include "readmidi/sysex_out.h"

// Receive switches 40 1p 03 .. 40 1p 12, in address order.
static const uint8 gs_rx_switch_id[16] = {
    SYSEX_RX_PITCH_BEND, SYSEX_RX_CHANNEL_PRESSURE, SYSEX_RX_PROGRAM_CHANGE,
    SYSEX_RX_CONTROL_CHANGE, SYSEX_RX_POLY_PRESSURE, SYSEX_RX_NOTE_MESSAGE,
    SYSEX_RX_RPN, SYSEX_RX_NRPN, SYSEX_RX_MODULATION, SYSEX_RX_VOLUME,
    SYSEX_RX_PANPOT, SYSEX_RX_EXPRESSION, SYSEX_RX_HOLD1, SYSEX_RX_PORTAMENTO,
    SYSEX_RX_SOSTENUTO, SYSEX_RX_SOFT};

// Controller settings 40 2p xx: the high nibble of xx picks the controller.
static const uint8 gs_ctrl_group_base[6] = {SYSEX_MOD_BASE, SYSEX_BEND_BASE, SYSEX_CAF_BASE,
                                            SYSEX_PAF_BASE, SYSEX_CC1_BASE, SYSEX_CC2_BASE};

// Tone modify 40 1p 30 .. 37 as NRPN numbers (MSB 1).
static const uint8 gs_tone_modify_nrpn[8] = {0x08, 0x09, 0x20, 0x21, 0x63, 0x64, 0x66, 0x0A};

static void report_unsupported(int h, int m, int l, const uint8* d, int n)
{
    cmsg(CMSG_INFO, VERB_NOISY, "Unsupported GS SysEx. (ADDR:%02X %02X %02X VAL:%02X %02X)", h, m,
         l, n > 0 ? d[0] : 0, n > 1 ? d[1] : 0);
}

// One part parameter at 40 1p addr; d holds the data from this address on (n bytes).
// Returns the number of data bytes used.
static int gs_part_parameter(SysexOut* out, int p, int addr, const uint8* d, int n)
{
    int v = d[0];
    switch (addr) {
    case 0x00:  // tone number: bank select, then program
        sysex_add(out, ME_TONE_BANK_MSB, p, v, 255);
        if (n >= 2) {
            sysex_add(out, ME_PROGRAM, p, d[1], 255);
            return 2;
        }
        return 1;
    case 0x01:
        sysex_add(out, ME_PROGRAM, p, v, 255);
        return 1;
    case 0x02:  // receive channel; 0x10 is off
        sysex_add(out, ME_SYSEX_GS_LSB, p, (v >= 0x10) ? 0x80 : ((p & ~15) + v), GS_RECEIVE_CHANNEL);
        return 1;
    case 0x13:
        sysex_add(out, v ? ME_POLY : ME_MONO, p, 0, 255);
        return 1;
    case 0x14:
        sysex_add(out, ME_SYSEX_GS_LSB, p, v, GS_ASSIGN_MODE);
        return 1;
    case 0x15:  // rhythm part: the event comes from parse_sysex_event
        if (v == 1 || v == 2)
            rhythm_part[v - 1] = p;
        return 1;
    case 0x16:  // key shift: the event comes from parse_sysex_event
        return 1;
    case 0x17:  // pitch offset fine, two nibbles
        if (n >= 2) {
            sysex_add(out, ME_SYSEX_GS_MSB, p, v, GS_PITCH_OFFSET_FINE);
            sysex_add(out, ME_SYSEX_GS_LSB, p, d[1], GS_PITCH_OFFSET_FINE);
            return 2;
        }
        return 1;
    case 0x19:
        sysex_add(out, ME_MAINVOLUME, p, v, 255);
        return 1;
    case 0x1A:
        sysex_add(out, ME_SYSEX_GS_LSB, p, v, GS_VELOCITY_SENSE_DEPTH);
        return 1;
    case 0x1B:
        sysex_add(out, ME_SYSEX_GS_LSB, p, v, GS_VELOCITY_SENSE_OFFSET);
        return 1;
    case 0x1C:
        if (v == 0)
            sysex_add(out, ME_RANDOM_PAN, p, 0, 255);
        else
            sysex_add(out, ME_PAN, p, v, 255);
        return 1;
    case 0x1D:
        sysex_add(out, ME_SYSEX_LSB, p, v, SYSEX_NOTE_LIMIT_LOW);
        return 1;
    case 0x1E:
        sysex_add(out, ME_SYSEX_LSB, p, v, SYSEX_NOTE_LIMIT_HIGH);
        return 1;
    case 0x1F:
        cmsg(CMSG_INFO, VERB_NOISY, "CC1 Controller Number is not supported. (CH:%d VAL:%d)", p, v);
        return 1;
    case 0x20:
        cmsg(CMSG_INFO, VERB_NOISY, "CC2 Controller Number is not supported. (CH:%d VAL:%d)", p, v);
        return 1;
    case 0x21:
        sysex_add(out, ME_CHORUS_EFFECT, p, v, 255);
        return 1;
    case 0x22:
        sysex_add(out, ME_REVERB_EFFECT, p, v, 255);
        return 1;
    case 0x23:
        sysex_add(out, ME_SYSEX_LSB, p, v, SYSEX_RX_BANK_SELECT);
        return 1;
    case 0x24:
        sysex_add(out, ME_SYSEX_LSB, p, v, SYSEX_RX_BANK_SELECT_LSB);
        return 1;
    case 0x2A:  // fine tune: channel fine tuning, MSB and LSB
        sysex_add_rpn(out, p, 0, 1, v, (n >= 2) ? d[1] : -1);
        return (n >= 2) ? 2 : 1;
    case 0x2C:
        sysex_add(out, ME_CELESTE_EFFECT, p, v, 255);
        return 1;
    default:
        break;
    }
    if (addr >= 0x03 && addr <= 0x12) {
        sysex_add(out, ME_SYSEX_LSB, p, v, gs_rx_switch_id[addr - 0x03]);
        return 1;
    }
    if (addr >= 0x30 && addr <= 0x37) {
        sysex_add_nrpn(out, p, 0x01, gs_tone_modify_nrpn[addr - 0x30], v);
        return 1;
    }
    if (addr >= 0x40 && addr <= 0x4B) {
        sysex_add_scale_tuning(out, p, addr - 0x40, v);
        return 1;
    }
    report_unsupported(0x40, 0x10, addr, d, n);
    return 1;
}

// Patch common 40 01 xx: reverb, chorus and delay.
static void gs_patch_common(SysexOut* out, int addr, int v, const uint8* d, int n)
{
    if (addr >= 0x10 && addr <= 0x1F)
        return;  // voice reserve; its text use is followed by parse_sysex_event
    if (addr >= 0x30 && addr <= 0x37 && addr != 0x36) {
        sysex_add(out, ME_SYSEX_GS_LSB, 0, v, GS_REVERB_MACRO + addr - 0x30);
        return;
    }
    if (addr >= 0x38 && addr <= 0x40) {
        sysex_add(out, ME_SYSEX_GS_LSB, 0, v, GS_CHORUS_MACRO + addr - 0x38);
        return;
    }
    if (addr >= 0x50 && addr <= 0x5A) {
        sysex_add(out, ME_SYSEX_GS_LSB, 0, v, GS_DELAY_MACRO + addr - 0x50);
        return;
    }
    report_unsupported(0x40, 0x01, addr, d, n);
}

// Insertion effect 40 03 xx.
static void gs_insertion(SysexOut* out, int addr, int v, const uint8* d, int n)
{
    int id;
    if (addr == 0x00)
        id = GS_INSERTION_TYPE_MSB;
    else if (addr == 0x01)
        id = GS_INSERTION_TYPE_LSB;
    else if (addr >= 0x03 && addr <= 0x16)
        id = GS_INSERTION_PARAMETER1 + addr - 0x03;
    else if (addr >= 0x17 && addr <= 0x19)
        id = GS_INSERTION_SEND_REVERB + addr - 0x17;
    else if (addr >= 0x1B && addr <= 0x1F)
        id = GS_INSERTION_CONTROL_SOURCE1 + addr - 0x1B;
    else {
        report_unsupported(0x40, 0x03, addr, d, n);
        return;
    }
    sysex_add(out, ME_SYSEX_GS_LSB, 0, v, id);
}

// Drum setup 41 mp nn: parameter p of drum map m for note nn.
static void gs_drum_setup(SysexOut* out, int map, int param, int note, int v, int port2,
                          const uint8* d, int n)
{
    int p = rhythm_part[map & 1];
    if (port2 && p < 16)
        p += 16;
    note &= 0x7F;
    switch (param) {
    case 0x1:
        sysex_add(out, ME_SYSEX_GS_MSB, p, note, GS_DRUM_PLAY_NOTE);
        sysex_add(out, ME_SYSEX_GS_LSB, p, v, GS_DRUM_PLAY_NOTE);
        break;
    case 0x2: sysex_add_nrpn(out, p, 0x1A, note, v); break;  // level
    case 0x4: sysex_add_nrpn(out, p, 0x1C, note, v); break;  // panpot
    case 0x5: sysex_add_nrpn(out, p, 0x1D, note, v); break;  // reverb send
    case 0x6: sysex_add_nrpn(out, p, 0x1E, note, v); break;  // chorus send
    case 0x9: sysex_add_nrpn(out, p, 0x1F, note, v); break;  // delay send
    case 0x7:
        sysex_add(out, ME_SYSEX_MSB, p, note, SYSEX_DRUM_RX_NOTE_OFF);
        sysex_add(out, ME_SYSEX_LSB, p, v, SYSEX_DRUM_RX_NOTE_OFF);
        break;
    case 0x8:
        sysex_add(out, ME_SYSEX_MSB, p, note, SYSEX_DRUM_RX_NOTE_ON);
        sysex_add(out, ME_SYSEX_LSB, p, v, SYSEX_DRUM_RX_NOTE_ON);
        break;
    default:
        report_unsupported(0x41, (map << 4) | param, note, d, n);
        break;
    }
}

int parse_gs_multi(const uint8* val, int32 len, SysexOut* out)
{
    if (len < 10 || !is_gs_device(val[1]) || val[2] != 0x42 || val[3] != 0x12)
        return 0;
    if (!gs_checksum_ok(val, len)) {
        cmsg(CMSG_INFO, VERB_NOISY, "GS SysEx: Checksum Error.");
        return 1;
    }
    int cs = gs_checksum_index(val, len);
    int addr_h = val[4], addr_m = val[5], addr_l = val[6];
    int port2 = 0;
    if (addr_h == 0x50 || addr_h == 0x51) {
        addr_h -= 0x10;
        port2 = 1;
    }
    const uint8* data = val + 7;
    int ndata = cs - 7;
    int part_offset = port2 ? 16 : 0;

    for (int i = 0; i < ndata;) {
        const uint8* d = data + i;
        int n = ndata - i;
        int addr = addr_l + i;
        int v = d[0];
        int used = 1;
        if (addr > 0x7F)
            break;  // a write past the end of the block
        if (addr_h == 0x40 && addr_m == 0x00) {
            if (addr <= 0x03)
                sysex_add_master_tune(out, addr, v);
            else if (addr == 0x05)
                sysex_add(out, ME_SYSEX_LSB, 0, v, SYSEX_MASTER_KEY_SHIFT);
            else if (addr != 0x04 && addr != 0x7F)  // master volume and reset: parse_sysex_event
                report_unsupported(addr_h, addr_m, addr, d, n);
        } else if (addr_h == 0x00 && addr_m == 0x00 && addr == 0x7F) {
            // system mode set: parse_sysex_event
        } else if (addr_h == 0x00 && addr_m == 0x01 && addr <= 0x1F) {
            // receive port of each part (0x10 and up: the second port's parts)
            int p = block_to_part(addr, midi_port_number) + ((addr & 0x10) ? 16 : 0);
            sysex_add(out, ME_SYSEX_GS_LSB, p, v, GS_PORT_SELECT);
        } else if (addr_h == 0x40 && addr_m == 0x01) {
            gs_patch_common(out, addr, v, d, n);
        } else if (addr_h == 0x40 && addr_m == 0x02 && addr <= 0x03) {
            sysex_add(out, ME_SYSEX_GS_LSB, 0, v, GS_EQ_LOW_FREQ + addr);
        } else if (addr_h == 0x40 && addr_m == 0x03) {
            gs_insertion(out, addr, v, d, n);
        } else if (addr_h == 0x40 && (addr_m & 0xF0) == 0x10) {
            int p = block_to_part(addr_m, midi_port_number) + part_offset;
            used = gs_part_parameter(out, p, addr, d, n);
        } else if (addr_h == 0x40 && (addr_m & 0xF0) == 0x20) {
            int p = block_to_part(addr_m, midi_port_number) + part_offset;
            if ((addr & 0x0F) <= 0x0A && (addr >> 4) < 6)
                sysex_add(out, ME_SYSEX_LSB, p, v, gs_ctrl_group_base[addr >> 4] + (addr & 0x0F));
            else
                report_unsupported(addr_h, addr_m, addr, d, n);
        } else if (addr_h == 0x40 && (addr_m & 0xF0) == 0x40) {
            int p = block_to_part(addr_m, midi_port_number) + part_offset;
            if (addr == 0x00)
                sysex_add(out, ME_TONE_BANK_LSB, p, v, 255);
            else if (addr == 0x01)
                sysex_add(out, ME_SYSEX_GS_LSB, p, v, GS_TONE_MAP0_NUMBER);
            else if (addr == 0x20)
                sysex_add(out, ME_SYSEX_GS_LSB, p, v, GS_EQ_SWITCH);
            else if (addr == 0x22)
                sysex_add(out, ME_SYSEX_GS_LSB, p, v, GS_INSERTION_SWITCH);
            else
                report_unsupported(addr_h, addr_m, addr, d, n);
        } else if (addr_h == 0x41) {
            gs_drum_setup(out, addr_m >> 4, addr_m & 0x0F, addr, v, port2, d, n);
        } else {
            report_unsupported(addr_h, addr_m, addr, d, n);
            break;  // one report for a block this reader does not know
        }
        i += used;
    }
    return 1;
}
