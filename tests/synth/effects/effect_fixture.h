// A 44100 Hz output with the effect stores at power-on, and helpers to run and measure signals.
#ifndef CORVELLE_TESTS_EFFECT_FIXTURE_H
#define CORVELLE_TESTS_EFFECT_FIXTURE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "effects/effect.h"
#include "frontend/controls.h"
#include "frontend/options.h"
#include "output/output.h"
#include "support/capture.h"
#include "support/guards.h"
#include "support/signal.h"

class EffectTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mode_.rate = 44100, mode_.encoding = PE_16BIT | PE_SIGNED;
        ctl = &dumb_control_mode, ctl->verbosity = 1;
        init_effect_status();
        init_effect();
    }
    void TearDown() override { init_effect_status(); }

    // The messages an action prints at the most detailed verbosity.
    static std::string messages_of(const std::function<void()>& action)
    {
        Restore verbose(ctl->verbosity, 4);
        return stderr_of(action);
    }

    Restore<int> reverb_{opt_reverb_control, 3}, chorus_{opt_chorus_control, 1}, lr_{effect_lr_mode, -1},
        delay_{effect_lr_delay_msec}, shaping_{noise_sharp_type};
    PlayMode mode_{};
    Restore<PlayMode*> mode_in_use_{play_mode, &mode_};
};

// A stage that works on a stereo block in place.
using Stage = std::function<void(int32*, int32)>;

// A send effect as a stage: the block, sent at level, becomes the return (plus the dry if asked).
inline Stage sent(void (*set)(int32*, int32, int32), void (*effect)(int32*, int32),
                  int32 level = 127, bool dry = false)
{
    return [=](int32* b, int32 n) {
        set(b, n, level);
        if (!dry)
            std::fill(b, b + n, 0);
        effect(b, n);
    };
}

// frames of input(i) on both sides through the stage in blocks of 1024; interleaved output.
inline std::vector<int32> run_stage(int32 frames, const std::function<int32(int32)>& input,
                                    const Stage& stage)
{
    std::vector<int32> out(2 * (size_t)frames);
    std::vector<int32> b(2048);
    for (int32 done = 0; done < frames; done += 1024) {
        for (int32 i = 0; i < 1024; i++)
            b[2 * i] = b[2 * i + 1] = input(done + i);
        stage(b.data(), 2048);
        std::copy(b.begin(), b.begin() + 2 * std::min(1024, frames - done), out.begin() + 2 * done);
    }
    return out;
}

inline void xg_insertion(int32* b, int32 n) { do_insertion_effect_xg(b, n, &insertion_effect_xg[0]); }

inline int32 impulse(int32 i) { return i == 0 ? (1 << 27) : 0; }

inline int32 sine(double freq, int32 i, double amp = 1 << 26)
{
    return (int32)(amp * std::sin(2 * M_PI * freq * i / 44100.0));
}

// Seconds until the left side's 10 ms RMS stays below its peak by db, or -1.
inline double decay_time(const std::vector<int32>& s, double db)
{
    std::vector<double> rms = window_rms(side_of(s, 0), 441);
    const double peak = rms.empty() ? 0 : *std::max_element(rms.begin(), rms.end());
    if (peak == 0)
        return -1;
    for (size_t k = rms.size(); k-- > 0;)
        if (rms[k] > peak * std::pow(10.0, -db / 20.0))
            return k + 1 < rms.size() ? (k + 1) / 100.0 : -1;
    return 0;
}

// The first frame whose value on side is not zero, or -1.
inline int32 first_sound(const std::vector<int32>& s, int side)
{
    for (size_t i = side; i < s.size(); i += 2)
        if (s[i] != 0)
            return (int32)(i / 2);
    return -1;
}

#endif
