// The envelopes and tremolo of a voice, advanced once per control period: the six-stage
// amplitude envelope that also ends the voice, the modulation envelope that moves pitch and
// cutoff, and the gains left_mix and right_mix that envelope and tremolo give the mixer.
#include <cmath>

#include "frontend/controls.h"
#include "frontend/options.h"
#include "frontend/tables.h"
#include "instrum/instrum.h"
#include "instrum/sf2_reader.h"
#include "output/output.h"
#include "play/channels.h"
#include "play/playmidi.h"
#include "play/voice.h"
#include "render/gs_curves.h"
#include "render/voice_filter.h"
#include "render/voice_params.h"

#define MAX_ENVELOPE_LEVEL 1073741823

int get_eg_stage(int v, int stage)
{
    const Sample* sp = voice[v].sample;
    if (sp != nullptr && sp->inst_type == INST_SF2)
        return stage > 2 ? 3 : stage;
    switch (stage) {
    case 0: return 0;
    case 1: return 2;
    case 2: return 5;
    default: return 3;
    }
}

// One of the two envelopes of a voice: its state and the sample's stage settings.
struct EnvelopeRef {
    int32 &stage, &volume, &target, &increment;
    const int32 *rate, *offset;
    const int16 *keyf, *velf;
    int velf_base;
    bool amplitude;  // the amplitude envelope (frees the voice; keeps the release scale)
};

static EnvelopeRef amplitude_envelope(Voice& vp)
{
    const Sample* sp = vp.sample;
    return {vp.envelope_stage, vp.envelope_volume, vp.envelope_target, vp.envelope_increment,
            sp->envelope_rate, sp->envelope_offset, sp->envelope_keyf, sp->envelope_velf,
            sp->envelope_velf_bpo, true};
}

static EnvelopeRef modulation_envelope(Voice& vp)
{
    const Sample* sp = vp.sample;
    return {vp.modenv_stage, vp.modenv_volume, vp.modenv_target, vp.modenv_increment,
            sp->modenv_rate, sp->modenv_offset, sp->modenv_keyf, sp->modenv_velf,
            sp->modenv_velf_bpo, false};
}

static int32 output_rate(void)
{
    return play_mode != nullptr && play_mode->rate > 0 ? play_mode->rate : 44100;
}

// A sustained note (pedal) fades out over the sustain time instead of holding forever.
// Returns false when it holds.
static bool start_sustain_decay(Voice& vp, EnvelopeRef& e)
{
    const Channel& c = channel[vp.channel];
    if (min_sustain_time <= 0 && c.loop_timeout <= 0)
        return false;
    double t = min_sustain_time;
    if (c.loop_timeout > 0 && (t <= 0 || c.loop_timeout * 1000.0 < t))
        t = c.loop_timeout * 1000.0;
    if (!c.sostenuto && c.sustain > 0)
        t *= c.sustain / 127.0;
    e.target = 0;
    int32 periods = (int32)(output_rate() * t / (control_ratio * 1000.0));
    int32 rate = e.volume / (periods > 0 ? periods : 1);
    if (e.rate[3] != 0 && e.rate[3] < rate)
        rate = e.rate[3];
    if (e.rate[2] != 0 && e.rate[2] < rate)
        rate = e.rate[2];
    e.increment = -(rate != 0 ? rate : 1);
    return true;
}

// Moves envelope e of voice v to its next stage (skipping stages with nothing to do).
// Returns 1 when the envelope has ended.
static int next_stage(int v, EnvelopeRef e)
{
    Voice& vp = voice[v];
    const Sample* sp = vp.sample;
    for (;;) {
        if (e.stage > 5 || (e.stage > 2 && (e.amplitude ? e.volume <= 0 : e.volume < 1)))
            return 1;
        if (e.stage == 3 && (sp->modes & MODES_ENVELOPE) &&
            (vp.status & (VOICE_ON | VOICE_SUSTAINED))) {
            // Held at the sustain level: the level stays, but every control period comes
            // back here, so that a pedal's release or decay starts on time. (After skipped
            // stages the step would otherwise be whatever the record's last note left.)
            if (vp.status == VOICE_ON || (min_sustain_time != 1 && !start_sustain_decay(vp, e))) {
                e.increment = -1;
                e.target = e.volume;
                return 0;
            }
            if (min_sustain_time != 1)
                return 0;
        }
        const int s = e.stage++;
        const int32 offset = e.offset[s], rate = e.rate[s];
        if (e.volume == offset || (s > 2 && e.volume < offset))
            continue;

        const int ch = vp.channel;
        const Channel& c = channel[ch];
        const int g = get_eg_stage(v, s);
        double r = rate;
        int control;
        if (!ISDRUMCHANNEL(ch)) {
            if (e.keyf[s])
                r = rate * std::pow(2.0, e.keyf[s] * (vp.note - 60) / 1200.0);
            control = c.envelope_rate[g];
        } else {
            control = c.drums[vp.note] != nullptr ? c.drums[vp.note]->drum_envelope_rate[g] : -1;
        }
        if (e.velf[s])
            r *= std::pow(2.0, e.velf[s] * (vp.velocity - e.velf_base) / 1200.0);

        if (s > 2) {
            // The release takes as long from any level as it would from the attack's peak.
            if (e.offset[0] > 0)
                r *= (double)e.volume / e.offset[0];
            if (e.amplitude) {
                vp.envelope_scale = vp.last_envelope_volume;
                double inv = (double)MAX_ENVELOPE_LEVEL / e.volume * 65536.0;
                vp.inv_envelope_scale = inv >= 2147483647.0 ? 2147483647 : (int32)inv;
            }
        }
        const bool falling = offset < e.volume;
        if (control != -1)
            r *= falling ? (g < 3 ? sc_eg_decay_table[control & 0x7F]
                                  : sc_eg_release_table[control & 0x7F])
                         : sc_eg_attack_table[control & 0x7F];

        if (s < 2 && (e.amplitude ? r : (double)rate) > MAX_ENVELOPE_LEVEL) {
            e.volume = offset;  // an attack too fast for one period is over at once
            continue;
        }
        double inc;
        if (falling)
            inc = r > (double)e.volume - offset ? (double)offset - e.volume - 1 : -std::fmax(r, 1.0);
        else
            inc = r > (double)offset - e.volume ? (double)offset - e.volume + 1 : std::fmax(r, 1.0);
        e.increment = (int32)inc;
        e.target = offset;
        return 0;
    }
}

int recompute_envelope(int v)
{
    Voice& vp = voice[v];
    if (vp.sample == nullptr)
        return 0;
    if (next_stage(v, amplitude_envelope(vp)) == 0)
        return 0;
    const bool dying = vp.status == VOICE_DIE;
    free_voice(v);
    if (!dying)
        ctl_note_event(v);
    return 1;
}

bool modulation_applies(const Sample* sp)
{
    return opt_modulation_envelope ||
           (sp->inst_type == INST_SF2 && (sp->modenv_to_pitch || sp->modenv_to_fc ||
                                          sp->tremolo_to_pitch || sp->tremolo_to_fc ||
                                          (sp->sf_mods != nullptr && sp->sf_mods->lfo_modulated)));
}

int recompute_modulation_envelope(int v)
{
    Voice& vp = voice[v];
    if (vp.sample == nullptr || !modulation_applies(vp.sample))
        return 0;
    return next_stage(v, modulation_envelope(vp));
}

static inline int32 gain_of(double amp)
{
    double g = amp * 4096.0;
    return g >= 8191.0 ? 8191 : (int32)g;
}

int apply_envelope_to_amp(int v)
{
    Voice& vp = voice[v];
    const Sample* sp = vp.sample;
    if (sp == nullptr)
        return 0;
    const double* curve = sp->inst_type == INST_SF2 ? sb_vol_table : def_vol_table;
    double l = vp.left_amp, r = vp.pan_mode == PAN_STEREO ? vp.right_amp : 0;
    if (vp.tremolo_phase_increment) {
        l *= vp.tremolo_volume;
        r *= vp.tremolo_volume;
    }
    if (sp->modes & MODES_ENVELOPE) {
        const int32 level = vp.envelope_volume < 0 ? 0 : vp.envelope_volume;
        double e;
        if (vp.envelope_stage < 2) {
            e = attack_vol_table[level >> 20];
        } else if (vp.envelope_stage < 4) {
            e = curve[level >> 20];
        } else {
            int64 scaled = ((int64)level * vp.inv_envelope_scale) >> 16;
            int idx = (int)(scaled >> 20);
            e = vp.envelope_scale * curve[idx > 1023 ? 1023 : idx];
        }
        vp.last_envelope_volume = e;
        l *= e;
        r *= e;
    }
    const int32 lm = gain_of(l), rm = gain_of(r);
    if ((vp.status & (VOICE_SUSTAINED | VOICE_OFF)) && (lm | rm) < 1) {
        free_voice(v);
        ctl_note_event(v);
        return 1;
    }
    vp.left_mix = lm;
    if (vp.pan_mode == PAN_STEREO)
        vp.right_mix = rm;
    return 0;
}

void apply_modulation_envelope(int v)
{
    Voice& vp = voice[v];
    if (vp.sample == nullptr || !modulation_applies(vp.sample))
        return;
    if (vp.sample->modes & MODES_ENVELOPE) {
        int idx = vp.modenv_volume >> 20;
        vp.last_modenv_volume = modenv_vol_table[idx < 0 ? 0 : idx > 1023 ? 1023 : idx];
    }
    recompute_voice_filter(v);
    if (!(vp.porta_control_ratio && vp.porta_control_counter == 0))
        recompute_freq(v);
}

// Steps a level towards its target; at or past it the level is the target and the next
// stage is due (true).
static bool step_level(int32& volume, int32 increment, int32 target)
{
    int32 n = volume + increment;
    if ((increment < 0 && n > target) || (increment >= 0 && n <= target)) {
        volume = n;
        return false;
    }
    volume = target;
    return true;
}

void update_tremolo(int v)
{
    Voice& vp = voice[v];
    if (vp.tremolo_phase_increment == 0)
        return;
    if (vp.tremolo_delay > 0) {
        vp.tremolo_delay -= vp.delay_counter;
        if (vp.tremolo_delay > 0) {
            vp.tremolo_volume = 1.0;
            return;
        }
        vp.tremolo_delay = 0;
    }
    int32 depth = vp.tremolo_depth * 128;
    if (vp.tremolo_sweep) {
        vp.tremolo_sweep_position += vp.tremolo_sweep;
        if (vp.tremolo_sweep_position < 65536)
            depth = (int32)(((int64)vp.tremolo_sweep_position * depth) >> 16);
        else
            vp.tremolo_sweep = 0;
    }
    // Only the low 15 bits of the phase matter; it wraps before it could overflow.
    vp.tremolo_phase = (vp.tremolo_phase + vp.tremolo_phase_increment) & 0x7FFF;
    vp.tremolo_volume = 1.0 + 7.6293945e-06 * depth * lookup_sine(vp.tremolo_phase >> 5);
}

// Whether the voice's tremolo LFO moves its pitch or cutoff from one control period to the next.
static bool lfo_moves_pitch_or_cutoff(const Voice& vp)
{
    if (vp.tremolo_phase_increment == 0)
        return false;
    const Sample* sp = vp.sample;
    if (sp->tremolo_to_pitch || sp->tremolo_to_fc ||
        (sp->sf_mods != nullptr && sp->sf_mods->lfo_modulated))
        return true;
    if (opt_channel_pressure) {
        const Channel& c = channel[vp.channel];
        const midi_controller* const sources[] = {&c.mod, &c.bend, &c.caf, &c.paf, &c.cc1, &c.cc2};
        for (const midi_controller* p : sources)
            if (get_midi_controller_filter_depth(p) != 0)
                return true;
    }
    return false;
}

// Below these, a pitch or cutoff set once a block cannot be told from one that moves each
// control period: a cent of pitch; ten cents of cutoff, about what a cutoff kept in whole
// hertz moves by in one step below 1 kHz.
#define MOVING_PITCH_CENTS 1.0
#define MOVING_CUTOFF_CENTS 10.0

// How far (0..1 of its range) the modulation envelope's output moves over the next count
// frames; 1 when it reaches the end of its stage or its delay ends among them (what comes
// next is not known here).
static double modulation_envelope_travel(const Voice& vp, int32 count)
{
    if (vp.modenv_delay > 0)
        return vp.modenv_delay < count ? 1.0 : 0.0;
    if (vp.modenv_volume == vp.modenv_target)
        return 0.0;  // held at its sustain level, or ended
    const double periods = (double)count / (control_ratio > 0 ? control_ratio : 1) + 1;
    const double end = vp.modenv_volume + (double)vp.modenv_increment * periods;
    if (vp.modenv_increment >= 0 ? end >= vp.modenv_target : end <= vp.modenv_target)
        return 1.0;
    const auto level = [](double x) {
        const int idx = (int)(x / (1 << 20));
        return modenv_vol_table[idx < 0 ? 0 : idx > 1023 ? 1023 : idx];
    };
    return std::fabs(level(end) - level(vp.modenv_volume));
}

bool modulation_moves_voice(int v, int32 count)
{
    const Voice& vp = voice[v];
    const Sample* sp = vp.sample;
    if (sp == nullptr || sp->inst_type != INST_SF2 || !modulation_applies(sp))
        return false;
    const bool filtered = vp.filter.type != FILTER_NONE;
    if ((sp->modenv_to_pitch || (filtered && sp->modenv_to_fc)) && (sp->modes & MODES_ENVELOPE)) {
        const double travel = modulation_envelope_travel(vp, count);
        if (std::fabs(sp->modenv_to_pitch * travel) >= MOVING_PITCH_CENTS ||
            (filtered && std::fabs(sp->modenv_to_fc * travel) >= MOVING_CUTOFF_CENTS))
            return true;
    }
    if (vp.tremolo_phase_increment == 0 || vp.tremolo_delay >= count)
        return false;
    if (sp->sf_mods != nullptr)
        return vp.sf_mod_lfo_pitch != 0 || (filtered && vp.sf_mod_lfo_fc != 0);
    return sp->tremolo_to_pitch || (filtered && sp->tremolo_to_fc);
}

void update_modulation_envelope(int v)
{
    Voice& vp = voice[v];
    if (vp.sample == nullptr || !modulation_applies(vp.sample) || !(vp.sample->modes & MODES_ENVELOPE))
        return;
    if (vp.modenv_delay > 0) {
        vp.modenv_delay -= vp.delay_counter;
        if (vp.modenv_delay > 0)
            return;
        vp.modenv_delay = 0;
    }
    if (step_level(vp.modenv_volume, vp.modenv_increment, vp.modenv_target))
        recompute_modulation_envelope(v);
    // Pitch and cutoff follow the envelope's level and the LFO; while the level stays on one
    // step of its curve (sustain, or a slow segment) and no LFO moves them, they stay as they
    // are (the channel's events recompute its voices themselves).
    const int idx = vp.modenv_volume >> 20;
    if (modenv_vol_table[idx < 0 ? 0 : idx > 1023 ? 1023 : idx] == vp.last_modenv_volume &&
        !lfo_moves_pitch_or_cutoff(vp))
        return;
    apply_modulation_envelope(v);
}

int update_signal(int v)
{
    Voice& vp = voice[v];
    if (vp.sample == nullptr)
        return 0;
    if (vp.envelope_increment &&
        step_level(vp.envelope_volume, vp.envelope_increment, vp.envelope_target) &&
        recompute_envelope(v))
        return 1;
    update_tremolo(v);
    update_modulation_envelope(v);
    return apply_envelope_to_amp(v);
}

void set_envelope_time(int ch, int val, int stage)
{
    static const char* const names[] = {"Attack Time (CH:%d VALUE:%d)", "? Time (CH:%d VALUE:%d)",
                                        "Decay Time (CH:%d VALUE:%d)", "Release Time (CH:%d VALUE:%d)"};
    cmsg(CMSG_INFO, VERB_NOISY, stage >= 0 && stage <= 3 ? names[stage] : names[1], ch, val);
    if (stage >= 0 && stage < 6)
        channel[ch].envelope_rate[stage] = val & 0x7F;
}
