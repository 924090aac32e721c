// Shared by the voice rendering tests: a sine patch the test writes itself, installed as a
// special patch on channel 0 and played through the player onto the recording output, and
// measurements of what was recorded (pitch, level, onset, largest step).
#ifndef CORVELLE_TESTS_RENDER_VOICE_SOUND_H
#define CORVELLE_TESTS_RENDER_VOICE_SOUND_H

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "synth/render/resample_sound.h"
#include "effects/effect.h"
#include "render/voice_params.h"

// Envelope levels of the tone: full scale of an envelope offset, and an attack too fast
// for one control period.
#define FULL_LEVEL 1069547520
#define INSTANT_RATE 2000000000

class VoiceSound : public ResampleTest {
protected:
    TestSample tone;
    SpecialPatch patch{};
    // Effects, noise shaping, surround chorus and pan delay are off unless a test asks.
    int* const opts[8] = {&opt_reverb_control, &opt_chorus_control,  &opt_delay_control,
                          &opt_eq_control,     &opt_insertion_effect, &noise_sharp_type,
                          &opt_surround_chorus, &opt_pan_delay};
    int saved[8];

    void SetUp() override
    {
        ResampleTest::SetUp();
        for (int i = 0; i < 8; i++) {
            saved[i] = *opts[i];
            *opts[i] = 0;
        }
        control_ratio = 44;
        use_tone(44100, 100);
    }
    void TearDown() override
    {
        for (int i = 0; i < 8; i++)
            *opts[i] = saved[i];
        reset_voices();
        special_patch[1] = nullptr;
        ResampleTest::TearDown();
    }

    // A looped sine of `period` points recorded at `rate` (root 441 Hz at 100 points and
    // 44100 Hz), envelope: attack and release in control periods (about ms), level `sustain`
    // of full reached by a decay at the rate of `decay` periods from full to 0.
    void use_tone(int rate, double period, double attack = 0, double release = 30,
                  double sustain = 1.0, double decay = 1, bool cosine = false)
    {
        int frames = (int)(period * 40);
        make_sine(tone, rate, period, frames + (int)period, 0, frames, 20000.0);
        if (cosine)  // starts at its peak
            for (int i = 0; i < frames + (int)period; i++)
                tone.data[(size_t)i] = (sample_t)std::lround(20000.0 * std::cos(2 * M_PI * i / period));
        Sample& s = tone.s;
        s.low_freq = 0;
        s.high_freq = 0x7FFFFFFF;
        s.low_vel = 0;
        s.high_vel = 127;
        s.panning = 64;
        s.volume = 1.8;
        s.envelope_velf_bpo = s.modenv_velf_bpo = 64;
        s.vel_to_fc_threshold = 64;
        s.key_to_fc_bpo = 60;
        s.sf_sample_link = -1;
        s.sample_type = SF_SAMPLETYPE_MONO;
        const int32 sus = (int32)(FULL_LEVEL * sustain);
        const int32 offsets[6] = {FULL_LEVEL, FULL_LEVEL, sus, 0, 0, 0};
        const int32 rates[6] = {attack > 0 ? (int32)(FULL_LEVEL / attack) : INSTANT_RATE, 1,
                                (int32)(FULL_LEVEL / decay),
                                (int32)(FULL_LEVEL / release), 1, 1};
        for (int i = 0; i < 6; i++) {
            s.envelope_offset[i] = offsets[i];
            s.envelope_rate[i] = rates[i];
        }
        patch.type = INST_GUS;
        patch.samples = 1;
        patch.sample = &s;
        special_patch[1] = &patch;
        prepare_channel();
    }

    // Channel 0 at its defaults, playing the tone at full volume.
    void prepare_channel()
    {
        reset_controllers(0);
        update_rpn_map(0, RPN_ADDR_FFFF, 0);
        for (int8& t : channel[0].scale_tuning)
            t = 0;
        channel[0].temper_type = 0;
        channel[0].panning = -1;
        channel[0].special_sample = 1;
        channel[0].volume = 127;
    }

    // Plays the events (times in samples) and renders until `end`; the recording then holds
    // the sound from time 0.
    void play(std::vector<MidiEvent> evs, int32 end)
    {
        std::stable_sort(evs.begin(), evs.end(),
                         [](const MidiEvent& a, const MidiEvent& b) { return a.time < b.time; });
        evs.push_back(make_event(end, ME_EOT, 0, 0, 0));
        event_list = evs.data();
        for (size_t i = 0; i + 1 < evs.size(); i++) {
            current_event = &evs[i];
            ASSERT_EQ(play_event(&evs[i]), RC_NONE);
        }
        ASSERT_EQ(compute_data(end - current_sample), RC_NONE);
        ASSERT_EQ(compute_data(0), RC_NONE);
        event_list = current_event = nullptr;
    }

    // One side of the recording (0 left, 1 right).
    std::vector<int32> side(int which) const
    {
        const int16_t* p = reinterpret_cast<const int16_t*>(recording().data.data());
        std::vector<int32> out((size_t)recording().frames());
        for (size_t i = 0; i < out.size(); i++)
            out[i] = p[2 * i + which];
        return out;
    }

    // Frequency of the left side over [from, to), in Hz.
    double pitch(int from, int to) const
    {
        return zero_crossing_freq(side(0), from, to, 44100.0);
    }

    // A note alone on channel 0 from `on` to `off` after `setup` events at time 0,
    // recorded until `end`.
    void play_note(int note, int velocity, std::vector<MidiEvent> setup = {}, int32 on = 0,
                   int32 off = 20000, int32 end = 24000)
    {
        recording() = Recording();
        current_sample = 0;
        reset_voices();
        prepare_channel();
        setup.push_back(make_event(on, ME_NOTEON, 0, note, velocity));
        if (off < end)
            setup.push_back(make_event(off, ME_NOTEOFF, 0, note, 0));
        play(setup, end);
    }

    // The pitch of such a note in Hz.
    double note_pitch(int note, std::vector<MidiEvent> setup = {})
    {
        play_note(note, 100, setup);
        return pitch(4000, 20000);
    }
};

// RMS level of x over [from, to) in dB relative to 16-bit full scale (-200 for silence).
inline double level_db(const std::vector<int32>& x, int from, int to)
{
    double sum = 0;
    for (int i = from; i < to; i++)
        sum += (double)x[(size_t)i] * x[(size_t)i];
    double rms = std::sqrt(sum / (to - from));
    return rms > 0 ? 20 * std::log10(rms / 32768.0) : -200.0;
}

// Largest difference between neighbouring values over [from, to).
inline int32 largest_step(const std::vector<int32>& x, int from, int to)
{
    int32 m = 0;
    for (int i = from + 1; i < to; i++)
        m = std::max(m, std::abs(x[(size_t)i] - x[(size_t)i - 1]));
    return m;
}

// First index at or after `from` whose magnitude exceeds `threshold`, or -1.
inline int onset(const std::vector<int32>& x, int from, int32 threshold)
{
    for (size_t i = (size_t)from; i < x.size(); i++)
        if (std::abs(x[i]) > threshold)
            return (int)i;
    return -1;
}

#endif
