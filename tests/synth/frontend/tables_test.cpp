// The start-up tables and the random number generators.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "frontend/mt19937.h"
#include "frontend/tables.h"

namespace {

struct Tables : ::testing::Test {
    static void SetUpTestSuite() { init_start_tables(); }
};

long long table_sum(const int32* t, size_t n)
{
    long long sum = 0;
    for (size_t i = 0; i < n; i++)
        sum += t[i];
    return sum;
}

TEST_F(Tables, FrequencyTables)
{
    EXPECT_EQ(freq_table[0], 8176);
    EXPECT_EQ(freq_table[60], 261626);
    EXPECT_EQ(freq_table[69], 440000);
    EXPECT_EQ(freq_table[127], 12543854);
    // Every tuning program is equal temperament, also after one was retuned and reset.
    freq_table_tuning[5][60] = 1;
    init_freq_table_tuning();
    for (int p = 0; p < 128; p++)
        for (int n = 0; n < 128; n++)
            ASSERT_EQ(freq_table_tuning[p][n], freq_table[n]) << "program " << p << " note " << n;

    // In C major the Pythagorean fifth is 3/2 of middle C, the pure and the meantone major
    // thirds 5/4. The lowest notes belong to the block of octave -1: in C major note 0 is its
    // tonic; in A major note 0 is the Pythagorean minor third (32/27) above the A of that block.
    EXPECT_EQ(freq_table_pytha[0][67], 392438);
    EXPECT_EQ(freq_table_pureint[0][64], 327032);
    EXPECT_EQ(freq_table_meantone[0][64], 327032);
    EXPECT_EQ(freq_table_pytha[0][0], freq_table[0]);
    EXPECT_EQ(freq_table_pytha[9][0], 8148);
    // User temperaments start as the tonic of each note's block (here D, key 2).
    for (int s = 0; s < 12; s++)
        EXPECT_EQ(freq_table_user[3][14][50 + s], freq_table[50]) << s;
    // Sums of the whole tables, taken when every row had been checked step by step against
    // its temperament's ratios: a step that changes changes its table's sum.
    EXPECT_EQ(table_sum(freq_table_pytha[0], 24 * 128), 5372767914LL);
    EXPECT_EQ(table_sum(freq_table_meantone[0], 48 * 128), 10726732835LL);
    EXPECT_EQ(table_sum(freq_table_pureint[0], 48 * 128), 10745988088LL);
}

TEST_F(Tables, BendVolumePanAndWaveforms)
{
    EXPECT_DOUBLE_EQ(bend_coarse[12], 2.0);
    EXPECT_DOUBLE_EQ(bend_coarse[0], 1.0);
    EXPECT_DOUBLE_EQ(bend_fine[0], 1.0);
    EXPECT_NEAR(bend_fine[255], std::pow(2.0, 255.0 / 3072), 1e-15);

    for (int i = 1; i <= 4; i++)
        EXPECT_EQ(modenv_vol_table[i], 0.0) << i;
    EXPECT_GT(modenv_vol_table[5], 0.0);
    EXPECT_EQ(modenv_vol_table[1023], 1.0);
    for (int i = 5; i < 1023; i++)
        ASSERT_LT(modenv_vol_table[i - 1], modenv_vol_table[i] + 1e-15);

    EXPECT_EQ(attack_vol_table[0], 0.0);
    EXPECT_EQ(attack_vol_table[1023], 1.0);
    EXPECT_NEAR(sb_vol_table[0], std::pow(10.0, -4.8), 1e-12);
    EXPECT_NEAR(sb_vol_table[1023], 1.0, 1e-12);
    EXPECT_NEAR(def_vol_table[0], 1.0 / 64, 1e-15);
    EXPECT_NEAR(gs_vol_table[0], 1.0 / 256, 1e-15);
    EXPECT_NEAR(perceived_vol_table[127], 127.0, 1e-9);
    EXPECT_NEAR(gm2_vol_table[64], 64.0 * 64 / 127, 1e-12);
    EXPECT_EQ(gm2_pan_table[0], 0.0);
    EXPECT_EQ(gm2_pan_table[1], 0.0);
    EXPECT_NEAR(gm2_pan_table[127], 128.0, 1e-9);
    EXPECT_EQ(gm2_pan_table[128], 128.0);
    init_user_vol_table(2.0);
    EXPECT_NEAR(user_vol_table[64], 127.0 * (64.0 / 127) * (64.0 / 127), 1e-12);

    EXPECT_EQ(lookup_sine(256), 1.0);
    EXPECT_EQ(lookup_sine(768), -1.0);
    EXPECT_EQ(lookup_sine(0), 0.0);
    for (int x = 0; x < 2048; x += 37)
        EXPECT_NEAR(lookup_sine(x), std::sin(x * M_PI / 512), 1e-12) << x;
    EXPECT_EQ(lookup_triangular(256), 1.0);
    EXPECT_EQ(lookup_triangular(128), 0.5);
    EXPECT_EQ(lookup_triangular(640), -0.5);
    EXPECT_EQ(lookup_triangular(1024 + 384), 0.5);
    for (int i = 0; i < 256; i++)
        EXPECT_EQ(special_patch[i], nullptr);
}

TEST(Random, IntRandStaysInRangeAndSeedsReproducibly)
{
    int_rand(-12345);
    int first[8];
    for (int& v : first)
        v = int_rand(1000);
    int_rand(-12345);
    for (int v : first) {
        EXPECT_EQ(int_rand(1000), v);
        EXPECT_GE(v, 0);
        EXPECT_LT(v, 1000);
    }
    for (int i = 0; i < 10000; i++) {
        int v = int_rand(42);
        ASSERT_GE(v, 0);
        ASSERT_LT(v, 42);
    }
    EXPECT_EQ(int_rand(0), 0);
}

TEST(Random, Mt19937MatchesTheGeneratorsPublishedOutput)
{
    // The reference output for init_by_array({0x123, 0x234, 0x345, 0x456}).
    const uint32 key[4] = {0x123, 0x234, 0x345, 0x456};
    init_by_array(key, 4);
    EXPECT_EQ(genrand_int32(), 1067595299u);
    EXPECT_EQ(genrand_int32(), 955945823u);
    EXPECT_EQ(genrand_int32(), 477289528u);
    EXPECT_EQ(genrand_int32(), 4107218783u);
    EXPECT_EQ(genrand_int32(), 4228976476u);
}

// The generator one word at a time, written plainly from its definition, to hold the grouped
// state update and tempering against.
struct PlainMt {
    uint32 w[624];
    int at = 624;
    explicit PlainMt(uint32 seed)
    {
        w[0] = seed;
        for (int i = 1; i < 624; i++)
            w[i] = 1812433253u * (w[i - 1] ^ (w[i - 1] >> 30)) + (uint32)i;
    }
    uint32 next()
    {
        if (at == 624) {
            for (int k = 0; k < 624; k++) {
                const uint32 y = (w[k] & 0x80000000u) | (w[(k + 1) % 624] & 0x7fffffffu);
                w[k] = w[(k + 397) % 624] ^ (y >> 1) ^ ((y & 1u) ? 0x9908b0dfu : 0u);
            }
            at = 0;
        }
        uint32 y = w[at++];
        y ^= y >> 11;
        y ^= (y << 7) & 0x9d2c5680u;
        y ^= (y << 15) & 0xefc60000u;
        return y ^ (y >> 18);
    }
};

TEST(Random, BulkNumbersFollowTheGeneratorAcrossStateRefreshes)
{
    init_genrand(20240611u);
    PlainMt plain(20240611u);
    // Runs of odd lengths, single draws between them, crossing the 624-word refresh many times.
    const int runs[] = {1, 3, 623, 2, 624, 625, 4, 1000, 7, 2048, 1249};
    std::vector<uint32> got;
    for (int n : runs) {
        got.assign(n + 1, 0xdeadbeefu);
        genrand_int32_fill(got.data(), n);
        for (int i = 0; i < n; i++)
            ASSERT_EQ(got[i], plain.next()) << "run of " << n << ", number " << i;
        EXPECT_EQ(got[n], 0xdeadbeefu) << "written past a run of " << n;
        ASSERT_EQ(genrand_int32(), plain.next()) << "single draw after a run of " << n;
    }
    genrand_int32_fill(got.data(), 0);
    EXPECT_EQ(genrand_int32(), plain.next());
}

}  // namespace
