#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "frontend/controls.h"
#include "frontend/options.h"
#include "output/aq.h"
#include "output/output.h"
#include "output_test_support.h"
#include "support/tempdir.h"

namespace {

// An output that records what it is given; with drain_bytes it plays in real time from a
// queue of that size (writes block while it is full), for measuring the queue.
struct FakeOutput {
    std::vector<int> write_sizes;
    std::vector<int32> added_at_write;  // frames added to the queue when each write came
    std::string data;
    std::vector<int> requests;
    int qsize = 507904;
    long drain_bytes = 0;
    double level_time = 0;
    long level = 0;
    bool fail = false;  // every write fails
};
FakeOutput fake;
int32 frames_added = 0;

int fake_open(void) { return 0; }
void fake_close(void) {}

int fake_output(char* buf, int32 bytes)
{
    if (fake.fail)
        return -1;
    if (fake.drain_bytes > 0) {
        const double bytes_per_us = 44100.0 * 4 / 1e6;
        for (;;) {
            double now = wall_us();
            fake.level -= (long)((now - fake.level_time) * bytes_per_us);
            fake.level_time = now;
            if (fake.level < 0)
                fake.level = 0;
            if (fake.level + bytes <= fake.drain_bytes)
                break;
            usleep(500);
        }
        fake.level += bytes;
    }
    fake.write_sizes.push_back(bytes);
    fake.added_at_write.push_back(frames_added);
    fake.data.append(buf, (size_t)bytes);
    return 0;
}

int fake_acntl(int request, void* arg)
{
    fake.requests.push_back(request);
    switch (request) {
    case PM_REQ_GETQSIZ:
        if (fake.qsize < 0)
            return -1;
        *(int*)arg = fake.qsize;
        return 0;
    case PM_REQ_DISCARD:
        fake.level = 0;
        return 0;
    case PM_REQ_FLUSH:
    case PM_REQ_OUTPUT_FINISH:
        return 0;
    default:
        return -1;
    }
}

PlayMode fake_mode = {44100, PE_16BIT | PE_SIGNED, PF_PCM_STREAM | PF_CAN_TRACE, -1, {0, 0, 0, 0, 0},
                      "test output", 't', nullptr, fake_open, fake_close, fake_output, fake_acntl, nullptr};

// A block of frames whose 16-bit conversion is the frame number and its negation.
std::vector<int32> block(int32 first, int32 frames)
{
    std::vector<int32> b(2 * (size_t)frames);
    for (int32 i = 0; i < frames; i++) {
        int16 v = (int16)((first + i) & 0xFFFF);
        b[2 * i] = (int32)v * 8192;
        b[2 * i + 1] = -(int32)v * 8192;
    }
    return b;
}

std::string converted(int32 first, int32 frames)
{
    std::string s;
    for (int32 i = 0; i < frames; i++) {
        int16 v = (int16)((first + i) & 0xFFFF);
        int16 w = (int16)(-(int32)v * 8192 >> 13 > 32767 ? 32767 : -(int32)v);
        uint16 a = (uint16)v, b = (uint16)w;
        s += (char)(a & 0xFF);
        s += (char)(a >> 8);
        s += (char)(b & 0xFF);
        s += (char)(b >> 8);
    }
    return s;
}

int add_frames(int32 frames)
{
    std::vector<int32> b = block(frames_added, frames);
    frames_added += frames;
    return aq_add(b.data(), frames);
}

class AudioQueueTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake = FakeOutput();
        frames_added = 0;
        saved_max_ = opt_aq_max_buff;
        saved_fill_ = opt_aq_fill_buff;
        opt_aq_max_buff = max_;
        opt_aq_fill_buff = fill_;
        strcpy(max_, "5.0");
        strcpy(fill_, "100%");
        mode_ = fake_mode;
        play_mode = &mode_;
    }
    FinalStageOff final_stage_off_;
    void TearDown() override
    {
        aq_flush(1);
        opt_aq_max_buff = saved_max_;
        opt_aq_fill_buff = saved_fill_;
        play_mode = nullptr;
    }
    void start()
    {
        aq_setup();
        corvelle_init_aq_buff();
        fake.requests.clear();
    }

    char max_[16], fill_[16];
    char *saved_max_, *saved_fill_;
    PlayMode mode_;
};

}  // namespace

// 44100 Hz 16-bit stereo: 16384-byte buckets, 126976 device frames, 5 s of soft queue in 53 buckets.
TEST_F(AudioQueueTest, BucketsAndSoftQueueAtTheDefaults)
{
    struct {
        int32 rate, encoding, bytes;
    } frags[] = {{8000, PE_MONO, 1024},  // 4096 bytes would be 0.5 s
                 {44100, PE_24BIT | PE_SIGNED, 24576},
                 {2000, PE_16BIT | PE_SIGNED, 1024},  // under 1 s and then under 0.2 s
                 {44100, PE_16BIT | PE_SIGNED, 16384}};
    for (const auto& f : frags) {
        mode_.rate = f.rate;
        mode_.encoding = f.encoding;
        EXPECT_EQ(aq_calc_fragsize(), f.bytes) << f.rate;
    }
    strcpy(fill_, "20.0");
    start();
    EXPECT_EQ(aq_get_dev_queuesize(), 126976);
    for (int i = 0; i < 53; i++)
        ASSERT_EQ(add_frames(4096), 0);
    EXPECT_TRUE(fake.write_sizes.empty());
    EXPECT_EQ(aq_soft_filled(), 53 * 4096);
    EXPECT_EQ(aq_fill_buffer_flag, 1);
    ASSERT_EQ(add_frames(4096), 0);
    ASSERT_FALSE(fake.write_sizes.empty());
    EXPECT_EQ(fake.added_at_write[0], 54 * 4096);
    for (int size : fake.write_sizes)
        EXPECT_EQ(size, 16384);
    EXPECT_EQ(fake.data.substr(0, 16384), converted(0, 4096));
}

// Nothing reaches the device before the fill stage (one device queue); then it fills at once.
TEST_F(AudioQueueTest, FillStageHoldsBackTheFirstBytes)
{
    start();
    int blocks = 0;
    while (fake.write_sizes.empty() && blocks < 100) {
        ASSERT_EQ(add_frames(4096), 0);
        blocks++;
    }
    EXPECT_EQ(blocks, 32);  // 31 blocks are exactly the 126976 frames of the fill stage
    EXPECT_GT(fake.added_at_write[0], 126976);
    EXPECT_EQ(fake.write_sizes.size(), 31u);  // 507904 bytes: the device queue
    EXPECT_EQ(aq_fill_buffer_flag, 0);
    EXPECT_EQ(fake.data, converted(0, 31 * 4096));
}

// A file shorter than the fill stage still plays, padded with silence.
TEST_F(AudioQueueTest, ShortFilePlaysOutPaddedWithTheEncodingsSilence)
{
    start();
    ASSERT_EQ(add_frames(1000), 0);
    EXPECT_TRUE(fake.write_sizes.empty());
    EXPECT_EQ(aq_flush(0), 0);
    ASSERT_EQ(fake.write_sizes.size(), 1u);
    EXPECT_EQ(fake.data.substr(0, 4000), converted(0, 1000));
    EXPECT_EQ(fake.data.substr(4000), std::string(16384 - 4000, '\0'));
    std::vector<int> controls;  // leaving out the queries
    for (int r : fake.requests)
        if (r == PM_REQ_DISCARD || r == PM_REQ_FLUSH || r == PM_REQ_OUTPUT_FINISH)
            controls.push_back(r);
    EXPECT_EQ(controls, std::vector<int>({PM_REQ_OUTPUT_FINISH, PM_REQ_FLUSH}));
    EXPECT_EQ(aq_soft_filled(), 0);

    // Padding is the encoding's silence: 0x80 for unsigned 8-bit, not a full negative swing.
    aq_flush(1);
    mode_.encoding = PE_MONO;
    start();
    fake = FakeOutput();
    std::vector<int32> b(100, 0);
    ASSERT_EQ(aq_add(b.data(), 100), 0);
    ASSERT_EQ(aq_flush(0), 0);
    EXPECT_EQ(fake.data, std::string(4096, '\x80'));
}

// "0%" fill: blocks go to the device from the first one.
TEST_F(AudioQueueTest, ZeroFillStartsAtOnce)
{
    strcpy(fill_, "0%");
    start();
    EXPECT_EQ(aq_fill_buffer_flag, 0);
    ASSERT_EQ(add_frames(4096), 0);
    ASSERT_EQ(fake.write_sizes.size(), 1u);
    EXPECT_EQ(fake.data, converted(0, 4096));
    // "100%" of the maximum means no soft queue beyond the device: blocks go straight on.
    strcpy(max_, "100%");
    aq_flush(1);
    start();
    fake = FakeOutput();
    ASSERT_EQ(add_frames(1000), 0);
    EXPECT_EQ(fake.write_sizes, std::vector<int>({4000}));
}

// No play position: every block as it comes and a clock of -1; no PCM: nothing at all.
TEST_F(AudioQueueTest, OutputWithoutPlayPosition)
{
    mode_.flag = PF_PCM_STREAM;
    start();
    EXPECT_EQ(aq_samples(), -1);
    EXPECT_EQ(aq_get_dev_queuesize(), 0);
    EXPECT_EQ(aq_filled_ratio(), 1.0);
    ASSERT_EQ(add_frames(1000), 0);
    ASSERT_EQ(add_frames(3000), 0);
    EXPECT_EQ(fake.write_sizes, std::vector<int>({4000, 12000}));
    EXPECT_EQ(fake.data, converted(0, 4000));
    EXPECT_EQ(aq_flush(0), 0);
    EXPECT_EQ(fake.requests.back(), PM_REQ_FLUSH);

    mode_.flag = PF_MIDI_EVENT;
    fake = FakeOutput();
    std::vector<int32> b(200, 1 << 20);
    EXPECT_EQ(aq_add(b.data(), 100), 0);
    EXPECT_TRUE(fake.write_sizes.empty());
    EXPECT_EQ(b[0], 1 << 20);  // not even converted
}

// The clock starts when the device is given its first frames (not when someone first looked
// at it), never passes the frames handed over, and counts on from there when given more.
TEST_F(AudioQueueTest, ClockStopsWhenTheDeviceRunsDry)
{
    fake.qsize = 4 * 16384;  // 0.37 s of device queue
    strcpy(fill_, "0%");
    start();
    EXPECT_EQ(aq_samples(), 0);
    usleep(80000);
    Span added = timed([] { EXPECT_EQ(add_frames(8192), 0); });
    int32 handed = 0;
    for (int s : fake.write_sizes)
        handed += s / 4;
    ASSERT_EQ(handed, 8192);
    usleep(100000);
    int32 mid = 0;
    Span read = timed([&] { mid = aq_samples(); });
    EXPECT_GE(mid, fewest_frames(added, read, 44100, 8192) - 1);
    EXPECT_LE(mid, most_frames(added, read, 44100, 8192) + 1);
    EXPECT_GT(mid, 3000);  // 100 ms is 4410 frames
    // Once the 8192 frames have had their time, the clock holds at what was handed over.
    while (wall_us() < added.to + 8192 / 44100.0 * 1e6 + 10000)
        usleep(10000);
    EXPECT_EQ(aq_samples(), 8192);
    usleep(50000);
    EXPECT_EQ(aq_samples(), 8192);
    EXPECT_EQ(aq_filled(), 0);
    added = timed([] { EXPECT_EQ(add_frames(4096), 0); });
    usleep(50000);
    int32 after = 0;
    read = timed([&] { after = aq_samples(); });
    EXPECT_GE(after, 8192 + fewest_frames(added, read, 44100, 4096) - 1);
    EXPECT_LE(after, 8192 + most_frames(added, read, 44100, 4096) + 1);
    EXPECT_GT(after, 8192 + 1000);
}

// A write that fails stops the clock at once: the frames handed over before it are not played.
TEST_F(AudioQueueTest, ClockStopsWhenTheDeviceFails)
{
    fake.qsize = 4 * 16384;
    strcpy(fill_, "0%");
    start();
    Span added = timed([] { EXPECT_EQ(add_frames(8192), 0); });  // 186 ms
    usleep(50000);
    fake.fail = true;
    Span failed = timed([] { EXPECT_EQ(add_frames(4096), -1); });
    int32 stopped = aq_samples();
    EXPECT_GE(stopped, fewest_frames(added, failed, 44100, 8192) - 1);
    EXPECT_LE(stopped, most_frames(added, failed, 44100, 8192) + 1);
    EXPECT_GT(stopped, 1000);
    usleep(60000);
    EXPECT_EQ(aq_samples(), stopped);
    fake.fail = false;
}

// Discarding drops the soft queue; a file-ending control during the final flush is returned.
TEST_F(AudioQueueTest, DiscardAndInterruptedFlush)
{
    strcpy(fill_, "20.0");
    start();
    for (int i = 0; i < 5; i++)
        add_frames(4096);
    EXPECT_EQ(aq_soft_filled(), 5 * 4096);
    EXPECT_EQ(aq_flush(1), 0);
    EXPECT_EQ(fake.requests.back(), PM_REQ_DISCARD);
    EXPECT_EQ(aq_soft_filled(), 0);
    EXPECT_TRUE(fake.write_sizes.empty());
    EXPECT_EQ(aq_samples(), 0);

    for (int i = 0; i < 3; i++)
        add_frames(4096);
    int (*saved_read)(int32*) = ctl->read;
    ctl->read = [](int32*) { return 1; };  // "quit"
    int rc = aq_flush(0);
    ctl->read = saved_read;
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(fake.write_sizes.size(), 1u);  // one bucket went before the control was seen
    EXPECT_EQ(fake.requests.back(), PM_REQ_DISCARD);
    EXPECT_EQ(aq_soft_filled(), 0);
}

// A queue size the output cannot tell is measured; one under two buckets gets blocks directly.
TEST_F(AudioQueueTest, MeasuresAnUnknownDeviceQueue)
{
    fake.qsize = -1;
    fake.drain_bytes = 6 * 16384;
    start();
    int32 measured = aq_get_dev_queuesize() * 4;
    EXPECT_GE(measured, (int32)(0.8 * 6 * 16384));
    EXPECT_LE(measured, (int32)(1.05 * 6 * 16384));
    EXPECT_EQ(measured % 4, 0);

    fake = FakeOutput();
    fake.qsize = 16384;
    testing::internal::CaptureStderr();
    start();
    std::string out = testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find("Warning: Audio buffer is too small."), std::string::npos) << out;
    ASSERT_EQ(add_frames(1000), 0);
    EXPECT_EQ(fake.write_sizes, std::vector<int>({4000}));
}

// The clock, read from a second thread as the view does, stays within a bucket of what the
// capture device's trace says it played; the recording holds exactly the added samples.
TEST(AudioQueueClockThread, AgreesWithTheDevice)
{
    TempDir dir;
    FinalStageOff final_stage_off;
    std::string capture = dir.file("clock.wav"), trace = dir.file("trace.txt");
    ScopedEnv device("CORVELLE_AUDIO_DEVICE", "capture:" + capture);
    ScopedEnv trace_env("CORVELLE_TRACE", trace);
    PlayMode saved = w32_play_mode;
    play_mode = &w32_play_mode;
    InitializeCriticalSection(&critSect);
    char max_buff[] = "5.0", fill_buff[] = "100%";
    char *saved_max = opt_aq_max_buff, *saved_fill = opt_aq_fill_buff;
    opt_aq_max_buff = max_buff;
    opt_aq_fill_buff = fill_buff;

    ASSERT_EQ(w32_play_mode.open_output(), 0);
    aq_setup();
    corvelle_init_aq_buff();
    ASSERT_EQ(aq_get_dev_queuesize(), 126976);

    struct Reading {
        Span at;
        int32 frames;
    };
    std::vector<Reading> readings;
    readings.reserve(10000);
    std::atomic<bool> stop{false};
    std::thread view([&] {
        while (!stop) {
            int32 s = 0;
            Span at = timed([&] { s = aq_samples(); });
            readings.push_back({at, s});
            usleep(2000);
        }
    });

    const int32 total = 3 * 44100;
    std::string expect;
    for (int32 at = 0; at < total; at += 4096) {
        int32 n = total - at < 4096 ? total - at : 4096;
        std::vector<int32> b = block(at, n);
        ASSERT_EQ(aq_add(b.data(), n), 0);
        expect += converted(at, n);
    }
    ASSERT_EQ(aq_flush(0), 0);
    stop = true;
    view.join();
    w32_play_mode.close_output();
    w32_play_mode = saved;
    play_mode = nullptr;
    opt_aq_max_buff = saved_max;
    opt_aq_fill_buff = saved_fill;

    std::vector<DeviceTraceLine> lines = read_device_trace(trace);
    ASSERT_GE(lines.size(), 32u);
    const long long played_total = lines.back().frames;
    ASSERT_EQ(played_total, 33 * 4096);  // 3 s rounded up to whole buckets
    // Frames the device had played at a moment: it plays continuously between its lines.
    double start_us = lines[0].us - lines[0].frames * 1e6 / 44100;
    auto device_frames = [&](double us) -> double {
        if (us <= start_us)
            return 0;
        double t0 = start_us, f0 = 0;
        for (const DeviceTraceLine& l : lines) {
            if (us <= l.us)
                return f0 + (l.frames - f0) * (us - t0) / (l.us - t0);
            t0 = l.us;
            f0 = (double)l.frames;
        }
        return (double)played_total;
    };
    // A reading's distance from what the device played while it ran; a busy machine may stamp
    // a device line late now and then, so the clock is judged by its median and 95th percentile.
    std::vector<double> diffs;
    for (const Reading& r : readings) {
        if (r.at.to > lines.back().us)
            break;  // after the last buffer the queue is reset for the next file
        double lo = device_frames(r.at.from), hi = device_frames(r.at.to);
        diffs.push_back(r.frames < lo ? lo - r.frames : r.frames > hi ? r.frames - hi : 0);
    }
    ASSERT_GT(diffs.size(), 500u);
    std::sort(diffs.begin(), diffs.end());
    double median = diffs[diffs.size() / 2], p95 = diffs[diffs.size() * 95 / 100];
    EXPECT_LE(median, 1024.0) << diffs.size() << " readings";
    EXPECT_LE(p95, 4096.0) << "worst " << diffs.back();

    std::string played = wave_data(read_whole_file(capture));
    ASSERT_EQ(played.size(), (size_t)played_total * 4);
    EXPECT_TRUE(played.compare(0, expect.size(), expect) == 0);
    EXPECT_EQ(played.substr(expect.size()), std::string(played.size() - expect.size(), '\0'));
}
