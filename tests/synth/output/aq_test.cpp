// The audio queue between the engine and an output, and the wave device output it feeds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "frontend/controls.h"
#include "frontend/options.h"
#include "output/aq.h"
#include "output/output.h"
#include "support/capture.h"
#include "support/device_trace.h"
#include "support/fake_output.h"
#include "support/guards.h"
#include "support/tempdir.h"

namespace {

FakeOutput& fake = fake_output();
int32 frames_added = 0;
std::vector<int32> added_at_write;  // frames added to the queue when each write came

// The fake output at its full device queue; the frames added at each write are kept.
FakeOutput fresh_output(int qsize = 507904)
{
    added_at_write.clear();
    FakeOutput f;
    f.qsize = qsize;
    return f;
}

// Frame k is (k mod 32768, its negation) in 16 bits, so any stretch of the stream is known.
std::vector<int32> block(int32 first, int32 frames)
{
    std::vector<int32> b(2 * (size_t)frames);
    for (int32 i = 0; i < frames; i++)
        b[2 * i + 1] = -(b[2 * i] = (first + i) % 32768 * 8192);
    return b;
}

std::string converted(int32 first, int32 frames)
{
    std::string s;
    for (int32 i = 0; i < frames; i++)
        for (int16 v : {(int16)((first + i) % 32768), (int16)-((first + i) % 32768)})
            s.append({(char)(v & 0xFF), (char)((uint16)v >> 8)});
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
        fake = fresh_output(), frames_added = 0;
        strcpy(max_, "5.0"), strcpy(fill_, "100%");
        mode_ = fake_mode(), mode_.flag |= PF_CAN_TRACE;
        mode_.output_data = [](char* buf, int32 bytes) {
            added_at_write.push_back(frames_added);
            return fake_output_data(buf, bytes);
        };
    }
    void TearDown() override { aq_flush(1); }
    // Sets the queue up afresh with the options given; the record of the output starts empty.
    void start(const char* max, const char* fill)
    {
        aq_flush(1);
        strcpy(max_, max), strcpy(fill_, fill);
        aq_setup();
        corvelle_init_aq_buff();
        fake = fresh_output(fake.qsize), frames_added = 0;
    }

    // The final effect stage off: what reaches the output is the samples added, bit for bit.
    Restore<int> lr_{effect_lr_mode, -1}, shaping_{noise_sharp_type, 0};
    char max_[16], fill_[16];
    Restore<char*> max_opt_{opt_aq_max_buff, max_}, fill_opt_{opt_aq_fill_buff, fill_};
    PlayMode mode_;
    Restore<PlayMode*> mode_in_use_{play_mode, &mode_};
};

// The wave device output in use over the capture device, with its trace; closed at the end.
struct CaptureDevice {
    CaptureDevice() { InitializeCriticalSection(&critSect); }
    ~CaptureDevice() { w32_play_mode.close_output(); }

    TempDir dir;
    std::string capture = dir.file("played.wav"), trace = dir.file("trace.txt");
    ScopedEnv device{"CORVELLE_AUDIO_DEVICE", "capture:" + capture};
    ScopedEnv trace_env{"CORVELLE_TRACE", trace};
    Restore<PlayMode> record{w32_play_mode};
    Restore<PlayMode*> in_use{play_mode, &w32_play_mode};
};

class WaveDriverTest : public ::testing::Test {
protected:
    static std::string pattern(size_t n, int seed)
    {
        std::string v(n, '\0');
        for (size_t i = 0; i < n; i++)
            v[i] = (char)((i * 13 + seed) & 0xFF);
        return v;
    }

    CaptureDevice device_;
};

}  // namespace

// 44100 Hz 16-bit stereo: 16384-byte buckets, 126976 device frames, 5 s of soft queue.
TEST_F(AudioQueueTest, BucketsSoftQueueAndFillStage)
{
    const int32 frags[][3] = {{8000, PE_MONO, 1024},  // 4096 bytes would be 0.5 s
                              {44100, PE_24BIT | PE_SIGNED, 24576},
                              {2000, PE_16BIT | PE_SIGNED, 1024},  // under 1 s, then under 0.2 s
                              {44100, PE_16BIT | PE_SIGNED, 16384}};
    for (const auto& f : frags) {
        mode_.rate = f[0], mode_.encoding = f[1];
        EXPECT_EQ(aq_calc_fragsize(), f[2]) << f[0];
    }
    // A 20 s fill stage: the 5 s soft queue (53 buckets) fills, then the device gets buckets.
    start("5.0", "20.0");
    EXPECT_EQ(aq_get_dev_queuesize(), 126976);
    for (int i = 0; i < 53; i++)
        ASSERT_EQ(add_frames(4096), 0);
    // The clock starts when the device gets its first frames, not at the last reading.
    EXPECT_EQ(std::make_tuple(fake.writes.size(), aq_soft_filled(), aq_fill_buffer_flag, aq_samples()),
              std::make_tuple(0ul, 53 * 4096, 1, 0));
    usleep(100000);
    Span added = timed([] { ASSERT_EQ(add_frames(4096), 0); });
    int32 at = 0;
    Span read = timed([&] { at = aq_samples(); });
    EXPECT_LE(at, most_frames(added, read, 44100, 1e9) + 1);
    ASSERT_FALSE(fake.writes.empty());
    EXPECT_EQ(added_at_write[0], 54 * 4096);
    EXPECT_EQ(std::count(fake.writes.begin(), fake.writes.end(), 16384), (long)fake.writes.size());
    EXPECT_EQ(fake.data.substr(0, 16384), converted(0, 4096));

    // "100%" fill: nothing before one device queue (31 blocks), then the device queue at once.
    start("5.0", "100%");
    int blocks = 0;
    for (; fake.writes.empty() && blocks < 100; blocks++)
        ASSERT_EQ(add_frames(4096), 0);
    EXPECT_GT(added_at_write[0], 126976);
    EXPECT_EQ(std::make_tuple(blocks, fake.writes.size(), aq_fill_buffer_flag), std::make_tuple(32, 31ul, 0));
    EXPECT_EQ(fake.data, converted(0, 31 * 4096));

    // "0%" fill: blocks go to the device from the first one.
    start("5.0", "0%");
    EXPECT_EQ(aq_fill_buffer_flag, 0);
    ASSERT_EQ(add_frames(4096), 0);
    EXPECT_EQ(fake.data, converted(0, 4096));
    // "100%" of the maximum: no soft queue beyond the device, blocks go straight on.
    start("100%", "0%");
    ASSERT_EQ(add_frames(1000), 0);
    EXPECT_EQ(fake.writes, std::vector<int>({4000}));
}

// A file shorter than the fill stage still plays, padded with the encoding's silence.
TEST_F(AudioQueueTest, FlushPadsAndDiscardDrops)
{
    start("5.0", "100%");
    ASSERT_EQ(add_frames(1000), 0);
    EXPECT_TRUE(fake.writes.empty());
    EXPECT_EQ(aq_flush(0), 0);
    ASSERT_EQ(fake.writes.size(), 1u);
    EXPECT_EQ(fake.data, converted(0, 1000) + std::string(16384 - 4000, '\0'));
    std::vector<int> controls;  // the queries left out
    std::copy_if(fake.requests.begin(), fake.requests.end(), std::back_inserter(controls),
                 [](int r) { return r == PM_REQ_DISCARD || r == PM_REQ_FLUSH || r == PM_REQ_OUTPUT_FINISH; });
    EXPECT_EQ(controls, std::vector<int>({PM_REQ_OUTPUT_FINISH, PM_REQ_FLUSH}));
    EXPECT_EQ(aq_soft_filled(), 0);

    mode_.encoding = PE_MONO;  // unsigned 8-bit: 0x80, not a full negative swing
    start("5.0", "100%");
    std::vector<int32> b(100, 0);
    ASSERT_EQ(aq_add(b.data(), 100), 0);
    ASSERT_EQ(aq_flush(0), 0);
    EXPECT_EQ(fake.data, std::string(4096, '\x80'));

    // Discarding drops the soft queue; a file-ending control during the final flush is returned.
    mode_.encoding = PE_16BIT | PE_SIGNED;
    start("5.0", "20.0");
    for (int i = 0; i < 5; i++)
        add_frames(4096);
    EXPECT_EQ(aq_soft_filled(), 5 * 4096);
    EXPECT_EQ(aq_flush(1), 0);
    EXPECT_EQ(fake.requests.back(), PM_REQ_DISCARD);
    EXPECT_EQ(std::make_tuple(aq_soft_filled(), fake.writes.size(), aq_samples()), std::make_tuple(0, 0ul, 0));

    static int control;
    for (int rc : {1, 14}) {  // "quit"; a jump past the end
        start("5.0", "20.0");
        for (int i = 0; i < 3; i++)
            add_frames(4096);
        control = rc;
        Restore read(ctl->read, [](int32*) { return control; });
        EXPECT_EQ(aq_flush(0), rc);
        // One bucket went before the control was seen.
        EXPECT_EQ(std::make_tuple(fake.writes.size(), fake.requests.back(), aq_soft_filled()),
                  std::make_tuple(1ul, PM_REQ_DISCARD, 0));
    }
}

// No play position: every block as it comes and a clock of -1; no PCM: nothing at all.
TEST_F(AudioQueueTest, OutputWithoutPlayPosition)
{
    mode_.flag = PF_PCM_STREAM;
    start("5.0", "100%");
    EXPECT_EQ(std::make_tuple(aq_samples(), aq_get_dev_queuesize(), aq_filled_ratio()),
              std::make_tuple(-1, 0, 1.0));
    ASSERT_EQ(add_frames(1000), 0);
    ASSERT_EQ(add_frames(3000), 0);
    EXPECT_EQ(fake.writes, std::vector<int>({4000, 12000}));
    EXPECT_EQ(fake.data, converted(0, 4000));
    EXPECT_EQ(aq_flush(0), 0);
    EXPECT_EQ(fake.requests.back(), PM_REQ_FLUSH);

    mode_.flag = PF_MIDI_EVENT, fake = fresh_output();
    std::vector<int32> b(200, 1 << 20);
    EXPECT_EQ(aq_add(b.data(), 100), 0);
    EXPECT_TRUE(fake.writes.empty());
    EXPECT_EQ(b[0], 1 << 20);  // not even converted
}

// The clock stops when the device runs dry or a write fails, and counts on when given more.
TEST_F(AudioQueueTest, ClockFollowsWhatTheDeviceWasGiven)
{
    fake.qsize = 4 * 16384;  // 0.37 s of device queue
    start("5.0", "0%");
    EXPECT_EQ(aq_samples(), 0);
    usleep(80000);
    Span added = timed([] { EXPECT_EQ(add_frames(8192), 0); });
    ASSERT_EQ(fake.data.size(), 8192u * 4);
    usleep(100000);
    int32 at = 0;
    Span read = timed([&] { at = aq_samples(); });
    EXPECT_GE(at, fewest_frames(added, read, 44100, 8192) - 1);
    EXPECT_LE(at, most_frames(added, read, 44100, 8192) + 1);
    EXPECT_GT(at, 3000);  // 100 ms is 4410 frames
    while (wall_us() < added.to + 8192 / 44100.0 * 1e6 + 10000)
        usleep(10000);
    EXPECT_EQ(aq_samples(), 8192);
    usleep(50000);
    EXPECT_EQ(std::make_tuple(aq_samples(), aq_filled()), std::make_tuple(8192, 0));
    added = timed([] { EXPECT_EQ(add_frames(4096), 0); });
    usleep(50000);
    read = timed([&] { at = aq_samples(); });
    EXPECT_GE(at, 8192 + fewest_frames(added, read, 44100, 4096) - 1);
    EXPECT_LE(at, 8192 + most_frames(added, read, 44100, 4096) + 1);
    EXPECT_GT(at, 8192 + 1000);

    // A failed write stops the clock at once: what was handed over before is not played.
    start("5.0", "0%");
    added = timed([] { EXPECT_EQ(add_frames(8192), 0); });  // 186 ms
    usleep(50000);
    fake.fail = true;
    Span failed = timed([] { EXPECT_EQ(add_frames(4096), -1); });
    const int32 stopped = aq_samples();
    EXPECT_GE(stopped, fewest_frames(added, failed, 44100, 8192) - 1);
    EXPECT_LE(stopped, most_frames(added, failed, 44100, 8192) + 1);
    EXPECT_GT(stopped, 1000);
    usleep(60000);
    EXPECT_EQ(aq_samples(), stopped);
    fake.fail = false;

    // With nothing to show, waiting for the view sleeps (a fifth of the queue, 74 ms), not spins.
    Span waited = timed([] { aq_wait_ticks(); });
    EXPECT_GE(waited.to - waited.from, 60000.0);
}

// A queue size the output cannot tell is measured; one under two buckets gets blocks directly.
TEST_F(AudioQueueTest, MeasuresAnUnknownDeviceQueue)
{
    // The measurement times the device's writes, so a busy machine can spoil one try: the
    // best of three must fall within the bounds.
    int32 measured = 0;
    for (int tries = 0; tries < 3; tries++) {
        fake = fresh_output(-1), fake.drain_bytes = 6 * 16384;
        aq_setup();
        corvelle_init_aq_buff();
        measured = aq_get_dev_queuesize() * 4;
        if (measured >= (int32)(0.8 * 6 * 16384) && measured <= (int32)(1.05 * 6 * 16384))
            break;
    }
    EXPECT_TRUE(measured >= (int32)(0.8 * 6 * 16384) && measured <= (int32)(1.05 * 6 * 16384)) << measured;
    EXPECT_EQ(measured % 4, 0);

    fake = fresh_output(16384);
    std::string out = stderr_of([] { aq_setup(), corvelle_init_aq_buff(); });
    EXPECT_NE(out.find("Warning: Audio buffer is too small."), std::string::npos) << out;
    ASSERT_EQ(add_frames(1000), 0);
    EXPECT_EQ(fake.writes, std::vector<int>({4000}));
}

// Within a bucket of what the device's trace says it played; the recording is the samples added.
TEST_F(AudioQueueTest, ClockReadFromAnotherThreadAgreesWithTheDevice)
{
    CaptureDevice device;
    std::vector<std::pair<Span, int32>> readings;
    readings.reserve(10000);
    const int32 total = 3 * 44100;
    {
        ASSERT_EQ(w32_play_mode.open_output(), 0);
        AtExit close([] { w32_play_mode.close_output(); });
        aq_setup();
        corvelle_init_aq_buff();
        ASSERT_EQ(aq_get_dev_queuesize(), 126976);
        LoopingThread view([&] {
            int32 s = 0;
            readings.push_back({timed([&] { s = aq_samples(); }), s});
            usleep(2000);
        });
        for (int32 at = 0; at < total; at += 4096)
            ASSERT_EQ(add_frames(std::min(4096, total - at)), 0);
        ASSERT_EQ(aq_flush(0), 0);
    }  // the view's thread stops, then the device closes

    std::vector<DeviceTraceLine> lines = read_device_trace(device.trace);
    ASSERT_GE(lines.size(), 32u);
    ASSERT_EQ(lines.back().frames, 33 * 4096);  // 3 s rounded up to whole buckets
    // Between two of its lines the device played from the earlier's frames to the later's (a
    // starved thread only widens that); a clock of what was queued would run 31 buckets ahead.
    std::vector<double> diffs;
    for (const auto& r : readings) {
        if (r.first.to > lines.back().us)
            break;  // after the last buffer the queue is reset for the next file
        double lo = 0, hi = 0;  // played by the last line before the reading and the first after
        for (const DeviceTraceLine& l : lines) {
            lo = l.us <= r.first.from ? (double)l.frames : lo;
            if (l.us >= r.first.to) {
                hi = (double)l.frames;
                break;
            }
        }
        diffs.push_back(r.second < lo ? lo - r.second : r.second > hi ? r.second - hi : 0);
    }
    ASSERT_GT(diffs.size(), 50u);  // about 1500 on an idle machine, far fewer on a loaded one
    std::sort(diffs.begin(), diffs.end());
    EXPECT_LE(diffs[diffs.size() / 2], 1024.0) << diffs.size() << " readings";
    EXPECT_LE(diffs[diffs.size() * 95 / 100], 4096.0) << "worst " << diffs.back();
    EXPECT_TRUE(wave_data(read_whole_file(device.capture)) ==
                converted(0, total) + std::string((33 * 4096 - total) * 4, '\0'));
}

// Opening raises a pool below 8 with a warning and makes the encoding one the device plays.
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
    EXPECT_TRUE(has(open_says(-1), "Can't open audio device: encoding=<16bit>, rate=<44100>, ch=<2>: "
                                   "no device driver present"));
}

// Request 2 drops what is queued and leaves the device open; request 3 plays everything first.
TEST_F(WaveDriverTest, DiscardAndDrainRequests)
{
    ASSERT_EQ(w32_play_mode.open_output(), 0);
    std::string data = pattern(16 * 16384, 3), more = pattern(4 * 16384, 4);  // 1.5 s, 0.4 s
    ASSERT_EQ(w32_play_mode.output_data(&data[0], (int32)data.size()), 0);
    ASSERT_EQ(w32_play_mode.acntl(PM_REQ_DISCARD, nullptr), 0);
    EXPECT_EQ(w32_play_mode.fd, 0);
    const size_t kept = wave_data(read_whole_file(device_.capture)).size();
    EXPECT_LT(kept, data.size() / 2);
    ASSERT_EQ(w32_play_mode.output_data(&more[0], (int32)more.size()), 0);
    ASSERT_EQ(w32_play_mode.acntl(PM_REQ_FLUSH, nullptr), 0);
    EXPECT_EQ(w32_play_mode.fd, 0);
    const std::string played = wave_data(read_whole_file(device_.capture));
    EXPECT_EQ(played.size(), kept + more.size());
    EXPECT_TRUE(played.substr(kept) == more);
}

// 40000 bytes take three buffers of 16384, 16384 and 7232 bytes, numbered in pool order.
TEST_F(WaveDriverTest, WriteSplitsIntoPoolBuffersInOrder)
{
    ASSERT_EQ(w32_play_mode.open_output(), 0);
    EXPECT_EQ(w32_play_mode.fd, 0);
    std::string data = pattern(40000, 1), debug;
    {
        ScopedEnv on("CORVELLE_DEBUG", "1");  // the driver says which buffer each block went to
        debug = stderr_of([&] { EXPECT_EQ(w32_play_mode.output_data(&data[0], (int32)data.size()), 0); });
    }
    size_t at = 0;
    for (int n = 0; n < 3; n++)
        ASSERT_NE(at = debug.find("Buffer " + std::to_string(n) + " queued.", at), std::string::npos)
            << debug;
    EXPECT_EQ(debug.find("Buffer 3 queued."), std::string::npos);
    w32_play_mode.close_output();
    EXPECT_EQ(w32_play_mode.fd, -1);
    std::vector<DeviceTraceLine> t = read_device_trace(device_.trace);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ((std::vector<long long>{t[0].frames, t[1].frames, t[2].frames}),
              (std::vector<long long>{4096, 8192, 10000}));  // 7232 bytes are 1808 frames
    EXPECT_EQ(wave_data(read_whole_file(device_.capture)), data);
}
