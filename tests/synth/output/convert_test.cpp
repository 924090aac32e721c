#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "frontend/controls.h"
#include "output/output.h"
#include "support/tempdir.h"

namespace {

// Converts a copy of the samples with play_mode set to a mode of the given encoding.
std::vector<uint8> convert(int32 enc, std::vector<int32> samples, int32* bytes_out = nullptr)
{
    PlayMode mode = raw_play_mode;
    mode.encoding = enc;
    PlayMode* saved = play_mode;
    play_mode = &mode;
    int32 frames = (enc & PE_MONO) ? (int32)samples.size() : (int32)samples.size() / 2;
    int32 bytes = general_output_convert(samples.data(), frames);
    play_mode = saved;
    if (bytes_out)
        *bytes_out = bytes;
    const uint8* p = reinterpret_cast<const uint8*>(samples.data());
    return std::vector<uint8>(p, p + bytes);
}

int16 s16_at(const std::vector<uint8>& b, size_t i)
{
    return (int16)(b[2 * i] | b[2 * i + 1] << 8);
}

struct Verbosity {
    int saved;
    explicit Verbosity(int v) : saved(ctl->verbosity) { ctl->verbosity = v; }
    ~Verbosity() { ctl->verbosity = saved; }
};

}  // namespace

// 16-bit full scale is 2^28: the shift by 13 truncates toward minus infinity and clips.
TEST(Conversion, SixteenBitValuesAndClipping)
{
    std::vector<int32> in = {1 << 28, -(1 << 28), 8192, 8191, -1, 0, INT32_MAX, INT32_MIN, 268427263, -8193};
    std::vector<uint8> out = convert(PE_16BIT | PE_SIGNED | PE_MONO, in);
    ASSERT_EQ(out.size(), 20u);
    const int16 want[] = {32767, -32768, 1, 0, -1, 0, 32767, -32768, 32766, -2};
    for (int i = 0; i < 10; i++)
        EXPECT_EQ(s16_at(out, i), want[i]) << i;

    // High byte first, and the unsigned forms.
    std::vector<uint8> x = convert(PE_16BIT | PE_SIGNED | PE_BYTESWAP | PE_MONO, {8192 * 0x1234});
    EXPECT_EQ(x[0], 0x12);
    EXPECT_EQ(x[1], 0x34);
    std::vector<uint8> u = convert(PE_16BIT | PE_MONO, {0, 1 << 28});
    EXPECT_EQ(u[0], 0x00);
    EXPECT_EQ(u[1], 0x80);  // unsigned 16-bit silence 0x8000, low byte first
    EXPECT_EQ(u[2], 0xFF);
    EXPECT_EQ(u[3], 0xFF);
    std::vector<uint8> ux = convert(PE_16BIT | PE_BYTESWAP | PE_MONO, {0});
    EXPECT_EQ(ux[0], 0x80);
    EXPECT_EQ(ux[1], 0x00);
}

TEST(Conversion, EightAndTwentyFourBit)
{
    std::vector<uint8> s8 = convert(PE_SIGNED | PE_MONO, {0, 1 << 28, -(1 << 28), 1 << 21, (1 << 21) - 1});
    EXPECT_EQ((int8)s8[0], 0);
    EXPECT_EQ((int8)s8[1], 127);
    EXPECT_EQ((int8)s8[2], -128);
    EXPECT_EQ((int8)s8[3], 1);
    EXPECT_EQ((int8)s8[4], 0);
    std::vector<uint8> u8 = convert(PE_MONO, {0, -(1 << 28)});
    EXPECT_EQ(u8[0], 0x80);  // unsigned 8-bit silence
    EXPECT_EQ(u8[1], 0x00);

    // A stereo block of 256 frames in 24-bit is 1536 bytes; samples three bytes apart.
    std::vector<int32> block(512);
    for (int i = 0; i < 512; i++)
        block[i] = (i - 256) * 4096 + 32;
    int32 bytes = 0;
    std::vector<uint8> s24 = convert(PE_24BIT | PE_SIGNED, block, &bytes);
    EXPECT_EQ(bytes, 1536);
    for (int i = 0; i < 512; i++) {
        int32 v = s24[3 * i] | s24[3 * i + 1] << 8 | s24[3 * i + 2] << 16;
        if (v & 0x800000)
            v -= 0x1000000;
        ASSERT_EQ(v, ((i - 256) * 4096 + 32) >> 5) << i;
    }
    std::vector<uint8> big = convert(PE_24BIT | PE_SIGNED | PE_BYTESWAP | PE_MONO, {0x123456 << 5, 1 << 29});
    EXPECT_EQ(big[0], 0x12);
    EXPECT_EQ(big[1], 0x34);
    EXPECT_EQ(big[2], 0x56);
    EXPECT_EQ(big[3], 0x7F);  // clipped to 8388607
    EXPECT_EQ(big[5], 0xFF);
    std::vector<uint8> u24 = convert(PE_24BIT | PE_MONO, {0});
    EXPECT_EQ(u24[0], 0x00);
    EXPECT_EQ(u24[1], 0x00);
    EXPECT_EQ(u24[2], 0x80);
    std::vector<uint8> u24x = convert(PE_24BIT | PE_BYTESWAP | PE_MONO, {0});
    EXPECT_EQ(u24x[0], 0x80);
}

TEST(Conversion, G711Extremes)
{
    std::vector<uint8> ul = convert(PE_ULAW | PE_MONO, {0, -(1 << 28), 1 << 28});
    EXPECT_EQ(ul[0], 0xFF);
    EXPECT_EQ(ul[1], 0x00);
    EXPECT_EQ(ul[2], 0x80);
    std::vector<uint8> al = convert(PE_ALAW | PE_MONO, {0, -(1 << 28), 1 << 28});
    EXPECT_EQ(al[0], 0xD5);
    EXPECT_EQ(al[1], 0x2A);
    EXPECT_EQ(al[2], 0xAA);
    int32 bytes = 0;
    convert(PE_ALAW, std::vector<int32>(200), &bytes);
    EXPECT_EQ(bytes, 200);  // one byte per sample, stereo samples counted twice
}

// The law tables against an independent decoder: every 16-bit value encoded and decoded by
// sox comes back within that law's step at its magnitude, and the sign is kept.
TEST(Conversion, G711TablesDecodeBackWithSox)
{
    if (system("command -v sox >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "sox is not installed";
    TempDir dir;
    for (int law = 0; law < 2; law++) {
        std::vector<int32> in;
        for (int v = -32768; v < 32768; v += 7)
            in.push_back(v * 8192);
        std::vector<uint8> coded = convert((law ? PE_ALAW : PE_ULAW) | PE_MONO, in);
        std::string src = dir.file(law ? "a.al" : "u.ul"), dst = dir.file("back.raw");
        FILE* f = fopen(src.c_str(), "wb");
        fwrite(coded.data(), 1, coded.size(), f);
        fclose(f);
        std::string cmd = std::string("sox -t raw -r 8000 -c 1 -e ") + (law ? "a-law" : "mu-law") +
                          " -b 8 " + src + " -t raw -e signed -b 16 -L " + dst;
        ASSERT_EQ(system(cmd.c_str()), 0) << cmd;
        std::string back = read_whole_file(dst);
        ASSERT_EQ(back.size(), 2 * in.size());
        for (size_t i = 0; i < in.size(); i++) {
            int v = in[i] / 8192;
            int d = (int16)((uint8)back[2 * i] | (uint8)back[2 * i + 1] << 8);
            // The step of the segment holding v: 1/16 of its magnitude, at least a few units.
            int tolerance = std::abs(v) / 16 + 16;
            ASSERT_LE(std::abs(d - v), tolerance) << (law ? "A-law " : "u-law ") << v << " -> " << d;
            if (std::abs(v) > 64) {
                ASSERT_EQ(d < 0, v < 0) << v;
            }
        }
    }
}

TEST(Encoding, DisplayNames)
{
    EXPECT_STREQ(output_encoding_string(PE_16BIT | PE_SIGNED), "16bit");
    EXPECT_STREQ(output_encoding_string(PE_16BIT), "unsigned 16bit");
    EXPECT_STREQ(output_encoding_string(PE_16BIT | PE_SIGNED | PE_BYTESWAP), "16bit (swap)");
    EXPECT_STREQ(output_encoding_string(PE_16BIT | PE_BYTESWAP), "unsigned 16bit (swap)");
    EXPECT_STREQ(output_encoding_string(PE_16BIT | PE_SIGNED | PE_BYTESWAP | PE_MONO), "16bit (mono)");
    EXPECT_STREQ(output_encoding_string(PE_24BIT | PE_MONO), "unsigned 24bit (mono)");
    EXPECT_STREQ(output_encoding_string(PE_24BIT | PE_SIGNED), "24bit");
    EXPECT_STREQ(output_encoding_string(PE_ULAW), "U-law");
    EXPECT_STREQ(output_encoding_string(PE_ALAW | PE_MONO), "A-law (mono)");
    EXPECT_STREQ(output_encoding_string(0), "unsigned 8bit");
    EXPECT_STREQ(output_encoding_string(PE_SIGNED | PE_MONO), "8bit (mono)");
    EXPECT_EQ(get_encoding_sample_size(PE_24BIT), 6);
    EXPECT_EQ(get_encoding_sample_size(PE_16BIT | PE_MONO), 2);
    EXPECT_EQ(get_encoding_sample_size(PE_ULAW), 2);
}

// The notice appears exactly when the display name changes, and only at verbosity 2.
TEST(Encoding, ValidateReportsOnlyANameChange)
{
    Verbosity v(2);
    int errors = dumb_error_count;
    testing::internal::CaptureStderr();
    int32 e = validate_encoding(PE_16BIT | PE_SIGNED | PE_BYTESWAP, PE_ULAW, 0);
    std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(e, PE_ULAW);
    EXPECT_NE(out.find("Notice: Audio encoding is changed `16bit (swap)' to `U-law'"), std::string::npos) << out;
    EXPECT_EQ(dumb_error_count, errors + 1);

    testing::internal::CaptureStderr();
    e = validate_encoding(PE_16BIT | PE_SIGNED | PE_BYTESWAP | PE_MONO, PE_ULAW, 0);
    out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(e, PE_ULAW | PE_MONO);

    testing::internal::CaptureStderr();
    e = validate_encoding(PE_SIGNED | PE_BYTESWAP, 0, 0);  // 8-bit cannot be swapped
    out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(e, PE_SIGNED);
    EXPECT_EQ(out, "");

    testing::internal::CaptureStderr();
    e = validate_encoding(PE_16BIT | PE_24BIT | PE_SIGNED, 0, 0);
    out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(e, PE_24BIT | PE_SIGNED);
    EXPECT_NE(out.find("`16bit' to `24bit'"), std::string::npos) << out;

    testing::internal::CaptureStderr();
    e = validate_encoding(PE_16BIT | PE_SIGNED, 0, PE_16BIT);
    out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(e, PE_SIGNED);
    EXPECT_NE(out.find("`16bit' to `8bit'"), std::string::npos) << out;

    // At the default verbosity the notice is dropped.
    ctl->verbosity = 1;
    testing::internal::CaptureStderr();
    e = validate_encoding(PE_16BIT | PE_SIGNED, PE_ALAW, 0);
    out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(e, PE_ALAW);
    EXPECT_EQ(out, "");
}
