// The per-sample lists of a tone-bank element (tune, envelope rates and offsets, key and
// velocity follow, tremolo, vibrato, scale tuning, modulation depths, filter), applied to the
// samples of the instrument after it has been loaded.
#include "instrum/instrument_policy.h"

#include <climits>
#include <cmath>

#include "config/tonebank.h"
#include "frontend/options.h"
#include "instrum/instrum.h"
#include "output/output.h"

// The largest envelope rate the loader gives a sample; a rate from the configuration is held
// to the same ceiling so that a level plus one step cannot overflow.
static const int64 max_envelope_increment = (int64)2097151 * 512;

static int32 current_output_rate(void)
{
    return (play_mode != nullptr && play_mode->rate > 0) ? play_mode->rate : 44100;
}

static int32 current_control_ratio(int32 rate)
{
    if (control_ratio > 0)
        return control_ratio;
    int32 c = rate / 1000;
    return c < 1 ? 1 : (c > 255 ? 255 : c);
}

static int16 clamp16(int64 v)
{
    return (int16)(v < INT16_MIN ? INT16_MIN : (v > INT16_MAX ? INT16_MAX : v));
}

// An envelope rate of the configuration (0 and up) in the units of the renderer.
static int32 to_rate(int v)
{
    if (v == 0)
        return 0;
    int32 rate = current_output_rate();
    double r = pow(2.0, v / 17.0) * 512 * 44100 / rate * current_control_ratio(rate);
    int64 t = r < (double)max_envelope_increment ? (int64)r : max_envelope_increment;
    if (fast_decay)
        t <<= 1;
    return (int32)(t < max_envelope_increment ? t : max_envelope_increment);
}

// An envelope offset of the configuration (0..255, larger values are the top) as a level.
static int32 to_offset(int v)
{
    return (int32)((v > 255 ? 255 : v) << 22);
}

// A frequency moved down by `tune` semitones; at least 1 so that nothing divides by 0.
static int32 tuned_freq(int32 freq, double factor)
{
    double f = std::round(freq / factor);
    if (!(f >= 1))
        return 1;
    return f >= (double)INT32_MAX ? INT32_MAX : (int32)f;
}

// The item of a list that applies to sample i: the only one for every sample, else item i
// while the list lasts; -1 for none.
static int list_item(int count, int i)
{
    if (count == 1)
        return 0;
    return i < count ? i : -1;
}

static void set_rates(int32* rates, const int* values)
{
    for (int j = 0; j < 6; j++)
        if (values[j] >= 0)
            rates[j] = to_rate(values[j]);
}

static void set_offsets(int32* offsets, const int* values)
{
    for (int j = 0; j < 6; j++)
        if (values[j] >= 0)
            offsets[j] = to_offset(values[j]);
}

// Key and velocity follow: every stage that was given.
static void set_follow(int16* follow, const int* values)
{
    for (int j = 0; j < 6; j++)
        if (values[j] != -1)
            follow[j] = clamp16(values[j]);
}

static bool quantity_set(const Quantity& q)
{
    return q.type != QUANTITY_UNIT_TYPE_UNDEFINED;
}

void apply_bank_parameter(Instrument* ip, const ToneBankElement* tone)
{
    if (ip == nullptr || IS_MAGIC_INSTRUMENT(ip) || tone == nullptr)
        return;
    const int32 rate = current_output_rate();
    for (int i = 0; i < ip->samples; i++) {
        Sample* sp = &ip->sample[i];
        int k;

        if ((k = list_item(tone->tunenum, i)) >= 0) {
            double t = tone->tune[k];
            if (t != 0 && std::isfinite(t)) {
                double factor = pow(2.0, t / 12.0);
                sp->low_freq = tuned_freq(sp->low_freq, factor);
                sp->high_freq = tuned_freq(sp->high_freq, factor);
                sp->root_freq = tuned_freq(sp->root_freq, factor);
            }
        }
        if ((k = list_item(tone->envratenum, i)) >= 0)
            set_rates(sp->envelope_rate, tone->envrate[k]);
        if ((k = list_item(tone->envofsnum, i)) >= 0)
            set_offsets(sp->envelope_offset, tone->envofs[k]);
        if ((k = list_item(tone->tremnum, i)) >= 0) {
            const Quantity* q = tone->trem[k];  // sweep, rate, depth
            if (quantity_set(q[0]))
                sp->tremolo_sweep_increment = quantity_to_int(&q[0], 0);
            if (quantity_set(q[1]))
                sp->tremolo_phase_increment = quantity_to_int(&q[1], 0);
            if (quantity_set(q[2]))
                sp->tremolo_depth = clamp16((int64)quantity_to_int(&q[2], 0) * 2);
        }
        if ((k = list_item(tone->vibnum, i)) >= 0) {
            const Quantity* q = tone->vib[k];
            // The sweep is converted with the control ratio the rate gives.
            if (quantity_set(q[1]))
                sp->vibrato_control_ratio = quantity_to_int(&q[1], 0);
            if (quantity_set(q[0]))
                sp->vibrato_sweep_increment = quantity_to_int(&q[0], sp->vibrato_control_ratio);
            if (quantity_set(q[2]))
                sp->vibrato_depth = clamp16(quantity_to_int(&q[2], 0));
        }
        if ((k = list_item(tone->sclnotenum, i)) >= 0)
            sp->scale_freq = tone->sclnote[k];
        if ((k = list_item(tone->scltunenum, i)) >= 0)
            sp->scale_factor = clamp16((int64)(tone->scltune[k] * 1024.0 / 100 + 0.5));
        if ((k = list_item(tone->modenvratenum, i)) >= 0)
            set_rates(sp->modenv_rate, tone->modenvrate[k]);
        if ((k = list_item(tone->modenvofsnum, i)) >= 0)
            set_offsets(sp->modenv_offset, tone->modenvofs[k]);
        if ((k = list_item(tone->envkeyfnum, i)) >= 0)
            set_follow(sp->envelope_keyf, tone->envkeyf[k]);
        if ((k = list_item(tone->envvelfnum, i)) >= 0)
            set_follow(sp->envelope_velf, tone->envvelf[k]);
        if ((k = list_item(tone->modenvkeyfnum, i)) >= 0)
            set_follow(sp->modenv_keyf, tone->modenvkeyf[k]);
        if ((k = list_item(tone->modenvvelfnum, i)) >= 0)
            set_follow(sp->modenv_velf, tone->modenvvelf[k]);
        if ((k = list_item(tone->trempitchnum, i)) >= 0)
            sp->tremolo_to_pitch = tone->trempitch[k];
        if ((k = list_item(tone->tremfcnum, i)) >= 0)
            sp->tremolo_to_fc = tone->tremfc[k];
        if ((k = list_item(tone->modpitchnum, i)) >= 0)
            sp->modenv_to_pitch = tone->modpitch[k];
        if ((k = list_item(tone->modfcnum, i)) >= 0)
            sp->modenv_to_fc = tone->modfc[k];
        if ((k = list_item(tone->fcnum, i)) >= 0) {
            int v = tone->fc[k];
            sp->cutoff_freq = (v >= 0 && v <= rate / 2) ? v : 0;
        }
        if ((k = list_item(tone->resonum, i)) >= 0) {
            int v = tone->reso[k];
            sp->resonance = (int16)((v >= 0 && v <= 960) ? v : 0);
        }
    }
}
