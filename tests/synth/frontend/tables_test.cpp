// The start-up tables and the random number generators.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <utility>
#include <vector>

#include "frontend/mt19937.h"
#include "frontend/tables.h"

namespace {

struct Tables : ::testing::Test {
    static void SetUpTestSuite() { init_start_tables(); }
};

TEST_F(Tables, FrequencyTables)
{
    EXPECT_EQ((std::vector<int32>{freq_table[0], freq_table[60], freq_table[69], freq_table[127]}),
              (std::vector<int32>{8176, 261626, 440000, 12543854}));
    // Every tuning program is equal temperament, also after one was retuned and reset.
    freq_table_tuning[5][60] = 1;
    init_freq_table_tuning();
    for (int p = 0; p < 128; p++)
        for (int n = 0; n < 128; n++)
            ASSERT_EQ(freq_table_tuning[p][n], freq_table[n]) << "program " << p << " note " << n;

    // In C major the Pythagorean fifth is 3/2 of middle C, the pure and the meantone major
    // thirds 5/4. The lowest notes belong to the block of octave -1: in C major note 0 is its
    // tonic; in A major note 0 is the Pythagorean minor third (32/27) above the A of that block.
    EXPECT_EQ((std::vector<int32>{freq_table_pytha[0][67], freq_table_pureint[0][64], freq_table_meantone[0][64],
                                  freq_table_pytha[0][0], freq_table_pytha[9][0]}),
              (std::vector<int32>{392438, 327032, 327032, freq_table[0], 8148}));
    // User temperaments start as the tonic of each note's block (here D, key 2).
    for (int s = 0; s < 12; s++)
        EXPECT_EQ(freq_table_user[3][14][50 + s], freq_table[50]) << s;
    // Sums of the whole tables, taken when every row had been checked step by step against
    // its temperament's ratios: a step that changes changes its table's sum.
    EXPECT_EQ(std::accumulate(freq_table_pytha[0], freq_table_pytha[0] + 24 * 128, 0LL), 5372767914LL);
    EXPECT_EQ(std::accumulate(freq_table_meantone[0], freq_table_meantone[0] + 48 * 128, 0LL), 10726732835LL);
    EXPECT_EQ(std::accumulate(freq_table_pureint[0], freq_table_pureint[0] + 48 * 128, 0LL), 10745988088LL);
}

TEST_F(Tables, BendVolumePanAndWaveforms)
{
    init_user_vol_table(2.0);
    const struct { const char* name; double value, expected; } known[] = {
#define KNOWN(value, expected) {#value, value, expected}
        KNOWN(bend_coarse[12], 2.0),          KNOWN(bend_coarse[0], 1.0),
        KNOWN(bend_fine[0], 1.0),             KNOWN(bend_fine[255], 1.05922407059161),
        KNOWN(modenv_vol_table[1023], 1.0),   KNOWN(attack_vol_table[0], 0.0),
        KNOWN(attack_vol_table[1023], 1.0),   KNOWN(sb_vol_table[0], 1.584893192461e-5),
        KNOWN(sb_vol_table[1023], 1.0),       KNOWN(def_vol_table[0], 1.0 / 64),
        KNOWN(gs_vol_table[0], 1.0 / 256),    KNOWN(perceived_vol_table[127], 127.0),
        KNOWN(gm2_vol_table[64], 64.0 * 64 / 127), KNOWN(gm2_pan_table[0], 0.0),
        KNOWN(gm2_pan_table[1], 0.0),         KNOWN(gm2_pan_table[127], 128.0),
        KNOWN(gm2_pan_table[128], 128.0),     KNOWN(user_vol_table[64], 64.0 * 64 / 127),  // power 2
        KNOWN(lookup_sine(0), 0.0),           KNOWN(lookup_sine(256), 1.0),
        KNOWN(lookup_sine(768), -1.0),        KNOWN(lookup_triangular(256), 1.0),
        KNOWN(lookup_triangular(128), 0.5),   KNOWN(lookup_triangular(640), -0.5),
        KNOWN(lookup_triangular(1408), 0.5),
#undef KNOWN
    };
    for (const auto& k : known)
        EXPECT_NEAR(k.value, k.expected, 1e-12 * std::max(1.0, std::fabs(k.expected))) << k.name;
    // The modulation envelope's volume is silent for its first steps, then rises steadily.
    for (int i = 1; i <= 4; i++)
        EXPECT_EQ(modenv_vol_table[i], 0.0) << i;
    EXPECT_GT(modenv_vol_table[5], 0.0);
    for (int i = 5; i < 1023; i++)
        ASSERT_LT(modenv_vol_table[i - 1], modenv_vol_table[i] + 1e-15);
    for (int x = 0; x < 2048; x += 37)
        EXPECT_NEAR(lookup_sine(x), std::sin(x * M_PI / 512), 1e-12) << x;
    EXPECT_EQ(std::count(special_patch, special_patch + 256, nullptr), 256);
}

// int_rand stays in range and seeds reproducibly; the Mersenne twister gives the reference output
// for init_by_array({0x123, 0x234, 0x345, 0x456}) (the first five published), across refreshes.
TEST(Random, GeneratorsSeedReproduciblyAndFollowTheReferenceOutput)
{
    std::vector<int> first, again;
    for (std::vector<int>* v : {&first, &again}) {
        int_rand(-12345);
        for (int i = 0; i < 8; i++)
            v->push_back(int_rand(1000));
    }
    EXPECT_EQ(first, again);
    for (int i = 0; i < 10000; i++) {
        const int v = int_rand(42);
        ASSERT_TRUE(v >= 0 && v < 42) << v;
    }
    EXPECT_EQ(int_rand(0), 0);

    const uint32 key[4] = {0x123, 0x234, 0x345, 0x456};
    const std::pair<int, uint32> known[] = {
        {0, 1067595299u},   {1, 955945823u},  {2, 477289528u},    {3, 4107218783u}, {4, 4228976476u},
        {623, 144400272u}, {624, 3768408841u}, {1247, 918658114u}, {1248, 934864586u}, {4999, 3359488353u}};
    init_by_array(key, 4);
    std::vector<uint32> single(5000);
    for (uint32& v : single)
        v = genrand_int32();
    for (const auto& k : known)
        EXPECT_EQ(single[k.first], k.second) << "number " << k.first;

    // Runs of odd lengths, each followed by a single draw, give the same numbers.
    init_by_array(key, 4);
    size_t at = 0;
    std::vector<uint32> got;
    for (int n : {1, 3, 623, 2, 624, 625, 4, 1000, 7, 0, 1249}) {
        got.assign(n + 1, 0xdeadbeefu);
        genrand_int32_fill(got.data(), n);
        EXPECT_EQ(got[n], 0xdeadbeefu) << "written past a run of " << n;
        got[n] = genrand_int32();
        ASSERT_EQ(got, std::vector<uint32>(&single[at], &single[at] + n + 1)) << "run of " << n;
        at += n + 1;
    }
    // Seeded with one number it gives the standard library's Mersenne twister's numbers.
    init_genrand(2026u);
    std::mt19937 reference(2026u);
    for (int i = 0; i < 1300; i++)
        ASSERT_EQ(genrand_int32(), reference()) << "number " << i;
}

}  // namespace
