#include "smf_parse.h"

#include <algorithm>
#include <fstream>
#include <iterator>

std::vector<uint8_t> load_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace {

struct Cursor {
    const std::vector<uint8_t>& b;
    size_t pos;
    size_t end;
    bool fail = false;

    int byte()
    {
        if (pos >= end) {
            fail = true;
            return 0;
        }
        return b[pos++];
    }
    uint32_t be(int n)
    {
        uint32_t v = 0;
        for (int i = 0; i < n; i++)
            v = (v << 8) | (uint32_t)byte();
        return v;
    }
    uint32_t vl()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; i++) {
            int c = byte();
            v = (v << 7) | (uint32_t)(c & 0x7F);
            if (!(c & 0x80))
                return v;
        }
        fail = true;
        return v;
    }
};

}  // namespace

ParsedSmf parse_smf(const std::vector<uint8_t>& bytes)
{
    ParsedSmf out;
    Cursor c{bytes, 0, bytes.size()};
    if (c.be(4) != 0x4D546864)  // "MThd"
        return out;
    uint32_t hlen = c.be(4);
    out.format = (int)c.be(2);
    int ntracks = (int)c.be(2);
    out.division = (int16_t)c.be(2);
    c.pos += hlen - 6;
    int64_t format2_start = 0;
    for (int t = 0; t < ntracks && !c.fail;) {
        uint32_t tag = c.be(4);
        uint32_t len = c.be(4);
        if (c.fail)
            break;
        if (tag != 0x4D54726B) {  // not "MTrk": passed over
            c.pos += len;
            continue;
        }
        size_t track_end = std::min(c.pos + len, bytes.size());
        Cursor tc{bytes, c.pos, track_end};
        int64_t tick = (out.format == 2) ? format2_start : 0;
        int running = 0;
        while (!tc.fail && tc.pos < track_end) {
            tick += tc.vl();
            int s = tc.byte();
            ParsedEvent ev{tick, t, 0, -1, {}};
            if (s == 0xFF) {
                ev.status = 0xFF;
                ev.meta_type = tc.byte();
                uint32_t n = tc.vl();
                for (uint32_t i = 0; i < n; i++)
                    ev.data.push_back((uint8_t)tc.byte());
                out.events.push_back(ev);
                if (ev.meta_type == 0x2F)
                    break;
                continue;
            }
            if (s == 0xF0 || s == 0xF7) {
                uint32_t n = tc.vl();
                ev.status = s;
                for (uint32_t i = 0; i < n; i++)
                    ev.data.push_back((uint8_t)tc.byte());
                out.events.push_back(ev);
                continue;
            }
            if (s >= 0xF1) {  // system common and real time: their data bytes, no event
                tc.pos += (s == 0xF2) ? 2 : (s == 0xF1 || s == 0xF3) ? 1 : 0;
                continue;
            }
            int d1;
            if (s & 0x80) {
                running = s;
                d1 = tc.byte();
            } else {
                d1 = s;
            }
            ev.status = running;
            ev.data.push_back((uint8_t)d1);
            int kind = running & 0xF0;
            if (kind != 0xC0 && kind != 0xD0)
                ev.data.push_back((uint8_t)tc.byte());
            out.events.push_back(ev);
        }
        if (out.format == 2 && !out.events.empty())
            format2_start = std::max(format2_start, out.events.back().tick);
        c.pos = track_end;
        t++;
    }
    out.ok = true;
    return out;
}

std::vector<ParsedEvent> ParsedSmf::note_ons() const
{
    std::vector<ParsedEvent> v;
    for (const ParsedEvent& e : events)
        if ((e.status & 0xF0) == 0x90 && e.data.size() == 2 && e.data[1] != 0)
            v.push_back(e);
    return v;
}

std::vector<std::pair<int64_t, int64_t>> ParsedSmf::tempo_map() const
{
    std::vector<std::pair<int64_t, int64_t>> m;
    for (const ParsedEvent& e : events)
        if (e.status == 0xFF && e.meta_type == 0x51 && e.data.size() == 3)
            m.push_back({e.tick, (e.data[0] << 16) | (e.data[1] << 8) | e.data[2]});
    std::stable_sort(m.begin(), m.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    return m;
}

double ParsedSmf::seconds_at(int64_t t) const
{
    double sec = 0;
    int64_t last_tick = 0;
    double us_per_quarter = 500000;
    for (const auto& change : tempo_map()) {
        if (change.first >= t)
            break;
        sec += (double)(change.first - last_tick) * us_per_quarter / 1e6 / division;
        last_tick = change.first;
        us_per_quarter = (double)change.second;
    }
    return sec + (double)(t - last_tick) * us_per_quarter / 1e6 / division;
}
