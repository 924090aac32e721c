// Loudness and placement as heard: velocity, volume curves, pan, mono output, the low-pass filter.
#include "synth/render/voice_sound.h"

#include "render/gs_curves.h"

class VoiceLevel : public VoiceSound {
protected:
    // Steady level of the left (0) or right (1) side of a note in dB.
    double level(int note, int velocity, std::vector<MidiEvent> setup = {}, int which = 0)
    {
        play_note(note, velocity, setup, 0, 10000, 10000);
        return level_db(side(which), 2000, 10000);
    }
    static std::vector<MidiEvent> pan_to(int pan) { return {make_event(0, ME_PAN, 0, pan, 0)}; }
};

TEST_F(VoiceLevel, VelocityVolumeAndExpressionFollowTheCurveOfTheSystemMode)
{
    double last[3] = {-200, -200, -200};
    for (int x : {10, 40, 70, 100, 127}) {
        const double by[3] = {level(69, x), level(69, 100, {make_event(0, ME_MAINVOLUME, 0, x, 0)}),
                              level(69, 100, {make_event(0, ME_EXPRESSION, 0, x, 0)})};
        for (int k = 0; k < 3; k++) {
            EXPECT_GT(by[k], last[k] + 1.0) << "velocity, volume, expression " << k << " at " << x;
            last[k] = by[k];
        }
    }
    EXPECT_TRUE(last[0] > -12.0 && last[0] < 0.0) << last[0];  // a loud note is loud
    // At the default drum power a drum channel plays as loud as a melodic one.
    {
        Restore drums(drumchannels, drumchannels | 1u);
        EXPECT_NEAR(level(69, 127), last[0], 0.02);
    }

    const struct { int mode; const double* curve; } modes[] = {
        {DEFAULT_SYSTEM_MODE, perceived_vol_table}, {GS_SYSTEM_MODE, sc_vel_table},
        {GM2_SYSTEM_MODE, gm2_vol_table}};
    for (const auto& m : modes) {
        play_system_mode = m.mode;
        // Under full volume, so that no gain reaches its limit.
        std::vector<MidiEvent> vol = {make_event(0, ME_MAINVOLUME, 0, 90, 0)};
        EXPECT_NEAR(level(69, 50, vol) - level(69, 127, vol), 20 * std::log10(m.curve[50] / m.curve[127]),
                    0.2) << "mode " << m.mode;
    }
    play_system_mode = DEFAULT_SYSTEM_MODE;
    // The GS curves rise evenly between their measured points (no plateau at one).
    for (const double* curve : {sc_vel_table, sc_vol_table})
        for (int i = 2; i < 127; i++)
            ASSERT_NEAR((curve[i + 1] - curve[i]) / (curve[i] - curve[i - 1]), 1.0, 0.2) << i;
}

TEST_F(VoiceLevel, PanPlacesTheVoice)
{
    for (int pan : {0, 1, 127}) {  // hard: the other side is silent
        const double near = level(69, 127, pan_to(pan), pan == 127);
        const double far = level(69, 127, pan_to(pan), pan != 127);
        EXPECT_TRUE(near > -12.0 && far < -90.0) << pan << ": " << near << " " << far;
    }
    EXPECT_NEAR(level(69, 127, pan_to(64), 0), level(69, 127, pan_to(64), 1), 0.05);
    EXPECT_GT(level(69, 127, pan_to(32), 0), level(69, 127, pan_to(32), 1) + 3.0);
    // Mono output ignores pan; one value per frame, as loud wherever the voice is panned.
    play_mode->encoding |= PE_MONO;
    aq_setup();
    std::vector<int32> mono[2];
    for (int i = 0; i < 2; i++) {
        play_note(69, 127, pan_to(i * 127), 0, 10000, 10000);
        mono[i] = recorded();
    }
    ASSERT_EQ(mono[0].size(), 10000u);
    EXPECT_GT(level_db(mono[0], 2000, 10000), -12.0);
    EXPECT_NEAR(level_db(mono[0], 2000, 10000), level_db(mono[1], 2000, 10000), 0.05);
    EXPECT_NEAR(zero_crossing_freq(mono[0], 2000, 10000), 440.0, 0.5);
}

TEST_F(VoiceLevel, LowPassFilterAttenuatesAboveItsCutoff)
{
    // At 1 kHz 220 Hz passes; 7040 Hz is cut, 12 dB an octave (state-variable) or 24 (ladder).
    Restore filter_type(opt_lpf_def, 0);
    tone.s.cutoff_freq = 1000;
    const double low = level(57, 127), high = level(117, 127);
    for (int type : {1, 2}) {
        opt_lpf_def = type;
        EXPECT_NEAR(level(57, 127), low, 1.0) << type;
        EXPECT_NEAR(pitch(2000, 10000), 220.0, 0.5);
        EXPECT_LT(level(117, 127), high - (type == 1 ? 25.0 : 40.0)) << type;
    }
    // Resonance lifts what lies at the cutoff (note 83 is 988 Hz).
    opt_lpf_def = 1;
    const double flat = level(83, 60);
    tone.s.resonance = 150;  // 15 dB less the filter's 3 dB
    EXPECT_GT(level(83, 60), flat + 6.0);
    // Above a sixth of the rate the state-variable filter is unstable: such a note is unfiltered.
    tone.s.resonance = 0, tone.s.cutoff_freq = 12000;
    level(69, 127);
    const std::vector<int32> unstable = side(0);
    opt_lpf_def = 0;
    level(69, 127);
    EXPECT_EQ(side(0), unstable);
    // A drum channel takes neither the channel's cutoff nor its resonance.
    channel[9].param_cutoff_freq = channel[9].param_resonance = 40;
    recompute_channel_filter(9, 60);
    EXPECT_EQ(std::make_tuple(channel[9].cutoff_freq_coef, channel[9].resonance_dB),
              std::make_tuple(1.0f, 0.0f));
}
