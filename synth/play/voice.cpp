// The voice pool: its records and counters, the control events about voices, and the ways a
// voice ends: note-off, release, pedal release, notes off, sounds off, kill and free.
#include "play/voice.h"

#include <cstdlib>
#include <cstring>

#include "config/tonebank.h"
#include "frontend/controls.h"
#include "frontend/miditrace.h"
#include "frontend/options.h"
#include "frontend/tables.h"
#include "instrum/instrum.h"
#include "output/output.h"
#include "play/channels.h"
#include "play/playmidi.h"
#include "readmidi/readmidi.h"
#include "render/voice_params.h"

Voice* voice = nullptr;
int upper_voices = 0;
int32 cut_notes = 0, lost_notes = 0;
uint8 vidq_head[128 * MAX_CHANNELS], vidq_tail[128 * MAX_CHANNELS];
int prescanning_flag = 0;

int effective_note(int ch, int note)
{
    if (ISDRUMCHANNEL(ch))
        return note & 0x7f;
    return (note + note_key_offset + master_key_shift + channel[ch].key_shift) & 0x7f;
}

void ctl_note_event(int noteID)
{
    const Voice& v = voice[noteID];
    ControlEvent ce = {CTLE_NOTE, v.status, v.channel, v.note, v.velocity};
    if (ctl->trace_playing)
        push_midi_trace_ce(ctl->event, &ce);
    else if (ctl->event != nullptr)
        ctl->event(&ce);
}

void ctl_timestamp(void)
{
    static long last_secs = -1, last_voices = -1;
    double rate = play_mode != nullptr && play_mode->rate > 0 ? play_mode->rate : 44100;
    long secs = (long)(current_sample / (rate * midi_time_ratio));
    long voices_in_use = count_active_voices();
    if (secs == last_secs && voices_in_use == last_voices)
        return;
    last_secs = secs;
    last_voices = voices_in_use;
    ControlEvent ce = {CTLE_CURRENT_TIME, secs, voices_in_use, 0, 0};
    if (ctl->trace_playing)
        push_midi_trace_ce(ctl->event, &ce);
    else if (ctl->event != nullptr)
        ctl->event(&ce);
}

int32 voice_loudness(const Voice& v)
{
    if (v.pan_mode == PAN_STEREO && v.right_mix > v.left_mix)
        return v.right_mix;
    return v.left_mix;
}

int is_protected_drum(const Voice& v)
{
    return v.sample != nullptr && v.sample->note_to_use && ISDRUMCHANNEL(v.channel);
}

int quietest_voice(int end, int (*take)(int v))
{
    int best = -1;
    int32 least = 0x7fffffff;
    for (int i = 0; i < end; i++) {
        if (!take(i))
            continue;
        int32 l = voice_loudness(voice[i]);
        if (best < 0 || l < least) {
            least = l;
            best = i;
        }
    }
    return best;
}

int count_active_voices(void)
{
    int n = 0;
    for (int i = 0; i < upper_voices; i++)
        if (voice[i].status != VOICE_FREE)
            n++;
    return n;
}

void trim_upper_voices(void)
{
    while (upper_voices > 0 && voice[upper_voices - 1].status == VOICE_FREE)
        upper_voices--;
}

static void clear_vidq(int ch)
{
    memset(vidq_head + ch * 128, 0, 128);
    memset(vidq_tail + ch * 128, 0, 128);
}

// ---- life of a voice ----------------------------------------------------------------------

void free_voice(int v)
{
    Voice& vp = voice[v];
    free(vp.pan_delay_buf);
    vp.pan_delay_buf = nullptr;
    int link = vp.chorus_link;
    if (link != v && link < max_voices) {
        voice[link].chorus_link = (uint16)link;
        vp.chorus_link = (uint16)v;
    }
    vp.status = VOICE_FREE;
    vp.temper_instant = 0;
}

void kill_note(int v)
{
    voice[v].status = VOICE_DIE;
    if (!prescanning_flag)
        ctl_note_event(v);
}

void finish_note(int v)
{
    Voice& vp = voice[v];
    if (vp.sample != nullptr && (vp.sample->modes & MODES_ENVELOPE)) {
        vp.status = VOICE_OFF;
        vp.envelope_stage = 3;
        recompute_envelope(v);
        vp.modenv_stage = 3;
        recompute_modulation_envelope(v);
        apply_modulation_envelope(v);
        apply_envelope_to_amp(v);
        ctl_note_event(v);
        return;
    }
    if (current_file_info != nullptr && current_file_info->pcm_mode != 0) {
        free_voice(v);
        ctl_note_event(v);
    } else if (vp.status != VOICE_OFF) {
        vp.status = VOICE_OFF;
        ctl_note_event(v);
    }
}

void drop_sustain(int ch)
{
    for (int i = 0; i < upper_voices; i++)
        if (voice[i].status == VOICE_SUSTAINED && voice[i].channel == ch)
            finish_note(i);
}

void all_notes_off(int ch)
{
    cmsg(CMSG_INFO, VERB_DEBUG, "All notes off on channel %d", ch);
    for (int i = 0; i < upper_voices; i++) {
        if (voice[i].status != VOICE_ON || voice[i].channel != ch)
            continue;
        if (channel[ch].sustain) {
            voice[i].status = VOICE_SUSTAINED;
            ctl_note_event(i);
        } else {
            finish_note(i);
        }
    }
    clear_vidq(ch);
}

void all_sounds_off(int ch)
{
    for (int i = 0; i < upper_voices; i++)
        if (voice[i].channel == ch && voice[i].status != VOICE_FREE && voice[i].status != VOICE_DIE)
            kill_note(i);
    clear_vidq(ch);
}

void kill_all_voices(void)
{
    for (int i = 0; i < upper_voices; i++)
        if (voice[i].status != VOICE_FREE && voice[i].status != VOICE_DIE)
            kill_note(i);
    memset(vidq_head, 0, sizeof(vidq_head));
    memset(vidq_tail, 0, sizeof(vidq_tail));
}

void reset_voices(void)
{
    for (int i = 0; i < max_voices; i++) {
        free(voice[i].pan_delay_buf);
        voice[i].pan_delay_buf = nullptr;
        voice[i].status = VOICE_FREE;
        voice[i].chorus_link = (uint16)i;
        voice[i].temper_instant = 0;
    }
    upper_voices = 0;
    memset(vidq_head, 0, sizeof(vidq_head));
    memset(vidq_tail, 0, sizeof(vidq_tail));
}

// ---- note-off ---------------------------------------------------------------------------

// A drum note whose settings say it does not receive note-off keeps sounding, unless its
// sample loops and would then never end. Drums without settings, and drums whose settings
// receive note-off (the default), are released like any note.
static bool drum_ignores_note_off(int ch, int note)
{
    const Channel& c = channel[ch];
    int bank = c.bank, prog = note;
    instrument_map(c.mapID, &bank, &prog);
    if (prog < 0 || prog > 127 || c.drums[prog] == nullptr ||
        get_rx_drum(c.drums[prog], RX_NOTE_OFF))
        return false;
    ToneBank* set = bank >= 0 && bank < TONEBANK_SLOTS && drumset[bank] != nullptr ? drumset[bank]
                                                                                    : drumset[0];
    if (set == nullptr)
        return true;
    // Not loaded, or only marked as wanted (-1) or as failed (-2).
    Instrument* ip = set->tone[prog].instrument;
    if (ip == nullptr || ip == (Instrument*)-1 || ip == (Instrument*)-2 || ip->samples < 1)
        return true;
    return !(ip->sample[0].modes & MODES_LOOPING);
}

void note_off(MidiEvent* e)
{
    int ch = e->channel;
    int note = effective_note(ch, e->a);
    if (ISDRUMCHANNEL(ch) && drum_ignores_note_off(ch, note))
        return;

    int vid = 0;
    if (opt_overlap_voice_allow) {
        int k = ch * 128 + note;
        if (vidq_head[k] == vidq_tail[k]) {
            cmsg(CMSG_WARNING, VERB_DEBUG_SILLY, "channel=%d, note=%d: Voice is already OFF", ch, note);
            return;
        }
        vid = vidq_tail[k]++;
    }
    for (int i = 0; i < upper_voices; i++) {
        Voice& v = voice[i];
        if (v.status != VOICE_ON || v.channel != ch || v.note != note || v.vid != vid)
            continue;
        if (channel[ch].sustain) {
            v.status = VOICE_SUSTAINED;
            ctl_note_event(i);
        } else {
            finish_note(i);
        }
    }
    channel[ch].legato_flag = 0;
}
