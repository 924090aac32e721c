#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "frontend/controls.h"
#include "output/output.h"
#include "output_test_support.h"
#include "support/tempdir.h"

namespace {

// The wave device output over the capture device, with its trace.
class WaveDriverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        capture_ = dir_.file("played.wav");
        trace_ = dir_.file("trace.txt");
        device_.reset(new ScopedEnv("CORVELLE_AUDIO_DEVICE", "capture:" + capture_));
        trace_env_.reset(new ScopedEnv("CORVELLE_TRACE", trace_));
        saved_mode_ = w32_play_mode;
        play_mode = &w32_play_mode;
        InitializeCriticalSection(&critSect);
    }
    void TearDown() override
    {
        w32_play_mode.close_output();
        w32_play_mode = saved_mode_;
        play_mode = nullptr;
    }
    // Writes with the driver's debug messages on; returns them.
    static std::string debug_write(const char* data, int32 n)
    {
        ScopedEnv on("CORVELLE_DEBUG", "1");
        testing::internal::CaptureStderr();
        EXPECT_EQ(w32_play_mode.output_data(const_cast<char*>(data), n), 0);
        return testing::internal::GetCapturedStderr();
    }
    static std::vector<char> pattern(size_t n, int seed)
    {
        std::vector<char> v(n);
        for (size_t i = 0; i < n; i++)
            v[i] = (char)((i * 13 + seed) & 0xFF);
        return v;
    }

    TempDir dir_;
    std::string capture_, trace_;
    std::unique_ptr<ScopedEnv> device_, trace_env_;
    PlayMode saved_mode_;
};

size_t find_after(const std::string& text, const std::string& what, size_t from)
{
    size_t at = text.find(what, from);
    return at == std::string::npos ? at : at + what.size();
}

}  // namespace

// 40000 bytes take three buffers of 16384, 16384 and 7232 bytes, numbered in pool order.
TEST_F(WaveDriverTest, WriteSplitsIntoPoolBuffersInOrder)
{
    ASSERT_EQ(w32_play_mode.open_output(), 0);
    EXPECT_EQ(w32_play_mode.fd, 0);
    std::vector<char> data = pattern(40000, 1);
    std::string debug = debug_write(data.data(), 40000);
    size_t at = 0;
    for (int n = 0; n < 3; n++) {
        at = find_after(debug, "Buffer " + std::to_string(n) + " queued.", at);
        ASSERT_NE(at, std::string::npos) << n << "\n" << debug;
    }
    EXPECT_EQ(debug.find("Buffer 3 queued."), std::string::npos);
    w32_play_mode.close_output();
    EXPECT_EQ(w32_play_mode.fd, -1);

    std::vector<DeviceTraceLine> t = read_device_trace(trace_);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].frames, 4096);
    EXPECT_EQ(t[1].frames, 8192);
    EXPECT_EQ(t[2].frames, 10000);  // 7232 bytes are 1808 frames
    EXPECT_EQ(wave_data(read_whole_file(capture_)), std::string(data.begin(), data.end()));
}

// With every buffer of the pool queued, a write waits (a buffer delay at most each time) until
// the device returns one, and goes on as soon as it does; closing returns only when every
// buffer has been played.
TEST_F(WaveDriverTest, FullPoolWaitsAndCloseWaitsForPlayback)
{
    w32_play_mode.extra_param[0] = 8;  // a small pool keeps the test short
    ASSERT_EQ(w32_play_mode.open_output(), 0);
    std::vector<char> data = pattern(8 * 16384, 2);
    double t0 = wall_us();
    std::string debug = debug_write(data.data(), (int32)data.size());
    EXPECT_EQ(debug.find("Waiting"), std::string::npos) << debug;  // eight free buffers
    const char frame[4] = {1, 2, 3, 4};
    debug = debug_write(frame, 4);
    size_t returned = read_device_trace(trace_).size();
    EXPECT_NE(debug.find("Waiting 371ms..."), std::string::npos) << debug;
    EXPECT_GE(returned, 1u) << "the write went on before the device returned a buffer";

    w32_play_mode.close_output();
    double closed = wall_us();
    std::vector<DeviceTraceLine> t = read_device_trace(trace_);
    ASSERT_EQ(t.size(), 9u);
    EXPECT_EQ(t.back().frames, 8 * 4096 + 1);
    EXPECT_LE(t.back().us, closed);
    // 32769 frames at 44100 Hz take 743 ms from the first write.
    EXPECT_GE(closed - t0, 730000.0);
    std::string played = wave_data(read_whole_file(capture_));
    ASSERT_EQ(played.size(), data.size() + 4);
    EXPECT_EQ(played.compare(0, data.size(), std::string(data.begin(), data.end())), 0);
}

TEST_F(WaveDriverTest, QueueSizeRequestAndErrorTexts)
{
    int size = 0;
    w32_play_mode.extra_param[0] = 32;
    const int32 sizes[][2] = {
        {PE_16BIT | PE_SIGNED, 507904}, {PE_MONO, 126976}, {PE_24BIT | PE_SIGNED, 31 * 4096 * 6}};
    for (const auto& es : sizes) {
        w32_play_mode.encoding = es[0];
        ASSERT_EQ(w32_play_mode.acntl(PM_REQ_GETQSIZ, &size), 0);
        EXPECT_EQ(size, es[1]);
    }
    EXPECT_EQ(w32_play_mode.acntl(PM_REQ_GETSAMPLES, &size), -1);
    EXPECT_EQ(w32_play_mode.acntl(PM_REQ_GETFRAGSIZ, &size), -1);

    const std::pair<int, const char*> texts[] = {
        {0, "no error"}, {13, "unsupported wave format"}, {14, "Unknown multimedia error 14"},
        {20, "Unknown multimedia error 20"}, {31, "Unknown multimedia error 31"},
        {32, "unsupported wave format"}, {34, "header not prepared"}, {35, "device is synchronous"},
        {36, "Unknown wave error 4"}, {40, "Unknown wave error 8"},
    };
    for (const auto& t : texts)
        EXPECT_STREQ(wave_error_text(t.first), t.second);
}

// Opening: a pool below 8 is raised with a warning, the encoding becomes one the device plays,
// and failures give the driver's messages.
TEST_F(WaveDriverTest, OpenFixesSettingsAndReportsFailures)
{
    w32_play_mode.extra_param[0] = 4;
    w32_play_mode.encoding = PE_ULAW | PE_MONO;
    testing::internal::CaptureStderr();
    ASSERT_EQ(w32_play_mode.open_output(), 0);
    std::string out = testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find("Too small -B option: 4"), std::string::npos) << out;
    EXPECT_EQ(w32_play_mode.extra_param[0], 8);
    EXPECT_EQ(w32_play_mode.encoding, PE_MONO);  // unsigned 8-bit
    w32_play_mode.close_output();

    w32_play_mode.encoding = PE_24BIT | PE_BYTESWAP;
    ASSERT_EQ(w32_play_mode.open_output(), 0);
    EXPECT_EQ(w32_play_mode.encoding, PE_24BIT | PE_SIGNED);
    w32_play_mode.close_output();

    {
        ScopedEnv none("CORVELLE_AUDIO_DEVICE", "no-such-device");
        EXPECT_EQ(w32_play_mode.detect(), 0);
        testing::internal::CaptureStderr();
        EXPECT_EQ(w32_play_mode.open_output(), -1);
        out = testing::internal::GetCapturedStderr();
        EXPECT_NE(out.find("No audio devices present!"), std::string::npos) << out;
        EXPECT_EQ(w32_play_mode.fd, -1);
    }
    {
        ScopedEnv bad("CORVELLE_AUDIO_DEVICE", "capture:/nonexistent-dir/x.wav");
        w32_play_mode.encoding = PE_16BIT | PE_SIGNED;
        testing::internal::CaptureStderr();
        EXPECT_EQ(w32_play_mode.open_output(), -1);
        out = testing::internal::GetCapturedStderr();
        EXPECT_NE(out.find("Can't open audio device: encoding=<16bit>, rate=<44100>, ch=<2>: no device driver present"),
                  std::string::npos)
            << out;
    }
    char byte[4] = {0};
    testing::internal::CaptureStderr();
    EXPECT_EQ(w32_play_mode.output_data(byte, 4), -1);  // not open
    testing::internal::GetCapturedStderr();
}

// Request 2 drops what is queued at once and leaves the device open; request 3 plays
// everything first.
TEST_F(WaveDriverTest, DiscardAndDrainRequests)
{
    ASSERT_EQ(w32_play_mode.open_output(), 0);
    std::vector<char> data = pattern(16 * 16384, 3);  // 1.5 s
    ASSERT_EQ(w32_play_mode.output_data(data.data(), (int32)data.size()), 0);
    ASSERT_EQ(w32_play_mode.acntl(PM_REQ_DISCARD, nullptr), 0);
    EXPECT_EQ(w32_play_mode.fd, 0);
    size_t kept = wave_data(read_whole_file(capture_)).size();
    EXPECT_LT(kept, data.size() / 2);

    std::vector<char> more = pattern(4 * 16384, 4);
    ASSERT_EQ(w32_play_mode.output_data(more.data(), (int32)more.size()), 0);
    ASSERT_EQ(w32_play_mode.acntl(PM_REQ_FLUSH, nullptr), 0);
    EXPECT_EQ(w32_play_mode.fd, 0);
    std::string played = wave_data(read_whole_file(capture_));
    ASSERT_EQ(played.size(), kept + more.size());
    EXPECT_EQ(played.substr(kept), std::string(more.begin(), more.end()));
}

// The device fails in the middle of a stream (its recording reaches the file-size limit):
// the next write reports the failure, and closing does not wait for ever for buffers the
// device no longer plays. In a child process because of the limit.
TEST_F(WaveDriverTest, DeviceFailureEndsWritingWithoutHanging)
{
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit r = {44 + 30000, 44 + 30000};
        setrlimit(RLIMIT_FSIZE, &r);
        if (w32_play_mode.open_output() != 0)
            _exit(2);
        std::vector<char> data = pattern(16384, 5);
        int rc = 0;
        for (int i = 0; i < 20 && rc == 0; i++) {
            rc = w32_play_mode.output_data(data.data(), (int32)data.size());
            usleep(30000);
        }
        if (rc != -1)
            _exit(3);
        w32_play_mode.close_output();
        _exit(w32_play_mode.fd == -1 ? 0 : 4);
    }
    int status = 0;
    for (int i = 0; i < 100; i++) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            break;
        usleep(100000);
        if (i == 99) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            FAIL() << "the driver hung after the device failed";
        }
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// When the device cannot be opened again after a reset, the request fails instead of
// claiming success, and later writes fail cleanly.
TEST_F(WaveDriverTest, ReopenFailureIsReported)
{
    ASSERT_EQ(w32_play_mode.open_output(), 0);
    ScopedEnv gone("CORVELLE_AUDIO_DEVICE", "no-such-device");
    testing::internal::CaptureStderr();
    EXPECT_EQ(w32_play_mode.acntl(PM_REQ_FLUSH, nullptr), -1);
    EXPECT_EQ(w32_play_mode.acntl(PM_REQ_DISCARD, nullptr), -1);
    char frame[4] = {0};
    EXPECT_EQ(w32_play_mode.output_data(frame, 4), -1);
    std::string out = testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find("No audio devices present!"), std::string::npos) << out;
    EXPECT_EQ(w32_play_mode.fd, -1);
}
