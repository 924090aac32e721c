// Standard MIDI File images built in memory, and reading them (or files) with the messages.
#ifndef CORVELLE_TESTS_READMIDI_MIDI_IMAGE_H
#define CORVELLE_TESTS_READMIDI_MIDI_IMAGE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "frontend/controls.h"
#include "output/output.h"
#include "play/playmidi.h"
#include "readmidi/event.h"
#include "readmidi/eventlist.h"
#include "readmidi/readmidi.h"
#include "support/capture.h"
#include "support/guards.h"
#include "support/midi_bytes.h"

// Delta time and a meta event, end of track, system exclusive (data after F0), any bytes.
inline Bytes meta(uint32_t delta, int type, const Bytes& data)
{
    return cat({vlq(delta), {0xFF, (uint8_t)type}, vlq((uint32_t)data.size()), data});
}
inline Bytes end_of_track(uint32_t delta = 0) { return meta(delta, 0x2F, {}); }
inline Bytes sysex(uint32_t delta, const Bytes& data)
{
    return cat({vlq(delta), {0xF0}, vlq((uint32_t)data.size()), data});
}
inline Bytes msg(uint32_t delta, std::initializer_list<int> bytes)
{
    Bytes out = vlq(delta);
    for (int b : bytes)
        out.push_back((uint8_t)b);
    return out;
}
inline Bytes note_on(uint32_t delta, int ch, int key, int vel) { return msg(delta, {0x90 | ch, key, vel}); }
inline Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
// The song inside an RMID RIFF container.
inline Bytes riff(const Bytes& song)
{
    return cat({{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'R', 'M', 'I', 'D', 'd', 'a', 't', 'a', 0, 0, 0, 0}, song});
}
inline MidiEvent make(int32_t time, int type, int ch, int a, int b = 0)
{
    return MidiEvent{time, (uint8)type, (uint8)ch, (uint8)a, (uint8)b};
}

// Whether the event has the type and the other fields given (-1: any value).
inline ::testing::AssertionResult is_event(const MidiEvent& e, int type, int ch = -1, int a = -1, int b = -1)
{
    if (e.type == type && (ch < 0 || e.channel == ch) && (a < 0 || e.a == a) && (b < 0 || e.b == b))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "event " << (int)e.type << " ch " << (int)e.channel << " a "
                                         << (int)e.a << " b " << (int)e.b;
}
inline std::vector<MidiEvent> only(const std::vector<MidiEvent>& v, int type)
{
    std::vector<MidiEvent> out;
    std::copy_if(v.begin(), v.end(), std::back_inserter(out),
                 [=](const MidiEvent& e) { return e.type == type; });
    return out;
}
inline const char* string_of(const MidiEvent& e) { return event2string(e.a | (e.b << 8)); }

// What one read gave: the events (none when the load failed), length and messages.
struct ReadResult {
    bool ok = false;
    std::vector<MidiEvent> events;
    int32_t samples = -1;
    std::string messages;
    std::vector<MidiEvent> of_type(int type) const { return only(events, type); }
};

// Reads the image, or the file when path is given, with stderr captured.
inline ReadResult read_image(const Bytes& image, const std::string& name = "image.mid",
                             const char* path = nullptr)
{
    int32 count = 0, samples = 0;
    MidiEvent* ev = nullptr;
    ReadResult r;
    r.messages = stderr_of([&] {
        if (path == nullptr) {
            ev = read_midi_memory(image.data(), (long)image.size(), &count, &samples, name.c_str());
        } else if (InputFile* tf = open_midi_file(path, 1, OF_NORMAL)) {
            ev = read_midi_file(tf, &count, &samples, path);
            close_file(tf);
        }
    });
    if (ev != nullptr) {
        r.ok = true;
        r.events.assign(ev, ev + count);
        r.samples = samples;
        free(ev);
    }
    return r;
}
inline ReadResult read_path(const std::string& path) { return read_image({}, "", path.c_str()); }

// The reader's globals in a known state: 44100 Hz, every message shown, no earlier songs.
class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static PlayMode mode = {44100, 0, 0, -1, {0, 0, 0, 0, 0}, "test output", 't', "-",
                                nullptr, nullptr, nullptr, nullptr, nullptr};
        play_mode = &mode;
        free_all_midi_file_info();
        drumchannels = default_drumchannels, drumchannel_mask = default_drumchannel_mask;
    }
    void TearDown() override { free_all_midi_file_info(); }
    Restore<int> verbosity_{ctl->verbosity, VERB_DEBUG_SILLY};
};

#endif
