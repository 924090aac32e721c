// The low-pass filter of a voice: the cutoff and resonance that the sample, channel,
// drum settings and modulation sources give it, and the filtering of its resampled data
// (a state-variable filter, or a four-pole ladder) in 24-bit fixed point.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "frontend/memory.h"
#include "frontend/options.h"
#include "frontend/tables.h"
#include "instrum/instrum.h"
#include "output/output.h"
#include "play/channels.h"
#include "play/playmidi.h"
#include "play/voice.h"
#include "render/gs_curves.h"
#include "render/voice_filter.h"
#include "render/voice_params.h"

static int32 output_rate(void)
{
    return play_mode != nullptr && play_mode->rate > 0 ? play_mode->rate : 44100;
}

void recompute_channel_filter(int ch, int note)
{
    Channel& c = channel[ch];
    if (c.special_sample != 0)
        return;
    double coef = 1.0;
    if (c.soft_pedal != 0)
        coef -= c.soft_pedal * (note < 50 ? 0.25 : 0.2) / 127.0;
    double reso = 0;
    if (!ISDRUMCHANNEL(ch)) {
        coef *= std::pow(1.26, c.param_cutoff_freq * 0.125);
        reso = c.param_resonance * 0.2393;
    }
    c.cutoff_freq_coef = (float)coef;
    c.resonance_dB = (float)reso;
}

// ---- the mixer's side of the filter: coefficients and history per voice -----------------

static VoiceFilterState* filter_states = nullptr;
static int filter_state_count = 0;

VoiceFilterState& voice_filter_state(int v)
{
    if (v >= filter_state_count) {
        int n = max_voices > v ? max_voices : v + 1;
        filter_states = (VoiceFilterState*)safe_realloc(filter_states, sizeof(VoiceFilterState) * n);
        memset(filter_states + filter_state_count, 0,
               sizeof(VoiceFilterState) * (n - filter_state_count));
        filter_state_count = n;
    }
    return filter_states[v];
}

void recompute_voice_filter(int v)
{
    Voice& vp = voice[v];
    FilterCoefficients& fc = vp.filter;
    const Sample* sp = vp.sample;
    if (fc.type == 0 || sp == nullptr)
        return;
    if (fc.start_flag == 0) {
        // A note starts with this filter: no history and coefficients still to make.
        VoiceFilterState& st = voice_filter_state(v);
        memset(&st, 0, sizeof(st));
        st.last_freq = -1;
    }
    const int ch = vp.channel, note = vp.note;
    const Channel& c = channel[ch];
    double coef = c.cutoff_freq_coef, reso = 0, cents = 0, depth = 0;

    if (ISDRUMCHANNEL(ch) && c.drums[note] != nullptr) {
        coef *= std::pow(1.26, c.drums[note]->drum_cutoff_freq * 0.125);
        reso += c.drums[note]->drum_resonance * 0.2393;
    }
    if (opt_channel_pressure) {
        const midi_controller* const sources[] = {&c.mod, &c.bend, &c.caf, &c.paf, &c.cc1, &c.cc2};
        for (const midi_controller* p : sources) {
            cents += get_midi_controller_filter_cutoff(p);
            depth += get_midi_controller_filter_depth(p);
        }
    }
    if (sp->vel_to_fc) {
        // Above the threshold the cutoff follows the velocity; at or below it, it stays
        // where the threshold puts it.
        if (vp.velocity > sp->vel_to_fc_threshold)
            cents += sp->vel_to_fc * (127.0 - vp.velocity) / 127.0;
        else
            cents += sp->vel_to_fc * (127.0 - sp->vel_to_fc_threshold) / 127.0;
    }
    if (sp->vel_to_resonance)
        reso += sp->vel_to_resonance * (double)vp.velocity / 127.0 / 10.0;
    if (sp->key_to_fc)
        cents += (double)(note - sp->key_to_fc_bpo) * sp->key_to_fc;
    if (modulation_applies(sp)) {
        if (sp->tremolo_to_fc + (int)depth)
            cents += lookup_triangular(vp.tremolo_phase >> 5) * (sp->tremolo_to_fc + depth);
        if (sp->modenv_to_fc)
            cents += sp->modenv_to_fc * vp.last_modenv_volume;
    }
    if (cents != 0)
        coef *= std::pow(2.0, cents / 1200.0);

    const int32 rate = output_rate();
    double f = fc.orig_freq * coef;
    if (f > rate / 2)
        f = rate / 2;
    else if (f < 5)
        f = 5;
    else if (f > 20000)
        f = 20000;
    fc.freq = (int16)(f > 32767 ? 32767 : f);

    double db = fc.orig_reso_dB + c.resonance_dB + reso;
    fc.reso_dB = db < 0 ? 0 : db > 96 ? 96 : db;

    if (fc.type == 1) {
        if (fc.freq > rate / 6) {
            if (fc.start_flag == 0)
                fc.type = 0;
            else
                fc.freq = (int16)(rate / 6);
        }
        if (fc.reso_dB > 24.0)
            fc.reso_dB = 24.0;
    } else if (fc.type == 2) {
        if (fc.reso_dB > fc.orig_reso_dB / 2)
            fc.gain = (float)std::pow(10.0, (fc.reso_dB - fc.orig_reso_dB / 2) / 20.0);
    }
    fc.start_flag = 1;
}

static inline int32 mul24(int32 a, int32 b)
{
    return (int32)(((int64)a * b) >> 24);
}

static void update_coefficients(const FilterCoefficients& fc, VoiceFilterState& st)
{
    const double limit = 0.8976380228996277;
    if (fc.reso_dB != st.last_reso_dB || st.q == 0) {
        st.last_reso_dB = fc.reso_dB;
        if (fc.type == 1) {
            int idx = (int)(fc.reso_dB * 4);
            idx = idx < 0 ? 0 : idx > 96 ? 96 : idx;
            st.q = (int32)(1.0 / chamberlin_filter_db_to_q_table[idx] * (1 << 24));
            if (st.q < 1)
                st.q = 1;
        } else {
            double r = fc.reso_dB * limit / 20.0;
            st.reso_lin = r < 0 ? 0 : r > limit ? limit : r;
        }
        st.last_freq = -1;
    }
    if (fc.freq != st.last_freq) {
        const double rate = output_rate();
        if (fc.type == 1) {
            st.f = (int32)(2.0 * std::sin(M_PI * fc.freq / rate) * (1 << 24));
        } else {
            double k = 2.0 * fc.freq / rate, r = 1.0 - k, p = k + 0.8 * k * r;
            st.f = (int32)((2.0 * p - 1.0) * (1 << 24));
            st.p = (int32)(p * (1 << 24));
            st.q = (int32)((1.0 + 0.5 * r * (1.0 - r + 5.6 * r * r)) * st.reso_lin * (1 << 24));
        }
        st.last_freq = fc.freq;
    }
}

void run_voice_filter(int v, const int32* in, int32* out, int32 count)
{
    const FilterCoefficients& fc = voice[v].filter;
    VoiceFilterState& st = voice_filter_state(v);
    update_coefficients(fc, st);
    if (fc.type == 1) {
        int32 low = st.b0, high = st.b1, band = st.b2;
        const int32 f = st.f, q = st.q;
        for (int32 i = 0; i < count; i++) {
            low += mul24(f, band);
            high = in[i] - low - mul24(q, band);
            band += mul24(f, high);
            out[i] = low;
        }
        st.b0 = low;
        st.b1 = high;
        st.b2 = band;
    } else {
        int32 b0 = st.b0, b1 = st.b1, b2 = st.b2, b3 = st.b3, b4 = st.b4;
        const int32 f = st.f, p = st.p, q = st.q;
        for (int32 i = 0; i < count; i++) {
            int32 x = in[i] - mul24(q, b4);
            int32 t1 = b1;
            b1 = mul24(x + b0, p) - mul24(b1, f);
            int32 t2 = b2;
            b2 = mul24(b1 + t1, p) - mul24(b2, f);
            t1 = b3;
            b3 = mul24(b2 + t2, p) - mul24(b3, f);
            b4 = mul24(b3 + t1, p) - mul24(b4, f);
            b0 = x;
            out[i] = b4;
        }
        st.b0 = b0;
        st.b1 = b1;
        st.b2 = b2;
        st.b3 = b3;
        st.b4 = b4;
    }
}
