// Converting samples to each encoding, and the audio file writers with their errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <random>
#include <string>
#include <sys/resource.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "frontend/controls.h"
#include "output/audio_files.h"
#include "output/output.h"
#include "readmidi/event.h"
#include "support/capture.h"
#include "support/guards.h"
#include "support/shell.h"
#include "support/tempdir.h"

namespace {

// A signal using all 24 bits: x >> 5 is the 24-bit sample, x >> 13 the 16-bit one.
int32 sample(int32 frame, int ch)
{
    uint32 v = ((uint32)frame * 40503u + (uint32)ch * 1234567u) % 0x1000000u;
    return (int32)(v << 5) - (1 << 28);
}

// Converts frames [first, first + frames) of the signal for mode and hands them to its writer.
int write_block(PlayMode* mode, int32 first = 0, int32 frames = 4096)
{
    const int ch = (mode->encoding & PE_MONO) ? 1 : 2;
    std::vector<int32> b;
    for (int32 i = first; i < first + frames; i++)
        for (int c = 0; c < ch; c++)
            b.push_back(sample(i, c));
    play_mode = mode;
    int32 bytes = general_output_convert(b.data(), frames);
    return mode->output_data(reinterpret_cast<char*>(b.data()), bytes);
}

// Restores every mode record a test changes.
class FileWriterTest : public ::testing::Test {
protected:
    FileWriterTest()
    {
        for (PlayMode** m = play_mode_list; *m != nullptr; m++)
            saved_.emplace_back(**m);
    }

    // Opens mode on name, writes frames of the signal in blocks of 4096, closes; the encoding
    // given is the one asked for (the writer may change it).
    void write_signal(PlayMode* mode, const std::string& name, int32 enc, int32 rate, int32 frames)
    {
        names_.push_back(name);
        mode->name = names_.back().c_str(), mode->encoding = enc, mode->rate = rate;
        play_mode = mode;
        ASSERT_EQ(mode->open_output(), 0) << name;
        for (int32 at = 0; at < frames; at += 4096)
            ASSERT_EQ(write_block(mode, at, std::min(4096, frames - at)), 0);
        mode->close_output();
        EXPECT_EQ(mode->fd, -1);
    }

    std::deque<Restore<PlayMode>> saved_;
    Restore<PlayMode*> in_use_{play_mode};
    std::vector<std::string> names_;
};

// Converts a copy of the samples with play_mode set to a mode of the given encoding.
std::vector<uint8> convert(int32 enc, std::vector<int32> samples)
{
    PlayMode mode = raw_play_mode;
    mode.encoding = enc;
    Restore<PlayMode*> in_use(play_mode, &mode);
    int32 frames = (enc & PE_MONO) ? (int32)samples.size() : (int32)samples.size() / 2;
    int32 bytes = general_output_convert(samples.data(), frames);
    const uint8* p = reinterpret_cast<const uint8*>(samples.data());
    return std::vector<uint8>(p, p + bytes);
}

// Every writer and encoding read back by sox: the header, and every sample (exactly for linear
// encodings, within the law's step for G.711); raw data is the converted samples alone.
TEST_F(FileWriterTest, WritersWriteWhatTheyAreGiven)
{
    TempDir dir;
    write_signal(&raw_play_mode, dir.file("out.raw"), PE_16BIT | PE_SIGNED | PE_BYTESWAP, 44100, 5000);
    const std::string b = read_whole_file(dir.file("out.raw"));  // big-endian 16-bit samples
    ASSERT_EQ(b.size(), 5000u * 4);
    for (int32 i = 0; i < 2 * 5000; i++)
        ASSERT_EQ((int16)((uint8)b[2 * i] << 8 | (uint8)b[2 * i + 1]), sample(i / 2, i % 2) >> 13) << i;

    if (!have_program("sox") || !have_program("soxi"))
        GTEST_SKIP() << "sox is not installed";
    const int32 frames = 10001;  // odd, so AIFF needs its pad byte at 8-bit mono
    // The encoding as soxi names it.
    const struct { PlayMode* mode; const char* ext; int32 enc, rate; const char* sox_encoding;
                   int bits, channels; } cases[] = {
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
    for (const auto& c : cases) {
        std::string file = dir.file("out" + std::to_string(n++) + "." + c.ext);
        write_signal(c.mode, file, c.enc, c.rate, frames);
        SCOPED_TRACE(file + " " + c.sox_encoding + " " + std::to_string(c.bits));
        EXPECT_EQ(shell_output("for o in t r c e b s; do soxi -$o " + file + "; done"),
                  std::string(c.ext) + "\n" + std::to_string(c.rate) + "\n" +
                      std::to_string(c.channels) + "\n" + c.sox_encoding + "\n" +
                      std::to_string(c.bits) + "\n" + std::to_string(frames));
        std::string raw = dir.file("back.raw");
        const std::string sox = "sox " + file + " -t raw -e signed-integer -b 32 -L " + raw + " 2>/dev/null";
        ASSERT_EQ(system(sox.c_str()), 0);
        std::string back = read_whole_file(raw);
        ASSERT_EQ(back.size(), (size_t)frames * c.channels * 4);
        const bool law = c.sox_encoding[1] == '-';  // u-law, A-law
        for (int32 i = 0; i < frames * c.channels; i++) {
            int32 got, x = sample(i / c.channels, i % c.channels);
            memcpy(&got, back.data() + 4 * (size_t)i, 4);
            if (law)
                ASSERT_LE(std::abs((got >> 16) - (x >> 13)), std::abs(x >> 13) / 16 + 16) << "sample " << i;
            else
                ASSERT_EQ(got, (int32)((uint32)(x >> (29 - c.bits)) << (32 - c.bits))) << "sample " << i;
        }
    }
}

// A full disk, a file-size limit and a closed pipe are reported and fail the write.
TEST_F(FileWriterTest, WriteErrorsAreReported)
{
    TempDir dir;
    const std::string full = "/dev/full: write failed: No space left on device";
    // f returns 0 in a child process that ends printing the message.
    auto expect_child = [](const std::string& message, const std::function<int()>& f) {
        EXPECT_EXIT(_exit(f()), ::testing::ExitedWithCode(0), message);
    };
    // Headers that do not fit fail the open.
    expect_child(full, [] {
        wave_play_mode.name = "/dev/full";
        return wave_play_mode.open_output() == -1 && wave_play_mode.fd == -1 ? 0 : 1;
    });
    // Raw data has no header: the first block fails, and so does every later one.
    expect_child(full, [] {
        raw_play_mode.name = "/dev/full";
        if (raw_play_mode.open_output() != 0 || write_block(&raw_play_mode) != -1)
            return 1;
        return write_block(&raw_play_mode) == -1 ? 0 : 2;
    });
    // The file-size limit is reached in the middle of a block: 3 blocks of 16384 bytes fit.
    std::string limited = dir.file("limited.aiff");
    expect_child("limited.aiff: write failed: File too large", [&] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit r = {50000, 50000};
        setrlimit(RLIMIT_FSIZE, &r);
        aiff_play_mode.name = limited.c_str();
        if (aiff_play_mode.open_output() != 0)
            return 1;
        for (int i = 0; i < 10; i++)
            if (write_block(&aiff_play_mode) == -1)
                return i == 3 ? 0 : 10 + i;
        return 2;
    });
    // A reader that went away: with SIGPIPE ignored the write fails with EPIPE.
    expect_child("standard output: write failed: Broken pipe", [] {
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
        return wave_play_mode.open_output() == -1 ? 0 : 4;
    });
    // The event list on a full disk.
    MidiEvent ev[3] = {{0, ME_PROGRAM, 9, 5, 0}, {441, ME_NOTEON, 9, 36, 100}, {88200, ME_EOT, 0, 0, 0}};
    expect_child(full, [&] {
        list_play_mode.name = "/dev/full";
        if (list_play_mode.open_output() != 0)
            return 1;
        return list_play_mode.output_data(reinterpret_cast<char*>(ev), sizeof ev) == -1 ? 0 : 2;
    });

    // A write that failed once fails every later one: nothing goes on after the gap.
    {
        Restore io(audio_file_io);
        static int writes;
        writes = 0;
        audio_file_io.write = [](int, const void*, size_t) { return ++writes == 1 ? ENOSPC : 0; };
        raw_play_mode.name = "-";
        ASSERT_EQ(raw_play_mode.open_output(), 0);
        stderr_of([] {
            EXPECT_EQ(write_block(&raw_play_mode), -1);
            EXPECT_EQ(write_block(&raw_play_mode), -1);
        });
        raw_play_mode.close_output();
    }

    // No name, or a directory that does not exist.
    std::string err = stderr_of([] {
        wave_play_mode.name = nullptr;
        EXPECT_EQ(wave_play_mode.open_output(), -1);
        list_play_mode.name = "";
        EXPECT_EQ(list_play_mode.open_output(), -1);
        au_play_mode.name = "/nonexistent-dir/x.au";
        EXPECT_EQ(au_play_mode.open_output(), -1);
    });
    EXPECT_TRUE(has(err, "RIFF WAVE file: no output file name given")) << err;
    EXPECT_TRUE(has(err, "/nonexistent-dir/x.au: No such file or directory")) << err;

    // The event list writes one line per event; a part of an event is refused.
    std::string file = dir.file("events.txt");
    list_play_mode.name = file.c_str();
    EXPECT_EQ(list_play_mode.flag & PF_PCM_STREAM, 0);
    ASSERT_EQ(list_play_mode.open_output(), 0);
    EXPECT_EQ(list_play_mode.output_data(reinterpret_cast<char*>(ev), sizeof ev), 0);
    stderr_of([&] { EXPECT_EQ(list_play_mode.output_data(reinterpret_cast<char*>(ev), 12), -1); });
    list_play_mode.close_output();
    EXPECT_EQ(read_whole_file(file), "0 ME_PROGRAM 9 5 0\n441 ME_NOTEON 9 36 100\n88200 ME_EOT 0 0 0\n");
}

// The outputs in the order start-up searches them; module to MIDI does nothing, successfully.
TEST_F(FileWriterTest, PlayModeListAndSilentMode)
{
    std::string ids;
    for (PlayMode** m = play_mode_list; *m != nullptr && ids.size() < 8; m++) {
        ids += (*m)->id_character;
        EXPECT_EQ((*m)->fd, -1);
    }
    EXPECT_EQ(ids, "dwrualM");
    const PlayMode& w = w32_play_mode;
    EXPECT_EQ(std::make_tuple(std::string(w.id_name), w.flag, w.rate, w.encoding, w.extra_param[0]),
              std::make_tuple(std::string("Windows audio driver"), 13, 44100, PE_16BIT | PE_SIGNED, 32));
    EXPECT_NE(w32_play_mode.detect, nullptr);
    EXPECT_EQ(wave_play_mode.detect, nullptr);  // taken as soon as it is asked for

    ASSERT_EQ(midi_play_mode.open_output(), 0);
    char bytes[10] = {0};
    PlayMode& m = midi_play_mode;
    EXPECT_EQ((std::vector<int>{m.fd, m.output_data(bytes, 10), m.acntl(PM_REQ_DISCARD, nullptr),
                                m.acntl(PM_REQ_FLUSH, nullptr)}),
              (std::vector<int>{0, 10, 0, -1}));
    midi_play_mode.close_output();
    EXPECT_EQ(midi_play_mode.fd, -1);
    // The event list holds nothing back: there is nothing to discard, flush or finish.
    for (int r : {PM_REQ_DISCARD, PM_REQ_FLUSH, PM_REQ_OUTPUT_FINISH})
        EXPECT_EQ(list_play_mode.acntl(r, nullptr), 0) << r;
}

// ---- outputs past the 32-bit size fields ----

// Keeps what is written to the first 128 offsets (the header) and counts the rest.
struct CountingStream {
    std::string head = std::string(128, '\0');
    uint64 at = 0, end = 0;
} counted;

int count_bytes(int, const void* data, size_t n)
{
    for (size_t i = 0; i < n && counted.at + i < counted.head.size(); i++)
        counted.head[counted.at + i] = static_cast<const char*>(data)[i];
    counted.at += n, counted.end = std::max(counted.end, counted.at);
    return 0;
}

// The number of `bytes` bytes at `at` of the header, little- or big-endian.
uint64 number(size_t at, int bytes, bool big_endian = false)
{
    uint64 v = 0;
    for (int i = 0; i < bytes; i++)
        v = v << 8 | (uint8)counted.head[at + (big_endian ? i : bytes - 1 - i)];
    return v;
}

// Opens mode (16-bit stereo, 44100 Hz) on a stream that only counts, writes up to `total` data
// bytes in blocks of 1 MiB and closes it; returns how many were taken before a write failed.
uint64 feed(PlayMode* mode, uint64 total, std::string* err)
{
    static std::vector<char> block(1 << 20);
    Restore io(audio_file_io);
    audio_file_io.write = count_bytes, audio_file_io.where = [](int) -> off_t { return 0; };
    audio_file_io.seek = [](int, off_t at) -> off_t { return (off_t)(counted.at = (uint64)at); };
    counted = CountingStream(), mode->name = "-", mode->encoding = PE_16BIT | PE_SIGNED, mode->rate = 44100;
    play_mode = mode;
    EXPECT_EQ(mode->open_output(), 0);
    uint64 taken = 0;
    *err = stderr_of([&] {
        for (int32 n; taken < total; taken += (uint64)n) {
            n = (int32)std::min<uint64>(block.size(), total - taken);
            if (mode->output_data(block.data(), n) != 0)
                break;
        }
    });
    mode->close_output();
    return taken;
}

}  // namespace

// Data past 4 GiB make the WAVE file an RF64 file (the largest that fit stay RIFF); Sun audio
// and AIFF refuse the block that would pass their 32-bit sizes, and describe what was written.
TEST_F(FileWriterTest, SizesPastFourGibibytes)
{
    const uint64 header = 80;  // RIFF, reserved ds64 (JUNK), fmt, data headers
    std::string err;
    for (uint64 data : {0xFFFFFFFFull - 72, 0x100000000ull + 4096 * 4}) {
        ASSERT_EQ(feed(&wave_play_mode, data, &err), data) << err;
        const std::string& h = counted.head;
        const bool rf64 = data > 0xFFFFFFFFull - 72;
        SCOPED_TRACE(rf64 ? "RF64" : "RIFF");
        EXPECT_EQ(counted.end, header + data);
        EXPECT_EQ(h.substr(0, 4) + h.substr(8, 8) + h.substr(48, 4) + h.substr(72, 4),
                  rf64 ? "RF64WAVEds64fmt data" : "RIFFWAVEJUNKfmt data");
        // Offset, bytes, value in a RIFF file, value in an RF64 file.
        const uint64 fields[][4] = {
            {4, 4, header - 8 + data, 0xFFFFFFFFull},        // RIFF size
            {16, 4, 28, 28}, {20, 8, 0, header - 8 + data},  // ds64 size, RIFF size
            {28, 8, 0, data}, {36, 8, 0, data / 4},          // data size, sample frames
            {44, 4, 0, 0},                                   // no size table
            {52, 4, 16, 16}, {56, 2, 1, 1}, {58, 2, 2, 2},   // fmt size, PCM, channels
            {60, 4, 44100, 44100}, {64, 4, 176400, 176400},  // rate, bytes per second
            {68, 2, 4, 4}, {70, 2, 16, 16},                  // frame, bits
            {76, 4, data, 0xFFFFFFFFull},                    // data size
        };
        for (const auto& f : fields)
            EXPECT_EQ(number((size_t)f[0], (int)f[1]), f[rf64 ? 3 : 2]) << "offset " << f[0];
    }

    for (PlayMode* mode : {&au_play_mode, &aiff_play_mode}) {
        SCOPED_TRACE(mode->id_name);
        const uint64 taken = feed(mode, 0x100000000ull + (1 << 20), &err);
        EXPECT_EQ(taken, 4095ull << 20);
        EXPECT_NE(err.find("holds at most 4 GiB of sound"), std::string::npos) << err;
        const bool au = mode == &au_play_mode;
        EXPECT_EQ(counted.head.substr(0, 4), au ? ".snd" : "FORM");
        EXPECT_EQ(number(au ? 8 : 4, 4, true), au ? taken : 46 + taken);
        // The frames and the SSND size.
        EXPECT_TRUE(au || (number(22, 4, true) == taken / 4 && number(42, 4, true) == 8 + taken));
    }
}

TEST(Conversion, ValuesClippingAndByteOrdersOfEachEncoding)
{
    // Full scale is 2^28: the shift by 13 truncates toward minus infinity and clips.
    const std::vector<int32> in = {1 << 28, -(1 << 28), 8192, 8191, -1, 0, INT32_MAX, INT32_MIN,
                                   268427263, -8193};
    const uint16 want[] = {32767, 0x8000, 1, 0, 0xFFFF, 0, 32767, 0x8000, 32766, 0xFFFE};
    std::mt19937 rng(7);
    for (int32 form : {(int32)PE_SIGNED, 0, (int32)(PE_SIGNED | PE_BYTESWAP), (int32)PE_BYTESWAP}) {
        SCOPED_TRACE(form);
        const int32 enc = PE_16BIT | PE_MONO | form;
        auto value = [&](const std::vector<uint8>& b, size_t i) {
            const int hi = (form & PE_BYTESWAP) ? 0 : 1;
            return (uint16)(b[2 * i + hi] << 8 | b[2 * i + 1 - hi]);
        };
        const std::vector<uint8> b = convert(enc, in);
        ASSERT_EQ(b.size(), 20u);
        for (size_t i = 0; i < in.size(); i++)
            EXPECT_EQ(value(b, i), want[i] ^ ((form & PE_SIGNED) ? 0 : 0x8000)) << i;
        // A block of any length around the vector width gives what each sample gives alone.
        for (int32 n = 1; n <= 40; n++) {
            std::vector<int32> buf((size_t)n);
            for (int32& v : buf)
                v = rng() % 4 == 0 ? (int32)rng() : (int32)rng() >> 3;
            const std::vector<uint8> block = convert(enc, buf);
            for (int32 i = 0; i < n; i++)
                ASSERT_EQ(value(block, i), value(convert(enc, {buf[i]}), 0)) << n << " " << buf[i];
        }
    }

    // 8-bit, 24-bit and G.711.
    EXPECT_EQ(convert(PE_SIGNED | PE_MONO, {0, 1 << 28, -(1 << 28), 1 << 21, (1 << 21) - 1}),
              std::vector<uint8>({0, 127, 128, 1, 0}));
    EXPECT_EQ(convert(PE_MONO, {0, -(1 << 28)}), std::vector<uint8>({0x80, 0x00}));  // unsigned

    // 24-bit stereo: three bytes a sample, low byte first.
    EXPECT_EQ(convert(PE_24BIT | PE_SIGNED, {-(1 << 28), 32, 0x123456 << 5, -1}),
              std::vector<uint8>({0x00, 0x00, 0x80, 0x01, 0x00, 0x00, 0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(convert(PE_24BIT | PE_SIGNED | PE_BYTESWAP | PE_MONO, {0x123456 << 5, 1 << 29}),
              std::vector<uint8>({0x12, 0x34, 0x56, 0x7F, 0xFF, 0xFF}));  // clipped to 8388607
    EXPECT_EQ(convert(PE_24BIT | PE_MONO, {0}), std::vector<uint8>({0x00, 0x00, 0x80}));
    EXPECT_EQ(convert(PE_24BIT | PE_BYTESWAP | PE_MONO, {0})[0], 0x80);

    EXPECT_EQ(convert(PE_ULAW | PE_MONO, {0, -(1 << 28), 1 << 28}), std::vector<uint8>({0xFF, 0x00, 0x80}));
    EXPECT_EQ(convert(PE_ALAW | PE_MONO, {0, -(1 << 28), 1 << 28}), std::vector<uint8>({0xD5, 0x2A, 0xAA}));
    // One byte per sample, stereo samples counted twice.
    EXPECT_EQ(convert(PE_ALAW, std::vector<int32>(200)).size(), 200u);
    // The whole range of both laws is read back by sox in the file writer tests.
}

TEST(Encoding, DisplayNamesSizesAndValidation)
{
    const std::pair<int32, const char*> names[] = {
        {PE_16BIT | PE_SIGNED, "16bit"}, {PE_16BIT, "unsigned 16bit"},
        {PE_16BIT | PE_SIGNED | PE_BYTESWAP, "16bit (swap)"}, {PE_16BIT | PE_BYTESWAP, "unsigned 16bit (swap)"},
        {PE_16BIT | PE_SIGNED | PE_BYTESWAP | PE_MONO, "16bit (mono)"},
        {PE_24BIT | PE_MONO, "unsigned 24bit (mono)"}, {PE_24BIT | PE_SIGNED, "24bit"}, {PE_ULAW, "U-law"},
        {PE_ALAW | PE_MONO, "A-law (mono)"}, {0, "unsigned 8bit"}, {PE_SIGNED | PE_MONO, "8bit (mono)"}};
    for (const auto& n : names)
        EXPECT_STREQ(output_encoding_string(n.first), n.second);
    for (auto [enc, size] : {std::pair<int32, int>{PE_24BIT, 6}, {PE_16BIT | PE_MONO, 2}, {PE_ULAW, 2}})
        EXPECT_EQ(get_encoding_sample_size(enc), size) << enc;

    // The notice appears exactly when the display name changes, and only at verbosity 2.
    const struct { int32 enc, include, exclude, want; int verbosity; const char* notice; } cases[] = {
        {PE_16BIT | PE_SIGNED | PE_BYTESWAP, PE_ULAW, 0, PE_ULAW, 2, "`16bit (swap)' to `U-law'"},
        {PE_16BIT | PE_SIGNED | PE_BYTESWAP | PE_MONO, PE_ULAW, 0, PE_ULAW | PE_MONO, 2, "to `U-law (mono)'"},
        {PE_SIGNED | PE_BYTESWAP, 0, 0, PE_SIGNED, 2, ""},  // 8-bit cannot be swapped
        {PE_16BIT | PE_24BIT | PE_SIGNED, 0, 0, PE_24BIT | PE_SIGNED, 2, "`16bit' to `24bit'"},
        {PE_16BIT | PE_SIGNED, 0, PE_16BIT, PE_SIGNED, 2, "`16bit' to `8bit'"},
        {PE_16BIT | PE_SIGNED, PE_ALAW, 0, PE_ALAW, 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.enc);
        Restore verbosity(ctl->verbosity, c.verbosity);
        const int errors = dumb_error_count;
        std::string out =
            stderr_of([&] { EXPECT_EQ(validate_encoding(c.enc, c.include, c.exclude), c.want); });
        EXPECT_TRUE(*c.notice ? out.find(c.notice) != std::string::npos : out.empty()) << out;
        EXPECT_EQ(dumb_error_count, errors + (*c.notice ? 1 : 0));
    }
}
