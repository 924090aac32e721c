// The Gauss resampler's weights: exact at whole samples, mirror images about the middle,
// and a weighted sum that keeps a constant signal constant.
#include <gtest/gtest.h>

#include <cmath>

#include "render/resample.h"
#include "render/resample_settings.h"

TEST(GaussTable, WeightsInterpolateBetweenSamples)
{
    initialize_resampler_coeffs();
    const int n = gauss_n;
    ASSERT_EQ(n, 25);
    // At a whole sample only the sample itself counts.
    for (int k = 0; k <= n; k++)
        EXPECT_NEAR(gauss_table[0][k], k == n / 2 ? 1.0 : 0.0, 1e-6) << "tap " << k;

    for (int m : {1, 700, 2048, 3000, 4095}) {
        double sum = 0;
        for (int k = 0; k <= n; k++) {
            sum += gauss_table[m][k];
            // Position m from one side is 4096 - m from the other.
            EXPECT_NEAR(gauss_table[m][k], gauss_table[4096 - m][n - k], 1e-5)
                << "position " << m << " tap " << k;
        }
        EXPECT_NEAR(sum, 1.0, 0.002) << "position " << m;
    }
    // Halfway between samples the two neighbours weigh the most.
    EXPECT_GT(gauss_table[2048][n / 2], 0.5);
    EXPECT_GT(gauss_table[2048][n / 2 + 1], 0.5);

    // Another order makes a new table of its own size.
    initialize_gauss_table(5);
    EXPECT_NEAR(gauss_table[0][2], 1.0, 1e-6);
    EXPECT_NEAR(gauss_table[0][0], 0.0, 1e-6);
    initialize_resampler_coeffs();
}
