// Universal messages (7E non-real-time, 7F real-time) into parameter events: MIDI tuning,
// temperaments, scale tuning, and the GM2 global parameters and controller destinations.
#include "frontend/controls.h"
#include "readmidi/eventlist.h"
#include "readmidi/sysex.h"
#include "readmidi/sysex_out.h"

// Length of the data before a closing F7 (or of all of it when there is none).
static int32 data_end(const uint8* val, int32 len)
{
    return (len > 0 && val[len - 1] == 0xF7) ? len - 1 : len;
}

// Channel mask ff gg hh of the tuning messages: bit c is channel c; bit 2 of ff selects the
// second port.
static uint32 tuning_channel_mask(const uint8* m, int* port_offset)
{
    *port_offset = (m[0] & 0x04) ? 16 : 0;
    return (uint32)(m[0] & 0x03) * 16384 + (uint32)m[1] * 128 + m[2];
}

static void bulk_tuning_dump(const uint8* val, int32 len, SysexOut* out)
{
    // 7E dd 08 01 pp name(16) then 128 x (xx yy zz)
    if (len < 21 + 128 * 3)
        return;
    sysex_add(out, ME_BULK_TUNING_DUMP, 0, val[4], 0);
    const uint8* d = val + 21;
    for (int note = 0; note < 128; note++, d += 3) {
        sysex_add(out, ME_BULK_TUNING_DUMP, 1, note, d[0]);
        sysex_add(out, ME_BULK_TUNING_DUMP, 2, d[1], d[2]);
    }
}

static void single_note_tuning(const uint8* val, int32 len, SysexOut* out)
{
    // 7F dd 08 02 pp n then n x (kk xx yy zz)
    int32 end = data_end(val, len);
    if (end < 6)
        return;
    int n = val[5];
    int avail = (end - 6) / 4;
    if (n > avail)
        n = avail;
    sysex_add(out, ME_SINGLE_NOTE_TUNING, 0, val[4], 0);
    for (int i = 0; i < n; i++) {
        const uint8* d = val + 6 + 4 * i;
        sysex_add(out, ME_SINGLE_NOTE_TUNING, 1, d[0], d[1]);
        sysex_add(out, ME_SINGLE_NOTE_TUNING, 2, d[2], d[3]);
    }
}

// Scale/octave tuning, 1-byte (08 08: cents + 64) or 2-byte (08 09: 14 bits, 0x2000 = 0)
// form, for every channel of the mask.
static void scale_octave_tuning(const uint8* val, int32 len, SysexOut* out, int two_byte)
{
    int32 need = 7 + (two_byte ? 24 : 12);
    if (data_end(val, len) < need)
        return;
    int port_offset;
    uint32 mask = tuning_channel_mask(val + 4, &port_offset);
    for (int ch = 0; ch < 16; ch++) {
        if (!(mask & (1u << ch)))
            continue;
        for (int k = 0; k < 12; k++) {
            int v;
            if (two_byte) {
                int raw = (val[7 + 2 * k] << 7) | val[8 + 2 * k];
                double cents = (raw - 8192) * 100.0 / 8192.0;
                v = 64 + (int)(cents < 0 ? cents - 0.5 : cents + 0.5);
                if (v < 0)
                    v = 0;
                if (v > 127)
                    v = 127;
            } else {
                v = val[7 + k];
            }
            sysex_add_scale_tuning(out, ch + port_offset + 16 * midi_port_number, k, v);
        }
    }
}

static void temperament_type(const uint8* val, int32 len, SysexOut* out)
{
    // 7E/7F dd 08 0B ff gg hh tt
    if (data_end(val, len) < 8)
        return;
    int realtime = (val[0] == 0x7F);
    if (val[1] == 0x7F) {
        sysex_add(out, ME_MASTER_TEMPER_TYPE, 0, val[7], realtime);
        return;
    }
    int port_offset;
    uint32 mask = tuning_channel_mask(val + 4, &port_offset);
    for (int ch = 0; ch < 16; ch++)
        if (mask & (1u << ch))
            sysex_add(out, ME_TEMPER_TYPE, ch + port_offset, val[7], realtime);
}

static void user_temperament(const uint8* val, int32 len, SysexOut* out)
{
    // 7E/7F dd 08 0C pp n then n entries of 10 bytes, each as five byte pairs
    int32 end = data_end(val, len);
    if (end < 6)
        return;
    int n = val[5];
    int avail = (end - 6) / 10;
    if (n > avail)
        n = avail;
    if (n > (MAX_SYSEX_EVENTS - 1) / 5)
        n = (MAX_SYSEX_EVENTS - 1) / 5;
    sysex_add(out, ME_USER_TEMPER_ENTRY, 0, val[4], n);
    for (int i = 0; i < n; i++) {
        const uint8* d = val + 6 + 10 * i;
        for (int k = 0; k < 5; k++)
            sysex_add(out, ME_USER_TEMPER_ENTRY, k + 1, d[2 * k], d[2 * k + 1]);
    }
}

static void gm2_global_parameter(const uint8* val, int32 len, SysexOut* out)
{
    // 7F dd 04 05 sw pw vw 01 ss (pp vv)... with one slot path of two bytes and one-byte
    // parameters and values
    int32 end = data_end(val, len);
    if (end < 9 || val[4] != 1 || val[5] != 1 || val[6] != 1 || val[7] != 0x01) {
        cmsg(CMSG_INFO, VERB_NOISY, "Unsupported GM2 global parameter control");
        return;
    }
    int slot = val[8];
    for (int32 i = 9; i + 1 < end; i += 2) {
        int pp = val[i], vv = val[i + 1];
        if (slot == 0x01) {  // reverb
            if (pp == 0)
                sysex_add(out, ME_SYSEX_LSB, 0, vv, SYSEX_GM2_REVERB_TYPE);
            else if (pp == 1)
                sysex_add(out, ME_SYSEX_GS_LSB, 0, vv, GS_REVERB_TIME);
        } else if (slot == 0x02) {  // chorus
            static const uint8 chorus_id[4] = {GS_CHORUS_RATE, GS_CHORUS_DEPTH,
                                               GS_CHORUS_FEEDBACK, GS_CHORUS_SEND_TO_REVERB};
            if (pp == 0)
                sysex_add(out, ME_SYSEX_LSB, 0, vv, SYSEX_GM2_CHORUS_TYPE);
            else if (pp >= 1 && pp <= 4)
                sysex_add(out, ME_SYSEX_GS_LSB, 0, vv, chorus_id[pp - 1]);
        }
    }
}

static void gm2_controller_destination(const uint8* val, int32 len, SysexOut* out)
{
    // 7F dd 09 01 cc (pp rr)...: channel pressure destinations of channel cc
    static const uint8 id[6] = {CTRL_DEPTH_PITCH,       CTRL_DEPTH_FILTER,
                                CTRL_DEPTH_AMPLITUDE,   CTRL_DEPTH_LFO1_PITCH,
                                CTRL_DEPTH_LFO1_FILTER, CTRL_DEPTH_LFO1_AMPLITUDE};
    int32 end = data_end(val, len);
    if (end < 5)
        return;
    int ch = (val[4] & 0x0F) + 16 * midi_port_number;
    for (int32 i = 5; i + 1 < end; i += 2) {
        int pp = val[i], rr = val[i + 1];
        if (pp <= 5)
            sysex_add(out, ME_SYSEX_LSB, ch, rr, SYSEX_CAF_BASE + id[pp]);
    }
}

int parse_universal_multi(const uint8* val, int32 len, SysexOut* out)
{
    if (len < 4)
        return 0;
    int realtime = (val[0] == 0x7F);
    if (val[2] == 0x08) {
        switch (val[3]) {
        case 0x01:
            if (!realtime)
                bulk_tuning_dump(val, len, out);
            return 1;
        case 0x02:
            if (realtime)
                single_note_tuning(val, len, out);
            return 1;
        case 0x08: scale_octave_tuning(val, len, out, 0); return 1;
        case 0x09: scale_octave_tuning(val, len, out, 1); return 1;
        case 0x0B: temperament_type(val, len, out); return 1;
        case 0x0C: user_temperament(val, len, out); return 1;
        default: return 0;
        }
    }
    if (realtime && val[2] == 0x04 && val[3] == 0x05) {
        gm2_global_parameter(val, len, out);
        return 1;
    }
    if (realtime && val[2] == 0x09 && val[3] == 0x01) {
        gm2_controller_destination(val, len, out);
        return 1;
    }
    return 0;
}
