// Writes small SoundFont 2 files for tests: samples (each followed by 46 silent points), zones
// of generators in order (the instrument or sample last) and modulators; low bytes add an
// "sm24" chunk, and a compressed font is SF3 with each sample an Ogg Vorbis stream.
#ifndef CORVELLE_TESTS_SUPPORT_SF2_WRITER_H
#define CORVELLE_TESTS_SUPPORT_SF2_WRITER_H

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <vorbis/vorbisenc.h>

struct Sf2Gen {
    uint16_t oper;
    int16_t amount;  // for key and velocity ranges: lo | hi << 8
};
inline Sf2Gen sf2_range(uint16_t oper, int lo, int hi)
{
    return {oper, (int16_t)(lo | hi << 8)};
}

struct Sf2SampleDef {
    std::string name;
    std::vector<int16_t> data;
    uint32_t loop_start = 0, loop_end = 0;  // points from the sample's start
    uint32_t rate = 44100;
    uint8_t root = 60;
    int8_t correction = 0;
    uint16_t link = 0, type = 1;
    std::string stream{};        // compressed fonts: this stream as it stands, not encoded
    std::vector<uint8_t> low{};  // the low bytes of 24-bit points (all samples or none have them)
};
// A modulator as the font stores it.
struct Sf2Mod {
    uint16_t src, dest;
    int16_t amount;
    uint16_t amount_src = 0, transform = 0;
};
struct Sf2ZoneDef {
    std::vector<Sf2Gen> gens;
    int target = -1;  // instrument (preset zone) or sample (instrument zone); -1: global zone
    std::vector<Sf2Mod> mods{};
};
struct Sf2InstDef {
    std::string name;
    std::vector<Sf2ZoneDef> zones;
};
struct Sf2PresetDef {
    std::string name;
    uint16_t preset = 0, bank = 0;
    std::vector<Sf2ZoneDef> zones;
};
struct Sf2FontDef {
    std::vector<Sf2SampleDef> samples;
    std::vector<Sf2InstDef> instruments;
    std::vector<Sf2PresetDef> presets;
    bool compressed = false;  // SF3: Ogg Vorbis samples
};

// A mono Ogg Vorbis stream of the points (quality 0.8 of libvorbisenc's 0..1).
inline std::string sf2_vorbis(const std::vector<int16_t>& points, uint32_t rate)
{
    vorbis_info vi;
    vorbis_info_init(&vi);
    if (vorbis_encode_init_vbr(&vi, 1, (long)rate, 0.8f) != 0)
        abort();
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    vorbis_dsp_state vd;
    vorbis_block vb;
    vorbis_analysis_init(&vd, &vi);
    vorbis_block_init(&vd, &vb);
    ogg_stream_state os;
    ogg_stream_init(&os, 1);
    std::string out;
    ogg_page og;
    auto drain = [&](bool flush) {
        while (flush ? ogg_stream_flush(&os, &og) : ogg_stream_pageout(&os, &og)) {
            out.append((const char*)og.header, (size_t)og.header_len);
            out.append((const char*)og.body, (size_t)og.body_len);
        }
    };
    ogg_packet h[3];
    vorbis_analysis_headerout(&vd, &vc, &h[0], &h[1], &h[2]);
    for (ogg_packet& p : h)
        ogg_stream_packetin(&os, &p);
    drain(true);
    float** buf = vorbis_analysis_buffer(&vd, (int)points.size());
    for (size_t i = 0; i < points.size(); i++)
        buf[0][i] = points[i] / 32768.0f;
    for (int n : {(int)points.size(), 0}) {
        vorbis_analysis_wrote(&vd, n);  // 0 ends the stream
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr);
            vorbis_bitrate_addblock(&vb);
            ogg_packet op;
            while (vorbis_bitrate_flushpacket(&vd, &op))
                ogg_stream_packetin(&os, &op);
        }
        drain(false);
    }
    drain(true);
    ogg_stream_clear(&os);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    return out;
}

// n points of a sine whose period is `period` points, at `amplitude` of full scale.
inline std::vector<int16_t> sf2_sine(size_t n, double period, double amplitude = 0.5)
{
    std::vector<int16_t> v(n);
    for (size_t i = 0; i < n; i++)
        v[i] = (int16_t)std::lround(32767 * amplitude * std::sin(2 * M_PI * (double)i / period));
    return v;
}
// A sample of n points of that sine at root key 69, looped over [ls, le) unless both are 0.
inline Sf2SampleDef sf2_sine_sample(const char* name, double period, size_t n = 4000,
                                    uint32_t ls = 1000, uint32_t le = 3000)
{
    Sf2SampleDef s{name, sf2_sine(n, period), ls, le};
    s.root = 69;
    return s;
}

namespace sf2w {
inline void put(std::string& s, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; i++)
        s += (char)(v >> (8 * i));
}
inline void name20(std::string& s, const std::string& n)
{
    std::string t = n.substr(0, 20);
    t.resize(20, '\0');
    s += t;
}
inline std::string chunk(const std::string& id, const std::string& body)
{
    std::string s = id;
    put(s, body.size(), 4);
    s += body;
    if (body.size() & 1)
        s += '\0';
    return s;
}
// A record's header: its name, its preset and bank numbers (presets only) and first zone.
inline void header(std::string& s, const Sf2InstDef& i, int bag)
{
    name20(s, i.name);
    put(s, (uint64_t)bag, 2);
}
inline void header(std::string& s, const Sf2PresetDef& p, int bag)
{
    name20(s, p.name);
    put(s, p.preset | (uint64_t)p.bank << 16 | (uint64_t)bag << 32, 6);
    s.append(12, '\0');
}
// The header, bag, generator and modulator tables of instruments or presets, each closed by its
// terminal record; target_gen is the generator that names a zone's sample or instrument.
template <class R>
void tables(const std::vector<R>& records, const R& last, uint16_t target_gen, std::string& hdr,
            std::string& bag, std::string& gen, std::string& mod)
{
    int gens = 0, mods = 0, bags = 0;
    for (const R& r : records) {
        header(hdr, r, bags);
        bags += (int)r.zones.size();
        for (const Sf2ZoneDef& z : r.zones) {
            put(bag, (uint64_t)gens | (uint64_t)mods << 16, 4);
            for (const Sf2Mod& m : z.mods)
                for (uint16_t v : {m.src, m.dest, (uint16_t)m.amount, m.amount_src, m.transform})
                    put(mod, v, 2);
            std::vector<Sf2Gen> all = z.gens;
            if (z.target >= 0)
                all.push_back({target_gen, (int16_t)z.target});
            for (const Sf2Gen& g : all)
                put(gen, g.oper | (uint64_t)(uint16_t)g.amount << 16, 4);
            mods += (int)z.mods.size(), gens += (int)all.size();
        }
    }
    header(hdr, last, bags);
    put(bag, (uint64_t)gens | (uint64_t)mods << 16, 4);
    gen.append(4, '\0');
    mod.append(10, '\0');
}
}  // namespace sf2w

inline std::string build_sf2(const Sf2FontDef& f)
{
    using namespace sf2w;
    std::string smpl, sm24, shdr;
    for (const Sf2SampleDef& s : f.samples) {
        uint32_t start, end, loop = 0;
        if (f.compressed) {  // byte offsets of the stream; loops from the sample's start
            start = (uint32_t)smpl.size();
            smpl += s.stream.empty() ? sf2_vorbis(s.data, s.rate) : s.stream;
            end = (uint32_t)smpl.size();
        } else {
            start = loop = (uint32_t)(smpl.size() / 2);
            end = start + (uint32_t)s.data.size();
            for (int16_t v : s.data)
                put(smpl, (uint16_t)v, 2);
            smpl.append(46 * 2, '\0');
            if (!s.low.empty())
                sm24 += std::string(s.low.begin(), s.low.end()) + std::string(46, '\0');
        }
        name20(shdr, s.name);
        for (uint32_t v : {start, end, loop + s.loop_start, loop + s.loop_end, s.rate})
            put(shdr, v, 4);
        put(shdr, s.root | (uint64_t)(uint8_t)s.correction << 8 | (uint64_t)s.link << 16, 4);
        put(shdr, (uint16_t)(s.type | (f.compressed ? 0x10 : 0)), 2);
    }
    name20(shdr, "EOS");
    shdr.append(26, '\0');

    std::string inst, ibag, igen, imod, phdr, pbag, pgen, pmod;
    tables(f.instruments, {"EOI", {}}, 53, inst, ibag, igen, imod);
    tables(f.presets, {"EOP", 0, 0, {}}, 41, phdr, pbag, pgen, pmod);

    std::string ifil;
    put(ifil, f.compressed ? 3 : 2, 2);
    put(ifil, 4, 2);
    const std::string info = "INFO" + chunk("ifil", ifil) + chunk("INAM", std::string("test\0", 6));
    const std::string sdta = "sdta" + chunk("smpl", smpl) + (sm24.empty() ? "" : chunk("sm24", sm24));
    const std::string pdta = "pdta" + chunk("phdr", phdr) + chunk("pbag", pbag) +
                             chunk("pmod", pmod) + chunk("pgen", pgen) + chunk("inst", inst) +
                             chunk("ibag", ibag) + chunk("imod", imod) + chunk("igen", igen) +
                             chunk("shdr", shdr);
    return chunk("RIFF", "sfbk" + chunk("LIST", info) + chunk("LIST", sdta) + chunk("LIST", pdta));
}

#endif
