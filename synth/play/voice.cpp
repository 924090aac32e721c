#include "play/voice.h"

#include <cstdlib>
#include <cstring>

#include "config/tonebank.h"
#include "frontend/controls.h"
#include "frontend/miditrace.h"
#include "frontend/mt19937.h"
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
    return (note + note_key_offset + channel[ch].key_shift) & 0x7f;
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

static void send_maxvoices(void)
{
    ctl_mode_event(CTLE_MAXVOICES, 1, voices, 0);
}

// Left or right gain, whichever is louder on a stereo voice.
static int32 loudness(const Voice& v)
{
    if (v.pan_mode == PAN_STEREO && v.right_mix > v.left_mix)
        return v.right_mix;
    return v.left_mix;
}

static bool is_protected_drum(const Voice& v)
{
    return v.sample != nullptr && v.sample->note_to_use && ISDRUMCHANNEL(v.channel);
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
        voice[link].chorus_link = (uint8)link;
        vp.chorus_link = (uint8)v;
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
        voice[i].status = VOICE_FREE;
        voice[i].chorus_link = (uint8)i;
        voice[i].temper_instant = 0;
    }
    upper_voices = 0;
    memset(vidq_head, 0, sizeof(vidq_head));
    memset(vidq_tail, 0, sizeof(vidq_tail));
}

// ---- stealing and polyphony ---------------------------------------------------------------

// The quietest voice below upper_voices that `take` accepts, or -1.
template <class Pred>
static int quietest(Pred take)
{
    int best = -1;
    int32 least = 0x7fffffff;
    for (int i = 0; i < upper_voices; i++) {
        if (!take(i))
            continue;
        int32 l = loudness(voice[i]);
        if (l < least) {
            least = l;
            best = i;
        }
    }
    return best;
}

int reduce_voice(void)
{
    int lv = quietest([](int i) {
        const Voice& v = voice[i];
        return v.status != VOICE_FREE && !is_protected_drum(v) &&
               (v.status & ~(VOICE_ON | VOICE_SUSTAINED | VOICE_DIE)) != 0;
    });
    if (lv >= 0) {
        cut_notes++;
    } else if ((lv = quietest([](int i) {
                    const Voice& v = voice[i];
                    if (v.status == VOICE_DIE)
                        return true;
                    return v.status == VOICE_OFF && !is_protected_drum(v);
                })) >= 0) {
        cut_notes++;
    } else if ((lv = quietest([](int i) { return voice[i].status == VOICE_SUSTAINED; })) >= 0) {
        cut_notes++;
    } else if ((lv = quietest([](int i) {
                    return voice[i].status != VOICE_FREE && voice[i].chorus_link < i;
                })) >= 0) {
        cut_notes++;
        int j = voice[lv].chorus_link;
        voice[j].velocity = (uint8)(voice[j].velocity << 1);
        voice[j].panning = channel[voice[lv].channel].panning;
        recompute_amp(j);
        apply_envelope_to_amp(j);
    } else {
        lost_notes++;
        lv = quietest([](int i) { return voice[i].status != VOICE_FREE && !is_protected_drum(voice[i]); });
        if (lv < 0)
            lv = quietest([](int i) { return voice[i].status != VOICE_FREE; });
        if (lv < 0)
            lv = 0;
    }
    free_voice(lv);
    if (!prescanning_flag)
        ctl_note_event(lv);
    return lv;
}

static void set_free(int i)
{
    voice[i].status = VOICE_FREE;
    voice[i].chorus_link = (uint8)i;
    voice[i].temper_instant = 0;
}

void voice_increment(int n)
{
    for (int i = 0; i < n; i++) {
        if (voices == max_voices)
            break;
        set_free(voices);
        voices++;
    }
    if (n > 0)
        send_maxvoices();
}

// A status with a bit outside "held" and "dying": sustained or released.
static bool is_releasing(int status)
{
    return (status & ~(VOICE_ON | VOICE_DIE)) != 0;
}

void voice_decrement(int n)
{
    for (int i = 0; i < n && voices > 0; i++) {
        voices--;
        if (voice[voices].status == VOICE_FREE)
            continue;
        int j;
        for (j = 0; j < voices; j++)
            if (voice[j].status == VOICE_FREE)
                break;
        if (j != voices) {
            voice[j] = voice[voices];
            continue;
        }
        // No free record: the quietest releasing voice (the one at the top included) makes
        // room, or the top voice is lost.
        int lv = -1;
        int32 least = 0x7fffffff;
        for (j = 0; j <= voices; j++) {
            if (voice[j].status & ~(VOICE_ON | VOICE_DIE)) {
                int32 l = loudness(voice[j]);
                if (l < least) {
                    least = l;
                    lv = j;
                }
            }
        }
        if (lv != -1) {
            cut_notes++;
            free_voice(lv);
            ctl_note_event(lv);
            voice[lv] = voice[voices];
        } else {
            lost_notes++;
            free_voice(voices);
        }
    }
    if (upper_voices > voices)
        upper_voices = voices;
    if (n > 0)
        send_maxvoices();
}

void voice_decrement_conservative(int n)
{
    int target = voices - n;
    for (int i = 0; i < n && voices > 0; i++) {
        if (voice[voices - 1].status == VOICE_FREE) {
            voices--;
            continue;
        }
        int j;
        for (j = 0; j < target; j++)
            if (voice[j].status == VOICE_FREE)
                break;
        if (j < target) {
            voice[j] = voice[voices - 1];
            voices--;
            continue;
        }
        int lv = -1;
        int32 least = 0x7fffffff;
        for (j = 0; j < voices; j++) {
            if (is_releasing(voice[j].status) && !is_protected_drum(voice[j])) {
                int32 l = loudness(voice[j]);
                if (l < least) {
                    least = l;
                    lv = j;
                }
            }
        }
        if (lv == -1)
            break;
        cut_notes++;
        voices--;
        free_voice(lv);
        ctl_note_event(lv);
        voice[lv] = voice[voices];
    }
    if (upper_voices > voices)
        upper_voices = voices;
}

void restore_voices(int save_voices)
{
    static int old_voices = -1;
    if (old_voices == -1 || save_voices) {
        old_voices = voices;
    } else if (voices >= old_voices) {
        voice_decrement(voices - old_voices);
    } else {
        voice_increment(old_voices - voices);
    }
}

// ---- notes ------------------------------------------------------------------------------

int get_panning(int ch, int note, int v)
{
    const Channel& c = channel[ch];
    int offset = c.panning == -1 ? 0 : c.panning - 64;
    int base;
    if (ISDRUMCHANNEL(ch) && c.drums[note] != nullptr && c.drums[note]->drum_panning != -1)
        base = c.drums[note]->drum_panning;
    else
        base = voice[v].sample != nullptr ? voice[v].sample->panning : 64;
    int pan = offset + base;
    return pan < 0 ? 0 : pan > 127 ? 127 : pan;
}

int note_on_allowed(const MidiEvent* e)
{
    int ch = e->channel;
    int note = effective_note(ch, e->a);
    const Channel& c = channel[ch];
    if (ISDRUMCHANNEL(ch) && c.drums[note] != nullptr && !get_rx_drum(c.drums[note], RX_NOTE_ON))
        return 0;
    if (note < c.note_limit_low || note > c.note_limit_high)
        return 0;
    if (e->b < c.vel_limit_low || e->b > c.vel_limit_high)
        return 0;
    return 1;
}

// Light pink noise in -1..1 (three one-pole filters over white noise).
static double get_pink_noise_light(void)
{
    static float b0 = 0, b1 = 0, b2 = 0;
    float white = (float)(genrand_real1() * 2.0 - 1.0);
    b0 = 0.99765f * b0 + white * 0.0990460f;
    b1 = 0.96300f * b1 + white * 0.2965164f;
    b2 = 0.57000f * b2 + white * 1.0526913f;
    double pink = (b0 + b1 + b2 + white * 0.1848f) * 0.22f;
    return pink > 1.0 ? 1.0 : pink < -1.0 ? -1.0 : pink;
}

// The random start delay of the note's tone-bank entry, in samples.
static int32 random_start_delay(int ch, int note)
{
    const Channel& c = channel[ch];
    if (c.special_sample != 0)
        return 0;
    int bank, prog;
    ToneBank** table;
    if (ISDRUMCHANNEL(ch)) {
        bank = c.bank;
        prog = note;
        table = drumset;
    } else {
        if (c.program == -1)
            return 0;
        bank = c.bank;
        prog = c.program;
        table = tonebank;
    }
    instrument_map(c.mapID, &bank, &prog);
    if (bank < 0 || bank >= TONEBANK_SLOTS || prog < 0 || prog > 127)
        return 0;
    ToneBank* tb = table[bank] != nullptr ? table[bank] : table[0];
    if (tb == nullptr || tb->tone[prog].rnddelay == 0)
        return 0;
    double rate = play_mode->rate;
    return (int32)(rate * tb->tone[prog].rnddelay / 1000.0 * (get_pink_noise_light() + 1.0) * 0.5);
}

void note_on(MidiEvent* e)
{
    if (!note_on_allowed(e))
        return;
    int voicelist[MAX_VOICES_PER_NOTE];
    int nv = find_samples(e, voicelist);
    if (nv == 0)
        return;
    int ch = e->channel;
    int note = effective_note(ch, e->a);
    int vid = 0;
    if (opt_overlap_voice_allow)
        vid = vidq_head[ch * 128 + note]++;
    recompute_bank_parameter(ch, note);
    recompute_channel_filter(ch, note);
    int32 delay = random_start_delay(ch, note);

    Channel& c = channel[ch];
    for (int i = 0; i < nv; i++) {
        int v = voicelist[i];
        if (ISDRUMCHANNEL(ch) && c.drums[note] != nullptr && c.drums[note]->pan_random) {
            c.drums[note]->drum_panning = (int8)int_rand(128);
        } else if (c.pan_random) {
            c.panning = (int8)int_rand(128);
            ctl_mode_event(CTLE_PANNING, 1, ch, c.panning);
        }
        start_note(e, v, vid, nv - i - 1);
        voice[v].delay += delay;
        voice[v].modenv_delay += delay;
        voice[v].old_left_mix = voice[v].old_right_mix = 0;
        voice[v].left_mix_offset = voice[v].right_mix_offset = 0;
        voice[v].left_mix_inc = voice[v].right_mix_inc = 0;
    }
    c.legato_flag = 1;
}

// A drum note whose settings say it takes no note-off keeps sounding, unless its sample loops
// and would then never end.
static bool drum_ignores_note_off(int ch, int note)
{
    const Channel& c = channel[ch];
    int bank = c.bank, prog = note;
    instrument_map(c.mapID, &bank, &prog);
    if (prog < 0 || prog > 127 || c.drums[prog] == nullptr ||
        !get_rx_drum(c.drums[prog], RX_NOTE_OFF))
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
