// Insertion and variation effects and the equalisers, run directly on signals.
#include "effect_fixture.h"

#include "play/channels.h"
#include "readmidi/sysex.h"

using InsertionTest = EffectTest;

static int32 sine(double freq, int32 i, double amp = 1 << 26)
{
    return (int32)(amp * std::sin(2 * M_PI * freq * i / 44100.0));
}

// Output over input RMS of a sine passed in place through fn for half a second (the second
// quarter second measured).
static double gain_at(double freq, const std::function<void(int32*, int32)>& fn)
{
    std::vector<int32> b(2 * 22050);
    for (int32 i = 0; i < 22050; i++)
        b[2 * i] = b[2 * i + 1] = sine(freq, i);
    for (int32 k = 0; k < 22050; k += 1024)
        fn(b.data() + 2 * k, 2 * std::min<int32>(1024, 22050 - k));
    double in = 0, out = 0;
    for (int32 i = 11025; i < 22050; i++) {
        double x = sine(freq, i);
        in += x * x;
        out += (double)b[2 * i] * b[2 * i];
    }
    return std::sqrt(out / in);
}

TEST_F(InsertionTest, EveryKnownTypeRunsAndStaysBounded)
{
    const int gs_types[][2] = {{0x01, 0x00}, {0x01, 0x10}, {0x01, 0x11}, {0x01, 0x25},
                               {0x01, 0x26}, {0x01, 0x72}, {0x01, 0x73}};
    const int xg_types[][2] = {{0x05, 0}, {0x06, 0}, {0x07, 0}, {0x08, 0}, {0x41, 0},
                               {0x41, 1}, {0x42, 0}, {0x43, 0}, {0x44, 0}, {0x46, 0},
                               {0x47, 0}, {0x49, 0}, {0x4A, 0}, {0x4B, 0}, {0x4C, 0},
                               {0x4D, 0}, {0x5E, 0}};
    auto loud_and_bounded = [](const std::function<void(int32*, int32)>& fn) {
        std::vector<int32> b(2048);
        double e = 0;
        for (int32 k = 0; k < 44100; k += 1024) {
            for (int32 i = 0; i < 1024; i++)
                b[2 * i] = b[2 * i + 1] = sine(220.0, k + i, 1 << 28);
            fn(b.data(), 2048);
            for (int32 v : b) {
                if (std::abs(v) >= (1 << 30))
                    return false;
                e += (double)v * v;
            }
        }
        return e > 0;
    };
    for (auto& t : gs_types) {
        std::string m = messages_of([&] {
            set_effect_param_gs(GS_INSERTION_TYPE_MSB, t[0]);
            set_effect_param_gs(GS_INSERTION_TYPE_LSB, t[1]);
        });
        EXPECT_NE(m.find("GS EFX: "), std::string::npos) << t[0] << " " << t[1];
        EXPECT_TRUE(loud_and_bounded(do_insertion_effect_gs)) << t[0] << " " << t[1];
    }
    for (auto& t : xg_types) {
        std::string m = messages_of([&] {
            set_effect_param_xg(XG_SLOT_INSERTION, 0, 0x00, t[0]);
            set_effect_param_xg(XG_SLOT_INSERTION, 0, 0x01, t[1]);
        });
        EXPECT_NE(m.find("XG EFX: "), std::string::npos) << t[0] << " " << t[1];
        EXPECT_TRUE(loud_and_bounded([](int32* b, int32 n) {
            do_insertion_effect_xg(b, n, &insertion_effect_xg[0]);
        })) << t[0] << " " << t[1];
    }
}

// Frames until the first non-zero value of each side after an impulse sent to the variation
// effect in system connection.
static std::pair<int32, int32> first_echo(int32 frames)
{
    int32 left = -1, right = -1;
    std::vector<int32> in(2048), out(2048);
    for (int32 done = 0; done < frames && (left < 0 || right < 0); done += 1024) {
        std::fill(in.begin(), in.end(), 0);
        std::fill(out.begin(), out.end(), 0);
        if (done == 0)
            in[0] = in[1] = 1 << 26;
        set_ch_delay(in.data(), 2048, 127);
        do_variation_effect1_xg(out.data(), 2048);
        for (int32 i = 0; i < 1024; i++) {
            if (left < 0 && out[2 * i] != 0)
                left = done + i;
            if (right < 0 && out[2 * i + 1] != 0)
                right = done + i;
        }
    }
    return {left, right};
}

TEST_F(InsertionTest, VariationDelayTapsStayInsideTheirLines)
{
    set_effect_param_xg(XG_SLOT_EFFECT, 1, 0x5A, 1);  // system connection
    set_effect_param_xg(XG_SLOT_EFFECT, 1, 0x40, 0x05);  // Delay L,C,R: 333.3 / 166.7 ms
    auto echo = first_echo(44100);
    EXPECT_EQ(echo.first, 14699);
    EXPECT_EQ(echo.second, 7351);

    // A 14-bit delay time beyond the 715 ms the line holds comes out at the line's end (the
    // centre tap silenced so that the left tap is heard first).
    set_effect_param_xg(XG_SLOT_EFFECT, 1, 0x4D, 0);
    set_effect_param_xg(XG_SLOT_EFFECT, 1, 0x42, 0x7F);
    set_effect_param_xg(XG_SLOT_EFFECT, 1, 0x43, 0x7F);
    EXPECT_EQ(xg_effect_param(&variation_effect_xg[0], 1), 16383);
    echo = first_echo(2 * 44100);
    EXPECT_GE(echo.first, 31531);
    EXPECT_LE(echo.first, 31533);

    // In insertion connection nothing comes back from the send.
    set_effect_param_xg(XG_SLOT_EFFECT, 1, 0x5A, 0);
    echo = first_echo(44100);
    EXPECT_EQ(echo.first, -1);
}

TEST_F(InsertionTest, EqualisersShapeTheSpectrum)
{
    // GS equaliser: low gain +12 dB, the highs untouched.
    set_effect_param_gs(GS_EQ_LOW_GAIN, 0x4C);
    auto gs_eq = [](int32* b, int32 n) {
        std::vector<int32> out(n, 0);
        set_ch_eq_gs(b, n);
        do_ch_eq_gs(out.data(), n);
        std::copy(out.begin(), out.end(), b);
    };
    EXPECT_GT(gain_at(50.0, gs_eq), 3.0);
    EXPECT_NEAR(gain_at(8000.0, gs_eq), 1.0, 0.05);

    // XG multi equaliser: band 1 (80 Hz shelf) at +12 dB.
    set_effect_param_xg(-1, 0, XG_MULTI_EQ_BASE + 0x01, 76);
    ASSERT_TRUE(multi_eq_xg_active());
    EXPECT_GT(gain_at(30.0, do_multi_eq_xg), 3.0);
    EXPECT_NEAR(gain_at(5000.0, do_multi_eq_xg), 1.0, 0.05);

    // XG part equaliser of the first channel: treble -12 dB at its 10 kHz shelf.
    part_eq_xg saved = channel[0].eq_xg;
    channel[0].eq_xg = {0x40, 52, 0x0C, 0x36, 1};
    auto part = [](int32* b, int32 n) { do_ch_eq_xg(b, n, 0); };
    EXPECT_LT(gain_at(15000.0, part), 0.4);
    EXPECT_NEAR(gain_at(200.0, part), 1.0, 0.05);
    channel[0].eq_xg = saved;
}

TEST_F(InsertionTest, DriveAddsHarmonicsAndLoFiCutsBits)
{
    // The power-on XG insertion effect is the distortion: a 440 Hz tone gains a strong third
    // harmonic.
    std::vector<int32> b(2 * 8192);
    for (int32 i = 0; i < 8192; i++)
        b[2 * i] = b[2 * i + 1] = sine(440.0, i);
    for (int32 k = 0; k < 8192; k += 1024)
        do_insertion_effect_xg(b.data() + 2 * k, 2048, &insertion_effect_xg[0]);
    auto magnitude = [&](double f) {
        double re = 0, im = 0;
        for (int32 i = 4096; i < 8192; i++) {
            re += b[2 * i] * std::cos(2 * M_PI * f * i / 44100.0);
            im += b[2 * i] * std::sin(2 * M_PI * f * i / 44100.0);
        }
        return std::hypot(re, im);
    };
    EXPECT_GT(magnitude(1320.0), 0.1 * magnitude(440.0));

    // GS Lo-Fi 1 without its filters keeps six bits of the signal.
    set_effect_param_gs(GS_INSERTION_TYPE_MSB, 0x01);
    set_effect_param_gs(GS_INSERTION_TYPE_LSB, 0x72);
    set_effect_param_gs(GS_INSERTION_PARAMETER1 + 0, 0);
    set_effect_param_gs(GS_INSERTION_PARAMETER1 + 2, 0);
    for (int32 i = 0; i < 1024; i++)
        b[2 * i] = b[2 * i + 1] = sine(440.0, i, 1 << 27);
    do_insertion_effect_gs(b.data(), 2048);
    int nonzero = 0;
    for (int32 i = 0; i < 1024; i++) {
        ASSERT_EQ(b[2 * i] % (1 << 22), 0) << i;
        nonzero += b[2 * i] != 0;
    }
    EXPECT_GT(nonzero, 500);
}
