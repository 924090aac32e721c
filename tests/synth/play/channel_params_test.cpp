// Channel parameters at playback: system-exclusive messages of songs reaching the channel
// records and effect stores through the event loop, registered and non-registered
// parameters, portamento timing, and instrument names from the free patch set.
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/tonebank.h"
#include "effects/effect.h"
#include "readmidi/sysex.h"
#include "synth/config/config_fixture.h"
#include "synth/play/player_fixture.h"

namespace {

// ---- songs made of system-exclusive messages ----

typedef std::vector<uint8_t> Bytes;

struct TimedBytes {
    uint32_t tick;
    Bytes bytes;
};

// A format 0 song at 480 ticks per quarter from raw track events.
Bytes track_song(const std::vector<TimedBytes>& events)
{
    Bytes body;
    uint32_t now = 0;
    for (const TimedBytes& e : events) {
        put_vlq(body, e.tick - now);
        now = e.tick;
        body.insert(body.end(), e.bytes.begin(), e.bytes.end());
    }
    body.insert(body.end(), {0x00, 0xFF, 0x2F, 0x00});
    Bytes file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k'};
    uint32_t len = (uint32_t)body.size();
    for (int s = 24; s >= 0; s -= 8)
        file.push_back((uint8_t)(len >> s));
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

// F0, its length, the message and F7.
Bytes sysex(Bytes msg)
{
    msg.push_back(0xF7);
    Bytes out = {0xF0};
    put_vlq(out, (uint32_t)msg.size());
    out.insert(out.end(), msg.begin(), msg.end());
    return out;
}

// A GS data set to address h m l with its checksum.
Bytes gs(int h, int m, int l, const Bytes& data)
{
    Bytes msg = {0x41, 0x10, 0x42, 0x12, (uint8_t)h, (uint8_t)m, (uint8_t)l};
    int sum = h + m + l;
    for (uint8_t d : data)
        sum += d;
    msg.insert(msg.end(), data.begin(), data.end());
    msg.push_back((uint8_t)((128 - sum % 128) % 128));
    return sysex(msg);
}

// An XG parameter change.
Bytes xg(int h, int m, int l, const Bytes& data)
{
    Bytes msg = {0x43, 0x10, 0x4C, (uint8_t)h, (uint8_t)m, (uint8_t)l};
    msg.insert(msg.end(), data.begin(), data.end());
    return sysex(msg);
}

const Bytes gs_reset = gs(0x40, 0x00, 0x7F, {0x00});
const Bytes xg_on = xg(0x00, 0x00, 0x7E, {0x00});

// What a channel was like when one of its notes started.
struct NoteState {
    int ch, note;
    bool drum;
    int bank, program, map;
    int8 tuning_c;
};

std::vector<NoteState>& note_states()
{
    static std::vector<NoteState> s;
    return s;
}

void remember_channel(MidiEvent* ev)
{
    if (ev->type != ME_NOTEON)
        return;
    const Channel& c = channel[ev->channel];
    note_states().push_back({ev->channel, ev->a, ISDRUMCHANNEL(ev->channel) != 0, c.bank,
                             c.program, c.mapID, c.scale_tuning[0]});
}

class ChannelParams : public PlayerTest {
protected:
    void SetUp() override
    {
        PlayerTest::SetUp();
        free_drum_settings();
        note_states().clear();
        set_qevent(remember_channel);
    }
    void TearDown() override
    {
        play_system_mode = DEFAULT_SYSTEM_MODE;
        opt_eq_control = 0;
        free_drum_settings();
        PlayerTest::TearDown();
    }

    // Reads the song and plays every event before its end through the event loop.
    void play_song(const Bytes& image, const std::string& name)
    {
        int32 count = 0, samples = 0;
        testing::internal::CaptureStderr();
        MidiEvent* evs = read_midi_memory(image.data(), (long)image.size(), &count, &samples,
                                          name.c_str());
        ASSERT_NE(evs, nullptr) << testing::internal::GetCapturedStderr();
        play_events(evs);
        testing::internal::GetCapturedStderr();
        free(evs);
    }
    void play_file(const std::string& name)
    {
        std::string path = CORVELLE_TEST_DATA "/midi/" + name;
        testing::internal::CaptureStderr();
        InputFile* tf = open_midi_file(path.c_str(), 1, OF_NORMAL);
        int32 count = 0, samples = 0;
        MidiEvent* evs = tf != nullptr ? read_midi_file(tf, &count, &samples, path.c_str()) : nullptr;
        if (tf != nullptr)
            close_file(tf);
        std::string messages = testing::internal::GetCapturedStderr();
        ASSERT_NE(evs, nullptr) << name << ": " << messages;
        testing::internal::CaptureStderr();
        play_events(evs);
        testing::internal::GetCapturedStderr();
        free(evs);
    }
    static void play_events(MidiEvent* evs)
    {
        event_list = evs;
        for (MidiEvent* ev = evs; ev->type != ME_EOT; ev++)
            ASSERT_EQ(play_event(ev), RC_NONE) << "event " << (ev - evs);
        event_list = nullptr;
    }
    static void send(int type, int ch, int a)
    {
        MidiEvent ev = make_event(0, type, ch, a, 0);
        dispatch_event(&ev, false);
    }
    static void data_entry(int ch, bool nrpn, int msb, int lsb, int value)
    {
        send(nrpn ? ME_NRPN_MSB : ME_RPN_MSB, ch, msb);
        send(nrpn ? ME_NRPN_LSB : ME_RPN_LSB, ch, lsb);
        send(ME_DATA_ENTRY_MSB, ch, value);
    }
};

// ---- the conformance files ----

TEST_F(ChannelParams, ConformanceFilesSetModesBanksDrumPartsAndTuningThroughTheirMessages)
{
    struct Expect {
        const char* file;
        int mode;
        bool drum;
        int bank, program, map;
    };
    const Expect songs[] = {
        {"test-gm2-doggy-78-00-38-4c.mid", GM2_SYSTEM_MODE, true, 0x38, 0x38, GM2_DRUM_MAP},
        {"test-gm2-doggy-79-01-7b.mid", GM2_SYSTEM_MODE, false, 1, 0x7B, GM2_TONE_MAP},
        {"test-gs-doggy-01-00-7b.mid", GS_SYSTEM_MODE, false, 1, 0x7B, INST_NO_MAP},
        {"test-xg-doggy-40-00-30.mid", XG_SYSTEM_MODE, false, 0, 0x30, XG_SFX64_MAP},
        {"test-xg-doggy-7e-00-00-54.mid", XG_SYSTEM_MODE, true, 0, 0, XG_SFX126_MAP},
    };
    for (const Expect& e : songs) {
        SCOPED_TRACE(e.file);
        note_states().clear();
        play_file(e.file);
        EXPECT_EQ(play_system_mode, e.mode);
        ASSERT_FALSE(note_states().empty());
        const NoteState& s = note_states()[0];
        EXPECT_EQ(s.ch, 0);
        EXPECT_EQ(s.drum, e.drum);
        EXPECT_EQ(s.bank, e.bank);
        EXPECT_EQ(s.program, e.program);
        EXPECT_EQ(s.map, e.map);
    }

    // GS rhythm part: part 0 plays drums, then part 9 is made melodic.
    note_states().clear();
    play_file("test-sysex-gs-40-1x-15-drum-part-change.mid");
    ASSERT_EQ(note_states().size(), 8u);
    EXPECT_TRUE(note_states()[0].drum);
    EXPECT_EQ(note_states()[7].ch, 9);
    EXPECT_FALSE(note_states()[7].drum);

    // GS scale tuning of C on part 0: +63, -64, +63 cents for the three notes.
    note_states().clear();
    play_file("test-sysex-gs-40-1x-4x-scale-tuning.mid");
    ASSERT_EQ(note_states().size(), 3u);
    EXPECT_EQ(note_states()[0].tuning_c, 63);
    EXPECT_EQ(note_states()[1].tuning_c, -64);
    EXPECT_EQ(note_states()[2].tuning_c, 63);
    EXPECT_EQ(channel[0].scale_tuning[0], 0);  // the last message puts it back

    // The other files with universal messages play without a fault.
    for (const char* f : {"test-sysex-7e-09-02-gm-disable.mid",
                          "test-sysex-7f-04-04-master-coarse-tuning.mid",
                          "test-sysex-7x-08-0x-scale-tuning.mid", "test-running-status-sysex.mid"})
        play_file(f);
}

// ---- parameters of GS and XG songs ----

TEST_F(ChannelParams, GsMessagesReachLimitsSwitchesTuningLayersDrumsAndEffects)
{
    Bytes tuning;
    for (int i = 0; i < 12; i++)
        tuning.push_back((uint8_t)(0x40 + i - 6));
    play_song(track_song({
                  {0, gs_reset},
                  {0, gs(0x40, 0x11, 0x1D, {36, 96})},    // part 0 key range
                  {0, gs(0x40, 0x11, 0x03, {0x00})},      // part 0 ignores pitch bend
                  {0, gs(0x40, 0x11, 0x40, tuning)},      // part 0 scale tuning C..B
                  {0, gs(0x40, 0x11, 0x17, {0x09, 0x04})},  // pitch offset fine +2.0 Hz
                  {0, gs(0x40, 0x12, 0x02, {0x00})},      // part 1 listens to channel 0
                  {0, gs(0x40, 0x13, 0x02, {0x10})},      // part 2 listens to none
                  {0, gs(0x41, 0x07, 38, {0x00})},        // drum map 0, note 38: no note-off
                  {0, gs(0x41, 0x01, 40, {45})},          // drum map 0, note 40 plays 45
                  {0, gs(0x40, 0x01, 0x33, {50})},        // reverb level
                  {0, gs(0x40, 0x41, 0x22, {0x01})},      // part 0 insertion effect on
                  {0, {0x90, 60, 100}},
              }),
              "gs-parameters.mid");
    EXPECT_EQ(play_system_mode, GS_SYSTEM_MODE);
    EXPECT_EQ(channel[0].note_limit_low, 36);
    EXPECT_EQ(channel[0].note_limit_high, 96);
    EXPECT_EQ(channel[0].rx & RX_PITCH_BEND, 0u);
    EXPECT_NE(channel[0].rx & RX_PROGRAM_CHANGE, 0u);
    for (int i = 0; i < 12; i++)
        EXPECT_EQ(channel[0].scale_tuning[i], i - 6) << "pitch class " << i;
    EXPECT_DOUBLE_EQ(channel[0].pitch_offset_fine, 2.0);
    EXPECT_EQ(channel[1].channel_layer, 1u);
    EXPECT_EQ(channel[2].channel_layer, 0u);
    ASSERT_NE(channel[9].drums[38], nullptr);
    EXPECT_EQ(get_rx_drum(channel[9].drums[38], RX_NOTE_OFF), 0);
    EXPECT_NE(get_rx_drum(channel[9].drums[38], RX_NOTE_ON), 0);
    ASSERT_NE(channel[9].drums[40], nullptr);
    EXPECT_EQ(channel[9].drums[40]->play_note, 45);
    EXPECT_EQ(reverb_status_gs.level, 50);
    EXPECT_EQ(channel[0].insertion_effect, 1);
}

TEST_F(ChannelParams, XgMessagesReachLimitsSwitchesTuningLayersDrumsAndEffects)
{
    chorus_status_xg.type_msb = 0x42;  // switching into XG puts the XG effects back
    eq_status_gs.low_gain = 0x50;      // reading a song puts every store back to power-on
    play_song(track_song({
                  {0, xg_on},
                  {0, xg(0x08, 0x02, 0x0F, {30, 90})},      // part 2 note limits
                  {0, xg(0x08, 0x02, 0x6D, {20, 110})},     // part 2 velocity limits
                  {0, xg(0x08, 0x02, 0x30, {0x01, 0x01, 0x00})},  // program change off
                  {0, xg(0x08, 0x02, 0x41, {0x50})},        // scale tuning C +16 cents
                  {0, xg(0x08, 0x02, 0x11, {0x30})},        // dry level
                  {0, xg(0x08, 0x03, 0x04, {0x02})},        // part 3 listens to channel 2
                  {0, xg(0x30, 42, 0x0E, {0x50})},          // drum setup 1, note 42, decay 1
                  {0, xg(0x02, 0x01, 0x0C, {0x30})},        // reverb return
                  {0, {0x92, 60, 100}},
              }),
              "xg-parameters.mid");
    EXPECT_EQ(play_system_mode, XG_SYSTEM_MODE);
    EXPECT_EQ(chorus_status_xg.type_msb, 0x41);
    EXPECT_EQ(eq_status_gs.low_gain, 0x40);
    EXPECT_EQ(channel[2].volume, 100);
    EXPECT_EQ(channel[2].note_limit_low, 30);
    EXPECT_EQ(channel[2].note_limit_high, 90);
    EXPECT_EQ(channel[2].vel_limit_low, 20);
    EXPECT_EQ(channel[2].vel_limit_high, 110);
    EXPECT_EQ(channel[2].rx & RX_PROGRAM_CHANGE, 0u);
    EXPECT_NE(channel[2].rx & RX_CH_PRESSURE, 0u);
    EXPECT_EQ(channel[2].scale_tuning[0], 16);
    EXPECT_EQ(channel[2].dry_level, 0x30);
    EXPECT_EQ(channel[3].channel_layer, 1u << 2);
    ASSERT_NE(channel[9].drums[42], nullptr);
    EXPECT_EQ(channel[9].drums[42]->drum_envelope_rate[2], 0x50);
    EXPECT_EQ(reverb_status_xg.ret, 0x30);
    // The note on channel 2 reached the hook on channel 2 and on part 3, which layers it.
    ASSERT_EQ(note_states().size(), 2u);
    EXPECT_EQ(note_states()[1].ch, 3);
}

TEST_F(ChannelParams, DamagedMessagesStayInsideTheRecords)
{
    // Bytes beyond seven bits inside messages: a program of 255 is not the special program,
    // a key range of 200 is the top key, a receive channel of 64 listens to nothing.
    play_song(track_song({
                  {0, xg_on},
                  {0, xg(0x08, 0x01, 0x03, {0xFF})},
                  {0, xg(0x08, 0x01, 0x10, {0xC8})},
                  {0, xg(0x08, 0x04, 0x04, {0x40})},
                  {0, gs(0x40, 0x15, 0x1D, {0x90})},
              }),
              "damaged-parameters.mid");
    EXPECT_EQ(channel[1].program, 127);
    EXPECT_EQ(channel[1].note_limit_high, 127);
    EXPECT_EQ(channel[4].channel_layer, 0u);
    EXPECT_EQ(channel[4].note_limit_low, 127);

    // Parts beyond the 32 channels and drum parameters without their note are ignored.
    process_sysex_event(ME_SYSEX_LSB, 40, 10, SYSEX_NOTE_LIMIT_LOW);
    process_sysex_event(ME_SYSEX_XG_LSB, 9, 10, XG_DRUM_EG_DECAY1);
    EXPECT_EQ(channel[9].drums[0], nullptr);
    // An MSB waits for its own family's LSB only.
    process_sysex_event(ME_SYSEX_GS_MSB, 9, 50, GS_DRUM_PLAY_NOTE);
    process_sysex_event(ME_SYSEX_LSB, 9, 0, SYSEX_DRUM_RX_NOTE_ON);
    EXPECT_EQ(channel[9].drums[50], nullptr);
    process_sysex_event(ME_SYSEX_GS_LSB, 9, 51, GS_DRUM_PLAY_NOTE);
    ASSERT_NE(channel[9].drums[50], nullptr);
    EXPECT_EQ(channel[9].drums[50]->play_note, 51);

    // A data entry of 200 (from a damaged message) is held to 127.
    data_entry(9, true, 0x18, 36, 200);
    ASSERT_NE(channel[9].drums[36], nullptr);
    EXPECT_EQ(channel[9].drums[36]->coarse, 63);
}

// ---- parameters, portamento, names ----

TEST_F(ChannelParams, ParameterNumbersSetDepthsEqualiserAndDrumPitch)
{
    // Modulation depth range in 1/128 semitones (the LSB is 64 after the parameter reset).
    data_entry(0, false, 0, 5, 1);
    EXPECT_EQ(channel[0].mod.lfo1_pitch_depth, 100 + 50);
    send(ME_DATA_ENTRY_LSB, 0, 0);
    send(ME_DATA_ENTRY_MSB, 0, 2);
    EXPECT_EQ(channel[0].mod.lfo1_pitch_depth, 200);

    // Vibrato depth and delay: truncated toward zero, 0 for no delay.
    data_entry(1, true, 0x01, 0x09, 0);
    EXPECT_EQ(channel[1].vibrato_depth, -6);
    channel[1].vibrato_delay = 99;
    data_entry(1, true, 0x01, 0x0A, 0);
    EXPECT_EQ(channel[1].vibrato_delay, 0);

    // The part equaliser follows only with equaliser control on; frequencies are held.
    data_entry(2, true, 0x01, 0x30, 0x50);
    EXPECT_EQ(channel[2].eq_xg.bass, 0x40);
    opt_eq_control = 1;
    data_entry(2, true, 0x01, 0x30, 0x50);
    EXPECT_EQ(channel[2].eq_xg.bass, 0x50);
    EXPECT_TRUE(channel[2].eq_xg.valid);
    data_entry(2, true, 0x01, 0x35, 100);
    EXPECT_EQ(channel[2].eq_xg.treble_freq, 58);
    data_entry(2, true, 0x01, 0x34, 0);
    EXPECT_EQ(channel[2].eq_xg.bass_freq, 4);

    // Drum pitch: the note of the select, the bend factor recomputed.
    channel[9].pitchfactor = 1.5;
    data_entry(9, true, 0x19, 40, 70);
    ASSERT_NE(channel[9].drums[40], nullptr);
    EXPECT_EQ(channel[9].drums[40]->fine, 6);
    EXPECT_EQ(channel[9].pitchfactor, 0);
}

TEST_F(ChannelParams, PortamentoTimeGivesItsStepAndRatioAndOffStopsGliding)
{
    channel[0].portamento = 1;
    channel[0].portamento_time_msb = 64;  // 2^(64/16)/16 = 1.0
    update_portamento_controls(0);
    // mt = 0.0002: step = int(1 / 0.0512) + 1 = 20, ratio = int(20 x 44100 x 0.0002 + 0.5).
    EXPECT_EQ(channel[0].porta_dpb, 20);
    EXPECT_EQ(channel[0].porta_control_ratio, 176);

    int v = sounding_voice(0, 60);
    voice[v].porta_control_ratio = 99;
    update_portamento_time(0);
    EXPECT_EQ(voice[v].porta_control_ratio, 176);
    EXPECT_EQ(voice[v].porta_dpb, 20);

    channel[0].last_note_fine = 60 * 256;
    send(ME_PORTAMENTO, 0, 0);
    EXPECT_EQ(channel[0].porta_control_ratio, 0);
    EXPECT_EQ(voice[v].porta_control_ratio, 0);
    EXPECT_EQ(channel[0].last_note_fine, -1);
}

TEST_F(ChannelParams, InstrumentNamesOfTheFreePatchSetInEveryMode)
{
    const std::string dir = CORVELLE_SOURCE_DIR "/data/freepats";
    struct stat st;
    if (stat((dir + "/patches.cfg").c_str(), &st) != 0)
        GTEST_SKIP() << "no patch set at " << dir;
    reset_configuration_state();
    ReadResult r = read_config_text("dir " + dir + "\nsource " + dir + "/patches.cfg\n");
    ASSERT_EQ(r.status, 0) << r.messages;

    // GS: the bank comes from the MSB; bank 8 is not in the set and bank 0 answers.
    play_system_mode = GS_SYSTEM_MODE;
    channel[0].bank_msb = 8;
    midi_program_change(0, 16);
    EXPECT_STREQ(channel_instrum_name(0), "Tone_000/016_Hammond_Organ.pat");
    // A program the set does not have has no name.
    midi_program_change(0, 3);
    EXPECT_STREQ(channel_instrum_name(0), "");

    // XG: the bank comes from the LSB; MSB 127 makes a drum kit of channel 9.
    play_system_mode = XG_SYSTEM_MODE;
    channel[1].bank_msb = 0;
    channel[1].bank_lsb = 3;
    midi_program_change(1, 0);
    EXPECT_STREQ(channel_instrum_name(1), "Tone_000/000_Acoustic_Grand_Piano.pat");
    EXPECT_EQ(tonebank[3], nullptr);  // asking for a name creates no bank

    // GM2: MSB 121 turns channel 9 melodic.
    play_system_mode = GM2_SYSTEM_MODE;
    channel[9].bank_msb = 121;
    midi_program_change(9, 19);
    EXPECT_FALSE(ISDRUMCHANNEL(9));
    EXPECT_STREQ(channel_instrum_name(9), "Tone_000/019_Church_Organ.pat");
    reset_configuration_state();
}

}  // namespace
