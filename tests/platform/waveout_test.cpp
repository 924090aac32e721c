#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/waveout.h"
#include "support/device_trace.h"

namespace {

typedef std::chrono::steady_clock steady;

// What the device told its client, in order.
struct Listener {
    std::mutex m;
    std::condition_variable cv;
    std::vector<UINT> messages;
    std::vector<WAVEHDR*> done;
    std::vector<std::thread::id> threads;

    static void proc(HWAVEOUT, UINT msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR)
    {
        Listener* l = reinterpret_cast<Listener*>(instance);
        std::lock_guard<std::mutex> g(l->m);
        l->messages.push_back(msg);
        l->threads.push_back(std::this_thread::get_id());
        if (msg == WOM_DONE)
            l->done.push_back(reinterpret_cast<WAVEHDR*>(p1));
        l->cv.notify_all();
    }

    bool wait_done(size_t n, int ms)
    {
        std::unique_lock<std::mutex> h(m);
        return cv.wait_for(h, std::chrono::milliseconds(ms), [&] { return done.size() >= n; });
    }
};

WAVEFORMATEX pcm_format(int channels, int bits, int rate)
{
    WAVEFORMATEX f;
    memset(&f, 0, sizeof f);
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = (WORD)channels;
    f.nSamplesPerSec = (DWORD)rate;
    f.nBlockAlign = (WORD)(channels * bits / 8);
    f.nAvgBytesPerSec = (DWORD)rate * f.nBlockAlign;
    f.wBitsPerSample = (WORD)bits;
    return f;
}

std::string temp_path(const char* name)
{
    return std::string(CORVELLE_BINARY_DIR) + "/waveout_test_" + std::to_string(getpid()) + "_" + name;
}

std::vector<char> read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

uint32_t le32(const std::vector<char>& b, size_t at)
{
    return (uint32_t)(unsigned char)b[at] | (uint32_t)(unsigned char)b[at + 1] << 8 |
           (uint32_t)(unsigned char)b[at + 2] << 16 | (uint32_t)(unsigned char)b[at + 3] << 24;
}

// A set of prepared headers over one pattern of bytes.
struct Buffers {
    std::vector<std::vector<char>> data;
    std::vector<WAVEHDR> hdr;
    Buffers(int count, size_t bytes, int seed) : data(count), hdr(count)
    {
        for (int i = 0; i < count; i++) {
            data[i].resize(bytes);
            for (size_t k = 0; k < bytes; k++)
                data[i][k] = (char)((k * 7 + i * 31 + seed) & 0xFF);
            memset(&hdr[i], 0, sizeof(WAVEHDR));
            hdr[i].lpData = data[i].data();
            hdr[i].dwBufferLength = (DWORD)bytes;
            hdr[i].dwUser = (DWORD_PTR)i;
        }
    }
};

class WaveOutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        old_device_ = getenv("CORVELLE_AUDIO_DEVICE") ? getenv("CORVELLE_AUDIO_DEVICE") : "";
        unsetenv("CORVELLE_TRACE");
    }
    void TearDown() override
    {
        setenv("CORVELLE_AUDIO_DEVICE", old_device_.c_str(), 1);
        unsetenv("CORVELLE_TRACE");
        for (auto& p : cleanup_)
            unlink(p.c_str());
    }
    std::string path(const char* name)
    {
        cleanup_.push_back(temp_path(name));
        return cleanup_.back();
    }
    // Opens the capture device, recording to the file `cap`, 16-bit stereo at 44.1 kHz with
    // l's callback; none when it does not open.
    HWAVEOUT open_capture(const std::string& cap, Listener& l)
    {
        setenv("CORVELLE_AUDIO_DEVICE", ("capture:" + cap).c_str(), 1);
        WAVEFORMATEX f = pcm_format(2, 16, 44100);
        HWAVEOUT h = nullptr;
        if (waveOutOpen(&h, 0, &f, (DWORD_PTR)Listener::proc, (DWORD_PTR)&l, CALLBACK_FUNCTION) !=
            MMSYSERR_NOERROR)
            return nullptr;
        return h;
    }
    std::string old_device_;
    std::vector<std::string> cleanup_;
};

}  // namespace

// The virtual device plays in order at the real rate, hands each header back on its own
// thread, records every byte it played, and traces the frames played after each buffer.
TEST_F(WaveOutTest, VirtualDeviceThreadPlaysInRealTimeAndCaptures)
{
    std::string cap = path("cap.wav"), trace = path("trace.txt");
    setenv("CORVELLE_AUDIO_DEVICE", ("capture:" + cap).c_str(), 1);
    setenv("CORVELLE_TRACE", trace.c_str(), 1);
    ASSERT_EQ(waveOutGetNumDevs(), 1u);

    Listener l;
    WAVEFORMATEX f = pcm_format(2, 16, 44100);
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, WAVE_MAPPER, &f, (DWORD_PTR)Listener::proc, (DWORD_PTR)&l,
                          CALLBACK_FUNCTION | WAVE_ALLOWSYNC),
              (MMRESULT)MMSYSERR_NOERROR);
    const size_t bytes = 4410 * 4;  // 100 ms each
    Buffers b(5, bytes, 1);
    double t0 = wall_us();
    for (auto& hd : b.hdr) {
        ASSERT_EQ(waveOutPrepareHeader(h, &hd, sizeof hd), (MMRESULT)MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(h, &hd, sizeof hd), (MMRESULT)MMSYSERR_NOERROR);
    }
    EXPECT_EQ(waveOutUnprepareHeader(h, &b.hdr[4], sizeof(WAVEHDR)), (MMRESULT)WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutWrite(h, &b.hdr[4], sizeof(WAVEHDR)), (MMRESULT)WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutClose(h), (MMRESULT)WAVERR_STILLPLAYING);
    ASSERT_TRUE(l.wait_done(5, 3000));
    double elapsed_ms = (wall_us() - t0) / 1000;
    EXPECT_GE(elapsed_ms, 480);  // 500 ms of audio, less the timer's grain
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(l.done[i], &b.hdr[i]);
        EXPECT_TRUE(b.hdr[i].dwFlags & WHDR_DONE);
        EXPECT_FALSE(b.hdr[i].dwFlags & WHDR_INQUEUE);
        EXPECT_EQ(waveOutUnprepareHeader(h, &b.hdr[i], sizeof(WAVEHDR)), (MMRESULT)MMSYSERR_NOERROR);
    }
    EXPECT_EQ(waveOutWrite(h, &b.hdr[0], sizeof(WAVEHDR)), (MMRESULT)WAVERR_UNPREPARED);
    ASSERT_EQ(waveOutClose(h), (MMRESULT)MMSYSERR_NOERROR);

    ASSERT_GE(l.messages.size(), 7u);
    EXPECT_EQ(l.messages.front(), (UINT)WOM_OPEN);
    EXPECT_EQ(l.messages.back(), (UINT)WOM_CLOSE);
    for (auto id : l.threads)
        EXPECT_NE(id, std::this_thread::get_id());

    std::vector<DeviceTraceLine> t = read_device_trace(trace);
    ASSERT_EQ(t.size(), 5u);
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(t[i].frames, 4410LL * (i + 1));
        // No buffer finishes before its last frame is due (a busy machine may make it late).
        EXPECT_GE(t[i].us - t0, 100000.0 * (i + 1) - 20000.0) << i;
    }

    std::vector<char> wav = read_file(cap);
    ASSERT_EQ(wav.size(), 44 + 5 * bytes);
    EXPECT_EQ(std::string(wav.data(), 4), "RIFF");
    EXPECT_EQ(le32(wav, 4), 36 + 5 * bytes);
    EXPECT_EQ(le32(wav, 24), 44100u);
    EXPECT_EQ(le32(wav, 40), 5 * bytes);
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(memcmp(wav.data() + 44 + i * bytes, b.data[i].data(), bytes), 0) << i;
}

// A reset stops at once and hands every queued header back; the recording keeps only what
// had been played.
TEST_F(WaveOutTest, ResetReturnsEveryHeaderAtOnce)
{
    std::string cap = path("reset.wav");
    Listener l;
    HWAVEOUT h = open_capture(cap, l);
    ASSERT_NE(h, nullptr);
    Buffers b(10, 44100 * 4 / 2, 2);  // 5 s in half seconds
    for (auto& hd : b.hdr) {
        waveOutPrepareHeader(h, &hd, sizeof hd);
        ASSERT_EQ(waveOutWrite(h, &hd, sizeof hd), (MMRESULT)MMSYSERR_NOERROR);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    double t0 = wall_us();
    ASSERT_EQ(waveOutReset(h), (MMRESULT)MMSYSERR_NOERROR);
    EXPECT_LT(wall_us() - t0, 2e6);  // 4.3 s were still queued: nothing was played out
    {
        std::lock_guard<std::mutex> g(l.m);
        ASSERT_EQ(l.done.size(), 10u);  // all back before waveOutReset returned
        for (int i = 0; i < 10; i++)
            EXPECT_EQ(l.done[i], &b.hdr[i]);
    }
    ASSERT_EQ(waveOutClose(h), (MMRESULT)MMSYSERR_NOERROR);
    std::vector<char> wav = read_file(cap);
    size_t data = wav.size() - 44;
    EXPECT_EQ(le32(wav, 40), data);
    EXPECT_EQ(data % 4, 0u);
    EXPECT_GE(data, (size_t)(0.6 * 44100 * 4));
    EXPECT_LE(data, (size_t)(0.9 * 44100 * 4));
    EXPECT_EQ(memcmp(wav.data() + 44, b.data[0].data(), b.data[0].size()), 0);
}

// A driver that closes and reopens the capture device between songs keeps one recording;
// a different format starts a new one. Buffers that split frames (24-bit stereo in 16384-byte
// pieces) arrive intact.
TEST_F(WaveOutTest, CaptureContinuesAcrossReopenAndKeepsSplitFrames)
{
    std::string cap = path("reopen.wav");
    setenv("CORVELLE_AUDIO_DEVICE", ("capture:" + cap).c_str(), 1);
    WAVEFORMATEX f = pcm_format(2, 24, 96000);
    std::vector<char> expect;
    for (int round = 0; round < 2; round++) {
        Listener l;
        HWAVEOUT h = nullptr;
        ASSERT_EQ(waveOutOpen(&h, 0, &f, (DWORD_PTR)Listener::proc, (DWORD_PTR)&l, CALLBACK_FUNCTION),
                  (MMRESULT)MMSYSERR_NOERROR);
        Buffers b(3, 16384, 10 + round);
        for (auto& hd : b.hdr) {
            waveOutPrepareHeader(h, &hd, sizeof hd);
            waveOutWrite(h, &hd, sizeof hd);
            expect.insert(expect.end(), hd.lpData, hd.lpData + hd.dwBufferLength);
        }
        ASSERT_TRUE(l.wait_done(3, 3000));
        ASSERT_EQ(waveOutClose(h), (MMRESULT)MMSYSERR_NOERROR);
    }
    std::vector<char> wav = read_file(cap);
    ASSERT_EQ(wav.size(), 44 + expect.size());
    EXPECT_EQ(le32(wav, 40), expect.size());
    EXPECT_EQ(memcmp(wav.data() + 44, expect.data(), expect.size()), 0);

    WAVEFORMATEX mono = pcm_format(1, 8, 8000);
    HWAVEOUT h = nullptr;
    Listener l;
    ASSERT_EQ(waveOutOpen(&h, 0, &mono, (DWORD_PTR)Listener::proc, (DWORD_PTR)&l, CALLBACK_FUNCTION),
              (MMRESULT)MMSYSERR_NOERROR);
    Buffers b(1, 80, 3);
    waveOutPrepareHeader(h, &b.hdr[0], sizeof(WAVEHDR));
    waveOutWrite(h, &b.hdr[0], sizeof(WAVEHDR));
    ASSERT_TRUE(l.wait_done(1, 2000));
    waveOutClose(h);
    wav = read_file(cap);
    ASSERT_EQ(wav.size(), 44u + 80u);
    EXPECT_EQ(le32(wav, 24), 8000u);
}

// Device choice and refusals: an unknown device name or an unwritable capture path gives no
// device; bad formats, flags and ids are refused with their codes.
TEST_F(WaveOutTest, RefusesWhatItCannotOpen)
{
    WAVEFORMATEX f = pcm_format(2, 16, 44100);
    HWAVEOUT h = nullptr;
    setenv("CORVELLE_AUDIO_DEVICE", "speaker", 1);
    EXPECT_EQ(waveOutGetNumDevs(), 0u);
    EXPECT_NE(waveOutOpen(&h, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL), (MMRESULT)MMSYSERR_NOERROR);

    setenv("CORVELLE_AUDIO_DEVICE", "capture:/nonexistent-dir/x.wav", 1);
    EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL), (MMRESULT)MMSYSERR_NODRIVER);

    setenv("CORVELLE_AUDIO_DEVICE", "alsa:no_such_pcm_here", 1);
    EXPECT_EQ(waveOutGetNumDevs(), 0u);
    EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL), (MMRESULT)MMSYSERR_NODRIVER);

    setenv("CORVELLE_AUDIO_DEVICE", "null", 1);
    EXPECT_EQ(waveOutGetNumDevs(), 1u);
    WAVEFORMATEX bad = f;
    bad.wBitsPerSample = 12;
    EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &bad, 0, 0, CALLBACK_NULL), (MMRESULT)WAVERR_BADFORMAT);
    bad = f;
    bad.nBlockAlign = 3;
    EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &bad, 0, 0, CALLBACK_NULL), (MMRESULT)WAVERR_BADFORMAT);
    EXPECT_EQ(waveOutOpen(&h, 5, &f, 0, 0, CALLBACK_NULL), (MMRESULT)MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveOutOpen(&h, 0, &f, 0, 0, 0x00050000), (MMRESULT)MMSYSERR_INVALFLAG);
    EXPECT_EQ(waveOutOpen(nullptr, 0, &f, 0, 0, WAVE_FORMAT_QUERY), (MMRESULT)MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(nullptr), (MMRESULT)MMSYSERR_INVALHANDLE);

    WAVEOUTCAPSA caps;
    ASSERT_EQ(waveOutGetDevCapsA(0, &caps, sizeof caps), (MMRESULT)MMSYSERR_NOERROR);
    EXPECT_STRNE(caps.szPname, "");
}

// The ALSA device opens, plays and closes on ALSA's "null" PCM, so its code runs without
// sound hardware; 8-bit mono and 24-bit stereo are accepted too.
TEST_F(WaveOutTest, AlsaNullPcmPlaysAndCloses)
{
    setenv("CORVELLE_AUDIO_DEVICE", "alsa:null", 1);
    ASSERT_EQ(waveOutGetNumDevs(), 1u);
    const int shapes[3][2] = {{2, 16}, {1, 8}, {2, 24}};
    for (auto& s : shapes) {
        Listener l;
        WAVEFORMATEX f = pcm_format(s[0], s[1], 44100);
        HWAVEOUT h = nullptr;
        ASSERT_EQ(waveOutOpen(&h, WAVE_MAPPER, &f, (DWORD_PTR)Listener::proc, (DWORD_PTR)&l,
                              CALLBACK_FUNCTION | WAVE_ALLOWSYNC),
                  (MMRESULT)MMSYSERR_NOERROR)
            << s[1];
        Buffers b(4, 16384, 5);
        for (auto& hd : b.hdr) {
            ASSERT_EQ(waveOutPrepareHeader(h, &hd, sizeof hd), (MMRESULT)MMSYSERR_NOERROR);
            ASSERT_EQ(waveOutWrite(h, &hd, sizeof hd), (MMRESULT)MMSYSERR_NOERROR);
        }
        ASSERT_TRUE(l.wait_done(4, 5000)) << s[1];
        for (int i = 0; i < 4; i++)
            EXPECT_EQ(l.done[i], &b.hdr[i]);
        EXPECT_EQ(waveOutReset(h), (MMRESULT)MMSYSERR_NOERROR);
        EXPECT_EQ(waveOutClose(h), (MMRESULT)MMSYSERR_NOERROR);
        EXPECT_EQ(l.messages.back(), (UINT)WOM_CLOSE);
    }
}

// Through ALSA's "file" PCM (over its null PCM) the ALSA device's output can be read back:
// 24-bit stereo in 16384-byte buffers splits frames across buffers, and every byte arrives
// in order.
TEST_F(WaveOutTest, AlsaFilePcmReceivesEveryByte)
{
    std::string raw = path("alsa.raw");
    setenv("CORVELLE_AUDIO_DEVICE", ("alsa:file:FILE=" + raw + ",FORMAT=raw").c_str(), 1);
    if (waveOutGetNumDevs() == 0)
        GTEST_SKIP() << "this ALSA has no file PCM";
    Listener l;
    WAVEFORMATEX f = pcm_format(2, 24, 44100);
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, WAVE_MAPPER, &f, (DWORD_PTR)Listener::proc, (DWORD_PTR)&l, CALLBACK_FUNCTION),
              (MMRESULT)MMSYSERR_NOERROR);
    Buffers b(5, 16384, 7);  // 81920 bytes: 13653 frames and 2 bytes
    for (auto& hd : b.hdr) {
        waveOutPrepareHeader(h, &hd, sizeof hd);
        ASSERT_EQ(waveOutWrite(h, &hd, sizeof hd), (MMRESULT)MMSYSERR_NOERROR);
    }
    ASSERT_TRUE(l.wait_done(5, 5000));
    ASSERT_EQ(waveOutClose(h), (MMRESULT)MMSYSERR_NOERROR);
    std::vector<char> got = read_file(raw);
    std::vector<char> want;
    for (auto& d : b.data)
        want.insert(want.end(), d.begin(), d.end());
    want.resize(want.size() - want.size() % 6);  // the last partial frame is never played
    ASSERT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
}

// A pause holds the queue where the device stands, in the middle of a header: nothing more is
// played or handed back until the restart, which plays on from that very byte, so the
// recording is every byte once, in order. A reset while paused hands the rest back and the
// device plays again what comes after.
TEST_F(WaveOutTest, PauseHoldsTheQueueAndRestartPlaysOnFromTheSameFrame)
{
    std::string cap = path("pause.wav");
    Listener l;
    HWAVEOUT h = open_capture(cap, l);
    ASSERT_NE(h, nullptr);
    const size_t bytes = 44100 * 4 / 5;  // 200 ms each
    Buffers b(4, bytes, 3);
    for (auto& hd : b.hdr) {
        waveOutPrepareHeader(h, &hd, sizeof hd);
        ASSERT_EQ(waveOutWrite(h, &hd, sizeof hd), (MMRESULT)MMSYSERR_NOERROR);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // in the second header
    ASSERT_EQ(waveOutPause(h), (MMRESULT)MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutPause(h), (MMRESULT)MMSYSERR_NOERROR);  // paused already: no change
    size_t held = read_file(cap).size();
    size_t done = 0;
    {
        std::lock_guard<std::mutex> g(l.m);
        done = l.done.size();
    }
    EXPECT_EQ(done, 1u);
    EXPECT_GT(held, 44 + bytes);
    EXPECT_LT(held, 44 + 2 * bytes);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(read_file(cap).size(), held);
    EXPECT_FALSE(l.wait_done(2, 0));
    ASSERT_EQ(waveOutRestart(h), (MMRESULT)MMSYSERR_NOERROR);
    ASSERT_TRUE(l.wait_done(4, 3000));
    std::vector<char> wav = read_file(cap);
    ASSERT_EQ(wav.size(), 44 + 4 * bytes);
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(memcmp(wav.data() + 44 + i * bytes, b.data[i].data(), bytes), 0) << i;

    Buffers c(3, bytes, 4);
    for (auto& hd : c.hdr) {
        waveOutPrepareHeader(h, &hd, sizeof hd);
        waveOutWrite(h, &hd, sizeof hd);
    }
    ASSERT_EQ(waveOutPause(h), (MMRESULT)MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutReset(h), (MMRESULT)MMSYSERR_NOERROR);
    EXPECT_TRUE(l.wait_done(7, 0));
    Buffers d(1, bytes, 5);
    waveOutPrepareHeader(h, &d.hdr[0], sizeof(WAVEHDR));
    waveOutWrite(h, &d.hdr[0], sizeof(WAVEHDR));
    EXPECT_TRUE(l.wait_done(8, 2000)) << "a reset device stayed paused";
    EXPECT_EQ(waveOutPause(nullptr), (MMRESULT)MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutRestart(nullptr), (MMRESULT)MMSYSERR_INVALHANDLE);
    ASSERT_EQ(waveOutClose(h), (MMRESULT)MMSYSERR_NOERROR);
}
