// The palettes: mono, and channels with hues far apart, softer notes darker, neutral drums.
#include <gtest/gtest.h>

#include <cmath>
#include "vis/palette.h"

static float distance(const float a[3], const float b[3])
{
    return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}

TEST(Palette, ChannelsFarApartDarkerWhenSoftDrumsNeutralMonoBlackToWhite)
{
    Visual v[MAX_CHANNELS];
    ASSERT_TRUE(apply_palette("channels", v));
    for (int a = 0; a < 16; a++) {
        const float* high = v[a].colors[1];
        const float* low = v[a].colors[0];
        float spread = std::max({high[0], high[1], high[2]}) - std::min({high[0], high[1], high[2]});
        if (a == 9)
            EXPECT_LT(spread, 0.1f) << "the drum channel is a neutral tone";
        else
            EXPECT_GT(spread, 0.9f) << "channel " << a << " is a full hue";
        EXPECT_LT(low[0] + low[1] + low[2], 0.5f * (high[0] + high[1] + high[2])) << a;
        for (int b = a + 1; b < 16; b++)
            EXPECT_GT(distance(high, v[b].colors[1]), 0.25f) << a << " and " << b;
        for (int c = 0; c < 3; c++)  // the second port repeats the first
            EXPECT_EQ(v[a + 16].colors[1][c], high[c]);
    }

    EXPECT_FALSE(apply_palette("rainbow", v));
    EXPECT_FALSE(apply_palette("", v));
    EXPECT_NE(v[0].colors[1][2], 1.0f) << "an unknown name left the channels palette";
    ASSERT_TRUE(apply_palette("mono", v));
    const Visual window;  // the colours a channel of the window starts with
    for (int ch = 0; ch < MAX_CHANNELS; ch++)
        for (int c = 0; c < 3; c++) {
            EXPECT_EQ(v[ch].colors[0][c], window.colors[0][c]);
            EXPECT_EQ(v[ch].colors[1][c], window.colors[1][c]);
        }
}
