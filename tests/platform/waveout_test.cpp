#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/waveout.h"
#include "support/device_trace.h"
#include "support/tempdir.h"

namespace {

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

uint32_t le32(const std::string& b, size_t at)
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
    // Prepares and writes every header to the device.
    void queue(HWAVEOUT h)
    {
        for (WAVEHDR& hd : hdr) {
            ASSERT_EQ(waveOutPrepareHeader(h, &hd, sizeof hd), (MMRESULT)MMSYSERR_NOERROR);
            ASSERT_EQ(waveOutWrite(h, &hd, sizeof hd), (MMRESULT)MMSYSERR_NOERROR);
        }
    }
    std::string bytes() const
    {
        std::string all;
        for (const auto& d : data)
            all.append(d.begin(), d.end());
        return all;
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
    }
    std::string path(const char* name) { return dir_.file(name); }
    // Opens the device CORVELLE_AUDIO_DEVICE names (`device`, when given) with l's callback;
    // none when it does not open.
    HWAVEOUT open(Listener& l, const std::string& device = "", int channels = 2, int bits = 16,
                  int rate = 44100, DWORD flags = CALLBACK_FUNCTION, UINT id = 0)
    {
        if (!device.empty())
            setenv("CORVELLE_AUDIO_DEVICE", device.c_str(), 1);
        WAVEFORMATEX f = pcm_format(channels, bits, rate);
        HWAVEOUT h = nullptr;
        if (waveOutOpen(&h, id, &f, (DWORD_PTR)Listener::proc, (DWORD_PTR)&l, flags) !=
            MMSYSERR_NOERROR)
            return nullptr;
        return h;
    }
    std::string old_device_;
    TempDir dir_;
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
    HWAVEOUT h = open(l, "", 2, 16, 44100, CALLBACK_FUNCTION | WAVE_ALLOWSYNC, WAVE_MAPPER);
    ASSERT_NE(h, nullptr);
    const size_t bytes = 4410 * 4;  // 100 ms each
    Buffers b(5, bytes, 1);
    double t0 = wall_us();
    b.queue(h);
    EXPECT_EQ(waveOutUnprepareHeader(h, &b.hdr[4], sizeof(WAVEHDR)), (MMRESULT)WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutWrite(h, &b.hdr[4], sizeof(WAVEHDR)), (MMRESULT)WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutClose(h), (MMRESULT)WAVERR_STILLPLAYING);
    ASSERT_TRUE(l.wait_done(5, 3000));
    EXPECT_GE((wall_us() - t0) / 1000, 480);  // 500 ms of audio, less the timer's grain
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

    std::string wav = read_whole_file(cap);
    ASSERT_EQ(wav.size(), 44 + 5 * bytes);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(le32(wav, 4), 36 + 5 * bytes);
    EXPECT_EQ(le32(wav, 24), 44100u);
    EXPECT_EQ(le32(wav, 40), 5 * bytes);
    EXPECT_EQ(wav.substr(44), b.bytes());
}

// A reset stops at once and hands every queued header back; the recording keeps only what
// had been played.
TEST_F(WaveOutTest, ResetReturnsEveryHeaderAtOnce)
{
    std::string cap = path("reset.wav");
    Listener l;
    HWAVEOUT h = open(l, "capture:" + cap);
    ASSERT_NE(h, nullptr);
    Buffers b(10, 44100 * 4 / 2, 2);  // 5 s in half seconds
    b.queue(h);
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
    std::string wav = read_whole_file(cap);
    size_t data = wav.size() - 44;
    EXPECT_EQ(le32(wav, 40), data);
    EXPECT_EQ(data % 4, 0u);
    EXPECT_GE(data, (size_t)(0.6 * 44100 * 4));
    EXPECT_LE(data, (size_t)(0.9 * 44100 * 4));
    EXPECT_EQ(wav.substr(44, b.data[0].size()), b.bytes().substr(0, b.data[0].size()));
}

// A driver that closes and reopens the capture device between songs keeps one recording;
// a different format starts a new one. Buffers that split frames (24-bit stereo in 16384-byte
// pieces) arrive intact.
TEST_F(WaveOutTest, CaptureContinuesAcrossReopenAndKeepsSplitFrames)
{
    std::string cap = path("reopen.wav");
    setenv("CORVELLE_AUDIO_DEVICE", ("capture:" + cap).c_str(), 1);
    std::string expect;
    for (int round = 0; round < 2; round++) {
        Listener l;
        HWAVEOUT h = open(l, "", 2, 24, 96000);
        ASSERT_NE(h, nullptr);
        Buffers b(3, 16384, 10 + round);
        b.queue(h);
        expect += b.bytes();
        ASSERT_TRUE(l.wait_done(3, 3000));
        ASSERT_EQ(waveOutClose(h), (MMRESULT)MMSYSERR_NOERROR);
    }
    std::string wav = read_whole_file(cap);
    EXPECT_EQ(le32(wav, 40), expect.size());
    EXPECT_EQ(wav.substr(44), expect);

    Listener l;
    HWAVEOUT h = open(l, "", 1, 8, 8000);
    ASSERT_NE(h, nullptr);
    Buffers b(1, 80, 3);
    b.queue(h);
    ASSERT_TRUE(l.wait_done(1, 2000));
    waveOutClose(h);
    wav = read_whole_file(cap);
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
    // A trace file that cannot be opened is told only with CORVELLE_DEBUG set; the device
    // opens all the same and gives its id.
    setenv("CORVELLE_TRACE", "/nonexistent-dir/t.txt", 1);
    for (const char* debug : {"", "1"}) {
        setenv("CORVELLE_DEBUG", debug, 1);
        testing::internal::CaptureStderr();
        ASSERT_EQ(waveOutOpen(&h, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL), (MMRESULT)MMSYSERR_NOERROR);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.find("cannot open trace file") != std::string::npos, *debug != '\0') << err;
        UINT id = 77;
        EXPECT_EQ(waveOutGetID(h, &id), (MMRESULT)MMSYSERR_NOERROR);
        EXPECT_EQ(id, 0u);
        EXPECT_EQ(waveOutClose(h), (MMRESULT)MMSYSERR_NOERROR);
    }
    unsetenv("CORVELLE_DEBUG");

    WAVEOUTCAPSA caps;
    ASSERT_EQ(waveOutGetDevCapsA(0, &caps, sizeof caps), (MMRESULT)MMSYSERR_NOERROR);
    EXPECT_STRNE(caps.szPname, "");
}

// The ALSA device on ALSA's "null" PCM runs its code without sound hardware (8-bit mono and
// 24-bit stereo too); through its "file" PCM its output is read back: 24-bit stereo in
// 16384-byte buffers splits frames across buffers, and every byte arrives in order.
TEST_F(WaveOutTest, AlsaDevicePlaysEveryByteAndCloses)
{
    setenv("CORVELLE_AUDIO_DEVICE", "alsa:null", 1);
    ASSERT_EQ(waveOutGetNumDevs(), 1u);
    const int shapes[3][2] = {{2, 16}, {1, 8}, {2, 24}};
    for (auto& s : shapes) {
        Listener l;
        HWAVEOUT h = open(l, "", s[0], s[1], 44100, CALLBACK_FUNCTION | WAVE_ALLOWSYNC,
                          WAVE_MAPPER);
        ASSERT_NE(h, nullptr) << s[1];
        Buffers b(4, 16384, 5);
        b.queue(h);
        ASSERT_TRUE(l.wait_done(4, 5000)) << s[1];
        for (int i = 0; i < 4; i++)
            EXPECT_EQ(l.done[i], &b.hdr[i]);
        EXPECT_EQ(waveOutReset(h), (MMRESULT)MMSYSERR_NOERROR);
        EXPECT_EQ(waveOutClose(h), (MMRESULT)MMSYSERR_NOERROR);
        EXPECT_EQ(l.messages.back(), (UINT)WOM_CLOSE);
    }

    std::string raw = path("alsa.raw");
    setenv("CORVELLE_AUDIO_DEVICE", ("alsa:file:FILE=" + raw + ",FORMAT=raw").c_str(), 1);
    if (waveOutGetNumDevs() == 0)
        GTEST_SKIP() << "this ALSA has no file PCM";
    Listener l;
    HWAVEOUT h = open(l, "", 2, 24, 44100);
    ASSERT_NE(h, nullptr);
    Buffers b(5, 16384, 7);  // 81920 bytes: 13653 frames and 2 bytes
    b.queue(h);
    ASSERT_TRUE(l.wait_done(5, 5000));
    ASSERT_EQ(waveOutClose(h), (MMRESULT)MMSYSERR_NOERROR);
    std::string want = b.bytes();
    want.resize(want.size() - want.size() % 6);  // the last partial frame is never played
    EXPECT_EQ(read_whole_file(raw), want);
}

// A pause holds the queue where the device stands, in the middle of a header: nothing more is
// played or handed back until the restart, which plays on from that very byte, so the
// recording is every byte once, in order. A reset while paused hands the rest back and the
// device plays again what comes after.
TEST_F(WaveOutTest, PauseHoldsTheQueueAndRestartPlaysOnFromTheSameFrame)
{
    std::string cap = path("pause.wav");
    Listener l;
    HWAVEOUT h = open(l, "capture:" + cap);
    ASSERT_NE(h, nullptr);
    const size_t bytes = 44100 * 4 / 5;  // 200 ms each
    Buffers b(4, bytes, 3);
    b.queue(h);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // in the second header
    ASSERT_EQ(waveOutPause(h), (MMRESULT)MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutPause(h), (MMRESULT)MMSYSERR_NOERROR);  // paused already: no change
    size_t held = read_whole_file(cap).size();
    {
        std::lock_guard<std::mutex> g(l.m);
        EXPECT_EQ(l.done.size(), 1u);
    }
    EXPECT_GT(held, 44 + bytes);
    EXPECT_LT(held, 44 + 2 * bytes);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(read_whole_file(cap).size(), held);
    EXPECT_FALSE(l.wait_done(2, 0));
    ASSERT_EQ(waveOutRestart(h), (MMRESULT)MMSYSERR_NOERROR);
    ASSERT_TRUE(l.wait_done(4, 3000));
    EXPECT_EQ(read_whole_file(cap).substr(44), b.bytes());

    Buffers c(3, bytes, 4), d(1, bytes, 5);
    c.queue(h);
    ASSERT_EQ(waveOutPause(h), (MMRESULT)MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutReset(h), (MMRESULT)MMSYSERR_NOERROR);
    EXPECT_TRUE(l.wait_done(7, 0));
    d.queue(h);
    EXPECT_TRUE(l.wait_done(8, 2000)) << "a reset device stayed paused";
    EXPECT_EQ(waveOutPause(nullptr), (MMRESULT)MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutRestart(nullptr), (MMRESULT)MMSYSERR_INVALHANDLE);
    ASSERT_EQ(waveOutClose(h), (MMRESULT)MMSYSERR_NOERROR);
}
