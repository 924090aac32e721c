#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "frontend/controls.h"
#include "output/output.h"
#include "support/capture.h"
#include "support/guards.h"

namespace {

// Converts a copy of the samples with play_mode set to a mode of the given encoding.
std::vector<uint8> convert(int32 enc, std::vector<int32> samples, int32* bytes_out = nullptr)
{
    PlayMode mode = raw_play_mode;
    mode.encoding = enc;
    Restore<PlayMode*> in_use(play_mode, &mode);
    int32 frames = (enc & PE_MONO) ? (int32)samples.size() : (int32)samples.size() / 2;
    int32 bytes = general_output_convert(samples.data(), frames);
    if (bytes_out)
        *bytes_out = bytes;
    const uint8* p = reinterpret_cast<const uint8*>(samples.data());
    return std::vector<uint8>(p, p + bytes);
}

}  // namespace

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

    // 24-bit stereo: three bytes a sample, low byte first. (The file writer tests compare
    // whole 24-bit files sample by sample.)
    int32 bytes = 0;
    EXPECT_EQ(convert(PE_24BIT | PE_SIGNED, {-(1 << 28), 32, 0x123456 << 5, -1}, &bytes),
              std::vector<uint8>({0x00, 0x00, 0x80, 0x01, 0x00, 0x00, 0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(bytes, 12);
    EXPECT_EQ(convert(PE_24BIT | PE_SIGNED | PE_BYTESWAP | PE_MONO, {0x123456 << 5, 1 << 29}),
              std::vector<uint8>({0x12, 0x34, 0x56, 0x7F, 0xFF, 0xFF}));  // clipped to 8388607
    EXPECT_EQ(convert(PE_24BIT | PE_MONO, {0}), std::vector<uint8>({0x00, 0x00, 0x80}));
    EXPECT_EQ(convert(PE_24BIT | PE_BYTESWAP | PE_MONO, {0})[0], 0x80);

    EXPECT_EQ(convert(PE_ULAW | PE_MONO, {0, -(1 << 28), 1 << 28}), std::vector<uint8>({0xFF, 0x00, 0x80}));
    EXPECT_EQ(convert(PE_ALAW | PE_MONO, {0, -(1 << 28), 1 << 28}), std::vector<uint8>({0xD5, 0x2A, 0xAA}));
    convert(PE_ALAW, std::vector<int32>(200), &bytes);
    EXPECT_EQ(bytes, 200);  // one byte per sample, stereo samples counted twice
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
