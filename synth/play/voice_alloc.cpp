// Finding a record for a new voice: the same-key, mono and alternate-assign rules, stealing
// when the pool is full, and growing or shrinking the pool while playing.
#include <cstdlib>

#include "config/tonebank.h"
#include "frontend/controls.h"
#include "frontend/options.h"
#include "instrum/instrum.h"
#include "play/channels.h"
#include "play/playmidi.h"
#include "play/voice.h"
#include "render/voice_params.h"

int find_voice(MidiEvent* e)
{
    const int ch = e->channel;
    const int note = effective_note(ch, e->a);
    const Channel& c = channel[ch];
    const int status_check = opt_overlap_voice_allow ? (VOICE_OFF | VOICE_SUSTAINED) : 0xFF;
    AlternateAssign* group = find_altassign(c.altassign, note);

    int lowest = -1;
    for (int i = 0; i < upper_voices; i++) {
        if (voice[i].status == VOICE_FREE) {
            lowest = i;
            break;
        }
    }
    for (int i = 0; i < upper_voices; i++) {
        const Voice& v = voice[i];
        if (v.status == VOICE_FREE || v.channel != ch)
            continue;
        const bool same_key = v.note == note;
        if ((same_key && (v.status & status_check)) || c.mono ||
            (group != nullptr && find_altassign(group, v.note) != nullptr) ||
            (same_key && (c.assign_mode == 0 || (c.assign_mode == 1 && v.newest_of_note == 0))))
            kill_note(i);
    }
    for (int i = 0; i < upper_voices; i++)
        if (voice[i].channel == ch && voice[i].note == note)
            voice[i].newest_of_note = 0;

    if (lowest != -1)
        return lowest;
    if (upper_voices < voices)
        return upper_voices++;
    return reduce_voice();
}

// ---- stealing -----------------------------------------------------------------------------

static int released(int i)
{
    const Voice& v = voice[i];
    return v.status != VOICE_FREE && !is_protected_drum(v) &&
           (v.status & ~(VOICE_ON | VOICE_SUSTAINED | VOICE_DIE)) != 0;
}

static int released_or_dying(int i)
{
    const Voice& v = voice[i];
    return v.status == VOICE_DIE || (v.status == VOICE_OFF && !is_protected_drum(v));
}

static int sustained(int i)
{
    return voice[i].status == VOICE_SUSTAINED;
}

static int second_of_chorus_pair(int i)
{
    return voice[i].status != VOICE_FREE && voice[i].chorus_link < i;
}

static int unprotected(int i)
{
    return voice[i].status != VOICE_FREE && !is_protected_drum(voice[i]);
}

static int in_use(int i)
{
    return voice[i].status != VOICE_FREE;
}

int reduce_voice(void)
{
    int lv;
    if ((lv = quietest_voice(upper_voices, released)) >= 0 ||
        (lv = quietest_voice(upper_voices, released_or_dying)) >= 0 ||
        (lv = quietest_voice(upper_voices, sustained)) >= 0) {
        cut_notes++;
    } else if ((lv = quietest_voice(upper_voices, second_of_chorus_pair)) >= 0) {
        cut_notes++;
        // The partner sounds alone from now on: the full velocity, back on the channel's pan.
        int j = voice[lv].chorus_link;
        Voice& partner = voice[j];
        partner.velocity = (uint8)(partner.velocity << 1);
        // A channel without a pan setting puts it where the note would start on its own.
        int pan = channel[partner.channel].panning;
        partner.panning = pan >= 0 ? pan : get_panning(partner.channel, partner.note, j);
        recompute_amp(j);
        apply_envelope_to_amp(j);
    } else {
        lost_notes++;
        if ((lv = quietest_voice(upper_voices, unprotected)) < 0 &&
            (lv = quietest_voice(upper_voices, in_use)) < 0)
            lv = 0;
    }
    free_voice(lv);
    if (!prescanning_flag)
        ctl_note_event(lv);
    return lv;
}

// ---- polyphony ----------------------------------------------------------------------------

static void send_maxvoices(void)
{
    ctl_mode_event(CTLE_MAXVOICES, 1, voices, 0);
}

static void set_free(int i)
{
    voice[i].status = VOICE_FREE;
    voice[i].chorus_link = (uint16)i;
    voice[i].temper_instant = 0;
}

void voice_increment(int n)
{
    for (int i = 0; i < n && voices < max_voices; i++) {
        set_free(voices);
        voices++;
    }
    if (n > 0)
        send_maxvoices();
}

// Sustained or released: a status with a bit outside "held" and "dying".
static int releasing(int i)
{
    return (voice[i].status & ~(VOICE_ON | VOICE_DIE)) != 0;
}

static int releasing_unprotected(int i)
{
    return releasing(i) && !is_protected_drum(voice[i]);
}

// Moves the voice at `from` into record `to` (free or just freed). The chorus partner follows
// it, and the record left behind is free and owns no pan-delay buffer.
static void move_voice(int from, int to)
{
    free(voice[to].pan_delay_buf);
    voice[to] = voice[from];
    Voice& v = voice[to];
    if (v.chorus_link == from)
        v.chorus_link = (uint16)to;
    else
        voice[v.chorus_link].chorus_link = (uint16)to;
    voice[from].pan_delay_buf = nullptr;
    set_free(from);
}

static int first_free_below(int end)
{
    for (int j = 0; j < end; j++)
        if (voice[j].status == VOICE_FREE)
            return j;
    return -1;
}

void voice_decrement(int n)
{
    for (int i = 0; i < n && voices > 0; i++) {
        voices--;
        if (voice[voices].status == VOICE_FREE)
            continue;
        int j = first_free_below(voices);
        if (j >= 0) {
            move_voice(voices, j);
            continue;
        }
        // No free record: the quietest releasing voice (the top one included) makes room, or
        // the top voice is lost.
        int lv = quietest_voice(voices + 1, releasing);
        if (lv >= 0) {
            cut_notes++;
            free_voice(lv);
            ctl_note_event(lv);
            if (lv != voices)
                move_voice(voices, lv);
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
    const int target = voices - n;
    for (int i = 0; i < n && voices > 0; i++) {
        if (voice[voices - 1].status == VOICE_FREE) {
            voices--;
            continue;
        }
        int j = first_free_below(target);
        if (j >= 0) {
            move_voice(voices - 1, j);
            voices--;
            continue;
        }
        int lv = quietest_voice(voices, releasing_unprotected);
        if (lv < 0)
            break;
        cut_notes++;
        voices--;
        free_voice(lv);
        ctl_note_event(lv);
        if (lv != voices)
            move_voice(voices, lv);
    }
    if (upper_voices > voices)
        upper_voices = voices;
}

void restore_voices(int save_voices)
{
    static int old_voices = -1;
    if (old_voices == -1 || save_voices)
        old_voices = voices;
    else if (voices >= old_voices)
        voice_decrement(voices - old_voices);
    else
        voice_increment(old_voices - voices);
}
