// Mixing one voice into a buffer: its start delay, resampled and filtered data times its
// integer gains, envelope and tremolo updates once per control period, smoothing of gain
// jumps, the pan delay of the later side, and the short ramp that ends a killed voice.
#include <cstdlib>
#include <cstring>

#include "frontend/options.h"
#include "instrum/instrum.h"
#include "output/output.h"
#include "play/voice.h"
#include "render/render.h"
#include "render/mix.h"
#include "render/mix_gain.h"
#include "render/mix_kernels.h"
#include "render/resample.h"
#include "render/voice_data.h"
#include "render/voice_filter.h"
#include "render/voice_params.h"

#define PAN_DELAY_RING 48
// A killed voice fades out over at most this many samples.
#define DIE_RAMP 20

static int32 filter_buffer[AUDIO_BUFFER_SIZE];
// The first half of a stereo pair mixed together, kept while the second one is resampled.
static int32 pair_buffer[AUDIO_BUFFER_SIZE];

static bool output_is_mono(void)
{
    return play_mode != nullptr && (play_mode->encoding & PE_MONO) != 0;
}

static GainRamp left_ramp(Voice& vp)
{
    return GainRamp(vp.left_mix, vp.old_left_mix, vp.left_mix_offset, vp.left_mix_inc);
}

static GainRamp right_ramp(Voice& vp)
{
    return GainRamp(vp.right_mix, vp.old_right_mix, vp.right_mix_offset, vp.right_mix_inc);
}

// One gain for a run of count samples into out[i * stride]; false when the gain path is not
// a plain line (the caller then uses GainRamp).
static bool mix_line1(const int32* sp, int32* out, int stride, int32 count, int32 gain,
                      int32& old, int32& offset, int32 inc)
{
    GainLine line;
    if (!line.plan(gain, offset, inc, count))
        return false;
    if (line.lin > 0)
        mix_gain_run1(out, stride, sp, line.lin, line.g0, line.inc);
    mix_gain_run1(out + (int64)line.lin * stride, stride, sp + line.lin, count - line.lin,
                  line.last, 0);
    old = line.end_g;
    offset = line.end_offset;
    return true;
}

// Both gains of a stereo voice for a run of count frames; false as above.
static bool mix_line2(const int32* sp, int32* out, Voice& vp, int32 count)
{
    GainLine l, r;
    if (!l.plan(vp.left_mix, vp.left_mix_offset, vp.left_mix_inc, count) ||
        !r.plan(vp.right_mix, vp.right_mix_offset, vp.right_mix_inc, count))
        return false;
    const int32 cuts[3] = {l.lin < r.lin ? l.lin : r.lin, l.lin < r.lin ? r.lin : l.lin, count};
    int32 k = 0;
    for (int32 end : cuts) {
        if (end <= k)
            continue;
        mix_gain_run2(out + 2 * (int64)k, sp + k, end - k, l.at(k), l.step(k), r.at(k), r.step(k));
        k = end;
    }
    vp.old_left_mix = l.end_g;
    vp.left_mix_offset = l.end_offset;
    vp.old_right_mix = r.end_g;
    vp.right_mix_offset = r.end_offset;
    return true;
}

// The pan delay ring of a voice: the later side's values come out `pan_delay_length`
// samples after they went in.
struct PanDelay {
    int32* ring;  // PAN_DELAY_RING products of gain and value, held within 32 bits
    int32 rd, wr; // read and write positions, 0..PAN_DELAY_RING - 1
    Voice& vp;

    explicit PanDelay(Voice& v) : ring(v.pan_delay_buf), vp(v)
    {
        rd = ((v.pan_delay_read % PAN_DELAY_RING) + PAN_DELAY_RING) % PAN_DELAY_RING;
        wr = ((v.pan_delay_write % PAN_DELAY_RING) + PAN_DELAY_RING) % PAN_DELAY_RING;
    }
    inline int64 pass(int64 x)
    {
        int32 out = ring[rd];
        if (++rd == PAN_DELAY_RING)
            rd = 0;
        ring[wr] = x > INT32_MAX ? INT32_MAX : x < INT32_MIN ? INT32_MIN : (int32)x;
        if (++wr == PAN_DELAY_RING)
            wr = 0;
        return out;
    }
    ~PanDelay()
    {
        vp.pan_delay_read = rd;
        vp.pan_delay_write = wr;
    }
};

static bool pan_delay_active(const Voice& vp)
{
    return vp.pan_delay_length > 0 && vp.pan_delay_buf != nullptr;
}

// Adds a stereo pair, the later side through the pan delay when it is active.
static inline void add_stereo(int32* out, int64 l, int64 r, PanDelay* delay, bool left_first)
{
    if (delay == nullptr) {
        mix_add_held(out[0], l);
        mix_add_held(out[1], r);
    } else if (left_first) {
        mix_add_held(out[0], l);
        mix_add_held(out[1], delay->pass(r));
    } else {
        mix_add_held(out[0], delay->pass(l));
        mix_add_held(out[1], r);
    }
}

// A stereo voice with two gains, smoothed apart.
void mix_mystery_signal(const int32* sp, int32* lp, int v, int32 count)
{
    Voice& vp = voice[v];
    if (!pan_delay_active(vp) && mix_line2(sp, lp, vp, count))
        return;
    GainRamp left = left_ramp(vp), right = right_ramp(vp);
    if (pan_delay_active(vp)) {
        PanDelay delay(vp);
        const bool left_first = vp.panning < 64;
        for (int32 i = 0; i < count; i++, lp += 2) {
            int64 s = sp[i];
            int32 gl = left.next(), gr = right.next();
            add_stereo(lp, gl * s, gr * s, &delay, left_first);
        }
    } else {
        for (int32 i = 0; i < count; i++, lp += 2) {
            int64 s = sp[i];
            int32 gl = left.next(), gr = right.next();
            add_stereo(lp, gl * s, gr * s, nullptr, true);
        }
    }
}

// One run of count samples of voice v at frame lp (stereo frames, or mono values).
static void mix_run(const int32* sp, int32* lp, int v, int32 count, bool mono)
{
    Voice& vp = voice[v];
    if (mono) {
        if (mix_line1(sp, lp, 1, count, vp.left_mix, vp.old_left_mix, vp.left_mix_offset,
                      vp.left_mix_inc))
            return;
        GainRamp g = left_ramp(vp);
        for (int32 i = 0; i < count; i++)
            mix_add_held(lp[i], (int64)g.next() * sp[i]);
        return;
    }
    switch (vp.pan_mode) {
    case PAN_STEREO:
        mix_mystery_signal(sp, lp, v, count);
        break;
    case PAN_CENTER: {
        GainLine line;
        if (line.plan(vp.left_mix, vp.left_mix_offset, vp.left_mix_inc, count)) {
            if (line.lin > 0)
                mix_gain_run2(lp, sp, line.lin, line.g0, line.inc, line.g0, line.inc);
            mix_gain_run2(lp + 2 * (int64)line.lin, sp + line.lin, count - line.lin, line.last, 0,
                          line.last, 0);
            vp.old_left_mix = vp.old_right_mix = line.end_g;
            vp.left_mix_offset = line.end_offset;
            break;
        }
        GainRamp g = left_ramp(vp);
        for (int32 i = 0; i < count; i++, lp += 2) {
            int64 x = (int64)g.next() * sp[i];
            mix_add_held(lp[0], x);
            mix_add_held(lp[1], x);
        }
        vp.old_right_mix = g.g;
        break;
    }
    case PAN_LEFT:
    default: {  // PAN_RIGHT: its one gain is kept on the left
        const int side = vp.pan_mode == PAN_LEFT ? 0 : 1;
        if (mix_line1(sp, lp + side, 2, count, vp.left_mix, vp.old_left_mix, vp.left_mix_offset,
                      vp.left_mix_inc))
            break;
        GainRamp g = left_ramp(vp);
        for (int32 i = 0; i < count; i++, lp += 2)
            mix_add_held(lp[side], (int64)g.next() * sp[i]);
        break;
    }
    }
}

// The fade of a killed stereo voice: both gains fall to 0 over the count samples.
static void mix_die_stereo(const int32* sp, int32* lp, Voice& vp, int32 count, PanDelay* delay)
{
    int32 l = vp.old_left_mix, r = vp.old_right_mix;
    const int32 ldec = l / count > 0 ? l / count : 1, rdec = r / count > 0 ? r / count : 1;
    const bool left_first = vp.panning < 64;
    for (int32 i = 0; i < count; i++, lp += 2) {
        add_stereo(lp, (int64)l * sp[i], (int64)r * sp[i], delay, left_first);
        l = l > ldec ? l - ldec : 0;
        r = r > rdec ? r - rdec : 0;
    }
}

// The fade of a killed voice with one gain (mono output, or one side, or centred).
static void mix_die_single(const int32* sp, int32* lp, Voice& vp, int32 count, bool mono)
{
    int32 g = vp.old_left_mix;
    const int32 dec = g / count > 0 ? g / count : 1;
    const int step = mono ? 1 : 2;
    const int side = !mono && vp.pan_mode == PAN_RIGHT ? 1 : 0;
    const bool both = !mono && vp.pan_mode == PAN_CENTER;
    for (int32 i = 0; i < count && g >= 0; i++, lp += step) {
        int64 x = (int64)g * sp[i];
        mix_add_held(lp[side], x);
        if (both)
            mix_add_held(lp[1], x);
        g -= dec;
    }
}

static void mix_voice_data(int32* buf, int v, const int32* sp, int32 count, bool mono);

void mix_voice(int32* buf, int v, int32 count, const int* next, int nnext)
{
    Voice& vp = voice[v];
    if (vp.status == VOICE_FREE || count <= 0)
        return;
    if (vp.sample == nullptr) {  // nothing to play: a killed one is simply gone
        if (vp.status == VOICE_DIE)
            free_voice(v);
        return;
    }
    if (count > AUDIO_BUFFER_SIZE)
        count = AUDIO_BUFFER_SIZE;
    const bool mono = output_is_mono();
    const int frame = mono ? 1 : 2;

    if (vp.status == VOICE_DIE) {
        int32 n = count < DIE_RAMP ? count : DIE_RAMP;
        const int32* sp = resample_voice(v, &n);
        if (n > 0) {
            if (voice_has_filter(v)) {
                run_voice_filter(v, sp, filter_buffer, n);
                sp = filter_buffer;
            }
            if (mono || vp.pan_mode != PAN_STEREO) {
                mix_die_single(sp, buf, vp, n, mono);
            } else if (pan_delay_active(vp)) {
                PanDelay delay(vp);
                mix_die_stereo(sp, buf, vp, n, &delay);
            } else {
                mix_die_stereo(sp, buf, vp, n, nullptr);
            }
        }
        free_voice(v);
        return;
    }

    vp.delay_counter = count;
    const int32 whole = count;
    if (vp.delay > 0) {
        if (count < vp.delay) {
            vp.delay -= count;
            update_tremolo(v);
            update_modulation_envelope(v);
            return;
        }
        buf += vp.delay * frame;
        count -= vp.delay;
        vp.delay = 0;
        if (count == 0)
            return;
    }

    // Pitch or cutoff moving within the block: the data is made period by period.
    if (modulation_moves_voice(v, count)) {
        mix_voice_data(buf, v, nullptr, count, mono);
        return;
    }
    // A filtered voice with others to come over the whole block: all are made now and their
    // filters run side by side; the others' data waits for their turns.
    int32 made = 0;
    if (count == whole && make_filter_group(v, count, next, nnext, filter_buffer, &made)) {
        if (made > 0)
            mix_voice_data(buf, v, filter_buffer, made, mono);
        return;
    }
    const int32* sp = voice_data(v, filter_buffer, false, &count);
    if (count > 0)
        mix_voice_data(buf, v, sp, count, mono);
}

// Mixes count resampled and filtered values of voice v, from sp, or (sp null) made one control
// period at a time just before they are mixed, so that each period sounds with the step and
// filter coefficients the period before left: gains follow the envelope and the tremolo once
// per control period.
static void mix_voice_data(int32* buf, int v, const int32* sp, int32 count, bool mono)
{
    Voice& vp = voice[v];
    const int frame = mono ? 1 : 2;
    // Mixes the next n values; returns how many there were (fewer when the voice ends).
    const auto run = [&](int32 n) {
        const int32* p = sp;
        if (p == nullptr)
            p = voice_data(v, filter_buffer, false, &n);
        else
            sp += n;
        if (n > 0)
            mix_run(p, buf, v, n, mono);
        buf += n * frame;
        return n;
    };
    if (vp.envelope_increment == 0 && vp.tremolo_phase_increment == 0) {
        compute_mix_smoothing(&vp);
        run(count);
        return;
    }
    const int32 period = control_ratio > 0 ? control_ratio : 1;
    int32 c = vp.control_counter;
    if (c <= 0) {
        c = period;
        vp.delay_counter = c;
        if (update_signal(v))
            return;
    }
    compute_mix_smoothing(&vp);
    while (count > c) {
        const int32 got = run(c);
        if (got < c) {
            vp.control_counter = c - got;
            return;
        }
        count -= c;
        c = period;
        vp.delay_counter = c;
        if (update_signal(v))
            return;
        compute_mix_smoothing(&vp);
    }
    vp.control_counter = c - run(count);
}

// One run of a pair, one voice on each side (v and w in voice order), in one pass when both
// sound and both gain paths are plain lines; otherwise each as on its own. A voice whose
// envelope has ended is left out.
static void mix_pair_run(const int32* sv, const int32* sw, int32* lp, int v, int w, int32 count,
                         bool on_v, bool on_w)
{
    const bool v_left = voice[v].pan_mode == PAN_LEFT;
    Voice &lv = voice[v_left ? v : w], &rv = voice[v_left ? w : v];
    GainLine l, r;
    if (on_v && on_w && lv.pan_mode == PAN_LEFT && rv.pan_mode == PAN_RIGHT &&
        l.plan(lv.left_mix, lv.left_mix_offset, lv.left_mix_inc, count) &&
        r.plan(rv.left_mix, rv.left_mix_offset, rv.left_mix_inc, count)) {
        const int32* sl = v_left ? sv : sw;
        const int32* sr = v_left ? sw : sv;
        const int32 cuts[3] = {l.lin < r.lin ? l.lin : r.lin, l.lin < r.lin ? r.lin : l.lin, count};
        int32 k = 0;
        for (int32 end : cuts) {
            if (end <= k)
                continue;
            mix_gain_pair(lp + 2 * (int64)k, sl + k, sr + k, end - k, l.at(k), l.step(k), r.at(k),
                          r.step(k));
            k = end;
        }
        lv.old_left_mix = l.end_g;
        lv.left_mix_offset = l.end_offset;
        rv.old_left_mix = r.end_g;
        rv.left_mix_offset = r.end_offset;
        return;
    }
    if (on_v)
        mix_run(sv, lp, v, count, false);
    if (on_w)
        mix_run(sw, lp, w, count, false);
}

// The control periods of a pair whose halves are in step (same counter, both moving or both
// still): each half's envelope is updated as mix_voice_data does it, and the runs between
// updates are mixed together.
static void mix_pair_data(int32* buf, int v, const int32* sv, int w, const int32* sw, int32 count)
{
    Voice &vp = voice[v], &wp = voice[w];
    if (vp.envelope_increment == 0 && vp.tremolo_phase_increment == 0) {
        compute_mix_smoothing(&vp);
        compute_mix_smoothing(&wp);
        mix_pair_run(sv, sw, buf, v, w, count, true, true);
        return;
    }
    const int32 period = control_ratio > 0 ? control_ratio : 1;
    int32 c = vp.control_counter;
    bool on_v = true, on_w = true;
    if (c <= 0) {
        c = period;
        vp.delay_counter = wp.delay_counter = c;
        on_v = !update_signal(v);
        on_w = !update_signal(w);
    }
    if (on_v)
        compute_mix_smoothing(&vp);
    if (on_w)
        compute_mix_smoothing(&wp);
    while ((on_v || on_w) && count > c) {
        mix_pair_run(sv, sw, buf, v, w, c, on_v, on_w);
        sv += c;
        sw += c;
        buf += 2 * c;
        count -= c;
        c = period;
        if (on_v) {
            vp.delay_counter = c;
            on_v = !update_signal(v);
        }
        if (on_w) {
            wp.delay_counter = c;
            on_w = !update_signal(w);
        }
        if (on_v)
            compute_mix_smoothing(&vp);
        if (on_w)
            compute_mix_smoothing(&wp);
    }
    if (!on_v && !on_w)
        return;
    if (on_v)
        vp.control_counter = c - count;
    if (on_w)
        wp.control_counter = c - count;
    mix_pair_run(sv, sw, buf, v, w, count, on_v, on_w);
}

int stereo_partner(int v)
{
    const Voice& vp = voice[v];
    if (v + 1 >= upper_voices || vp.sample == nullptr ||
        (vp.pan_mode != PAN_LEFT && vp.pan_mode != PAN_RIGHT) || vp.status == VOICE_FREE ||
        vp.status == VOICE_DIE)
        return -1;
    const Voice& w = voice[v + 1];
    const int other = vp.pan_mode == PAN_LEFT ? PAN_RIGHT : PAN_LEFT;
    return w.pan_mode == other && w.status == vp.status && w.vid == vp.vid &&
                   w.channel == vp.channel && w.sample != nullptr
               ? v + 1
               : -1;
}

void mix_voice_pair(int32* buf, int v, int w, int32 count)
{
    Voice &vp = voice[v], &wp = voice[w];
    const bool still = vp.envelope_increment == 0 && vp.tremolo_phase_increment == 0;
    if (count <= 0 || output_is_mono() || vp.status == VOICE_DIE || wp.status == VOICE_DIE ||
        vp.status == VOICE_FREE || wp.status == VOICE_FREE || vp.sample == nullptr ||
        wp.sample == nullptr || vp.delay > 0 || wp.delay > 0 || modulation_moves_voice(v, count) ||
        modulation_moves_voice(w, count) ||
        still != (wp.envelope_increment == 0 && wp.tremolo_phase_increment == 0) ||
        (!still && vp.control_counter != wp.control_counter)) {
        mix_voice(buf, v, count, &w, 1);
        mix_voice(buf, w, count);
        return;
    }
    if (count > AUDIO_BUFFER_SIZE)
        count = AUDIO_BUFFER_SIZE;
    vp.delay_counter = wp.delay_counter = count;
    int32 nv = count, nw = count;
    const int32 *sv, *sw;
    voice_data_two(v, pair_buffer, &sv, &nv, w, filter_buffer, &sw, &nw);
    if (nv != count || nw != count) {
        // One half ends within the block: each goes on its own.
        if (nv > 0)
            mix_voice_data(buf, v, sv, nv, false);
        if (nw > 0)
            mix_voice_data(buf, w, sw, nw, false);
        return;
    }
    mix_pair_data(buf, v, sv, w, sw, count);
}
