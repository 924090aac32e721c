// Starting a note: the channel's filters, the random start delay and pan, and the
// initialisation of each voice the note uses.
#include <cmath>
#include <cstring>

#include "config/tonebank.h"
#include "frontend/controls.h"
#include "frontend/mt19937.h"
#include "frontend/options.h"
#include "frontend/tables.h"
#include "instrum/instrum.h"
#include "output/output.h"
#include "play/channels.h"
#include "play/playmidi.h"
#include "play/sf_modulators.h"
#include "play/voice.h"
#include "play/voice_sends.h"
#include "render/voice_filter.h"
#include "render/voice_params.h"

static double output_rate(void)
{
    return play_mode != nullptr && play_mode->rate > 0 ? play_mode->rate : 44100;
}

int note_on_allowed(const MidiEvent* e)
{
    int ch = e->channel;
    int note = effective_note(ch, e->a);
    const Channel& c = channel[ch];
    if (!(c.rx & RX_NOTE_MESSAGE))
        return 0;
    if (ISDRUMCHANNEL(ch) && c.drums[note] != nullptr && !get_rx_drum(c.drums[note], RX_NOTE_ON))
        return 0;
    if (note < c.note_limit_low || note > c.note_limit_high)
        return 0;
    if (e->b < c.vel_limit_low || e->b > c.vel_limit_high)
        return 0;
    return 1;
}

// Light pink noise in -1..1 (three one-pole filters over white noise).
static float get_pink_noise_light(void)
{
    static float b0 = 0, b1 = 0, b2 = 0;
    float white = (float)(genrand_real1() * 2.0 - 1.0);
    b0 = 0.99765f * b0 + white * 0.0990460f;
    b1 = 0.96300f * b1 + white * 0.2965164f;
    b2 = 0.57000f * b2 + white * 1.0526913f;
    float pink = (b0 + b1 + b2 + white * 0.1848f) * 0.22f;
    return pink > 1.0f ? 1.0f : pink < -1.0f ? -1.0f : pink;
}

// The random start delay of the note's tone-bank entry, in samples.
static int32 random_start_delay(int ch, int note)
{
    const Channel& c = channel[ch];
    if (c.special_sample != 0)
        return 0;
    int bank = c.bank, prog;
    ToneBank** table;
    if (ISDRUMCHANNEL(ch)) {
        prog = note;
        table = drumset;
    } else {
        if (c.program == -1)
            return 0;
        prog = c.program;
        table = tonebank;
    }
    instrument_map(c.mapID, &bank, &prog);
    if (bank < 0 || bank >= TONEBANK_SLOTS || prog < 0 || prog > 127)
        return 0;
    ToneBank* tb = table[bank] != nullptr ? table[bank] : table[0];
    if (tb == nullptr || tb->tone[prog].rnddelay == 0)
        return 0;
    return (int32)(output_rate() * tb->tone[prog].rnddelay / 1000.0 *
                   (get_pink_noise_light() + 1.0) * 0.5);
}

// The notes of a SoundFont sample with an exclusive class cut the channel's other sounding
// notes of that class (an open hi-hat stops when the closed one is struck).
static void cut_exclusive_class(int ch, const int* vlist, int nv)
{
    for (int i = 0; i < nv; i++) {
        const Sample* sp = voice[vlist[i]].sample;
        if (sp == nullptr || sp->inst_type != INST_SF2 || sp->sf_exclusive_class == 0)
            continue;
        for (int j = 0; j < upper_voices; j++) {
            const Voice& o = voice[j];
            if (o.status == VOICE_FREE || o.status == VOICE_DIE || o.channel != ch ||
                o.sample == nullptr || o.sample->inst_type != INST_SF2 ||
                o.sample->sf_exclusive_class != sp->sf_exclusive_class)
                continue;
            bool started_now = false;
            for (int k = 0; k < nv; k++)
                started_now |= vlist[k] == j;
            if (!started_now)
                kill_note(j);
        }
    }
}

void note_on(MidiEvent* e)
{
    if (!note_on_allowed(e))
        return;
    int voicelist[MAX_VOICES_PER_NOTE];
    int nv = find_samples(e, voicelist);
    if (nv == 0)
        return;
    const int ch = e->channel;
    cut_exclusive_class(ch, voicelist, nv);
    const int note = effective_note(ch, e->a);
    int vid = 0;
    if (opt_overlap_voice_allow)
        vid = vidq_head[ch * 128 + note]++;
    recompute_bank_parameter(ch, note);
    recompute_channel_filter(ch, note);
    const int32 delay = random_start_delay(ch, note);

    Channel& c = channel[ch];
    for (int i = 0; i < nv; i++) {
        int v = voicelist[i];
        if (ISDRUMCHANNEL(ch) && c.drums[note] != nullptr && c.drums[note]->pan_random) {
            c.drums[note]->drum_panning = (int8)int_rand(128);
        } else if (c.pan_random) {
            c.panning = (int8)int_rand(128);
            ctl_mode_event(CTLE_PANNING, 1, ch, c.panning);
        }
        start_note(e, v, vid, nv - i - 1);
        if (voice[v].status == VOICE_FREE)
            continue;  // its start lay beyond the sample's end
        Voice& vp = voice[v];
        vp.delay += delay;
        vp.modenv_delay += delay;
        vp.old_left_mix = vp.old_right_mix = 0;
        vp.left_mix_offset = vp.right_mix_offset = 0;
        vp.left_mix_inc = vp.right_mix_inc = 0;
        if (opt_surround_chorus)
            surround_chorus_double(v);
    }
    c.legato_flag = 1;
}

// ---- one voice ----------------------------------------------------------------------------

// Where the voice starts in its sample; 0 when the start lies beyond the end of a sample
// that does not loop (the voice has been freed).
static int set_start_offset(int ch, Voice& vp, int v)
{
    vp.sample_offset = 0;
    const int sp = (uint8)channel[ch].special_sample;
    if (sp == 0 || special_patch[sp] == nullptr)
        return 1;
    const Sample* s = vp.sample;
    vp.sample_offset = (int64)special_patch[sp]->sample_offset << FRACTION_BITS;
    if (!(s->modes & MODES_LOOPING)) {
        if (vp.sample_offset > (int64)s->data_length) {
            free_voice(v);
            return 0;
        }
    } else if (vp.sample_offset > (int64)s->loop_end) {
        vp.sample_offset = s->loop_start;
    }
    return 1;
}

static void init_filter(Voice& vp)
{
    const Sample* s = vp.sample;
    vp.filter = FilterCoefficients();
    if (opt_lpf_def && s->cutoff_freq) {
        vp.filter.orig_freq = (int16)s->cutoff_freq;
        double reso = s->resonance / 10.0 - 3.01;
        vp.filter.orig_reso_dB = reso < 0 ? 0 : reso;
        if (s->inst_type == INST_SF2) {
            vp.filter.type = FILTER_TWO_POLE;  // the format's filter, whatever kind patches use
            vp.filter.gain = (float)pow(10.0, vp.filter.orig_reso_dB * -0.5 / 20.0);
        } else if (opt_lpf_def == 2) {
            vp.filter.type = 2;
            vp.filter.gain = 1.0f;
        } else {
            vp.filter.type = 1;
            vp.filter.gain = (float)pow(10.0, vp.filter.orig_reso_dB * -0.5 / 20.0);
        }
        vp.filter.start_flag = 0;
    } else {
        vp.filter.type = 0;
    }
}

static void init_vibrato(int ch, Voice& vp)
{
    const Sample* s = vp.sample;
    const Channel& c = channel[ch];
    vp.vibrato_sweep = s->vibrato_sweep_increment;
    vp.vibrato_sweep_position = 0;
    if (opt_nrpn_vibrato && (c.vibrato_ratio != 1.0f || c.vibrato_depth != 0)) {
        double r = s->vibrato_control_ratio ? s->vibrato_control_ratio : cnv_Hz_to_vib_ratio(5.0);
        double ratio = r * c.vibrato_ratio;
        vp.vibrato_control_ratio = (int32)(ratio > 0 ? ratio : 0);
        int32 depth = s->vibrato_depth + c.vibrato_depth;
        depth = depth < 1 ? 1 : depth > 384 ? 384 : depth;
        vp.vibrato_depth = s->vibrato_depth < 0 ? -depth : depth;
    } else {
        vp.vibrato_control_ratio = s->vibrato_control_ratio;
        vp.vibrato_depth = s->vibrato_depth;
    }
    vp.orig_vibrato_control_ratio = vp.vibrato_control_ratio;
    vp.vibrato_control_counter = 0;
    vp.vibrato_delay = c.vibrato_delay + s->vibrato_delay;
    vp.vibrato_phase = 0;
    memset(vp.vibrato_step_table, 0, sizeof(vp.vibrato_step_table));
}

// Portamento from the channel's last note, or the fixed glide of a legato note.
static void init_portamento(int ch, int note, Voice& vp, int remaining)
{
    Channel& c = channel[ch];
    vp.porta_control_counter = 0;
    if (c.legato && c.legato_flag) {
        c.porta_control_ratio = (int32)(output_rate() * 3.75e-06 * 1042 + 0.5);
        c.porta_dpb = 1042;
    } else if (c.portamento && c.porta_control_ratio == 0) {
        update_portamento_controls(ch);
    }
    vp.porta_control_ratio = 0;
    if (c.porta_control_ratio) {
        if (c.last_note_fine == -1) {
            c.porta_control_ratio = 0;
            c.last_note_fine = note * 256;
        } else {
            vp.porta_control_ratio = c.porta_control_ratio;
            vp.porta_dpb = c.porta_dpb;
            vp.porta_pb = c.last_note_fine - note * 256;
            if (vp.porta_pb == 0)
                vp.porta_control_ratio = 0;
        }
    }
    if (remaining == 0)
        c.last_note_fine = note * 256;
}

void start_note(MidiEvent* e, int v, int vid, int remaining)
{
    const int ch = e->channel;
    const int note = effective_note(ch, e->a);
    Voice& vp = voice[v];
    vp.status = VOICE_ON;
    vp.channel = (uint8)ch;
    vp.note = (uint8)note;
    vp.velocity = vp.sample->velocity_to_use ? vp.sample->velocity_to_use : e->b;
    vp.chorus_link = (uint16)v;
    vp.newest_of_note = 1;
    if (!set_start_offset(ch, vp, v))
        return;

    const Sample* s = vp.sample;
    vp.sample_step = 0;
    vp.vid = vid;
    vp.delay = s->envelope_delay;
    vp.modenv_delay = s->modenv_delay;
    vp.delay_counter = 0;
    vp.tremolo_delay = s->tremolo_delay;
    vp.tremolo_phase = 0;
    vp.tremolo_phase_increment = s->tremolo_phase_increment;
    vp.tremolo_sweep = s->tremolo_sweep_increment;
    vp.tremolo_sweep_position = 0;
    vp.tremolo_depth = s->tremolo_depth;
    vp.tremolo_volume = 1.0;  // until the first control period computes it
    init_filter(vp);
    init_vibrato(ch, vp);

    vp.panning = get_panning(ch, note, v);
    if (s->sf_mods != nullptr)
        sf_modulate_voice(v, true);
    init_voice_pan_delay(v);
    init_portamento(ch, note, vp, remaining);

    if (s->modes & MODES_ENVELOPE) {
        vp.modenv_stage = 0;
        vp.modenv_volume = 0;
        recompute_modulation_envelope(v);
    } else {
        vp.modenv_increment = 0;
    }
    apply_modulation_envelope(v);

    recompute_freq(v);
    recompute_voice_filter(v);
    recompute_amp(v);
    voice_effect_sends(v);

    if (s->modes & MODES_ENVELOPE) {
        vp.envelope_stage = 0;
        vp.envelope_volume = 0;
        vp.control_counter = 0;
        recompute_envelope(v);
    } else {
        vp.envelope_increment = 0;
    }
    apply_envelope_to_amp(v);

    vp.timeout = -1;
    if (!prescanning_flag)
        ctl_note_event(v);
}
