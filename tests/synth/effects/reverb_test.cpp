// The reverbs: the comb-and-allpass reverb's set-up, its pre-filter, impulse tails that follow
// the reverb time, draining, the other reverb characters, and the reverb of the final stage.
#include "effect_fixture.h"

#include "readmidi/sysex.h"

using ReverbTest = EffectTest;

TEST_F(ReverbTest, CombAndAllpassLengthsAndGainsAtTheDefaults)
{
    const freeverb_record& r = freeverb_status;
    EXPECT_NEAR(r.roomsize, 0.938, 1e-9);
    const int32 left[8] = {1543, 1637, 1777, 1871, 1973, 2063, 2153, 2237};
    const int32 right[8] = {1571, 1669, 1801, 1901, 1993, 2087, 2179, 2267};
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(r.combL[i].size, left[i]) << i;
        EXPECT_EQ(r.combR[i].size, right[i]) << i;
    }
    const int32 apl[4] = {311, 479, 613, 769}, apr[4] = {347, 503, 641, 809};
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(r.allpassL[i].size, apl[i]) << i;
        EXPECT_EQ(r.allpassR[i].size, apr[i]) << i;
        EXPECT_EQ(r.allpassL[i].feedbacki, 9227468);
    }
    EXPECT_NEAR(r.combL[0].feedback, 0.9084, 5e-5);
    EXPECT_EQ(r.wet1i, 12582912);
    EXPECT_EQ(r.wet2i, 4194304);
    EXPECT_NEAR(r.wet_level, 0.0126, 5e-5);
    EXPECT_EQ(r.pdelay.size, 1);
    // The sends of the next block are scaled by the wet level factor.
    EXPECT_DOUBLE_EQ(REV_INP_LEV, r.wet_level);
    // A longer pre-delay time gives a longer line.
    set_effect_param_gs(GS_REVERB_PREDELAY_TIME, 100);
    EXPECT_EQ(freeverb_status.pdelay.size, 4410);
}

TEST_F(ReverbTest, PreFilterOnlyWhenItsValueIsSet)
{
    // Pre-LPF 7 is a one-pole low-pass at 200 Hz.
    set_effect_param_gs(GS_REVERB_PRE_LPF, 7);
    const double a = 2.0 * 200.0 / 44100.0;
    EXPECT_EQ(reverb_status_gs.lpf.ai, (int32)(a * 16777216.0));
    EXPECT_EQ(reverb_status_gs.lpf.iai, (int32)((1.0 - a) * 16777216.0));
    // A tone near half the rate reaches the reverb unfiltered only with pre-LPF 0.
    auto energy = [](int pre_lpf) {
        set_effect_param_gs(GS_REVERB_PRE_LPF, pre_lpf);
        auto out = run_blocks(44100, [](int32 i) { return (i & 1) ? 1 << 26 : -(1 << 26); },
                              reverb_effect_buffer, do_ch_reverb);
        double e = 0;
        for (int32 v : out)
            e += (double)v * v;
        return e;
    };
    const double filtered = energy(7), open = energy(0);
    EXPECT_GT(open, 100.0 * filtered);
}

// Seconds for the reverb's answer to an impulse to fall 30 dB.
static double reverb_decay(void)
{
    init_reverb();
    auto out = run_blocks(8 * 44100, impulse, reverb_effect_buffer, do_ch_reverb);
    return decay_time(out, 30.0);
}

TEST_F(ReverbTest, ImpulseTailFallsAndLastsLongerWithTheReverbTime)
{
    for (int macro = 0; macro <= 4; macro++) {
        set_effect_param_gs(GS_REVERB_MACRO, macro);
        const int time = reverb_status_gs.time;
        double base = reverb_decay();
        set_effect_param_gs(GS_REVERB_TIME, time + 24);
        double longer = reverb_decay();
        EXPECT_GT(base, 0.15) << "macro " << macro;
        EXPECT_GT(longer, base * 1.2) << "macro " << macro;
    }
    // The standard reverb too.
    opt_reverb_control = 1;
    set_effect_param_gs(GS_REVERB_MACRO, 4);
    double base = reverb_decay();
    set_effect_param_gs(GS_REVERB_TIME, 110);
    double longer = reverb_decay();
    EXPECT_GT(base, 0.05);
    EXPECT_GT(longer, base);
}

// After an impulse, blocks with a silent send first carry the tail, then leave the block
// exactly as it was.
static void expect_drains(int32 seconds)
{
    std::vector<int32> in(2048, 0), out(2048);
    in[0] = in[1] = 1 << 27;
    set_ch_reverb(in.data(), 2048, 127);
    std::fill(out.begin(), out.end(), 0);
    do_ch_reverb(out.data(), 2048);
    in[0] = in[1] = 0;
    bool tail = false;
    for (int32 n = 0; n < seconds * 44100 / 1024; n++) {
        std::fill(out.begin(), out.end(), 7);
        set_ch_reverb(in.data(), 2048, 127);
        do_ch_reverb(out.data(), 2048);
        for (int32 v : out)
            tail |= v != 7;
    }
    EXPECT_TRUE(tail);
    std::fill(out.begin(), out.end(), 7);
    do_ch_reverb(out.data(), 2048);
    for (size_t i = 0; i < out.size(); i++)
        ASSERT_EQ(out[i], 7) << "value " << i;
}

TEST_F(ReverbTest, SilentSendLeavesTheBlockUnchangedOnceDrained)
{
    expect_drains(40);
    opt_reverb_control = 1;
    init_reverb();
    expect_drains(20);
}

TEST_F(ReverbTest, PlateAndDelayCharactersRingAndDrain)
{
    for (int macro = 5; macro <= 7; macro++) {
        set_effect_param_gs(GS_REVERB_MACRO, macro);
        auto out = run_blocks(3 * 44100, impulse, reverb_effect_buffer, do_ch_reverb);
        double t = decay_time(out, 30.0);
        EXPECT_GT(t, 0.05) << macro;
        EXPECT_LT(t, 2.9) << macro;
        expect_drains(60);
    }
    // The panning delay answers first on the left, then on the right; the plate's two sides
    // ring equally loud.
    for (int macro : {7, 5}) {
        set_effect_param_gs(GS_REVERB_MACRO, macro);
        std::vector<int32> in(2048, 0), out(2048, 0);
        in[0] = in[1] = 1 << 27;
        int32 first_left = -1, first_right = -1;
        double energy[2] = {0, 0};
        for (int32 n = 0; n < 2 * 44100 / 1024; n++) {
            std::fill(out.begin(), out.end(), 0);
            set_ch_reverb(in.data(), 2048, 127);
            do_ch_reverb(out.data(), 2048);
            in[0] = in[1] = 0;
            for (int32 i = 0; i < 2048; i++)
                energy[i % 2] += (double)out[i] * out[i];
            for (int32 i = 0; i < 1024; i++) {
                if (first_left < 0 && out[2 * i] != 0)
                    first_left = n * 1024 + i;
                if (first_right < 0 && out[2 * i + 1] != 0)
                    first_right = n * 1024 + i;
            }
        }
        if (macro == 7) {
            EXPECT_GT(first_left, 0);
            EXPECT_GT(first_right, first_left);
        } else {
            EXPECT_NEAR(energy[0] / energy[1], 1.0, 0.05);
        }
        expect_drains(60);
    }
}

TEST_F(ReverbTest, FinalStageReverbFollowsTheSwitch)
{
    mode_.encoding = PE_24BIT | PE_SIGNED;  // no noise shaping
    auto tail_after_impulse = [&](int control, bool mono) {
        mode_.encoding = (mono ? PE_MONO : 0) | PE_24BIT | PE_SIGNED;
        opt_reverb_control = control;
        init_effect();
        const int32 n = mono ? 1024 : 2048;
        std::vector<int32> b(n, 0);
        b[0] = 1 << 27;
        if (!mono)
            b[1] = 1 << 27;
        do_effect(b.data(), 1024);
        EXPECT_NEAR(b[0], 1 << 27, 1 << 20) << control;  // the dry impulse passes
        double e = 0;
        for (int k = 0; k < 4; k++) {
            std::fill(b.begin(), b.end(), 0);
            do_effect(b.data(), 1024);
            for (int32 v : b)
                e += (double)v * v;
        }
        return e;
    };
    EXPECT_EQ(tail_after_impulse(0, true), 0.0);
    const double mono_tail = tail_after_impulse(3, true);  // the mono reverb
    EXPECT_GT(mono_tail, 0.0);
    // A global kind on mono output is the same mono reverb, not a stereo one on top of it.
    EXPECT_EQ(tail_after_impulse(4, true), mono_tail);
    EXPECT_EQ(tail_after_impulse(3, false), 0.0);   // per channel: not in the final stage
    EXPECT_GT(tail_after_impulse(4, false), 0.0);   // freeverb on the whole mix
    EXPECT_GT(tail_after_impulse(-(128 + 60), false), 0.0);  // standard, global, level 60
    EXPECT_EQ(tail_after_impulse(-60, false), 0.0);           // standard per channel
}
