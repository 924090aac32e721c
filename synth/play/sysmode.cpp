#include "play/sysmode.h"

#include "config/tonebank.h"
#include "effects/effect.h"
#include "frontend/options.h"
#include "play/playmidi.h"
#include "readmidi/readmidi.h"

int play_system_mode = DEFAULT_SYSTEM_MODE;

// Switching into XG puts the XG effects back to their power-on types.
static void set_xg_mode(void)
{
    if (play_system_mode != XG_SYSTEM_MODE)
        init_all_effect_xg();
    play_system_mode = XG_SYSTEM_MODE;
}

void change_system_mode(int mode)
{
    int mid;
    if (opt_system_mid) {
        mid = opt_system_mid;
        mode = -1;  // the forced manufacturer decides
    } else {
        mid = (current_file_info != nullptr) ? current_file_info->mid : 0;
        if (mode == GM2_SYSTEM_MODE) {
            play_system_mode = GM2_SYSTEM_MODE;
            return;
        }
    }

    switch (mode) {
    case GM_SYSTEM_MODE:
        if (play_system_mode == DEFAULT_SYSTEM_MODE)
            play_system_mode = GM_SYSTEM_MODE;
        break;
    case GS_SYSTEM_MODE:
        play_system_mode = GS_SYSTEM_MODE;
        break;
    case XG_SYSTEM_MODE:
        set_xg_mode();
        break;
    default:
        if (opt_default_module >= 1 && opt_default_module <= 15) {
            play_system_mode = GS_SYSTEM_MODE;
            break;
        }
        if (opt_default_module >= 16 && opt_default_module <= 19) {
            set_xg_mode();
            break;
        }
        switch (mid) {
        case 0x41: play_system_mode = GS_SYSTEM_MODE; break;
        case 0x43: set_xg_mode(); break;
        case 0x7E: play_system_mode = GM_SYSTEM_MODE; break;
        default: play_system_mode = DEFAULT_SYSTEM_MODE; break;
        }
        break;
    }
}

int get_default_mapID(int ch)
{
    if (play_system_mode == XG_SYSTEM_MODE)
        return ISDRUMCHANNEL(ch) ? XG_DRUM_MAP : XG_NORMAL_MAP;
    return INST_NO_MAP;
}

int midi_drumpart_change(int ch, int isdrum)
{
    if (ch < 0 || ch >= MAX_CHANNELS)
        return 0;
    if ((drumchannel_mask >> ch) & 1u)
        return 0;
    // Only the live flags change: the song's record keeps the drum parts it starts with,
    // which reset_midi restores.
    uint32 bit = 1u << ch;
    if (isdrum)
        drumchannels |= bit;
    else
        drumchannels &= ~bit;
    return 1;
}
