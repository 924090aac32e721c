// The anti-aliasing filter delays the band it passes by half a sample, the centre of its 20 taps.
#include "instrum_test_support.h"

static std::vector<int16_t> tones(size_t n, double f1, double f2, double delay)
{
    std::vector<int16_t> v(n);
    for (size_t i = 0; i < n; i++) {
        double t = ((double)i - delay) / 88200;
        v[i] = (int16_t)lround(10000 * (sin(2 * M_PI * f1 * t) + sin(2 * M_PI * f2 * t)));
    }
    return v;
}

TEST_F(InstrumTest, AntialiasingKeepsTheOutputBandClipsAndReports)
{
    // 5 kHz and 30 kHz recorded at 88.2 kHz, played at 44.1 kHz: only 5 kHz may remain.
    std::vector<int16_t> v = tones(4000, 5000, 30000, 0), same = v;
    const std::vector<int16_t> want = tones(4000, 5000, 0, 0.5), before = v;
    ctl->verbosity = 2;
    std::string msg = stderr_of([&] { antialiasing(v.data(), (int32)v.size(), 88200, 44100); });
    EXPECT_TRUE(has(msg, "Antialiasing: Fsample=88200KHz\nAntialiasing: cutoff=50.000000%\n")) << msg;
    EXPECT_FALSE(has(msg, "Saturation")) << msg;
    for (size_t i = 20; i < v.size() - 20; i++)
        ASSERT_LT(std::abs(v[i] - want[i]), 100) << i;
    antialiasing(same.data(), (int32)same.size(), 44100, 44100);  // not above the output rate
    EXPECT_EQ(same, before);

    // A near full-scale square wave rings past full scale at its edges, and is clipped there.
    std::vector<int16_t> sq(400);
    for (size_t i = 0; i < sq.size(); i++)
        sq[i] = ((i / 40) % 2) ? 32000 : -32768;
    msg = stderr_of([&] { antialiasing(sq.data(), (int32)sq.size(), 96000, 44100); });
    EXPECT_TRUE(has(msg, "Saturation ")) << msg;
    EXPECT_EQ(*std::max_element(sq.begin(), sq.end()), 32767);
    EXPECT_TRUE(sq[60] > 30000 && sq[100] < -30000) << sq[60] << " " << sq[100];
}
