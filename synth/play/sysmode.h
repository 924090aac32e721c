// The system mode (default, GM, GM2, GS, XG) that decides how bank numbers and drum parts are
// read, the default instrument map of a channel, and drum-part changes.
#ifndef CORVELLE_PLAY_SYSMODE_H
#define CORVELLE_PLAY_SYSMODE_H

#include "sysdep.h"

enum {
    DEFAULT_SYSTEM_MODE = 0,
    GM_SYSTEM_MODE = 1,
    GM2_SYSTEM_MODE = 2,
    GS_SYSTEM_MODE = 3,
    XG_SYSTEM_MODE = 4
};

extern int play_system_mode;

// Switches the system mode; mode 0 (or a manufacturer forced by opt_system_mid) chooses it
// from the module setting or the song's manufacturer.
void change_system_mode(int mode);
// The instrument map a channel starts with: 0 unless XG (12 for drums, 9 otherwise).
int get_default_mapID(int ch);
// Makes channel ch a drum part (isdrum non-zero) or melodic; 0 when its drum flag is fixed.
int midi_drumpart_change(int ch, int isdrum);

#endif
