// Time as heard: onsets, envelopes, release and sustain, killed and delayed voices, no clicks.
#include "synth/render/voice_sound.h"

class VoiceTime : public VoiceSound {
protected:
    // Amplitude (RMS times root 2) of the left side over 100 samples from each ms after `from`.
    std::vector<double> envelope(int from, int ms) const
    {
        std::vector<int32> x = side(0);
        std::vector<double> out;
        for (int m = 0; m < ms; m++)
            out.push_back(rms(x, from + m * 44, from + m * 44 + 100) * std::sqrt(2.0));
        return out;
    }
    // First millisecond at or after `ms` whose level lies 60 dB under `ref`, or -1.
    static int silent_from(const std::vector<double>& env, int ms, double ref)
    {
        for (int m = ms; m < (int)env.size(); m++)
            if (env[(size_t)m] < ref / 1000.0)
                return m;
        return -1;
    }
};

TEST_F(VoiceTime, NoteStartsOnTimeWithItsEnvelopeAndEndsWithinItsRelease)
{
    // Instant attack: sound within a millisecond of the event, silence before.
    play_note(69, 127, {}, 5000, 15000, 16000);
    std::vector<int32> x = side(0);
    EXPECT_EQ(largest_step(x, 0, 5000), 0);
    const int start = onset(x, 5000, 200);
    EXPECT_TRUE(start >= 5000 && start <= 5044) << start;

    // Linear attack over 20 periods, decay over 25 to half the envelope level, held until off.
    use_tone(44100, 100, 20, 30, 0.5, 50);
    play_note(69, 127, {}, 0, 20000, 22000);
    std::vector<double> env = envelope(0, 120);
    const double peak = *std::max_element(env.begin(), env.end());
    EXPECT_NEAR(env[4] / env[14], 1.0 / 3.0, 0.07);  // linear
    const long top = std::max_element(env.begin(), env.end()) - env.begin();
    EXPECT_TRUE(top >= 18 && top <= 21) << top;  // at the top when the attack ends
    EXPECT_NEAR(20 * std::log10(env[100] / peak), 20 * std::log10(def_vol_table[510]), 0.5);
    EXPECT_NEAR(env[110], env[100], env[100] * 0.02);  // sustained

    // Released over 200 periods: the curve ends 36 dB down, so only its end is silent.
    use_tone(44100, 100, 0, 200);
    play_note(69, 127, {}, 0, 10000, 30000);
    env = envelope(0, 680);
    const int quiet = silent_from(env, 10000 / 44, env[200]);
    EXPECT_TRUE(quiet >= 10000 / 44 + 190 && quiet <= 10000 / 44 + 205) << quiet;
    EXPECT_EQ(voice[0].status, VOICE_FREE);
}

TEST_F(VoiceTime, SustainedNoteFadesOverTheMinimumSustainTime)
{
    // A held note fades over min_sustain_time, scaled by the pedal in damper mode; at 0 it stays.
    Restore sustain_time(min_sustain_time);
    channel[0].damper_mode = 1;
    for (int pedal : {127, 64, 0}) {
        min_sustain_time = pedal ? 500 : 0;
        play_note(69, 127, {make_event(0, ME_SUSTAIN, 0, pedal ? pedal : 127, 0)}, 0, 4410, 44100);
        std::vector<double> env = envelope(0, 1000);
        const int quiet = silent_from(env, 0, env[50]);
        if (pedal == 0)
            EXPECT_NEAR(env[990], env[50], env[50] * 0.02);
        else
            EXPECT_TRUE(quiet >= 100 + 450.0 * pedal / 127 && quiet <= 100 + 525.0 * pedal / 127)
                << pedal << ": " << quiet;
    }
}

TEST_F(VoiceTime, KilledVoiceIsSilentAndADelayedOneWaitsWithItsEnvelope)
{
    play_note(69, 127, {make_event(10000, ME_ALL_SOUNDS_OFF, 0, 0, 0)}, 0, 30000, 12000);
    std::vector<int32> x = side(0);
    EXPECT_GT(largest_step(x, 9900, 10000), 1000);
    // Silent within twenty samples.
    EXPECT_EQ(std::make_tuple(largest_step(x, 10020, 12000), x[10020], voice[0].status),
              std::make_tuple(0, 0, (uint8)VOICE_FREE));

    use_tone(44100, 100, 10);  // attack over 10 periods
    tone.s.envelope_delay = 3000;
    play({make_event(1000, ME_NOTEON, 0, 69, 127)}, 2500);
    // Its attack has not begun.
    EXPECT_EQ(std::make_tuple(largest_step(side(0), 0, 2500), voice[0].envelope_volume, voice[0].delay),
              std::make_tuple(0, 0, 1500));
    play_note(69, 127, {}, 1000, 20000, 6000);
    const int start = onset(side(0), 0, 20);
    EXPECT_TRUE(start >= 4000 && start <= 4044) << start;
}

TEST_F(VoiceTime, PanDelayMakesTheFarSideLag)
{
    opt_pan_delay = 1;
    play_note(69, 127, {make_event(0, ME_PAN, 0, 32, 0)}, 0, 20000, 10000);
    const int length = voice[0].pan_delay_length;
    ASSERT_GT(length, 5);
    std::vector<int32> l = side(0), r = side(1);
    // The right side is the left one `length` samples later (and quieter).
    auto correlation = [&](int lag) {
        double sum = 0, ll = 0, rr = 0;
        for (size_t i = 3000; i < 9000; i++) {
            sum += (double)l[i] * r[i + lag], ll += (double)l[i] * l[i];
            rr += (double)r[i + lag] * r[i + lag];
        }
        return sum / std::sqrt(ll * rr);
    };
    EXPECT_GT(correlation(length), 0.999);
    for (int lag = -40; lag <= 40; lag++)
        EXPECT_LE(correlation(lag), correlation(length)) << lag;
}

TEST_F(VoiceTime, GainChangesMakeNoClicks)
{
    // A cosine starts at its peak: smoothed, no gain step is larger than the steady tone's own.
    use_tone(44100, 100, 0, 30, 1.0, 1, true);
    play_note(69, 127, {make_event(12000, ME_PAN, 0, 127, 0), make_event(16000, ME_PAN, 0, 100, 0)},
              1000, 20000, 24000);
    std::vector<int32> l = side(0), r = side(1);
    const int32 steady = largest_step(l, 5000, 11000);
    ASSERT_GT(steady, 500);
    EXPECT_LE(largest_step(l, 900, 1200), steady * 1.1);
    // The gain rises over about 22 samples: under half way after 10.
    const int32 full = *std::max_element(l.begin() + 5000, l.begin() + 5200);
    EXPECT_LT(*std::max_element(l.begin() + 1000, l.begin() + 1010), full * 0.6);
    EXPECT_GT(*std::max_element(l.begin() + 1090, l.begin() + 1110), full * 0.98);
    // Moving right and back, and the release: each side carries on from where it was.
    const int32 right = largest_step(r, 13000, 15900);
    EXPECT_LT(level_db(l, 13000, 15900), -90.0);  // the sounding note moved at once
    for (auto [x, from, to] : {std::tuple{&r, 11900, 13000}, {&r, 15900, 18000}, {&l, 15900, 18000},
                               {&r, 19900, 24000}})
        EXPECT_LE(largest_step(*x, from, to), right * 1.1) << (x == &l ? "left " : "right ") << from;

    // A sample without an envelope still starts and moves to the right without a click.
    tone.s.modes &= ~MODES_ENVELOPE;
    play_note(69, 127, {make_event(12000, ME_PAN, 0, 127, 0)}, 1000, 20000, 24000);
    l = side(0), r = side(1);
    EXPECT_LE(largest_step(l, 900, 1200), largest_step(l, 5000, 11000) * 1.1);
    EXPECT_LE(largest_step(r, 11900, 13000), largest_step(r, 13000, 15900) * 1.1);
}
