// The final stage: noise shaping for each encoding, the left/right delay, the reverb switch.
#include "effect_fixture.h"

#include <numeric>

#include "support/cpu_forms.h"

using FinalStage = EffectTest;

TEST_F(FinalStage, NoiseShapingForEachEncoding)
{
    const int32 s16 = PE_16BIT | PE_SIGNED;
    const struct { int32 encoding; int type; std::vector<int32> in, out; } cases[] = {
        // Each sample's cut-off bits go to the next sample of its own channel.
        {PE_SIGNED, 1, {0x1FFFFF, 1, 0x1FFFFF, 1}, {0, 0, 0x200000, 0}},
        {s16, 1, {1 << 30, -(1 << 30)}, {268435455 & ~8191, -268435455 & ~8191}},  // limited first
        // The soft clippers, 1.5u - 0.5u^3 and 2u - u^2, at half and full scale.
        {s16, 2, {1 << 27, 1 << 30, -(1 << 30)}, {184549376, 268435456, -268435455}},
        {s16, 3, {1 << 27, 1 << 30, -(1 << 30)}, {201326592, 268435456, -268435456}},
        {PE_24BIT | PE_SIGNED, 3, {12345, -54321}, {12345, -54321}},  // not shaped
        {PE_ULAW, 3, {12345, -54321}, {12345, -54321}},
    };
    for (const auto& c : cases) {
        mode_.encoding = c.encoding, noise_sharp_type = c.type;
        init_effect();
        std::vector<int32> v = c.in;
        do_noise_shaping(v.data(), (int32)v.size());
        EXPECT_EQ(v, c.out) << c.encoding << " type " << c.type;
    }
}

// Frames through the left/right delay newly set to `mode`, in blocks of 4096, impulses of 2^20
// at the frames given.
static std::vector<int32> lr_run(int mode, int32 frames, const std::vector<int32>& at)
{
    effect_lr_mode = mode;
    init_effect();
    std::vector<int32> all(2 * (size_t)frames), b(2 * 4096);
    for (int32 done = 0; done < frames; done += 4096) {
        const int32 n = std::min<int32>(4096, frames - done);
        std::fill(b.begin(), b.end(), 0);
        for (int32 t : at)
            if (t >= done && t < done + n)
                b[2 * (t - done)] = b[2 * (t - done) + 1] = 1 << 20;
        effect_left_right_delay(b.data(), n);
        std::copy(b.begin(), b.begin() + 2 * n, all.begin() + 2 * done);
    }
    return all;
}

TEST_F(FinalStage, LeftRightDelayWidensStereoOnly)
{
    // 25 ms: 1102.5 frames, rounded to the even 1102; a block's tail comes out in the next.
    const int32 d = 1102, on = 1 << 20;
    auto out = lr_run(0, 8192, {10, 4000});
    EXPECT_EQ((std::vector<int32>{out[2 * 10], out[2 * 10 + 1], out[2 * (10 + d)], out[2 * (10 + d + 1)],
                                  out[2 * (4000 + d)]}),
              (std::vector<int32>{0, on, on, 0, on}));

    out = lr_run(1, 4096, {10});
    EXPECT_EQ(std::make_tuple(out[2 * 10], out[2 * (10 + d) + 1]), std::make_tuple(on, on));

    mode_.encoding |= PE_MONO;  // mono output is left alone
    std::vector<int32> mono(4096);
    std::iota(mono.begin(), mono.end(), 0);
    const std::vector<int32> same = mono;
    effect_left_right_delay(mono.data(), 4096);
    EXPECT_TRUE(mono == same);
    mode_.encoding &= ~PE_MONO;

    effect_lr_delay_msec = 1 << 30;  // longer than the line holds: cut to it
    EXPECT_EQ(lr_run(0, 8192, {0})[2 * 4096], on);

    // Alternating: left delayed to 10 s, fading to dry by 11 s; right fading to delayed by 12 s.
    effect_lr_delay_msec = 25;
    const int32 s = 44100, t0 = 1000, t1 = 10 * s + s / 2, t2 = 13 * s;
    out = lr_run(2, t2 + 2 * d, {t0, t1, t2});
    EXPECT_EQ((std::vector<int32>{out[2 * t0], out[2 * (t0 + d)], out[2 * t0 + 1], out[2 * t1 + 1],
                                  out[2 * t2], out[2 * t2 + 1], out[2 * (t2 + d) + 1]}),
              (std::vector<int32>{0, on, on, on, on, 0, on}));
    // Half-way through the fade the dry copy is at half level, the delayed one at the fade's then.
    EXPECT_NEAR(out[2 * t1], on / 2, 1 << 9);
    EXPECT_NEAR(out[2 * (t1 + d)], on * (0.5 - (double)d / s), 1 << 9);
}

// The reverb switch as written and read, and which reverb runs in the final stage.
TEST_F(FinalStage, ReverbSwitch)
{
    const struct { const char* arg; int value, global, standard, level; } cases[] = {
        {"n", 1, 0, 1, 40},        {"g", 2, 1, 1, 40},        {"f", 3, 0, 0, 40},
        {"G", 4, 1, 0, 40},        {"n,50", -50, 0, 1, 50},   {"g,50", -178, 1, 1, 50},
        {"f,50", -306, 0, 0, 50},  {"G,127", -511, 1, 0, 127}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arg);
        ASSERT_EQ(parse_opt_reverb(c.arg), 0);
        EXPECT_EQ(std::make_tuple(opt_reverb_control, (int)reverb_is_global(c.value),
                                  (int)reverb_is_standard(c.value), reverb_global_level(c.value)),
                  std::make_tuple(c.value, c.global, c.standard, c.level));
    }
    std::string msg = messages_of([] { EXPECT_EQ(parse_opt_reverb("f,0"), 1); });
    EXPECT_NE(msg.find("Reverb level must be between 1 and 127"), std::string::npos) << msg;

    // The tail after an impulse through do_effect (24-bit: no noise shaping).
    auto tail = [&](int control, bool mono) {
        mode_.encoding = (mono ? PE_MONO : 0) | PE_24BIT | PE_SIGNED, opt_reverb_control = control;
        init_effect();
        std::vector<int32> b(mono ? 1024 : 2048, 0);
        b[0] = b[mono ? 0 : 1] = 1 << 27;
        do_effect(b.data(), 1024);
        EXPECT_NEAR(b[0], 1 << 27, 1 << 20) << control;  // the dry impulse passes
        double e = 0;
        for (int k = 0; k < 4; k++) {
            std::fill(b.begin(), b.end(), 0);
            do_effect(b.data(), 1024);
            for (int32 v : b)
                e += (double)v * v;
        }
        return e;
    };
    EXPECT_EQ(tail(0, true), 0.0);
    const double mono = tail(3, true);  // the mono reverb
    EXPECT_GT(mono, 0.0);
    EXPECT_EQ(tail(4, true), mono);  // a global kind on mono output is that same reverb
    EXPECT_EQ(tail(3, false), 0.0);  // per channel: not in the final stage
    EXPECT_GT(tail(4, false), 0.0);
    EXPECT_GT(tail(-(128 + 60), false), 0.0);  // standard, global, level 60
    EXPECT_EQ(tail(-60, false), 0.0);          // standard per channel
}

// The dithered shaper gives the same in blocks of any size as in one, in every kernel form; a
// weighted sum of its output, known from a sample-by-sample model, pins each weight and the dither.
TEST_F(FinalStage, DitheredShaperInBlocksOfAnySize)
{
    noise_sharp_type = 4;
    std::vector<int32> input(2 * 8001);
    for (size_t i = 0; i < input.size(); i++)
        input[i] = (int32)((uint32)i * 2654435761u) >> (2 + i % 7);
    for (const CpuForm& form : cpu_forms()) {
        const CpuFormGuard narrowed(form);
        for (const bool mono : {false, true}) {
            SCOPED_TRACE(std::string(form.name) + (mono ? " mono" : " stereo"));
            mode_.encoding = PE_16BIT | PE_SIGNED | (mono ? PE_MONO : 0);
            std::vector<int32> whole = input, blocks = input;
            init_effect();
            do_noise_shaping(whole.data(), (int32)whole.size());
            init_effect();
            size_t at = 0;
            for (int32 n : {2, 6, 8192, 4100, 10, 2, 3690}) {
                do_noise_shaping(blocks.data() + at, n);
                at += (size_t)n;
            }
            EXPECT_TRUE(blocks == whole);
            int64 sum = 0;
            for (size_t i = 0; i < whole.size(); i++)
                sum += (int64)whole[i] * (int64)(i % 97 + 1);
            EXPECT_EQ(sum, mono ? 39236053748 : 39230876933);
        }
    }
}
