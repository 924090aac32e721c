// Insertion effects and the equalisers, run directly on signals.
#include "effect_fixture.h"

#include "play/channels.h"
#include "readmidi/sysex.h"

using InsertionTest = EffectTest;

TEST_F(InsertionTest, EveryKnownTypeRunsAndStaysBounded)
{
    struct Type { bool xg; int msb, lsb; } types[] = {
        {0, 0x01, 0x00}, {0, 0x01, 0x10}, {0, 0x01, 0x11}, {0, 0x01, 0x25}, {0, 0x01, 0x26}, {0, 0x01, 0x72},
        {0, 0x01, 0x73}, {1, 0x05, 0},    {1, 0x06, 0},    {1, 0x07, 0},    {1, 0x08, 0},    {1, 0x41, 0},
        {1, 0x41, 1},    {1, 0x42, 0},    {1, 0x43, 0},    {1, 0x44, 0},    {1, 0x46, 0},    {1, 0x47, 0},
        {1, 0x49, 0},    {1, 0x4A, 0},    {1, 0x4B, 0},    {1, 0x4C, 0},    {1, 0x4D, 0},    {1, 0x5E, 0}};
    for (const Type& t : types) {
        SCOPED_TRACE(std::to_string(t.msb) + " " + std::to_string(t.lsb));
        std::string m = messages_of([&] {
            if (t.xg) {
                set_effect_param_xg(XG_SLOT_INSERTION, 0, 0x00, t.msb);
                set_effect_param_xg(XG_SLOT_INSERTION, 0, 0x01, t.lsb);
            } else {
                set_effect_param_gs(GS_INSERTION_TYPE_MSB, t.msb);
                set_effect_param_gs(GS_INSERTION_TYPE_LSB, t.lsb);
            }
        });
        EXPECT_NE(m.find(t.xg ? "XG EFX: " : "GS EFX: "), std::string::npos);
        auto out = run_stage(44100, [](int32 i) { return sine(220.0, i, 1 << 28); },
                             t.xg ? xg_insertion : do_insertion_effect_gs);
        EXPECT_TRUE(std::any_of(out.begin(), out.end(), [](int32 v) { return v != 0; }));
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](int32 v) { return std::abs(v) < (1 << 30); }));
    }
}

// Output over input RMS of a sine of amp through the stage, over its second quarter second.
static double gain_at(double freq, const Stage& stage, double amp = 1 << 26)
{
    auto out = run_stage(22050, [=](int32 i) { return sine(freq, i, amp); }, stage);
    return rms(side_of(out, 0), 11025, 22050) / (amp / std::sqrt(2.0));
}

TEST_F(InsertionTest, OverdriveIsLinearWhenQuietAndClipsWhenLoud)
{
    set_effect_param_gs(GS_INSERTION_TYPE_MSB, 0x01);
    set_effect_param_gs(GS_INSERTION_TYPE_LSB, 0x10);
    const double quiet = gain_at(220.0, do_insertion_effect_gs, 1 << 20);
    const double louder = gain_at(220.0, do_insertion_effect_gs, 1 << 24);  // 16 times the input
    EXPECT_NEAR(louder / quiet, 1.0, 1.5 / 16);
    EXPECT_LT(gain_at(220.0, do_insertion_effect_gs, 1 << 27) / louder, 0.5);  // 8 times more
}

TEST_F(InsertionTest, EqualisersShapeTheSpectrum)
{
    set_effect_param_gs(GS_EQ_LOW_GAIN, 0x4C);  // GS equaliser: low gain +12 dB
    auto gs_eq = [](int32* b, int32 n) {
        set_ch_eq_gs(b, n);
        std::fill(b, b + n, 0);
        do_ch_eq_gs(b, n);
    };
    EXPECT_GT(gain_at(50.0, gs_eq), 3.0);
    EXPECT_NEAR(gain_at(8000.0, gs_eq), 1.0, 0.05);

    set_effect_param_xg(-1, 0, XG_MULTI_EQ_BASE + 0x01, 76);  // XG band 1 (80 Hz shelf) +12 dB
    ASSERT_TRUE(multi_eq_xg_active());
    EXPECT_GT(gain_at(30.0, do_multi_eq_xg), 3.0);
    EXPECT_NEAR(gain_at(5000.0, do_multi_eq_xg), 1.0, 0.05);

    // The XG part equaliser of the first channel: treble -12 dB at its 10 kHz shelf.
    Restore eq(channel[0].eq_xg, part_eq_xg{0x40, 52, 0x0C, 0x36, 1});
    auto part = [](int32* b, int32 n) { do_ch_eq_xg(b, n, 0); };
    EXPECT_LT(gain_at(15000.0, part), 0.4);
    EXPECT_NEAR(gain_at(200.0, part), 1.0, 0.05);

    // The XG tremolo's own equaliser is flat at its defaults: held still, it passes all alike.
    set_effect_param_xg(XG_SLOT_INSERTION, 0, 0x00, 0x46);
    set_effect_param_xg(XG_SLOT_INSERTION, 0, 0x01, 0x00);
    set_effect_param_xg(XG_SLOT_INSERTION, 0, 0x03, 0);  // no depth
    EXPECT_NEAR(gain_at(10000.0, xg_insertion) / gain_at(200.0, xg_insertion), 1.0, 0.04);
}
