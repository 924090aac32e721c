// The player on the fake output, small songs from note lists, a note hook that remembers.
#ifndef CORVELLE_TESTS_PLAY_PLAYER_FIXTURE_H
#define CORVELLE_TESTS_PLAY_PLAYER_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
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
#include "support/capture.h"
#include "support/fake_output.h"
#include "support/guards.h"
#include "support/midi_bytes.h"
#include "support/tempdir.h"

inline std::vector<MidiEvent>& hooked()
{
    static std::vector<MidiEvent> events;
    return events;
}
inline void remember_note(MidiEvent* ev) { hooked().push_back(*ev); }

// The recording output's 16-bit values so far (interleaved when stereo).
inline std::vector<int32> recorded()
{
    const int16_t* p = reinterpret_cast<const int16_t*>(fake_output().data.data());
    return std::vector<int32>(p, p + fake_output().data.size() / 2);
}

// The player on the fake output at 44100 Hz, stereo 16-bit, no soft queue.
class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        [[maybe_unused]] static const bool tables_ready = (init_start_tables(), true);
        fake_output() = FakeOutput();
        hooked().clear();
        PlayMode& pm = fake_mode();
        pm.rate = 44100, pm.encoding = PE_16BIT | PE_SIGNED, pm.flag = PF_PCM_STREAM, play_mode = &pm;
        opt_output_rate = 0, max_voices = voices = 256;
        corvelle_init_player();
        aq_setup();
        current_file_info = nullptr, play_system_mode = DEFAULT_SYSTEM_MODE;
        drumchannels = default_drumchannels = (1u << 9) | (1u << 25), drumchannel_mask = 0;
        note_key_offset = 0, midi_time_ratio = 1.0, channel_mute = 0;
        reset_midi(0);
        current_sample = 0, buffer_pointer = common_buffer, buffered_count = 0, check_eot_flag = 0;
        event_list = current_event = nullptr;
        set_qevent(remember_note);
    }
    void TearDown() override
    {
        set_qevent(nullptr);
        event_list = current_event = nullptr, play_mode = nullptr;
    }
    // Puts a sounding voice on channel ch playing note (already transposed).
    int sounding_voice(int ch, int note, int status = VOICE_ON)
    {
        int v = upper_voices++;
        Voice& vp = voice[v];
        vp.status = (uint8)status, vp.channel = (uint8)ch, vp.note = (uint8)note, vp.velocity = 100;
        vp.vid = opt_overlap_voice_allow ? vidq_head[ch * 128 + note]++ : 0, vp.sample = nullptr;
        return v;
    }
    // Reads a song and plays every event before its end through the event loop.
    static void play_song_events(const std::string& image, const std::string& name)
    {
        int32 count = 0, samples = 0;
        MidiEvent* evs = nullptr;
        std::string messages = stderr_of([&] {
            evs = read_midi_memory(image.data(), (long)image.size(), &count, &samples, name.c_str());
        });
        ASSERT_NE(evs, nullptr) << name << ": " << messages;
        event_list = evs;
        for (MidiEvent* ev = evs; ev->type != ME_EOT; ev++)
            EXPECT_EQ(play_event(ev), RC_NONE) << name << " event " << (ev - evs);
        event_list = nullptr;
        free(evs);
    }
    static void send(int type, int ch, int a, int b = 0)
    {
        MidiEvent ev = make_event(0, type, ch, a, b);
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

// The player playing song files written into a folder of its own, their messages kept.
class SongPlayback : public PlayerTest {
protected:
    TempDir dir;
    std::string messages;
    int play(const std::string& name, const std::string& image)
    {
        std::string path = dir.write(name, image);
        int rc = 0;
        messages = stderr_of([&] { rc = play_midi_file(path.c_str()); });
        return rc;
    }
};

// A format 0 file at 480 ticks per quarter and 120 bpm (a tick is 1/960 s): a program change on
// every channel used and the notes; the track ends `tail` ticks after the last event.
inline std::string song_image(const std::vector<SongNote>& notes, uint32_t tail = 0)
{
    std::vector<TimedBytes> evs = {{0, {0xFF, 0x51, 0x07, 0xA1, 0x20}}};
    bool used[16] = {};
    for (const SongNote& n : notes)
        used[n.ch] = true;
    for (int ch = 0; ch < 16; ch++)
        if (used[ch] && ch != 9)
            evs.push_back({0, {(uint8_t)(0xC0 | ch), (uint8_t)(ch * 7 % 128)}});
    add_notes(evs, notes);
    return smf_format0(evs, 480, tail);
}

#endif
