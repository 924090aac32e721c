// The final pass over a song's event list: time signatures and beat events, channel
// renumbering, instrument marks, and the conversion of tick times to output samples.
#include <cstdlib>
#include <cstring>

#include "frontend/controls.h"
#include "frontend/memory.h"
#include "frontend/options.h"
#include "play/playmidi.h"
#include "readmidi/eventlist.h"
#include "readmidi/readmidi.h"
#include "readmidi/sysex.h"

// Collects the distinct time signatures of the list (ignoring its last node) into out: a 4/4
// at tick 0 comes first when the first signature is later; one equal to the previous is
// skipped; one at the same tick as the previous replaces it.
static int collect_timesig(TimeSigRecord* out, int maxlen)
{
    int n = 0;
    if (maxlen < 1 || evlist == nullptr)
        return 0;
    for (EventListNode* e = evlist; e->next != nullptr; e = e->next) {
        if (e->event.type != ME_TIMESIG || e->event.channel != 0)
            continue;
        if (n == 0 && e->event.time > 0) {
            out[0].time = 0;
            out[0].numerator = 4;
            out[0].denominator = 4;
            n = 1;
            if (n == maxlen)
                break;
        }
        if (n > 0 && out[n - 1].numerator == e->event.a && out[n - 1].denominator == e->event.b)
            continue;
        if (n > 0 && out[n - 1].time == e->event.time) {
            out[n - 1].numerator = e->event.a;
            out[n - 1].denominator = e->event.b;
            continue;
        }
        out[n].time = e->event.time;
        out[n].numerator = e->event.a;
        out[n].denominator = e->event.b;
        if (++n == maxlen)
            break;
    }
    return n;
}

int dump_current_timesig(TimeSigRecord* codes, int maxlen)
{
    if (maxlen <= 0 || evlist == nullptr)
        return 0;
    int n = collect_timesig(codes, maxlen);
    if (n == 0) {
        codes[0].time = 0;
        codes[0].numerator = 4;
        codes[0].denominator = 4;
        n = 1;
    }
    return n;
}

// Fills timesig: at most MAX_TIMESIG - 1 signatures, then a closing record.
static int build_timesig_table(void)
{
    int n = collect_timesig(timesig, MAX_TIMESIG - 1);
    if (n == 0) {
        timesig[0].time = 0;
        timesig[0].numerator = 4;
        timesig[0].denominator = 4;
        n = 1;
    }
    timesig[n] = timesig[n - 1];
    timesig[n].time = 0x7FFFFFFF;
    return n + 1;
}

// Ticks per beat of a signature (at least one, so that the beat walk always advances).
static int64 beat_length(const TimeSigRecord* ts, int32 divisions)
{
    int den = ts->denominator ? ts->denominator : 4;
    int64 len = (int64)4 * divisions / den;
    return (len < 1) ? 1 : len;
}

// Adds a beat event at every beat from tick 0 up to the last event.
static void add_beat_events(int32 divisions, int ntimesig)
{
    EventListNode* last = evlist;
    while (last->next != nullptr)
        last = last->next;
    int64 end = last->event.time;

    current_midi_point = evlist;
    int idx = 0;
    int64 t = 0;
    int64 len = beat_length(&timesig[0], divisions);
    int measure = 1, beat = 1;
    while (t < end && !readmidi_error_flag) {
        MidiEvent ev;
        ev.time = (int32)t;
        ev.type = ME_NOTE_STEP;
        ev.channel = 0;
        ev.a = (uint8)(measure & 0xFF);
        ev.b = (uint8)(((measure >> 8) & 0x0F) | ((beat & 0x0F) << 4));
        readmidi_add_event(&ev);

        int64 next = t + len;
        if (idx + 1 < ntimesig && next >= timesig[idx + 1].time) {
            // A new signature takes effect: a new measure starts where it does.
            t = timesig[++idx].time;
            len = beat_length(&timesig[idx], divisions);
            measure++;
            beat = 1;
        } else {
            t = next;
            int num = timesig[idx].numerator ? timesig[idx].numerator : 4;
            if (++beat > num) {
                beat = 1;
                measure++;
            }
        }
    }
}

// Moves the channels of the second and later ports onto free channels where the song leaves
// room, and returns the highest channel in use.
static int renumber_channels(void)
{
    uint8 used[MAX_CHANNELS];
    int16 target[256];
    memset(used, 0, sizeof(used));
    for (int i = 0; i < 256; i++)
        target[i] = -1;

    int max_ch = -1;
    for (EventListNode* e = evlist; e != nullptr; e = e->next) {
        if (!IS_CHANNEL_EVENT_TYPE(e->event.type))
            continue;
        int ch = e->event.channel;
        if (ch < 16)
            used[ch] = 1;
        if (ch > max_ch)
            max_ch = ch;
    }

    if (max_ch > 15) {
        for (EventListNode* e = evlist; e != nullptr; e = e->next) {
            if (!IS_CHANNEL_EVENT_TYPE(e->event.type))
                continue;
            int ch = e->event.channel;
            if (ch < 16)
                continue;
            if (target[ch] < 0) {
                int to = -1;
                for (int cand = ch % 16; cand < ch && cand < MAX_CHANNELS; cand += 16) {
                    if (!used[cand]) {
                        to = cand;
                        break;
                    }
                }
                if (to >= 0) {
                    used[to] = 1;
                    cmsg(CMSG_INFO, VERB_VERBOSE, "channel %d => %d", ch, to);
                    // The drum flag goes with a channel of the second port.
                    if (ch < MAX_CHANNELS && !((drumchannel_mask >> to) & 1u)) {
                        if ((drumchannels >> ch) & 1u)
                            drumchannels |= 1u << to;
                        else
                            drumchannels &= ~(1u << to);
                    }
                } else if (ch >= MAX_CHANNELS) {
                    to = ch % MAX_CHANNELS;
                    cmsg(CMSG_WARNING, VERB_VERBOSE, "channel %d => %d (mixed)", ch, to);
                } else {
                    to = ch;  // keeps its number
                    used[ch] = 1;
                }
                target[ch] = (int16)to;
            }
            e->event.channel = (uint8)target[ch];
        }
    }

    max_ch = -1;
    for (EventListNode* e = evlist; e != nullptr; e = e->next) {
        int t = e->event.type;
        int counts = IS_CHANNEL_EVENT_TYPE(t) ||
                     (t == ME_SYSEX_GS_LSB && (e->event.b == GS_RECEIVE_CHANNEL ||
                                               e->event.b == GS_PORT_SELECT)) ||
                     (t == ME_SYSEX_XG_LSB && e->event.b == XG_RECEIVE_CHANNEL);
        if (counts && e->event.channel > max_ch)
            max_ch = e->event.channel;
    }
    return (max_ch >= MAX_CHANNELS) ? MAX_CHANNELS - 1 : max_ch;
}

static int is_text_event(int type)
{
    return type == ME_CHORUS_TEXT || type == ME_LYRIC || type == ME_MARKER ||
           type == ME_INSERT_TEXT || type == ME_TEXT || type == ME_KARAOKE_LYRIC;
}

static void discard_song(void)
{
    free_midi_list();
    delete_string_table(&string_event_strtab);
    free_string_event_table();
}

MidiEvent* build_event_array(int32 divisions, int32* eventsp, int32* samplesp)
{
    if (evlist == nullptr)
        return nullptr;
    make_string_event_table();

    int ntimesig = build_timesig_table();
    if (!readmidi_error_flag)
        add_beat_events(divisions, ntimesig);

    int max_ch = renumber_channels();
    if (current_file_info != nullptr) {
        current_file_info->max_channel = max_ch;
        // The drum parts the song starts with (second-port parts included), which the player
        // restores at every reset and seek.
        current_file_info->drumchannels = drumchannels;
    }

    prepare_instrument_marking();

    int trace = (ctl != nullptr && ctl->trace_playing);
    MidiEvent* array =
        (MidiEvent*)safe_large_malloc(((size_t)event_count + 1) * sizeof(MidiEvent));
    int32 n = 0;
    int64 st = 0, carry = 0;
    int32 prev_tick = 0;
    int counting = 0;

    // The default tempo; with SMPTE timing a "quarter note" of divisions ticks is a second.
    compute_sample_increment(readmidi_smpte_timing ? 1000000 : 500000, divisions);
    for (EventListNode* node = evlist; node != nullptr; node = node->next) {
        MidiEvent ev = node->event;
        int type = ev.type;

        if (IS_CHANNEL_EVENT_TYPE(type) && ev.channel >= MAX_CHANNELS)
            ev.channel %= MAX_CHANNELS;

        int32 d = ev.time - prev_tick;
        prev_tick = ev.time;
        if (counting && d > 0) {
            st += (int64)sample_increment * d;
            carry += (int64)sample_correction * d;
            if (carry > 0xFFFF) {
                st += carry >> 16;
                carry &= 0xFFFF;
            }
            if (st > 0x7FFFFFFF) {
                cmsg(CMSG_ERROR, VERB_NORMAL, "Overflow the sample counter");
                free(array);
                discard_song();
                return nullptr;
            }
        }

        mark_event_instrument(&ev, (int32)st);

        if (type == ME_TEMPO && !readmidi_smpte_timing) {
            int32 tempo = ev.a * 65536 + ev.b * 256 + ev.channel;
            double scaled = tempo * tempo_adjust;
            if (!(scaled < 2147483647.0))
                scaled = 2147483647.0;
            compute_sample_increment((int32)scaled, divisions);
        }

        int text_index = ev.a | (ev.b << 8);
        int drop = 0;
        if (type == ME_NONE)
            drop = 1;
        else if (IS_CHANNEL_EVENT_TYPE(type) && ((uint32)quietchannels >> ev.channel) & 1u)
            drop = 1;
        else if (is_text_event(type) && text_index == 0)
            drop = 1;
        else if (type == ME_GSLCD && !trace)
            drop = 1;
        else if (type == ME_NOTE_STEP && !counting)
            drop = 1;

        if (!counting) {
            if (type == ME_NOTEON || type == ME_SHERRY ||
                (trace && ((is_text_event(type) && text_index != 0) || type == ME_GSLCD)))
                counting = 1;
        }
        if (drop)
            continue;
        ev.time = (int32)st;
        array[n++] = ev;
    }

    array[n].time = (int32)st;
    array[n].type = ME_EOT;
    array[n].channel = array[n].a = array[n].b = 0;
    n++;

    free_midi_list();
    *eventsp = n;
    *samplesp = (int32)st;
    if (current_file_info != nullptr) {
        current_file_info->samples = (int32)st;
        if (current_file_info->first_text == nullptr)
            current_file_info->first_text = safe_strdup("");
        current_file_info->readflag = 1;
    }
    return array;
}
