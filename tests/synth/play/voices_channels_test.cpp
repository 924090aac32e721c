// The voice pool's release and kill operations (stealing and polyphony changes are driven
// through notes in note_voices_test), and the channel defaults, program changes and
// instrument names.
#include <cstdlib>
#include <cstring>

#include "config/tonebank.h"
#include "synth/play/player_fixture.h"

using VoicePool = PlayerTest;

TEST_F(VoicePool, NotesOffSoundsOffAndKillingEverything)
{
    int a = sounding_voice(2, 60);
    int b = sounding_voice(2, 61, VOICE_SUSTAINED);
    int c = sounding_voice(3, 62);
    vidq_head[2 * 128 + 60] = 3;
    channel[2].sustain = 127;
    all_notes_off(2);
    EXPECT_EQ(voice[a].status, VOICE_SUSTAINED);  // the pedal still holds it
    EXPECT_EQ(voice[b].status, VOICE_SUSTAINED);
    EXPECT_EQ(voice[c].status, VOICE_ON);
    EXPECT_EQ(vidq_head[2 * 128 + 60], 0);

    all_sounds_off(2);
    EXPECT_EQ(voice[a].status, VOICE_DIE);
    EXPECT_EQ(voice[b].status, VOICE_DIE);
    EXPECT_EQ(voice[c].status, VOICE_ON);
    kill_all_voices();
    EXPECT_EQ(voice[c].status, VOICE_DIE);
    EXPECT_EQ(count_active_voices(), 3);
    reset_voices();
    EXPECT_EQ(upper_voices, 0);
    EXPECT_EQ(count_active_voices(), 0);
}

TEST_F(VoicePool, OverlappingNoteOffWithoutNoteOnChangesNothing)
{
    int saved = opt_overlap_voice_allow;
    opt_overlap_voice_allow = 1;
    int v = sounding_voice(0, 60);
    vidq_head[60] = 0;  // as if no note-on had been counted for this key
    MidiEvent off = make_event(0, ME_NOTEOFF, 0, 60, 0);
    note_off(&off);
    EXPECT_EQ(voice[v].status, VOICE_ON);
    vidq_head[60] = 1;  // one note-on of this key, started with number 0
    note_off(&off);
    EXPECT_EQ(voice[v].status, VOICE_OFF);
    EXPECT_EQ(vidq_tail[60], 1);
    opt_overlap_voice_allow = saved;
}

class Channels : public PlayerTest {};

TEST_F(Channels, ResetGivesTheDefaultsOfTheSystemMode)
{
    channel[3].volume = 12;
    channel[3].note_limit_high = 20;
    channel[3].panning = 30;
    reset_midi(0);
    EXPECT_EQ(channel[3].volume, 90);
    EXPECT_EQ(channel[3].expression, 127);
    EXPECT_EQ(channel[3].pitchbend, 8192);
    EXPECT_EQ(channel[3].panning, -1);
    EXPECT_EQ(channel[3].note_limit_low, 0);
    EXPECT_EQ(channel[3].note_limit_high, 127);
    EXPECT_EQ(channel[3].vel_limit_high, 127);
    EXPECT_EQ(channel[3].channel_layer, 1u << 3);
    EXPECT_EQ(channel[3].rpnmap[RPN_ADDR_0000], 2);
    EXPECT_EQ(get_reverb_level(3), DEFAULT_REVERB_SEND_LEVEL);

    play_system_mode = XG_SYSTEM_MODE;
    reset_controllers(3);
    EXPECT_EQ(channel[3].volume, 100);
    reset_midi(0);
    EXPECT_EQ(channel[9].bank_msb, 127);
    EXPECT_EQ(channel[25].bank_msb, 127);
    EXPECT_EQ(channel[8].bank_msb, 0);
    play_system_mode = DEFAULT_SYSTEM_MODE;
}

TEST_F(Channels, ProgramChangesFollowTheSystemModesBankRules)
{
    // XG: bank MSB 127 makes channel 10 a drum part of the XG drum map.
    play_system_mode = XG_SYSTEM_MODE;
    drumchannels &= ~(1u << 9);
    channel[9].bank_msb = 127;
    midi_program_change(9, 25);
    EXPECT_TRUE(ISDRUMCHANNEL(9));
    EXPECT_EQ(channel[9].mapID, XG_DRUM_MAP);
    EXPECT_EQ(channel[9].bank, 25);
    // ...unless its drum flag is fixed.
    drumchannels &= ~(1u << 9);
    drumchannel_mask = 1u << 9;
    midi_program_change(9, 25);
    EXPECT_FALSE(ISDRUMCHANNEL(9));
    drumchannel_mask = 0;

    // GM2: MSB 121 turns a drum channel melodic; the bank comes from the LSB.
    play_system_mode = GM2_SYSTEM_MODE;
    drumchannels |= 1u << 9;
    channel[9].bank_msb = 121;
    channel[9].bank_lsb = 2;
    midi_program_change(9, 40);
    EXPECT_FALSE(ISDRUMCHANNEL(9));
    EXPECT_EQ(channel[9].mapID, GM2_TONE_MAP);
    EXPECT_EQ(channel[9].bank, 2);
    EXPECT_EQ(channel[9].program, 40);

    // GS takes the bank from the MSB, XG from the LSB.
    play_system_mode = GS_SYSTEM_MODE;
    channel[0].bank_msb = 8;
    midi_program_change(0, 16);
    EXPECT_EQ(channel[0].bank, 8);
    play_system_mode = XG_SYSTEM_MODE;
    channel[1].bank_lsb = 3;
    midi_program_change(1, 0);
    EXPECT_EQ(channel[1].bank, 3);

    // A channel whose default program is the special one keeps it.
    play_system_mode = DEFAULT_SYSTEM_MODE;
    default_program[4] = -1;
    midi_program_change(4, 10);
    EXPECT_EQ(channel[4].program, -1);
    EXPECT_STREQ(channel_instrum_name(4), "Special Program");
    default_program[4] = 0;
    drumchannels = default_drumchannels;
}

TEST_F(Channels, InstrumentNamesComeFromTheToneBanks)
{
    ToneBank* saved_bank = tonebank[0];
    ToneBank* saved_drums = drumset[0];
    ToneBank* saved_bank5 = tonebank[5];
    ToneBank melodic, drums;
    memset(&melodic, 0, sizeof melodic);
    memset(&drums, 0, sizeof drums);
    char piano[] = "Tone_000/000_Acoustic_Grand_Piano.pat";
    char organ[] = "organ.pat", organ_comment[] = "Drawbar Organ";
    char kit[] = "Standard Kit";
    melodic.tone[0].name = piano;
    melodic.tone[16].name = organ;
    melodic.tone[16].comment = organ_comment;
    drums.tone[0].comment = kit;
    tonebank[0] = &melodic;
    drumset[0] = &drums;

    channel[0].program = 0;
    channel[1].program = 16;
    channel[2].program = 99;  // not in the bank
    EXPECT_STREQ(channel_instrum_name(0), piano);
    EXPECT_STREQ(channel_instrum_name(1), "Drawbar Organ");
    EXPECT_STREQ(channel_instrum_name(2), "");
    EXPECT_STREQ(channel_instrum_name(9), "Standard Kit");
    // A bank without the program falls back to bank 0's entry.
    channel[3].program = 16;
    channel[3].bank = 5;
    EXPECT_STREQ(channel_instrum_name(3), "Drawbar Organ");
    EXPECT_EQ(tonebank[5], saved_bank5);  // asking for a name creates no bank
    EXPECT_STREQ(channel_instrum_name(40), "");

    tonebank[0] = saved_bank;
    drumset[0] = saved_drums;
    if (saved_bank5 == nullptr) {
        free(tonebank[5]);
        tonebank[5] = nullptr;
    }
}
