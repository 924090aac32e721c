// The audio file writers: RIFF WAVE ("w"), raw data ("r"), Sun audio ("u") and AIFF ("a").
// Each writes the output's name ("-" is standard output) in the selected encoding and rate.
// A failed write is reported and fails output_data, so playback ends with an error rather
// than leaving a short file behind unnoticed. On a seekable file the header's sizes are
// set when the file closes; on a pipe the header keeps the sizes of a stream of unknown length.
// A WAVE file reserves room for a "ds64" chunk: when its data pass the 32-bit size fields it
// becomes an RF64 file (EBU Tech 3306) on closing. Sun audio and AIFF files cannot grow past
// those fields: the writer stops with an error before the header would be wrong.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "frontend/controls.h"
#include "output/audio_files.h"
#include "output/output.h"

namespace {

enum FileKind { FILE_WAVE, FILE_RAW, FILE_AU, FILE_AIFF };

struct AudioFile {
    FileKind kind;
    PlayMode* mode;
    int own_fd;        // the writer opened it (not standard output)
    off_t header_at;   // where the header starts, -1 when the file cannot seek
    int header_bytes;
    uint64 data_bytes;
    int failed;
};

// Big- and little-endian writers into a header buffer.
struct Header {
    unsigned char b[128];
    int n = 0;
    void bytes(const char* s, int k)
    {
        memcpy(b + n, s, (size_t)k);
        n += k;
    }
    void le16(unsigned v)
    {
        b[n++] = (unsigned char)v;
        b[n++] = (unsigned char)(v >> 8);
    }
    void le32(uint32 v)
    {
        for (int i = 0; i < 4; i++)
            b[n++] = (unsigned char)(v >> (8 * i));
    }
    void be16(unsigned v)
    {
        b[n++] = (unsigned char)(v >> 8);
        b[n++] = (unsigned char)v;
    }
    void le64(uint64 v)
    {
        le32((uint32)v);
        le32((uint32)(v >> 32));
    }
    void be32(uint32 v)
    {
        for (int i = 3; i >= 0; i--)
            b[n++] = (unsigned char)(v >> (8 * i));
    }
    // 80-bit extended precision, as AIFF stores its rate.
    void be_extended(uint32 rate)
    {
        if (rate == 0) {
            for (int i = 0; i < 10; i++)
                b[n++] = 0;
            return;
        }
        int e = 31;
        while (!(rate & (1u << e)))
            e--;
        be16((unsigned)(16383 + e));
        uint64 mantissa = (uint64)rate << (63 - e);
        for (int i = 7; i >= 0; i--)
            b[n++] = (unsigned char)(mantissa >> (8 * i));
    }
};

const char* file_label(const PlayMode* pm)
{
    return strcmp(pm->name, "-") == 0 ? "standard output" : pm->name;
}

int channels_of(int32 enc)
{
    return (enc & PE_MONO) ? 1 : 2;
}

int sample_bits(int32 enc)
{
    return (enc & PE_24BIT) ? 24 : (enc & PE_16BIT) ? 16 : 8;
}

// The encodings each format can hold; other requests become the nearest one (with the
// usual notice).
int32 file_encoding(FileKind kind, int32 enc)
{
    bool law = (enc & (PE_ULAW | PE_ALAW)) != 0;
    bool wide = (enc & (PE_16BIT | PE_24BIT)) != 0;
    switch (kind) {
    case FILE_WAVE:  // little-endian; 8-bit unsigned, wider signed
        if (law)
            return validate_encoding(enc, 0, 0);
        return wide ? validate_encoding(enc, PE_SIGNED, PE_BYTESWAP)
                    : validate_encoding(enc, 0, PE_SIGNED | PE_BYTESWAP);
    case FILE_AU:  // big-endian signed, or a G.711 law
        if (law)
            return validate_encoding(enc, 0, 0);
        return wide ? validate_encoding(enc, PE_SIGNED | PE_BYTESWAP, 0) : validate_encoding(enc, PE_SIGNED, 0);
    case FILE_AIFF:  // big-endian signed; no laws
        if (law)
            return validate_encoding(enc, PE_16BIT | PE_SIGNED | PE_BYTESWAP, PE_ULAW | PE_ALAW);
        return wide ? validate_encoding(enc, PE_SIGNED | PE_BYTESWAP, 0) : validate_encoding(enc, PE_SIGNED, 0);
    default:
        return validate_encoding(enc, 0, 0);
    }
}

// The header for data_bytes of data; known is false while the length is not known yet.
Header build_header(const AudioFile& f, bool known)
{
    const PlayMode* pm = f.mode;
    int32 enc = pm->encoding;
    int ch = channels_of(enc);
    int bits = sample_bits(enc);
    bool law = (enc & (PE_ULAW | PE_ALAW)) != 0;
    int frame = ch * bits / 8;
    uint64 data = f.data_bytes;
    Header h;
    switch (f.kind) {
    case FILE_WAVE: {
        // RIFF, a 28-byte chunk that becomes "ds64" in an RF64 file, fmt, (fact), data.
        int fmt_size = law ? 18 : 16;
        uint64 riff = 4 + 36 + 8 + fmt_size + (law ? 12 : 0) + 8 + data;
        bool rf64 = known && riff > 0xFFFFFFFFull;
        h.bytes(rf64 ? "RF64" : "RIFF", 4);
        h.le32(known && !rf64 ? (uint32)riff : 0xFFFFFFFFu);
        h.bytes("WAVE", 4);
        h.bytes(rf64 ? "ds64" : "JUNK", 4);
        h.le32(28);
        h.le64(rf64 ? riff : 0);
        h.le64(rf64 ? data : 0);
        h.le64(rf64 ? data / (uint64)frame : 0);
        h.le32(0);  // no table of other chunk sizes
        h.bytes("fmt ", 4);
        h.le32((uint32)fmt_size);
        h.le16((enc & PE_ULAW) ? 7 : (enc & PE_ALAW) ? 6 : 1);
        h.le16((unsigned)ch);
        h.le32((uint32)pm->rate);
        h.le32((uint32)(pm->rate * frame));
        h.le16((unsigned)frame);
        h.le16((unsigned)bits);
        if (law) {
            h.le16(0);
            h.bytes("fact", 4);
            h.le32(4);
            h.le32(known && !rf64 ? (uint32)(data / (uint64)frame) : 0xFFFFFFFFu);
        }
        h.bytes("data", 4);
        h.le32(known && !rf64 ? (uint32)data : 0xFFFFFFFFu);
        break;
    }
    case FILE_AU: {
        uint32 code = (enc & PE_ULAW) ? 1 : (enc & PE_ALAW) ? 27 : bits == 8 ? 2 : bits == 16 ? 3 : 4;
        h.bytes(".snd", 4);
        h.be32(32);  // the fixed fields and an empty 8-byte annotation
        h.be32(known ? (uint32)data : 0xFFFFFFFFu);  // file_write keeps data below 2^32 - 1
        h.be32(code);
        h.be32((uint32)pm->rate);
        h.be32((uint32)ch);
        h.be32(0);
        h.be32(0);
        break;
    }
    case FILE_AIFF: {
        uint64 padded = data + (data & 1);
        h.bytes("FORM", 4);
        h.be32(known ? (uint32)(4 + 26 + 16 + padded) : 0x7FFFFFFFu);  // kept in range by file_write
        h.bytes("AIFFCOMM", 8);
        h.be32(18);
        h.be16((unsigned)ch);
        h.be32(known ? (uint32)(data / (uint64)frame) : 0x7FFFFFFFu / (uint32)frame);
        h.be16((unsigned)bits);
        h.be_extended((uint32)pm->rate);
        h.bytes("SSND", 4);
        h.be32(known ? (uint32)(8 + data) : 0x7FFFFFFFu - 46);
        h.be32(0);
        h.be32(0);
        break;
    }
    default:
        break;
    }
    return h;
}

// Writes every byte, going on after short writes, interrupted calls and a full non-blocking
// pipe; 0 or an errno value.
int write_fully(int fd, const void* data, size_t bytes)
{
    const char* p = static_cast<const char*>(data);
    while (bytes > 0) {
        ssize_t w = write(fd, p, bytes);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // Standard output may have been left non-blocking: wait until it takes more.
                struct pollfd p = {fd, POLLOUT, 0};
                poll(&p, 1, -1);
                continue;
            }
            return errno;
        }
        if (w == 0)
            return EIO;
        p += w;
        bytes -= (size_t)w;
    }
    return 0;
}

off_t file_where(int fd)
{
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        return lseek(fd, 0, SEEK_CUR);
    return -1;
}

off_t file_seek(int fd, off_t at)
{
    return lseek(fd, at, SEEK_SET);
}

// The most data bytes a format's header can describe; none for WAVE (RF64) and raw data.
// A Sun audio stream of unknown length (on a pipe) has no limit either.
uint64 data_limit(const AudioFile& f)
{
    switch (f.kind) {
    case FILE_AU: return f.header_at >= 0 ? 0xFFFFFFFEull : ~0ull;  // all ones: unknown
    case FILE_AIFF: return 0xFFFFFFFFull - 46 - 1;                  // FORM size, pad byte
    default: return ~0ull;
    }
}

int file_open(AudioFile& f)
{
    PlayMode* pm = f.mode;
    f.data_bytes = 0;
    f.failed = 0;
    f.header_at = -1;
    f.header_bytes = 0;
    if (pm->name == nullptr || pm->name[0] == '\0') {
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: no output file name given", pm->id_name);
        return -1;
    }
    pm->encoding = file_encoding(f.kind, pm->encoding);

    int fd;
    if (strcmp(pm->name, "-") == 0) {
        fd = STDOUT_FILENO;
        f.own_fd = 0;
    } else {
        fd = open(pm->name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: %s", pm->name, strerror(errno));
            return -1;
        }
        f.own_fd = 1;
    }
    f.header_at = audio_file_io.where(fd);

    if (f.kind != FILE_RAW) {
        Header h = build_header(f, false);
        f.header_bytes = h.n;
        int err = audio_file_io.write(fd, h.b, (size_t)h.n);
        if (err != 0) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: write failed: %s", file_label(pm), strerror(err));
            if (f.own_fd)
                close(fd);
            return -1;
        }
    }
    pm->fd = fd;
    return 0;
}

int file_write(AudioFile& f, char* buf, int32 bytes)
{
    PlayMode* pm = f.mode;
    if (pm->fd < 0 || f.failed)
        return -1;
    if (bytes <= 0)
        return 0;
    if (f.data_bytes + (uint64)bytes > data_limit(f)) {
        cmsg(CMSG_ERROR, VERB_NORMAL,
             "%s: a %s holds at most 4 GiB of sound; the song is longer (a WAVE file can "
             "hold it)",
             file_label(pm), f.kind == FILE_AU ? "Sun audio file" : "AIFF file");
        f.failed = 1;
        return -1;
    }
    int err = audio_file_io.write(pm->fd, buf, (size_t)bytes);
    if (err != 0) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: write failed: %s", file_label(pm), strerror(err));
        f.failed = 1;
        return -1;
    }
    f.data_bytes += (uint64)bytes;
    return 0;
}

void file_close(AudioFile& f)
{
    PlayMode* pm = f.mode;
    if (pm->fd < 0)
        return;
    int err = 0;
    if (!f.failed && f.kind == FILE_AIFF && (f.data_bytes & 1)) {
        char pad = 0;
        err = audio_file_io.write(pm->fd, &pad, 1);
    }
    if (err == 0 && f.kind != FILE_RAW && f.header_at >= 0) {
        Header h = build_header(f, true);
        if (h.n == f.header_bytes && audio_file_io.seek(pm->fd, f.header_at) >= 0)
            err = audio_file_io.write(pm->fd, h.b, (size_t)h.n);
        else
            err = errno != 0 ? errno : EIO;
    }
    if (f.own_fd) {
        if (close(pm->fd) != 0 && err == 0)
            err = errno;
    }
    if (err != 0 && !f.failed)
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: write failed: %s", file_label(pm), strerror(err));
    pm->fd = -1;
}

AudioFile wave_file = {FILE_WAVE, &wave_play_mode, 0, -1, 0, 0, 0};
AudioFile raw_file = {FILE_RAW, &raw_play_mode, 0, -1, 0, 0, 0};
AudioFile au_file = {FILE_AU, &au_play_mode, 0, -1, 0, 0, 0};
AudioFile aiff_file = {FILE_AIFF, &aiff_play_mode, 0, -1, 0, 0, 0};

int wave_open(void) { return file_open(wave_file); }
void wave_close(void) { file_close(wave_file); }
int wave_output(char* buf, int32 bytes) { return file_write(wave_file, buf, bytes); }
int raw_open(void) { return file_open(raw_file); }
void raw_close(void) { file_close(raw_file); }
int raw_output(char* buf, int32 bytes) { return file_write(raw_file, buf, bytes); }
int au_open(void) { return file_open(au_file); }
void au_close(void) { file_close(au_file); }
int au_output(char* buf, int32 bytes) { return file_write(au_file, buf, bytes); }
int aiff_open(void) { return file_open(aiff_file); }
void aiff_close(void) { file_close(aiff_file); }
int aiff_output(char* buf, int32 bytes) { return file_write(aiff_file, buf, bytes); }

}  // namespace

int written_output_acntl(int request, void*)
{
    switch (request) {
    case PM_REQ_DISCARD:  // everything given has been written already
    case PM_REQ_FLUSH:
    case PM_REQ_OUTPUT_FINISH:
        return 0;
    default:
        return -1;
    }
}

AudioFileIo audio_file_io = {write_fully, file_where, file_seek};

PlayMode wave_play_mode = {44100, PE_16BIT | PE_SIGNED, PF_PCM_STREAM, -1, {0, 0, 0, 0, 0},
                           "RIFF WAVE file", 'w', nullptr, wave_open, wave_close, wave_output,
                           written_output_acntl, nullptr};
PlayMode raw_play_mode = {44100, PE_16BIT | PE_SIGNED, PF_PCM_STREAM, -1, {0, 0, 0, 0, 0},
                          "Raw waveform data", 'r', nullptr, raw_open, raw_close, raw_output,
                          written_output_acntl, nullptr};
PlayMode au_play_mode = {44100, PE_16BIT | PE_SIGNED, PF_PCM_STREAM, -1, {0, 0, 0, 0, 0},
                         "Sun audio file", 'u', nullptr, au_open, au_close, au_output,
                         written_output_acntl, nullptr};
PlayMode aiff_play_mode = {44100, PE_16BIT | PE_SIGNED, PF_PCM_STREAM, -1, {0, 0, 0, 0, 0},
                           "AIFF file", 'a', nullptr, aiff_open, aiff_close, aiff_output,
                           written_output_acntl, nullptr};
