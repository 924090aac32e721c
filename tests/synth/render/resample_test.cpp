// Resampling measured on the sound: resamplers, loop modes, vibrato, portamento, pre-resampling.
#include "synth/render/voice_sound.h"

TEST_F(ResampleTest, ResamplersKeepThePitchAndRankByDistortion)
{
    // 16 points per cycle, looped over 20 whole cycles, played 1.37 times faster.
    TestSample t;
    make_sine(t, 44100, 16.0, 640, 160, 480);
    const int32 step = (int32)(1.37 * 4096);
    const double ratio = step / 4096.0;
    double err[RESAMPLE_COUNT];
    for (int r = 0; r < RESAMPLE_COUNT; r++) {
        ASSERT_EQ(set_current_resampler(r), 0);
        std::vector<int32> out = render(play(&t.s, step), 8192);
        ASSERT_EQ(out.size(), 8192u);
        EXPECT_NEAR(cents(zero_crossing_freq(out, 0, 8192), 44100.0 / 16.0 * ratio), 0.0, 0.5) << r;
        err[r] = residual_db(out, ratio / 16.0);
    }
    // Nearest point, straight lines, cubics, then the long windows.
    EXPECT_GT(err[RESAMPLE_NONE], err[RESAMPLE_LINEAR] + 10);
    EXPECT_GT(err[RESAMPLE_LINEAR], std::max(err[RESAMPLE_CSPLINE], err[RESAMPLE_LAGRANGE]) + 5);
    EXPECT_GT(std::min(err[RESAMPLE_CSPLINE], err[RESAMPLE_LAGRANGE]),
              std::max(err[RESAMPLE_GAUSS], err[RESAMPLE_NEWTON]) + 15);
    EXPECT_LT(err[RESAMPLE_GAUSS], -70);

    // The load switch hands every resampler but the crudest over to linear for a call.
    set_current_resampler(RESAMPLE_GAUSS);
    std::vector<int32> cheap;
    {
        Restore reduced(reduce_quality_flag, 1);
        cheap = render(play(&t.s, step), 8192);
    }
    EXPECT_NEAR(residual_db(cheap, ratio / 16.0), err[RESAMPLE_LINEAR], 0.5);
    EXPECT_EQ(cur_resample, resample_gauss);

    // No seventh resampler; Newton's order is odd; a Gauss order changed later gets its own weights.
    EXPECT_EQ((std::vector<int>{set_current_resampler(6), get_current_resampler()}),
              (std::vector<int>{-1, RESAMPLE_GAUSS}));
    set_current_resampler(RESAMPLE_NEWTON);
    EXPECT_EQ((std::vector<int>{set_resampler_parm(11), newt_max}), (std::vector<int>{0, 15}));
    newt_max = 13;
    // Near the end of the data the window keeps its full order: the last points are as exact.
    TestSample end;
    make_sine(end, 44100, 4.4, 200, 0, 0);
    const std::vector<int32> tail = render(play(&end.s, 0x0A00), 400);
    ASSERT_EQ(tail.size(), 320u);
    double worst[2] = {0, 0};  // middle, end
    for (size_t k = 32; k * 0.625 < 194; k++) {
        const double err = std::abs(tail[k] - 20000 * std::sin(2 * M_PI * k * 0.625 / 4.4));
        worst[k * 0.625 >= 188] = std::max(worst[k * 0.625 >= 188], err);
    }
    EXPECT_LT(worst[1], 2 * worst[0]);
    set_current_resampler(RESAMPLE_GAUSS);
    EXPECT_EQ(set_resampler_parm(35), -1);
    ASSERT_EQ(set_resampler_parm(34), 0);
    std::vector<int32> out = render(play(&t.s, 5611), 4096);
    EXPECT_EQ(gauss_table_n, 34);
    EXPECT_LT(residual_db(out, 5611 / 4096.0 / 16.0), -70);
}

TEST_F(ResampleTest, FullScaleSweepsStayInRange)
{
    // A full-scale tone swept over steps from 1/4 to 8 points may overshoot a little, never wrap.
    TestSample t;
    make_sine(t, 44100, 4.4, 2000, 100, 1999, 32767.0);
    for (int r = 0; r < RESAMPLE_COUNT; r++) {
        set_current_resampler(r);
        if (r == RESAMPLE_NEWTON)
            set_resampler_parm(31);  // a window that grows up to 48 points near the end
        int v = play(&t.s, 1024);
        int32 lo = 0, hi = 0;
        for (int32 step = 1024; step <= 8 * 4096; step += 997) {
            voice[v].sample_step = step;
            for (int32 x : render(v, 256, 256))
                lo = std::min(lo, x), hi = std::max(hi, x);
        }
        EXPECT_TRUE(lo > -50000 && hi < 50000 && hi > 30000) << r << ": " << lo << ".." << hi;
        // Released, the voice plays on to the very end of the data.
        voice[v].status = VOICE_OFF, t.s.modes &= (uint8)~MODES_ENVELOPE, voice[v].sample_step = 3001;
        render(v, 10000);
        EXPECT_EQ(voice[v].timeout, 1);
        t.s.modes |= MODES_ENVELOPE;
    }
}

// A ramp: the value at a point is its index, so the output shows where the voice read.
static void make_ramp(TestSample& t, int loop_from, int loop_to, int modes)
{
    make_sample(t, 44100, 440000, 300, loop_from, loop_to, modes, [](int i) { return i; });
}

TEST_F(ResampleTest, LoopModesKeepThePositionInsideTheData)
{
    set_current_resampler(RESAMPLE_NONE);
    TestSample t;
    const int loop = MODES_LOOPING | MODES_ENVELOPE, bidi = loop | MODES_PINGPONG;
    // Forward: past the loop end the position wraps by exactly the loop length.
    make_ramp(t, 100, 200, loop);
    std::vector<int32> fwd = render(play(&t.s, 0x1000), 450, 64);
    ASSERT_EQ(fwd.size(), 450u);
    for (int i = 0; i < 450; i++)
        ASSERT_EQ(fwd[(size_t)i], i < 200 ? i : 100 + (i - 100) % 100) << i;

    // Bidirectional: up to the loop end, back to its start (with a negative step), up again.
    make_ramp(t, 100, 200, bidi);
    int v = play(&t.s, 0x1000);
    std::vector<int32> out = render(v, 250, 250);
    EXPECT_EQ(std::vector<int32>(out.begin() + 199, out.begin() + 202), (std::vector<int32>{199, 200, 199}));
    EXPECT_TRUE(out[249] == 151 && voice[v].sample_step < 0);
    out = render(v, 100, 100);
    EXPECT_EQ(std::vector<int32>(out.begin() + 49, out.begin() + 52), (std::vector<int32>{101, 100, 101}));
    EXPECT_GT(voice[v].sample_step, 0);

    // Steps far longer than either loop still read only inside the loop.
    for (int modes : {loop, bidi}) {
        make_ramp(t, 100, 103, modes);
        std::vector<int32> fast = render(play(&t.s, 0x1000 * 37 + 123), 2000);
        ASSERT_EQ(fast.size(), 2000u);
        for (size_t i = 40; i < fast.size(); i++)
            ASSERT_TRUE(fast[i] >= 100 && fast[i] <= 103) << modes << " " << i << " " << fast[i];
    }

    // Plain: the sample ends inside a block, which comes back short and ends the voice.
    make_ramp(t, 299, 300, 0);
    v = play(&t.s, 0x1800);
    int32 n = 1000;
    resample_voice(v, &n);
    EXPECT_EQ(std::make_tuple(n, voice[v].timeout), std::make_tuple(200, 1));
    // A looping sample released without an envelope plays on through its loop to the end.
    make_ramp(t, 100, 200, MODES_LOOPING);
    v = play(&t.s, 0x1000);
    voice[v].status = VOICE_OFF;
    EXPECT_EQ(render(v, 1000).size(), 300u);
    // An empty loop cannot hold the voice, and a voice that cannot move ends in silence.
    make_ramp(t, 150, 150, loop);
    EXPECT_EQ(render(play(&t.s, 0x1000), 1000).size(), 300u);
    make_ramp(t, 100, 200, loop);
    v = play(&t.s, 0);
    n = 500;
    const int32* p = resample_voice(v, &n);
    EXPECT_EQ(voice[v].timeout, 1);
    EXPECT_TRUE(std::all_of(p, p + n, [](int32 x) { return x == 0; }));
}

TEST_F(ResampleTest, VibratoAndPortamentoMoveThePitch)
{
    // 441 Hz with a semitone of vibrato, 64 steps of 40 samples (17.2 Hz), after 4000 samples.
    TestSample t;
    make_sine(t, 44100, 100.0, 4000, 1000, 3000);
    int v = play(&t.s, 0x1000);
    Voice& vp = voice[v];
    vp.frequency = vp.orig_frequency = t.s.root_freq = 441000;
    vp.vibrato_control_ratio = 40, vp.vibrato_depth = 64, vp.vibrato_delay = 4000;
    std::vector<int32> out = render(v, 4000 + 2560 * 8);
    ASSERT_EQ(out.size(), 4000u + 2560 * 8);
    EXPECT_NEAR(zero_crossing_freq(out, 0, 3900), 441.0, 0.2);
    // The pitch, four cycles of the tone at a time, swings a semitone each way ...
    std::vector<double> pitch;
    for (int at = 4000; at + 400 < (int)out.size(); at += 80)
        pitch.push_back(cents(zero_crossing_freq(out, at, at + 400), 441.0));
    const auto mm = std::minmax_element(pitch.begin(), pitch.end());
    EXPECT_NEAR(*mm.second, 100.0, 15.0);
    EXPECT_NEAR(*mm.first, -100.0, 15.0);
    // ... and repeats every 2560 samples (32 points of the track), opposed after half of that.
    auto corr = [&](size_t lag) {
        double s = 0;
        for (size_t i = 0; i + lag < pitch.size(); i++)
            s += pitch[i] * pitch[i + lag];
        return s / (double)(pitch.size() - lag);
    };
    EXPECT_GT(corr(32), 0.8 * corr(0));
    EXPECT_LT(corr(16), -0.8 * corr(0));
    // Seven cycles on, the track is where it was (a cycle one step short is 280 samples ahead).
    double drift = 0;
    const size_t pairs = pitch.size() - 7 * 32;
    for (size_t i = 0; i < pairs; i++)
        drift += std::abs(pitch[i + 7 * 32] - pitch[i]) / (double)pairs;
    EXPECT_LT(drift, 15.0);

    // A glide from a whole tone below, 1/32 semitone every 100 samples, until the note's own step.
    Voice& pv = voice[play(&t.s, 0x1000)];
    t.s.root_freq = pv.orig_frequency = pv.frequency = freq_table[69];
    pv.porta_control_ratio = 100, pv.porta_dpb = 8, pv.porta_pb = -2 * 256;
    out = render((int)(&pv - voice), 8000, 1024);
    EXPECT_NEAR(cents(zero_crossing_freq(out, 0, 600), 441.0), -195.0, 8.0);
    EXPECT_EQ(std::make_tuple(pv.porta_control_ratio, pv.sample_step), std::make_tuple(0, 0x1000));
    EXPECT_NEAR(cents(zero_crossing_freq(out, 7000, 8000), 441.0), 0.0, 1.0);
}

TEST_F(ResampleTest, PreResampledSampleSoundsLikeLiveResampling)
{
    // A drum-like sample with a fixed note: 441 Hz recorded at 22050 Hz, no loop.
    TestSample live, pre;
    make_sine(live, 22050, 50.0, 8000, 0, 0);
    make_sine(pre, 22050, 50.0, 8000, 0, 0);
    live.s.note_to_use = pre.s.note_to_use = 69;
    Sample* ps = &pre.s;
    ps->data = (sample_t*)malloc(pre.data.size() * sizeof(sample_t));
    std::copy(pre.data.begin(), pre.data.end(), ps->data);
    ps->data_alloced = 1;
    pre_resample(ps);
    EXPECT_EQ(std::make_tuple(ps->sample_rate, ps->root_freq), std::make_tuple(44100, freq_table[69]));
    EXPECT_NEAR((double)(ps->data_length >> FRACTION_BITS), 8000 * 2 * 441.0 / 440.0, 2.0);

    // Played copied, and the original resampled at note 69: both near 440 Hz, nearer each other.
    int v = play(ps, 0x1000, 69);
    voice[v].frequency = voice[v].orig_frequency;
    std::vector<int32> copied = render(v, 20000);
    const int32 step = (int32)(22050.0 * 440000 / (44100.0 * 441000) * 4096 + 0.5);
    std::vector<int32> resampled = render(play(&live.s, step, 69), 20000);
    EXPECT_NEAR((double)copied.size(), (double)resampled.size(), 5.0);
    const int n = (int)std::min(copied.size(), resampled.size()) - 200;
    const double f_copied = zero_crossing_freq(copied, 0, n);
    EXPECT_NEAR(cents(f_copied, 440.0), 0.0, 1.0);
    EXPECT_NEAR(cents(f_copied, zero_crossing_freq(resampled, 0, n)), 0.0, 0.2);
    copied.resize((size_t)n);
    EXPECT_LT(residual_db(copied, f_copied / 44100.0), -60);
    // Bent away from its note it is resampled again, right up to its last fraction.
    set_current_resampler(RESAMPLE_LINEAR);
    EXPECT_NEAR((double)render(play(ps, 0x0F00, 69), 20000).size(), (double)ps->data_length / 0x0F00, 1.0);
    free(ps->data);
}
