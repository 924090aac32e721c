// The send effects: the reverbs, the choruses and the variation delay.
#include "effect_fixture.h"

#include <random>

#include "readmidi/sysex.h"
#include "support/cpu_forms.h"

using SendEffects = EffectTest;

TEST_F(SendEffects, CombAndAllpassReverbAtTheDefaults)
{
    const freeverb_record& r = freeverb_status;
    auto sizes = [](const auto& units) {
        std::vector<int32> v;
        for (const auto& u : units)
            v.push_back(u.size);
        return v;
    };
    EXPECT_EQ(sizes(r.combL), (std::vector<int32>{1543, 1637, 1777, 1871, 1973, 2063, 2153, 2237}));
    EXPECT_EQ(sizes(r.combR), (std::vector<int32>{1571, 1669, 1801, 1901, 1993, 2087, 2179, 2267}));
    EXPECT_EQ(sizes(r.allpassL), (std::vector<int32>{311, 479, 613, 769}));
    EXPECT_EQ(sizes(r.allpassR), (std::vector<int32>{347, 503, 641, 809}));
    for (const freeverb_allpass& a : r.allpassL)
        EXPECT_EQ(a.feedbacki, 9227468);
    EXPECT_NEAR(r.roomsize, 0.938, 1e-9);
    EXPECT_NEAR(r.combL[0].feedback, 0.9084, 5e-5);
    EXPECT_EQ(std::make_tuple(r.wet1i, r.wet2i, r.pdelay.size), std::make_tuple(12582912, 4194304, 1));
    EXPECT_NEAR(r.wet_level, 0.0126, 5e-5);
    EXPECT_DOUBLE_EQ(REV_INP_LEV, r.wet_level);  // the sends of the next block are scaled so
    set_effect_param_gs(GS_REVERB_PREDELAY_TIME, 100);
    EXPECT_EQ(freeverb_status.pdelay.size, 4410);

    // Pre-LPF 7 is a one-pole low-pass at 200 Hz; a tone near half the rate passes only with 0.
    set_effect_param_gs(GS_REVERB_PRE_LPF, 7);
    EXPECT_EQ(std::make_tuple(reverb_status_gs.lpf.ai, reverb_status_gs.lpf.iai),
              std::make_tuple(152174, 16625041));
    double energy[2] = {0, 0};
    for (int pre_lpf : {7, 0}) {
        set_effect_param_gs(GS_REVERB_PRE_LPF, pre_lpf);
        for (int32 v : run_stage(44100, [](int32 i) { return (i & 1) ? 1 << 26 : -(1 << 26); },
                                 sent(set_ch_reverb, do_ch_reverb)))
            energy[pre_lpf == 0] += (double)v * v;
    }
    EXPECT_GT(energy[1], 100.0 * energy[0]);
}

// Seconds for the reverb's answer to an impulse to fall 30 dB.
static double reverb_decay()
{
    init_reverb();
    return decay_time(run_stage(8 * 44100, impulse, sent(set_ch_reverb, do_ch_reverb)), 30.0);
}

TEST_F(SendEffects, ImpulseTailLastsLongerWithTheReverbTime)
{
    double at_80[5];
    for (int macro = 0; macro <= 5; macro++) {  // 5: macro 4 of the standard reverb
        SCOPED_TRACE(macro);
        const bool standard = macro == 5;
        opt_reverb_control = standard ? 1 : 3;
        set_effect_param_gs(GS_REVERB_MACRO, std::min(macro, 4));
        const int time = reverb_status_gs.time;
        const double base = reverb_decay();
        set_effect_param_gs(GS_REVERB_TIME, standard ? 110 : time + 24);
        EXPECT_GT(base, standard ? 0.05 : 0.15);
        EXPECT_GT(reverb_decay(), base * (standard ? 1.0 : 1.2));
        if (!standard) {
            set_effect_param_gs(GS_REVERB_TIME, 80);
            at_80[macro] = reverb_decay();
        }
    }
    // At one reverb time the characters' own times set the order: Room 1, Room 3, Hall 1, Hall 2.
    EXPECT_TRUE(at_80[0] < at_80[2] && at_80[2] < at_80[3] && at_80[3] < at_80[4])
        << at_80[0] << " " << at_80[2] << " " << at_80[3] << " " << at_80[4];
}

// Each reverb answers a later impulse with the same sound, wherever it falls in the frames the
// reverb works on together (the plate's tank is swept by a 1 Hz wave: there a second later).
TEST_F(SendEffects, ReverbsAnswerALaterImpulseAlike)
{
    for (int macro : {4, 5, 6, 7}) {
        set_effect_param_gs(GS_REVERB_MACRO, macro);
        std::vector<int32> first;
        for (int32 at : {0, 1, 2, 3, 44100}) {
            if (macro == 5 && at % 44100 != 0)
                continue;
            init_reverb();
            auto out = run_stage(at + 8192, [=](int32 i) { return i == at ? 1 << 27 : 0; },
                                 sent(set_ch_reverb, do_ch_reverb));
            out.erase(out.begin(), out.begin() + 2 * at);
            if (at == 0)
                first = out;
            EXPECT_TRUE(out == first) << "macro " << macro << " at " << at;
        }
    }
}

// After an impulse, blocks with a silent send carry the tail, then come back exactly as they were.
static void expect_drains(int32 seconds)
{
    std::vector<int32> in(2048, 0), out(2048);
    bool tail = false;
    for (int32 n = 0; n <= seconds * 44100 / 1024; n++) {
        in[0] = in[1] = n == 0 ? 1 << 27 : 0;
        std::fill(out.begin(), out.end(), 7);
        set_ch_reverb(in.data(), 2048, 127);
        do_ch_reverb(out.data(), 2048);
        for (int32 v : out)
            tail |= n > 0 && v != 7;
    }
    EXPECT_TRUE(tail);
    std::fill(out.begin(), out.end(), 7);
    do_ch_reverb(out.data(), 2048);
    EXPECT_EQ(std::count(out.begin(), out.end(), 7), 2048);
}

TEST_F(SendEffects, EveryReverbCharacterRingsAndDrains)
{
    expect_drains(40);
    for (int macro = 5; macro <= 7; macro++) {
        SCOPED_TRACE(macro);
        set_effect_param_gs(GS_REVERB_MACRO, macro);
        auto out = run_stage(3 * 44100, impulse, sent(set_ch_reverb, do_ch_reverb));
        const double t = decay_time(out, 30.0);
        EXPECT_TRUE(t > 0.05 && t < 2.9) << t;
        if (macro == 5)  // the plate's two sides ring equally loud
            EXPECT_NEAR(rms(side_of(out, 0), 0, 88200) / rms(side_of(out, 1), 0, 88200), 1.0, 0.025);
        else if (macro == 6)  // the two sides echo together
            EXPECT_EQ(first_sound(out, 1), first_sound(out, 0));
        else  // the panning delay answers on the left, then on the right
            EXPECT_TRUE(first_sound(out, 0) > 0 && first_sound(out, 1) > first_sound(out, 0));
        expect_drains(60);
    }
    opt_reverb_control = 1;  // the standard reverb
    set_effect_param_gs(GS_REVERB_MACRO, 4);
    init_reverb();
    expect_drains(20);
}

// The comb bank's vector forms against the comb-at-a-time one: outputs, rings, filter stores and
// positions. Run -1 has moderate values in every comb and a random input; run e has the limits
// in comb e alone and no input, so that the comb-at-a-time sums stay in range.
TEST_F(SendEffects, CombBankFormsAgreeBitForBit)
{
    const int32 gains[8][3] = {  // damp1, damp2, feedback
        {0, FX_ONE, FX_ONE},          {FX_ONE, 0, 0},          {0, 0, 1},
        {1, FX_ONE - 1, FX_ONE - 1},  {FX_ONE / 2, FX_ONE / 2, FX_ONE},
        {3355443, 13421773, 15240000}, {FX_ONE - 7, 7, 0},     {5, 6000000, 16000001}};
    const freeverb_comb_form forms[3] = {FREEVERB_COMBS_SCALAR, FREEVERB_COMBS_SSE2, FREEVERB_COMBS_AVX2};
    int ran[3] = {0, 0, 0};
    for (int extreme = -1; extreme < 16; extreme++) {
        freeverb_record revs[3] = {};
        for (freeverb_record& rev : revs) {
            std::mt19937 rng(extreme + 2);
            for (int m = 0; m < 16; m++) {
                freeverb_comb* c = m < 8 ? &rev.combL[m] : &rev.combR[m - 8];
                set_freeverb_comb(c, 29 + 7 * m);
                c->index = m == 3 ? 1000 : 11 * m % c->size;  // one out of range: starts at 0
                const int32* g = gains[(3 * m + m / 8) % 8];
                c->damp1i = g[0], c->damp2i = g[1], c->feedbacki = g[2];
                const int32 limits[6] = {INT32_MIN, INT32_MAX, INT32_MIN + 1, -1, 1, 0};
                for (int32 i = 0; i < c->size; i++) {
                    const uint32_t r = rng();
                    c->buf[i] = extreme < 0 ? (int32)(r % (1u << 25)) - (1 << 24)
                                : m != extreme ? 0 : r % 8 < 6 ? limits[r % 8] : (int32)rng();
                }
                c->filterstore = extreme < 0 ? (int32)(rng() % 99991) - 49995
                                 : m != extreme ? 0 : m % 2 ? INT32_MAX : INT32_MIN;
            }
        }
        std::mt19937 in_rng(7);
        for (int32 n : {1, 3, 4, 5, 8, 13, 67, 300, 1001}) {
            std::vector<int32> in(n), out[3];
            for (int32& x : in)
                x = extreme < 0 ? (int32)(in_rng() % (1u << 21)) - (1 << 20) : 0;
            for (int f = 0; f < 3; f++) {
                out[f].assign(2 * n, 0);
                if (run_freeverb_combs(&revs[f], in.data(), out[f].data(), out[f].data() + n, n,
                                       forms[f])) {
                    ran[f]++;
                    EXPECT_EQ(out[f], out[0]) << "form " << f << " run " << extreme << " n " << n;
                }
            }
        }
        for (int f = 1; f < 3; f++) {
            for (int m = 0; m < 16 && ran[f] > 0; m++) {
                const freeverb_comb& a = m < 8 ? revs[0].combL[m] : revs[0].combR[m - 8];
                const freeverb_comb& b = m < 8 ? revs[f].combL[m] : revs[f].combR[m - 8];
                SCOPED_TRACE(testing::Message() << "form " << f << " run " << extreme << " comb " << m);
                EXPECT_TRUE(std::equal(a.buf, a.buf + a.size, b.buf));
                EXPECT_EQ(std::make_tuple(b.filterstore, b.index), std::make_tuple(a.filterstore, a.index));
            }
        }
        for (freeverb_record& rev : revs)
            do_ch_freeverb(nullptr, -2, &rev);
    }
    EXPECT_EQ(std::make_tuple(ran[1], ran[2]),
              std::make_tuple(cpu_has.sse2 ? 17 * 9 : 0, cpu_has.avx2 ? 17 * 9 : 0));
    // A gain past 1 is left to the comb-at-a-time form.
    freeverb_record rev = {};
    for (int m = 0; m < 8; m++)
        set_freeverb_comb(&rev.combL[m], 29), set_freeverb_comb(&rev.combR[m], 29);
    rev.combR[5].feedbacki = FX_ONE + 1;
    int32 x = 1, o[2] = {0, 0};
    for (freeverb_comb_form form : {FREEVERB_COMBS_SSE2, FREEVERB_COMBS_AVX2})
        EXPECT_FALSE(run_freeverb_combs(&rev, &x, o, o + 1, 1, form)) << form;
    do_ch_freeverb(nullptr, -2, &rev);
}

TEST_F(SendEffects, CombAndAllpassReverbAlikeInEveryForm)
{
    std::vector<int32> first;
    for (const CpuForm& form : cpu_forms()) {
        const CpuFormGuard narrowed(form);
        init_reverb();
        std::mt19937 rng(5);
        const auto noise = [&](int32 i) { return i < 5000 ? (int32)(rng() >> 3) - (1 << 28) : 0; };
        const std::vector<int32> out = run_stage(30000, noise, sent(set_ch_reverb, do_ch_reverb));
        if (first.empty())
            first = out;
        EXPECT_TRUE(out == first) << form.name;
    }
    EXPECT_GT(window_rms(side_of(first, 1), 5000, 20000)[0], 1e5);  // the tail rings
}

// Largest over smallest 50 ms RMS after the first half second of a 440 Hz tone plus its chorus.
static double beating(void (*chorus)(int32*, int32), int32 level, int seconds)
{
    const auto out = run_stage(seconds * 44100, [](int32 i) { return sine(440.0, i); },
                               sent(set_ch_chorus, chorus, level, true));
    const auto rms = window_rms(side_of(out, 0), 2205, 22050);
    return *std::max_element(rms.begin(), rms.end()) /
           std::max(1.0, *std::min_element(rms.begin(), rms.end()));
}

TEST_F(SendEffects, ChorusesBeatAgainstTheDryToneAndFollowTheirSettings)
{
    EXPECT_GT(beating(do_ch_chorus, 127, 4), 3.0);  // GS Chorus 3: rate 3, depth 19
    EXPECT_LT(beating(do_ch_chorus, 0, 2), 1.01);
    EXPECT_GT(beating(do_ch_chorus_xg, 127, 6), 3.0);  // XG Chorus 1
    EXPECT_LT(beating(do_ch_chorus_xg, 0, 2), 1.01);
    set_effect_param_xg(XG_SLOT_EFFECT, 1, 0x20, 0x00);  // no effect as the XG chorus type
    EXPECT_LT(beating(do_ch_chorus_xg, 127, 2), 1.01);

    set_effect_param_gs(GS_CHORUS_SEND_TO_REVERB, 127);
    std::fill(reverb_effect_buffer, reverb_effect_buffer + 2048, 0);
    run_stage(4096, [](int32) { return 1 << 24; }, sent(set_ch_chorus, do_ch_chorus));
    EXPECT_TRUE(reverb_effect_buffer[2046] != 0 && reverb_effect_buffer[2047] != 0);
    // Without the delay effect nothing would take its send out again: the chorus sends none.
    set_effect_param_gs(GS_CHORUS_SEND_TO_DELAY, 127);
    std::fill(delay_effect_buffer, delay_effect_buffer + 2048, 1);
    run_stage(4096, [](int32) { return 1 << 24; }, sent(set_ch_chorus, do_ch_chorus));
    EXPECT_EQ(std::count(delay_effect_buffer, delay_effect_buffer + 2048, 1), 2048);
    // The sides' delays sweep a quarter turn apart: the two sides differ.
    auto both = run_stage(44100, [](int32 i) { return sine(440.0, i); }, sent(set_ch_chorus, do_ch_chorus));
    double diff = 0;
    for (size_t i = 0; i < both.size(); i += 2)
        diff += std::abs((double)both[i] - both[i + 1]);
    EXPECT_GT(diff / 44100, 0.1 * rms(side_of(both, 0), 0, 44100));

    // The flanger macro (short delay, much feedback) rings longer than the chorus macro.
    auto ring = [](int macro) {
        set_effect_param_gs(GS_CHORUS_MACRO, macro);
        return decay_time(run_stage(44100, impulse, sent(set_ch_chorus, do_ch_chorus)), 40.0);
    };
    EXPECT_GT(ring(5), 2 * ring(0));
}

TEST_F(SendEffects, XgDryLevelScalesTheDrySignal)
{
    for (int32 level : {127, 64, 0}) {
        std::vector<int32> b(2048, 1 << 24);
        set_dry_signal_xg(b.data(), 2048, level);
        mix_dry_signal(b.data(), 2048);
        EXPECT_NEAR(b[2047], (1 << 24) * (level / 127.0), 1 << 4) << level;
    }
}

TEST_F(SendEffects, VariationDelayTapsStayInsideTheirLines)
{
    auto echo = [](int32 frames) {
        return run_stage(frames, [](int32 i) { return i == 0 ? 1 << 26 : 0; },
                         sent(set_ch_delay, do_variation_effect1_xg));
    };
    set_effect_param_xg(XG_SLOT_EFFECT, 1, 0x5A, 1);     // system connection
    set_effect_param_xg(XG_SLOT_EFFECT, 1, 0x40, 0x05);  // Delay L,C,R: 333.3 / 166.7 ms
    auto out = echo(44100);
    EXPECT_EQ(std::make_tuple(first_sound(out, 0), first_sound(out, 1)), std::make_tuple(14699, 7351));

    // A delay beyond the 715 ms line comes out at its end (centre tap silenced: left heard first).
    set_effect_param_xg(XG_SLOT_EFFECT, 1, 0x4D, 0);
    set_effect_param_xg(XG_SLOT_EFFECT, 1, 0x42, 0x7F);
    set_effect_param_xg(XG_SLOT_EFFECT, 1, 0x43, 0x7F);
    EXPECT_EQ(xg_effect_param(&variation_effect_xg[0], 1), 16383);
    const int32 left = first_sound(echo(2 * 44100), 0);
    EXPECT_TRUE(left >= 31531 && left <= 31533) << left;

    set_effect_param_xg(XG_SLOT_EFFECT, 1, 0x5A, 0);  // insertion connection: nothing returns
    EXPECT_EQ(first_sound(echo(44100), 0), -1);
}
