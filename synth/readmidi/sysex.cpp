#include "readmidi/sysex.h"

#include <cstring>

#include "frontend/controls.h"
#include "readmidi/eventlist.h"
#include "readmidi/readmidi.h"
#include "readmidi/sysex_out.h"

int rhythm_part[2];
int drum_setup_xg[6];
uint8 chorus_text_state[48];

const char* const note_name[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

// Layout of the chorus-text state.
enum {
    CHORUS_STARTED = 0,
    CHORUS_TEXT_TAIL = 4,   // 18 bytes: the last data bytes of a write to 40 01 10
    CHORUS_TEXT_LAST = 21,
    CHORUS_SLOTS = 22,      // 8 slots of 3 bytes: writes to 40 01 38 .. 40 01 3F
    CHORUS_SLOT_SIZE = 3,
    CHORUS_SLOT_COUNT = 8
};

void clear_chorus_text_state(void)
{
    memset(chorus_text_state, 0, sizeof(chorus_text_state));
}

int chorus_text_started(void)
{
    return chorus_text_state[CHORUS_STARTED] != 0;
}

static void check_chorus_text_start(void)
{
    if (chorus_text_state[CHORUS_STARTED])
        return;
    if (chorus_text_state[CHORUS_TEXT_LAST] == 0)
        return;
    for (int i = 0; i < CHORUS_SLOT_COUNT; i++)
        if (chorus_text_state[CHORUS_SLOTS + i * CHORUS_SLOT_SIZE + 2] == 0)
            return;
    cmsg(CMSG_INFO, VERB_DEBUG, "Chorus text start");
    chorus_text_state[CHORUS_STARTED] = 1;
}

void reset_sysex_reader_state(void)
{
    rhythm_part[0] = rhythm_part[1] = 9;
    for (int i = 0; i < 6; i++)
        drum_setup_xg[i] = 9;
    clear_chorus_text_state();
}

void sysex_add(SysexOut* out, int type, int ch, int a, int b)
{
    // A part beyond the event's channel byte (a high port number) has nowhere to go.
    if (out->n >= MAX_SYSEX_EVENTS || ch < 0 || ch > 255)
        return;
    MidiEvent* ev = &out->ev[out->n++];
    ev->time = 0;
    ev->type = (uint8)type;
    ev->channel = (uint8)ch;
    ev->a = (uint8)a;
    ev->b = (uint8)b;
}

void sysex_add_nrpn(SysexOut* out, int ch, int msb, int lsb, int val)
{
    sysex_add(out, ME_NRPN_MSB, ch, msb, 255);
    sysex_add(out, ME_NRPN_LSB, ch, lsb, 255);
    sysex_add(out, ME_DATA_ENTRY_MSB, ch, val, 255);
}

void sysex_add_rpn(SysexOut* out, int ch, int msb, int lsb, int val, int lsb_val)
{
    sysex_add(out, ME_RPN_MSB, ch, msb, 255);
    sysex_add(out, ME_RPN_LSB, ch, lsb, 255);
    sysex_add(out, ME_DATA_ENTRY_MSB, ch, val, 255);
    if (lsb_val >= 0)
        sysex_add(out, ME_DATA_ENTRY_LSB, ch, lsb_val, 255);
}

void sysex_add_master_tune(SysexOut* out, int k, int v)
{
    sysex_add(out, ME_SYSEX_MSB, 0, k, SYSEX_MASTER_TUNE);
    sysex_add(out, ME_SYSEX_LSB, 0, v & 0x0F, SYSEX_MASTER_TUNE);
}

int master_volume_ratio_of(int v)
{
    return (v >= 127) ? 65535 : (int)(v * 516.0236220472441);
}

void sysex_add_master_volume(SysexOut* out, int v)
{
    int vol = master_volume_ratio_of(v);
    sysex_add(out, ME_MASTER_VOLUME, 0, vol & 0xFF, (vol >> 8) & 0xFF);
}

void sysex_add_scale_tuning(SysexOut* out, int ch, int note, int val)
{
    // The event carries the channel's byte: cents, signed.
    sysex_add(out, ME_SCALE_TUNING, ch, note, (uint8)(int8)(val - 64));
    cmsg(CMSG_INFO, VERB_NOISY, "Scale Tuning %s (CH:%d %d cent)", note_name[note % 12], ch,
         val - 64);
}

int is_gs_device(int id)
{
    return (id >= 0x10 && id <= 0x1F) || id == 0x7F;
}

int gs_checksum_index(const uint8* val, int32 len)
{
    for (int32 i = 9; i < len; i++)
        if (val[i] == 0xF7)
            return i - 1;
    return len - 1;
}

int gs_checksum_ok(const uint8* val, int32 len)
{
    int cs = gs_checksum_index(val, len);
    int sum = 0;
    for (int i = 4; i < cs; i++)
        sum += val[i];
    return ((128 - (sum & 0x7F)) & 0x7F) == val[cs];
}

void note_sysex_manufacturer(uint8 id)
{
    if (current_file_info != nullptr && (current_file_info->mid == 0 || current_file_info->mid >= 0x7E))
        current_file_info->mid = id;
}

int block_to_part(int block, int port)
{
    int p = block & 0x0F;
    if (p == 0)
        p = 9;
    else if (p <= 9)
        p--;
    return p + port * 16;
}

int set_xg_reverb_type(int msb, int lsb)
{
    if ((msb >= 0x05 && msb <= 0x0F) || msb >= 0x14 || msb == 0) {
        cmsg(CMSG_INFO, VERB_NOISY, "XG Set Reverb Type (NO EFFECT %d %d)", msb, lsb);
        return -1;
    }
    int type;
    switch (msb) {
    case 0x01: type = 3; break;  // Hall 1
    case 0x02: type = 0; break;  // Room 1
    case 0x03:                   // Stage 1
    case 0x04: type = 5; break;  // Plate
    default: type = 4; break;    // Hall 2 and the white, tunnel, canyon and basement rooms
    }
    if (lsb == 0x01) {
        switch (msb) {
        case 0x01:
        case 0x03: type = 4; break;  // Hall 2, Stage 2
        case 0x02: type = 1; break;  // Room 2
        }
    } else if (lsb == 0x02 && msb == 0x02) {
        type = 2;  // Room 3
    }
    cmsg(CMSG_INFO, VERB_NOISY, "XG Set Reverb Type (%d)", type);
    return type;
}

static void fill_event(MidiEvent* ev, int type, int ch, int a, int b)
{
    ev->time = 0;
    ev->type = (uint8)type;
    ev->channel = (uint8)ch;
    ev->a = (uint8)a;
    ev->b = (uint8)b;
}

// GS data set: the few writes that become one event, and the chorus-text state.
static int parse_gs_single(const uint8* val, int32 len, MidiEvent* ev)
{
    if (!gs_checksum_ok(val, len))
        return 0;
    int cs = gs_checksum_index(val, len);
    int addr_h = val[4], addr_m = val[5], addr_l = val[6];
    int part_offset = 0;
    if (addr_h == 0x50) {
        addr_h = 0x40;
        part_offset = 16;
    }
    int dd = val[7];

    if (addr_h == 0x40 && (addr_m & 0xF0) == 0x10) {
        int p = block_to_part(addr_m, midi_port_number) + part_offset;
        if (addr_l == 0x15) {
            fill_event(ev, ME_DRUMPART, p, dd, 255);
            return 1;
        }
        if (addr_l == 0x16) {
            fill_event(ev, ME_KEYSHIFT, p, dd, 255);
            return 1;
        }
        return 0;
    }
    if (addr_h == 0x40 && addr_m == 0x00 && addr_l == 0x04) {
        int vol = master_volume_ratio_of(dd);
        fill_event(ev, ME_MASTER_VOLUME, 0, vol & 0xFF, (vol >> 8) & 0xFF);
        return 1;
    }
    if ((addr_h == 0x40 || addr_h == 0x00) && addr_m == 0x00 && addr_l == 0x7F) {
        fill_event(ev, ME_RESET, 0, 3, 0);  // GS
        return 1;
    }
    if (addr_h == 0x40 && addr_m == 0x01 && addr_l == 0x10) {
        if (len > 24 && cs - 18 >= 7) {
            memcpy(chorus_text_state + CHORUS_TEXT_TAIL, val + cs - 18, 18);
            check_chorus_text_start();
        }
        return 0;
    }
    if (addr_h == 0x40 && addr_m == 0x01 && addr_l >= 0x38 && addr_l <= 0x3F) {
        uint8* slot = chorus_text_state + CHORUS_SLOTS + (addr_l - 0x38) * CHORUS_SLOT_SIZE;
        for (int i = 0; i < CHORUS_SLOT_SIZE; i++)
            slot[i] = (7 + i < cs) ? val[7 + i] : 0;
        check_chorus_text_start();
        return 0;
    }
    return 0;
}

// GS display: letters become an inserted text, a 64-byte bitmap a display event.
static int parse_gs_display(const uint8* val, int32 len, MidiEvent* ev)
{
    if (val[5] == 0x00 && val[6] == 0x00) {
        int cs = gs_checksum_index(val, len);
        char text[512];
        int n = 0;
        for (int i = 7; i < cs && n < (int)sizeof(text) - 1; i++)
            if (val[i] != 0)
                text[n++] = (char)val[i];
        text[n] = '\0';
        return readmidi_make_string_event(ME_INSERT_TEXT, text, ev, 1) != nullptr;
    }
    if (val[5] == 0x01 && val[6] == 0x00 && len >= 7 + 64) {
        static const char hex[] = "0123456789ABCDEF";
        char text[129];
        for (int i = 0; i < 64; i++) {
            text[2 * i] = hex[(val[7 + i] >> 4) & 0x0F];
            text[2 * i + 1] = hex[val[7 + i] & 0x0F];
        }
        text[128] = '\0';
        return readmidi_make_string_event(ME_GSLCD, text, ev, 1) != nullptr;
    }
    return 0;
}

int parse_sysex_event(const uint8* val, int32 len, MidiEvent* ev)
{
    if (len < 1)
        return 0;
    note_sysex_manufacturer(val[0]);

    if (len >= 10 && val[0] == 0x41 && is_gs_device(val[1]) && val[2] == 0x42 && val[3] == 0x12)
        return parse_gs_single(val, len, ev);

    if (len >= 10 && val[0] == 0x41 && is_gs_device(val[1]) && val[2] == 0x45 &&
        val[3] == 0x12 && val[4] == 0x10)
        return parse_gs_display(val, len, ev);

    if (len >= 8 && val[0] == 0x43 && (val[1] & 0xF0) == 0x10 && val[2] == 0x4C &&
        val[3] == 0x00 && val[4] == 0x00 && val[5] == 0x7E) {
        fill_event(ev, ME_RESET, 0, 4, 0);  // XG
        return 1;
    }

    if (len >= 4 && (val[0] == 0x7E || val[0] == 0x7F)) {
        int realtime = (val[0] == 0x7F);
        if (len >= 6 && val[2] == 0x08 && val[3] == 0x0A) {
            fill_event(ev, ME_TEMPER_KEYSIG, 0, val[5] * 16 + val[4] - 64, realtime);
            return 1;
        }
        if (len >= 6 && val[2] == 0x04 && val[3] == 0x01) {
            int v = (val[4] + 128 * val[5]) * 4;
            if (val[1] == 0x7F) {
                int vol = v + 3;
                fill_event(ev, ME_MASTER_VOLUME, 0, vol & 0xFF, (vol >> 8) & 0xFF);
                return 1;
            }
            // Addressed to one channel: a channel volume, which cannot exceed 127.
            int ch = val[1] + 16 * midi_port_number;
            if (ch > 255)
                return 0;
            int vol = v / 256;
            if (vol > 127)
                vol = 127;
            fill_event(ev, ME_MAINVOLUME, ch, vol, 255);
            return 1;
        }
        // Sub-ID 09 of the real-time messages sets controller destinations, not the system.
        if (!realtime && val[2] == 0x09) {
            if (val[3] == 0x01) {
                cmsg(CMSG_INFO, VERB_DEBUG, "SysEx: GM System On");
                fill_event(ev, ME_RESET, 0, 1, 0);
            } else if (val[3] == 0x03) {
                cmsg(CMSG_INFO, VERB_DEBUG, "SysEx: GM2 System On");
                fill_event(ev, ME_RESET, 0, 2, 0);
            } else {
                cmsg(CMSG_INFO, VERB_DEBUG, "SysEx: GM System Off");
                fill_event(ev, ME_RESET, 0, 0, 0);
            }
            return 1;
        }
    }
    return 0;
}

int parse_sysex_event_multi(const uint8* val, int32 datalen, MidiEvent* evm)
{
    if (datalen < 1)
        return 0;
    note_sysex_manufacturer(val[0]);
    SysexOut out = {evm, 0};
    switch (val[0]) {
    case 0x41: parse_gs_multi(val, datalen, &out); break;
    case 0x43: parse_xg_multi(val, datalen, &out); break;
    case 0x7E:
    case 0x7F: parse_universal_multi(val, datalen, &out); break;
    default: break;
    }
    return out.n;
}
