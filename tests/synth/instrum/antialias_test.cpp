// The anti-aliasing filter: what lies below the output band passes (with the filter's delay
// of half a sample), what lies above it is removed, overshoot is clipped and reported.
#include "instrum_fixture.h"

#include <cmath>
#include <vector>

namespace {

std::vector<int16_t> tones(size_t n, double rate, double f1, double a1, double f2, double a2,
                           double delay = 0.0)
{
    std::vector<int16_t> v(n);
    for (size_t i = 0; i < n; i++) {
        double t = ((double)i - delay) / rate;
        v[i] = (int16_t)lround(a1 * sin(2 * M_PI * f1 * t) + a2 * sin(2 * M_PI * f2 * t));
    }
    return v;
}

std::string run_filter(std::vector<int16_t>& v, int32 rate, int32 out_rate, int verbosity)
{
    ctl->verbosity = verbosity;
    testing::internal::CaptureStderr();
    antialiasing(v.data(), (int32)v.size(), rate, out_rate);
    return testing::internal::GetCapturedStderr();
}

}  // namespace

TEST_F(InstrumTest, AntialiasingKeepsTheOutputBandAndRemovesWhatLiesAbove)
{
    // 5 kHz and 30 kHz recorded at 88.2 kHz, played at 44.1 kHz: only 5 kHz may remain.
    std::vector<int16_t> v = tones(4000, 88200, 5000, 10000, 30000, 10000);
    std::vector<int16_t> want = tones(4000, 88200, 5000, 10000, 0, 0, 0.5);
    std::string msg = run_filter(v, 88200, 44100, 2);
    EXPECT_TRUE(contains(msg, "Antialiasing: Fsample=88200KHz")) << msg;
    EXPECT_TRUE(contains(msg, "Antialiasing: cutoff=50.000000%")) << msg;
    EXPECT_FALSE(contains(msg, "Saturation")) << msg;
    int worst = 0;
    for (size_t i = 20; i < v.size() - 20; i++)
        worst = std::max(worst, std::abs(v[i] - want[i]));
    EXPECT_LT(worst, 100);

    // Alternating samples (the recording's own Nyquist frequency) vanish.
    std::vector<int16_t> alt(200);
    for (size_t i = 0; i < alt.size(); i++)
        alt[i] = (i % 2) ? 20000 : -20000;
    run_filter(alt, 96000, 48000, 1);
    for (size_t i = 20; i < alt.size() - 20; i++)
        ASSERT_LE(std::abs(alt[i]), 2) << i;
}

TEST_F(InstrumTest, AntialiasingLeavesDataAtOrBelowTheOutputRate)
{
    std::vector<int16_t> v = tones(500, 44100, 15000, 20000, 0, 0);
    std::vector<int16_t> before = v;
    std::string msg = run_filter(v, 44100, 44100, 2);
    EXPECT_EQ(v, before);
    EXPECT_FALSE(contains(msg, "cutoff")) << msg;
    run_filter(v, 22050, 44100, 1);
    EXPECT_EQ(v, before);
}

TEST_F(InstrumTest, AntialiasingClipsOvershootAndReportsIt)
{
    // Full-scale square wave: the edges ring above full scale.
    std::vector<int16_t> v(400);
    for (size_t i = 0; i < v.size(); i++)
        v[i] = ((i / 40) % 2) ? 32767 : -32768;
    std::string msg = run_filter(v, 96000, 44100, 2);
    EXPECT_TRUE(contains(msg, "Saturation ")) << msg;
    EXPECT_EQ(*std::max_element(v.begin(), v.end()), 32767);
    EXPECT_EQ(*std::min_element(v.begin(), v.end()), -32768);
    // Inside a flat stretch the value settles back near full scale.
    EXPECT_GT(v[60], 30000);
    EXPECT_LT(v[100], -30000);
}

TEST_F(InstrumTest, LoaderFiltersOnlyWhenAllowedAndTheRecordingIsFaster)
{
    TestSample s;
    s.sample_rate = 48000;
    s.data = pcm16(tones(2000, 48000, 23000, 15000, 0, 0));
    s.loop_start = 200;
    s.loop_end = 3800;
    s.modes = MODES_16BIT | MODES_LOOPING;
    TestPatch p;
    p.samples = {s};
    std::string bytes = build_patch(p);

    std::string msg;
    InstrumentPtr plain(load_memory(bytes, &msg));
    ASSERT_NE(plain, nullptr) << msg;
    antialiasing_allowed = 1;
    InstrumentPtr filtered(load_memory(bytes, &msg));
    ASSERT_NE(filtered, nullptr) << msg;

    // 23 kHz lies above the 22.05 kHz band of a 44.1 kHz output: the filter removes most of it.
    int peak_plain = 0, peak_filtered = 0;
    for (int i = 100; i < 1900; i++) {
        peak_plain = std::max(peak_plain, std::abs((int)plain->sample[0].data[i]));
        peak_filtered = std::max(peak_filtered, std::abs((int)filtered->sample[0].data[i]));
    }
    EXPECT_GT(peak_plain, 14000);
    EXPECT_LT(peak_filtered, peak_plain / 2);
}
