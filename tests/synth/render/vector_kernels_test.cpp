// The vector kernels against their scalar twins on random runs, values and gains near the limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "effects/send_kernels.h"
#include "render/cpu_features.h"
#include "render/filter_kernels.h"
#include "support/guards.h"
#include "render/mix_kernels.h"
#include "render/resample.h"
#include "render/resample_settings.h"

namespace {

// n + 1 values, some near the limits when `wild`.
std::vector<int32> random_values(std::mt19937& rng, size_t n, bool wild)
{
    std::uniform_int_distribution<int32> value(-32768, 32767), any(INT32_MIN, INT32_MAX), pick(0, 15);
    std::vector<int32> s(n + 1);
    for (int32& v : s)
        v = wild && pick(rng) == 0 ? any(rng) / 4096 : value(rng);
    return s;
}

// A mixing buffer of n + 1 values, some at the limits when `wild`.
std::vector<int32> random_sums(std::mt19937& rng, size_t n, bool wild)
{
    std::uniform_int_distribution<int32> mixed(-(1 << 28), 1 << 28), pick(0, 15);
    std::vector<int32> out(n + 1);
    for (int32& v : out)
        v = wild && pick(rng) == 0 ? (pick(rng) & 1 ? INT32_MAX - pick(rng) : INT32_MIN + pick(rng))
                                   : mixed(rng);
    return out;
}

TEST(MixKernels, VectorFormsGiveTheScalarTwinsValues)
{
    std::mt19937 rng(20240611), pair_rng(7);
    std::uniform_int_distribution<int32> inc(-40, 40), small(-8191, 8191), large(-200000, 200000);
    for (int trial = 0; trial < 3000; trial++) {
        const int32 n = trial % 70;
        const bool wild = trial % 3 == 0, wide = trial % 7 == 0;
        const int32 gl = wide ? large(rng) : small(rng), gr = wide ? large(rng) : small(rng);
        const int32 il = trial % 2 ? inc(rng) : 0, ir = trial % 5 ? inc(rng) : 0;
        SCOPED_TRACE(testing::Message() << "trial " << trial << " n " << n << " gains " << gl
                                        << "+" << il << " " << gr << "+" << ir);
        for (int stride = 1; stride <= 2; stride++) {
            // Exactly the run's values in a buffer of their own, so that a read or write past
            // them is caught under AddressSanitizer (the right side of pairs starts at 1).
            const std::vector<int32> s = random_values(rng, (size_t)n, wild);
            const std::vector<int32> sums = random_sums(rng, (size_t)n * stride, wild);
            const size_t used = n > 0 ? (size_t)(n - 1) * stride + 1 : 0;
            for (size_t side = 0; side < (size_t)stride; side++) {
                std::vector<int32> a(sums.begin() + side, sums.begin() + side + used), b = a;
                mix_gain_run1(a.data(), stride, s.data(), n, gl, il);
                mix_gain_run1_scalar(b.data(), stride, s.data(), n, gl, il);
                ASSERT_EQ(a, b) << "one gain, stride " << stride << " side " << side;
            }
        }
        for (bool centred : {false, true}) {  // centred: one gain on both sides
            const std::vector<int32> s = random_values(rng, (size_t)n, wild);
            std::vector<int32> a = random_sums(rng, (size_t)n * 2, wild), b = a;
            mix_gain_run2(a.data(), s.data(), n, gl, il, centred ? gl : gr, centred ? il : ir);
            mix_gain_run2_scalar(b.data(), s.data(), n, gl, il, centred ? gl : gr, centred ? il : ir);
            ASSERT_EQ(a, b) << (centred ? "one gain on both sides" : "two gains");
        }
        // The two halves of a pair mixed in one pass: the two one-sided runs.
        const std::vector<int32> sl = random_values(pair_rng, (size_t)n, wild),
                                 sr = random_values(pair_rng, (size_t)n, wild);
        std::vector<int32> a = random_sums(pair_rng, (size_t)n * 2, wild), b = a;
        mix_gain_pair(a.data(), sl.data(), sr.data(), n, gl, il, gr, ir);
        mix_gain_run1_scalar(b.data(), 2, sl.data(), n, gl, il);
        mix_gain_run1_scalar(b.data() + 1, 2, sr.data(), n, gr, ir);
        ASSERT_EQ(a, b) << "a pair";
    }
}

// A 64-bit product added and held at the limits, the gain stepping, the other side untouched.
TEST(MixKernels, SumsHoldAtTheLimitsAndGainsStep)
{
    std::vector<int32> out(32, 0), s(16, 1000);
    out[0] = INT32_MAX - 10, out[2] = INT32_MIN + 10, s[1] = -1000;
    mix_gain_run1(out.data(), 2, s.data(), 16, 8000, -100);
    EXPECT_EQ((std::vector<int32>{out[0], out[2], out[4], out[30]}),
              (std::vector<int32>{INT32_MAX, INT32_MIN, 7800 * 1000, (8000 - 1500) * 1000}));
    for (int i = 1; i < 32; i += 2)
        EXPECT_EQ(out[i], 0) << "value " << i << " of the other side";

    std::vector<int32> pair(16, 5), v(8, -32768);
    mix_gain_run2(pair.data(), v.data(), 8, 8191, 0, 0, 1);
    EXPECT_EQ((std::vector<int32>{pair[0], pair[1], pair[15]}),
              (std::vector<int32>{5 - 8191 * 32768, 5, 5 - 7 * 32768}));
}

}  // namespace

TEST(GaussKernel, FourAtOnceGivesTheScalarValues)
{
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> value(-32768, 32767);
    AtExit put_back([n = gauss_n] {
        gauss_n = n;
        initialize_gauss_table(gauss_n);
    });
    for (int order : {25, 24}) {  // 24 takes the general loop of the scalar form
        gauss_n = order;
        for (int trial = 0; trial < 200; trial++) {
            const int32 frames = 40 + (int32)(rng() % 400);
            std::vector<sample_t> data((size_t)frames + 2, 0);
            for (int32 i = 0; i < frames; i++)
                data[(size_t)i] = (sample_t)(trial % 4 == 0 ? (i % 2 ? 32767 : -32768) : value(rng));
            const splen_t end = (splen_t)frames << FRACTION_BITS;
            const resample_rec_t rec = {0, end, end};
            const int32 incr = (int32)(rng() % 9000) + 1;
            const bool down = trial % 3 == 0;
            const int64 span = (int64)(frames - 1) << FRACTION_BITS;
            const int32 n = (int32)std::min<int64>(span / incr, 300);
            const int64 start = down ? span : (int64)(rng() % 4096);
            std::vector<resample_t> a((size_t)n + 1), b((size_t)n + 1);
            resample_gauss_run(data.data(), start, down ? -incr : incr, n, a.data(), &rec);
            resample_gauss_run_scalar(data.data(), start, down ? -incr : incr, n, b.data(), &rec);
            ASSERT_EQ(a, b) << "order " << order << " trial " << trial << " step " << incr;
        }
    }
}

// Four state-variable filters at once against the scalar form: loud states and inputs, cutoffs
// up to a sixth of the rate, every resonance (sums inside 32 bits, where the scalar is defined).
TEST(FilterKernels, FourAtOnceGivesTheScalarValues)
{
    if (!cpu_has.avx2)
        GTEST_SKIP() << "no AVX2 on this processor";
    std::mt19937 rng(31);
    std::uniform_int_distribution<int32> value(-(1 << 24), 1 << 24), f_of(1 << 16, 1 << 24),
        q_of(1 << 22, 3 << 23);
    for (int trial = 0; trial < 400; trial++) {
        const int32 n = trial % 23;
        int32 sa[4][3], sb[4][3], f[4], q[4];
        std::vector<int32> in[4], oa[4], ob[4];
        int32 *pa[4], *pb[4], *outa[4], *outb[4];
        const int32* ins[4];
        for (int k = 0; k < 4; k++) {
            for (int m = 0; m < 3; m++)
                sa[k][m] = sb[k][m] = value(rng) / 2;
            f[k] = f_of(rng), q[k] = q_of(rng);
            in[k].resize((size_t)n);
            for (int32& x : in[k])
                x = value(rng);
            oa[k].assign((size_t)n, 0), ob[k].assign((size_t)n, 0);
            pa[k] = sa[k], pb[k] = sb[k], ins[k] = in[k].data();
            outa[k] = oa[k].data(), outb[k] = ob[k].data();
        }
        svf4_avx2(pa, f, q, ins, outa, n);
        svf4_scalar(pb, f, q, ins, outb, n);
        for (int k = 0; k < 4; k++)
            ASSERT_TRUE(oa[k] == ob[k] && std::equal(sa[k], sa[k] + 3, sb[k]))
                << "trial " << trial << " filter " << k;
    }
}

TEST(CopyKernel, VectorFormCopiesEveryValueWithItsSign)
{
    const sample_t edge[4] = {-32768, 32767, -1, 0};
    for (int64 n = 0; n <= 19; n++) {
        std::vector<sample_t> data((size_t)n);
        for (int64 k = 0; k < n; k++)
            data[(size_t)k] = k < 4 ? edge[k] : (sample_t)(k * 4099 - 30000);
        // Each value as it was, and the one after the run untouched.
        std::vector<resample_t> a((size_t)n + 1, 7), b = a, want(data.begin(), data.end());
        want.push_back(7);
        copy_samples_sse2(a.data(), data.data(), n);
        copy_samples_scalar(b.data(), data.data(), n);
        ASSERT_EQ(a, want) << n << " values";
        ASSERT_EQ(b, want) << n << " values";
    }
}

// Two-pole filters of four and eight voices at once against the scalar form: any cutoff and
// resonance, states anywhere (some beyond the 32-bit range, so that outputs are held).
TEST(FilterKernels, TwoPoleLanesGiveTheScalarValues)
{
    std::mt19937 rng(47);
    std::uniform_real_distribution<double> cutoff(5, 0.48 * 44100), reso_db(0, 96), state(-1, 1);
    const std::tuple<int, bool, decltype(&two_pole4_sse2)> forms[] = {
        {4, cpu_has.sse2, two_pole4_sse2}, {8, cpu_has.avx2, two_pole8_avx2}};
    for (auto [lanes, here, run] : forms)
        for (int trial = 0; here && trial < 300; trial++) {
            const int32 n = trial % 23;
            float s[2][8][2], *sp[2][8];
            TwoPoleCoefs c[8];
            std::vector<int32> in[8], out[2][8];
            const int32* ins[8];
            int32* outs[2][8];
            for (int k = 0; k < lanes; k++) {
                c[k] = two_pole_coefs(cutoff(rng), reso_db(rng), 44100);
                in[k] = random_values(rng, (size_t)n, trial % 2);
                ins[k] = in[k].data();
                for (int m = 0; m < 2; m++)
                    s[0][k][m] = s[1][k][m] = (float)(state(rng) * (trial % 3 ? 1e6 : 4e9));
                for (int f = 0; f < 2; f++) {
                    out[f][k].assign((size_t)n, 0);
                    sp[f][k] = s[f][k], outs[f][k] = out[f][k].data();
                }
            }
            run(sp[0], c, ins, outs[0], n);
            two_pole_scalar(lanes, sp[1], c, ins, outs[1], n);
            for (int k = 0; k < lanes; k++) {
                SCOPED_TRACE(testing::Message() << lanes << " lanes, trial " << trial << " filter " << k);
                ASSERT_EQ(out[0][k], out[1][k]);
                ASSERT_EQ(0, memcmp(s[0][k], s[1][k], sizeof(s[0][k])));
            }
        }
}

// A group's sends four at a time against the scalar form; a negative dry gain passes it plain.
TEST(SendKernels, VectorFormGivesTheScalarValues)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> gain(0.0f, 1.3f);
    for (int trial = 0; cpu_has.sse2 && trial < 2000; trial++) {
        const int32 n = trial % 37;
        const bool wild = trial % 3 == 0;
        const std::vector<int32> in = random_sums(rng, (size_t)n, wild);
        std::vector<int32> a[3] = {random_sums(rng, (size_t)n, wild), random_sums(rng, (size_t)n, wild),
                                   random_sums(rng, (size_t)n, wild)};
        std::vector<int32> b[3] = {a[0], a[1], a[2]};
        const float gr = gain(rng), gc = gain(rng), gd = trial % 2 ? gain(rng) : -1.0f;
        group_sends_sse2(in.data(), a[0].data(), a[1].data(), a[2].data(), n, gr, gc, gd);
        group_sends_scalar(in.data(), b[0].data(), b[1].data(), b[2].data(), n, gr, gc, gd);
        for (int k = 0; k < 3; k++)
            ASSERT_EQ(a[k], b[k]) << "trial " << trial << " buffer " << k;
    }
}
