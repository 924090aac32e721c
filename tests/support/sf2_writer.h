// Writes small SoundFont 2 files for tests: samples (each followed by the 46 silent points the
// format asks for), instruments and presets whose zones list their generators in order, the
// zone's instrument or sample appended as its last generator.
#ifndef CORVELLE_TESTS_SUPPORT_SF2_WRITER_H
#define CORVELLE_TESTS_SUPPORT_SF2_WRITER_H

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

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
};
struct Sf2ZoneDef {
    std::vector<Sf2Gen> gens;
    int target = -1;  // instrument (preset zone) or sample (instrument zone); -1: global zone
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
};

// n points of a sine whose period is `period` points, at `amplitude` of full scale.
inline std::vector<int16_t> sf2_sine(size_t n, double period, double amplitude = 0.5)
{
    std::vector<int16_t> v(n);
    for (size_t i = 0; i < n; i++)
        v[i] = (int16_t)std::lround(32767 * amplitude * std::sin(2 * M_PI * (double)i / period));
    return v;
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
// Bags and generators of a list of zones; `gens` counts the generators written.
inline void zones(const std::vector<Sf2ZoneDef>& zs, uint16_t target_gen, std::string& bag,
                  std::string& gen, int& gens)
{
    for (const Sf2ZoneDef& z : zs) {
        put(bag, (uint64_t)gens, 2);
        put(bag, 0, 2);
        for (const Sf2Gen& g : z.gens) {
            put(gen, g.oper, 2);
            put(gen, (uint16_t)g.amount, 2);
            gens++;
        }
        if (z.target >= 0) {
            put(gen, target_gen, 2);
            put(gen, (uint16_t)z.target, 2);
            gens++;
        }
    }
}
}  // namespace sf2w

inline std::string build_sf2(const Sf2FontDef& f)
{
    using namespace sf2w;
    std::string smpl, shdr;
    for (const Sf2SampleDef& s : f.samples) {
        const uint32_t start = (uint32_t)(smpl.size() / 2);
        for (int16_t v : s.data)
            put(smpl, (uint16_t)v, 2);
        smpl.append(46 * 2, '\0');
        name20(shdr, s.name);
        put(shdr, start, 4);
        put(shdr, start + s.data.size(), 4);
        put(shdr, start + s.loop_start, 4);
        put(shdr, start + s.loop_end, 4);
        put(shdr, s.rate, 4);
        shdr += (char)s.root;
        shdr += (char)s.correction;
        put(shdr, s.link, 2);
        put(shdr, s.type, 2);
    }
    name20(shdr, "EOS");
    shdr.append(26, '\0');

    std::string inst, ibag, igen;
    int gens = 0, bags = 0;
    for (const Sf2InstDef& i : f.instruments) {
        name20(inst, i.name);
        put(inst, (uint64_t)bags, 2);
        zones(i.zones, 53, ibag, igen, gens);
        bags += (int)i.zones.size();
    }
    name20(inst, "EOI");
    put(inst, (uint64_t)bags, 2);
    put(ibag, (uint64_t)gens, 2);
    put(ibag, 0, 2);
    igen.append(4, '\0');

    std::string phdr, pbag, pgen;
    gens = bags = 0;
    for (const Sf2PresetDef& p : f.presets) {
        name20(phdr, p.name);
        put(phdr, p.preset, 2);
        put(phdr, p.bank, 2);
        put(phdr, (uint64_t)bags, 2);
        phdr.append(12, '\0');
        zones(p.zones, 41, pbag, pgen, gens);
        bags += (int)p.zones.size();
    }
    name20(phdr, "EOP");
    put(phdr, 0, 4);
    put(phdr, (uint64_t)bags, 2);
    phdr.append(12, '\0');
    put(pbag, (uint64_t)gens, 2);
    put(pbag, 0, 2);
    pgen.append(4, '\0');
    const std::string mod(10, '\0');

    std::string ifil;
    put(ifil, 2, 2);
    put(ifil, 4, 2);
    const std::string info = "INFO" + chunk("ifil", ifil) + chunk("INAM", std::string("test\0", 6));
    const std::string sdta = "sdta" + chunk("smpl", smpl);
    const std::string pdta = "pdta" + chunk("phdr", phdr) + chunk("pbag", pbag) +
                             chunk("pmod", mod) + chunk("pgen", pgen) + chunk("inst", inst) +
                             chunk("ibag", ibag) + chunk("imod", mod) + chunk("igen", igen) +
                             chunk("shdr", shdr);
    return chunk("RIFF", "sfbk" + chunk("LIST", info) + chunk("LIST", sdta) + chunk("LIST", pdta));
}

#endif
