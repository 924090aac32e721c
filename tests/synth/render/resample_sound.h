// Shared by the resampling and resample cache tests: test waveforms as samples, voices that
// play them, and measurements of what comes out (pitch by zero crossings, distortion as the
// residual after the best-fitting sine).
#ifndef CORVELLE_TESTS_RENDER_RESAMPLE_SOUND_H
#define CORVELLE_TESTS_RENDER_RESAMPLE_SOUND_H

#include <cmath>
#include <vector>

#include "synth/play/player_fixture.h"
#include "instrum/instrum.h"
#include "render/resample.h"
#include "render/resample_settings.h"

// A sample owning its data (with the two zeros after the end).
struct TestSample {
    std::vector<sample_t> data;
    Sample s{};
};

// `frames` points of a sine of `period` points, looping over [loop_from, loop_to) when those
// differ; the data goes on past the loop as a recording would.
inline void make_sine(TestSample& t, int rate, double period, int frames, int loop_from,
                      int loop_to, double amplitude = 20000.0, int modes = MODES_16BIT)
{
    t.data.assign((size_t)frames + 2, 0);
    for (int i = 0; i < frames; i++)
        t.data[(size_t)i] = (sample_t)std::lround(amplitude * std::sin(2 * M_PI * i / period));
    t.s = Sample{};
    t.s.data = t.data.data();
    t.s.data_length = (splen_t)frames << FRACTION_BITS;
    t.s.loop_start = (splen_t)loop_from << FRACTION_BITS;
    t.s.loop_end = (splen_t)loop_to << FRACTION_BITS;
    t.s.modes = (uint8)(modes | (loop_to > loop_from ? MODES_LOOPING | MODES_ENVELOPE : 0));
    t.s.sample_rate = rate;
    t.s.root_freq = (int32)std::lround(rate / period * 1000.0);
    t.s.scale_factor = 1024;
    t.s.volume = 1.0;
}

class ResampleTest : public PlayerTest {
protected:
    void SetUp() override
    {
        PlayerTest::SetUp();
        set_current_resampler(RESAMPLE_GAUSS);
        gauss_n = 25;
        initialize_resampler_coeffs();
        reduce_quality_flag = 0;
    }
    void TearDown() override
    {
        set_current_resampler(RESAMPLE_GAUSS);
        PlayerTest::TearDown();
    }

    // A sounding voice on channel 0 playing sp from its start with the given step.
    int play(Sample* sp, int32 step, int note = 60)
    {
        int v = sounding_voice(0, note);
        Voice& vp = voice[v];
        vp.sample = sp;
        vp.sample_offset = 0;
        vp.sample_step = step;
        vp.orig_frequency = freq_table[note];
        vp.frequency = vp.orig_frequency + 1;  // not the recorded pitch: no plain copy
        vp.vibrato_control_ratio = vp.orig_vibrato_control_ratio = vp.vibrato_control_counter = 0;
        vp.vibrato_delay = vp.vibrato_sweep = vp.vibrato_phase = 0;
        for (int32& s : vp.vibrato_step_table)
            s = 0;
        vp.porta_control_ratio = vp.porta_control_counter = 0;
        vp.cache = nullptr;
        vp.timeout = -1;
        return v;
    }

    // Up to n values of voice v, in blocks as the mixer asks for them; stops when it ends.
    std::vector<int32> render(int v, int n, int block = 1000)
    {
        std::vector<int32> out;
        while ((int)out.size() < n && voice[v].timeout != 1) {
            int32 c = std::min(block, n - (int)out.size());
            const int32* p = resample_voice(v, &c);
            out.insert(out.end(), p, p + c);
            if (c == 0)
                break;
        }
        return out;
    }
};

// Frequency from the first and last rising zero crossings (interpolated), in Hz.
inline double zero_crossing_freq(const std::vector<int32>& x, int from, int to, double rate)
{
    double first = -1, last = -1;
    int crossings = 0;
    for (int i = from + 1; i < to; i++) {
        if (x[(size_t)i - 1] < 0 && x[(size_t)i] >= 0) {
            double t = i - 1 + (double)-x[(size_t)i - 1] / (x[(size_t)i] - x[(size_t)i - 1]);
            if (first < 0)
                first = t;
            last = t;
            crossings++;
        }
    }
    return crossings > 1 ? (crossings - 1) * rate / (last - first) : 0.0;
}

inline double cents(double f, double ref)
{
    return 1200.0 * std::log2(f / ref);
}

// How far x lies from a sine of `cycles_per_sample`: the residual after the least-squares
// fit of a sine, a cosine and an offset, in dB below the signal.
inline double residual_db(const std::vector<int32>& x, double cycles_per_sample)
{
    double m[3][4] = {};
    for (size_t i = 0; i < x.size(); i++) {
        double b[3] = {std::sin(2 * M_PI * cycles_per_sample * i),
                       std::cos(2 * M_PI * cycles_per_sample * i), 1.0};
        for (int r = 0; r < 3; r++) {
            for (int c = 0; c < 3; c++)
                m[r][c] += b[r] * b[c];
            m[r][3] += b[r] * x[i];
        }
    }
    for (int p = 0; p < 3; p++)  // Gauss-Jordan on the normal equations
        for (int r = 0; r < 3; r++)
            if (r != p) {
                double k = m[r][p] / m[p][p];
                for (int c = 0; c < 4; c++)
                    m[r][c] -= k * m[p][c];
            }
    double sig = 0, err = 0;
    for (size_t i = 0; i < x.size(); i++) {
        double fit = m[0][3] / m[0][0] * std::sin(2 * M_PI * cycles_per_sample * i) +
                     m[1][3] / m[1][1] * std::cos(2 * M_PI * cycles_per_sample * i) +
                     m[2][3] / m[2][2];
        sig += fit * fit;
        err += (x[i] - fit) * (x[i] - fit);
    }
    return 10 * std::log10(err / sig);
}

#endif
