#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "frontend/controls.h"
#include "output/output.h"
#include "support/capture.h"
#include "support/device_trace.h"
#include "support/guards.h"
#include "support/tempdir.h"

namespace {

// The wave device output over the capture device, with its trace.
class WaveDriverTest : public ::testing::Test {
protected:
    void SetUp() override { InitializeCriticalSection(&critSect); }
    void TearDown() override { w32_play_mode.close_output(); }
    // Writes with the driver's debug messages on; returns them.
    static std::string debug_write(std::string data)
    {
        ScopedEnv on("CORVELLE_DEBUG", "1");
        return stderr_of([&] { EXPECT_EQ(w32_play_mode.output_data(&data[0], (int32)data.size()), 0); });
    }
    static std::string pattern(size_t n, int seed)
    {
        std::string v(n, '\0');
        for (size_t i = 0; i < n; i++)
            v[i] = (char)((i * 13 + seed) & 0xFF);
        return v;
    }

    TempDir dir_;
    std::string capture_ = dir_.file("played.wav"), trace_ = dir_.file("trace.txt");
    ScopedEnv device_{"CORVELLE_AUDIO_DEVICE", "capture:" + capture_}, trace_env_{"CORVELLE_TRACE", trace_};
    Restore<PlayMode> record_{w32_play_mode};
    Restore<PlayMode*> mode_in_use_{play_mode, &w32_play_mode};
};

}  // namespace

// Queue sizes and error texts; opening raises a pool below 8 with a warning and makes the
// encoding one the device plays; failures give the driver's messages.
TEST_F(WaveDriverTest, SettingsAndFailures)
{
    int size = 0;
    const int32 sizes[][2] = {
        {PE_16BIT | PE_SIGNED, 507904}, {PE_MONO, 126976}, {PE_24BIT | PE_SIGNED, 761856}};
    for (const auto& es : sizes) {
        w32_play_mode.encoding = es[0];
        EXPECT_EQ((std::vector<int>{w32_play_mode.acntl(PM_REQ_GETQSIZ, &size), size}),
                  (std::vector<int>{0, es[1]}));
    }
    EXPECT_EQ(w32_play_mode.acntl(PM_REQ_GETSAMPLES, &size) + w32_play_mode.acntl(PM_REQ_GETFRAGSIZ, &size),
              -2);
    // Codes at both ends of each table of texts, and past them.
    const std::pair<int, const char*> texts[] = {
        {0, "no error"}, {13, "unsupported wave format"}, {14, "Unknown multimedia error 14"},
        {20, "Unknown multimedia error 20"}, {31, "Unknown multimedia error 31"},
        {32, "unsupported wave format"}, {34, "header not prepared"}, {35, "device is synchronous"},
        {36, "Unknown wave error 4"}, {40, "Unknown wave error 8"}};
    for (const auto& t : texts)
        EXPECT_STREQ(wave_error_text(t.first), t.second);

    auto open_says = [](int want) { return stderr_of([&] { EXPECT_EQ(w32_play_mode.open_output(), want); }); };
    w32_play_mode.extra_param[0] = 4, w32_play_mode.encoding = PE_ULAW | PE_MONO;
    EXPECT_NE(open_says(0).find("Too small -B option: 4"), std::string::npos);
    EXPECT_EQ(std::make_tuple(w32_play_mode.extra_param[0], w32_play_mode.encoding),
              std::make_tuple(8, PE_MONO));
    w32_play_mode.close_output();
    w32_play_mode.encoding = PE_24BIT | PE_BYTESWAP;
    open_says(0);
    EXPECT_EQ(w32_play_mode.encoding, PE_24BIT | PE_SIGNED);

    // The device goes away: a reset that cannot open it again fails, and so do later writes.
    {
        ScopedEnv gone("CORVELLE_AUDIO_DEVICE", "no-such-device");
        std::string out = stderr_of([] {
            EXPECT_EQ(w32_play_mode.acntl(PM_REQ_FLUSH, nullptr), -1);
            EXPECT_EQ(w32_play_mode.acntl(PM_REQ_DISCARD, nullptr), -1);
            char frame[4] = {0};
            EXPECT_EQ(w32_play_mode.output_data(frame, 4), -1);
        });
        EXPECT_NE(out.find("No audio devices present!"), std::string::npos) << out;
        EXPECT_EQ((std::vector<int>{w32_play_mode.fd, w32_play_mode.detect()}), (std::vector<int>{-1, 0}));
        EXPECT_NE(open_says(-1).find("No audio devices present!"), std::string::npos);
        EXPECT_EQ(w32_play_mode.fd, -1);
    }
    ScopedEnv bad("CORVELLE_AUDIO_DEVICE", "capture:/nonexistent-dir/x.wav");
    w32_play_mode.encoding = PE_16BIT | PE_SIGNED;
    EXPECT_NE(open_says(-1).find("Can't open audio device: encoding=<16bit>, rate=<44100>, ch=<2>: "
                                 "no device driver present"),
              std::string::npos);
}

// Request 2 drops what is queued and leaves the device open; request 3 plays everything first.
TEST_F(WaveDriverTest, DiscardAndDrainRequests)
{
    ASSERT_EQ(w32_play_mode.open_output(), 0);
    std::string data = pattern(16 * 16384, 3), more = pattern(4 * 16384, 4);  // 1.5 s, 0.4 s
    ASSERT_EQ(w32_play_mode.output_data(&data[0], (int32)data.size()), 0);
    ASSERT_EQ(w32_play_mode.acntl(PM_REQ_DISCARD, nullptr), 0);
    EXPECT_EQ(w32_play_mode.fd, 0);
    const size_t kept = wave_data(read_whole_file(capture_)).size();
    EXPECT_LT(kept, data.size() / 2);
    ASSERT_EQ(w32_play_mode.output_data(&more[0], (int32)more.size()), 0);
    ASSERT_EQ(w32_play_mode.acntl(PM_REQ_FLUSH, nullptr), 0);
    EXPECT_EQ(w32_play_mode.fd, 0);
    const std::string played = wave_data(read_whole_file(capture_));
    EXPECT_EQ(played.size(), kept + more.size());
    EXPECT_TRUE(played.substr(kept) == more);
}

// 40000 bytes take three buffers of 16384, 16384 and 7232 bytes, numbered in pool order.
TEST_F(WaveDriverTest, WriteSplitsIntoPoolBuffersInOrder)
{
    ASSERT_EQ(w32_play_mode.open_output(), 0);
    EXPECT_EQ(w32_play_mode.fd, 0);
    const std::string data = pattern(40000, 1), debug = debug_write(data);
    size_t at = 0;
    for (int n = 0; n < 3; n++)
        ASSERT_NE(at = debug.find("Buffer " + std::to_string(n) + " queued.", at), std::string::npos)
            << debug;
    EXPECT_EQ(debug.find("Buffer 3 queued."), std::string::npos);
    w32_play_mode.close_output();
    EXPECT_EQ(w32_play_mode.fd, -1);
    std::vector<DeviceTraceLine> t = read_device_trace(trace_);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ((std::vector<long long>{t[0].frames, t[1].frames, t[2].frames}),
              (std::vector<long long>{4096, 8192, 10000}));  // 7232 bytes are 1808 frames
    EXPECT_EQ(wave_data(read_whole_file(capture_)), data);
}
