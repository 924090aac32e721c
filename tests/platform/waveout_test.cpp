#include <gtest/gtest.h>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include "platform/waveout.h"
#include "support/capture.h"
#include "support/device_trace.h"
#include "support/guards.h"
#include "support/sound_ending.h"
#include "support/tempdir.h"

namespace {

const MMRESULT OK = MMSYSERR_NOERROR;

// What the device told its client, in order. With hold_first, the callback that hands back the
// first header returns only once `released` is set.
struct Listener {
    std::mutex m;
    std::condition_variable cv;
    std::vector<UINT> messages;
    std::vector<WAVEHDR*> done;
    std::thread::id caller = std::this_thread::get_id();
    int on_caller_thread = 0;
    bool hold_first = false, released = false;

    static void proc(HWAVEOUT, UINT msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR)
    {
        Listener* l = reinterpret_cast<Listener*>(instance);
        std::unique_lock<std::mutex> g(l->m);
        l->messages.push_back(msg);
        l->on_caller_thread += std::this_thread::get_id() == l->caller;
        if (msg == WOM_DONE)
            l->done.push_back(reinterpret_cast<WAVEHDR*>(p1));
        l->cv.notify_all();
        if (msg == WOM_DONE && l->hold_first && l->done.size() == 1)
            l->cv.wait(g, [l] { return l->released; });
    }
    bool wait_done(size_t n, int ms = 10000)
    {
        std::unique_lock<std::mutex> h(m);
        return cv.wait_for(h, std::chrono::milliseconds(ms), [&] { return done.size() >= n; });
    }
    size_t done_count()
    {
        std::lock_guard<std::mutex> g(m);
        return done.size();
    }
};

WAVEFORMATEX pcm_format(int channels, int bits, int rate)
{
    WORD align = (WORD)(channels * bits / 8);
    return {WAVE_FORMAT_PCM, (WORD)channels, (DWORD)rate, (DWORD)rate * align, align, (WORD)bits, 0};
}

uint32_t le32(const std::string& b, size_t at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; i--)
        v = v << 8 | (unsigned char)b[at + i];
    return v;
}

// Headers over consecutive pieces of one pattern of bytes.
struct Buffers {
    std::string all;
    std::vector<WAVEHDR> hdr;
    Buffers(int count, size_t bytes, int seed) : all(count * bytes, '\0'), hdr(count)
    {
        for (size_t k = 0; k < all.size(); k++)
            all[k] = (char)((k % bytes * 7 + k / bytes * 31 + seed) & 0xFF);
        for (int i = 0; i < count; i++) {
            hdr[i] = WAVEHDR{};
            hdr[i].lpData = &all[i * bytes];
            hdr[i].dwBufferLength = (DWORD)bytes;
        }
    }
    // Prepares and writes every header to the device.
    void queue(HWAVEOUT h)
    {
        for (WAVEHDR& hd : hdr) {
            ASSERT_EQ(waveOutPrepareHeader(h, &hd, sizeof hd), OK);
            ASSERT_EQ(waveOutWrite(h, &hd, sizeof hd), OK);
        }
    }
};

class WaveOutTest : public ::testing::Test {
protected:
    ScopedEnv device_{"CORVELLE_AUDIO_DEVICE", "null"}, trace_{"CORVELLE_TRACE", nullptr},
        debug_{"CORVELLE_DEBUG", nullptr};
    // Opens the device CORVELLE_AUDIO_DEVICE names with l's callback; none when it does not open.
    HWAVEOUT open(Listener& l, int channels = 2, int bits = 16, int rate = 44100,
                  DWORD flags = CALLBACK_FUNCTION, UINT id = 0)
    {
        WAVEFORMATEX f = pcm_format(channels, bits, rate);
        HWAVEOUT h = nullptr;
        MMRESULT opened = waveOutOpen(&h, id, &f, (DWORD_PTR)Listener::proc, (DWORD_PTR)&l, flags);
        return opened == OK ? h : nullptr;
    }
    // Plays `count` buffers through a device of that format, which must hand each back in
    // order and close with WOM_CLOSE last; returns the bytes it was given.
    std::string play_through(int channels, int bits, int rate, int count, size_t bytes, int seed)
    {
        Listener l;
        HWAVEOUT h = open(l, channels, bits, rate, CALLBACK_FUNCTION | WAVE_ALLOWSYNC, WAVE_MAPPER);
        EXPECT_NE(h, nullptr) << bits << " bits";
        if (h == nullptr)
            return "";
        Buffers b(count, bytes, seed);
        b.queue(h);
        EXPECT_TRUE(l.wait_done(count));
        for (size_t i = 0; i < l.done.size(); i++)
            EXPECT_EQ(l.done[i], &b.hdr[i]);
        EXPECT_EQ(waveOutReset(h), OK);
        EXPECT_EQ(waveOutClose(h), OK);
        EXPECT_EQ(l.messages.back(), (UINT)WOM_CLOSE);
        return b.all;
    }
    TempDir dir;
};

}  // namespace

// The virtual device plays in order at the real rate, hands each header back on its own
// thread, records every byte it played, and traces the frames played after each buffer.
// Closed and opened again in the same format (a driver between songs) it goes on with the same
// recording; in another format, or when the file changed meanwhile, it starts a new one.
// Buffers that split frames arrive intact.
TEST_F(WaveOutTest, VirtualDeviceThreadPlaysInRealTimeAndCaptures)
{
    std::string cap = dir.file("cap.wav"), trace = dir.file("trace.txt");
    setenv("CORVELLE_AUDIO_DEVICE", ("capture:" + cap).c_str(), 1);
    setenv("CORVELLE_TRACE", trace.c_str(), 1);
    ASSERT_EQ(waveOutGetNumDevs(), 1u);
    Listener l;
    HWAVEOUT h = open(l, 2, 16, 44100, CALLBACK_FUNCTION | WAVE_ALLOWSYNC, WAVE_MAPPER);
    ASSERT_NE(h, nullptr);
    const size_t bytes = 4410 * 4;  // 100 ms each
    Buffers b(5, bytes, 1);
    double t0 = wall_us();
    b.queue(h);
    EXPECT_EQ(waveOutUnprepareHeader(h, &b.hdr[4], sizeof(WAVEHDR)), (MMRESULT)WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutWrite(h, &b.hdr[4], sizeof(WAVEHDR)), (MMRESULT)WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutClose(h), (MMRESULT)WAVERR_STILLPLAYING);
    ASSERT_TRUE(l.wait_done(5));
    EXPECT_GE((wall_us() - t0) / 1000, 480);  // 500 ms of audio, less the timer's grain
    std::vector<DeviceTraceLine> t = read_device_trace(trace);
    ASSERT_EQ(t.size(), 5u);
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(l.done[i], &b.hdr[i]);
        EXPECT_EQ(b.hdr[i].dwFlags & (WHDR_DONE | WHDR_INQUEUE), (DWORD)WHDR_DONE);
        EXPECT_EQ(waveOutUnprepareHeader(h, &b.hdr[i], sizeof(WAVEHDR)), OK);
        EXPECT_EQ(t[i].frames, 4410LL * (i + 1));
        // No buffer finishes before its last frame is due (a busy machine may make it late).
        EXPECT_GE(t[i].us - t0, 100000.0 * (i + 1) - 20000.0) << i;
    }
    EXPECT_EQ(waveOutWrite(h, &b.hdr[0], sizeof(WAVEHDR)), (MMRESULT)WAVERR_UNPREPARED);
    ASSERT_EQ(waveOutClose(h), OK);
    ASSERT_GE(l.messages.size(), 7u);
    EXPECT_EQ(l.messages.front(), (UINT)WOM_OPEN);
    EXPECT_EQ(l.messages.back(), (UINT)WOM_CLOSE);
    EXPECT_EQ(l.on_caller_thread, 0);

    std::string wav = read_whole_file(cap);
    ASSERT_EQ(wav.size(), 44 + 5 * bytes);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ((std::vector<uint32_t>{le32(wav, 4), le32(wav, 24), le32(wav, 40)}),
              (std::vector<uint32_t>{36 + 5 * bytes, 44100, 5 * bytes}));
    EXPECT_EQ(wav.substr(44), b.all);

    std::string more = b.all + play_through(2, 16, 44100, 2, 16382, 10);  // 8191 frames
    wav = read_whole_file(cap);
    EXPECT_EQ(le32(wav, 40), more.size());
    EXPECT_EQ(wav.substr(44), more);
    more = play_through(2, 24, 96000, 3, 16384, 11);
    wav = read_whole_file(cap);
    EXPECT_EQ(le32(wav, 24), 96000u);
    EXPECT_EQ(wav.substr(44), more);
    std::ofstream(cap) << "not a recording";  // changed since: not continued
    more = play_through(2, 24, 96000, 1, 600, 12);
    EXPECT_EQ(read_whole_file(cap).substr(44), more);
}

// Device choice and refusals: an unknown device name or an unwritable capture path gives no
// device; bad formats, flags and ids are refused with their codes.
TEST_F(WaveOutTest, RefusesWhatItCannotOpen)
{
    WAVEFORMATEX f = pcm_format(2, 16, 44100), bits = f, align = f;
    bits.wBitsPerSample = 12;
    align.nBlockAlign = 3;
    HWAVEOUT h = nullptr;
    auto open_on = [&](const char* device, UINT devices, const WAVEFORMATEX& format,
                       UINT id = WAVE_MAPPER, DWORD flags = CALLBACK_NULL) {
        setenv("CORVELLE_AUDIO_DEVICE", device, 1);
        EXPECT_EQ(waveOutGetNumDevs(), devices) << device;
        return waveOutOpen(&h, id, &format, 0, 0, flags);
    };
    EXPECT_EQ(open_on("speaker", 0, f), (MMRESULT)MMSYSERR_NODRIVER);
    EXPECT_EQ(open_on("capture:/nonexistent-dir/x.wav", 1, f), (MMRESULT)MMSYSERR_NODRIVER);
    EXPECT_EQ(open_on("alsa:no_such_pcm_here", 0, f), (MMRESULT)MMSYSERR_NODRIVER);
    EXPECT_EQ(open_on("null", 1, bits), (MMRESULT)WAVERR_BADFORMAT);
    EXPECT_EQ(open_on("null", 1, align), (MMRESULT)WAVERR_BADFORMAT);
    for (int rate : {999, 1000, 384000, 384001}) {  // rates from 1000 to 384000 Hz
        WAVEFORMATEX r = pcm_format(2, 16, rate);
        EXPECT_EQ(waveOutOpen(nullptr, 0, &r, 0, 0, WAVE_FORMAT_QUERY),
                  rate % 1000 ? (MMRESULT)WAVERR_BADFORMAT : OK) << rate;
    }
    EXPECT_EQ(open_on("null", 1, f, 5), (MMRESULT)MMSYSERR_BADDEVICEID);
    EXPECT_EQ(open_on("null", 1, f, 0, 0x00050000), (MMRESULT)MMSYSERR_INVALFLAG);
    EXPECT_EQ(waveOutOpen(nullptr, 0, &f, 0, 0, WAVE_FORMAT_QUERY), OK);
    EXPECT_EQ(waveOutClose(nullptr), (MMRESULT)MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutPause(nullptr), (MMRESULT)MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutRestart(nullptr), (MMRESULT)MMSYSERR_INVALHANDLE);
    // A trace file that cannot be opened is told only with CORVELLE_DEBUG set; the device
    // opens all the same and gives its id.
    setenv("CORVELLE_TRACE", "/nonexistent-dir/t.txt", 1);
    for (const char* debug : {"", "1"}) {
        setenv("CORVELLE_DEBUG", debug, 1);
        MMRESULT opened = OK;
        std::string err = stderr_of([&] { opened = waveOutOpen(&h, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL); });
        ASSERT_EQ(opened, OK) << err;
        EXPECT_EQ(err.find("cannot open trace file") != std::string::npos, *debug != '\0') << err;
        UINT id = 77;
        EXPECT_EQ(waveOutGetID(h, &id), OK);
        EXPECT_EQ(id, 0u);
        EXPECT_EQ(waveOutClose(h), OK);
    }
    WAVEOUTCAPSA caps;
    ASSERT_EQ(waveOutGetDevCapsA(0, &caps, sizeof caps), OK);
    EXPECT_STRNE(caps.szPname, "");
}

// The ALSA device on ALSA's "null" PCM runs its code without sound hardware (8-bit mono and
// 24-bit stereo too); through its "file" PCM its output is read back: 24-bit stereo in
// 16384-byte buffers splits frames across buffers, and every byte arrives in order.
TEST_F(WaveOutTest, AlsaDevicePlaysEveryByteAndCloses)
{
    setenv("CORVELLE_AUDIO_DEVICE", "alsa:null", 1);
    ASSERT_EQ(waveOutGetNumDevs(), 1u);
    for (int bits : {16, 8, 24})
        play_through(bits == 8 ? 1 : 2, bits, 44100, 4, 16384, 5);
    std::string raw = dir.file("alsa.raw");
    setenv("CORVELLE_AUDIO_DEVICE", ("alsa:file:FILE=" + raw + ",FORMAT=raw").c_str(), 1);
    if (waveOutGetNumDevs() == 0)
        GTEST_SKIP() << "this ALSA has no file PCM";
    std::string want = play_through(2, 24, 44100, 5, 16384, 7);  // 13653 frames and 2 bytes
    want.resize(want.size() - want.size() % 6);  // the last partial frame is never played
    EXPECT_EQ(read_whole_file(raw), want);
}

// A pause holds the queue in the middle of a header: nothing more is played or handed back
// until the restart, which plays on from that very byte. A reset hands every queued header
// back before it returns and the recording keeps only what had been played; a reset while
// paused leaves the device playing what comes after.
TEST_F(WaveOutTest, PauseHoldsTheQueueAndResetHandsEveryHeaderBack)
{
    std::string cap = dir.file("pause.wav");
    setenv("CORVELLE_AUDIO_DEVICE", ("capture:" + cap).c_str(), 1);
    Listener l;
    HWAVEOUT h = open(l);
    ASSERT_NE(h, nullptr);
    const size_t bytes = 44100 * 4 / 5;  // 200 ms each
    Buffers b(4, bytes, 3);
    b.queue(h);
    ASSERT_TRUE(l.wait_done(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // into a later header
    ASSERT_EQ(waveOutPause(h), OK);
    EXPECT_EQ(waveOutPause(h), OK);  // paused already: no change
    size_t held = read_whole_file(cap).size();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(read_whole_file(cap).size(), held);
    // Handed back: only the headers recorded whole; the one in play was cut short.
    size_t done = l.done_count();
    ASSERT_LT(done, 4u);
    EXPECT_GT(held, 44 + done * bytes);
    EXPECT_LT(held, 44 + (done + 1) * bytes);
    ASSERT_EQ(waveOutRestart(h), OK);
    ASSERT_TRUE(l.wait_done(4));
    EXPECT_EQ(read_whole_file(cap).substr(44), b.all);

    Buffers c(10, bytes, 4), d(1, bytes, 5), e(1, bytes, 6);
    c.queue(h);
    ASSERT_TRUE(l.wait_done(5));
    ASSERT_EQ(waveOutReset(h), OK);  // 1.8 s still queued
    {
        std::lock_guard<std::mutex> g(l.m);
        ASSERT_EQ(l.done.size(), 14u);
        for (int i = 0; i < 10; i++)
            EXPECT_EQ(l.done[4 + i], &c.hdr[i]);
    }
    std::string wav = read_whole_file(cap);
    size_t data = wav.size() - 44;
    EXPECT_EQ(le32(wav, 40), data);
    EXPECT_EQ(data % 4, 0u);
    EXPECT_GE(data, 5 * bytes);
    EXPECT_LT(data, 14 * bytes);
    EXPECT_EQ(wav.substr(44, 5 * bytes), b.all + c.all.substr(0, bytes));
    d.queue(h);
    ASSERT_EQ(waveOutPause(h), OK);
    ASSERT_EQ(waveOutReset(h), OK);
    EXPECT_TRUE(l.wait_done(15, 0));
    e.queue(h);
    EXPECT_TRUE(l.wait_done(16)) << "a reset device stayed paused";
    ASSERT_EQ(waveOutClose(h), OK);
}

// A reset (a stop, a seek) while the device sounds fades out over a few milliseconds what
// would have come next instead of cutting it, in every sample format: the recording ends at
// silence without a jump, and the rest of the queue is dropped.
TEST_F(WaveOutTest, ResetFadesOutWhatWasSounding)
{
    for (int bits : {8, 16, 24}) {
        SCOPED_TRACE(bits);
        std::string cap = dir.file("fade" + std::to_string(bits) + ".wav");
        setenv("CORVELLE_AUDIO_DEVICE", ("capture:" + cap).c_str(), 1);
        Listener l;
        HWAVEOUT h = open(l, 1, bits, 44100);
        ASSERT_NE(h, nullptr);
        const int bytes = bits / 8, frames = 44100 / 2;  // half a second at 0.6 full scale
        Buffers tone(1, (size_t)(frames * bytes), 0);
        for (size_t i = 0; i < tone.all.size(); i++)
            tone.all[i] = bits == 8 ? (char)(128 + 77) : (char)(i % bytes == (size_t)bytes - 1 ? 0x4D : 0);
        ASSERT_NO_FATAL_FAILURE(tone.queue(h));
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        ASSERT_EQ(waveOutReset(h), OK);
        ASSERT_EQ(waveOutClose(h), OK);
        std::string wav = read_whole_file(cap).substr(44);
        std::vector<float> heard(wav.size() / (size_t)bytes);
        for (size_t i = 0; i < heard.size(); i++) {
            const unsigned char* p = (const unsigned char*)&wav[i * (size_t)bytes];
            heard[i] = bits == 8 ? (p[0] - 128) / 128.0f : (float)(signed char)p[bytes - 1] / 128.0f;
        }
        ASSERT_GT(heard.size(), 44100u / 10);
        EXPECT_LT(heard.size(), (size_t)frames * 2 / 3) << "the queue played on after the reset";
        SoundEnding e = sound_ending(heard, 44100 / 20);
        EXPECT_GT(e.loudest, 0.5);
        EXPECT_LT(e.last, 0.01);
        EXPECT_LT(e.steepest, 0.01) << "the sound was cut";
    }
}

// A pause that falls between two headers (here: while the first one is being handed back)
// holds the device's clock too: the next header takes its whole length after the restart
// instead of being owed the paused time and played at once.
TEST_F(WaveOutTest, PauseBetweenHeadersHoldsTheDeviceClock)
{
    Listener l;
    l.hold_first = true;
    HWAVEOUT h = open(l);
    ASSERT_NE(h, nullptr);
    Buffers b(2, 44100 * 4 / 5, 7);  // 200 ms each
    b.queue(h);
    ASSERT_TRUE(l.wait_done(1));
    ASSERT_EQ(waveOutPause(h), OK);
    {
        std::lock_guard<std::mutex> g(l.m);
        l.released = true;
        l.cv.notify_all();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    auto restarted = std::chrono::steady_clock::now();
    ASSERT_EQ(waveOutRestart(h), OK);
    ASSERT_TRUE(l.wait_done(2));
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - restarted).count();
    EXPECT_GE(ms, 199.0) << "the second header played before its time";
    ASSERT_EQ(waveOutClose(h), OK);
}
