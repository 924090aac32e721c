// The SSE2 blending of runs of pixels against its one-pixel-at-a-time twin. (The canvas as a
// whole, and so the twin's rounding, is compared with GL's own drawing in glyph_batch_test.cpp.)
#include <gtest/gtest.h>
#include <random>
#include <vector>
#include "vis/glyph_canvas.h"

TEST(GlyphCanvas, BlendingFourAtATimeEqualsOneAtATime)
{
    std::mt19937 random(11);
    std::uniform_int_distribution<int> byte(0, 255);
    // Alpha at and next to the ends, where the kernel replaces or leaves pixels alone.
    const int edge_alphas[] = {0, 1, 2, 127, 128, 253, 254, 255};
    const int guard = 3;  // untouched pixels on each side of a run
    for (int trial = 0; trial < 4000; trial++) {
        int count = trial % 41;  // every tail length, after runs of 0..10 groups of four
        int offset = trial / 41 % 4;  // and runs starting at any pixel, not only aligned ones
        uint8_t rgba[4];
        for (uint8_t& c : rgba)
            c = (uint8_t)byte(random);
        if (trial % 3 == 0)
            rgba[3] = (uint8_t)edge_alphas[trial / 3 % 8];
        std::vector<uint32_t> got((size_t)(offset + count + 2 * guard));
        for (uint32_t& p : got)
            p = (uint32_t)random();
        std::vector<uint32_t> want = got;
        blend_pixels(got.data() + offset + guard, count, rgba);
        blend_pixels_scalar(want.data() + offset + guard, count, rgba);
        ASSERT_EQ(got, want) << "count " << count << ", offset " << offset << ", colour "
                             << (int)rgba[0] << " " << (int)rgba[1] << " " << (int)rgba[2]
                             << " alpha " << (int)rgba[3];
    }
}
