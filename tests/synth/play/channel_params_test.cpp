// Channel parameters at playback: songs' system-exclusive messages, and parameter numbers.
#include "config/tonebank.h"
#include "effects/effect.h"
#include "readmidi/sysex.h"
#include "synth/play/player_fixture.h"
#include "tools/song_analysis.h"

namespace {

const auto gs = songtest::gs_sysex;
const auto xg = songtest::xg_sysex;

// What a channel was like when one of its notes started.
struct NoteState { int ch; bool drum; int bank, program, map; };
std::vector<NoteState> note_states;

class ChannelParams : public PlayerTest {
protected:
    Restore<int> eq_{opt_eq_control};
    void SetUp() override
    {
        PlayerTest::SetUp();
        free_drum_settings();
        note_states.clear();
        set_qevent([](MidiEvent* ev) {
            const Channel& c = channel[ev->channel];
            if (ev->type == ME_NOTEON)
                note_states.push_back({ev->channel, ISDRUMCHANNEL(ev->channel) != 0, c.bank, c.program,
                                       c.mapID});
        });
    }
    void TearDown() override
    {
        free_drum_settings();
        PlayerTest::TearDown();
    }
    void play_file(const std::string& name)
    {
        play_song_events(read_whole_file(CORVELLE_TEST_DATA "/midi/" + name), name);
    }
    // A format 0 song of the events, all at tick 0.
    static void play_at_zero(const std::vector<Bytes>& events, const std::string& name)
    {
        std::vector<TimedBytes> timed;
        for (const Bytes& e : events)
            timed.push_back({0, e});
        play_song_events(smf_format0(timed), name);
    }
};

TEST_F(ChannelParams, ConformanceFilesSetModesBanksAndDrumParts)
{
    const struct { const char* file; int mode; bool drum; int bank, program, map; } songs[] = {
        {"test-gm2-doggy-78-00-38-4c.mid", GM2_SYSTEM_MODE, true, 0x38, 0x38, GM2_DRUM_MAP},
        {"test-gm2-doggy-79-01-7b.mid", GM2_SYSTEM_MODE, false, 1, 0x7B, GM2_TONE_MAP},
        {"test-gs-doggy-01-00-7b.mid", GS_SYSTEM_MODE, false, 1, 0x7B, INST_NO_MAP},
        {"test-xg-doggy-40-00-30.mid", XG_SYSTEM_MODE, false, 0, 0x30, XG_SFX64_MAP},
        {"test-xg-doggy-7e-00-00-54.mid", XG_SYSTEM_MODE, true, 0, 0, XG_SFX126_MAP},
    };
    for (const auto& e : songs) {
        note_states.clear();
        play_file(e.file);
        ASSERT_FALSE(note_states.empty()) << e.file;
        const NoteState& s = note_states[0];
        EXPECT_EQ((std::vector<int>{play_system_mode, s.drum, s.bank, s.program, s.map}),
                  (std::vector<int>{e.mode, e.drum, e.bank, e.program, e.map}))
            << e.file;
    }
    // GS rhythm part: part #0 plays drums, later part #9 is made melodic.
    note_states.clear();
    play_file("test-sysex-gs-40-1x-15-drum-part-change.mid");
    ASSERT_EQ(note_states.size(), 8u);
    EXPECT_EQ(std::make_tuple(note_states[0].drum, note_states[7].ch, note_states[7].drum),
              std::make_tuple(true, 9, false));
    // Universal messages play without a fault.
    for (const char* f : {"test-sysex-7e-09-02-gm-disable.mid", "test-sysex-7f-04-04-master-coarse-tuning.mid",
                          "test-sysex-7x-08-0x-scale-tuning.mid", "test-running-status-sysex.mid"})
        play_file(f);
}

TEST_F(ChannelParams, GsAndXgMessagesReachTheChannelsDrumsAndEffectStores)
{
    chorus_status_xg.type_msb = 0x42;  // switching into XG puts the XG effects back
    eq_status_gs.low_gain = 0x50;      // reading a song puts every store back to power-on
    const Bytes tuning = {0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45};
    play_at_zero({xg(0x00, 0x00, 0x7E, {0x00}),              // XG system on
                  xg(0x08, 0x02, 0x0F, {30, 90}),            // part #2 note limits
                  xg(0x08, 0x02, 0x6D, {20, 110}),           // part #2 velocity limits
                  xg(0x08, 0x02, 0x30, {0x01, 0x01, 0x00}),  // no program change
                  xg(0x08, 0x03, 0x04, {0x02}),              // part #3 listens to channel 2
                  xg(0x30, 42, 0x0E, {0x50}),                // drum setup 1, note 42 decay 1
                  gs(0x40, 0x11, 0x40, tuning),              // part #0 scale tuning C..B
                  gs(0x40, 0x11, 0x03, {0x00}),              // part #0 ignores pitch bend
                  gs(0x40, 0x11, 0x17, {0x09, 0x04}),        // pitch offset fine +2.0 Hz
                  gs(0x40, 0x13, 0x02, {0x10}),              // part #2 listens to none
                  gs(0x41, 0x07, 38, {0x00}),                // drum note 38 ignores note-off
                  gs(0x41, 0x01, 40, {45}),                  // drum note 40 plays 45
                  gs(0x40, 0x01, 0x33, {50}),                // reverb level
                  gs(0x40, 0x21, 0x01, {0x50}),              // part #0 modulation cutoff
                  gs(0x40, 0x00, 0x01, {0x05}),              // master tune, one nibble only
                  {0x92, 60, 100}},
                 "parameters.mid");
    // A master tuning of 0x0500: +25.6 cents, the other nibbles as reset.
    EXPECT_EQ((std::vector<int>{play_system_mode, chorus_status_xg.type_msb, eq_status_gs.low_gain,
                                reverb_status_gs.level, master_tuning}),
              (std::vector<int>{XG_SYSTEM_MODE, 0x41, 0x40, 50, 2097}));
    const Channel &c0 = channel[0], &c2 = channel[2];
    EXPECT_EQ((std::vector<int>{c2.volume, c2.note_limit_low, c2.note_limit_high, c2.vel_limit_low,
                                c2.vel_limit_high}),
              (std::vector<int>{100, 30, 90, 20, 110}));
    EXPECT_EQ(std::make_tuple(c2.rx & (RX_PROGRAM_CHANGE | RX_CH_PRESSURE), c0.rx & (RX_PITCH_BEND | RX_PROGRAM_CHANGE)),
              std::make_tuple((uint32)RX_CH_PRESSURE, (uint32)RX_PROGRAM_CHANGE));
    EXPECT_EQ(std::vector<int>(c0.scale_tuning, c0.scale_tuning + 12),
              (std::vector<int>{-6, -5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5}));
    EXPECT_DOUBLE_EQ(c0.pitch_offset_fine, 2.0);
    EXPECT_EQ(c0.mod.cutoff, 2400);  // cents
    // The note on channel 2 reached only part #3: part #2 listens to no channel.
    ASSERT_EQ(note_states.size(), 1u);
    EXPECT_EQ(note_states[0].ch, 3);
    ASSERT_TRUE(channel[9].drums[42] && channel[9].drums[38] && channel[9].drums[40]);
    EXPECT_EQ((std::vector<int>{channel[9].drums[42]->drum_envelope_rate[2], channel[9].drums[40]->play_note,
                                get_rx_drum(channel[9].drums[38], RX_NOTE_OFF | RX_NOTE_ON)}),
              (std::vector<int>{0x50, 45, RX_NOTE_ON}));
}

TEST_F(ChannelParams, DamagedMessagesStayInsideTheRecords)
{
    // Bytes past seven bits: program 255 is not special, key limit 200 the top, channel 64 none.
    play_at_zero({xg(0x00, 0x00, 0x7E, {0x00}), xg(0x08, 0x01, 0x03, {0xFF}), xg(0x08, 0x01, 0x10, {0xC8}),
                  xg(0x08, 0x04, 0x04, {0x40})},
                 "damaged.mid");
    EXPECT_TRUE(channel[1].program == 127 && channel[1].note_limit_high == 127);
    EXPECT_EQ(channel[4].channel_layer, 0u);
    // Parts past 32 and drum parameters without their note are ignored; an MSB waits for its LSB.
    process_sysex_event(ME_SYSEX_LSB, 40, 10, SYSEX_NOTE_LIMIT_LOW);
    process_sysex_event(ME_SYSEX_XG_LSB, 9, 10, XG_DRUM_EG_DECAY1);
    EXPECT_EQ(channel[9].drums[0], nullptr);
    process_sysex_event(ME_SYSEX_GS_MSB, 9, 50, GS_DRUM_PLAY_NOTE);
    process_sysex_event(ME_SYSEX_LSB, 9, 0, SYSEX_DRUM_RX_NOTE_ON);
    EXPECT_EQ(channel[9].drums[50], nullptr);
    process_sysex_event(ME_SYSEX_GS_LSB, 9, 51, GS_DRUM_PLAY_NOTE);
    ASSERT_NE(channel[9].drums[50], nullptr);
    EXPECT_EQ(channel[9].drums[50]->play_note, 51);
    // A data entry of 200 is held to 127.
    data_entry(9, true, 0x18, 36, 200);
    ASSERT_NE(channel[9].drums[36], nullptr);
    EXPECT_EQ(channel[9].drums[36]->coarse, 63);
}

TEST_F(ChannelParams, ParameterNumbersSetDepthsAndTheEqualiser)
{
    // Modulation depth range in 1/128 semitones (the LSB is 64 after the parameter reset).
    data_entry(0, false, 0, 5, 1);
    EXPECT_EQ(channel[0].mod.lfo1_pitch_depth, 150);
    // Vibrato depth truncated toward zero; no delay for 0.
    data_entry(1, true, 0x01, 0x09, 0);
    channel[1].vibrato_delay = 99;
    data_entry(1, true, 0x01, 0x0A, 0);
    EXPECT_EQ(std::make_tuple(channel[1].vibrato_depth, channel[1].vibrato_delay), std::make_tuple(-6, 0));
    // The part equaliser follows only with equaliser control on; frequencies are held.
    data_entry(2, true, 0x01, 0x30, 0x50);
    EXPECT_EQ(channel[2].eq_xg.bass, 0x40);
    opt_eq_control = 1;
    data_entry(2, true, 0x01, 0x30, 0x50);
    data_entry(2, true, 0x01, 0x35, 100);
    const part_eq_xg& eq = channel[2].eq_xg;
    EXPECT_EQ(std::make_tuple(eq.bass, (bool)eq.valid, eq.treble_freq), std::make_tuple(0x50, true, 58));
}

}  // namespace
