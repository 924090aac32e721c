// Which samples a note plays: the instrument of the channel's program or drum note, the
// note's frequency in the channel's tuning or temperament, and the samples whose pitch and
// velocity ranges take it, each given a voice.
#include <cmath>
#include <cstdlib>

#include "config/tonebank.h"
#include "frontend/controls.h"
#include "frontend/options.h"
#include "frontend/tables.h"
#include "instrum/instrum.h"
#include "instrum/instrument_policy.h"
#include "instrum/soundfont_instruments.h"
#include "play/channels.h"
#include "play/playmidi.h"
#include "play/voice.h"
#include "render/voice_params.h"

static int clamp_note(int n)
{
    return n < 0 ? 0 : n > 127 ? 127 : n;
}

// The frequency of note n on channel ch (thousandths of a hertz), and whether it came from
// the channel's tuning program.
static int32 note_frequency(int ch, int n, bool* tuned)
{
    *tuned = false;
    if (ISDRUMCHANNEL(ch))
        return freq_table[n];
    const int r = ((current_freq_table % 12) + 12) % 12;
    const bool minor = current_temper_keysig >= 8;
    if (opt_pure_intonation)
        return freq_table_pureint[r + (current_keysig >= 8 ? 12 : 0)][n];
    if (!opt_temper_control)
        return freq_table[n];
    const int o = minor ? (temper_adj ? 24 : 12) : (temper_adj ? 36 : 0);
    const int t = channel[ch].temper_type;
    switch (t) {
    case 0:
        *tuned = true;
        return freq_table_tuning[channel[ch].rpnmap[RPN_ADDR_0003] & 0x7f][n];
    case 1: return freq_table_pytha[r + (minor ? 12 : 0)][n];
    case 2: return freq_table_meantone[r + o][n];
    case 3: return freq_table_pureint[r + o][n];
    case 0x40:
    case 0x41:
    case 0x42:
    case 0x43: return freq_table_user[t - 0x40][r + o][n];
    default: return freq_table[n];
    }
}

static int is_right_sample(const Sample* sp)
{
    return sp->inst_type == INST_SF2 && sp->sample_type == SF_SAMPLETYPE_RIGHT;
}

static int is_left_sample(const Sample* sp)
{
    return sp->inst_type == INST_SF2 && sp->sample_type == SF_SAMPLETYPE_LEFT;
}

static int32 scaled(int32 f, double ratio)
{
    return (int32)(f * ratio + 0.5);
}

int select_play_sample(Sample* base_sp, int num_samples, int* note, int* vlist, MidiEvent* e)
{
    const int ch = e->channel;
    const int vel = e->b;
    int n = clamp_note(*note);
    bool tuned;
    const int32 f = note_frequency(ch, n, &tuned);
    // A frequency table read from a file or a tuning message can hold nothing usable for a
    // note; such a note has no pitch to play at.
    if (f <= 0) {
        cmsg(CMSG_WARNING, VERB_VERBOSE, "Channel %d, note %d: no frequency in the tuning table",
             ch, n);
        return 0;
    }
    if (tuned && f != freq_table[n]) {
        n = clamp_note((int)(log(f / 440000.0) / log(2.0) * 12 + 69.5));
        *note = n;
    }
    const int32 fs = freq_table[n];
    double drum_ratio = 1.0;
    if (ISDRUMCHANNEL(ch) && channel[ch].drums[e->a & 0x7f] != nullptr)
        drum_ratio = get_play_note_ratio(ch, e->a & 0x7f);

    // The note's frequency and its reference for the ranges, with the sample's scale tuning
    // and the drum note's pitch.
    auto tune = [&](const Sample* sp, int32* ft, int32* fst) {
        *ft = f;
        *fst = fs;
        if (sp->scale_factor != 1024) {
            double ratio = pow(2.0, (n - sp->scale_freq) * (sp->scale_factor - 1024) / 12288.0);
            *ft = scaled(f, ratio);
            *fst = scaled(fs, ratio);
        }
        if (drum_ratio != 1.0) {
            *ft = scaled(*ft, drum_ratio);
            *fst = scaled(*fst, drum_ratio);
        }
    };
    int nv = 0;
    auto give_voice = [&](Sample* sp, int32 ft) {
        if (ft <= 0 || nv >= MAX_VOICES_PER_NOTE)
            return;
        int j = find_voice(e);
        vlist[nv++] = j;
        voice[j].orig_frequency = ft;
        voice[j].sample = sp;
        voice[j].status = VOICE_ON;
    };

    for (int i = 0; i < num_samples; i++) {
        Sample* sp = base_sp + i;
        if (is_right_sample(sp))
            continue;
        int32 ft, fst;
        tune(sp, &ft, &fst);
        // SoundFont zones are chosen by key, whatever their scale tuning and drum pitch.
        const int32 fk = sp->inst_type == INST_SF2 ? fs : fst;
        if (sp->low_freq <= fk && fk <= sp->high_freq && sp->low_vel <= vel && vel <= sp->high_vel)
            give_voice(sp, ft);
    }
    if (nv == 0) {
        // Nothing covers the note: the sample whose root is nearest.
        int best = -1, reserve = -1;
        int64 best_diff = 0;
        for (int i = 0; i < num_samples; i++) {
            const Sample* sp = base_sp + i;
            int32 ft, fst;
            tune(sp, &ft, &fst);
            int64 diff = llabs((int64)sp->root_freq - fst);
            if (best >= 0 && diff >= best_diff)
                continue;
            if (is_right_sample(sp)) {
                reserve = i;
            } else {
                best = i;
                best_diff = diff;
            }
        }
        if (best < 0)
            best = reserve;
        if (best >= 0) {
            int32 ft, fst;
            tune(base_sp + best, &ft, &fst);
            give_voice(base_sp + best, ft);
        }
    }
    // Each left half of a stereo pair gets its right half.
    const int chosen = nv;
    for (int k = 0; k < chosen; k++) {
        const Sample* left = voice[vlist[k]].sample;
        if (!is_left_sample(left))
            continue;
        for (int i = 0; i < num_samples; i++) {
            Sample* sp = base_sp + i;
            if (is_right_sample(sp) && sp->sf_sample_index == left->sf_sample_link) {
                int32 ft, fst;
                tune(sp, &ft, &fst);
                give_voice(sp, ft);
                break;
            }
        }
    }
    if (nv == 0)
        cmsg(CMSG_WARNING, VERB_VERBOSE,
             "Channel %d, note %d: the tuning leaves no frequency for any sample", ch, n);
    return nv;
}

int find_samples(MidiEvent* e, int* vlist)
{
    const int ch = e->channel;
    const Channel& c = channel[ch];
    const int adjust = c.key_shift + note_key_offset + master_key_shift + key_adjust;
    if (c.special_sample != 0) {
        const int s = (uint8)c.special_sample;
        SpecialPatch* sp = special_patch[s];
        if (sp == nullptr) {
            cmsg(CMSG_WARNING, VERB_VERBOSE, "Strange: Special patch %d is not installed", s);
            return 0;
        }
        if (sp->samples < 1 || sp->sample == nullptr)
            return 0;
        int note = clamp_note(e->a + adjust);
        return select_play_sample(sp->sample, sp->samples, &note, vlist, e);
    }

    Instrument* ip;
    int note;
    if (ISDRUMCHANNEL(ch)) {
        int bank = c.bank, prog = e->a & 0x7f;
        instrument_map(c.mapID, &bank, &prog);
        ip = play_midi_load_instrument(1, bank, prog);
        if (ip == nullptr || ip->samples < 1)
            return 0;
        note = ip->sample[0].note_to_use ? ip->sample[0].note_to_use : prog;
    } else {
        if (c.program == -1) {
            ip = default_instrument;
        } else {
            int bank = c.bank, prog = c.program;
            instrument_map(c.mapID, &bank, &prog);
            ip = play_midi_load_instrument(0, bank, prog);
        }
        if (ip == nullptr || ip->samples < 1)
            return 0;
        note = clamp_note((ip->sample[0].note_to_use ? ip->sample[0].note_to_use : e->a) + adjust);
    }
    note = clamp_note(note);
    const int nv = select_play_sample(ip->sample, ip->samples, &note, vlist, e);
    // Samples of compressed SoundFonts are decoded when a note first reaches them.
    bool decoded = false;
    for (int i = 0; i < nv; i++)
        if (voice[vlist[i]].sample->sf_pending != nullptr) {
            sf2_sample_ready(voice[vlist[i]].sample);
            decoded = true;
        }
    if (decoded)
        report_soundfont_warnings();

    if (!prescanning_flag) {
        if (ip->sample[0].note_to_use)
            note = effective_note(ch, e->a);
        for (int i = 0; i < nv; i++) {
            Voice& vp = voice[vlist[i]];
            vp.cache = nullptr;
            if (!opt_realtime_playing && allocate_cache_size > 0 && !c.portamento) {
                cache_hash* entry = resamp_cache_fetch(vp.sample, note);
                if (entry != nullptr) {
                    vp.cache = entry;
                    vp.sample = entry->resampled;
                }
            }
        }
    }
    return nv;
}
