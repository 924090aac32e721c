// A note's two halves mixed in one pass: each side is what its half gives alone.
#include <random>

#include "synth/render/voice_sound.h"
#include "render/mix.h"
#include "render/voice_filter.h"
#include "support/cpu_forms.h"

namespace {

struct PairMix : VoiceSound {
    TestSample other;
    Sample pair[2];
    std::vector<int32> render(int first, int count, int which)  // halves [first, first + count)
    {
        patch.sample = pair + first, patch.samples = count;
        play_note(60, 90, {}, 0, 16000, 20000);
        return side(which);
    }
};

TEST_F(PairMix, EachSideIsItsHalfAlone)
{
    // The right half as the left one, releasing sooner, attacking slower, ending, trembling; then
    // both filtered: together, the right one attacking slower (each mixed on its own), the left
    // one starting later (its first block not whole), the left one ending first.
    void (*const changes[])(Sample&, Sample&) = {
        [](Sample&, Sample&) {}, [](Sample&, Sample& r) { r.envelope_rate[3] *= 5; },
        [](Sample&, Sample& r) { r.envelope_rate[0] = FULL_LEVEL / 40; },
        [](Sample& l, Sample& r) { l.cutoff_freq = r.cutoff_freq = 3000, r.modes &= ~MODES_LOOPING; },
        [](Sample&, Sample& r) { r.tremolo_phase_increment = 300, r.tremolo_depth = 200; },
        [](Sample& l, Sample& r) {
            l.cutoff_freq = 1500, r.cutoff_freq = 2500, l.resonance = r.resonance = 60;
        },
        [](Sample& l, Sample& r) {
            l.cutoff_freq = r.cutoff_freq = 1500, r.envelope_rate[0] = FULL_LEVEL / 40;
        },
        [](Sample& l, Sample& r) { l.cutoff_freq = r.cutoff_freq = 1500, l.envelope_delay = 3000; },
        [](Sample& l, Sample& r) { l.cutoff_freq = r.cutoff_freq = 1500, l.modes &= ~MODES_LOOPING; }};
    make_sine(other, 44100, 70, 1500, 0, 1500);
    for (size_t k = 0; k < sizeof changes / sizeof *changes; k++) {
        SCOPED_TRACE(k);
        pair[0] = pair[1] = tone.s, pair[1].data = other.s.data, pair[1].root_freq = other.s.root_freq;
        pair[1].data_length = pair[1].loop_end = other.s.data_length;
        pair[0].inst_type = pair[1].inst_type = INST_SF2;  // a linked stereo zone
        pair[0].sample_type = SF_SAMPLETYPE_LEFT, pair[1].sample_type = SF_SAMPLETYPE_RIGHT;
        pair[0].sf_sample_link = pair[1].sf_sample_index = 1, pair[1].panning = 127, pair[0].panning = 0;
        changes[k](pair[0], pair[1]);
        const std::vector<int32> left = render(0, 1, 0), right = render(1, 1, 1);
        ASSERT_GT(level_db(left, 1000, 15000), -30);
        EXPECT_EQ(render(0, 2, 0), left);
        EXPECT_EQ(side(1), right);
    }
    patch.samples = 2;  // the partner is found while the note sounds
    play_note(60, 90, {}, 0, 30000, 2000);
    int found = 0;
    for (int v = 0; v < upper_voices; v++)
        found += voice[v].status != VOICE_FREE && stereo_partner(v) >= 0;
    EXPECT_EQ(found, 1);
}

TEST_F(PairMix, FiltersRunTogetherAsAlone)
{
    // One to four voice filters of one kind or mixed, run together: each as if run alone.
    std::mt19937 rng(11);
    const int16 cutoffs[4] = {300, 1500, 4000, 7000};
    const double resos[4] = {0, 6, 12, 24};
    for (const CpuForm& form : cpu_forms()) {
        const CpuFormGuard narrowed(form);
        for (int kind : {1, 2, 3}) {
            for (int k = 1; k <= 4; k++) {
                SCOPED_TRACE(testing::Message()
                             << form.name << " kind " << kind << ", " << k << " voices");
                int v[4];
                int32 count[4];
                std::vector<int32> in[4], together[4], alone[4];
                VoiceFilterState start[4];
                const int32* ins[4];
                int32* outs[4];
                for (int j = 0; j < k; j++) {
                    v[j] = 3 * j + 1;
                    FilterCoefficients& fc = voice[v[j]].filter = FilterCoefficients();
                    fc.freq = fc.orig_freq = cutoffs[j], fc.reso_dB = resos[j];
                    fc.type = (int8)(kind == 3 ? 1 + j % 2 : kind), fc.start_flag = 1;
                    VoiceFilterState& st = voice_filter_state(v[j]) = VoiceFilterState{};
                    st.last_freq = -1, st.b0 = (int32)(rng() % 20000), st.b2 = -(int32)(rng() % 20000);
                    start[j] = st, count[j] = 37 + 13 * j - (k == 4 && j == 2 ? 30 : 0);
                    in[j].resize((size_t)count[j]);
                    for (int32& x : in[j])
                        x = (int32)(rng() % (1u << 28)) - (1 << 27);
                    together[j].assign((size_t)count[j], 0);
                    ins[j] = in[j].data(), outs[j] = together[j].data();
                }
                run_voice_filter_group(k, v, ins, outs, count);
                auto history = [](const VoiceFilterState& s) {
                    return std::vector<int32>{s.b0, s.b1, s.b2, s.b3, s.b4};
                };
                for (int j = 0; j < k; j++) {
                    const std::vector<int32> after = history(voice_filter_state(v[j]));
                    voice_filter_state(v[j]) = start[j];
                    alone[j].assign((size_t)count[j], 0);
                    run_voice_filter(v[j], in[j].data(), alone[j].data(), count[j]);
                    EXPECT_EQ(together[j], alone[j]) << "voice " << j;
                    EXPECT_EQ(after, history(voice_filter_state(v[j]))) << "voice " << j;
                }
            }
        }
    }
}

}  // namespace
