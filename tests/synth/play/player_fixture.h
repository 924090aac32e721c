// Shared by the player, render loop, start-up and end-to-end tests: a recording output mode,
// a fixture that brings the player up on it, small Standard MIDI Files written from note
// lists, and a note hook that remembers what it was given.
#ifndef CORVELLE_TESTS_PLAY_PLAYER_FIXTURE_H
#define CORVELLE_TESTS_PLAY_PLAYER_FIXTURE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "frontend/controls.h"
#include "frontend/options.h"
#include "frontend/startup.h"
#include "frontend/tables.h"
#include "output/aq.h"
#include "output/output.h"
#include "play/channels.h"
#include "play/playmidi.h"
#include "play/sysmode.h"
#include "play/voice.h"
#include "readmidi/readmidi.h"
#include "render/render.h"
#include "support/midi_bytes.h"

// An output that records every write.
struct Recording {
    std::vector<int32> writes;  // bytes of each output_data call
    std::vector<char> data;
    int flushes = 0;
    int discards = 0;
    bool fail = false;  // output_data reports a failed write
    int32 frames() const { return (int32)(data.size() / 4); }  // 16-bit stereo
};

inline Recording& recording()
{
    static Recording r;
    return r;
}

inline int recording_open(void) { return 0; }
inline void recording_close(void) {}
inline int recording_output(char* buf, int32 bytes)
{
    if (recording().fail)
        return -1;
    recording().writes.push_back(bytes);
    recording().data.insert(recording().data.end(), buf, buf + bytes);
    return 0;
}
inline int recording_acntl(int request, void*)
{
    switch (request) {
    case PM_REQ_DISCARD: recording().discards++; return 0;
    case PM_REQ_FLUSH: recording().flushes++; return 0;
    case PM_REQ_OUTPUT_FINISH: return 0;
    default: return -1;
    }
}

inline PlayMode& recording_mode()
{
    static PlayMode pm = {44100, PE_16BIT | PE_SIGNED, PF_PCM_STREAM, -1, {0, 0, 0, 0, 0},
                          "recording output", 'R', nullptr, recording_open, recording_close,
                          recording_output, recording_acntl, nullptr};
    return pm;
}

inline std::vector<MidiEvent>& hooked()
{
    static std::vector<MidiEvent> events;
    return events;
}
// The render position at each hook call.
inline std::vector<int32>& hooked_at()
{
    static std::vector<int32> at;
    return at;
}
inline void remember_note(MidiEvent* ev)
{
    hooked().push_back(*ev);
    hooked_at().push_back(current_sample);
}

inline MidiEvent make_event(int32 time, int type, int ch, int a, int b)
{
    return MidiEvent{time, (uint8)type, (uint8)ch, (uint8)a, (uint8)b};
}

// The player on the recording output at 44100 Hz, stereo 16-bit, no soft queue.
class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static const bool tables_ready = (init_start_tables(), true);
        (void)tables_ready;
        recording() = Recording();
        hooked().clear();
        hooked_at().clear();
        PlayMode& pm = recording_mode();
        pm.rate = 44100;
        pm.encoding = PE_16BIT | PE_SIGNED;
        pm.flag = PF_PCM_STREAM;
        play_mode = &pm;
        opt_output_rate = 0;
        max_voices = voices = 256;
        corvelle_init_player();
        aq_setup();
        current_file_info = nullptr;
        play_system_mode = DEFAULT_SYSTEM_MODE;
        drumchannels = default_drumchannels = (1u << 9) | (1u << 25);
        drumchannel_mask = 0;
        note_key_offset = 0;
        midi_time_ratio = 1.0;
        channel_mute = 0;
        reset_midi(0);
        current_sample = 0;
        buffer_pointer = common_buffer;
        buffered_count = 0;
        check_eot_flag = 0;
        event_list = current_event = nullptr;
        set_qevent(remember_note);
    }
    void TearDown() override
    {
        set_qevent(nullptr);
        event_list = current_event = nullptr;
        play_mode = nullptr;
    }
    // Puts a sounding voice on channel ch playing note (already transposed).
    int sounding_voice(int ch, int note, int status = VOICE_ON)
    {
        int v = upper_voices++;
        voice[v].status = (uint8)status;
        voice[v].channel = (uint8)ch;
        voice[v].note = (uint8)note;
        voice[v].velocity = 100;
        voice[v].vid = opt_overlap_voice_allow ? vidq_head[ch * 128 + note]++ : 0;
        voice[v].sample = nullptr;
        return v;
    }
    // Reads a song and plays every event before its end through the event loop.
    static void play_song_events(const std::string& image, const std::string& name)
    {
        int32 count = 0, samples = 0;
        testing::internal::CaptureStderr();
        MidiEvent* evs = read_midi_memory(image.data(), (long)image.size(), &count, &samples,
                                          name.c_str());
        std::string messages = testing::internal::GetCapturedStderr();
        ASSERT_NE(evs, nullptr) << name << ": " << messages;
        event_list = evs;
        for (MidiEvent* ev = evs; ev->type != ME_EOT; ev++)
            EXPECT_EQ(play_event(ev), RC_NONE) << name << " event " << (ev - evs);
        event_list = nullptr;
        free(evs);
    }
    static void send(int type, int ch, int a)
    {
        MidiEvent ev = make_event(0, type, ch, a, 0);
        dispatch_event(&ev, false);
    }
    // A registered (or non-registered) parameter number and its data entry.
    static void data_entry(int ch, bool nrpn, int msb, int lsb, int value)
    {
        send(nrpn ? ME_NRPN_MSB : ME_RPN_MSB, ch, msb);
        send(nrpn ? ME_NRPN_LSB : ME_RPN_LSB, ch, lsb);
        send(ME_DATA_ENTRY_MSB, ch, value);
    }
};

typedef std::vector<uint8_t> MidiBytes;

// One note of a song: start and length in ticks, MIDI channel 0..15, key, velocity.
struct SongNote {
    uint32_t start, length;
    int ch, key, velocity;
};

// A format 0 file at 480 ticks per quarter and 120 beats per minute (a tick is 1/960 s),
// with a program change on every channel used and the notes; the track ends `tail` ticks
// after the last event.
inline MidiBytes song_image(const std::vector<SongNote>& notes, uint32_t tail = 0)
{
    struct Ev {
        uint32_t t;
        int order;  // at one tick: tempo, programs, note-offs, note-ons
        MidiBytes bytes;
    };
    std::vector<Ev> evs;
    evs.push_back({0, 0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}});
    bool used[16] = {};
    for (const SongNote& n : notes)
        used[n.ch] = true;
    for (int ch = 0; ch < 16; ch++)
        if (used[ch] && ch != 9)
            evs.push_back({0, 1, {(uint8_t)(0xC0 | ch), (uint8_t)(ch * 7 % 128)}});
    for (const SongNote& n : notes) {
        evs.push_back({n.start, 3, {(uint8_t)(0x90 | n.ch), (uint8_t)n.key, (uint8_t)n.velocity}});
        evs.push_back({n.start + n.length, 2, {(uint8_t)(0x80 | n.ch), (uint8_t)n.key, 0x40}});
    }
    std::stable_sort(evs.begin(), evs.end(), [](const Ev& x, const Ev& y) {
        return x.t != y.t ? x.t < y.t : x.order < y.order;
    });
    MidiBytes body;
    uint32_t now = 0;
    for (const Ev& e : evs) {
        put_vlq(body, e.t - now);
        now = e.t;
        body.insert(body.end(), e.bytes.begin(), e.bytes.end());
    }
    put_vlq(body, tail);
    body.insert(body.end(), {0xFF, 0x2F, 0x00});
    MidiBytes file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k'};
    for (int shift = 24; shift >= 0; shift -= 8)
        file.push_back((uint8_t)(body.size() >> shift));
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

inline std::string as_string(const MidiBytes& b) { return std::string(b.begin(), b.end()); }

#endif
