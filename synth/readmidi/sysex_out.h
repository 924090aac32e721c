// Shared by the system-exclusive decoders: the bounded output buffer and message checks.
#ifndef CORVELLE_READMIDI_SYSEX_OUT_H
#define CORVELLE_READMIDI_SYSEX_OUT_H

#include "sysdep.h"
#include "readmidi/event.h"

// Events of one message; additions beyond MAX_SYSEX_EVENTS are dropped.
struct SysexOut {
    MidiEvent* ev;
    int n;
};

void sysex_add(SysexOut* out, int type, int ch, int a, int b);
// NRPN msb/lsb select followed by a data entry (b = 255 on every event).
void sysex_add_nrpn(SysexOut* out, int ch, int msb, int lsb, int val);
// RPN msb/lsb select followed by a data entry MSB (and LSB when lsb_val is not negative).
void sysex_add_rpn(SysexOut* out, int ch, int msb, int lsb, int val, int lsb_val);
void sysex_add_scale_tuning(SysexOut* out, int ch, int note, int val);
// A master tune nibble written to index k (0..3), and a master volume byte v (0..127): the
// GS and XG modules lay both out the same way.
void sysex_add_master_tune(SysexOut* out, int k, int v);
void sysex_add_master_volume(SysexOut* out, int v);
// The master volume (0..65535) of a master volume byte.
int master_volume_ratio_of(int v);

// Roland device numbers 0x10 to 0x1F and the broadcast number 0x7F.
int is_gs_device(int id);
// Index of the checksum byte of a GS data set, and whether the sum fits it.
int gs_checksum_index(const uint8* val, int32 len);
int gs_checksum_ok(const uint8* val, int32 len);
// The song's manufacturer becomes id when it is not known yet.
void note_sysex_manufacturer(uint8 id);

// Per-family decoders of parse_sysex_event_multi; each returns 1 when it took the message.
int parse_gs_multi(const uint8* val, int32 len, SysexOut* out);
int parse_xg_multi(const uint8* val, int32 len, SysexOut* out);
int parse_universal_multi(const uint8* val, int32 len, SysexOut* out);

extern const char* const note_name[12];

#endif
