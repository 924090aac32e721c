// The choruses: a steady tone through the GS chorus and the XG chorus comes back with a
// slowly moving delay, heard as beating against the dry tone; without a send nothing returns.
#include "effect_fixture.h"

#include "readmidi/sysex.h"

using ChorusTest = EffectTest;

// The dry 440 Hz tone plus the chorus return, as the render loop mixes them; returns the
// largest over the smallest 50 ms RMS (22 whole periods) after the first half second.
static double beating(void (*chorus)(int32*, int32), int32 level, int seconds)
{
    const int32 block = 1024, rate = 44100;
    std::vector<int32> in(2 * block), out(2 * block);
    std::vector<double> rms;
    double acc = 0;
    int32 n_acc = 0;
    for (int32 done = 0; done < seconds * rate; done += block) {
        for (int32 i = 0; i < block; i++)
            in[2 * i] = in[2 * i + 1] =
                (int32)((1 << 26) * std::sin(2 * M_PI * 440.0 * (done + i) / rate));
        out = in;
        set_ch_chorus(in.data(), 2 * block, level);
        chorus(out.data(), 2 * block);
        for (int32 i = 0; i < block; i++) {
            if (done + i < rate / 2)
                continue;
            acc += (double)out[2 * i] * out[2 * i];
            if (++n_acc == rate / 20) {
                rms.push_back(std::sqrt(acc / n_acc));
                acc = 0;
                n_acc = 0;
            }
        }
    }
    double lo = 1e300, hi = 0;
    for (double r : rms) {
        lo = std::min(lo, r);
        hi = std::max(hi, r);
    }
    return hi / std::max(lo, 1.0);
}

TEST_F(ChorusTest, SteadyToneBeatsAgainstItsModulatedCopy)
{
    // The power-on GS chorus (Chorus 3: rate 3, depth 19).
    EXPECT_GT(beating(do_ch_chorus, 127, 4), 3.0);
    // A zero send leaves the dry tone steady.
    EXPECT_LT(beating(do_ch_chorus, 0, 2), 1.01);

    // The XG chorus (Chorus 1) of an XG song.
    EXPECT_GT(beating(do_ch_chorus_xg, 127, 6), 3.0);
    EXPECT_LT(beating(do_ch_chorus_xg, 0, 2), 1.01);
    // No effect as the XG chorus type: nothing returns.
    set_effect_param_xg(XG_SLOT_EFFECT, 1, 0x20, 0x00);
    EXPECT_LT(beating(do_ch_chorus_xg, 127, 2), 1.01);
}

TEST_F(ChorusTest, GsChorusSendsToTheReverbAndFollowsItsMacro)
{
    // Send to reverb 127: the chorus output reaches the reverb send buffer.
    set_effect_param_gs(GS_CHORUS_SEND_TO_REVERB, 127);
    std::vector<int32> in(2048, 1 << 24), out(2048, 0);
    std::fill(reverb_effect_buffer, reverb_effect_buffer + 2048, 0);
    for (int k = 0; k < 4; k++) {
        set_ch_chorus(in.data(), 2048, 127);
        do_ch_chorus(out.data(), 2048);
    }
    EXPECT_NE(reverb_effect_buffer[2047], 0);

    // The flanger macro: short delay, much feedback; its answer to a click rings longer than
    // the chorus macro's.
    auto ring = [](int macro) {
        set_effect_param_gs(GS_CHORUS_MACRO, macro);
        auto out = run_blocks(44100, impulse, chorus_effect_buffer, do_ch_chorus);
        return decay_time(out, 40.0);
    };
    EXPECT_GT(ring(5), 2 * ring(0));
}
