// The pitch of a voice: its frequency from the note, tunings, bend, modulation sources and
// portamento, the fixed-point step through its sample, and the vibrato it starts with.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "config/tonebank.h"
#include "frontend/controls.h"
#include "frontend/options.h"
#include "frontend/tables.h"
#include "instrum/instrum.h"
#include "instrum/sf2_reader.h"
#include "output/output.h"
#include "play/channels.h"
#include "play/playmidi.h"
#include "play/voice.h"
#include "render/voice_params.h"

// The channel's cached bend factor was made for this total pitch offset; a voice whose
// offset differs (another drum note, another pitch class's scale tuning) computes its own.
static int32 pitchfactor_offset[MAX_CHANNELS];

double pitch_offset_ratio(int32 t)
{
    if (t >= 0)
        return bend_coarse[(t >> 13) & 0x7F] * bend_fine[(t >> 5) & 0xFF];
    t = -t;
    return 1.0 / (bend_coarse[(t >> 13) & 0x7F] * bend_fine[(t >> 5) & 0xFF]);
}

int32 get_note_freq(const Sample* sp, int n)
{
    n &= 0x7F;
    int32 f = freq_table[n];
    if (sp->scale_factor != 1024) {
        double ratio = std::pow(2.0, (n - sp->scale_freq) * (sp->scale_factor - 1024) / 12288.0);
        // A damaged patch's scale factor can send the ratio to nothing or infinity.
        double v = f * ratio + 0.5;
        f = !(v >= 0.0) ? 0 : v < 2147483647.0 ? (int32)v : 2147483647;
    }
    return f;
}

static int32 output_rate(void)
{
    return play_mode != nullptr && play_mode->rate > 0 ? play_mode->rate : 44100;
}

double cnv_Hz_to_vib_ratio(double freq)
{
    return (double)output_rate() / (2.0 * freq * 32.0);
}

// The drum set entry a drum channel's note maps to (the bank's own, else bank 0's).
static ToneBankElement* drum_entry(int ch, int note)
{
    int bank = channel[ch].bank, prog = note;
    instrument_map(channel[ch].mapID, &bank, &prog);
    if (prog < 0 || prog > 127)
        return nullptr;
    ToneBank* set = bank >= 0 && bank < TONEBANK_SLOTS && drumset[bank] != nullptr ? drumset[bank]
                                                                                 : drumset[0];
    return set != nullptr ? &set->tone[prog] : nullptr;
}

double get_play_note_ratio(int ch, int note)
{
    const DrumParts* d = channel[ch].drums[note & 0x7F];
    if (d == nullptr || d->play_note == -1)
        return 1.0;
    int pn = d->play_note;
    const ToneBankElement* e = drum_entry(ch, note & 0x7F);
    if (e == nullptr || e->play_note == -1)
        return 1.0;
    int dn = e->play_note;
    if (pn < dn)
        return 1.0 / bend_coarse[(dn - pn) & 0x7F];
    return bend_coarse[(pn - dn) & 0x7F];
}

// ---- modulation sources ------------------------------------------------------------------

int32 get_midi_controller_pitch(const midi_controller* p)
{
    return (int32)p->val * p->pitch * 64;
}

int16 get_midi_controller_pitch_depth(const midi_controller* p)
{
    return (int16)((double)p->val * p->lfo1_pitch_depth * 0.005039370059967041);
}

float get_midi_controller_amp(const midi_controller* p)
{
    return (float)(p->val * 0.007874016 * p->amp + 1.0);
}

int16 get_midi_controller_amp_depth(const midi_controller* p)
{
    return (int16)(p->val * p->lfo1_tva_depth * 2.015748);
}

float get_midi_controller_filter_cutoff(const midi_controller* p)
{
    return (float)(p->val * 0.007874016 * p->cutoff);
}

float get_midi_controller_filter_depth(const midi_controller* p)
{
    return (float)(p->val * 0.007874016 * p->lfo1_tvf_depth);
}

// ---- tunings -----------------------------------------------------------------------------

// The frequency of note n in the channel's temperament, as a note starts with it.
static int32 temperament_freq(int ch, int n)
{
    const Channel& c = channel[ch];
    const bool minor = current_temper_keysig >= 8;
    const int r = current_freq_table;
    const int o = minor ? (temper_adj ? 24 : 12) : (temper_adj ? 36 : 0);
    const int t = c.temper_type;
    if (t == 0)
        return freq_table_tuning[c.rpnmap[RPN_ADDR_0003] & 0x7F][n];
    if (t == 1)
        return freq_table_pytha[r + (minor ? 12 : 0)][n];
    if (t == 2)
        return freq_table_meantone[r + o][n];
    if (t == 3)
        return freq_table_pureint[r + o][n];
    if (t >= 0x40 && t <= 0x43)
        return freq_table_user[t - 0x40][r + o][n];
    return freq_table[n];
}

// MIDI tuning standard messages arrive as a header (part #0: a = tuning program) followed by
// pairs of events per note: part #1 (a = note, b = semitone), part #2 (a and b = the 14-bit
// fraction of a semitone). A change in real time retunes the sounding notes of channels
// that use the tuning program.
void set_single_note_tuning(int part, int a, int b, int rt)
{
    static int tp, note, st;
    switch (part) {
    case 0:
        tp = a & 0x7F;
        break;
    case 1:
        note = a & 0x7F;
        st = b & 0x7F;
        break;
    case 2: {
        int fine = ((a & 0x7F) << 7) | (b & 0x7F);
        if (st == 0x7F && fine == 0x3FFF)
            break;  // no change for this note
        double f = 440.0 * std::pow(2.0, (st - 69 + fine / 16384.0) / 12.0);
        freq_table_tuning[tp][note] = (int32)(f * 1000.0 + 0.5);
        if (!rt)
            break;
        for (int i = 0; i < upper_voices; i++) {
            Voice& vp = voice[i];
            if (vp.status == VOICE_FREE || vp.note != note ||
                channel[vp.channel].rpnmap[RPN_ADDR_0003] != tp)
                continue;
            vp.temper_instant = 1;
            recompute_freq(i);
        }
        break;
    }
    default:
        break;
    }
}

// ---- frequency and step --------------------------------------------------------------------

// A frequency or step from floating point; extreme tunings stay within 32 bits.
static int32 limit_int32(double x)
{
    return x >= 2147483647.0 ? 2147483647 : x <= -2147483647.0 ? -2147483647 : (int32)x;
}

void recompute_freq(int v)
{
    Voice& vp = voice[v];
    const Sample* sp = vp.sample;
    if (sp == nullptr || sp->sample_rate == 0 || sp->root_freq <= 0)
        return;
    const int ch = vp.channel, note = vp.note;
    Channel& c = channel[ch];
    midi_controller* const sources[] = {&c.mod, &c.bend, &c.caf, &c.paf, &c.cc1, &c.cc2};

    if (!opt_modulation_wheel)
        c.mod.val = 0;
    if (!opt_portamento)
        vp.porta_control_ratio = 0;

    // A SoundFont voice's vibrato, tuning and modulation-LFO depth come from its modulators
    // (sf_modulate_voice), and its bend too where the font replaces the engine's.
    const SF2ModList* mods = sp->sf_mods;
    const int32 old_frequency = vp.frequency;
    if (mods == nullptr)
        vp.vibrato_control_ratio = vp.orig_vibrato_control_ratio;
    if (mods == nullptr && (vp.vibrato_control_ratio || c.mod.val > 0)) {
        if (opt_channel_pressure || opt_modulation_wheel) {
            int32 depth = sp->vibrato_depth + c.vibrato_depth;
            for (const midi_controller* p : sources)
                depth += get_midi_controller_pitch_depth(p);
            depth = depth < 1 ? 1 : depth > 384 ? 384 : depth;
            vp.vibrato_depth = sp->vibrato_depth < 0 ? -depth : depth;
        }
        if (c.mod.val > 0) {
            if (vp.vibrato_control_ratio == 0)
                vp.vibrato_control_ratio = vp.orig_vibrato_control_ratio =
                    (int32)(cnv_Hz_to_vib_ratio(5.0) * c.vibrato_ratio);
            vp.vibrato_delay = 0;
        }
        memset(vp.vibrato_step_table, 0, sizeof(vp.vibrato_step_table));
        vp.cache = nullptr;
    }

    int32 t = ((c.rpnmap[RPN_ADDR_0001] - 64) + (c.rpnmap[RPN_ADDR_0002] - 64) * 64) * 128 +
              master_tuning;
    const bool drum = ISDRUMCHANNEL(ch);
    if (drum && c.drums[note] != nullptr && (c.drums[note]->coarse || c.drums[note]->fine))
        t += (c.drums[note]->fine + c.drums[note]->coarse * 64) * 128;
    if (opt_channel_pressure)
        for (const midi_controller* p : sources)
            t += get_midi_controller_pitch(p);
    if (mods != nullptr && vp.sf_tune != 0)
        t = (int32)(vp.sf_tune * 8192.0 / 100.0 + 0.5 + t);
    if (modulation_applies(sp)) {
        const double lfo = mods != nullptr ? vp.sf_mod_lfo_pitch : sp->tremolo_to_pitch;
        if (lfo != 0)
            t = (int32)(lfo * 8192.0 * lookup_triangular(vp.tremolo_phase >> 5) / 100.0 + 0.5 + t);
        if (sp->modenv_to_pitch)
            t = (int32)(sp->modenv_to_pitch * 8192.0 * vp.last_modenv_volume / 100.0 + 0.5 + t);
    }
    if (!drum) {
        int st = c.scale_tuning[note % 12];
        t = (int32)(st * 8192.0 / 100.0 + 0.5 + t);
        if (st != c.prev_scale_tuning)
            c.prev_scale_tuning = (int8)st;
    }
    if (!opt_pure_intonation && opt_temper_control && vp.temper_instant)
        vp.orig_frequency = temperament_freq(ch, note);

    const int32 pb = mods != nullptr && !mods->engine_bend ? 0 : c.pitchbend - 0x2000;
    const int32 sensitivity = c.rpnmap[RPN_ADDR_0000];
    if (vp.porta_control_ratio == 0) {
        if (t == 0 && pb == 0) {
            vp.frequency = vp.orig_frequency;
        } else {
            t += sensitivity * pb;
            if (c.pitchfactor == 0 || pitchfactor_offset[ch] != t) {
                c.pitchfactor = pitch_offset_ratio(t);
                pitchfactor_offset[ch] = t;
            }
            vp.frequency = limit_int32(vp.orig_frequency * c.pitchfactor);
            if (vp.frequency != vp.orig_frequency)
                vp.cache = nullptr;
        }
    } else {
        t += sensitivity * pb + vp.porta_pb * 32;
        vp.frequency = limit_int32(vp.orig_frequency * pitch_offset_ratio(t));
        vp.cache = nullptr;
    }

    // The vibrato's steps were made for the old pitch (a patch voice's are made anew above).
    if (mods != nullptr && vp.frequency != old_frequency)
        memset(vp.vibrato_step_table, 0, sizeof(vp.vibrato_step_table));

    const int32 rate = output_rate();
    // The channel's fine pitch offset is in hertz.
    double a = (vp.frequency + c.pitch_offset_fine * 1000.0) * sp->sample_rate /
               ((double)rate * sp->root_freq) * 4096.0;
    int32 step = limit_int32(a + 0.5);
    if (step <= 0) {
        // Far below the sample's own pitch the step would round to nothing and the voice
        // would never move; it creeps on at the smallest step instead (said once a voice).
        if (vp.sample_step != 1 && vp.sample_step != -1)
            fprintf(stderr, "Invalid sample increment a=%e %ld %ld %ld %ld%s\n", a,
                    (long)sp->sample_rate, (long)vp.frequency, (long)sp->root_freq, (long)rate,
                    vp.cache != nullptr ? " (Cached)" : "");
        step = 1;
    }
    vp.sample_step = vp.sample_step < 0 ? -step : step;
}
