// Seeded mutations of valid patches load into samples safe to render or are refused, said why.
#include "instrum_test_support.h"

#include <random>

TEST_F(InstrumTest, MutatedPatchesAreLoadedSafelyOrRefused)
{
    TestSample s16 = looped16(600, 50, 500), s8, rev = s16;
    s16.fractions = 0x4a, s16.tremolo[0] = 5, s16.tremolo[1] = 40, s16.tremolo[2] = 20;
    s16.vibrato[0] = 9, s16.vibrato[1] = 50, s16.vibrato[2] = 60, s8.data = std::string(300, '\x7f');
    s8.loop_start = 30, s8.loop_end = 290, s8.modes = MODES_UNSIGNED | MODES_LOOPING | MODES_PINGPONG;
    rev.modes |= MODES_REVERSE;
    const std::string original = build_patch(patch_of({s16, s8, rev}));
    const size_t headers[] = {239, 239 + 96 + 1200, 239 + 2 * 96 + 1500};
    static const int fields[][2] = {{8, 4}, {12, 4}, {16, 4}, {20, 2}, {30, 4}};
    static const uint32_t values[] = {0, 1, 0x7FFFFFFF, 0xFFFFFFFF, 0x80000000, 65535, 3000000};
    static const size_t counts[] = {82, 151, 198};

    std::mt19937 rng(20240611);
    const int cases = 600;
    int loaded = 0, refused = 0;
    for (int c = 0; c < cases; c++) {
        std::string bytes = original;
        int kind = (int)(rng() % 4);
        if (kind == 0) {  // bit flips anywhere
            for (int i = 1 + (int)(rng() % 8); i > 0; i--)
                bytes[rng() % bytes.size()] ^= (char)(1 << (rng() % 8));
        } else if (kind == 1) {
            bytes.resize(rng() % bytes.size());
        } else if (kind == 2) {  // a length, loop point, rate or pitch set to an extreme
            const int* f = fields[rng() % 5];
            put_le(bytes, headers[rng() % 3] + f[0], values[rng() % 7], f[1]);
        } else {  // counts of the patch, or the mode byte of a sample
            size_t at = rng() % 2 ? counts[rng() % 3] : headers[rng() % 3] + 55;
            bytes[at] = (char)rng();
        }
        antialiasing_allowed = (int)(rng() % 2);
        std::string msg;
        InstrumentPtr ip(load_memory(bytes, &msg));
        SCOPED_TRACE("case " + std::to_string(c));
        if (ip != nullptr) {
            loaded++;
            expect_renderable(ip.get());
        } else {
            refused++;
            EXPECT_NE(msg, "");  // a refusal always says why
        }
    }
    EXPECT_TRUE(loaded > cases / 10 && refused > cases / 10) << loaded << " loaded, " << refused << " refused";
}
