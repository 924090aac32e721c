// The sends of a group of voices with sends of their own: one pass that feeds the reverb, the
// chorus and the dry signal, its vector form against the scalar one.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <vector>

#include "effects/send_kernels.h"

TEST(GroupSends, VectorFormGivesTheScalarValues)
{
    if (!cpu_has.sse2)
        GTEST_SKIP() << "no SSE2 on this processor";
    std::mt19937 rng(5);
    std::uniform_int_distribution<int32> any(INT32_MIN, INT32_MAX), mixed(-(1 << 28), 1 << 28), pick(0, 15);
    std::uniform_real_distribution<float> gain(0.0f, 1.3f);
    for (int trial = 0; trial < 2000; trial++) {
        const int32 n = trial % 37;
        // Inputs and sums some at the limits, so that the held products and the wrapping sums
        // are both reached; the dry gain plain (negative) on every other trial.
        auto values = [&] {
            std::vector<int32> v((size_t)n);
            for (int32& x : v)
                x = pick(rng) == 0 ? (pick(rng) & 1 ? any(rng) : INT32_MIN + pick(rng)) : mixed(rng);
            return v;
        };
        const std::vector<int32> in = values();
        std::vector<int32> rev = values(), cho = values(), dry = values();
        std::vector<int32> rev2 = rev, cho2 = cho, dry2 = dry;
        const float gr = gain(rng), gc = trial % 5 ? gain(rng) : 0.0f, gd = trial % 2 ? gain(rng) : -1.0f;
        group_sends_sse2(in.data(), rev.data(), cho.data(), dry.data(), n, gr, gc, gd);
        group_sends_scalar(in.data(), rev2.data(), cho2.data(), dry2.data(), n, gr, gc, gd);
        ASSERT_EQ(rev, rev2) << "trial " << trial;
        ASSERT_EQ(cho, cho2) << "trial " << trial;
        ASSERT_EQ(dry, dry2) << "trial " << trial;
    }
}
