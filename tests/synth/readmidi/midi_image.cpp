#include "midi_image.h"

#include <cstdlib>
#include <cstring>

#include "frontend/controls.h"
#include "output/output.h"
#include "play/playmidi.h"
#include "readmidi/eventlist.h"
#include "readmidi/readmidi.h"
#include "support/midi_bytes.h"

Bytes vlq(uint32_t v)
{
    Bytes out;
    put_vlq(out, v);
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

static Bytes be32(uint32_t v)
{
    return {(uint8_t)(v >> 24), (uint8_t)(v >> 16), (uint8_t)(v >> 8), (uint8_t)v};
}

Bytes track_chunk(const Bytes& body)
{
    return cat({{'M', 'T', 'r', 'k'}, be32((uint32_t)body.size()), body});
}

Bytes header_chunk(int format, int ntracks, int division, uint32_t hlen)
{
    Bytes h = cat({{'M', 'T', 'h', 'd'}, be32(hlen)});
    uint8_t fields[6] = {(uint8_t)(format >> 8), (uint8_t)format, (uint8_t)(ntracks >> 8),
                         (uint8_t)ntracks,       (uint8_t)(division >> 8), (uint8_t)division};
    h.insert(h.end(), fields, fields + 6);
    for (uint32_t i = 6; i < hlen; i++)
        h.push_back(0);
    return h;
}

Bytes smf(int format, int division, const std::vector<Bytes>& track_bodies)
{
    Bytes out = header_chunk(format, (int)track_bodies.size(), division);
    for (const Bytes& b : track_bodies) {
        Bytes t = track_chunk(b);
        out.insert(out.end(), t.begin(), t.end());
    }
    return out;
}

Bytes meta(uint32_t delta, int type, const Bytes& data)
{
    return cat({vlq(delta), {0xFF, (uint8_t)type}, vlq((uint32_t)data.size()), data});
}

Bytes end_of_track(uint32_t delta)
{
    return meta(delta, 0x2F, {});
}

Bytes sysex(uint32_t delta, const Bytes& data)
{
    return cat({vlq(delta), {0xF0}, vlq((uint32_t)data.size()), data});
}

Bytes msg(uint32_t delta, std::initializer_list<int> bytes)
{
    Bytes out = vlq(delta);
    for (int b : bytes)
        out.push_back((uint8_t)b);
    return out;
}

Bytes note_on(uint32_t delta, int ch, int key, int vel)
{
    return msg(delta, {0x90 | ch, key, vel});
}

Bytes text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

Bytes riff(const Bytes& song)
{
    return cat({{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'R', 'M', 'I', 'D', 'd', 'a', 't', 'a', 0, 0, 0, 0},
                song});
}

::testing::AssertionResult is_event(const MidiEvent& e, int type, int ch, int a, int b)
{
    if (e.type == type && (ch < 0 || e.channel == ch) && (a < 0 || e.a == a) && (b < 0 || e.b == b))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "event " << (int)e.type << " ch " << (int)e.channel
                                         << " a " << (int)e.a << " b " << (int)e.b;
}

std::vector<MidiEvent> ReadResult::of_type(int type) const
{
    std::vector<MidiEvent> out;
    for (const MidiEvent& e : events)
        if (e.type == type)
            out.push_back(e);
    return out;
}

bool ReadResult::has_message(const std::string& text) const
{
    return messages.find(text) != std::string::npos;
}

static ReadResult finish_read(MidiEvent* ev, int32 count, int32 samples)
{
    ReadResult r;
    r.messages = testing::internal::GetCapturedStderr();
    if (ev != nullptr) {
        r.ok = true;
        r.events.assign(ev, ev + count);
        r.samples = samples;
        free(ev);
    }
    return r;
}

ReadResult read_image(const Bytes& image, const std::string& name)
{
    int32 count = 0, samples = 0;
    testing::internal::CaptureStderr();
    MidiEvent* ev = read_midi_memory(image.data(), (long)image.size(), &count, &samples,
                                     name.c_str());
    return finish_read(ev, count, samples);
}

ReadResult read_path(const std::string& path)
{
    int32 count = 0, samples = 0;
    testing::internal::CaptureStderr();
    InputFile* tf = open_midi_file(path.c_str(), 1, OF_NORMAL);
    MidiEvent* ev = nullptr;
    if (tf != nullptr) {
        ev = read_midi_file(tf, &count, &samples, path.c_str());
        close_file(tf);
    }
    return finish_read(ev, count, samples);
}

static PlayMode test_play_mode = {44100, 0, 0, -1, {0, 0, 0, 0, 0}, "test output", 't', "-",
                                  nullptr, nullptr, nullptr, nullptr, nullptr};

void ReaderTest::SetUp()
{
    play_mode = &test_play_mode;
    saved_verbosity_ = ctl->verbosity;
    ctl->verbosity = VERB_DEBUG_SILLY;
    free_all_midi_file_info();
    drumchannels = default_drumchannels;
    drumchannel_mask = default_drumchannel_mask;
}

void ReaderTest::TearDown()
{
    ctl->verbosity = saved_verbosity_;
    free_all_midi_file_info();
}
