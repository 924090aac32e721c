// SoundFont zones to the engine's samples. The voice envelope is laid out on the six stages
// the renderer runs: 0 attack (linear rise to full), 1 hold (a fall so slight that the level
// stays at full, taking the hold time), 2 decay (linear in decibels down to the sustain level),
// 3 release (linear in decibels, its time independent of the level released from); the curve
// of SoundFont samples spans 96 dB, so a decay or release "time of a full change" (100 dB) is
// met by scaling the rate by 100/96.
#include "instrum/soundfont_instruments.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "frontend/controls.h"
#include "frontend/memory.h"
#include "frontend/tables.h"

// The format's default modulators (see SF2_DEFAULT_BEND and SF2_DEFAULT_PAN for two of them).
const SF2Modulator sf2_default_modulators[SF2_DEFAULT_MODULATORS] = {
    {0x0502, SF2_ATTENUATION, 0, 0, 960},     // velocity, falling concave
    {0x0102, SF2_FILTER_FC, 0, 0, -2400},     // velocity, falling linear
    {0x000D, SF2_VIBLFO_TO_PITCH, 0, 0, 50},  // channel pressure
    {0x0081, SF2_VIBLFO_TO_PITCH, 0, 0, 50},  // CC1, the modulation wheel
    {0x0587, SF2_ATTENUATION, 0, 0, 960},     // CC7, volume, falling concave
    {0x028A, SF2_PAN, 0, 0, 1000},            // CC10, pan, -1..1
    {0x058B, SF2_ATTENUATION, 0, 0, 960},     // CC11, expression, falling concave
    {0x00DB, SF2_REVERB_SEND, 0, 0, 200},     // CC91
    {0x00DD, SF2_CHORUS_SEND, 0, 0, 200},     // CC93
    {0x020E, SF2_FINE_TUNE, 0x0010, 0, 12700},  // pitch wheel -1..1, times the bend range
};

namespace {

const int32 FULL = 1073741823;  // the envelope's top level

// Default amounts of the generators a zone leaves unset.
int16 default_amount(int g)
{
    switch (g) {
    case SF2_FILTER_FC: return 13500;
    case SF2_MODLFO_DELAY: case SF2_VIBLFO_DELAY: case SF2_MODENV_DELAY: case SF2_MODENV_ATTACK:
    case SF2_MODENV_HOLD: case SF2_MODENV_DECAY: case SF2_MODENV_RELEASE: case SF2_VOLENV_DELAY:
    case SF2_VOLENV_ATTACK: case SF2_VOLENV_HOLD: case SF2_VOLENV_DECAY: case SF2_VOLENV_RELEASE:
        return -12000;
    case SF2_SCALE_TUNING: return 100;
    case SF2_KEYNUM: case SF2_VELOCITY: case SF2_ROOT_KEY: return -1;
    default: return 0;
    }
}

// Generators a preset zone may not change (they are ignored there).
bool instrument_only(int g)
{
    switch (g) {
    case SF2_START_OFFSET: case SF2_END_OFFSET: case SF2_STARTLOOP_OFFSET: case SF2_ENDLOOP_OFFSET:
    case SF2_START_COARSE: case SF2_END_COARSE: case SF2_STARTLOOP_COARSE: case SF2_ENDLOOP_COARSE:
    case SF2_KEYNUM: case SF2_VELOCITY: case SF2_SAMPLE_ID: case SF2_SAMPLE_MODES:
    case SF2_EXCLUSIVE_CLASS: case SF2_ROOT_KEY: case SF2_INSTRUMENT: case SF2_KEY_RANGE:
    case SF2_VEL_RANGE:
        return true;
    default: return false;
    }
}

int clampi(int v, int lo, int hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

// The value of each generator of one instrument zone with its preset zone added.
struct Values {
    int v[SF2_GEN_COUNT];
    int operator[](int g) const { return v[g]; }
};

Values combine(const SF2Zone& pg, const SF2Zone& pz, const SF2Zone& ig, const SF2Zone& iz)
{
    Values r;
    for (int g = 0; g < SF2_GEN_COUNT; g++) {
        int v = iz.has(g) ? iz.amount[g] : ig.has(g) ? ig.amount[g] : default_amount(g);
        if (!instrument_only(g))
            v += pz.has(g) ? pz.amount[g] : pg.has(g) ? pg.amount[g] : 0;
        r.v[g] = v;
    }
    // The ranges the format allows.
    static const struct { int g, lo, hi; } limits[] = {
        {SF2_ATTENUATION, 0, 1440}, {SF2_PAN, -500, 500}, {SF2_FILTER_FC, 1500, 13500},
        {SF2_FILTER_Q, 0, 960}, {SF2_VOLENV_SUSTAIN, 0, 1440}, {SF2_MODENV_SUSTAIN, 0, 1000},
        {SF2_MODLFO_TO_VOLUME, -960, 960}, {SF2_COARSE_TUNE, -120, 120}, {SF2_FINE_TUNE, -99, 99},
        {SF2_SCALE_TUNING, 0, 1200}, {SF2_MODLFO_FREQ, -16000, 4500}, {SF2_VIBLFO_FREQ, -16000, 4500},
        {SF2_MODLFO_TO_PITCH, -12000, 12000}, {SF2_VIBLFO_TO_PITCH, -12000, 12000},
        {SF2_MODENV_TO_PITCH, -12000, 12000}, {SF2_MODLFO_TO_FC, -12000, 12000},
        {SF2_MODENV_TO_FC, -12000, 12000}, {SF2_KEY_TO_VOLENV_HOLD, -1200, 1200},
        {SF2_KEY_TO_VOLENV_DECAY, -1200, 1200}, {SF2_KEY_TO_MODENV_HOLD, -1200, 1200},
        {SF2_KEY_TO_MODENV_DECAY, -1200, 1200}, {SF2_VOLENV_DELAY, -12000, 5000},
        {SF2_VOLENV_ATTACK, -12000, 8000}, {SF2_VOLENV_HOLD, -12000, 5000},
        {SF2_VOLENV_DECAY, -12000, 8000}, {SF2_VOLENV_RELEASE, -12000, 8000},
        {SF2_MODENV_DELAY, -12000, 5000}, {SF2_MODENV_ATTACK, -12000, 8000},
        {SF2_MODENV_HOLD, -12000, 5000}, {SF2_MODENV_DECAY, -12000, 8000},
        {SF2_MODENV_RELEASE, -12000, 8000}, {SF2_MODLFO_DELAY, -12000, 5000},
        {SF2_VIBLFO_DELAY, -12000, 5000},
    };
    for (const auto& l : limits)
        r.v[l.g] = clampi(r.v[l.g], l.lo, l.hi);
    return r;
}

double seconds(int timecents)
{
    return std::pow(2.0, timecents / 1200.0);
}

int32 delay_samples(int timecents, int32 rate)
{
    return timecents <= -12000 ? 0 : (int32)(seconds(timecents) * rate);
}

int32 rate_for(double level, double periods)
{
    double r = periods < 1 ? level : level / periods;
    return (int32)(r < 1 ? 1 : r > FULL ? FULL : r);
}

// The level of the modulation envelope whose curve value is `x` (0..1).
int32 modenv_level(double x)
{
    for (int i = 0; i < 1024; i++)
        if (modenv_vol_table[i] >= x)
            return i == 1023 ? FULL : (int32)((uint32)i << 20);
    return FULL;
}

// The six stages of an envelope: attack, hold, decay to `sustain`, release.
void envelope(int32 rates[6], int32 offsets[6], int attack, int hold, int decay, int release,
              int32 sustain, double full_change, double cps)
{
    rates[0] = rate_for(FULL, seconds(attack) * cps);
    offsets[0] = FULL;
    const double hold_periods = seconds(hold) * cps;
    if (hold <= -12000 || hold_periods < 1) {
        rates[1] = FULL;
        offsets[1] = FULL;
    } else {
        rates[1] = 256;
        offsets[1] = FULL - (int32)(hold_periods * 256 + 0.5);
    }
    rates[2] = rate_for(full_change, seconds(decay) * cps);
    offsets[2] = sustain;
    rates[3] = rate_for(full_change, seconds(release) * cps);
    offsets[3] = offsets[4] = offsets[5] = 0;
    rates[4] = rates[5] = FULL;
}

// What the points of a sample not yet decoded read: silence, as long as the longest sample
// (zero pages, which take no memory).
const int16* silence()
{
    static const int16* zeros = (const int16*)calloc(MAX_SAMPLE_FRAMES + 2, sizeof(int16));
    if (zeros == nullptr)
        abort();
    return zeros;
}

// Whether a source operand names something a voice has: a general source of the format or a
// MIDI controller that is not a bank, data-entry, parameter-number or mode message.
bool usable_source(uint16 s)
{
    const int index = s & SF2_SRC_INDEX;
    if ((s >> SF2_SRC_CURVE_SHIFT) > SF2_CURVE_SWITCH)
        return false;
    if (s & SF2_SRC_CC)
        return !(index == 0 || index == 6 || index == 32 || index == 38 ||
                 (index >= 98 && index <= 101) || index >= 120);
    switch (index) {
    case SF2_SRC_NONE: case SF2_SRC_VELOCITY: case SF2_SRC_KEY: case SF2_SRC_POLY_PRESSURE:
    case SF2_SRC_CHANNEL_PRESSURE: case SF2_SRC_PITCH_WHEEL: case SF2_SRC_BEND_RANGE:
        return true;
    default:
        return false;
    }
}

// The generators a modulator can move while a voice sounds.
bool modulated_generator(int g)
{
    switch (g) {
    case SF2_MODLFO_TO_PITCH: case SF2_VIBLFO_TO_PITCH: case SF2_FILTER_FC: case SF2_FILTER_Q:
    case SF2_MODLFO_TO_FC: case SF2_MODLFO_TO_VOLUME: case SF2_CHORUS_SEND: case SF2_REVERB_SEND:
    case SF2_PAN: case SF2_ATTENUATION: case SF2_COARSE_TUNE: case SF2_FINE_TUNE:
        return true;
    default:
        return false;
    }
}

// The modulators of an instrument zone with its preset zone: a zone's own replace the
// identical ones of its list's global zone; the instrument's replace identical defaults or
// are added to them; the preset's are added to all of these. Modulators that feed other
// modulators, or that this engine cannot play, are left out.
void merge_modulators(const SF2File* f, const SF2Zone& pg, const SF2Zone& pz, const SF2Zone& ig,
                      const SF2Zone& iz, SF2ModList* out)
{
    if (pg.mods.empty() && pz.mods.empty() && ig.mods.empty() && iz.mods.empty()) {
        // Most zones have none of their own: the defaults the engine does not play itself.
        static const std::vector<SF2Modulator> defaults = [] {
            std::vector<SF2Modulator> d;
            for (int i = 0; i < SF2_DEFAULT_MODULATORS; i++)
                if (i != SF2_DEFAULT_BEND && i != SF2_DEFAULT_PAN)
                    d.push_back(sf2_default_modulators[i]);
            return d;
        }();
        out->mod = defaults;
        return;
    }
    std::vector<SF2Modulator> inst = ig.mods, pres = pg.mods;
    for (const SF2Modulator& m : iz.mods)
        sf2_put_modulator(&inst, m);
    for (const SF2Modulator& m : pz.mods)
        sf2_put_modulator(&pres, m);
    std::vector<SF2Modulator> all(sf2_default_modulators,
                                  sf2_default_modulators + SF2_DEFAULT_MODULATORS);
    for (const SF2Modulator& m : inst)
        sf2_put_modulator(&all, m);
    all.insert(all.end(), pres.begin(), pres.end());

    const SF2Modulator& bend = sf2_default_modulators[SF2_DEFAULT_BEND];
    const SF2Modulator& pan = sf2_default_modulators[SF2_DEFAULT_PAN];
    out->engine_bend = all[SF2_DEFAULT_BEND].amount == bend.amount;
    out->engine_pan = all[SF2_DEFAULT_PAN].amount == pan.amount;
    for (size_t i = 0; i < all.size(); i++) {
        const SF2Modulator& m = all[i];
        if ((i == SF2_DEFAULT_BEND && out->engine_bend) || (i == SF2_DEFAULT_PAN && out->engine_pan))
            continue;
        if (m.dest & SF2_DEST_LINK) {
            sf2_warn(f, "linked modulator", false,
                     "%s: a modulator feeds another modulator, left out", f->name.c_str());
            continue;
        }
        if (!modulated_generator(m.dest) || !usable_source(m.src) ||
            !usable_source(m.amount_src) || (m.src & SF2_SRC_INDEX) == SF2_SRC_LINK ||
            (m.transform != SF2_TRANSFORM_LINEAR && m.transform != SF2_TRANSFORM_ABSOLUTE) ||
            m.amount == 0)
            continue;
        out->mod.push_back(m);
        out->lfo_modulated |= m.dest == SF2_MODLFO_TO_PITCH || m.dest == SF2_MODLFO_TO_FC;
        const int cc74 = SF2_SRC_CC | 74;
        out->reads_brightness |= (m.src & 0xFF) == cc74 || (m.amount_src & 0xFF) == cc74;
    }
}

bool build_sample(const SF2File* f, const SF2Zone& iz, const Values& g, int key_lo, int key_hi,
                  int vel_lo, int vel_hi, bool one_key, const SF2Settings& set, int32 rate,
                  int32 ratio, Sample* sp, SF2ModList* mods)
{
    const SF2SampleHeader& h = f->samples[iz.target];
    const char* file = f->name.c_str();
    if (h.type & 0x8000) {
        sf2_warn(f, "in ROM", true, "%s: sample \"%s\" is in ROM, left out", file, h.name);
        return false;
    }
    if (h.rate == 0 || h.rate > 1000000) {
        sf2_warn(f, "sample rate", true, "%s: sample \"%s\" has a sample rate of %u, left out",
                 file, h.name, (unsigned)h.rate);
        return false;
    }
    // Where the sample's points are: in the mapped data, or made for it (compressed or 24-bit
    // fonts), its own points counted from 0 then.
    const int16* base = f->points;
    int64 count = f->point_count, first = h.start, last = h.end;
    int64 loop_start = h.loop_start, loop_end = h.loop_end;
    bool pending = false;
    if ((h.type & SF2_SAMPLE_VORBIS) && !f->decoded[iz.target].tried) {
        // Decoded when a note first plays it: until then its length is what the stream
        // announces, and its points read silence.
        std::string why;
        count = last = sf2_announced_frames(f, iz.target, &why);
        if (count == 0) {
            if (!why.empty())
                sf2_warn(f, "undecodable", true, "%s: sample \"%s\" can't be decoded (%s), left out",
                         file, h.name, why.c_str());
            return false;
        }
        base = silence();
        first = 0;
        pending = true;
    } else if (sf2_needs_decoding(f, iz.target)) {
        std::string why;
        const SF2Decoded* d = sf2_decoded_sample(f, iz.target, &why);
        if (d == nullptr) {
            if (!why.empty())
                sf2_warn(f, "undecodable", true, "%s: sample \"%s\" can't be decoded (%s), left out",
                         file, h.name, why.c_str());
            return false;
        }
        base = d->points.data();
        count = d->frames;
        first = 0;
        last = d->frames;
        if (!(h.type & SF2_SAMPLE_VORBIS)) {  // 24-bit: loops are points of the whole data
            loop_start -= h.start;
            loop_end -= h.start;
        }
    }
    const int64 start = first + g[SF2_START_OFFSET] + 32768LL * g[SF2_START_COARSE];
    const int64 end = last + g[SF2_END_OFFSET] + 32768LL * g[SF2_END_COARSE];
    int64 ls = loop_start + g[SF2_STARTLOOP_OFFSET] + 32768LL * g[SF2_STARTLOOP_COARSE];
    int64 le = loop_end + g[SF2_ENDLOOP_OFFSET] + 32768LL * g[SF2_ENDLOOP_COARSE];
    if (start < 0 || end <= start || end > count || end - start > (int64)MAX_SAMPLE_FRAMES) {
        sf2_warn(f, "points outside", true,
                 "%s: sample \"%s\": points %lld..%lld lie outside the sample data, left out",
                 file, h.name, (long long)start, (long long)end);
        return false;
    }
    const uint32 frames = (uint32)(end - start);
    int mode = g[SF2_SAMPLE_MODES] & 3;  // 1 loop, 3 loop until release, 0 and 2 no loop
    if (mode == 2)
        mode = 0;
    const bool loops = mode != 0;
    if (loops && !(start <= ls && ls < le && le <= end)) {
        sf2_warn(f, "loop outside", false,
                 "%s: sample \"%s\": loop %lld..%lld lies outside the sample %lld..%lld, played "
                 "without its loop",
                 file, h.name, (long long)ls, (long long)le, (long long)start, (long long)end);
        mode = 0;
    }

    memset(sp, 0, sizeof(*sp));
    // The points after the sample are read by the interpolation: the format puts silence
    // there, but a sample that ends the data gets a copy with two zero points of its own.
    if (base != f->points || end + 2 <= count) {
        sp->data = const_cast<sample_t*>(base + start);
        sp->data_alloced = 0;
    } else {
        sp->data = (sample_t*)safe_malloc(sizeof(sample_t) * (frames + 2));
        memcpy(sp->data, base + start, sizeof(sample_t) * frames);
        sp->data[frames] = sp->data[frames + 1] = 0;
        sp->data_alloced = 1;
    }
    if (pending) {
        sp->sf_pending = f;
        sp->sf_first = (uint32)start;
    }
    sp->data_length = (splen_t)frames << FRACTION_BITS;
    if (mode != 0) {
        sp->loop_start = (splen_t)(ls - start) << FRACTION_BITS;
        sp->loop_end = (splen_t)(le - start) << FRACTION_BITS;
    } else {
        sp->loop_start = 0;
        sp->loop_end = sp->data_length;
    }
    sp->modes = MODES_16BIT | MODES_ENVELOPE;
    if (mode != 0)
        sp->modes |= MODES_LOOPING;
    if (mode == 3)
        sp->modes |= MODES_SUSTAIN;
    sp->sample_rate = (int32)h.rate;

    // Pitch: the root key, moved by coarse and fine tune and the sample's own correction;
    // scale tuning through the engine's scale factor around the root key. A zone with a key
    // number plays every key as that key: no change by key (scale factor 0) around it, the
    // root moved by what scale tuning gives that key.
    int root = g[SF2_ROOT_KEY] >= 0 && g[SF2_ROOT_KEY] <= 127 ? g[SF2_ROOT_KEY] : h.root_key;
    if (root > 127)
        root = 60;
    double cents = g[SF2_COARSE_TUNE] * 100 + g[SF2_FINE_TUNE] + h.correction;
    sp->scale_freq = (int16)root;
    sp->scale_factor = (int16)(g[SF2_SCALE_TUNING] * 1024 / 100.0 + 0.5);
    const int keynum = g[SF2_KEYNUM];
    if (keynum >= 0 && keynum <= 127) {
        cents += (keynum - root) * (g[SF2_SCALE_TUNING] - 100.0);
        sp->scale_freq = (int16)keynum;
        sp->scale_factor = 0;
    }
    sp->root_freq = (int32)(freq_table[root] * std::pow(2.0, -cents / 1200.0) + 0.5);
    if (sp->root_freq < 1)
        sp->root_freq = 1;
    if (one_key) {
        sp->low_freq = 0;
        sp->high_freq = 0x7FFFFFFF;
    } else {
        // Key ranges become frequency ranges of the keys themselves (the sample choice takes
        // SoundFont zones by key, whatever their tuning), edges halfway to the next key.
        sp->low_freq = key_lo == 0 ? 0 : (freq_table[key_lo - 1] + freq_table[key_lo]) / 2;
        sp->high_freq = key_hi == 127 ? 0x7FFFFFFF : (freq_table[key_hi] + freq_table[key_hi + 1]) / 2;
    }
    sp->low_vel = (uint8)vel_lo;
    sp->high_vel = (uint8)vel_hi;
    if (g[SF2_VELOCITY] >= 1 && g[SF2_VELOCITY] <= 127)
        sp->velocity_to_use = (uint8)g[SF2_VELOCITY];
    sp->panning = (int8)clampi((int)std::floor(63.5 + g[SF2_PAN] * 127 / 1000.0 + 0.5), 0, 127);
    sp->volume = std::pow(10.0, -g[SF2_ATTENUATION] * set.attenuation / 200.0) *
                 (set.amp >= 0 ? set.amp / 100.0 : 1.0);

    // Envelopes, in control periods.
    const double cps = (double)rate / ratio;
    const int32 sustain = (int32)(FULL * (1.0 - g[SF2_VOLENV_SUSTAIN] / 960.0));
    envelope(sp->envelope_rate, sp->envelope_offset, g[SF2_VOLENV_ATTACK], g[SF2_VOLENV_HOLD],
             g[SF2_VOLENV_DECAY], g[SF2_VOLENV_RELEASE], sustain < 0 ? 0 : sustain,
             FULL * 1000.0 / 960.0, cps);
    sp->envelope_keyf[1] = (int16)g[SF2_KEY_TO_VOLENV_HOLD];
    sp->envelope_keyf[2] = (int16)g[SF2_KEY_TO_VOLENV_DECAY];
    sp->envelope_delay = delay_samples(g[SF2_VOLENV_DELAY], rate);
    envelope(sp->modenv_rate, sp->modenv_offset, g[SF2_MODENV_ATTACK], g[SF2_MODENV_HOLD],
             g[SF2_MODENV_DECAY], g[SF2_MODENV_RELEASE],
             modenv_level(1.0 - g[SF2_MODENV_SUSTAIN] / 1000.0), FULL, cps);
    sp->modenv_keyf[1] = (int16)g[SF2_KEY_TO_MODENV_HOLD];
    sp->modenv_keyf[2] = (int16)g[SF2_KEY_TO_MODENV_DECAY];
    sp->modenv_delay = delay_samples(g[SF2_MODENV_DELAY], rate);
    sp->modenv_to_pitch = (int16)g[SF2_MODENV_TO_PITCH];
    sp->modenv_to_fc = (int16)g[SF2_MODENV_TO_FC];
    sp->envelope_velf_bpo = sp->modenv_velf_bpo = 64;

    // The vibrato LFO drives the engine's vibrato (triangular for these samples).
    if (g[SF2_VIBLFO_TO_PITCH] != 0) {
        const double hz = 8.176 * std::pow(2.0, g[SF2_VIBLFO_FREQ] / 1200.0);
        const double r = rate / (64.0 * hz);
        sp->vibrato_control_ratio = (int32)(r < 1 ? 1 : r > 1e8 ? 1e8 : r);
        int depth = (int)std::lround(g[SF2_VIBLFO_TO_PITCH] * 64 / 100.0);
        if (depth == 0)
            depth = g[SF2_VIBLFO_TO_PITCH] > 0 ? 1 : -1;
        sp->vibrato_depth = (int16)clampi(depth, -384, 384);
        sp->vibrato_delay = delay_samples(g[SF2_VIBLFO_DELAY], rate);
    }
    // The modulation LFO drives the tremolo: volume, and pitch and cutoff through the
    // tremolo's pitch and filter depths.
    if (g[SF2_MODLFO_TO_VOLUME] != 0 || g[SF2_MODLFO_TO_PITCH] != 0 || g[SF2_MODLFO_TO_FC] != 0) {
        const double hz = 8.176 * std::pow(2.0, g[SF2_MODLFO_FREQ] / 1200.0);
        const double inc = hz * 32768.0 * ratio / rate + 0.5;
        sp->tremolo_phase_increment = (int32)(inc < 1 ? 1 : inc);
        const double cb = std::abs(g[SF2_MODLFO_TO_VOLUME]);
        double swing = (std::pow(10.0, cb / 200.0) - std::pow(10.0, -cb / 200.0)) / 2;
        if (swing > 1)
            swing = 1;
        const int depth = (int)std::lround(swing * 1024);
        sp->tremolo_depth = (int16)(g[SF2_MODLFO_TO_VOLUME] > 0 ? -depth : depth);
        sp->tremolo_to_pitch = (int16)g[SF2_MODLFO_TO_PITCH];
        sp->tremolo_to_fc = (int16)g[SF2_MODLFO_TO_FC];
        sp->tremolo_delay = delay_samples(g[SF2_MODLFO_DELAY], rate);
    }

    // Filter: cutoff and Q (velocity moves the cutoff through the default modulator).
    if (set.cutoff != 0) {
        sp->cutoff_freq = (int32)(8.176 * std::pow(2.0, g[SF2_FILTER_FC] / 1200.0) + 0.5);
        sp->resonance = (int16)(set.reso == 0 ? 0 : g[SF2_FILTER_Q]);
        sp->vel_to_fc_threshold = 0;
    } else {
        sp->vel_to_fc_threshold = 64;
    }
    sp->key_to_fc_bpo = 60;

    sp->inst_type = INST_SF2;
    sp->sf_sample_index = iz.target;
    sp->sf_sample_link = h.link;
    const int type = h.type & 7;
    sp->sample_type = (uint16)(type == SF_SAMPLETYPE_LEFT || type == SF_SAMPLETYPE_RIGHT
                                   ? type : SF_SAMPLETYPE_MONO);
    sp->sf_exclusive_class = (uint8)clampi(g[SF2_EXCLUSIVE_CLASS], 0, 127);
    sp->sf_chorus_send = (int16)clampi(g[SF2_CHORUS_SEND], 0, 1000);
    sp->sf_reverb_send = (int16)clampi(g[SF2_REVERB_SEND], 0, 1000);
    sp->sf_chorus_return = (float)set.chorus;
    // What the modulators add to, where the sample keeps it in other units or not at all:
    // the vibrato LFO's rate and delay are kept whether or not the zone moves the pitch with
    // it (the modulation wheel and channel pressure do), and the modulation LFO's likewise.
    mods->vib_to_pitch = g[SF2_VIBLFO_TO_PITCH];
    const double vib_hz = 8.176 * std::pow(2.0, g[SF2_VIBLFO_FREQ] / 1200.0);
    const double vib_ratio = rate / (64.0 * vib_hz);
    mods->vib_ratio = (int32)(vib_ratio < 1 ? 1 : vib_ratio > 1e8 ? 1e8 : vib_ratio);
    mods->vib_delay = delay_samples(g[SF2_VIBLFO_DELAY], rate);
    mods->mod_lfo_to_pitch = g[SF2_MODLFO_TO_PITCH];
    mods->mod_lfo_to_fc = g[SF2_MODLFO_TO_FC];
    mods->mod_lfo_to_volume = g[SF2_MODLFO_TO_VOLUME];
    const double lfo_hz = 8.176 * std::pow(2.0, g[SF2_MODLFO_FREQ] / 1200.0);
    const double lfo_inc = lfo_hz * 32768.0 * ratio / rate + 0.5;
    mods->mod_lfo_increment = (int32)(lfo_inc < 1 ? 1 : lfo_inc);
    mods->mod_lfo_delay = delay_samples(g[SF2_MODLFO_DELAY], rate);
    return true;
}

}  // namespace

// The records of the largest preset stay far below the allocation limit of 8 MiB.
static_assert(sizeof(Sample) * SF2_MAX_PRESET_SAMPLES <= (1u << 22), "a preset's samples fit");

Instrument* sf2_convert_preset(const SF2File* f, int bank, int preset, int keynote,
                               const SF2Settings& set, int32 rate, int32 ratio)
{
    const SF2ZoneList* p = sf2_find_preset(f, bank, preset);
    if (p == nullptr)
        return nullptr;
    // The zones of every instrument zone with its preset zone, where their ranges overlap.
    struct Pair {
        const SF2Zone *pz, *iz, *ig;
        int klo, khi, vlo, vhi;
    };
    std::vector<Pair> pairs;
    const SF2Zone& pg = p->global;
    for (const SF2Zone& pz : p->zones) {
        const SF2ZoneList& inst = f->instruments[pz.target];
        const SF2Zone& ig = inst.global;
        const SF2Zone& pk = pz.has(SF2_KEY_RANGE) ? pz : pg;
        const SF2Zone& pv = pz.has(SF2_VEL_RANGE) ? pz : pg;
        for (const SF2Zone& iz : inst.zones) {
            const SF2Zone& ik = iz.has(SF2_KEY_RANGE) ? iz : ig;
            const SF2Zone& iv = iz.has(SF2_VEL_RANGE) ? iz : ig;
            const int klo = std::max(pk.key_lo, ik.key_lo), khi = std::min(pk.key_hi, ik.key_hi);
            const int vlo = std::max(pv.vel_lo, iv.vel_lo), vhi = std::min(pv.vel_hi, iv.vel_hi);
            if (klo > khi || vlo > vhi)
                continue;
            if (keynote >= 0 && (keynote < klo || keynote > khi))
                continue;
            if (pairs.size() == SF2_MAX_PRESET_SAMPLES) {
                sf2_warn(f, "too large", true,
                         "%s: preset %d:%d \"%s\" expands to more than %d samples, refused",
                         f->name.c_str(), bank, preset, p->name, (int)SF2_MAX_PRESET_SAMPLES);
                return nullptr;
            }
            pairs.push_back({&pz, &iz, &ig, klo, khi, vlo, vhi});
        }
    }
    std::vector<Sample> out;
    out.reserve(pairs.size());
    for (const Pair& z : pairs) {
        const Values g = combine(pg, *z.pz, *z.ig, *z.iz);
        Sample s;
        SF2ModList mods;
        if (!build_sample(f, *z.iz, g, z.klo, z.khi, z.vlo, z.vhi, keynote >= 0, set, rate, ratio,
                          &s, &mods))
            continue;
        merge_modulators(f, pg, *z.pz, *z.ig, *z.iz, &mods);
        f->mod_lists.push_back(std::move(mods));
        s.sf_mods = &f->mod_lists.back();
        out.push_back(s);
    }
    if (out.empty()) {
        sf2_warn(f, "empty preset", true, "%s: preset %d:%d \"%s\" has nothing to play%s",
                 f->name.c_str(), bank, preset, p->name, keynote >= 0 ? " for this key" : "");
        return nullptr;
    }
    // A half of a stereo pair whose other half is not in the instrument plays alone.
    std::unordered_set<int32> rights, lefts_linked;
    for (const Sample& s : out) {
        if (s.sample_type == SF_SAMPLETYPE_RIGHT)
            rights.insert(s.sf_sample_index);
        else if (s.sample_type == SF_SAMPLETYPE_LEFT)
            lefts_linked.insert(s.sf_sample_link);
    }
    for (Sample& s : out) {
        if ((s.sample_type == SF_SAMPLETYPE_LEFT && rights.count(s.sf_sample_link) == 0) ||
            (s.sample_type == SF_SAMPLETYPE_RIGHT && lefts_linked.count(s.sf_sample_index) == 0))
            s.sample_type = SF_SAMPLETYPE_MONO;
    }
    // An instrument of one key whose samples do not loop plays that key as its fixed note: a
    // sample recorded at that key and the output rate is then copied, not interpolated.
    if (keynote > 0) {
        bool loops = false;
        for (const Sample& s : out)
            loops |= (s.modes & MODES_LOOPING) != 0;
        if (!loops)
            for (Sample& s : out)
                s.note_to_use = (int8)keynote;
    }
    Instrument* ip = (Instrument*)safe_malloc(sizeof(Instrument));
    ip->type = INST_SF2;
    ip->samples = (int)out.size();
    ip->sample = (Sample*)safe_malloc(sizeof(Sample) * out.size());
    memcpy(ip->sample, out.data(), sizeof(Sample) * out.size());
    ip->instname = safe_strdup(p->name);
    return ip;
}

bool sf2_sample_ready(Sample* sp)
{
    const SF2File* f = sp->sf_pending;
    if (f == nullptr)
        return true;
    sp->sf_pending = nullptr;
    const SF2SampleHeader& h = f->samples[sp->sf_sample_index];
    std::string why;
    const SF2Decoded* d = sf2_decoded_sample(f, sp->sf_sample_index, &why);
    if (d == nullptr || sp->sf_first >= d->frames) {
        if (!why.empty() || d != nullptr)
            sf2_warn(f, "undecodable", true, "%s: sample \"%s\" can't be decoded (%s), left out",
                     f->name.c_str(), h.name, why.empty() ? "shorter than it announces" : why.c_str());
        return false;  // it stays silent
    }
    // A stream that ends before the length it announced shortens the sample.
    const splen_t have = (splen_t)(d->frames - sp->sf_first) << FRACTION_BITS;
    if (sp->data_length > have) {
        sp->data_length = have;
        sp->loop_end = std::min(sp->loop_end, have);
        if (sp->loop_start >= sp->loop_end) {
            sp->modes &= ~(MODES_LOOPING | MODES_SUSTAIN);
            sp->loop_start = 0;
            sp->loop_end = have;
        }
    }
    sp->data = const_cast<sample_t*>(d->points.data() + sp->sf_first);
    return true;
}

void sf2_warn(const SF2File* f, const char* kind, bool left_out, const char* fmt, ...)
{
    SF2File::Warning* w = nullptr;
    for (SF2File::Warning& k : f->warnings)
        if (k.kind == kind)
            w = &k;
    if (w == nullptr) {
        f->warnings.emplace_back();
        w = &f->warnings.back();
        w->kind = kind;
        w->left_out = left_out;
    }
    if (w->count++ == w->reported) {  // the first since the last report is kept in full
        char text[1024];
        va_list ap;
        va_start(ap, fmt);
        vsnprintf(text, sizeof(text), fmt, ap);
        va_end(ap);
        w->first = text;
    }
}

bool sf2_report_warnings(const SF2File* f)
{
    bool newly_unusable = false;
    for (SF2File::Warning& w : f->warnings) {
        const int n = w.count - w.reported;
        if (n == 0)
            continue;
        if (n == 1)
            cmsg(CMSG_WARNING, VERB_NORMAL, "%s", w.first.c_str());
        else
            cmsg(CMSG_WARNING, VERB_NORMAL, "%s (and %d more like it)", w.first.c_str(), n - 1);
        w.reported = w.count;
        if (w.left_out && !f->counted_unusable)
            newly_unusable = f->counted_unusable = true;
    }
    return newly_unusable;
}
