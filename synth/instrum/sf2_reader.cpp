// The SoundFont 2 tables: every chunk size is checked against its parent, every table against
// its record size and its terminal record, every index against the table it points into, and
// every sample header against the sample data, before anything is used.
#include "instrum/sf2_reader.h"

#include <cstdio>
#include <cstring>

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

// Splits [p, p + len) into chunks; false with a message when one runs past the end.
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
            *err = std::string("chunk \"") + c.id + "\" in " + where + " runs past its end (" +
                   std::to_string(c.size) + " bytes, " + std::to_string(len - pos - 8) + " left)";
            return false;
        }
        c.data = p + pos + 8;
        out->push_back(c);
        pos += 8 + (size_t)c.size + (c.size & 1);
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

void copy_name(char dst[21], const uint8* src)
{
    memcpy(dst, src, 20);
    dst[20] = '\0';
    for (int i = 0; i < 20; i++)
        if (dst[i] != '\0' && (dst[i] < 32 || dst[i] > 126))
            dst[i] = '?';
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
                const Chunk* bag, uint32 bags, const Chunk* gen, uint32 gens, uint32 mods,
                bool inst, uint32 targets, std::vector<SF2ZoneList>* out, std::string* err)
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
            const uint32 m0 = u16(bag->data + b * 4 + 2), m1 = u16(bag->data + b * 4 + 6);
            if (g0 > g1 || g1 >= gens || m0 > m1 || m1 >= mods) {
                *err = std::string(kind) + " \"" + zl.name + "\" has a zone whose generators (" +
                       std::to_string(g0) + ".." + std::to_string(g1) + ") or modulators (" +
                       std::to_string(m0) + ".." + std::to_string(m1) +
                       ") lie outside their tables";
                return false;
            }
            SF2Zone z;
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
    if (((uintptr_t)smpl->data & 1) != 0)
        return fail(f, err, "sample data at an odd offset");
    f->points = (const int16*)(const void*)smpl->data;
    f->point_count = smpl->size / 2;

    const Chunk *phdr, *pbag, *pmod, *pgen, *inst, *ibag, *imod, *igen, *shdr;
    uint32 nphdr, npbag, npmod, npgen, ninst, nibag, nimod, nigen, nshdr;
    if (!table(d, "phdr", 38, 2, &phdr, &nphdr, err) || !table(d, "pbag", 4, 1, &pbag, &npbag, err) ||
        !table(d, "pmod", 10, 1, &pmod, &npmod, err) || !table(d, "pgen", 4, 1, &pgen, &npgen, err) ||
        !table(d, "inst", 22, 2, &inst, &ninst, err) || !table(d, "ibag", 4, 1, &ibag, &nibag, err) ||
        !table(d, "imod", 10, 1, &imod, &nimod, err) || !table(d, "igen", 4, 1, &igen, &nigen, err) ||
        !table(d, "shdr", 46, 2, &shdr, &nshdr, err))
        return fail(f, err, *err);

    if (!read_zones(phdr, 38, nphdr, 24, pbag, npbag, pgen, npgen, npmod, false, ninst,
                    &f->presets, err) ||
        !read_zones(inst, 22, ninst, 20, ibag, nibag, igen, nigen, nimod, true, nshdr,
                    &f->instruments, err))
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
        if ((h.type & 0x8000) == 0 && (h.start > h.end || h.end > f->point_count))
            return fail(f, err, std::string("sample \"") + h.name + "\" has points " +
                                    std::to_string(h.start) + ".." + std::to_string(h.end) +
                                    " outside the " + std::to_string(f->point_count) +
                                    " points of sample data");
    }
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

const SF2ZoneList* sf2_find_preset(const SF2File* f, int bank, int preset)
{
    for (const SF2ZoneList& p : f->presets)
        if (p.bank == bank && p.preset == preset)
            return &p;
    return nullptr;
}
