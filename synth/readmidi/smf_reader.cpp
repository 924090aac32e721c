// The Standard MIDI File reader: containers, header, tracks, meta, system-exclusive and
// channel messages.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frontend/controls.h"
#include "frontend/memory.h"
#include "frontend/options.h"
#include "play/playmidi.h"
#include "readmidi/eventlist.h"
#include "readmidi/readmidi.h"
#include "readmidi/sysex.h"

int ignore_midi_error = 1;

// The longest meta text and system-exclusive message kept; longer ones are cut (texts) or
// skipped (messages), so that a corrupt length cannot make the reader hold the whole file.
enum { MAX_META_TEXT = 8191, MAX_SYSEX_LENGTH = 65536 };

// Name of the file being read, for messages (a copy: the caller's text may not outlive it).
static char reading_name[1024] = "";
// SMF format of the file being read.
static int smf_format = 0;

static int read_bytes(InputFile* tf, void* buf, int32 n)
{
    if (n <= 0)
        return 0;
    return (tf_read(buf, 1, n, tf) == n) ? 0 : -1;
}

int smf_short_track = 0;
long smf_short_byte = -1;
static InputFile* track_file = nullptr;  // the file and track (from 1) being read
static int track_number = 0;

// Reports the end of the data in the middle of a track, and keeps where; the track result
// is -1.
static int too_short(void)
{
    if (smf_short_track == 0 && track_file != nullptr) {
        smf_short_track = track_number;
        smf_short_byte = tf_tell(track_file);
    }
    if (errno)
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: read_midi_event: %s", reading_name, strerror(errno));
    else
        cmsg(CMSG_ERROR, VERB_NORMAL, "Warning: %s: Too shorten midi file.", reading_name);
    return -1;
}

int32 getvl(InputFile* tf)
{
    int32 l = 0;
    for (int i = 0; i < 4; i++) {
        int c = tf_getc(tf);
        if (c == EOF)
            return too_short();
        l = (l << 7) | (c & 0x7F);
        if (!(c & 0x80))
            return l;
    }
    cmsg(CMSG_ERROR, VERB_NORMAL, "%s: Illigal Variable-length quantity format.", reading_name);
    return -2;
}

// Reads len bytes of meta text (at most MAX_META_TEXT are kept) into a new buffer with room
// for two more characters. Returns none when the data ends early.
static char* read_meta_text(InputFile* tf, int32 len)
{
    int32 keep = (len > MAX_META_TEXT) ? MAX_META_TEXT : len;
    if (keep < 0)
        keep = 0;
    char* s = (char*)safe_malloc((size_t)keep + 3);
    if (read_bytes(tf, s, keep) != 0) {
        free(s);
        return nullptr;
    }
    s[keep] = '\0';
    if (len > keep)
        skip(tf, (size_t)(len - keep));
    return s;
}

static void show_text(const char* label, const char* text)
{
    int room = MAX_META_TEXT - (int)strlen(label);
    if (room < 0)
        room = 0;
    cmsg(CMSG_TEXT, VERB_VERBOSE, "%s%.*s", label, room, text);
}

char* dumpstring(int type, int32 len, const char* label, int allocp, InputFile* tf)
{
    (void)type;  // texts pass through the text-code conversion unchanged in this build
    if (len <= 0) {
        cmsg(CMSG_TEXT, VERB_VERBOSE, "%s", label);
        return allocp ? safe_strdup("") : nullptr;
    }
    char* s = read_meta_text(tf, len);
    if (s == nullptr)
        return nullptr;
    show_text(label, s);
    if (allocp)
        return s;
    free(s);
    return nullptr;
}

char* fix_string(char* s)
{
    if (s == nullptr)
        return nullptr;
    char* p = s;
    while (*p == ' ' || *p == '\t')
        p++;
    while (*p == '\r' || *p == '\n')
        p++;
    char* q = s;
    int blank = 0;
    for (; *p; p++) {
        char c = *p;
        if (c == '\t' || c == '\r' || c == '\n')
            c = ' ';
        if (c == ' ') {
            if (blank)
                continue;
            blank = 1;
        } else {
            blank = 0;
        }
        *q++ = c;
    }
    if (q > s && q[-1] == ' ')
        q--;
    *q = '\0';
    return s;
}

char* add_karaoke_title(char* title, const char* str)
{
    if (str == nullptr || *str == '\0')
        return title;
    if (title == nullptr)
        return safe_strdup(str);
    size_t tl = strlen(title), sl = strlen(str);
    char* p = (char*)safe_malloc(tl + sl + 2);
    memcpy(p, title, tl);
    p[tl] = ' ';
    memcpy(p + tl + 1, str, sl + 1);
    free(title);
    return p;
}

static void add_event_at(int32 at, int type, int ch, int a, int b)
{
    MidiEvent ev;
    ev.time = at;
    ev.type = (uint8)type;
    ev.channel = (uint8)ch;
    ev.a = (uint8)a;
    ev.b = (uint8)b;
    readmidi_add_event(&ev);
}

static int is_conductor_track(void)
{
    return smf_format == 0 || (smf_format == 1 && current_read_track == 0);
}

static void add_string_event(int32 at, int type, const char* text)
{
    MidiEvent ev;
    readmidi_make_string_event(type, text, &ev, 1);
    ev.time = at;
    readmidi_add_event(&ev);
}

// Text meta events 0x01 to 0x0F. Returns 0, or -1 when the data ends early.
static int text_meta_event(InputFile* tf, int type, int32 len, int32 at)
{
    static const char* const label[16] = {
        "Text event: ", "Text: ", "Copyright: ", "Track name: ", "Instrument: ", "Lyric: ",
        "Marker: ", "Cue point: ", "Text event: ", "Text event: ", "Text event: ",
        "Text event: ", "Text event: ", "Text event: ", "Text event: ", "Text event: "};

    int as_event = 0, evtype = ME_TEXT;
    if (type == 5) {
        as_event = 1;
        evtype = ME_LYRIC;
    } else if (type == 6 && is_conductor_track()) {
        char* s = read_meta_text(tf, len);
        if (s == nullptr)
            return too_short();
        size_t n = strlen(s);
        memmove(s + 1, s, n + 1);
        s[0] = '(';
        s[n + 1] = ')';
        s[n + 2] = '\0';
        fix_string(s);
        if (strcmp(s, "()") != 0)
            add_string_event(at, ME_MARKER, s);
        free(s);
        return 0;
    } else if (type == 1 &&
               (opt_trace_text_meta_event || karaoke_format == 2 || chorus_text_started())) {
        as_event = 1;
        if (karaoke_format == 2)
            evtype = ME_KARAOKE_LYRIC;
        else if (chorus_text_started())
            evtype = ME_CHORUS_TEXT;
        else
            evtype = ME_TEXT;
    }

    if (as_event) {
        char* s = read_meta_text(tf, len);
        if (s == nullptr)
            return too_short();
        if (evtype == ME_KARAOKE_LYRIC && !karaoke_title_flag && strncmp(s, "@T", 2) == 0 &&
            current_file_info != nullptr)
            current_file_info->karaoke_title =
                add_karaoke_title(current_file_info->karaoke_title, s + 2);
        add_string_event(at, evtype, s);
        free(s);
        return 0;
    }

    MidiFileInfo* info = current_file_info;
    if (type == 3 && is_conductor_track() && info != nullptr && info->seq_name == nullptr) {
        char* s = dumpstring(type, len, "Sequence: ", 1, tf);
        if (s == nullptr)
            return too_short();
        info->seq_name = fix_string(s);
        return 0;
    }
    if (type == 1 && is_conductor_track() && info != nullptr && info->first_text == nullptr) {
        char* s = dumpstring(type, len, "Text: ", 1, tf);
        if (s == nullptr)
            return too_short();
        info->first_text = s;
        return 0;
    }
    char* s = dumpstring(type, len, label[type & 15], 1, tf);
    if (s == nullptr)
        return too_short();
    if (type == 1 && smf_format == 1 && current_read_track == 1 && strncmp(s, "@KMIDI", 6) == 0)
        karaoke_format = 1;
    free(s);
    return 0;
}

// Other meta events. Returns 0 to go on, 1 at the end of the track, -1 on a short file.
static int meta_event(InputFile* tf, int type, int32 len, int32 at, long next_pos)
{
    uint8 d[4];
    switch (type) {
    case 0x00:  // sequence number
        if (len == 2) {
            if (read_bytes(tf, d, 2) != 0)
                return too_short();
            cmsg(CMSG_INFO, VERB_DEBUG, "(Sequence Number %02x %02x)", d[0], d[1]);
        } else {
            cmsg(CMSG_INFO, VERB_DEBUG, "(Sequence Number len=%d)", (int)len);
            skip(tf, (size_t)len);
        }
        return 0;
    case 0x20:  // channel prefix: no effect
        if (len == 1) {
            int c = tf_getc(tf);
            if (c == EOF)
                return too_short();
            cmsg(CMSG_INFO, VERB_DEBUG, "(MIDI channel prefix %d)", c);
        } else {
            skip(tf, (size_t)len);
        }
        return 0;
    case 0x21:  // port
        if (len == 1) {
            int c = tf_getc(tf);
            if (c == EOF) {
                midi_port_number = -1;
                return too_short();
            }
            midi_port_number = c & 15;
            cmsg(CMSG_INFO, VERB_DEBUG, "(MIDI port number %d)", midi_port_number);
        } else {
            skip(tf, (size_t)len);
        }
        return 0;
    case 0x2F:  // end of track
        if (next_pos >= 0 && tf_tell(tf) < next_pos)
            tf_seek(tf, next_pos, SEEK_SET);
        return 1;
    case 0x51: {  // tempo
        if (len < 3) {
            cmsg(CMSG_WARNING, VERB_VERBOSE, "Invalid tempo");
            skip(tf, (size_t)len);
            return 0;
        }
        if (read_bytes(tf, d, 3) != 0)
            return too_short();
        skip(tf, (size_t)(len - 3));
        if (d[0] == 0 && d[1] == 0 && d[2] == 0) {
            cmsg(CMSG_WARNING, VERB_VERBOSE, "Invalid tempo");
            return 0;
        }
        add_event_at(at, ME_TEMPO, d[2], d[0], d[1]);
        return 0;
    }
    case 0x54:
        cmsg(CMSG_INFO, VERB_DEBUG, "(SMPTE Offset meta event)");
        skip(tf, (size_t)len);
        return 0;
    case 0x58: {  // time signature
        if (len != 4) {
            cmsg(CMSG_WARNING, VERB_VERBOSE, "Invalid time signature");
            skip(tf, (size_t)len);
            return 0;
        }
        if (read_bytes(tf, d, 4) != 0)
            return too_short();
        // The denominator must fit the event's byte: 2 to the power 7 at most.
        if (d[0] == 0 || d[1] > 7) {
            cmsg(CMSG_WARNING, VERB_VERBOSE, "Invalid time signature");
            return 0;
        }
        int den = 1 << d[1];
        add_event_at(at, ME_TIMESIG, 0, d[0], den);
        add_event_at(at, ME_TIMESIG, 1, d[2], d[3]);
        cmsg(CMSG_INFO, VERB_NOISY, "Time signature: %d/%d %d clock %d q.n.", d[0], den, d[2],
             d[3]);
        MidiFileInfo* info = current_file_info;
        if (info != nullptr && info->time_sig_n == -1) {
            info->time_sig_n = d[0];
            info->time_sig_d = den;
            info->time_sig_c = d[2];
            info->time_sig_b = d[3];
        }
        return 0;
    }
    case 0x59: {  // key signature
        if (len != 2) {
            cmsg(CMSG_WARNING, VERB_VERBOSE, "Invalid key signature");
            skip(tf, (size_t)len);
            return 0;
        }
        if (read_bytes(tf, d, 2) != 0)
            return too_short();
        int sf = (int8)d[0], mi = d[1];
        if (sf < -7 || sf > 7 || mi > 1) {
            cmsg(CMSG_WARNING, VERB_VERBOSE, "Invalid key signature");
            return 0;
        }
        add_event_at(at, ME_KEYSIG, 0, (uint8)sf, mi);
        cmsg(CMSG_INFO, VERB_NOISY, "Key signature: %d %s %s", abs(sf),
             (sf < 0) ? "flat(s)" : "sharp(s)", mi ? "minor" : "major");
        return 0;
    }
    case 0x7F:
        cmsg(CMSG_INFO, VERB_DEBUG, "(Sequencer-Specific meta event, length %ld)", (long)len);
        skip(tf, (size_t)len);
        return 0;
    default:
        cmsg(CMSG_INFO, VERB_DEBUG, "(Meta event type 0x%02x, length %ld)", type, (long)len);
        skip(tf, (size_t)len);
        return 0;
    }
}

// A system-exclusive message (0xF0) of len bytes. Returns 0, or -1 on a short file.
static int sysex_event(InputFile* tf, int32 len, int32 at)
{
    if (len > MAX_SYSEX_LENGTH) {
        cmsg(CMSG_WARNING, VERB_VERBOSE, "%s: System exclusive message of %ld bytes skipped",
             reading_name, (long)len);
        skip(tf, (size_t)len);
        return 0;
    }
    uint8* data = (uint8*)safe_malloc((size_t)len + 1);
    if (read_bytes(tf, data, len) != 0) {
        free(data);
        return too_short();
    }
    MidiEvent ev;
    if (parse_sysex_event(data, len, &ev)) {
        ev.time = at;
        readmidi_add_event(&ev);
    }
    MidiEvent evm[MAX_SYSEX_EVENTS];
    int n = parse_sysex_event_multi(data, len, evm);
    for (int i = 0; i < n; i++) {
        evm[i].time = at;
        readmidi_add_event(&evm[i]);
    }
    free(data);
    return 0;
}

// Chunk tags are four printable letters; anything else means the data is corrupt.
static int is_chunk_tag(const char* tag)
{
    for (int i = 0; i < 4; i++)
        if (tag[i] < 0x20 || tag[i] > 0x7E)
            return 0;
    return 1;
}

int read_smf_track(InputFile* tf, int trackno, int rewindp)
{
    int32 at = readmidi_set_track(trackno, rewindp);
    track_file = tf;
    track_number = smf_format == 0 ? 1 : trackno + 1;
    int64 smf_at_time = at;

    char tmp[4];
    uint32 len;
    for (;;) {
        uint8 lb[4];
        if (read_bytes(tf, tmp, 4) != 0 || read_bytes(tf, lb, 4) != 0) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: Can't read track header.", reading_name);
            return -1;
        }
        len = ((uint32)lb[0] << 24) | ((uint32)lb[1] << 16) | ((uint32)lb[2] << 8) | lb[3];
        if (memcmp(tmp, "MTrk", 4) == 0)
            break;
        if (!is_chunk_tag(tmp)) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: Corrupt MIDI file.", reading_name);
            return -2;
        }
        // A chunk of a kind this reader does not know is passed over.
        cmsg(CMSG_INFO, VERB_VERBOSE, "%s: Skipping chunk \"%.4s\" of %lu bytes", reading_name,
             tmp, (unsigned long)len);
        skip(tf, len);
    }
    long here = tf_tell(tf);
    long next_pos = (here >= 0) ? here + (long)len : -1;

    int laststatus = 0, lastchan = 0;
    for (;;) {
        if (readmidi_error_flag)
            return -1;
        int32 delta = getvl(tf);
        if (delta < 0)
            return delta;
        smf_at_time += delta;
        if (smf_at_time > 0x7FFFFFFF)
            smf_at_time = 0x7FFFFFFF;
        at = (int32)smf_at_time;

        errno = 0;
        int me = tf_getc(tf);
        if (me == EOF)
            return too_short();

        if (me == 0xF0 || me == 0xF7) {
            int32 n = getvl(tf);
            if (n < 0)
                return n;
            if (me == 0xF7) {
                skip(tf, (size_t)n);
                continue;
            }
            if (sysex_event(tf, n, at) != 0)
                return -1;
            continue;
        }
        if (me == 0xFF) {
            int type = tf_getc(tf);
            if (type == EOF)
                return too_short();
            int32 n = getvl(tf);
            if (n < 0)
                return n;
            int r;
            if (type > 0 && type < 16)
                r = text_meta_event(tf, type, n, at);
            else
                r = meta_event(tf, type, n, at, next_pos);
            if (r < 0)
                return -1;
            if (r == 1)
                return 0;
            continue;
        }

        // Channel messages and system common and real-time bytes, with running status.
        int a;
        if (me & 0x80) {
            lastchan = (me & 0x0F) + 16 * midi_port_number;
            laststatus = (me >> 4) & 0x07;
            a = (laststatus != 7) ? (tf_getc(tf) & 0x7F) : 0;
        } else {
            a = me & 0x7F;
        }
        int b;
        switch (laststatus) {
        case 0:
            b = tf_getc(tf) & 0x7F;
            add_event_at(at, ME_NOTEOFF, lastchan, a, b);
            break;
        case 1:
            b = tf_getc(tf) & 0x7F;
            add_event_at(at, b ? ME_NOTEON : ME_NOTEOFF, lastchan, a, b);
            break;
        case 2:
            b = tf_getc(tf) & 0x7F;
            add_event_at(at, ME_KEYPRESSURE, lastchan, a, b);
            break;
        case 3: {
            int c = tf_getc(tf);
            readmidi_add_ctl_event(at, lastchan, a, (c == EOF) ? -1 : (c & 0x7F));
            break;
        }
        case 4:
            add_event_at(at, ME_PROGRAM, lastchan, a, 0);
            break;
        case 5:
            add_event_at(at, ME_CHANNEL_PRESSURE, lastchan, a, 0);
            break;
        case 6:
            b = tf_getc(tf) & 0x7F;
            add_event_at(at, ME_PITCHWHEEL, lastchan, a, b);
            break;
        case 7: {
            int sub = lastchan & 0x0F;
            switch (sub) {
            case 0x2:
                cmsg(CMSG_INFO, VERB_DEBUG, "(Sys Com Song Position Pntr)");
                skip(tf, 2);
                break;
            case 0x3:
                cmsg(CMSG_INFO, VERB_DEBUG, "(Sys Com Song Select(Song #))");
                skip(tf, 1);
                break;
            case 0x6: cmsg(CMSG_INFO, VERB_DEBUG, "(Sys Com tune request)"); break;
            case 0x8: cmsg(CMSG_INFO, VERB_DEBUG, "(Sys real time timing clock)"); break;
            case 0xA: cmsg(CMSG_INFO, VERB_DEBUG, "(Sys real time start)"); break;
            case 0xB: cmsg(CMSG_INFO, VERB_DEBUG, "(Sys real time continue)"); break;
            case 0xC: cmsg(CMSG_INFO, VERB_DEBUG, "(Sys real time stop)"); break;
            case 0xE: cmsg(CMSG_INFO, VERB_DEBUG, "(Sys real time active sensing)"); break;
            default:
                cmsg(CMSG_ERROR, VERB_NORMAL, "*** Can't happen: status 0x%02X channel 0x%02X",
                     laststatus, sub);
                break;
            }
            break;
        }
        }
    }
}

static int not_a_midi_file(const char* fn)
{
    if (errno)
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: %s", fn, strerror(errno));
    else
        cmsg(CMSG_WARNING, VERB_NORMAL, "%s: Not a MIDI file!", fn);
    return -1;
}

// Reads the container up to the "MThd" tag. Returns 0 when it was found.
static int find_smf_header(InputFile* tf, const char* fn)
{
    char magic[4];
    int riff_done = 0, prefix_done = 0;
    if (read_bytes(tf, magic, 4) != 0)
        return not_a_midi_file(fn);
    for (;;) {
        if (memcmp(magic, "MThd", 4) == 0)
            return 0;
        if (!riff_done && memcmp(magic, "RIFF", 4) == 0) {
            char riff[16];
            riff_done = 1;
            // size, "RMID", "data", size
            if (read_bytes(tf, riff, 16) != 0 || memcmp(riff + 4, "RMID", 4) != 0 ||
                memcmp(riff + 8, "data", 4) != 0) {
                cmsg(CMSG_WARNING, VERB_NORMAL, "%s: Not a MIDI file!", fn);
                return -1;
            }
        } else if (!prefix_done && magic[0] == 0) {
            prefix_done = 1;  // a 128-byte prefix
            skip(tf, 124);
        } else {
            cmsg(CMSG_WARNING, VERB_NORMAL, "%s: Not a MIDI file!", fn);
            return -1;
        }
        if (read_bytes(tf, magic, 4) != 0) {
            cmsg(CMSG_WARNING, VERB_NORMAL, "%s: Not a MIDI file!", fn);
            return -1;
        }
    }
}

static MidiEvent* fail_load(void)
{
    track_file = nullptr;
    free_midi_list();
    delete_string_table(&string_event_strtab);
    return nullptr;
}

MidiEvent* read_midi_file(InputFile* tf, int32* count, int32* sp, const char* fn)
{
    snprintf(reading_name, sizeof(reading_name), "%s", (fn != nullptr) ? fn : "");
    current_file_info = get_midi_file_info((fn != nullptr) ? fn : "", 1);
    smf_short_track = 0;
    smf_short_byte = -1;
    track_file = nullptr;
    drumchannels = current_file_info->drumchannels;
    drumchannel_mask = current_file_info->drumchannel_mask;
    errno = 0;

    for (int i = 16; i < 32; i++) {
        if ((drumchannel_mask >> i) & 1u)
            continue;
        if ((drumchannels >> (i - 16)) & 1u)
            drumchannels |= 1u << i;
        else
            drumchannels &= ~(1u << i);
    }
    if (opt_default_mid && (current_file_info->mid == 0 || current_file_info->mid >= 0x7E))
        current_file_info->mid = (uint8)opt_default_mid;

    if (find_smf_header(tf, reading_name) != 0)
        return nullptr;

    readmidi_read_init();
    if (current_file_info->file_type == IS_OTHER_FILE)
        current_file_info->file_type = IS_SMF_FILE;
    karaoke_title_flag = (current_file_info->karaoke_title != nullptr);

    uint8 h[10];
    if (read_bytes(tf, h, 4) != 0) {
        not_a_midi_file(reading_name);
        return fail_load();
    }
    uint32 hlen = ((uint32)h[0] << 24) | ((uint32)h[1] << 16) | ((uint32)h[2] << 8) | h[3];
    if (read_bytes(tf, h + 4, 6) != 0) {
        not_a_midi_file(reading_name);
        return fail_load();
    }
    int format = (h[4] << 8) | h[5];
    int tracks = (int16)((h[6] << 8) | h[7]);
    int division = (int16)((h[8] << 8) | h[9]);
    int32 divisions = division;
    if (division < 0)
        divisions = (int32)(-(int8)(h[8])) * h[9];

    if (hlen > 6) {
        cmsg(CMSG_WARNING, VERB_NORMAL, "%s: MIDI file header size %ld bytes", reading_name,
             (long)hlen);
        skip(tf, hlen - 6);
    }
    if (format > 2) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: Unknown MIDI file format %d", reading_name, format);
        return fail_load();
    }
    // Without ticks per quarter note (or per frame) no event can be timed.
    if (divisions <= 0) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: Invalid time division 0x%04X", reading_name,
             (unsigned)division & 0xFFFF);
        return fail_load();
    }
    cmsg(CMSG_INFO, VERB_VERBOSE, "Format: %d  Tracks: %d  Divisions: %d", format, tracks,
         divisions);

    long pos = tf_tell(tf);
    current_file_info->format = (int16)format;
    current_file_info->tracks = (int16)tracks;
    current_file_info->divisions = divisions;
    current_file_info->hdrsiz = (pos >= 0 && pos <= 0x7FFF) ? (int16)pos : -1;
    smf_format = format;
    readmidi_smpte_timing = (division < 0);

    int failed = 0;
    if (format == 0) {
        if (tracks > 0)
            failed = (read_smf_track(tf, 1, 1) != 0);
    } else {
        for (int i = 0; i < tracks; i++) {
            if (read_smf_track(tf, i, format == 1) != 0) {
                failed = 1;
                break;
            }
        }
    }
    if (failed && !ignore_midi_error)
        return fail_load();

    track_file = nullptr;
    MidiEvent* ev = build_event_array(divisions, count, sp);
    if (ev == nullptr)
        return fail_load();
    return ev;
}

MidiEvent* read_midi_memory(const void* data, long size, int32* count, int32* sp,
                            const char* fn)
{
    if (size < 0 || size > 0x7FFFFFFF) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: Can't read a song of %ld bytes", fn, size);
        return nullptr;
    }
    InputFile* tf = open_with_mem((char*)data, (int32)size, OF_NORMAL);
    if (tf == nullptr)
        return nullptr;
    MidiEvent* ev = read_midi_file(tf, count, sp, fn);
    close_file(tf);
    return ev;
}
