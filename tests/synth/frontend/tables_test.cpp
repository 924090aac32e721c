// The start-up tables: spot values and the temperaments' step ratios.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "frontend/mt19937.h"
#include "frontend/tables.h"

namespace {

struct Tables : ::testing::Test {
    static void SetUpTestSuite() { init_start_tables(); }
};

TEST_F(Tables, EqualTemperament)
{
    EXPECT_EQ(freq_table[0], 8176);
    EXPECT_EQ(freq_table[60], 261626);
    EXPECT_EQ(freq_table[69], 440000);
    EXPECT_EQ(freq_table[127], 12543854);
    // Every entry of every tuning program, also after a program was retuned and reset.
    freq_table_tuning[5][60] = 1;
    init_freq_table_tuning();
    for (int p = 0; p < 128; p++)
        for (int n = 0; n < 128; n++)
            ASSERT_EQ(freq_table_tuning[p][n],
                      (int32)(440.0L * powl(2.0L, (n - 69) / 12.0L) * 1000.0L + 0.5L))
                << "program " << p << " note " << n;
}

// Each row's notes divided by the tonic of their octave block give the step ratios.
void expect_row_ratios(const int32* row, int key, const double ratio[12], double factor,
                       const char* what)
{
    for (int octave = 1; octave <= 8; octave++) {
        int tonic = key + 12 * octave;
        double tonic_hz = 440.0 * std::pow(2.0, (tonic - 69) / 12.0);
        for (int s = 0; s < 12; s++) {
            double expect = tonic_hz * ratio[s] * factor * 1000.0;
            ASSERT_NEAR(row[tonic + s], expect, 0.51) << what << " key " << key << " step " << s;
        }
    }
}

TEST_F(Tables, PythagoreanRows)
{
    EXPECT_EQ(freq_table_pytha[0][67], 392438);  // G in C major: 3/2 of middle C
    const double major[12] = {1, 256.0 / 243, 9.0 / 8, 32.0 / 27, 81.0 / 64, 4.0 / 3,
                              729.0 / 512, 1.5, 128.0 / 81, 27.0 / 16, 16.0 / 9, 243.0 / 128};
    const double minor[12] = {1, 2187.0 / 2048, 9.0 / 8, 19683.0 / 16384, 81.0 / 64, 4.0 / 3,
                              729.0 / 512, 1.5, 6561.0 / 4096, 27.0 / 16, 16.0 / 9, 243.0 / 128};
    for (int k : {0, 7, 9, 11}) {
        expect_row_ratios(freq_table_pytha[k], k, major, 1.0, "pythagorean major");
        expect_row_ratios(freq_table_pytha[k + 12], k, minor, 1.0, "pythagorean minor");
    }
    // The lowest notes belong to the block of octave -1: in C major note 0 is its tonic; in
    // A major note 0 is the minor third above the A of that block.
    EXPECT_EQ(freq_table_pytha[0][0], freq_table[0]);
    EXPECT_EQ(freq_table_pytha[9][0], (int32)(440.0 * std::pow(2.0, -6.0) * 32 / 27 * 1000 + 0.5));
}

TEST_F(Tables, MeantoneAndPureIntonationRows)
{
    // Quarter-comma meantone: fifths of 5^(1/4), major thirds of 5/4.
    auto p5 = [](double e) { return std::pow(5.0, e); };
    const double mt_major[12] = {1,          8 / p5(1.25), p5(0.5) / 2, 4 / p5(0.75),
                                 1.25,       2 / p5(0.25), p5(1.5) / 8, p5(0.25),
                                 1.6,        p5(0.75) / 2, 4 / p5(0.5), p5(1.25) / 4};
    const double b = 10.0 / 3;
    const double mt_minor[12] = {1,
                                 std::cbrt(b * b * b * b * b * b * b) / 16,
                                 std::cbrt(b * b) / 2,
                                 125.0 / 108,
                                 std::cbrt(b * b * b * b) / 4,
                                 2 / std::cbrt(b),
                                 25.0 / 18,
                                 std::cbrt(b),
                                 std::cbrt(b * b * b * b * b * b * b * b) / 16,
                                 5.0 / 3,
                                 4 / std::cbrt(b * b),
                                 std::cbrt(b * b * b * b * b) / 4};
    const double comma = 81.0 / 80;
    for (int k : {0, 2, 9}) {
        expect_row_ratios(freq_table_meantone[k], k, mt_major, 1.0, "meantone major");
        expect_row_ratios(freq_table_meantone[k + 12], k, mt_minor, comma, "meantone minor+");
        expect_row_ratios(freq_table_meantone[k + 24], k, mt_minor, 1.0, "meantone minor");
        expect_row_ratios(freq_table_meantone[k + 36], k, mt_major, comma, "meantone major+");
    }
    const double pure_major[12] = {1, 16.0 / 15, 9.0 / 8, 6.0 / 5, 5.0 / 4, 4.0 / 3,
                                   45.0 / 32, 1.5, 8.0 / 5, 5.0 / 3, 9.0 / 5, 15.0 / 8};
    const double pure_minor[12] = {1, 25.0 / 24, 10.0 / 9, 75.0 / 64, 1.25, 4.0 / 3,
                                   25.0 / 18, 1.5, 25.0 / 16, 5.0 / 3, 16.0 / 9, 15.0 / 8};
    for (int k : {0, 5, 11}) {
        expect_row_ratios(freq_table_pureint[k], k, pure_major, 1.0, "pure major");
        expect_row_ratios(freq_table_pureint[k + 12], k, pure_minor, comma, "pure minor+");
        expect_row_ratios(freq_table_pureint[k + 24], k, pure_minor, 1.0, "pure minor");
        expect_row_ratios(freq_table_pureint[k + 36], k, pure_major, comma, "pure major+");
    }
    // User temperaments start as the tonic of each note's block.
    const double unison[12] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    expect_row_ratios(freq_table_user[3][14], 2, unison, 1.0, "user");
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
