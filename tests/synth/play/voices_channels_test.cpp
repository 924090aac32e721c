// The voice pool's release and kill operations; channels' program changes and instrument names.
#include "config/tonebank.h"
#include "synth/play/player_fixture.h"

using VoicePool = PlayerTest;

TEST_F(VoicePool, NotesOffSoundsOffAndKillingEverything)
{
    int a = sounding_voice(2, 60), b = sounding_voice(2, 61, VOICE_SUSTAINED), c = sounding_voice(3, 62);
    auto statuses = [&] { return std::vector<int>{voice[a].status, voice[b].status, voice[c].status}; };
    vidq_head[2 * 128 + 60] = 3, channel[2].sustain = 127;
    all_notes_off(2);  // the pedal still holds a
    EXPECT_EQ(statuses(), (std::vector<int>{VOICE_SUSTAINED, VOICE_SUSTAINED, VOICE_ON}));
    EXPECT_EQ(vidq_head[2 * 128 + 60], 0);
    all_sounds_off(2);
    EXPECT_EQ(statuses(), (std::vector<int>{VOICE_DIE, VOICE_DIE, VOICE_ON}));
    kill_all_voices();
    EXPECT_EQ(std::make_tuple(voice[c].status, count_active_voices()), std::make_tuple((uint8)VOICE_DIE, 3));
    reset_voices();
    EXPECT_EQ(std::make_tuple(upper_voices, count_active_voices()), std::make_tuple(0, 0));
    // An overlapping note-off without a note-on of its key changes nothing.
    Restore overlap(opt_overlap_voice_allow, 1);
    int v = sounding_voice(0, 60);
    MidiEvent off = make_event(0, ME_NOTEOFF, 0, 60, 0);
    vidq_head[60] = 0;
    note_off(&off);
    EXPECT_EQ(voice[v].status, VOICE_ON);
    vidq_head[60] = 1;  // one note-on of this key, started with number 0
    note_off(&off);
    EXPECT_EQ(std::make_tuple(voice[v].status, vidq_tail[60]), std::make_tuple((uint8)VOICE_OFF, 1));
}

// The fixture sets the mode and the drum channels again for every test.
using Channels = PlayerTest;

TEST_F(Channels, ProgramChangesFollowTheSystemModesBankRules)
{
    // XG: bank MSB 127 makes channel 10 a drum part of the XG drum map, unless its drum flag is fixed.
    play_system_mode = XG_SYSTEM_MODE, drumchannels &= ~(1u << 9), channel[9].bank_msb = 127;
    midi_program_change(9, 25);
    EXPECT_EQ(std::make_tuple((bool)ISDRUMCHANNEL(9), channel[9].mapID, channel[9].bank),
              std::make_tuple(true, XG_DRUM_MAP, 25));
    drumchannels &= ~(1u << 9), drumchannel_mask = 1u << 9;
    midi_program_change(9, 25);
    EXPECT_FALSE(ISDRUMCHANNEL(9));
    drumchannel_mask = 0;
    // GM2: MSB 121 turns a drum channel melodic; the bank comes from the LSB.
    play_system_mode = GM2_SYSTEM_MODE, drumchannels |= 1u << 9, channel[9].bank_msb = 121;
    channel[9].bank_lsb = 2;
    midi_program_change(9, 40);
    EXPECT_FALSE(ISDRUMCHANNEL(9));
    EXPECT_EQ((std::vector<int>{channel[9].mapID, channel[9].bank, channel[9].program}),
              (std::vector<int>{GM2_TONE_MAP, 2, 40}));
    // GS takes the bank from the MSB, XG from the LSB.
    play_system_mode = GS_SYSTEM_MODE, channel[0].bank_msb = 8;
    midi_program_change(0, 16);
    EXPECT_EQ(channel[0].bank, 8);
    play_system_mode = XG_SYSTEM_MODE, channel[1].bank_lsb = 3;
    midi_program_change(1, 0);
    EXPECT_EQ(channel[1].bank, 3);
    // A channel whose default program is the special one keeps it.
    play_system_mode = DEFAULT_SYSTEM_MODE, default_program[4] = -1;
    midi_program_change(4, 10);
    EXPECT_EQ(channel[4].program, -1);
    EXPECT_STREQ(channel_instrum_name(4), "Special Program");
    default_program[4] = 0;
}

TEST_F(Channels, TheModuleSettingChoosesTheModeOfASongThatNamesNone)
{
    Restore module(opt_default_module);
    const int cases[][2] = {{0, DEFAULT_SYSTEM_MODE}, {1, GS_SYSTEM_MODE},  {15, GS_SYSTEM_MODE},
                            {16, XG_SYSTEM_MODE},     {19, XG_SYSTEM_MODE}, {20, DEFAULT_SYSTEM_MODE}};
    for (const auto& c : cases) {
        opt_default_module = c[0], play_system_mode = DEFAULT_SYSTEM_MODE;
        change_system_mode(DEFAULT_SYSTEM_MODE);
        EXPECT_EQ(play_system_mode, c[1]) << "module " << c[0];
    }
}

TEST_F(Channels, InstrumentNamesComeFromTheToneBanks)
{
    ToneBank melodic = {}, drums = {};
    char piano[] = "Tone_000/000_Acoustic_Grand_Piano.pat", organ[] = "organ.pat";
    char organ_comment[] = "Drawbar Organ", kit[] = "Standard Kit";
    melodic.tone[0].name = piano, melodic.tone[16].name = organ, melodic.tone[16].comment = organ_comment;
    drums.tone[0].comment = kit;
    Restore bank(tonebank[0], &melodic), drum_set(drumset[0], &drums), bank5(tonebank[5]);
    // Channel 2's program is not in the bank; channel 3's bank 5 lacks it and falls back to bank 0.
    const int programs[] = {0, 16, 99, 16};
    for (int ch = 0; ch < 4; ch++)
        channel[ch].program = programs[ch];
    channel[3].bank = 5;
    const std::pair<int, const char*> names[] = {{0, piano},         {1, "Drawbar Organ"}, {2, ""},
                                                 {9, "Standard Kit"}, {3, "Drawbar Organ"}, {40, ""}};
    for (const auto& n : names)
        EXPECT_STREQ(channel_instrum_name(n.first), n.second) << n.first;
    EXPECT_EQ(tonebank[5], bank5.saved());  // asking for a name creates no bank
}
