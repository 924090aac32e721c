#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "frontend/controls.h"
#include "output/audio_files.h"
#include "output/output.h"
#include "readmidi/event.h"
#include "support/tempdir.h"

namespace {

bool have_sox()
{
    return system("command -v sox >/dev/null 2>&1 && command -v soxi >/dev/null 2>&1") == 0;
}

std::string run(const std::string& cmd)
{
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr)
        return out;
    char buf[256];
    while (fgets(buf, sizeof buf, p) != nullptr)
        out += buf;
    pclose(p);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

// A signal using all 24 bits: x >> 5 is the 24-bit sample, x >> 13 the 16-bit one.
int32 sample(int32 frame, int ch)
{
    uint32 v = ((uint32)frame * 40503u + (uint32)ch * 1234567u) % 0x1000000u;
    return (int32)(v << 5) - (1 << 28);
}

std::vector<int32> signal_block(int32 first, int32 frames, bool mono)
{
    std::vector<int32> b;
    for (int32 i = 0; i < frames; i++) {
        b.push_back(sample(first + i, 0));
        if (!mono)
            b.push_back(sample(first + i, 1));
    }
    return b;
}

// Restores every mode record a test changes.
class FileWriterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (PlayMode** m = play_mode_list; *m != nullptr; m++)
            saved_.push_back(**m);
    }
    void TearDown() override
    {
        size_t i = 0;
        for (PlayMode** m = play_mode_list; *m != nullptr; m++)
            **m = saved_[i++];
        play_mode = nullptr;
    }

    // Opens mode on name, writes frames of the signal in blocks, closes; the encoding given
    // is the one asked for (the writer may change it).
    void write_signal(PlayMode* mode, const std::string& name, int32 enc, int32 rate, int32 frames)
    {
        names_.push_back(name);
        mode->name = names_.back().c_str();
        mode->encoding = enc;
        mode->rate = rate;
        play_mode = mode;
        ASSERT_EQ(mode->open_output(), 0) << name;
        bool mono = (mode->encoding & PE_MONO) != 0;
        for (int32 at = 0; at < frames; at += 4096) {
            int32 n = frames - at < 4096 ? frames - at : 4096;
            std::vector<int32> b = signal_block(at, n, mono);
            int32 bytes = general_output_convert(b.data(), n);
            ASSERT_EQ(mode->output_data(reinterpret_cast<char*>(b.data()), bytes), 0);
        }
        mode->close_output();
        EXPECT_EQ(mode->fd, -1);
    }

    std::vector<PlayMode> saved_;
    std::vector<std::string> names_;
};

struct Case {
    PlayMode* mode;
    const char* ext;
    int32 enc;
    int32 rate;
    const char* sox_encoding;  // as soxi names it
    int bits;
    int channels;
};

// Runs f in a child with standard error going to a file; returns the exit status and sets
// *err to what it printed.
template <typename F>
int in_child(const std::string& err_file, std::string* err, F f)
{
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 2);
        close(fd);
        _exit(f());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    *err = read_whole_file(err_file);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

}  // namespace

// Every writer and encoding, read back by sox: the header's rate, channels, encoding and
// length, and every sample (exactly for linear encodings, within the law's step for G.711).
TEST_F(FileWriterTest, SoxReadsWhatEachWriterWrote)
{
    if (!have_sox())
        GTEST_SKIP() << "sox is not installed";
    TempDir dir;
    const int32 frames = 10001;  // odd, so AIFF needs its pad byte at 8-bit mono
    const Case cases[] = {
        {&wave_play_mode, "wav", PE_16BIT | PE_SIGNED, 44100, "Signed Integer PCM", 16, 2},
        {&wave_play_mode, "wav", PE_MONO, 22050, "Unsigned Integer PCM", 8, 1},
        {&wave_play_mode, "wav", PE_24BIT | PE_SIGNED, 48000, "Signed Integer PCM", 24, 2},
        {&wave_play_mode, "wav", PE_ULAW | PE_MONO, 8000, "u-law", 8, 1},
        {&wave_play_mode, "wav", PE_ALAW, 8000, "A-law", 8, 2},
        {&au_play_mode, "au", PE_16BIT | PE_SIGNED, 44100, "Signed Integer PCM", 16, 2},
        {&au_play_mode, "au", PE_MONO, 11025, "Signed Integer PCM", 8, 1},
        {&au_play_mode, "au", PE_24BIT | PE_SIGNED | PE_MONO, 96000, "Signed Integer PCM", 24, 1},
        {&au_play_mode, "au", PE_ULAW | PE_MONO, 8000, "u-law", 8, 1},
        {&au_play_mode, "au", PE_ALAW, 8000, "A-law", 8, 2},
        {&aiff_play_mode, "aiff", PE_16BIT | PE_SIGNED, 44100, "Signed Integer PCM", 16, 2},
        {&aiff_play_mode, "aiff", PE_MONO, 22050, "Signed Integer PCM", 8, 1},
        {&aiff_play_mode, "aiff", PE_24BIT | PE_SIGNED, 48000, "Signed Integer PCM", 24, 2},
        {&aiff_play_mode, "aiff", PE_ULAW | PE_MONO, 8000, "Signed Integer PCM", 16, 1},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::string file = dir.file("out" + std::to_string(n++) + "." + c.ext);
        write_signal(c.mode, file, c.enc, c.rate, frames);
        SCOPED_TRACE(file + " " + c.sox_encoding + " " + std::to_string(c.bits));
        EXPECT_EQ(run("soxi -t " + file), c.ext);
        EXPECT_EQ(run("soxi -r " + file), std::to_string(c.rate));
        EXPECT_EQ(run("soxi -c " + file), std::to_string(c.channels));
        EXPECT_EQ(run("soxi -e " + file), c.sox_encoding);
        EXPECT_EQ(run("soxi -b " + file), std::to_string(c.bits));
        EXPECT_EQ(run("soxi -s " + file), std::to_string(frames));

        std::string raw = dir.file("back.raw");
        ASSERT_EQ(system(("sox " + file + " -t raw -e signed-integer -b 32 -L " + raw + " 2>/dev/null").c_str()), 0);
        std::string back = read_whole_file(raw);
        ASSERT_EQ(back.size(), (size_t)frames * c.channels * 4);
        bool law = strcmp(c.sox_encoding, "u-law") == 0 || strcmp(c.sox_encoding, "A-law") == 0;
        for (int32 i = 0; i < frames * c.channels; i++) {
            int32 got;
            memcpy(&got, back.data() + 4 * (size_t)i, 4);
            int32 x = sample(i / c.channels, i % c.channels);
            if (law) {
                int v = x >> 13, d = got >> 16;
                ASSERT_LE(std::abs(d - v), std::abs(v) / 16 + 16) << "sample " << i;
            } else {
                int32 want = (int32)((uint32)(x >> (29 - c.bits)) << (32 - c.bits));
                ASSERT_EQ(got, want) << "sample " << i;
            }
        }
    }
}

// Raw data is the converted samples and nothing else.
TEST_F(FileWriterTest, RawIsTheConvertedSamples)
{
    TempDir dir;
    std::string file = dir.file("out.raw");
    write_signal(&raw_play_mode, file, PE_16BIT | PE_SIGNED | PE_BYTESWAP, 44100, 5000);
    std::string data = read_whole_file(file);
    ASSERT_EQ(data.size(), 5000u * 4);
    for (int32 i = 0; i < 10000; i++) {
        int16 v = (int16)((uint8)data[2 * i] << 8 | (uint8)data[2 * i + 1]);
        ASSERT_EQ(v, sample(i / 2, i % 2) >> 13) << i;
    }
}

// "-" writes to standard output: to a file the header gets its sizes; into a pipe the
// header says "length unknown" and a reader still gets every sample.
TEST_F(FileWriterTest, StandardOutputFileAndPipe)
{
    if (!have_sox())
        GTEST_SKIP() << "sox is not installed";
    TempDir dir;
    std::string file = dir.file("stdout.wav"), err;
    int rc = in_child(dir.file("err.txt"), &err, [&] {
        int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        close(fd);
        write_signal(&wave_play_mode, "-", PE_16BIT | PE_SIGNED, 32000, 3000);
        return ::testing::Test::HasFailure() ? 1 : 0;
    });
    EXPECT_EQ(rc, 0) << err;
    EXPECT_EQ(run("soxi -s " + file), "3000");
    EXPECT_EQ(run("soxi -r " + file), "32000");

    // A slow reader on a pipe left non-blocking: writes come back short or with EAGAIN, and
    // the writer goes on until everything is through.
    const int32 frames = 40000;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) | O_NONBLOCK);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], 1);
        close(fds[1]);
        write_signal(&au_play_mode, "-", PE_16BIT | PE_SIGNED, 44100, frames);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    close(fds[1]);
    std::string piped;
    char buf[4096];
    ssize_t r;
    while ((r = read(fds[0], buf, sizeof buf)) > 0) {
        piped.append(buf, (size_t)r);
        usleep(200);
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(piped.size(), 32u + frames * 4);
    EXPECT_EQ(piped.compare(8, 4, std::string("\xFF\xFF\xFF\xFF", 4)), 0);  // size unknown
    std::string au = dir.write("piped.au", piped), raw = dir.file("piped.raw");
    ASSERT_EQ(system(("sox " + au + " -t raw -e signed-integer -b 16 -L " + raw + " 2>/dev/null").c_str()), 0);
    std::string back = read_whole_file(raw);
    ASSERT_EQ(back.size(), (size_t)frames * 4);
    for (int32 i = 0; i < 2 * frames; i++) {
        int16 v = (int16)((uint8)back[2 * i] | (uint8)back[2 * i + 1] << 8);
        ASSERT_EQ(v, sample(i / 2, i % 2) >> 13) << i;
    }
}

// Converts one block of the signal for mode and hands it to the mode's writer.
static int write_block(PlayMode* mode)
{
    std::vector<int32> b = signal_block(0, 4096, false);
    play_mode = mode;
    int32 bytes = general_output_convert(b.data(), 4096);
    return mode->output_data(reinterpret_cast<char*>(b.data()), bytes);
}

// A full disk, a file-size limit and a closed pipe are reported and fail the write; nothing
// is cut short in silence.
TEST_F(FileWriterTest, WriteErrorsAreReported)
{
    TempDir dir;
    std::string err;
    const std::string full = "/dev/full: write failed: No space left on device";
    // Headers that do not fit fail the open.
    EXPECT_EQ(in_child(dir.file("e1.txt"), &err, [&] {
        wave_play_mode.name = "/dev/full";
        return wave_play_mode.open_output() == -1 && wave_play_mode.fd == -1 ? 0 : 1;
    }), 0);
    EXPECT_NE(err.find(full), std::string::npos) << err;

    // Raw data has no header: the first block fails, and so does every later one.
    EXPECT_EQ(in_child(dir.file("e2.txt"), &err, [&] {
        raw_play_mode.name = "/dev/full";
        if (raw_play_mode.open_output() != 0)
            return 1;
        if (write_block(&raw_play_mode) != -1 || write_block(&raw_play_mode) != -1)
            return 2;
        raw_play_mode.close_output();
        return 0;
    }), 0);
    EXPECT_NE(err.find(full), std::string::npos) << err;

    // The file-size limit is reached in the middle of a block.
    std::string limited = dir.file("limited.aiff");
    EXPECT_EQ(in_child(dir.file("e3.txt"), &err, [&] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit r = {50000, 50000};
        setrlimit(RLIMIT_FSIZE, &r);
        aiff_play_mode.name = limited.c_str();
        if (aiff_play_mode.open_output() != 0)
            return 1;
        for (int i = 0; i < 10; i++)
            if (write_block(&aiff_play_mode) == -1) {
                aiff_play_mode.close_output();
                return i == 3 ? 0 : 10 + i;  // 3 x 16384 bytes fit, the fourth block does not
            }
        return 2;
    }), 0);
    EXPECT_NE(err.find("limited.aiff: write failed: File too large"), std::string::npos) << err;

    // A reader that went away: with SIGPIPE ignored the write fails with EPIPE.
    EXPECT_EQ(in_child(dir.file("e4.txt"), &err, [&] {
        signal(SIGPIPE, SIG_IGN);
        int fds[2];
        if (pipe(fds) != 0)
            return 1;
        close(fds[0]);
        dup2(fds[1], 1);
        close(fds[1]);
        raw_play_mode.name = wave_play_mode.name = "-";
        if (raw_play_mode.open_output() != 0 || write_block(&raw_play_mode) != -1)
            return 2;
        raw_play_mode.close_output();
        return wave_play_mode.open_output() == -1 ? 0 : 4;
    }), 0);
    EXPECT_NE(err.find("standard output: write failed: Broken pipe"), std::string::npos) << err;

    // No name, or a directory that does not exist.
    testing::internal::CaptureStderr();
    wave_play_mode.name = nullptr;
    EXPECT_EQ(wave_play_mode.open_output(), -1);
    au_play_mode.name = "/nonexistent-dir/x.au";
    EXPECT_EQ(au_play_mode.open_output(), -1);
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("RIFF WAVE file: no output file name given"), std::string::npos) << err;
    EXPECT_NE(err.find("/nonexistent-dir/x.au: No such file or directory"), std::string::npos) << err;
}

// The event list: one line per event; a write error is reported.
TEST_F(FileWriterTest, EventListAndSilentModes)
{
    TempDir dir;
    std::string file = dir.file("events.txt");
    MidiEvent ev[3] = {{0, ME_PROGRAM, 9, 5, 0}, {441, ME_NOTEON, 9, 36, 100}, {88200, ME_EOT, 0, 0, 0}};
    list_play_mode.name = file.c_str();
    EXPECT_EQ(list_play_mode.flag & PF_PCM_STREAM, 0);
    ASSERT_EQ(list_play_mode.open_output(), 0);
    EXPECT_EQ(list_play_mode.output_data(reinterpret_cast<char*>(ev), sizeof ev), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(list_play_mode.output_data(reinterpret_cast<char*>(ev), 12), -1);
    testing::internal::GetCapturedStderr();
    list_play_mode.close_output();
    EXPECT_EQ(read_whole_file(file), "0 ME_PROGRAM 9 5 0\n441 ME_NOTEON 9 36 100\n88200 ME_EOT 0 0 0\n");

    std::string err;
    int rc = in_child(dir.file("e.txt"), &err, [&] {
        list_play_mode.name = "/dev/full";
        if (list_play_mode.open_output() != 0)
            return 1;
        int r = list_play_mode.output_data(reinterpret_cast<char*>(ev), sizeof ev);
        list_play_mode.close_output();
        return r == -1 ? 0 : 2;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_NE(err.find("/dev/full: write failed: No space left on device"), std::string::npos) << err;

    // Module to MIDI does nothing, successfully.
    ASSERT_EQ(midi_play_mode.open_output(), 0);
    EXPECT_EQ(midi_play_mode.fd, 0);
    char bytes[10] = {0};
    EXPECT_EQ(midi_play_mode.output_data(bytes, 10), 10);
    EXPECT_EQ(midi_play_mode.acntl(PM_REQ_DISCARD, nullptr), 0);
    EXPECT_EQ(midi_play_mode.acntl(PM_REQ_FLUSH, nullptr), -1);
    midi_play_mode.close_output();
    EXPECT_EQ(midi_play_mode.fd, -1);
}

// The selectable outputs, in the order start-up searches them.
TEST(PlayModeList, OrderAndIdentities)
{
    const char want[] = "dwrualM";
    int i = 0;
    for (PlayMode** m = play_mode_list; *m != nullptr; m++, i++) {
        ASSERT_LT(i, 7);
        EXPECT_EQ((*m)->id_character, want[i]);
        EXPECT_EQ((*m)->fd, -1);
    }
    EXPECT_EQ(i, 7);
    EXPECT_STREQ(w32_play_mode.id_name, "Windows audio driver");
    EXPECT_EQ(w32_play_mode.flag, 13);
    EXPECT_EQ(w32_play_mode.rate, 44100);
    EXPECT_EQ(w32_play_mode.encoding, PE_16BIT | PE_SIGNED);
    EXPECT_EQ(w32_play_mode.extra_param[0], 32);
    EXPECT_NE(w32_play_mode.detect, nullptr);
    EXPECT_EQ(wave_play_mode.detect, nullptr);  // taken as soon as it is asked for
}

// ---- outputs past the 32-bit size fields ----

namespace {

// Keeps what is written to the first 128 offsets (the header) and counts the rest.
struct CountingStream {
    std::string head = std::string(128, '\0');
    uint64 at = 0, end = 0;
};

CountingStream& counted()
{
    static CountingStream s;
    return s;
}

int count_bytes(int, const void* data, size_t n)
{
    CountingStream& s = counted();
    for (size_t i = 0; i < n && s.at + i < s.head.size(); i++)
        s.head[s.at + i] = static_cast<const char*>(data)[i];
    s.at += n;
    s.end = std::max(s.end, s.at);
    return 0;
}

uint64 le(const std::string& s, size_t at, int bytes)
{
    uint64 v = 0;
    for (int i = bytes - 1; i >= 0; i--)
        v = v << 8 | (uint8)s[at + i];
    return v;
}

uint64 be(const std::string& s, size_t at, int bytes)
{
    uint64 v = 0;
    for (int i = 0; i < bytes; i++)
        v = v << 8 | (uint8)s[at + i];
    return v;
}

class LongOutput : public FileWriterTest {
protected:
    AudioFileIo saved_io_ = audio_file_io;
    void SetUp() override
    {
        FileWriterTest::SetUp();
        counted() = CountingStream();
        audio_file_io.write = count_bytes;
        audio_file_io.where = [](int) -> off_t { return 0; };
        audio_file_io.seek = [](int, off_t at) -> off_t { return (off_t)(counted().at = (uint64)at); };
    }
    void TearDown() override
    {
        audio_file_io = saved_io_;
        FileWriterTest::TearDown();
    }
    // Opens mode (16-bit stereo, 44100 Hz) and writes up to `total` data bytes in blocks of
    // 1 MiB; returns how many were taken before a write failed. The mode is left open.
    uint64 feed(PlayMode* mode, uint64 total, std::string* err)
    {
        static std::vector<char> block(1 << 20);
        mode->name = "-";
        mode->encoding = PE_16BIT | PE_SIGNED;
        mode->rate = 44100;
        play_mode = mode;
        EXPECT_EQ(mode->open_output(), 0);
        uint64 taken = 0;
        testing::internal::CaptureStderr();
        while (taken < total) {
            int32 n = (int32)std::min<uint64>(block.size(), total - taken);
            if (mode->output_data(block.data(), n) != 0)
                break;
            taken += (uint64)n;
        }
        *err = testing::internal::GetCapturedStderr();
        return taken;
    }
};

}  // namespace

// Data past 4 GiB make the WAVE file an RF64 file: its "ds64" chunk holds the 64-bit sizes
// and the 32-bit fields say so with all ones. The largest data that fit stay a RIFF file.
TEST_F(LongOutput, WaveBecomesRf64PastFourGibibytes)
{
    const uint64 header = 80;  // RIFF, reserved ds64 (JUNK), fmt, data headers
    for (uint64 data : {0xFFFFFFFFull - 72, 0x100000000ull + 4096 * 4}) {
        counted() = CountingStream();
        std::string err;
        ASSERT_EQ(feed(&wave_play_mode, data, &err), data) << err;
        wave_play_mode.close_output();
        const std::string& h = counted().head;
        const bool rf64 = data > 0xFFFFFFFFull - 72;
        SCOPED_TRACE(rf64 ? "RF64" : "RIFF");
        EXPECT_EQ(counted().end, header + data);
        EXPECT_EQ(h.substr(0, 4), rf64 ? "RF64" : "RIFF");
        EXPECT_EQ(le(h, 4, 4), rf64 ? 0xFFFFFFFFull : header - 8 + data);
        EXPECT_EQ(h.substr(8, 8), rf64 ? "WAVEds64" : "WAVEJUNK");
        // Offset, bytes, value in a RIFF file, value in an RF64 file.
        const uint64 fields[][4] = {
            {16, 4, 28, 28}, {20, 8, 0, header - 8 + data},  // ds64 size, RIFF size
            {28, 8, 0, data}, {36, 8, 0, data / 4},          // data size, sample frames
            {44, 4, 0, 0},                                   // no size table
            {52, 4, 16, 16}, {56, 2, 1, 1}, {58, 2, 2, 2},   // fmt size, PCM, channels
            {60, 4, 44100, 44100}, {64, 4, 176400, 176400},  // rate, bytes per second
            {68, 2, 4, 4}, {70, 2, 16, 16},                  // frame, bits
            {76, 4, data, 0xFFFFFFFFull},                    // data size
        };
        for (const auto& f : fields)
            EXPECT_EQ(le(h, (size_t)f[0], (int)f[1]), f[rf64 ? 3 : 2]) << "offset " << f[0];
        EXPECT_EQ(h.substr(48, 4), "fmt ");
        EXPECT_EQ(h.substr(72, 4), "data");
    }
}

// Sun audio and AIFF sizes are 32-bit: the writer refuses the block that would pass them,
// says why, and the header written on closing describes what was written.
TEST_F(LongOutput, SunAudioAndAiffStopBeforeTheirSizesOverflow)
{
    const uint64 mib = 1 << 20;
    for (PlayMode* mode : {&au_play_mode, &aiff_play_mode}) {
        counted() = CountingStream();
        std::string err;
        uint64 taken = feed(mode, 0x100000000ull + mib, &err);
        mode->close_output();
        const std::string& h = counted().head;
        EXPECT_EQ(taken, 4095 * mib) << mode->id_name;
        EXPECT_NE(err.find("holds at most 4 GiB of sound"), std::string::npos) << err;
        if (mode == &au_play_mode) {
            EXPECT_EQ(h.substr(0, 4), ".snd");
            EXPECT_EQ(be(h, 8, 4), taken);
        } else {
            EXPECT_EQ(h.substr(0, 4), "FORM");
            EXPECT_EQ(be(h, 4, 4), 46 + taken);
            EXPECT_EQ(be(h, 22, 4), taken / 4);  // frames
            EXPECT_EQ(be(h, 42, 4), 8 + taken);  // SSND size
        }
    }
}
