// The SoundFont 2 tables: every chunk size is checked against its parent, every table against
// its record size and its terminal record, every index against the table it points into, and
// every sample header against the sample data, before anything is used.
#include "instrum/sf2_reader.h"

#include <cstdio>
#include <cstring>

#include <vorbis/vorbisfile.h>

#include "frontend/controls.h"
#include "instrum/instrum.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

uint16 u16(const uint8* p)
{
    return (uint16)(p[0] | (p[1] << 8));
}

uint32 u32(const uint8* p)
{
    return (uint32)p[0] | ((uint32)p[1] << 8) | ((uint32)p[2] << 16) | ((uint32)p[3] << 24);
}

struct Chunk {
    char id[5];
    const uint8* data;
    uint32 size;
};

// Whether a chunk header at `pos` would fit in [0, len).
bool fits(const uint8* p, size_t len, size_t pos)
{
    return pos + 8 <= len && u32(p + pos + 4) <= len - pos - 8;
}

// Splits [p, p + len) into chunks; false with a message when one runs past the end. A chunk of
// odd size is followed by a pad byte, except in writers that leave it out (compressed fonts
// made by one widespread tool do): where the next header only fits without the pad, there is
// none.
bool chunks(const uint8* p, size_t len, std::vector<Chunk>* out, const char* where,
            std::string* err)
{
    size_t pos = 0;
    while (pos + 8 <= len) {
        Chunk c;
        memcpy(c.id, p + pos, 4);
        c.id[4] = '\0';
        c.size = u32(p + pos + 4);
        if (c.size > len - pos - 8) {
            *err = "chunk \"" + sf2_printable(c.id, 4) + "\" in " + where +
                   " runs past its end (" + std::to_string(c.size) + " bytes, " +
                   std::to_string(len - pos - 8) + " left)";
            return false;
        }
        c.data = p + pos + 8;
        out->push_back(c);
        pos += 8 + (size_t)c.size;
        if ((c.size & 1) && (fits(p, len, pos + 1) || !fits(p, len, pos)))
            pos++;
    }
    return true;
}

const Chunk* find(const std::vector<Chunk>& v, const char* id)
{
    for (const Chunk& c : v)
        if (memcmp(c.id, id, 4) == 0)
            return &c;
    return nullptr;
}

// A name of up to 20 bytes, ended by the first zero byte.
void copy_name(char dst[81], const uint8* src)
{
    const size_t n = strnlen((const char*)src, 20);
    const std::string t = sf2_printable(src, n);
    memcpy(dst, t.c_str(), t.size() + 1);
}

// The records of one table: its chunk, a whole number of records, at least `min` of them.
bool table(const std::vector<Chunk>& pdta, const char* id, uint32 record, uint32 min,
           const Chunk** out, uint32* count, std::string* err)
{
    const Chunk* c = find(pdta, id);
    if (c == nullptr) {
        *err = std::string("no \"") + id + "\" table";
        return false;
    }
    if (c->size % record != 0 || c->size / record < min) {
        *err = std::string("table \"") + id + "\" has a size of " + std::to_string(c->size) +
               " bytes, not a whole number of at least " + std::to_string(min) + " records of " +
               std::to_string(record);
        return false;
    }
    *out = c;
    *count = c->size / record;
    return true;
}

// Reads the zones of presets (inst = false) or instruments from their header, bag and
// generator tables. Header records carry the name at 0 and the first bag at `bag_at`.
bool read_zones(const Chunk* hdr, uint32 hdr_size, uint32 headers, uint32 bag_at,
                const Chunk* bag, uint32 bags, const Chunk* gen, uint32 gens, const Chunk* mod,
                uint32 mods, bool inst, uint32 targets, std::vector<SF2ZoneList>* out,
                bool* cut, std::string* err)
{
    const char* kind = inst ? "instrument" : "preset";
    const int target_gen = inst ? SF2_SAMPLE_ID : SF2_INSTRUMENT;
    out->resize(headers - 1);
    for (uint32 h = 0; h + 1 < headers; h++) {
        const uint8* rec = hdr->data + (size_t)h * hdr_size;
        SF2ZoneList& zl = (*out)[h];
        copy_name(zl.name, rec);
        if (!inst) {
            zl.preset = u16(rec + 20);
            zl.bank = u16(rec + 22);
        }
        const uint32 b0 = u16(rec + bag_at), b1 = u16(rec + hdr_size + bag_at);
        if (b0 > b1 || b1 >= bags) {
            *err = std::string(kind) + " \"" + zl.name + "\" has zones " + std::to_string(b0) +
                   ".." + std::to_string(b1) + " outside its zone table of " +
                   std::to_string(bags - 1);
            return false;
        }
        for (uint32 b = b0; b < b1; b++) {
            const uint32 g0 = u16(bag->data + b * 4), g1 = u16(bag->data + b * 4 + 4);
            uint32 m0 = u16(bag->data + b * 4 + 2), m1 = u16(bag->data + b * 4 + 6);
            if (g0 > g1 || g1 >= gens || m0 > m1 || m1 >= mods) {
                *err = std::string(kind) + " \"" + zl.name + "\" has a zone whose generators (" +
                       std::to_string(g0) + ".." + std::to_string(g1) + ") or modulators (" +
                       std::to_string(m0) + ".." + std::to_string(m1) +
                       ") lie outside their tables";
                return false;
            }
            SF2Zone z;
            // Real zones have a few modulators; a damaged table is cut short, not searched
            // for long.
            if (m1 - m0 > SF2_MAX_ZONE_MODULATORS) {
                if (!*cut)
                    cmsg(CMSG_WARNING, VERB_NORMAL,
                         "%s \"%s\" has a zone of %u modulators; only the first %d are used",
                         kind, zl.name, (unsigned)(m1 - m0), (int)SF2_MAX_ZONE_MODULATORS);
                *cut = true;
                m1 = m0 + SF2_MAX_ZONE_MODULATORS;
            }
            for (uint32 m = m0; m < m1; m++) {
                const uint8* mp = mod->data + (size_t)m * 10;
                sf2_put_modulator(&z.mods, {u16(mp), u16(mp + 2), u16(mp + 6), u16(mp + 8),
                                            (int16)u16(mp + 4)});
            }
            for (uint32 g = g0; g < g1; g++) {
                const uint8* gp = gen->data + g * 4;
                const uint16 oper = u16(gp);
                if (oper >= SF2_GEN_COUNT)
                    continue;  // unknown generators are ignored
                if (oper == SF2_KEY_RANGE || oper == SF2_VEL_RANGE) {
                    uint8 lo = gp[2] > 127 ? 127 : gp[2], hi = gp[3] > 127 ? 127 : gp[3];
                    if (oper == SF2_KEY_RANGE) {
                        z.key_lo = lo;
                        z.key_hi = hi;
                    } else {
                        z.vel_lo = lo;
                        z.vel_hi = hi;
                    }
                } else {
                    z.amount[oper] = (int16)u16(gp + 2);
                }
                z.set |= (uint64)1 << oper;
                if (oper == target_gen)
                    break;  // the target ends a zone
            }
            if (z.has(target_gen)) {
                const uint32 t = (uint16)z.amount[target_gen];
                if (t + 1 >= targets) {
                    *err = std::string(kind) + " \"" + zl.name + "\" points at " +
                           (inst ? "sample " : "instrument ") + std::to_string(t) + " of " +
                           std::to_string(targets - 1);
                    return false;
                }
                z.target = (int)t;
                zl.zones.push_back(z);
            } else if (b == b0) {
                zl.global = z;  // a first zone without a target is the global zone
            }
            // other zones without a target are ignored
        }
    }
    return true;
}

SF2File* fail(SF2File* f, std::string* err, const std::string& why)
{
    delete f;
    *err = why;
    return nullptr;
}

}  // namespace

SF2File::~SF2File()
{
    if (map != nullptr)
        munmap(map, map_length);
}

SF2File* sf2_read_memory(const void* data, size_t size, const char* name, std::string* err)
{
    SF2File* f = new SF2File;
    f->name = name;
    const uint8* p = (const uint8*)data;
    if (size < 12 || memcmp(p, "RIFF", 4) != 0 || memcmp(p + 8, "sfbk", 4) != 0)
        return fail(f, err, "not a SoundFont (no RIFF \"sfbk\" header)");
    const uint32 riff = u32(p + 4);
    if (riff < 4 || riff > size - 8)
        return fail(f, err, "truncated: the RIFF header announces " + std::to_string(riff) +
                                " bytes, the file holds " + std::to_string(size - 8));
    std::vector<Chunk> top;
    if (!chunks(p + 12, riff - 4, &top, "the file", err))
        return fail(f, err, *err);
    const Chunk* sdta = nullptr;
    const Chunk* pdta = nullptr;
    for (const Chunk& c : top) {
        if (memcmp(c.id, "LIST", 4) != 0 || c.size < 4)
            continue;
        if (memcmp(c.data, "sdta", 4) == 0)
            sdta = &c;
        else if (memcmp(c.data, "pdta", 4) == 0)
            pdta = &c;
    }
    if (sdta == nullptr || pdta == nullptr)
        return fail(f, err, sdta == nullptr ? "no sample data (\"sdta\" list)"
                                            : "no preset data (\"pdta\" list)");
    std::vector<Chunk> s, d;
    if (!chunks(sdta->data + 4, sdta->size - 4, &s, "\"sdta\"", err) ||
        !chunks(pdta->data + 4, pdta->size - 4, &d, "\"pdta\"", err))
        return fail(f, err, *err);
    const Chunk* smpl = find(s, "smpl");
    if (smpl == nullptr)
        return fail(f, err, "no 16-bit sample data (\"smpl\" chunk)");
    f->smpl = smpl->data;
    f->smpl_bytes = smpl->size;
    // Points at an odd offset cannot be read in place: only compressed samples can be used.
    if (((uintptr_t)smpl->data & 1) == 0) {
        f->points = (const int16*)(const void*)smpl->data;
        f->point_count = smpl->size / 2;
    }
    const Chunk* sm24 = find(s, "sm24");
    if (sm24 != nullptr && f->point_count > 0) {
        if (sm24->size >= f->point_count && sm24->size <= f->point_count + 1)
            f->sm24 = sm24->data;
        else
            cmsg(CMSG_WARNING, VERB_NORMAL,
                 "%s: the 24-bit sample data (\"sm24\", %u bytes) does not match the %u points "
                 "of 16-bit data; played with 16 bits",
                 name, (unsigned)sm24->size, (unsigned)f->point_count);
    }

    const Chunk *phdr, *pbag, *pmod, *pgen, *inst, *ibag, *imod, *igen, *shdr;
    uint32 nphdr, npbag, npmod, npgen, ninst, nibag, nimod, nigen, nshdr;
    if (!table(d, "phdr", 38, 2, &phdr, &nphdr, err) || !table(d, "pbag", 4, 1, &pbag, &npbag, err) ||
        !table(d, "pmod", 10, 1, &pmod, &npmod, err) || !table(d, "pgen", 4, 1, &pgen, &npgen, err) ||
        !table(d, "inst", 22, 2, &inst, &ninst, err) || !table(d, "ibag", 4, 1, &ibag, &nibag, err) ||
        !table(d, "imod", 10, 1, &imod, &nimod, err) || !table(d, "igen", 4, 1, &igen, &nigen, err) ||
        !table(d, "shdr", 46, 2, &shdr, &nshdr, err))
        return fail(f, err, *err);

    bool cut = false;  // a zone's modulators were cut short (said once)
    if (!read_zones(phdr, 38, nphdr, 24, pbag, npbag, pgen, npgen, pmod, npmod, false, ninst,
                    &f->presets, &cut, err) ||
        !read_zones(inst, 22, ninst, 20, ibag, nibag, igen, nigen, imod, nimod, true, nshdr,
                    &f->instruments, &cut, err))
        return fail(f, err, *err);

    f->samples.resize(nshdr - 1);
    for (uint32 i = 0; i + 1 < nshdr; i++) {
        const uint8* r = shdr->data + (size_t)i * 46;
        SF2SampleHeader& h = f->samples[i];
        copy_name(h.name, r);
        h.start = u32(r + 20);
        h.end = u32(r + 24);
        h.loop_start = u32(r + 28);
        h.loop_end = u32(r + 32);
        h.rate = u32(r + 36);
        h.root_key = r[40];
        h.correction = (int8)r[41];
        h.link = u16(r + 42);
        h.type = u16(r + 44);
        // Sample points past the data are a damaged table; loops are checked per zone,
        // where the offset generators move them.
        if (h.type & 0x8000)
            continue;  // in ROM, left out when used
        if (h.type & SF2_SAMPLE_VORBIS) {
            f->compressed = true;
            if (h.start > h.end || h.end > f->smpl_bytes)
                return fail(f, err, std::string("compressed sample \"") + h.name +
                                        "\" has bytes " + std::to_string(h.start) + ".." +
                                        std::to_string(h.end) + " outside the " +
                                        std::to_string(f->smpl_bytes) + " bytes of sample data");
        } else if (h.start > h.end || h.end > f->point_count) {
            return fail(f, err, std::string("sample \"") + h.name + "\" has points " +
                                    std::to_string(h.start) + ".." + std::to_string(h.end) +
                                    " outside the " + std::to_string(f->point_count) +
                                    " points of sample data");
        }
    }
    if (f->compressed || f->sm24 != nullptr)
        f->decoded.resize(f->samples.size());
    return f;
}

SF2File* sf2_open(const char* path, const char* name, std::string* err)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *err = std::string("can't open: ") + strerror(errno);
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 12) {
        close(fd);
        *err = "not a SoundFont (not a regular file of at least 12 bytes)";
        return nullptr;
    }
    const size_t len = (size_t)st.st_size;
    void* map = mmap(nullptr, len, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (map == MAP_FAILED) {
        *err = std::string("can't map: ") + strerror(errno);
        return nullptr;
    }
    SF2File* f = sf2_read_memory(map, len, name, err);
    if (f == nullptr) {
        munmap(map, len);
        return nullptr;
    }
    f->map = map;
    f->map_length = len;
    return f;
}

void sf2_put_modulator(std::vector<SF2Modulator>* list, const SF2Modulator& m)
{
    for (SF2Modulator& o : *list)
        if (sf2_same_modulator(o, m)) {
            o = m;
            return;
        }
    list->push_back(m);
}

const SF2ZoneList* sf2_find_preset(const SF2File* f, int bank, int preset)
{
    for (const SF2ZoneList& p : f->presets)
        if (p.bank == bank && p.preset == preset)
            return &p;
    return nullptr;
}

std::string sf2_printable(const void* text, size_t length)
{
    std::string r;
    const uint8* p = (const uint8*)text;
    for (size_t i = 0; i < length; i++) {
        if (p[i] >= 32 && p[i] < 127 && p[i] != '\\') {
            r += (char)p[i];
        } else {
            char hex[5];
            snprintf(hex, sizeof(hex), "\\x%02X", p[i]);
            r += hex;
        }
    }
    return r;
}

bool sf2_needs_decoding(const SF2File* f, int index)
{
    return (f->samples[index].type & SF2_SAMPLE_VORBIS) != 0 || f->sm24 != nullptr;
}

namespace {

// An Ogg Vorbis stream read from memory.
struct MemoryStream {
    const uint8* data;
    size_t size, pos;
};

size_t stream_read(void* dst, size_t size, size_t n, void* src)
{
    MemoryStream* m = (MemoryStream*)src;
    size_t bytes = size * n;
    if (bytes > m->size - m->pos)
        bytes = m->size - m->pos;
    memcpy(dst, m->data + m->pos, bytes);
    m->pos += bytes;
    return size == 0 ? 0 : bytes / size;
}

int stream_seek(void* src, ogg_int64_t offset, int whence)
{
    MemoryStream* m = (MemoryStream*)src;
    const ogg_int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? (ogg_int64_t)m->pos
                                                                         : (ogg_int64_t)m->size;
    if (base + offset < 0 || base + offset > (ogg_int64_t)m->size)
        return -1;
    m->pos = (size_t)(base + offset);
    return 0;
}

long stream_tell(void* src)
{
    return (long)((MemoryStream*)src)->pos;
}

const char* vorbis_error(long code)
{
    switch (code) {
    case OV_EREAD: return "read error";
    case OV_ENOTVORBIS: return "not an Ogg Vorbis stream";
    case OV_EVERSION: return "unknown Vorbis version";
    case OV_EBADHEADER: return "damaged Vorbis header";
    case OV_EFAULT: return "decoder fault";
    case OV_HOLE: return "data missing or damaged in the stream";
    case OV_EBADLINK: return "damaged stream link";
    default: return "damaged stream";
    }
}

// Opens a stream of the font for reading; false with the reason.
bool open_stream(MemoryStream* m, OggVorbis_File* vf, std::string* why)
{
    const ov_callbacks io = {stream_read, stream_seek, nullptr, stream_tell};
    const int rc = ov_open_callbacks(m, vf, nullptr, 0, io);
    if (rc != 0) {
        *why = vorbis_error(rc);
        return false;
    }
    const vorbis_info* vi = ov_info(vf, -1);
    if (vi == nullptr || vi->channels != 1) {
        ov_clear(vf);
        *why = "not a one-channel stream";
        return false;
    }
    return true;
}

// Decodes one mono stream into d; false with the reason.
bool decode_vorbis(const uint8* data, size_t size, SF2Decoded* d, std::string* why)
{
    MemoryStream m = {data, size, 0};
    OggVorbis_File vf;
    if (!open_stream(&m, &vf, why))
        return false;
    bool ok = true;
    std::vector<int16>& out = d->points;
    if (d->announced > 0)
        out.reserve((size_t)d->announced + 2);
    while (ok) {
        char buf[8192];
        int section = 0;
        const long n = ov_read(&vf, buf, sizeof(buf), 0, 2, 1, &section);
        if (n == 0)
            break;
        if (n < 0) {
            *why = vorbis_error(n);
            ok = false;
            break;
        }
        // Later links of a chained stream may have other channel counts: only mono is taken.
        const vorbis_info* li = ov_info(&vf, section);
        if (li == nullptr || li->channels != 1) {
            *why = "not a one-channel stream";
            ok = false;
            break;
        }
        if (out.size() + (size_t)n / 2 > MAX_SAMPLE_FRAMES) {
            *why = "longer than " + std::to_string(MAX_SAMPLE_FRAMES) + " frames";
            ok = false;
            break;
        }
        const size_t at = out.size();
        out.resize(at + (size_t)n / 2);
        memcpy(out.data() + at, buf, (size_t)n / 2 * 2);
    }
    ov_clear(&vf);
    if (ok && out.empty()) {
        *why = "no audio in the stream";
        ok = false;
    }
    return ok;
}

}  // namespace

int64 sf2_announced_frames(const SF2File* f, int index, std::string* why)
{
    why->clear();
    SF2Decoded& d = f->decoded[index];
    if (d.announced >= 0)
        return d.announced;
    const SF2SampleHeader& h = f->samples[index];
    MemoryStream m = {f->smpl + h.start, h.end - h.start, 0};
    OggVorbis_File vf;
    d.announced = 0;
    if (!open_stream(&m, &vf, why))
        return 0;
    const ogg_int64_t n = ov_pcm_total(&vf, -1);
    ov_clear(&vf);
    if (n <= 0 || n > (ogg_int64_t)MAX_SAMPLE_FRAMES) {
        *why = n <= 0 ? "no length in the stream" : "longer than " + std::to_string(MAX_SAMPLE_FRAMES) + " frames";
        return 0;
    }
    d.announced = n;
    return n;
}

const SF2Decoded* sf2_decoded_sample(const SF2File* f, int index, std::string* why)
{
    why->clear();
    SF2Decoded& d = f->decoded[index];
    if (d.tried)
        return d.frames > 0 ? &d : nullptr;
    d.tried = true;
    const SF2SampleHeader& h = f->samples[index];
    bool ok;
    if (h.type & SF2_SAMPLE_VORBIS) {
        ok = decode_vorbis(f->smpl + h.start, h.end - h.start, &d, why);
    } else {
        // 24-bit points rounded to the nearest 16-bit value.
        d.points.resize(h.end - h.start);
        for (uint32 i = h.start; i < h.end; i++) {
            const int32 r = f->points[i] + (f->sm24[i] >= 128 ? 1 : 0);
            d.points[i - h.start] = (int16)(r > 32767 ? 32767 : r);
        }
        ok = !d.points.empty();
        if (!ok)
            *why = "no points";
    }
    if (!ok) {
        d.points = std::vector<int16>();
        return nullptr;
    }
    d.frames = (uint32)d.points.size();
    d.points.resize(d.points.size() + 2, 0);
    return &d;
}
