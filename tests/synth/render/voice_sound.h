// Shared by the render tests: test samples, voices playing them, a sine patch on channel 0.
#ifndef CORVELLE_TESTS_RENDER_VOICE_SOUND_H
#define CORVELLE_TESTS_RENDER_VOICE_SOUND_H

#include "effects/effect.h"
#include "instrum/instrum.h"
#include "render/resample.h"
#include "render/resample_settings.h"
#include "render/voice_params.h"
#include "support/signal.h"
#include "synth/play/player_fixture.h"

// Envelope levels: full scale of an envelope offset, and an attack faster than one period.
#define FULL_LEVEL 1069547520
#define INSTANT_RATE 2000000000

// A sample owning its data (with the two zeros after the end).
struct TestSample {
    std::vector<sample_t> data;
    Sample s{};
};

// `frames` values from value(i), looping over [loop_from, loop_to) with `modes`.
template <class F>
void make_sample(TestSample& t, int rate, int32 root_freq, int frames, int loop_from, int loop_to,
                 int modes, F value)
{
    t.data.assign((size_t)frames + 2, 0);
    for (int i = 0; i < frames; i++)
        t.data[(size_t)i] = (sample_t)value(i);
    t.s = Sample{};
    t.s.data = t.data.data();
    t.s.data_length = (splen_t)frames << FRACTION_BITS;
    t.s.loop_start = (splen_t)loop_from << FRACTION_BITS, t.s.loop_end = (splen_t)loop_to << FRACTION_BITS;
    t.s.modes = (uint8)modes, t.s.sample_rate = rate, t.s.root_freq = root_freq;
    t.s.scale_factor = 1024, t.s.volume = 1.0;
}

// A sine of `period` points, looping (with envelope) over [loop_from, loop_to) when those differ.
inline void make_sine(TestSample& t, int rate, double period, int frames, int loop_from,
                      int loop_to, double amplitude = 20000.0)
{
    make_sample(t, rate, (int32)std::lround(rate / period * 1000.0), frames, loop_from, loop_to,
                MODES_16BIT | (loop_to > loop_from ? MODES_LOOPING | MODES_ENVELOPE : 0),
                [&](int i) { return std::lround(amplitude * std::sin(2 * M_PI * i / period)); });
}

class ResampleTest : public PlayerTest {
protected:
    Restore<int> gauss_n_{gauss_n}, newt_n_{newt_n}, newt_max_{newt_max};
    void SetUp() override
    {
        PlayerTest::SetUp();
        set_current_resampler(RESAMPLE_GAUSS);
        gauss_n = 25;
        initialize_resampler_coeffs();
        reduce_quality_flag = 0;
    }
    void TearDown() override
    {
        set_current_resampler(RESAMPLE_GAUSS);
        PlayerTest::TearDown();
    }
    // A sounding voice on channel 0 playing sp from its start with the given step.
    int play(Sample* sp, int32 step, int note = 60)
    {
        int v = sounding_voice(0, note);
        Voice& vp = voice[v];
        vp.sample = sp, vp.sample_offset = 0, vp.sample_step = step, vp.orig_frequency = freq_table[note];
        vp.frequency = vp.orig_frequency + 1;  // not the recorded pitch: no plain copy
        vp.vibrato_control_ratio = vp.orig_vibrato_control_ratio = vp.vibrato_control_counter = 0;
        vp.vibrato_delay = vp.vibrato_sweep = vp.vibrato_phase = 0;
        std::fill(std::begin(vp.vibrato_step_table), std::end(vp.vibrato_step_table), 0);
        vp.porta_control_ratio = vp.porta_control_counter = 0, vp.cache = nullptr, vp.timeout = -1;
        return v;
    }
    // Up to n values of voice v, in blocks as the mixer asks for them; stops when it ends.
    std::vector<int32> render(int v, int n, int block = 1000)
    {
        std::vector<int32> out;
        while ((int)out.size() < n && voice[v].timeout != 1) {
            int32 c = std::min(block, n - (int)out.size());
            const int32* p = resample_voice(v, &c);
            out.insert(out.end(), p, p + c);
            if (c == 0)
                break;
        }
        return out;
    }
};

class VoiceSound : public ResampleTest {
protected:
    TestSample tone;
    SpecialPatch patch{};
    // Effects, noise shaping, surround chorus and pan delay are off unless a test asks.
    Restore<int> reverb_{opt_reverb_control, 0}, chorus_{opt_chorus_control, 0}, delay_{opt_delay_control, 0},
        eq_{opt_eq_control, 0}, insertion_{opt_insertion_effect, 0}, shaping_{noise_sharp_type, 0},
        surround_{opt_surround_chorus, 0}, pan_delay_{opt_pan_delay, 0};
    Restore<int32> control_ratio_{control_ratio, 44};  // about a millisecond a control period

    void SetUp() override
    {
        ResampleTest::SetUp();
        use_tone(44100, 100);
    }
    void TearDown() override
    {
        reset_voices();
        special_patch[1] = nullptr;
        ResampleTest::TearDown();
    }
    // A looped sine (or cosine) of `period` points at `rate`; attack, release and `decay` (from
    // full to 0) in control periods (about ms), to the level `sustain` of full.
    void use_tone(int rate, double period, double attack = 0, double release = 30,
                  double sustain = 1.0, double decay = 1, bool cosine = false)
    {
        int frames = (int)(period * 40);
        make_sine(tone, rate, period, frames + (int)period, 0, frames);
        for (int i = 0; cosine && i < frames + (int)period; i++)
            tone.data[(size_t)i] = (sample_t)std::lround(20000.0 * std::cos(2 * M_PI * i / period));
        Sample& s = tone.s;
        s.low_freq = 0, s.high_freq = 0x7FFFFFFF, s.low_vel = 0, s.high_vel = 127;
        s.panning = 64, s.volume = 1.8;
        s.envelope_velf_bpo = s.modenv_velf_bpo = s.vel_to_fc_threshold = 64, s.key_to_fc_bpo = 60;
        s.sf_sample_link = -1, s.sample_type = SF_SAMPLETYPE_MONO;
        const int32 offsets[6] = {FULL_LEVEL, FULL_LEVEL, (int32)(FULL_LEVEL * sustain), 0, 0, 0};
        const int32 rates[6] = {attack > 0 ? (int32)(FULL_LEVEL / attack) : INSTANT_RATE, 1,
                                (int32)(FULL_LEVEL / decay), (int32)(FULL_LEVEL / release), 1, 1};
        for (int i = 0; i < 6; i++)
            s.envelope_offset[i] = offsets[i], s.envelope_rate[i] = rates[i];
        patch.type = INST_GUS, patch.samples = 1, patch.sample = &s, special_patch[1] = &patch;
        prepare_channel();
    }
    // Channel 0 at its defaults, playing the tone at full volume.
    void prepare_channel()
    {
        reset_controllers(0);
        update_rpn_map(0, RPN_ADDR_FFFF, 0);
        std::fill(std::begin(channel[0].scale_tuning), std::end(channel[0].scale_tuning), 0);
        Channel& c = channel[0];
        c.temper_type = 0, c.panning = -1, c.special_sample = 1, c.volume = 127;
    }
    // Plays the events (times in samples) from an empty recording and renders until `end`.
    void play(std::vector<MidiEvent> evs, int32 end)
    {
        fake_output() = FakeOutput();
        current_sample = 0;
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
    std::vector<int32> side(int which) const { return side_of(recorded(), which); }
    // Frequency of the left side over [from, to), in Hz.
    double pitch(int from, int to) const { return zero_crossing_freq(side(0), from, to); }
    // A note alone on channel 0 from `on` to `off` after `setup` events, recorded until `end`.
    void play_note(int note, int velocity, std::vector<MidiEvent> setup = {}, int32 on = 0,
                   int32 off = 20000, int32 end = 24000)
    {
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

// The residual of x after a least-squares fit of a sine of `cycles_per_sample`, in dB.
inline double residual_db(const std::vector<int32>& x, double cycles_per_sample)
{
    double m[3][4] = {}, all = 0;
    for (size_t i = 0; i < x.size(); i++) {
        double b[3] = {std::sin(2 * M_PI * cycles_per_sample * i),
                       std::cos(2 * M_PI * cycles_per_sample * i), 1.0};
        for (int r = 0; r < 3; r++) {
            for (int c = 0; c < 3; c++)
                m[r][c] += b[r] * b[c];
            m[r][3] += b[r] * x[i];
        }
        all += (double)x[i] * x[i];
    }
    const double rhs[3] = {m[0][3], m[1][3], m[2][3]};
    for (int p = 0; p < 3; p++)  // Gauss-Jordan on the normal equations
        for (int r = 0; r < 3; r++)
            if (r != p) {
                double k = m[r][p] / m[p][p];
                for (int c = 0; c < 4; c++)
                    m[r][c] -= k * m[p][c];
            }
    double fit = 0;  // the fit's energy: its coefficients times the right-hand sides
    for (int r = 0; r < 3; r++)
        fit += m[r][3] / m[r][r] * rhs[r];
    return 10 * std::log10((all - fit) / fit);
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
