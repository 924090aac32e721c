// Before a song plays, its notes are followed through program, bank, drum-part and reset
// events as the player will see them, and every tone-bank or drum-set entry a note needs is
// marked to be loaded. The pass keeps its own copy of which parts are drum parts: the live
// flags are the song's starting state, which the player restores at its start, at every
// reset and at every seek, so a part plays as the kind it is at the time of each note.
#include <cstring>

#include "config/tonebank.h"
#include "frontend/controls.h"
#include "frontend/options.h"
#include "instrum/instrum.h"
#include "output/output.h"
#include "play/playmidi.h"
#include "play/sysmode.h"
#include "readmidi/eventlist.h"

// The mark an element gets when its instrument is wanted (the loader's load mark).
#ifndef MAGIC_LOAD_INSTRUMENT
#define MAGIC_LOAD_INSTRUMENT ((Instrument*)(-1))
#endif

struct MarkState {
    int bank;     // tone bank, or drum set on a drum channel
    int program;  // -1: the channel plays the default instrument
    int bank_msb, bank_lsb;
    int mapID;
};

static MarkState mark_state[MAX_CHANNELS];
static uint32 start_drums;  // drum parts when the song starts
static uint32 mark_drums;   // drum parts at the event being followed

static int is_drum(int ch)
{
    return (mark_drums >> ch) & 1u;
}

static void drumpart_change(int ch, int isdrum)
{
    if (ch < 0 || ch >= MAX_CHANNELS || ((drumchannel_mask >> ch) & 1u))
        return;
    if (isdrum)
        mark_drums |= 1u << ch;
    else
        mark_drums &= ~(1u << ch);
}

// Undefined banks are reported once per song.
static uint8 reported_tonebank[TONEBANK_SLOTS];
static uint8 reported_drumset[TONEBANK_SLOTS];

static int defined_bank(ToneBank* const* banks, int b)
{
    return b >= 0 && b < TONEBANK_SLOTS && banks[b] != nullptr;
}

static int tonebank_or_default(int b)
{
    if (defined_bank(tonebank, b))
        return b;
    if (b >= 0 && b < TONEBANK_SLOTS && !reported_tonebank[b]) {
        reported_tonebank[b] = 1;
        cmsg(CMSG_WARNING, VERB_VERBOSE, "Tone bank %d is undefined", b);
    }
    return 0;
}

static int drumset_or_default(int b)
{
    if (defined_bank(drumset, b))
        return b;
    if (b >= 0 && b < TONEBANK_SLOTS && !reported_drumset[b]) {
        reported_drumset[b] = 1;
        cmsg(CMSG_WARNING, VERB_VERBOSE, "Drum set %d is undefined", b);
    }
    return 0;
}

static void set_start_values(int ch)
{
    MarkState* s = &mark_state[ch];
    if (is_drum(ch)) {
        s->bank = 0;
    } else {
        int b = (special_tonebank >= 0) ? special_tonebank : default_tonebank;
        s->bank = tonebank_or_default(b);
    }
    s->program = default_program[ch];
    s->bank_lsb = 0;
    s->bank_msb = (play_system_mode == XG_SYSTEM_MODE && (ch == 9 || ch == 25)) ? 127 : 0;
    if (play_system_mode == XG_SYSTEM_MODE)
        s->mapID = is_drum(ch) ? XG_DRUM_MAP : XG_NORMAL_MAP;
    else
        s->mapID = INST_NO_MAP;
}

void prepare_instrument_marking(void)
{
    change_system_mode(DEFAULT_SYSTEM_MODE);
    memset(reported_tonebank, 0, sizeof(reported_tonebank));
    memset(reported_drumset, 0, sizeof(reported_drumset));
    start_drums = mark_drums = drumchannels;
    for (int ch = 0; ch < MAX_CHANNELS; ch++)
        set_start_values(ch);
}

static void mark_element(ToneBank* bank, int prog)
{
    if (bank == nullptr || prog < 0 || prog > 127)
        return;
    if (bank->tone[prog].instrument == nullptr)
        bank->tone[prog].instrument = MAGIC_LOAD_INSTRUMENT;
}

static void program_change(int ch, int prog)
{
    MarkState* s = &mark_state[ch];
    int dr = is_drum(ch);
    switch (play_system_mode) {
    case GS_SYSTEM_MODE:
        switch (s->bank_lsb) {
        case 0: break;
        case 1:
            cmsg(CMSG_INFO, VERB_DEBUG, "(GS ch=%d SC-55 MAP)", ch);
            s->mapID = dr ? SC_55_DRUM_MAP : SC_55_TONE_MAP;
            break;
        case 2:
            cmsg(CMSG_INFO, VERB_DEBUG, "(GS ch=%d SC-88 MAP)", ch);
            s->mapID = dr ? SC_88_DRUM_MAP : SC_88_TONE_MAP;
            break;
        case 3:
            cmsg(CMSG_INFO, VERB_DEBUG, "(GS ch=%d SC-88Pro MAP)", ch);
            s->mapID = dr ? SC_88PRO_DRUM_MAP : SC_88PRO_TONE_MAP;
            break;
        case 4:
            cmsg(CMSG_INFO, VERB_DEBUG, "(GS ch=%d SC-8820/SC-8850 MAP)", ch);
            s->mapID = dr ? SC_8850_DRUM_MAP : SC_8850_TONE_MAP;
            break;
        default:
            cmsg(CMSG_INFO, VERB_DEBUG, "(GS: ch=%d Strange bank LSB %d)", ch, s->bank_lsb);
            break;
        }
        break;
    case XG_SYSTEM_MODE:
        switch (s->bank_msb) {
        case 0:
            if ((ch & 15) == 9 && s->bank_lsb == 127 && s->mapID == XG_DRUM_MAP) {
                cmsg(CMSG_WARNING, VERB_NORMAL,
                     "Warning: XG bank 0/127 is found. It may be not correctly played.");
                break;
            }
            cmsg(CMSG_INFO, VERB_DEBUG, "(XG ch=%d Normal voice)", ch);
            drumpart_change(ch, 0);
            s->mapID = XG_NORMAL_MAP;
            break;
        case 64:
            cmsg(CMSG_INFO, VERB_DEBUG, "(XG ch=%d SFX voice)", ch);
            drumpart_change(ch, 0);
            s->mapID = XG_SFX64_MAP;
            break;
        case 126:
            cmsg(CMSG_INFO, VERB_DEBUG, "(XG ch=%d SFX kit)", ch);
            drumpart_change(ch, 1);
            s->mapID = XG_SFX126_MAP;
            break;
        case 127:
            cmsg(CMSG_INFO, VERB_DEBUG, "(XG ch=%d Drum kit)", ch);
            drumpart_change(ch, 1);
            s->mapID = XG_DRUM_MAP;
            break;
        default:
            cmsg(CMSG_INFO, VERB_DEBUG, "(XG: ch=%d Strange bank MSB %d)", ch, s->bank_msb);
            break;
        }
        break;
    case GM2_SYSTEM_MODE:
        // Bank MSB 120 selects a drum part and 121 a melodic one, as the player does.
        if (s->bank_msb == 120)
            drumpart_change(ch, 1);
        else if (s->bank_msb == 121)
            drumpart_change(ch, 0);
        cmsg(CMSG_INFO, VERB_DEBUG, "(GM2 ch=%d)", ch);
        s->mapID = is_drum(ch) ? GM2_DRUM_MAP : GM2_TONE_MAP;
        break;
    default:
        break;
    }

    if (is_drum(ch)) {
        s->bank = s->program = prog;  // the program number is the drum set
        return;
    }
    int bank = (play_system_mode == XG_SYSTEM_MODE || play_system_mode == GM2_SYSTEM_MODE)
                   ? s->bank_lsb
                   : s->bank_msb;
    if (special_tonebank >= 0)
        bank = special_tonebank;
    s->bank = bank;
    s->program = (default_program[ch] == -1) ? -1 : prog;
}

static void note_on(int ch, int note)
{
    MarkState* s = &mark_state[ch];
    if (is_drum(ch)) {
        int b = s->bank, p = note;
        instrument_map(s->mapID, &b, &p);
        b = drumset_or_default(b);
        mark_element(drumset[b], p);
        return;
    }
    if (s->program == -1)
        return;
    int b = s->bank, p = s->program;
    instrument_map(s->mapID, &b, &p);
    b = tonebank_or_default(b);
    mark_element(tonebank[b], p);
}

void mark_event_instrument(const MidiEvent* ev, int32 sample_time)
{
    int ch = ev->channel;
    if (IS_CHANNEL_EVENT_TYPE(ev->type) && ch >= MAX_CHANNELS)
        return;
    switch (ev->type) {
    case ME_TONE_BANK_MSB: mark_state[ch].bank_msb = ev->a; break;
    case ME_TONE_BANK_LSB: mark_state[ch].bank_lsb = ev->a; break;
    case ME_DRUMPART: drumpart_change(ch, ev->a); break;
    case ME_PROGRAM: program_change(ch, ev->a); break;
    case ME_NOTEON: note_on(ch, ev->a); break;
    case ME_RESET: {
        change_system_mode(ev->a);
        int32 rate = (play_mode != nullptr && play_mode->rate > 0) ? play_mode->rate : 44100;
        cmsg(CMSG_INFO, VERB_NOISY, "MIDI reset at %d sec",
             (int)((double)sample_time / rate + 0.5));
        mark_drums = start_drums;  // a reset brings the song's drum parts back
        for (int c = 0; c < MAX_CHANNELS; c++)
            set_start_values(c);
        if (play_system_mode == XG_SYSTEM_MODE)
            mark_state[9].mapID = mark_state[25].mapID = XG_DRUM_MAP;
        break;
    }
    default: break;
    }
}
