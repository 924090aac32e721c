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
#include "instrum/sf2_reader.h"
#include "output/output.h"
#include "play/channels.h"
#include "play/playmidi.h"
#include "play/sf_modulators.h"
#include "play/voice.h"
#include "render/cpu_features.h"
#include "render/filter_kernels.h"
#include "render/gs_curves.h"
#include "render/render.h"
#include "render/voice_filter.h"
#include "render/voice_params.h"

static int32 output_rate(void)
{
    return play_mode != nullptr && play_mode->rate > 0 ? play_mode->rate : 44100;
}

// How far the soft pedal lowers the cutoff of a note of channel c, as a factor.
static double soft_pedal_coef(const Channel& c, int note)
{
    return c.soft_pedal != 0 ? 1.0 - c.soft_pedal * (note < 50 ? 0.25 : 0.2) / 127.0 : 1.0;
}

void recompute_channel_filter(int ch, int note)
{
    Channel& c = channel[ch];
    if (c.special_sample != 0)
        return;
    double coef = soft_pedal_coef(c, note);
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
    // A SoundFont voice whose font reads CC74 in a modulator hears it there alone, not also
    // through the channel's cutoff offset (its brightness and the GS cutoff parameter).
    double coef = sp->sf_mods != nullptr && sp->sf_mods->reads_brightness
                      ? (double)(float)soft_pedal_coef(c, note)
                      : c.cutoff_freq_coef;
    double reso = 0, cents = 0, depth = 0;

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
        const double lfo = sp->sf_mods != nullptr ? vp.sf_mod_lfo_fc : sp->tremolo_to_fc;
        if (lfo + (int)depth)
            cents += lookup_triangular(vp.tremolo_phase >> 5) * (lfo + depth);
        if (sp->modenv_to_fc)
            cents += sp->modenv_to_fc * vp.last_modenv_volume;
    }
    if (cents != 0)
        coef *= std::pow(2.0, cents / 1200.0);

    const int32 rate = output_rate();
    const double wanted = fc.orig_freq * coef;
    double f = wanted;
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
    } else if (fc.type == FILTER_TWO_POLE) {
        // Open at the top of a zone's range: a note that starts there with nothing to lower
        // its cutoff later is left unfiltered. Below it, or when a controller, the modulation
        // envelope or the LFO may lower it later, the filter runs from the start (its history
        // is then there when the cutoff drops), up to just under the Nyquist frequency.
        // (Asked only of a note starting open: the modulators are read once, not every period.)
        const auto moves = [sp] {
            return (modulation_applies(sp) && (sp->modenv_to_fc || sp->tremolo_to_fc)) ||
                   (sp->sf_mods != nullptr && sf_cutoff_can_move(*sp->sf_mods));
        };
        if (wanted >= SF_OPEN_CUTOFF_HZ && fc.start_flag == 0 && !moves())
            fc.type = FILTER_NONE;
        else if (fc.freq > rate * 0.48)
            fc.freq = (int16)(rate * 0.48);
    }
    fc.start_flag = 1;
}

TwoPoleCoefs two_pole_coefs(double cutoff, double reso_db, double rate)
{
    const double g = std::tan(M_PI * cutoff / rate), k = std::pow(10.0, -reso_db / 20.0);
    const double a1 = 1.0 / (1.0 + g * (g + k)), a2 = g * a1, a3 = g * a2;
    return TwoPoleCoefs{(float)a2,       (float)a3,       (float)(2 * a1 - 1),
                        (float)(2 * a2), (float)(2 * a3), (float)(1 - 2 * a3)};
}

// The two-pole filter's coefficients, when its cutoff or resonance has moved.
static void two_pole_coefficients(const FilterCoefficients& fc, VoiceFilterState& st)
{
    if (fc.freq == st.last_freq && fc.reso_dB == st.last_reso_dB)
        return;
    st.two_pole = two_pole_coefs(fc.freq, fc.reso_dB, output_rate());
    st.last_freq = fc.freq;
    st.last_reso_dB = fc.reso_dB;
}

static void update_coefficients(const FilterCoefficients& fc, VoiceFilterState& st)
{
    if (fc.type == FILTER_TWO_POLE) {
        two_pole_coefficients(fc, st);
        return;
    }
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

// One sample of the four-pole ladder (b0..b4 of the state).
static inline int32 ladder_step(int32 in, int32* b, int32 f, int32 p, int32 q)
{
    int32 x = in - mul24(q, b[4]);
    int32 t1 = b[1];
    b[1] = mul24(x + b[0], p) - mul24(b[1], f);
    int32 t2 = b[2];
    b[2] = mul24(b[1] + t1, p) - mul24(b[2], f);
    t1 = b[3];
    b[3] = mul24(b[2] + t2, p) - mul24(b[3], f);
    b[4] = mul24(b[3] + t1, p) - mul24(b[4], f);
    b[0] = x;
    return b[4];
}

// A voice's filter with its history in locals while a span runs through it.
struct FilterRun {
    VoiceFilterState& st;
    const int type;  // 1 state-variable, 2 ladder, 3 two-pole
    int32 b[5];      // the state's history (b0..b4) while the span runs
    float s[2];      // the two-pole filter's states while the span runs

    explicit FilterRun(int v) : st(voice_filter_state(v)), type(voice[v].filter.type)
    {
        update_coefficients(voice[v].filter, st);
        load();
    }
    // A filter of its own state and kind, with the coefficients it holds.
    FilterRun(VoiceFilterState& state, int kind) : st(state), type(kind) { load(); }
    ~FilterRun()
    {
        st.b0 = b[0], st.b1 = b[1], st.b2 = b[2], st.b3 = b[3], st.b4 = b[4];
        st.s[0] = s[0], st.s[1] = s[1];
    }
    void load()
    {
        b[0] = st.b0, b[1] = st.b1, b[2] = st.b2, b[3] = st.b3, b[4] = st.b4;
        s[0] = st.s[0], s[1] = st.s[1];
    }

    void run(const int32* in, int32* out, int32 count)
    {
        if (type == FILTER_TWO_POLE) {
            const TwoPoleCoefs c = st.two_pole;
            float s1 = s[0], s2 = s[1];
            for (int32 i = 0; i < count; i++)
                out[i] = two_pole_step(in[i], s1, s2, c);
            s[0] = s1, s[1] = s2;
            return;
        }
        const int32 f = st.f, p = st.p, q = st.q;
        int32 r[5] = {b[0], b[1], b[2], b[3], b[4]};
        if (type == 1) {
            for (int32 i = 0; i < count; i++)
                out[i] = svf_step(in[i], r[0], r[1], r[2], f, q);
        } else {
            for (int32 i = 0; i < count; i++)
                out[i] = ladder_step(in[i], r, f, p, q);
        }
        for (int k = 0; k < 5; k++)
            b[k] = r[k];
    }
};

void run_voice_filter(int v, const int32* in, int32* out, int32 count)
{
    FilterRun(v).run(in, out, count);
}

// Each value of a filter depends on the one before through two multiplications, so one filter
// leaves the processor waiting most of the time; two independent ones run in about the time
// of one.
template <int TYPE>
static void run_side_by_side(FilterRun& a, const int32* ia, int32* oa, FilterRun& b,
                             const int32* ib, int32* ob, int32 count)
{
    if (TYPE == FILTER_TWO_POLE) {
        const TwoPoleCoefs ca = a.st.two_pole, cb = b.st.two_pole;
        float a1 = a.s[0], a2 = a.s[1], b1 = b.s[0], b2 = b.s[1];
        for (int32 i = 0; i < count; i++) {
            const int32 xa = ia[i], xb = ib[i];
            oa[i] = two_pole_step(xa, a1, a2, ca);
            ob[i] = two_pole_step(xb, b1, b2, cb);
        }
        a.s[0] = a1, a.s[1] = a2, b.s[0] = b1, b.s[1] = b2;
        return;
    }
    const int32 fa = a.st.f, pa = a.st.p, qa = a.st.q, fb = b.st.f, pb = b.st.p, qb = b.st.q;
    int32 ra[5] = {a.b[0], a.b[1], a.b[2], a.b[3], a.b[4]};
    int32 rb[5] = {b.b[0], b.b[1], b.b[2], b.b[3], b.b[4]};
    for (int32 i = 0; i < count; i++) {
        const int32 xa = ia[i], xb = ib[i];
        int32 ya, yb;
        if (TYPE == 1) {
            ya = svf_step(xa, ra[0], ra[1], ra[2], fa, qa);
            yb = svf_step(xb, rb[0], rb[1], rb[2], fb, qb);
        } else {
            ya = ladder_step(xa, ra, fa, pa, qa);
            yb = ladder_step(xb, rb, fb, pb, qb);
        }
        oa[i] = ya;
        ob[i] = yb;
    }
    for (int k = 0; k < 5; k++)
        a.b[k] = ra[k], b.b[k] = rb[k];
}

void run_voice_filters(int v, const int32* in_v, int32* out_v, int32 nv, int w,
                       const int32* in_w, int32* out_w, int32 nw)
{
    voice_filter_state(v > w ? v : w);  // the states of both exist before either is held
    FilterRun a(v), b(w);
    const int32 both = nv < nw ? nv : nw;
    if (a.type == 1 && b.type == 1)
        run_side_by_side<1>(a, in_v, out_v, b, in_w, out_w, both);
    else if (a.type == 2 && b.type == 2)
        run_side_by_side<2>(a, in_v, out_v, b, in_w, out_w, both);
    else if (a.type == FILTER_TWO_POLE && b.type == FILTER_TWO_POLE)
        run_side_by_side<FILTER_TWO_POLE>(a, in_v, out_v, b, in_w, out_w, both);
    else {
        a.run(in_v, out_v, both);
        b.run(in_w, out_w, both);
    }
    a.run(in_v + both, out_v + both, nv - both);
    b.run(in_w + both, out_w + both, nw - both);
}

void svf4_scalar(int32* const* s, const int32* f, const int32* q, const int32* const* in,
                 int32* const* out, int32 n)
{
    for (int k = 0; k < 4; k++)
        for (int32 i = 0; i < n; i++)
            out[k][i] = svf_step(in[k][i], s[k][0], s[k][1], s[k][2], f[k], q[k]);
}

bool svf4_vector(void)
{
    return cpu_has.avx2;
}

void two_pole_scalar(int lanes, float* const* s, const TwoPoleCoefs* c, const int32* const* in,
                     int32* const* out, int32 n)
{
    for (int k = 0; k < lanes; k++)
        for (int32 i = 0; i < n; i++)
            out[k][i] = two_pole_step(in[k][i], s[k][0], s[k][1], c[k]);
}

int two_pole_lanes(void)
{
    return cpu_has.avx2 ? 8 : cpu_has.sse2 ? 4 : 2;
}

// The two-pole filters of k voices, as many at once as the vector forms take: lanes without a
// voice filter zeros into a scratch area.
static void run_two_pole_group(int k, const int* v, const int32* const* in, int32* const* out,
                               const int32* count)
{
    static int32 zeros[AUDIO_BUFFER_SIZE], scratch[AUDIO_BUFFER_SIZE];
    const int lanes = two_pole_lanes();
    for (int first = 0; first < k; first += lanes) {
        const int m = k - first < lanes ? k - first : lanes;
        if (m <= 2) {
            if (m == 2)
                run_voice_filters(v[first], in[first], out[first], count[first], v[first + 1],
                                  in[first + 1], out[first + 1], count[first + 1]);
            else
                run_voice_filter(v[first], in[first], out[first], count[first]);
            continue;
        }
        float idle[8][2] = {};
        float* states[8];
        TwoPoleCoefs coefs[8] = {};
        const int32* ins[8];
        int32* outs[8];
        int32 both = AUDIO_BUFFER_SIZE;
        for (int j = 0; j < lanes; j++) {
            if (j < m) {
                VoiceFilterState& st = voice_filter_state(v[first + j]);
                update_coefficients(voice[v[first + j]].filter, st);
                states[j] = st.s;
                coefs[j] = st.two_pole;
                ins[j] = in[first + j];
                outs[j] = out[first + j];
                both = count[first + j] < both ? count[first + j] : both;
            } else {
                states[j] = idle[j];
                ins[j] = zeros;
                outs[j] = scratch;
            }
        }
        if (lanes == 8)
            two_pole8_avx2(states, coefs, ins, outs, both);
        else
            two_pole4_sse2(states, coefs, ins, outs, both);
        for (int j = 0; j < m; j++) {
            const int32* rest_in[1] = {ins[j] + both};
            int32* rest_out[1] = {outs[j] + both};
            two_pole_scalar(1, &states[j], &coefs[j], rest_in, rest_out, count[first + j] - both);
        }
    }
}

void run_voice_filter_group(int k, const int* v, const int32* const* in, int32* const* out,
                            const int32* count)
{
    if (k <= 0)
        return;
    bool svf = svf4_vector() && k >= 3 && k <= 4;
    bool two_pole = k >= 3;
    int most = 0;
    for (int j = 0; j < k; j++) {
        svf = svf && voice[v[j]].filter.type == 1;
        two_pole = two_pole && voice[v[j]].filter.type == FILTER_TWO_POLE;
        most = v[j] > most ? v[j] : most;
    }
    if (two_pole) {
        voice_filter_state(most);  // the states of all exist before any is held
        run_two_pole_group(k, v, in, out, count);
        return;
    }
    if (svf) {
        voice_filter_state(most);  // the states of all exist before any is held
        FilterRun a(v[0]), b(v[1]), c(v[2]);
        // A fourth lane for three voices: a filter of zeros into a scratch area.
        static int32 zeros[AUDIO_BUFFER_SIZE], scratch[AUDIO_BUFFER_SIZE];
        static VoiceFilterState idle_state;
        idle_state = VoiceFilterState{};
        FilterRun d = k == 4 ? FilterRun(v[3]) : FilterRun(idle_state, 1);
        FilterRun* const runs[4] = {&a, &b, &c, &d};
        const int32* ins[4] = {in[0], in[1], in[2], k == 4 ? in[3] : zeros};
        int32* outs[4] = {out[0], out[1], out[2], k == 4 ? out[3] : scratch};
        int32 both = AUDIO_BUFFER_SIZE;
        for (int j = 0; j < k; j++)
            both = count[j] < both ? count[j] : both;
        int32* states[4];
        int32 f[4], q[4];
        for (int j = 0; j < 4; j++) {
            states[j] = runs[j]->b;
            f[j] = runs[j]->st.f;
            q[j] = runs[j]->st.q;
        }
        svf4_avx2(states, f, q, ins, outs, both);
        for (int j = 0; j < k; j++)
            runs[j]->run(in[j] + both, out[j] + both, count[j] - both);
        return;
    }
    int j = 0;
    for (; j + 1 < k; j += 2)
        run_voice_filters(v[j], in[j], out[j], count[j], v[j + 1], in[j + 1], out[j + 1],
                          count[j + 1]);
    if (j < k)
        run_voice_filter(v[j], in[j], out[j], count[j]);
}

