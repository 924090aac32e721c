// The Gravis patch loader: reads a "GF1PATCH110"/"GF1PATCH100" file into an Instrument,
// converts every waveform to signed 16-bit with its loop, envelope, tremolo and vibrato in
// the units the renderer uses, and applies the load-time overrides of the tone-bank element.
#include "instrum/instrum.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "config/files.h"
#include "config/tonebank.h"
#include "frontend/controls.h"
#include "frontend/memory.h"
#include "frontend/options.h"
#include "output/output.h"
#include "render/resample.h"

enum {
    PATCH_HEADER_SIZE = 239,
    PATCH_PREFIX_SIZE = 128,
    SAMPLE_HEADER_SIZE = 96,
    PATCH_MAGIC_SIZE = 22
};

static const char patch_magic_110[PATCH_MAGIC_SIZE + 1] = "GF1PATCH110\0ID#000002";
static const char patch_magic_100[PATCH_MAGIC_SIZE + 1] = "GF1PATCH100\0ID#000002";

// Extensions tried after the bare name.
static const char* const patch_ext[] = {".pat", nullptr};

// The highest envelope rate, before the final scaling by 512.
static const int32 max_envelope_rate = 2097151;

// The six load-time settings of an instrument; -1 leaves the patch's own value.
struct PatchSettings {
    int panning, amp, note, strip_loop, strip_envelope, strip_tail;
};

static uint32 get_u32(const uint8* p)
{
    return (uint32)p[0] | ((uint32)p[1] << 8) | ((uint32)p[2] << 16) | ((uint32)p[3] << 24);
}

static int32 get_s32(const uint8* p)
{
    return (int32)get_u32(p);
}

static uint16 get_u16(const uint8* p)
{
    return (uint16)(p[0] | (p[1] << 8));
}

static int16 get_s16(const uint8* p)
{
    return (int16)get_u16(p);
}

static bool read_whole(void* buf, int32 n, InputFile* tf)
{
    return tf_read(buf, n, 1, tf) == 1;
}

// The output rate and control ratio the conversions are made for. Before an output is open
// the rate is the default one, and a control ratio not yet derived follows the usual rule.
static int32 loader_output_rate(void)
{
    return (play_mode != nullptr && play_mode->rate > 0) ? play_mode->rate : 44100;
}

static int32 loader_control_ratio(int32 rate)
{
    if (control_ratio > 0)
        return control_ratio;
    int32 c = rate / 1000;
    return c < 1 ? 1 : (c > 255 ? 255 : c);
}

// The overrides of element prog of bank (none without a bank), with the drum-set defaults.
static PatchSettings element_settings(ToneBank* bank, int dr, int prog)
{
    PatchSettings s = {-1, -1, -1, -1, -1, -1};
    if (bank == nullptr || prog < 0 || prog > 127)
        return s;
    ToneBankElement* tone = &bank->tone[prog];
    s.panning = tone->pan;
    s.amp = tone->amp;
    s.note = (tone->note != -1) ? tone->note : (dr ? prog : -1);
    s.strip_loop = (tone->strip_loop != -1) ? tone->strip_loop : (dr ? 1 : -1);
    s.strip_envelope = (tone->strip_envelope != -1) ? tone->strip_envelope : (dr ? 1 : -1);
    s.strip_tail = tone->strip_tail;
    return s;
}

// True when the element carries no per-sample list (such an instrument may be shared).
static bool element_has_no_lists(const ToneBankElement* tone)
{
    return tone->tunenum == 0 && tone->envratenum == 0 && tone->envofsnum == 0 &&
           tone->modenvratenum == 0 && tone->modenvofsnum == 0 && tone->envkeyfnum == 0 &&
           tone->envvelfnum == 0 && tone->modenvkeyfnum == 0 && tone->modenvvelfnum == 0 &&
           tone->tremnum == 0 && tone->vibnum == 0 && tone->sclnotenum == 0 &&
           tone->scltunenum == 0 && tone->fcnum == 0 && tone->resonum == 0 &&
           tone->trempitchnum == 0 && tone->tremfcnum == 0 && tone->modpitchnum == 0 &&
           tone->modfcnum == 0;
}

// Six-stage envelope: rates from the GUS rate bytes, offsets from the offset bytes, and the
// release stages replaced when the release time is forced.
static void convert_envelope(Sample* sp, const uint8* rates, const uint8* offsets, int32 rate,
                             int32 ratio)
{
    for (int j = 0; j < 6; j++) {
        int r = rates[j];
        int shift = 3 * (3 - (r >> 6));
        int64 v = (int64)((r & 63) << shift) * 44100 / rate * ratio;
        if (fast_decay)
            v <<= 1;
        if (v > max_envelope_rate)
            v = max_envelope_rate;
        sp->envelope_rate[j] = (int32)(v * 512);
        sp->envelope_offset[j] = (int32)offsets[j] << 22;
    }
    if (modify_release) {
        int m = modify_release < 6 ? 6 : modify_release;
        // A short release at a high control ratio would not fit the envelope's range.
        const double limit = (double)max_envelope_rate * 512.0;
        double v = trunc(1069547520.0 / rate * ratio * 1000.0 / m);
        if (fast_decay)
            v *= 2.0;
        sp->envelope_offset[3] = 5 << 22;
        sp->envelope_rate[3] = (int32)(v > limit ? limit : v);
        sp->envelope_offset[4] = 4 << 22;
        sp->envelope_offset[5] = 4 << 22;
        sp->envelope_rate[4] = 200 << 22;
        sp->envelope_rate[5] = 200 << 22;
    }
}

static void convert_tremolo(Sample* sp, int sweep, int rate_byte, int depth, int32 rate,
                            int32 ratio)
{
    if (rate_byte == 0 || depth == 0) {
        sp->tremolo_sweep_increment = sp->tremolo_phase_increment = 0;
        sp->tremolo_depth = 0;
        cmsg(CMSG_INFO, VERB_DEBUG, " * no tremolo");
        return;
    }
    sp->tremolo_sweep_increment =
        sweep ? (int32)(((int64)ratio * 38 * 65536) / ((int64)sweep * rate)) : 0;
    sp->tremolo_phase_increment = (int32)(((int64)rate_byte * ratio * 32768) / ((int64)rate * 38));
    sp->tremolo_depth = (int16)depth;
    cmsg(CMSG_INFO, VERB_DEBUG, " * tremolo: sweep %d, phase %d, depth %d",
         (int)sp->tremolo_sweep_increment, (int)sp->tremolo_phase_increment, depth);
}

static void convert_vibrato(Sample* sp, int sweep, int rate_byte, int depth, int32 rate)
{
    if (rate_byte == 0 || depth == 0) {
        sp->vibrato_sweep_increment = sp->vibrato_control_ratio = 0;
        sp->vibrato_depth = 0;
        cmsg(CMSG_INFO, VERB_DEBUG, " * no vibrato");
        return;
    }
    sp->vibrato_control_ratio = (int32)(((int64)rate * 38) / ((int64)rate_byte * 64));
    sp->vibrato_sweep_increment =
        sweep ? (int32)lround(((double)sp->vibrato_control_ratio * 38.0 * 65536.0) /
                              ((double)sweep * rate))
              : 0;
    sp->vibrato_depth = (int16)depth;
    cmsg(CMSG_INFO, VERB_DEBUG, " * vibrato: sweep %d, ctl %d, depth %d",
         (int)sp->vibrato_sweep_increment, (int)sp->vibrato_control_ratio, depth);
}

// Loop, sustain and envelope bits after the strip settings.
static void adjust_modes(Sample* sp, const PatchSettings& set, const uint8* rates,
                         const uint8* offsets)
{
    if (sp->modes & MODES_LOOPING)
        sp->modes |= MODES_SUSTAIN;
    const uint8 loop_bits = MODES_LOOPING | MODES_PINGPONG | MODES_REVERSE;
    if (set.strip_loop == 1 && (sp->modes & (loop_bits | MODES_SUSTAIN))) {
        cmsg(CMSG_INFO, VERB_DEBUG, " - Removing loop and/or sustain");
        sp->modes &= ~(loop_bits | MODES_SUSTAIN);
    }
    if (set.strip_envelope == 1) {
        if (sp->modes & MODES_ENVELOPE)
            cmsg(CMSG_INFO, VERB_DEBUG, " - Removing envelope");
        sp->modes &= ~MODES_ENVELOPE;
    } else if (set.strip_envelope == -1) {
        if (!(sp->modes & loop_bits)) {
            cmsg(CMSG_INFO, VERB_DEBUG, " - No loop, removing sustain and envelope");
            sp->modes &= ~(MODES_SUSTAIN | MODES_ENVELOPE);
        } else if (memcmp(rates, "??????", 6) == 0 || offsets[5] >= 100) {
            cmsg(CMSG_INFO, VERB_DEBUG, " - Weirdness, removing envelope");
            sp->modes &= ~MODES_ENVELOPE;
        } else if (!(sp->modes & MODES_SUSTAIN)) {
            cmsg(CMSG_INFO, VERB_DEBUG, " - No sustain, removing envelope");
            sp->modes &= ~MODES_ENVELOPE;
        }
    }
}

// Reads `bytes` bytes of waveform and turns them into `frames` signed 16-bit samples followed
// by two zero samples; none (after the message) when the file ends early.
static sample_t* read_waveform(InputFile* tf, uint32 bytes, uint32 frames, uint8 modes)
{
    // Room for the 16-bit frames, the two zero samples, and an odd trailing byte.
    size_t size = ((size_t)frames + 2) * sizeof(sample_t) + 1;
    uint8* raw = (uint8*)safe_malloc(size);
    long got = tf_read(raw, 1, (int32)bytes, tf);
    if (got != (long)bytes) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "Too small this patch length: %ld < %ld",
             got < 0 ? 0L : got, (long)bytes);
        free(raw);
        return nullptr;
    }
    sample_t* data = (sample_t*)raw;
    if (modes & MODES_16BIT) {
        for (uint32 i = 0; i < frames; i++)
            data[i] = (sample_t)(raw[2 * i] | (raw[2 * i + 1] << 8));
    } else {
        // Backwards, so that each byte is read before its 16-bit slot overwrites it.
        for (uint32 i = frames; i-- > 0;)
            data[i] = (sample_t)(uint16)(raw[i] << 8);
    }
    if (modes & MODES_UNSIGNED) {
        for (uint32 i = 0; i < frames; i++)
            data[i] = (sample_t)((uint16)data[i] ^ 0x8000);
    }
    data[frames] = data[frames + 1] = 0;
    return data;
}

// Reads one sample header and its data into sp. False after the messages when the sample
// cannot be used; sp's data is then not allocated.
static bool read_sample(InputFile* tf, const char* name, int index, Sample* sp,
                        const PatchSettings& set, int32 rate, int32 ratio)
{
    uint8 h[SAMPLE_HEADER_SIZE];
    if (!read_whole(h, SAMPLE_HEADER_SIZE, tf)) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "Error reading sample %d", index);
        return false;
    }

    uint8 fractions = h[7];
    uint32 data_bytes = get_u32(h + 8);
    uint32 loop_start = get_u32(h + 12);  // bytes
    uint32 loop_end = get_u32(h + 16);
    sp->sample_rate = get_u16(h + 20);
    sp->low_freq = get_s32(h + 22);
    sp->high_freq = get_s32(h + 26);
    sp->root_freq = get_s32(h + 30);
    int file_pan = h[36];
    const uint8* env_rates = h + 37;
    const uint8* env_offsets = h + 43;
    sp->modes = h[55];
    sp->scale_freq = get_s16(h + 56);
    sp->scale_factor = get_s16(h + 58);

    sp->low_vel = 0;
    sp->high_vel = 127;
    sp->envelope_velf_bpo = 64;
    sp->modenv_velf_bpo = 64;
    sp->key_to_fc_bpo = 60;
    sp->vel_to_fc_threshold = 64;
    sp->inst_type = INST_GUS;
    sp->sf_sample_index = 0;
    sp->sf_sample_link = -1;
    sp->sample_type = SF_SAMPLETYPE_MONO;

    cmsg(CMSG_INFO, VERB_DEBUG, "Rate/Low/Hi/Root = %d/%d/%d/%d", (int)sp->sample_rate,
         (int)sp->low_freq, (int)sp->high_freq, (int)sp->root_freq);

    // A waveform without a rate or a pitch cannot be played at any note.
    if (sp->sample_rate == 0 || sp->root_freq <= 0) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: sample %d has no sample rate or root frequency",
             name, index);
        cmsg(CMSG_ERROR, VERB_NORMAL, "Error reading sample %d", index);
        return false;
    }

    // Frames of 16-bit output, and the loop points in bytes of 16-bit data.
    const bool wide = (sp->modes & MODES_16BIT) != 0;
    uint32 frames = wide ? data_bytes / 2 : data_bytes;
    if (frames == 0 || frames > MAX_SAMPLE_FRAMES) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: sample %d has an impossible length of %lu bytes",
             name, index, (unsigned long)data_bytes);
        cmsg(CMSG_ERROR, VERB_NORMAL, "Error reading sample %d", index);
        return false;
    }
    uint64 ls = wide ? loop_start : (uint64)loop_start * 2;
    uint64 le = wide ? loop_end : (uint64)loop_end * 2;
    uint64 len = (uint64)frames * 2;

    // Panning
    if (set.panning != -1) {
        sp->panning = (int8)(set.panning & 0x7F);
    } else {
        int p = file_pan > 15 ? 15 : file_pan;
        sp->panning = (int8)(p <= 7 ? p * 9 + 1 : p * 9 - 8);
    }

    // Tremolo and vibrato
    convert_tremolo(sp, h[49], h[50], h[51], rate, ratio);
    convert_vibrato(sp, h[52], h[53], h[54], rate);

    // Fixed note
    sp->note_to_use = (int8)(set.note != -1 ? set.note : 0);

    // Modes
    cmsg(CMSG_INFO, VERB_DEBUG, " * mode: 0x%02x", sp->modes);
    adjust_modes(sp, set, env_rates, env_offsets);

    // Loop points beyond the data or a loop of no length would make the renderer read past
    // the waveform or never leave the loop.
    const uint8 loop_bits = MODES_LOOPING | MODES_PINGPONG | MODES_REVERSE;
    if (sp->modes & loop_bits) {
        if (le > len || ls > le) {
            cmsg(CMSG_WARNING, VERB_NORMAL, "%s: sample %d: loop %lu..%lu outside %lu bytes, limited",
                 name, index, (unsigned long)loop_start, (unsigned long)loop_end,
                 (unsigned long)data_bytes);
            if (le > len)
                le = len;
            if (ls > le)
                ls = le;
        }
        uint64 start_fx = ((ls / 2) << FRACTION_BITS) + ((uint64)(fractions & 0x0F) << 8);
        uint64 end_fx = ((le / 2) << FRACTION_BITS) + ((uint64)(fractions >> 4) << 8);
        if (end_fx > ((uint64)frames << FRACTION_BITS))
            end_fx = (uint64)frames << FRACTION_BITS;
        if (end_fx <= start_fx) {
            cmsg(CMSG_WARNING, VERB_NORMAL, "%s: sample %d: empty loop, played without it",
                 name, index);
            sp->modes &= ~loop_bits;
        }
    }

    // Envelope
    convert_envelope(sp, env_rates, env_offsets, rate, ratio);

    // Data
    sp->data = read_waveform(tf, data_bytes, frames, sp->modes);
    if (sp->data == nullptr) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "Error reading sample %d", index);
        return false;
    }
    sp->data_alloced = 1;
    if (sp->modes & MODES_UNSIGNED)
        sp->modes &= ~MODES_UNSIGNED;
    sp->modes |= MODES_16BIT;

    if (sp->modes & MODES_REVERSE) {
        for (uint32 i = 0, j = frames - 1; i < j; i++, j--) {
            sample_t t = sp->data[i];
            sp->data[i] = sp->data[j];
            sp->data[j] = t;
        }
        uint64 old_start = ls;
        ls = len - le;
        le = len - old_start;
        sp->modes &= ~MODES_REVERSE;
        sp->modes |= MODES_LOOPING;
        cmsg(CMSG_WARNING, VERB_NORMAL, "Reverse loop in %s", name);
    }

    // Anti-aliasing
    if (antialiasing_allowed)
        antialiasing(sp->data, (int32)frames, sp->sample_rate, rate);

    // Volume
    if (set.amp != -1) {
        sp->volume = (double)set.amp / 100.0;
    } else {
        int peak = 0;
        for (uint32 i = 0; i < frames; i++) {
            int a = sp->data[i] < 0 ? -sp->data[i] : sp->data[i];
            if (a > peak)
                peak = a;
        }
        // Silence needs no compensation.
        sp->volume = peak > 0 ? 32768.0 / (double)peak : 1.0;
        cmsg(CMSG_INFO, VERB_DEBUG, " * volume comp: %f", sp->volume);
    }

    // Fixing up: loop points in samples, unlooped samples end in silence, then fixed point.
    uint32 start = (uint32)(ls / 2), end = (uint32)(le / 2);
    if (!(sp->modes & MODES_LOOPING)) {
        sp->data[frames - 1] = 0;
        start = frames - 1;
        end = frames;
    }
    sp->data_length = (splen_t)frames << FRACTION_BITS;
    sp->loop_start = ((splen_t)start << FRACTION_BITS) + ((splen_t)(fractions & 0x0F) << 8);
    sp->loop_end = ((splen_t)end << FRACTION_BITS) + ((splen_t)(fractions >> 4) << 8);
    if (sp->loop_end > sp->data_length)
        sp->loop_end = sp->data_length;
    if (sp->loop_start > sp->loop_end)
        sp->loop_start = sp->loop_end;

    if (sp->note_to_use && !(sp->modes & MODES_LOOPING))
        pre_resample(sp);

    if (set.strip_tail == 1) {
        sp->data_length = sp->loop_end;
        cmsg(CMSG_INFO, VERB_DEBUG, " - Stripping tail");
    }
    return true;
}

// Reads a whole patch from an open file; none after the messages when it cannot be used.
static Instrument* read_patch(InputFile* tf, const char* name, const PatchSettings& set)
{
    uint8 header[PATCH_HEADER_SIZE];
    bool whole = read_whole(header, PATCH_HEADER_SIZE, tf);
    if (whole && header[0] == 0) {
        // A 128-byte prefix: the patch starts after it.
        const int kept = PATCH_HEADER_SIZE - PATCH_PREFIX_SIZE;
        memmove(header, header + PATCH_PREFIX_SIZE, kept);
        whole = read_whole(header + kept, PATCH_PREFIX_SIZE, tf);
    }
    if (!whole || (memcmp(header, patch_magic_110, PATCH_MAGIC_SIZE) != 0 &&
                   memcmp(header, patch_magic_100, PATCH_MAGIC_SIZE) != 0)) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: not an instrument", name);
        return nullptr;
    }
    if (header[82] > 1) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "Can't handle patches with %d instruments", header[82]);
        return nullptr;
    }
    if (header[151] > 1) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "Can't handle instruments with %d layers", header[151]);
        return nullptr;
    }
    int nsamples = header[198];
    if (nsamples == 0) {
        // The player takes the first sample of every instrument it plays.
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: patch holds no samples", name);
        return nullptr;
    }

    int32 rate = loader_output_rate();
    int32 ratio = loader_control_ratio(rate);

    Instrument* ip = (Instrument*)safe_malloc(sizeof(Instrument));
    ip->type = INST_GUS;
    ip->samples = 0;
    ip->instname = nullptr;
    ip->sample = (Sample*)safe_malloc(sizeof(Sample) * nsamples);
    memset(ip->sample, 0, sizeof(Sample) * nsamples);

    for (int i = 0; i < nsamples; i++) {
        if (!read_sample(tf, name, i, &ip->sample[i], set, rate, ratio)) {
            free_instrument(ip);  // frees the samples read so far
            return nullptr;
        }
        ip->samples = i + 1;
    }
    return ip;
}

// True when name ends with ext.
static bool has_suffix(const char* name, const char* ext)
{
    size_t n = strlen(name), e = strlen(ext);
    return n >= e && strcmp(name + n - e, ext) == 0;
}

Instrument* load_gus_instrument(const char* name, ToneBank* bank, int dr, int prog,
                                const char* infomsg)
{
    if (name == nullptr)
        name = "";  // open_file reports a nameless file

    PatchSettings set = element_settings(bank, dr, prog);

    if (bank != nullptr && prog >= 0 && prog <= 127 && element_has_no_lists(&bank->tone[prog])) {
        Instrument* ip = find_cached_instrument(name, set.panning, set.amp, set.note,
                                                set.strip_loop, set.strip_envelope,
                                                set.strip_tail);
        if (ip != nullptr) {
            cmsg(CMSG_INFO, VERB_DEBUG, " * Cached");
            return ip;
        }
    }

    if (infomsg != nullptr)
        cmsg(CMSG_INFO, VERB_NOISY, "%s: %s", infomsg, name);
    else
        cmsg(CMSG_INFO, VERB_NOISY, "Loading instrument %s", name);

    InputFile* tf = open_file(name, 2, OF_NORMAL);
    if (tf == nullptr) {
        char tmp[1024];
        size_t n = strlen(name);
        for (int i = 0; tf == nullptr && patch_ext[i] != nullptr; i++) {
            size_t e = strlen(patch_ext[i]);
            if (has_suffix(name, patch_ext[i]) || n + e >= sizeof(tmp))
                continue;
            memcpy(tmp, name, n);
            memcpy(tmp + n, patch_ext[i], e + 1);
            tf = open_file(tmp, 1, OF_NORMAL);
        }
    }
    if (tf == nullptr) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "Instrument `%s' can't be found.", name);
        return nullptr;
    }

    Instrument* ip = read_patch(tf, name, set);
    close_file(tf);
    if (ip != nullptr)
        store_cached_instrument(name, set.panning, set.amp, set.note, set.strip_loop,
                                set.strip_envelope, set.strip_tail, ip);
    return ip;
}

Instrument* load_gus_instrument_from_memory(const char* name, const void* data, long size,
                                            ToneBank* bank, int dr, int prog)
{
    if (data == nullptr || size < 0 || size > 0x7FFFFFFF)
        return nullptr;
    PatchSettings set = element_settings(bank, dr, prog);
    InputFile* tf = open_with_mem((char*)data, (int32)size, OF_SILENT);
    if (tf == nullptr)
        return nullptr;
    Instrument* ip = read_patch(tf, name != nullptr ? name : "(memory)", set);
    close_file(tf);
    return ip;
}
