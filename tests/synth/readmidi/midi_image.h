// Test helpers: Standard MIDI File images built in memory, and reading them (or files) with
// the messages the reader printed.
#ifndef CORVELLE_TESTS_READMIDI_MIDI_IMAGE_H
#define CORVELLE_TESTS_READMIDI_MIDI_IMAGE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "readmidi/event.h"

typedef std::vector<uint8_t> Bytes;

// A variable-length number.
Bytes vlq(uint32_t v);
// Concatenation.
Bytes cat(std::initializer_list<Bytes> parts);
// "MTrk", length and body.
Bytes track_chunk(const Bytes& body);
// "MThd" with length 6 (or hlen, padded with zero bytes), format, tracks and division.
Bytes header_chunk(int format, int ntracks, int division, uint32_t hlen = 6);
// A whole file: header then one chunk per track body.
Bytes smf(int format, int division, const std::vector<Bytes>& track_bodies);
// Delta time and a meta event; end of track; a system-exclusive event (data after F0).
Bytes meta(uint32_t delta, int type, const Bytes& data);
Bytes end_of_track(uint32_t delta = 0);
Bytes sysex(uint32_t delta, const Bytes& data_after_f0);
// Delta time and the bytes given (a channel message, or data bytes under running status).
Bytes msg(uint32_t delta, std::initializer_list<int> bytes);
Bytes note_on(uint32_t delta, int ch, int key, int vel);
Bytes text(const std::string& s);
// The song inside an RMID RIFF container.
Bytes riff(const Bytes& song);

// Whether the event has the type and the other fields given (-1: any value).
::testing::AssertionResult is_event(const MidiEvent& e, int type, int ch = -1, int a = -1,
                                    int b = -1);

// What one read gave: the events (none when the load failed), length and messages.
struct ReadResult {
    bool ok = false;
    std::vector<MidiEvent> events;
    int32_t samples = -1;
    std::string messages;

    std::vector<MidiEvent> of_type(int type) const;
    bool has_message(const std::string& text) const;
};

ReadResult read_image(const Bytes& image, const std::string& name = "image.mid");
ReadResult read_path(const std::string& path);

// Puts the reader's globals in a known state: output at 44100 Hz, all messages shown,
// records of earlier songs forgotten, default drum channels.
class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    int saved_verbosity_ = 0;
};

#endif
