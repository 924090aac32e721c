// A 44100 Hz output for the effects, their stores at power-on between tests, and helpers that
// feed signals through the effects and measure what comes out.
#ifndef CORVELLE_TESTS_EFFECT_FIXTURE_H
#define CORVELLE_TESTS_EFFECT_FIXTURE_H

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "effects/effect.h"
#include "frontend/controls.h"
#include "frontend/options.h"
#include "output/output.h"

class EffectTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        memset(&mode_, 0, sizeof(mode_));
        mode_.rate = 44100;
        mode_.encoding = PE_16BIT | PE_SIGNED;
        play_mode = &mode_;
        ctl = &dumb_control_mode;
        ctl->verbosity = 1;
        saved_ = {opt_reverb_control, opt_chorus_control, effect_lr_mode, effect_lr_delay_msec,
                  noise_sharp_type};
        opt_reverb_control = 3;
        opt_chorus_control = 1;
        effect_lr_mode = -1;
        effect_lr_delay_msec = 25;
        init_effect_status();
        init_effect();
    }
    void TearDown() override
    {
        opt_reverb_control = saved_[0];
        opt_chorus_control = saved_[1];
        effect_lr_mode = saved_[2];
        effect_lr_delay_msec = saved_[3];
        noise_sharp_type = saved_[4];
        init_effect_status();
        play_mode = nullptr;
        ctl->verbosity = 1;
    }

    // The messages an action prints at the most detailed verbosity.
    static std::string messages_of(const std::function<void()>& action)
    {
        int v = ctl->verbosity;
        ctl->verbosity = 4;
        testing::internal::CaptureStderr();
        action();
        std::string out = testing::internal::GetCapturedStderr();
        ctl->verbosity = v;
        return out;
    }

    PlayMode mode_;
    std::vector<int> saved_;
};

// Blocks of stereo values: effect(block, send) fills the send buffer from send and runs the
// effect into block. Returns the left channel of the output, frames long.
inline std::vector<int32> run_blocks(int32 frames, const std::function<int32(int32)>& input,
                                     int32* send_buffer, void (*effect)(int32*, int32),
                                     int32 send_level = 127)
{
    std::vector<int32> left;
    const int32 block = 1024;
    std::vector<int32> in(2 * block), out(2 * block);
    for (int32 done = 0; done < frames; done += block) {
        for (int32 i = 0; i < block; i++)
            in[2 * i] = in[2 * i + 1] = input(done + i);
        std::fill(out.begin(), out.end(), 0);
        if (send_buffer == reverb_effect_buffer)
            set_ch_reverb(in.data(), 2 * block, send_level);
        else if (send_buffer == chorus_effect_buffer)
            set_ch_chorus(in.data(), 2 * block, send_level);
        else
            set_ch_delay(in.data(), 2 * block, send_level);
        effect(out.data(), 2 * block);
        for (int32 i = 0; i < block && done + i < frames; i++)
            left.push_back(out[2 * i]);
    }
    return left;
}

// An impulse of 2^27 at frame 0.
inline int32 impulse(int32 i)
{
    return i == 0 ? (1 << 27) : 0;
}

// Seconds until the signal's 10 ms RMS stays below its peak RMS by db, or -1.
inline double decay_time(const std::vector<int32>& s, double db, int32 rate = 44100)
{
    const size_t win = (size_t)rate / 100;
    std::vector<double> rms;
    for (size_t i = 0; i + win <= s.size(); i += win) {
        double e = 0;
        for (size_t k = i; k < i + win; k++)
            e += (double)s[k] * s[k];
        rms.push_back(std::sqrt(e / win));
    }
    double peak = 0;
    for (double r : rms)
        peak = std::max(peak, r);
    if (peak == 0)
        return -1;
    const double limit = peak * std::pow(10.0, -db / 20.0);
    for (size_t k = rms.size(); k-- > 0;)
        if (rms[k] > limit)
            return k + 1 < rms.size() ? (double)(k + 1) * win / rate : -1;
    return 0;
}

#endif
