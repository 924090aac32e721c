// Walking a voice's sample: position and step in fixed point, the loop modes, the step
// changes of vibrato and portamento, and the conversion of a whole sample to the output rate.
#include "render/resample.h"

#include <cstdlib>
#include <cstring>

#include "frontend/controls.h"
#include "frontend/memory.h"
#include "frontend/tables.h"
#include "output/output.h"
#include "play/channels.h"
#include "play/voice.h"
#include "render/render.h"
#include "render/voice_params.h"

resample_t resample_buffer[RESAMPLE_BUFFER_SIZE];
int resample_buffer_offset = 0;

// ceil(dist / step) for a positive step; 0 when there is no distance to cover.
static inline int64 steps_to(int64 dist, int64 step)
{
    return dist <= 0 ? 0 : (dist + step - 1) / step;
}

// Mirrors a position that has run out of a bidirectional loop back into it, turning the step
// round at each end; a step longer than the loop may bounce more than once.
static inline void reflect(int64& ofs, int32& incr, int64 ls, int64 le)
{
    const int64 period = 2 * (le - ls);
    if (ofs >= le) {
        ofs = le - (ofs - le) % period;
        incr = -incr;
        if (ofs < ls) {
            ofs = 2 * ls - ofs;
            incr = -incr;
        }
    } else if (ofs <= ls) {
        ofs = ls + (ls - ofs) % period;
        incr = -incr;
        if (ofs > le) {
            ofs = 2 * le - ofs;
            incr = -incr;
        }
    }
}

void copy_samples_scalar(resample_t* out, const sample_t* data, int64 n)
{
    for (int64 k = 0; k < n; k++)
        out[k] = data[k];
}

void copy_samples(resample_t* out, const sample_t* data, int64 n)
{
    if (resample_kernels_vector())
        copy_samples_sse2(out, data, n);
    else
        copy_samples_scalar(out, data, n);
}

// Interpolates n values from ofs on, moving by incr.
static inline void interpolate(resample_t* out, int64 n, const sample_t* data, int64& ofs,
                               int32 incr, const resample_rec_t* rec)
{
    const resampler_t resample = cur_resample;
    if (resample == resample_gauss) {
        resample_gauss_run(data, ofs, incr, (int32)n, out, rec);
        ofs += n * incr;
        return;
    }
    if (resample == resample_linear) {
        // resample_linear, without a call per value.
        for (int64 k = 0; k < n; k++, ofs += incr) {
            const splen_t pos = (splen_t)ofs;
            const int32 i = (int32)(pos >> FRACTION_BITS), f = (int32)(pos & FRACTION_MASK);
            const int32 b = data[i], c = data[i + 1];
            out[k] = b + (((c - b) * f) >> FRACTION_BITS);
        }
        return;
    }
    for (int64 k = 0; k < n; k++) {
        out[k] = resample(data, (splen_t)ofs, rec);
        ofs += incr;
    }
}

// Renders up to count values of voice vp in loop mode `mode` from position ofs with step
// incr (both updated); returns how many were rendered: fewer only when a plain sample ends,
// which sets the voice's timeout.
static int32 render_span(Voice* vp, int mode, resample_t* out, int32 count, int64& ofs,
                         int32& incr)
{
    const Sample* sp = vp->sample;
    const sample_t* data = sp->data;
    const int64 len = sp->data_length;
    const int64 le = sp->loop_end < sp->data_length ? sp->loop_end : sp->data_length;
    const int64 ls = sp->loop_start < le ? sp->loop_start : le;
    const bool copy = vp->cache != nullptr && incr == 0x1000;
    if (ofs < 0)
        ofs = 0;
    if (incr == 0) {
        // A voice that cannot move ends silently instead of spinning in place.
        for (int32 k = 0; k < count; k++)
            out[k] = 0;
        vp->timeout = 1;
        return count;
    }

    if (mode == RESAMPLE_MODE_LOOP) {
        const int64 lsi = ls >> FRACTION_BITS, lei = le >> FRACTION_BITS;
        int32 done = 0;
        if (copy && lei > lsi) {
            int64 i = ofs >> FRACTION_BITS;
            while (done < count) {
                if (i >= lei)
                    i = lsi + (i - lsi) % (lei - lsi);
                int64 n = lei - i < count - done ? lei - i : count - done;
                copy_samples(out + done, data + i, n);
                i += n;
                done += (int32)n;
            }
            ofs = (i << FRACTION_BITS) | (ofs & FRACTION_MASK);
            return done;
        }
        const int32 step = incr < 0 ? -incr : incr;
        const resample_rec_t rec = {(splen_t)ls, (splen_t)le, (splen_t)len};
        while (done < count) {
            if (ofs >= le)
                ofs = ls + (ofs - ls) % (le - ls);
            int64 n = steps_to(le - ofs, step);
            if (n > count - done)
                n = count - done;
            interpolate(out + done, n, data, ofs, step, &rec);
            done += (int32)n;
        }
        return done;
    }

    if (mode == RESAMPLE_MODE_PLAIN) {
        if (copy) {
            const int64 end = le >> FRACTION_BITS, i = ofs >> FRACTION_BITS;
            int64 n = end - i < count ? end - i : count;
            if (n < 0)
                n = 0;
            copy_samples(out, data + i, n);
            ofs += n << FRACTION_BITS;
            if (i + n >= end)
                vp->timeout = 1;
            return (int32)n;
        }
        const int32 step = incr < 0 ? -incr : incr;
        const resample_rec_t rec = {0, (splen_t)len, (splen_t)len};
        int64 n = steps_to(len - ofs, step);
        if (n > count)
            n = count;
        interpolate(out, n, data, ofs, step, &rec);
        if (ofs >= len)
            vp->timeout = 1;
        return (int32)n;
    }

    // Bidirectional: the part before the loop forwards, then back and forth inside it.
    const resample_rec_t rec = {(splen_t)ls, (splen_t)le, (splen_t)len};
    int32 done = 0;
    if (incr > 0 && ofs < ls) {
        int64 n = steps_to(ls - ofs, incr);
        if (n > count)
            n = count;
        interpolate(out, n, data, ofs, incr, &rec);
        done = (int32)n;
    }
    while (done < count) {
        int64 n = incr > 0 ? steps_to(le - ofs, incr) : steps_to(ofs - ls, -(int64)incr);
        if (n > count - done)
            n = count - done;
        interpolate(out + done, n, data, ofs, incr, &rec);
        done += (int32)n;
        reflect(ofs, incr, ls, le);
    }
    return done;
}

resample_t* normal_resample_voice(int v, int32* countptr, int mode)
{
    Voice* vp = &voice[v];
    resample_t* out = resample_buffer + resample_buffer_offset;
    int64 ofs = vp->sample_offset;
    int32 incr = vp->sample_step;
    *countptr = render_span(vp, mode, out, *countptr, ofs, incr);
    vp->sample_offset = ofs;
    if (mode == RESAMPLE_MODE_BIDIR)
        vp->sample_step = incr;
    return out;
}

resample_t* vib_resample_voice(int v, int32* countptr, int mode)
{
    Voice* vp = &voice[v];
    resample_t* out = resample_buffer + resample_buffer_offset;
    vp->cache = nullptr;
    int64 ofs = vp->sample_offset;
    int32 incr = vp->sample_step;
    int32 c = vp->vibrato_control_counter;
    const int32 count = *countptr;
    int32 done = 0;
    while (done < count) {
        if (c <= 0) {
            c = vp->vibrato_control_ratio > 0 ? vp->vibrato_control_ratio : count;
            vp->sample_step = incr;
            incr = update_vibrato(vp, incr < 0);
        }
        const int32 piece = c < count - done ? c : count - done;
        const int32 got = render_span(vp, mode, out + done, piece, ofs, incr);
        done += got;
        c -= got;
        if (got < piece)
            break;
    }
    vp->vibrato_control_counter = c;
    vp->sample_step = incr;
    vp->sample_offset = ofs;
    *countptr = done;
    return out;
}

int32 update_vibrato(Voice* vp, int backwards)
{
    if (vp->vibrato_delay > 0) {
        vp->vibrato_delay -= vp->vibrato_control_ratio;
        if (vp->vibrato_delay > 0)
            return vp->sample_step;
    }
    if (++vp->vibrato_phase > 63)
        vp->vibrato_phase = 0;
    const int32 phase = vp->vibrato_phase;
    const int slot = phase < 16 ? 15 - phase : phase < 48 ? phase - 16 : 79 - phase;
    if (vp->vibrato_step_table[slot] != 0)
        return backwards ? -vp->vibrato_step_table[slot] : vp->vibrato_step_table[slot];

    const Sample* sp = vp->sample;
    if (sp->root_freq <= 0 || play_mode->rate <= 0)
        return vp->sample_step;
    const int mod_wheel = channel[vp->channel].mod.val;
    int64 depth = (int64)vp->vibrato_depth * 128;
    if (vp->vibrato_sweep != 0 && mod_wheel == 0) {
        vp->vibrato_sweep_position += vp->vibrato_sweep;
        if (vp->vibrato_sweep_position < 65536)
            depth = (depth * vp->vibrato_sweep_position) >> 16;
        else
            vp->vibrato_sweep = 0;
    }
    const double w = sp->inst_type == INST_SF2 ? lookup_triangular(phase * 16)
                                               : lookup_sine(phase * 16);
    const int32 pb = (int32)((double)depth * w);
    double a = (double)sp->sample_rate * vp->frequency /
               ((double)play_mode->rate * sp->root_freq) * 4096.0;
    if (pb >= 0)
        a *= bend_coarse[(pb >> 13) & 127] * bend_fine[(pb >> 5) & 255];
    else
        a /= bend_coarse[((-pb) >> 13) & 127] * bend_fine[((-pb) >> 5) & 255];
    a += 0.5;
    // The step stays within the sample's reach: at least one fraction, at most 2^31 - 1.
    const int32 step = a >= 2147483647.0 ? 2147483647 : a < 1.0 ? 1 : (int32)a;
    if (vp->vibrato_sweep == 0 || mod_wheel != 0)
        vp->vibrato_step_table[slot] = step;
    return backwards ? -step : step;
}

// Moves a portamento voice's pitch offset one step towards 0 and recomputes its step.
static void advance_portamento(int v)
{
    Voice* vp = &voice[v];
    int32 d = vp->porta_dpb < 0 ? -vp->porta_dpb : vp->porta_dpb;
    const int32 p = vp->porta_pb;
    const int32 mag = p < 0 ? -p : p;
    if (d > mag)
        d = mag;
    if (p > 0)
        d = -d;
    if (p + d == 0) {
        vp->porta_control_ratio = 0;
        vp->porta_pb = 0;
    } else {
        vp->porta_pb = p + d;
    }
    recompute_freq(v);
}

// A voice on a cached start of a sample goes on in the source sample, at the point that
// stands for where it is.
static void leave_cached_start(int v)
{
    Voice* vp = &voice[v];
    const Sample* cached = vp->sample;
    const int64 p = vp->sample_offset < 0 ? 0 : vp->sample_offset;
    vp->sample_offset = (p >> FRACTION_BITS) * cached->cache_step +
                        (((p & FRACTION_MASK) * cached->cache_step) >> FRACTION_BITS);
    vp->sample = const_cast<Sample*>(cached->cache_source);
    vp->cache = nullptr;
    recompute_freq(v);
}

static resample_t* resample_piece(int v, int32* countptr);

resample_t* resample_voice(int v, int32* countptr)
{
    Voice* vp = &voice[v];
    const Sample* sp = vp->sample;
    if (sp == nullptr || sp->cache_source == nullptr)
        return resample_piece(v, countptr);
    const int64 ofs = vp->sample_offset, valid = sp->cache_valid;
    if (ofs >= valid) {
        leave_cached_start(v);
        return resample_piece(v, countptr);
    }
    // The values before the cached start runs out come from it, the rest from the source. A
    // vibrato or portamento may quicken the step within the call: twice the step is more
    // than either reaches, and the cache holds values past the valid ones for the rest.
    int64 step = vp->sample_step < 0 ? -(int64)vp->sample_step : vp->sample_step;
    if (vp->vibrato_control_ratio || vp->porta_control_ratio)
        step *= 2;
    if (*countptr > RESAMPLE_BUFFER_SIZE)
        *countptr = RESAMPLE_BUFFER_SIZE;
    const int64 first = (valid - ofs + step - 1) / step;
    if (first >= *countptr)
        return resample_piece(v, countptr);
    static resample_t head[RESAMPLE_BUFFER_SIZE];
    const int32 timeout = vp->timeout;
    int32 n1 = (int32)first;
    resample_piece(v, &n1);
    memcpy(head, resample_buffer, sizeof(resample_t) * n1);
    if (vp->status == VOICE_FREE) {
        *countptr = n1;
        return resample_buffer;
    }
    // A step of more points than the cache holds past the valid ones runs off its end, which
    // is not the end of the sample: the voice goes on in the source all the same.
    vp->timeout = timeout;
    leave_cached_start(v);
    int32 n2 = *countptr - n1;
    resample_piece(v, &n2);
    memmove(resample_buffer + n1, resample_buffer, sizeof(resample_t) * n2);
    memcpy(resample_buffer, head, sizeof(resample_t) * n1);
    *countptr = n1 + n2;
    return resample_buffer;
}

static resample_t* resample_piece(int v, int32* countptr)
{
    Voice* vp = &voice[v];
    Sample* sp = vp->sample;
    int32 count = *countptr;
    if (count > RESAMPLE_BUFFER_SIZE)
        count = RESAMPLE_BUFFER_SIZE;
    if (count < 0)
        count = 0;
    resample_buffer_offset = 0;
    if (sp == nullptr || sp->data == nullptr) {
        vp->timeout = 1;
        *countptr = 0;
        return resample_buffer;
    }

    const bool loops = (sp->modes & MODES_LOOPING) && sp->loop_end > sp->loop_start;
    int mode;
    const bool held = (vp->status & (VOICE_ON | VOICE_SUSTAINED)) != 0;
    // A SoundFont sample that loops until release plays on to its end once released.
    const bool until_release = sp->inst_type == INST_SF2 && (sp->modes & MODES_SUSTAIN);
    if (!loops || (!(sp->modes & MODES_ENVELOPE) && !held) || (until_release && !held))
        mode = RESAMPLE_MODE_PLAIN;
    else if (sp->modes & MODES_PINGPONG)
        mode = RESAMPLE_MODE_BIDIR;
    else
        mode = RESAMPLE_MODE_LOOP;

    // A sample already at the output rate and pitch is copied as it is, when it plays to
    // its end (a looping one goes through the loop below at a step of exactly one sample).
    if (mode == RESAMPLE_MODE_PLAIN && vp->frequency == vp->orig_frequency &&
        sp->sample_rate == play_mode->rate && sp->root_freq == get_note_freq(sp, sp->note_to_use)) {
        int64 i = vp->sample_offset >> FRACTION_BITS;
        if (i < 0)
            i = 0;
        int64 r = ((int64)sp->data_length >> FRACTION_BITS) - i;
        if (r < 0)
            r = 0;
        if (count < r) {
            vp->sample_offset = (i + count) << FRACTION_BITS;
        } else {
            vp->timeout = 1;
            count = (int32)r;
            vp->sample_offset = (i + r) << FRACTION_BITS;
        }
        copy_samples(resample_buffer, sp->data + i, count);
        *countptr = count;
        return resample_buffer;
    }
    if (mode == RESAMPLE_MODE_BIDIR)
        vp->cache = nullptr;

    const resampler_t chosen = cur_resample;
    if (reduce_quality_flag && cur_resample != resample_none)
        cur_resample = resample_linear;
    resample_t* (*render)(int, int32*, int) =
        vp->vibrato_control_ratio ? vib_resample_voice : normal_resample_voice;

    if (vp->porta_control_ratio == 0) {
        *countptr = count;
        render(v, countptr, mode);
    } else {
        vp->cache = nullptr;
        int32 c = vp->porta_control_counter, total = 0;
        while (total < count) {
            if (c == 0) {
                advance_portamento(v);
                c = vp->porta_control_ratio;
                if (c == 0) {
                    int32 n = count - total;
                    render(v, &n, mode);
                    total += n;
                    break;
                }
            }
            int32 n = c < count - total ? c : count - total;
            const int32 piece = n;
            render(v, &n, mode);
            total += n;
            resample_buffer_offset += n;
            c -= n;
            if (n < piece || vp->status == VOICE_FREE)
                break;
        }
        vp->porta_control_counter = c;
        *countptr = total;
    }
    cur_resample = chosen;
    resample_buffer_offset = 0;
    return resample_buffer;
}

static const char* const note_names[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                           "F#", "G",  "G#", "A",  "A#", "B"};

void pre_resample(Sample* sp)
{
    const int note = sp->note_to_use;
    cmsg(CMSG_INFO, VERB_DEBUG, " * pre-resampling for note %d (%s%d)", note,
         note_names[note % 12], note / 12);
    const int32 f = get_note_freq(sp, note);
    const int32 rate = play_mode->rate;
    if (f <= 0 || sp->sample_rate <= 0 || sp->root_freq <= 0 || rate <= 0 || sp->data == nullptr) {
        cmsg(CMSG_INFO, VERB_NOISY, " *** Can't pre-resampling for note %d", note);
        return;
    }
    const double a = ((double)sp->root_freq * rate) / ((double)sp->sample_rate * f);
    const double new_length = (double)sp->data_length * a;
    // At least two output samples are needed to spread the source over them.
    const uint64 length = new_length < 2147483647.0 ? (uint64)new_length : 0;
    const uint64 frames = length >> FRACTION_BITS;
    const uint64 step = frames >= 2 ? (uint64)(sp->data_length - 1) / (frames - 1) : 0;
    if (new_length >= 2147483647.0 || frames < 2 || step + length >= 2147483647) {
        cmsg(CMSG_INFO, VERB_NOISY, " *** Can't pre-resampling for note %d", note);
        return;
    }

    // The new data ends in two zero samples, as every sample's data does.
    sample_t* dest = (sample_t*)safe_large_malloc(sizeof(sample_t) * (size_t)(frames + 2));
    const resample_rec_t rec = {0, sp->data_length, sp->data_length};
    dest[0] = sp->data[0];
    for (uint64 k = 1; k < frames; k++) {
        resample_t x = cur_resample(sp->data, (splen_t)(k * step), &rec);
        dest[k] = (sample_t)(x > 32767 ? 32767 : x < -32768 ? -32768 : x);
    }
    dest[frames] = 0;
    dest[frames + 1] = 0;

    sp->data_length = (splen_t)length;
    sp->loop_start = (splen_t)(sp->loop_start * a);
    sp->loop_end = (splen_t)(sp->loop_end * a);
    if (sp->loop_end > sp->data_length)
        sp->loop_end = sp->data_length;
    if (sp->loop_start > sp->loop_end)
        sp->loop_start = sp->loop_end;
    if (sp->data_alloced)
        free(sp->data);
    sp->data = dest;
    sp->data_alloced = 1;
    sp->root_freq = f;
    sp->sample_rate = rate;
    sp->low_freq = freq_table[0];
    sp->high_freq = freq_table[127];
}
