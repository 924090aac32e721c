// The record kept for every song file, opening a song (from the record's cached copy when the
// source cannot be read twice), and the cheap format probe.
#include <cstdlib>
#include <cstring>
#include <zlib.h>

#include "config/files.h"
#include "frontend/controls.h"
#include "frontend/memory.h"
#include "play/playmidi.h"
#include "readmidi/readmidi.h"

MidiFileInfo* midi_file_info = nullptr;
MidiFileInfo* current_file_info = nullptr;

// The largest file copy kept for a source that cannot be read twice.
static const long max_cached_song = 64L * 1024 * 1024;

MidiFileInfo* new_midi_file_info(const char* filename)
{
    MidiFileInfo* p = (MidiFileInfo*)safe_malloc(sizeof(MidiFileInfo));
    memset(p, 0, sizeof(MidiFileInfo));
    p->hdrsiz = -1;
    p->format = -1;
    p->tracks = -1;
    p->divisions = -1;
    p->time_sig_n = p->time_sig_d = -1;
    p->samples = -1;
    p->max_channel = -1;
    p->drumchannels = default_drumchannels;
    p->drumchannel_mask = default_drumchannel_mask;
    p->filename = expand_home_dir(filename);
    p->next = midi_file_info;
    midi_file_info = p;
    return p;
}

MidiFileInfo* get_midi_file_info(const char* filename, int newp)
{
    char* fn = expand_home_dir(filename);
    MidiFileInfo* p;
    for (p = midi_file_info; p != nullptr; p = p->next)
        if (strcmp(p->filename, fn) == 0)
            break;
    free(fn);
    if (p == nullptr && newp)
        p = new_midi_file_info(filename);
    return p;
}

void free_all_midi_file_info(void)
{
    MidiFileInfo* p = midi_file_info;
    while (p != nullptr) {
        MidiFileInfo* next = p->next;
        free(p->filename);
        free(p->seq_name);
        free(p->karaoke_title);
        free(p->first_text);
        free(p->midi_data);
        free(p->pcm_filename);
        if (p->pcm_tf != nullptr)
            close_file(p->pcm_tf);
        free(p);
        p = next;
    }
    midi_file_info = nullptr;
    current_file_info = nullptr;
}

InputFile* open_midi_file(const char* name, int decompress, int noise_mode)
{
    MidiFileInfo* p = get_midi_file_info(name, 0);
    if (p == nullptr || p->midi_data == nullptr)
        return open_file(name, decompress, noise_mode);
    InputFile* tf = open_with_mem(p->midi_data, p->midi_data_size, noise_mode);
    if (tf != nullptr && p->compressed) {
        URL u = url_inflate_open(tf->url);
        if (u == nullptr) {
            close_file(tf);
            return nullptr;
        }
        tf->url = u;
    }
    return tf;
}

// Reads the rest of a stream into p->midi_data, gzip-compressed. Returns 0 on success.
static int cache_song_data(InputFile* tf, MidiFileInfo* p)
{
    long cap = 65536, size = 0;
    char* buf = (char*)safe_large_malloc((size_t)cap);
    for (;;) {
        if (size == cap) {
            if (cap >= max_cached_song) {
                cmsg(CMSG_WARNING, VERB_VERBOSE, "%s: too large to keep in memory", p->filename);
                free(buf);
                return -1;
            }
            char* bigger = (char*)safe_large_malloc((size_t)cap * 2);
            memcpy(bigger, buf, (size_t)size);
            free(buf);
            buf = bigger;
            cap *= 2;
        }
        long n = tf_read(buf + size, 1, (int32)(cap - size), tf);
        if (n <= 0)
            break;
        size += n;
    }

    z_stream zs;
    memset(&zs, 0, sizeof(zs));
    // 16 + 15: gzip framing, which the decoding stream expects.
    if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
        free(buf);
        return -1;
    }
    uLong bound = deflateBound(&zs, (uLong)size);
    char* out = (char*)safe_large_malloc((size_t)bound);
    zs.next_in = (Bytef*)buf;
    zs.avail_in = (uInt)size;
    zs.next_out = (Bytef*)out;
    zs.avail_out = (uInt)bound;
    int r = deflate(&zs, Z_FINISH);
    long outsize = (long)zs.total_out;
    deflateEnd(&zs);
    free(buf);
    if (r != Z_STREAM_END) {
        free(out);
        return -1;
    }
    free(p->midi_data);
    p->midi_data = out;
    p->midi_data_size = (int32)outsize;
    p->compressed = 1;
    return 0;
}

int check_midi_file(const char* filename)
{
    MidiFileInfo* p = get_midi_file_info(filename, 1);
    if (p->format >= 0)
        return p->format;

    InputFile* tf = open_midi_file(filename, 1, OF_SILENT);
    if (tf == nullptr)
        return -1;
    // A source that cannot be read twice is kept in memory for the read that plays it.
    if (p->midi_data == nullptr && (tf->url->url_seek == nullptr || tf->url->type == URL_buff_t)) {
        int cached = cache_song_data(tf, p);
        close_file(tf);
        if (cached != 0)
            return -1;
        tf = open_midi_file(filename, 1, OF_SILENT);
        if (tf == nullptr)
            return -1;
    }

    int format = -1;
    unsigned char magic[16];
    if (tf_read(magic, 1, 4, tf) == 4) {
        if (magic[0] == 0) {  // a 128-byte prefix
            skip(tf, 124);
            if (tf_read(magic, 1, 4, tf) != 4)
                magic[0] = 0xFF;
        }
        if (memcmp(magic, "RIFF", 4) == 0) {
            if (tf_read(magic, 1, 16, tf) != 16 || memcmp(magic + 4, "RMID", 4) != 0 ||
                tf_read(magic, 1, 4, tf) != 4)
                magic[0] = 0xFF;
        }
        if (memcmp(magic, "RCM-", 4) == 0 || memcmp(magic, "COME", 4) == 0 ||
            memcmp(magic, "M1", 2) == 0) {
            format = 1;
        } else if (memcmp(magic, "MThd", 4) == 0) {
            unsigned char h[6];
            if (tf_read(h, 1, 6, tf) == 6) {
                format = (h[4] << 8) | h[5];
                if (format > 2)
                    format = -1;
            }
        }
    }
    close_file(tf);
    p->format = (int16)format;
    return format;
}
