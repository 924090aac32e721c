// Bytes of MIDI data the tests build by hand: variable-length quantities, GS data sets, the
// chunks of a Standard MIDI File (well formed or not), and the one writer of whole songs.
#ifndef CORVELLE_TESTS_SUPPORT_MIDI_BYTES_H
#define CORVELLE_TESTS_SUPPORT_MIDI_BYTES_H

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "readmidi/event.h"

typedef std::vector<uint8_t> Bytes;

// Appends v as a variable-length quantity (seven bits a byte, most significant first).
inline void put_vlq(Bytes& out, uint32_t v)
{
    for (int shift = 28; shift > 0; shift -= 7)
        if (v >> shift)
            out.push_back((uint8_t)(0x80 | (v >> shift & 0x7F)));
    out.push_back(v & 0x7F);
}
inline Bytes vlq(uint32_t v)
{
    Bytes out;
    put_vlq(out, v);
    return out;
}
inline Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}
inline Bytes be32(uint32_t v)
{
    return {(uint8_t)(v >> 24), (uint8_t)(v >> 16), (uint8_t)(v >> 8), (uint8_t)v};
}
inline std::string as_string(const Bytes& b) { return std::string(b.begin(), b.end()); }

// A GS data set to address a b c as the reader hands it on (what follows F0), with its
// checksum and the closing F7.
inline Bytes gs_data_set(uint8_t a, uint8_t b, uint8_t c, const Bytes& data, uint8_t device = 0x10)
{
    Bytes m = {0x41, device, 0x42, 0x12, a, b, c};
    int sum = a + b + c;
    for (uint8_t d : data) {
        m.push_back(d);
        sum += d;
    }
    m.push_back((uint8_t)((128 - (sum & 0x7F)) & 0x7F));
    m.push_back(0xF7);
    return m;
}

// An XG parameter change to address h m l as the reader hands it on (what follows F0).
inline Bytes xg_param_change(uint8_t h, uint8_t m, uint8_t l, const Bytes& data)
{
    return cat({{0x43, 0x10, 0x4C, h, m, l}, data, {0xF7}});
}

inline Bytes track_chunk(const Bytes& body)
{
    return cat({{'M', 'T', 'r', 'k'}, be32((uint32_t)body.size()), body});
}
// "MThd" with length hlen (fields past the sixth byte are zero), format, tracks and division.
inline Bytes header_chunk(int format, int ntracks, int division, uint32_t hlen = 6)
{
    Bytes h = cat({{'M', 'T', 'h', 'd'}, be32(hlen),
                   {(uint8_t)(format >> 8), (uint8_t)format, (uint8_t)(ntracks >> 8), (uint8_t)ntracks,
                    (uint8_t)(division >> 8), (uint8_t)division}});
    h.resize(8 + hlen, 0);
    return h;
}
inline Bytes smf(int format, int division, const std::vector<Bytes>& track_bodies)
{
    Bytes out = header_chunk(format, (int)track_bodies.size(), division);
    for (const Bytes& b : track_bodies)
        out = cat({out, track_chunk(b)});
    return out;
}

// One event of a track: a channel message, a meta event (FF, type, data) or a system-exclusive
// message (F0 ... F7); the writer adds the lengths.
struct TimedBytes {
    uint32_t tick;
    Bytes bytes;
};

// A format 0 file at `division` ticks per quarter (120 beats per minute unless the events set a
// tempo); events at one tick keep their order; the track ends `tail` ticks after the last one.
inline std::string smf_format0(std::vector<TimedBytes> evs, int division = 480, uint32_t tail = 0)
{
    std::stable_sort(evs.begin(), evs.end(),
                     [](const TimedBytes& x, const TimedBytes& y) { return x.tick < y.tick; });
    Bytes body;
    uint32_t now = 0;
    for (const TimedBytes& e : evs) {
        put_vlq(body, e.tick - now);
        now = e.tick;
        const Bytes& b = e.bytes;
        const size_t head = b[0] == 0xFF ? 2 : b[0] == 0xF0 ? 1 : b.size();  // then the length
        body.insert(body.end(), b.begin(), b.begin() + head);
        if (b[0] >= 0xF0)
            put_vlq(body, (uint32_t)(b.size() - head));
        body.insert(body.end(), b.begin() + head, b.end());
    }
    put_vlq(body, tail);
    body.insert(body.end(), {0xFF, 0x2F, 0x00});
    return as_string(smf(0, division, {body}));
}

// One note of a song: start and length in ticks, MIDI channel 0..15, key, velocity.
struct SongNote {
    uint32_t start, length;
    int ch, key, velocity;
};
// Appends the notes' note-offs, then their note-ons: at one tick a note ends before the next
// begins.
inline void add_notes(std::vector<TimedBytes>& evs, const std::vector<SongNote>& notes)
{
    for (const SongNote& n : notes)
        evs.push_back({n.start + n.length, {(uint8_t)(0x80 | n.ch), (uint8_t)n.key, 0x40}});
    for (const SongNote& n : notes)
        evs.push_back({n.start, {(uint8_t)(0x90 | n.ch), (uint8_t)n.key, (uint8_t)n.velocity}});
}

// An engine event: time, type, channel and the two data bytes.
inline MidiEvent make_event(int32 time, int type, int ch, int a, int b)
{
    return MidiEvent{time, (uint8)type, (uint8)ch, (uint8)a, (uint8)b};
}

#endif
