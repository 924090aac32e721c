// SoundFont modulators at play time. A source's value runs 0..1 over its range (127 steps for
// a controller, velocity or key, 16384 for the pitch wheel), reversed when it falls, through
// its curve, and onto -1..1 when bipolar (the curve then bends each half alike). A modulator
// gives amount x source x amount source, made positive by the absolute transform.
#include "play/sf_modulators.h"

#include <cmath>
#include <cstring>

#include "frontend/options.h"
#include "instrum/instrum.h"
#include "instrum/sf2_reader.h"
#include "play/channels.h"
#include "play/playmidi.h"
#include "play/voice.h"
#include "render/voice_params.h"

namespace {

// Controller values that the channel record does not keep, and the pressures (kept whether or
// not the engine's own pressure handling is on).
uint8 controls[MAX_CHANNELS][128];
uint8 channel_pressure[MAX_CHANNELS];
uint8 key_pressure[MAX_CHANNELS][128];

// The controller number of a controller event, or -1.
int controller_of(int type)
{
    static const struct {
        int type, cc;
    } table[] = {
        {ME_MODULATION_WHEEL, 1}, {ME_BREATH, 2}, {ME_FOOT, 4}, {ME_PORTAMENTO_TIME_MSB, 5},
        {ME_MAINVOLUME, 7}, {ME_BALANCE, 8}, {ME_PAN, 10}, {ME_EXPRESSION, 11},
        {ME_PORTAMENTO_TIME_LSB, 37}, {ME_SUSTAIN, 64}, {ME_PORTAMENTO, 65}, {ME_SOSTENUTO, 66},
        {ME_SOFT_PEDAL, 67}, {ME_LEGATO_FOOTSWITCH, 68}, {ME_HOLD2, 69},
        {ME_HARMONIC_CONTENT, 71}, {ME_RELEASE_TIME, 72}, {ME_ATTACK_TIME, 73},
        {ME_BRIGHTNESS, 74}, {ME_PORTAMENTO_CONTROL, 84}, {ME_REVERB_EFFECT, 91},
        {ME_TREMOLO_EFFECT, 92}, {ME_CHORUS_EFFECT, 93}, {ME_CELESTE_EFFECT, 94},
        {ME_PHASER_EFFECT, 95},
    };
    for (const auto& e : table)
        if (e.type == type)
            return e.cc;
    return -1;
}

// The value of controller cc on channel ch, 0..127.
int controller_value(int ch, int cc)
{
    const Channel& c = channel[ch];
    switch (cc) {
    case 1: return opt_modulation_wheel ? c.mod.val : 0;
    case 7: return c.volume;
    case 10: return c.panning < 0 ? 64 : c.panning;
    case 11: return c.expression;
    case 91: return get_reverb_level(ch);
    case 93: return c.chorus_level < 0 ? -c.chorus_level : c.chorus_level;
    default: return controls[ch][cc];
    }
}

int clamp127(int x)
{
    return x < 0 ? 0 : x > 127 ? 127 : x;
}

double limit(double x, double most)
{
    return x < -most ? -most : x > most ? most : x;
}

// Whether a list has a modulator whose source or amount source is `key` (index and CC flag).
bool uses_source(const SF2ModList& l, int key)
{
    for (const SF2Modulator& m : l.mod)
        if ((m.src & 0xFF) == key || (m.amount_src & 0xFF) == key)
            return true;
    return false;
}

bool moves(const SF2ModList& l, int gen)
{
    for (const SF2Modulator& m : l.mod)
        if (m.dest == gen)
            return true;
    return false;
}

// Whether a source operand can change while a note sounds (the key and velocity cannot).
bool can_move(uint16 src)
{
    if (src & SF2_SRC_CC)
        return true;
    switch (src & SF2_SRC_INDEX) {
    case SF2_SRC_POLY_PRESSURE: case SF2_SRC_CHANNEL_PRESSURE: case SF2_SRC_PITCH_WHEEL:
    case SF2_SRC_BEND_RANGE:
        return true;
    default:
        return false;
    }
}

}  // namespace

bool sf_cutoff_can_move(const SF2ModList& l)
{
    if (l.mod_lfo_to_fc != 0)
        return true;
    for (const SF2Modulator& m : l.mod)
        if (m.dest == SF2_MODLFO_TO_FC ||
            (m.dest == SF2_FILTER_FC && (can_move(m.src) || can_move(m.amount_src))))
            return true;
    return false;
}

double sf_curve(int type, double x)
{
    x = x < 0 ? 0 : x > 1 ? 1 : x;
    switch (type) {
    case SF2_CURVE_CONCAVE: {
        // The level of a falling amplitude in 96 dB steps: 40 log10 of what is left.
        const double y = x >= 1 ? 1 : -(40.0 / 96.0) * std::log10(1 - x);
        return y > 1 ? 1 : y;
    }
    case SF2_CURVE_CONVEX: {
        const double y = x <= 0 ? 0 : 1 + (40.0 / 96.0) * std::log10(x);
        return y < 0 ? 0 : y;
    }
    case SF2_CURVE_SWITCH: return x >= 0.5 ? 1 : 0;
    default: return x;
    }
}

double sf_source_value(uint16 src, int v)
{
    const Voice& vp = voice[v];
    const int ch = vp.channel, index = src & SF2_SRC_INDEX;
    double x;
    if (src & SF2_SRC_CC) {
        x = controller_value(ch, index) / 127.0;
    } else {
        switch (index) {
        case SF2_SRC_VELOCITY: x = calc_velocity(ch, vp.velocity) / 127.0; break;
        case SF2_SRC_KEY: x = (vp.note & 0x7F) / 127.0; break;
        case SF2_SRC_POLY_PRESSURE: x = key_pressure[ch][vp.note & 0x7F] / 127.0; break;
        case SF2_SRC_CHANNEL_PRESSURE: x = channel_pressure[ch] / 127.0; break;
        case SF2_SRC_PITCH_WHEEL: x = (channel[ch].pitchbend & 0x3FFF) / 16384.0; break;
        case SF2_SRC_BEND_RANGE: x = clamp127(channel[ch].rpnmap[RPN_ADDR_0000]) / 127.0; break;
        default: return 1.0;  // no controller: the amount as it stands
        }
    }
    if (src & SF2_SRC_FALLING)
        x = 1 - x;
    const int curve = src >> SF2_SRC_CURVE_SHIFT;
    if (!(src & SF2_SRC_BIPOLAR))
        return sf_curve(curve, x);
    if (curve == SF2_CURVE_SWITCH)
        return x >= 0.5 ? 1 : -1;
    const double t = 2 * x - 1;
    return t < 0 ? -sf_curve(curve, -t) : sf_curve(curve, t);
}

double sf_modulator_value(const SF2Modulator& m, int v)
{
    const double y = m.amount * sf_source_value(m.src, v) * sf_source_value(m.amount_src, v);
    return m.transform == SF2_TRANSFORM_ABSOLUTE ? std::fabs(y) : y;
}

double sf_modulator_sum(int v, int gen)
{
    const Sample* sp = voice[v].sample;
    if (sp == nullptr || sp->sf_mods == nullptr)
        return 0;
    double sum = 0;
    for (const SF2Modulator& m : sp->sf_mods->mod)
        if (m.dest == gen)
            sum += sf_modulator_value(m, v);
    return sum;
}

double sf_modulated_gain(int v)
{
    // Attenuation only lowers: modulators never lift a voice above its zone's level.
    double cb = sf_modulator_sum(v, SF2_ATTENUATION);
    cb = cb < 0 ? 0 : cb > 1440 ? 1440 : cb;
    return std::pow(10.0, -cb / 200.0);
}

int16 sf_tremolo_depth(double centibels)
{
    const double cb = std::fabs(centibels);
    double swing = (std::pow(10.0, cb / 200.0) - std::pow(10.0, -cb / 200.0)) / 2;
    if (swing > 1)
        swing = 1;
    const int depth = (int)std::lround(swing * 1024);
    return (int16)(centibels > 0 ? -depth : depth);
}

void sf_modulate_voice(int v, bool starting)
{
    Voice& vp = voice[v];
    const Sample* sp = vp.sample;
    if (sp == nullptr || sp->sf_mods == nullptr)
        return;
    const SF2ModList& l = *sp->sf_mods;
    const int ch = vp.channel;
    const Channel& c = channel[ch];
    double sum[SF2_GEN_COUNT] = {};
    for (const SF2Modulator& m : l.mod)
        sum[m.dest] += sf_modulator_value(m, v);

    // Fonts can pile up amounts far past what a voice can sound: pitches stay within 20
    // octaves, LFO depths within the generators' ranges.
    vp.sf_tune = (float)limit(sum[SF2_COARSE_TUNE] * 100 + sum[SF2_FINE_TUNE], 24000);

    // Vibrato: the zone's depth and what the modulation wheel and pressure add, at the zone's
    // rate (with the channel's vibrato settings where the song makes them).
    const double cents = limit(l.vib_to_pitch + sum[SF2_VIBLFO_TO_PITCH], 12000);
    int32 depth = (int32)std::lround(cents * 64 / 100.0);
    if (depth == 0 && cents != 0)
        depth = cents > 0 ? 1 : -1;
    int32 ratio = l.vib_ratio;
    if (opt_nrpn_vibrato && (c.vibrato_ratio != 1.0f || c.vibrato_depth != 0)) {
        const double r = ratio * (double)c.vibrato_ratio;
        ratio = (int32)(r > 0 ? (r < 1e9 ? r : 1e9) : 0);
        if (depth != 0) {
            const int32 d = std::abs(depth) + c.vibrato_depth;
            depth = depth < 0 ? -d : d;
        }
    }
    depth = depth < -384 ? -384 : depth > 384 ? 384 : depth;
    if (depth == 0)
        ratio = 0;
    if (starting) {
        vp.vibrato_delay = c.vibrato_delay + l.vib_delay;
        vp.vibrato_phase = 0;
        vp.vibrato_sweep = 0;
    }
    if (depth != vp.vibrato_depth || ratio != vp.vibrato_control_ratio) {
        vp.vibrato_depth = depth;
        vp.vibrato_control_ratio = vp.orig_vibrato_control_ratio = ratio;
        memset(vp.vibrato_step_table, 0, sizeof(vp.vibrato_step_table));
        if (ratio != 0)
            vp.cache = nullptr;  // a resampled copy holds one pitch only
    }

    // The modulation LFO: the zone's depths and what modulators add; it runs at the zone's
    // rate when only a modulator asks for it.
    vp.sf_mod_lfo_pitch = (float)limit(l.mod_lfo_to_pitch + sum[SF2_MODLFO_TO_PITCH], 12000);
    vp.sf_mod_lfo_fc = (float)limit(l.mod_lfo_to_fc + sum[SF2_MODLFO_TO_FC], 12000);
    vp.sf_mod_lfo_volume = (float)limit(l.mod_lfo_to_volume + sum[SF2_MODLFO_TO_VOLUME], 960);
    if (starting)
        vp.tremolo_delay = l.mod_lfo_delay;
    if (vp.tremolo_phase_increment == 0 &&
        (vp.sf_mod_lfo_pitch != 0 || vp.sf_mod_lfo_fc != 0 || vp.sf_mod_lfo_volume != 0))
        vp.tremolo_phase_increment = l.mod_lfo_increment;
    vp.tremolo_depth = sf_tremolo_depth(vp.sf_mod_lfo_volume);

    // Filter cutoff (cents) and Q (centibels) on top of the zone's.
    if (vp.filter.type != 0 && sp->cutoff_freq > 0) {
        double f = sp->cutoff_freq * std::pow(2.0, sum[SF2_FILTER_FC] / 1200.0);
        vp.filter.orig_freq = (int16)(f < 5 ? 5 : f > 32767 ? 32767 : f);
        double q = sp->resonance + sum[SF2_FILTER_Q];
        q = q < 0 ? 0 : q > 960 ? 960 : q;
        const double reso = q / 10.0 - 3.01;
        vp.filter.orig_reso_dB = reso < 0 ? 0 : reso;
        if (vp.filter.type == 1)
            vp.filter.gain = (float)std::pow(10.0, vp.filter.orig_reso_dB * -0.5 / 20.0);
    }

    // Pan: the channel's pan comes through the engine's pan unless the font replaces it.
    if (!l.engine_pan || sum[SF2_PAN] != 0) {
        int pan = get_panning(ch, vp.note, v);
        if (!l.engine_pan && c.panning != -1)
            pan = clamp127(pan - (c.panning - 64));
        vp.panning = clamp127(pan + (int)std::lround(limit(sum[SF2_PAN], 1000) * 127 / 1000.0));
    }

    // Effect sends, as shares of the voice's output; the chorus share as loud as its font's
    // chorus returns it.
    const double reverb = (sp->sf_reverb_send + sum[SF2_REVERB_SEND]) / 1000.0;
    const double chorus = (sp->sf_chorus_send + sum[SF2_CHORUS_SEND]) / 1000.0;
    vp.reverb_send = (float)(reverb < 0 ? 0 : reverb > 1 ? 1 : reverb);
    vp.chorus_send = (float)(chorus < 0 ? 0 : chorus > 1 ? 1 : chorus) * sp->sf_chorus_return;
}

void sf_channel_event(const MidiEvent* ev, bool seeking)
{
    const int ch = ev->channel;
    if (ch >= MAX_CHANNELS)
        return;
    int key, note = -1;
    bool pan = false, all = false;
    const int cc = controller_of(ev->type);
    if (cc >= 0) {
        controls[ch][cc] = (uint8)clamp127(ev->a);
        key = SF2_SRC_CC | cc;
        pan = cc == 10;
    } else {
        switch (ev->type) {
        case ME_KEYPRESSURE:
            note = effective_note(ch, ev->a) & 0x7F;
            key_pressure[ch][note] = (uint8)clamp127(ev->b);
            key = SF2_SRC_POLY_PRESSURE;
            break;
        case ME_CHANNEL_PRESSURE:
            channel_pressure[ch] = (uint8)clamp127(ev->a);
            key = SF2_SRC_CHANNEL_PRESSURE;
            break;
        case ME_PITCHWHEEL: key = SF2_SRC_PITCH_WHEEL; break;
        case ME_DATA_ENTRY_MSB: case ME_DATA_ENTRY_LSB: case ME_RPN_INC: case ME_RPN_DEC:
            key = SF2_SRC_BEND_RANGE;
            break;
        case ME_RESET_CONTROLLERS: key = -1; all = true; break;
        default: return;
        }
    }
    if (seeking)
        return;
    for (int i = 0; i < upper_voices; i++) {
        Voice& vp = voice[i];
        if (vp.status == VOICE_FREE || vp.channel != ch || (note >= 0 && vp.note != note) ||
            vp.sample == nullptr || vp.sample->sf_mods == nullptr)
            continue;
        const SF2ModList& l = *vp.sample->sf_mods;
        if (!all && !uses_source(l, key) && !(pan && moves(l, SF2_PAN)))
            continue;
        sf_modulate_voice(i, false);
        recompute_amp(i);
        apply_envelope_to_amp(i);
        recompute_freq(i);
        recompute_voice_filter(i);
    }
}

void sf_reset_controls(int ch)
{
    if (ch < 0 || ch >= MAX_CHANNELS)
        return;
    memset(controls[ch], 0, sizeof(controls[ch]));
    memset(key_pressure[ch], 0, sizeof(key_pressure[ch]));
    channel_pressure[ch] = 0;
}
