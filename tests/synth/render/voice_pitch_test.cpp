// Pitch as heard: notes from a sine patch at two rates, bends, tunings, extreme tunings.
#include "synth/render/voice_sound.h"

class VoicePitch : public VoiceSound {
protected:
    static std::vector<MidiEvent> rpn(int lsb, int value, std::vector<MidiEvent> more = {})
    {
        more.insert(more.begin(), {make_event(0, ME_RPN_MSB, 0, 0, 0), make_event(0, ME_RPN_LSB, 0, lsb, 0),
                                   make_event(0, ME_DATA_ENTRY_MSB, 0, value, 0)});
        return more;
    }
};

TEST_F(VoicePitch, NotesBendsAndTuningsComeOutAtTheirCents)
{
    for (int rate : {44100, 22050}) {
        use_tone(rate, rate / 441.0);
        for (int note : {36, 48, 60, 69, 84, 96})
            EXPECT_NEAR(cents(note_pitch(note), 440.0 * std::pow(2.0, (note - 69) / 12.0)), 0.0, 3.0)
                << "note " << note << " at " << rate;
    }
    const double plain = note_pitch(60);
    const MidiEvent bend_up = make_event(0, ME_PITCHWHEEL, 0, 0x7F, 0x7F);
    const MidiEvent tune_e = make_event(0, ME_SCALE_TUNING, 0, 4, 50);
    const struct { const char* what; int note; std::vector<MidiEvent> setup; double cents; } cases[] = {
        {"full bend up", 60, {bend_up}, 200},
        {"full bend down", 60, {make_event(0, ME_PITCHWHEEL, 0, 0, 0)}, -200},
        {"sensitivity 12", 60, rpn(0, 12, {bend_up}), 1200.0 * 8191 / 8192},
        {"equal-tempered third", 64, {}, 400},
        {"E tuned 50 cents up", 64, {tune_e}, 450},
        {"C beside a tuned E", 60, {tune_e}, 0},
        // The bend caches the channel's factor, which must include the coarse tuning.
        {"coarse +3 under a bend", 64, rpn(2, 64 + 3, {make_event(0, ME_PITCHWHEEL, 0, 0x00, 0x50)}),
         700 + 2 * (double)(0x2800 - 0x2000) / 8192 * 100},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(cents(note_pitch(c.note, c.setup), plain), c.cents, 3.0) << c.what;
}

TEST_F(VoicePitch, TwoDrumNotesWithDifferentPitchSettingsKeepTheirOwnPitch)
{
    // Under one bend only the first has a coarse offset: the cached bend factor must not carry it.
    Restore drums(drumchannels, drumchannels | 1u);
    play_midi_setup_drums(0, 60);
    channel[0].drums[60]->coarse = 12, channel[0].pitchfactor = 0;
    play({make_event(0, ME_PITCHWHEEL, 0, 0, 0x50), make_event(0, ME_NOTEON, 0, 60, 100),
          make_event(0, ME_NOTEON, 0, 72, 100)},
         2000);
    int a = -1, b = -1;
    for (int i = 0; i < upper_voices; i++)
        (voice[i].note == 60 ? a : b) = i;
    ASSERT_TRUE(a >= 0 && b >= 0);
    EXPECT_NEAR(cents(voice[a].frequency, voice[b].frequency), 0.0, 1.0);
    EXPECT_NEAR(cents(voice[b].frequency, freq_table[72]), 50.0, 1.0);
}

TEST_F(VoicePitch, ExtremeTuningsAndLowNotesKeepPlaying)
{
    // A note far below a very high root: the step would round to nothing and never move.
    use_tone(8000, 8000 / 441.0);
    tone.s.root_freq = 20000000;
    EXPECT_NE(stderr_of([&] { note_pitch(0); }).find("Invalid sample increment"), std::string::npos);
    EXPECT_EQ(voice[0].sample_step, 1);
    // Highest coarse tuning, highest bend range and the top note: a finite frequency.
    use_tone(44100, 100);
    note_pitch(127, rpn(2, 127, rpn(0, 24, {make_event(0, ME_PITCHWHEEL, 0, 0x7F, 0x7F)})));
    EXPECT_GT(voice[0].frequency, freq_table[127]);
}

TEST_F(VoicePitch, PressureModulationAndNoteTuningMoveThePitch)
{
    const double plain = note_pitch(60);
    // Channel pressure at full with a pitch control of one semitone: 127/128 of it, when on.
    channel[0].caf.pitch = 1;
    std::vector<MidiEvent> pressed = {make_event(0, ME_CHANNEL_PRESSURE, 0, 127, 0)};
    EXPECT_NEAR(cents(note_pitch(60, pressed), plain), 0.0, 1.0);
    {
        Restore pressure(opt_channel_pressure, 1);
        EXPECT_NEAR(cents(note_pitch(60, pressed), plain), 100.0 * 127 / 128, 3.0);
    }
    channel[0].caf.pitch = 0;

    // A modulation envelope at its top with 1200 cents to pitch: an octave up, when on.
    tone.s.modenv_to_pitch = 1200;
    for (int i = 0; i < 6; i++)
        tone.s.modenv_offset[i] = i < 3 ? FULL_LEVEL : 0, tone.s.modenv_rate[i] = INSTANT_RATE;
    EXPECT_NEAR(cents(note_pitch(60), plain), 0.0, 1.0);
    Restore envelope(opt_modulation_envelope, 1);
    EXPECT_NEAR(cents(note_pitch(60), plain), 1200.0, 3.0);
    tone.s.modenv_to_pitch = 0;
    // The modulation LFO at 100 cents, a 144180-sample cycle: a semitone up at 1/4, down at 3/4.
    tone.s.tremolo_to_pitch = 100, tone.s.tremolo_phase_increment = 10;
    play_note(60, 100, {}, 0, 112000, 112000);
    EXPECT_NEAR(cents(pitch(34000, 40000), plain), 100.0, 15.0);
    EXPECT_NEAR(cents(pitch(106000, 112000), plain), -100.0, 15.0);
    tone.s.tremolo_to_pitch = 0, opt_modulation_envelope = 0;

    // The modulation wheel's vibrato (5 Hz) on a patch without one swings up first.
    play_note(60, 100, {make_event(0, ME_MODULATION_WHEEL, 0, 127, 0)});
    EXPECT_GT(pitch(0, 2205), plain + 3.0);
    EXPECT_LT(pitch(4410, 6615), plain - 3.0);

    // Single-note tuning (note 60 to 61.5) retunes a sounding note at once, and new notes take it.
    std::vector<MidiEvent> tuning = {make_event(10000, ME_SINGLE_NOTE_TUNING, 0, 0, 0),
                                     make_event(10000, ME_SINGLE_NOTE_TUNING, 1, 60, 61),
                                     make_event(10000, ME_SINGLE_NOTE_TUNING, 2, 0x40, 0)};
    play_note(60, 100, tuning, 0, 30000, 30000);
    EXPECT_NEAR(cents(pitch(2000, 10000), plain), 0.0, 1.0);
    EXPECT_NEAR(cents(pitch(12000, 30000), plain), 150.0, 3.0);
    EXPECT_NEAR(cents(note_pitch(60), plain), 150.0, 3.0);
    // With every voice in use, the retuning looks at no voice past the last one.
    while (upper_voices < max_voices)
        sounding_voice(1, 61);
    ASSERT_EQ(play_event(&tuning[2]), RC_NONE);
    init_freq_table_tuning();
}
