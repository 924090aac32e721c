// Loading and freeing instruments for the tone banks and drum sets: the programs a song
// marked are loaded before it plays (load_missing_instruments), the rest on demand
// (play_midi_load_instrument); a program a bank does not define falls back to bank 0; a
// program that failed carries the error mark and is not tried again until the marks are
// cleared; between songs everything is freed except, if asked, the default instrument.
#include "instrum/instrument_policy.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/tonebank.h"
#include "frontend/controls.h"
#include "frontend/memory.h"
#include "frontend/options.h"
#include "frontend/tables.h"
#include "instrum/instrum.h"
#include "output/aq.h"
#include "output/output.h"
#include "play/playmidi.h"
#include "readmidi/sysex_out.h"

Instrument* default_instrument = nullptr;

// The patch name set_default_instrument loaded last (owned), for reloading.
static char* default_instrument_loaded_name = nullptr;

// Instruments loaded for an element with per-sample lists. The lists change the samples, so
// such an instrument must not be handed to another program through the cache: it is taken
// out of the cache and kept here until the instruments are freed.
struct PrivateInstrument {
    Instrument* ip;
    PrivateInstrument* next;
};
static PrivateInstrument* private_instruments = nullptr;

static ToneBank* bank_of(int dr, int b)
{
    return dr ? drumset[b] : tonebank[b];
}

static int valid_slot(int b)
{
    return b >= 0 && b < TONEBANK_SLOTS;
}

// The highest bank slot in use: the numbered banks and the mapped ones after them.
static int highest_slot(void)
{
    int top = 127 + map_bank_counter;
    return top < TONEBANK_SLOTS ? top : TONEBANK_SLOTS - 1;
}

static bool element_has_lists(const ToneBankElement* t)
{
    return t->tunenum || t->envratenum || t->envofsnum || t->modenvratenum ||
           t->modenvofsnum || t->envkeyfnum || t->envvelfnum || t->modenvkeyfnum ||
           t->modenvvelfnum || t->tremnum || t->vibnum || t->sclnotenum || t->scltunenum ||
           t->fcnum || t->resonum || t->trempitchnum || t->tremfcnum || t->modpitchnum ||
           t->modfcnum;
}

// Takes the cache entry of `ip` (loaded from `name`) out of the cache and keeps the
// instrument in the private list.
static void keep_private(Instrument* ip, const char* name)
{
    for (InstrumentCache** pp = &instrument_cache[name_hash(name)]; *pp != nullptr;
         pp = &(*pp)->next) {
        InstrumentCache* e = *pp;
        if (e->ip != ip)
            continue;
        *pp = e->next;
        free(e->name);
        free(e);
        break;
    }
    PrivateInstrument* p = (PrivateInstrument*)safe_malloc(sizeof(PrivateInstrument));
    p->ip = ip;
    p->next = private_instruments;
    private_instruments = p;
}

static bool held_by_cache(const Instrument* ip)
{
    for (int i = 0; i < INSTRUMENT_HASH_SIZE; i++)
        for (InstrumentCache* p = instrument_cache[i]; p != nullptr; p = p->next)
            if (p->ip == ip)
                return true;
    for (PrivateInstrument* p = private_instruments; p != nullptr; p = p->next)
        if (p->ip == ip)
            return true;
    return false;
}

// Frees the private instruments except `keep`, which stays as the only one.
static void free_private_instruments(Instrument* keep)
{
    PrivateInstrument* kept = nullptr;
    while (private_instruments != nullptr) {
        PrivateInstrument* p = private_instruments;
        private_instruments = p->next;
        if (keep != nullptr && p->ip == keep && kept == nullptr) {
            kept = p;
            kept->next = nullptr;
            continue;
        }
        free_instrument(p->ip);
        free(p);
    }
    private_instruments = kept;
}

static void copy_name_to_comment(ToneBankElement* tone, const Instrument* ip)
{
    if (ip->instname == nullptr)
        return;
    free(tone->comment);
    tone->comment = safe_strdup(ip->instname);
}

// The overrides of a SoundFont or sample-file element, which its own source does not apply.
static void apply_element_overrides(Instrument* ip, const ToneBankElement* tone)
{
    if (tone->amp != -1) {
        FLOAT_T loudest = 0;
        for (int i = 0; i < ip->samples; i++)
            if (ip->sample[i].volume > loudest)
                loudest = ip->sample[i].volume;
        if (loudest > 0)
            for (int i = 0; i < ip->samples; i++)
                ip->sample[i].volume *= (tone->amp / 100.0) / loudest;
    }
    for (int i = 0; i < ip->samples; i++) {
        Sample* sp = &ip->sample[i];
        if (tone->pan != -1) {
            int pan = sp->panning + tone->pan - 64;
            sp->panning = (int8)(pan < 0 ? 0 : (pan > 127 ? 127 : pan));
        }
        if (tone->note != -1)
            sp->root_freq = freq_table[tone->note & 0x7F];
        if (tone->key_to_fc != 0)
            sp->key_to_fc = tone->key_to_fc;
        if (tone->vel_to_fc != 0)
            sp->vel_to_fc = tone->vel_to_fc;
        if (tone->vel_to_resonance != 0)
            sp->vel_to_resonance = tone->vel_to_resonance;
        if (tone->strip_tail == 1)
            sp->data_length = sp->loop_end;
    }
}

int instrument_load_failures = 0;

// An element that names a file or preset which then does not load is a fault of the set, not a
// gap in it: it is counted so that a program can say the song was not played in full.
static Instrument* named_but_not_loaded(const ToneBankElement* tone)
{
    if (tone->name != nullptr && tone->name[0] != '\0')
        instrument_load_failures++;
    return nullptr;
}

Instrument* load_instrument(int dr, int b, int prog)
{
    if (!valid_slot(b) || prog < 0 || prog > 127)
        return nullptr;
    ToneBank* bank = bank_of(dr, b);
    if (bank == nullptr)
        return nullptr;
    ToneBankElement* tone = &bank->tone[prog];
    Instrument* ip = nullptr;

    if (tone->instype == 1 || tone->instype == 2) {
        if (tone->instype == 1)
            ip = extract_soundfont(tone->name, tone->font_bank, tone->font_preset,
                                   tone->font_keynote);
        else
            ip = extract_sample_file(tone->name);
        if (ip == nullptr)
            return named_but_not_loaded(tone);
        apply_element_overrides(ip, tone);
        copy_name_to_comment(dr ? &bank->tone[0] : tone, ip);
    } else {
        ip = dr ? load_soundfont_inst(0, 128, b, prog) : load_soundfont_inst(0, b, prog, -1);
        if (ip != nullptr) {
            copy_name_to_comment(tone, ip);
        } else if (tone->name != nullptr && tone->name[0] != '\0') {
            char info[256];
            if (dr)
                snprintf(info, sizeof(info), "Drumset %d %d(%s)", b + progbase, prog,
                         note_name[prog % 12]);
            else
                snprintf(info, sizeof(info), "Tonebank %d %d", b, prog + progbase);
            ip = load_gus_instrument(tone->name, bank, dr, prog, info);
            if (ip != nullptr && element_has_lists(tone))
                keep_private(ip, tone->name);
        }
        if (ip == nullptr) {
            ip = dr ? load_soundfont_inst(1, 128, b, prog) : load_soundfont_inst(1, b, prog, -1);
            if (ip != nullptr)
                copy_name_to_comment(tone, ip);
        }
        if (ip == nullptr)
            return named_but_not_loaded(tone);
    }
    apply_bank_parameter(ip, tone);
    return ip;
}

// The bank and program numbers of messages, as the configuration writes them.
static int shown_bank(int dr, int b)
{
    return dr ? b + progbase : b;
}

static int shown_program(int dr, int prog)
{
    return dr ? prog : prog + progbase;
}

int fill_bank(int dr, int b, int* rc)
{
    if (rc != nullptr)
        *rc = RC_NONE;
    if (!valid_slot(b) || bank_of(dr, b) == nullptr)
        return 0;
    ToneBank* bank = bank_of(dr, b);
    const char* kind = dr ? "drum set" : "tone bank";
    int errors = 0;
    for (int i = 0; i < 128; i++) {
        ToneBankElement* tone = &bank->tone[i];
        if (tone->instrument != MAGIC_LOAD_INSTRUMENT)
            continue;
        if (tone->name == nullptr) {
            tone->instrument = load_instrument(dr, b, i);
            if (tone->instrument != nullptr)
                continue;
            cmsg(CMSG_WARNING, b != 0 ? VERB_VERBOSE : VERB_NORMAL,
                 "No instrument mapped to %s %d, program %d%s", kind, shown_bank(dr, b),
                 shown_program(dr, i), b != 0 ? "" : " - this instrument will not be heard");
            if (b == 0) {
                tone->instrument = MAGIC_ERROR_INSTRUMENT;
            } else {
                // Bank 0 stands in; the walk fills it after this bank.
                ToneBank* bank0 = bank_of(dr, 0);
                if (bank0 != nullptr && bank0->tone[i].instrument == nullptr)
                    bank0->tone[i].instrument = MAGIC_LOAD_INSTRUMENT;
            }
            errors++;
        } else {
            if (rc != nullptr) {
                *rc = check_apply_control();
                if (is_stop_code(*rc))
                    return errors;
            }
            tone->instrument = load_instrument(dr, b, i);
            if (tone->instrument == nullptr) {
                cmsg(CMSG_ERROR, VERB_NORMAL, "Couldn't load instrument %s (%s %d, program %d)",
                     tone->name, kind, shown_bank(dr, b), shown_program(dr, i));
                // Reported once: playback does not try it again.
                tone->instrument = MAGIC_ERROR_INSTRUMENT;
                errors++;
            }
        }
    }
    return errors;
}

int load_missing_instruments(int* rc)
{
    if (rc != nullptr)
        *rc = RC_NONE;
    int errors = 0;
    // From the top down, so that a bank falling back marks bank 0 before bank 0 is filled.
    for (int i = highest_slot(); i >= 0; i--) {
        for (int dr = 0; dr < 2; dr++) {
            if (bank_of(dr, i) == nullptr)
                continue;
            errors += fill_bank(dr, i, rc);
            if (rc != nullptr && is_stop_code(*rc))
                break;
        }
        if (rc != nullptr && is_stop_code(*rc))
            break;
    }
    report_soundfont_warnings();
    return errors;
}

// Loads the element's instrument when it has none or the load mark; a failure leaves the
// error mark. Returns the element's instrument, or none for the error mark.
static Instrument* load_element(int dr, int b, int prog)
{
    ToneBankElement* tone = &bank_of(dr, b)->tone[prog];
    if (tone->instrument == nullptr || tone->instrument == MAGIC_LOAD_INSTRUMENT) {
        Instrument* ip = load_instrument(dr, b, prog);
        if (ip == nullptr) {
            tone->instrument = MAGIC_ERROR_INSTRUMENT;
            return nullptr;
        }
        tone->instrument = ip;
        // A load can take longer than the queued audio lasts.
        if (play_mode != nullptr)
            aq_add(nullptr, 0);
    }
    return tone->instrument == MAGIC_ERROR_INSTRUMENT ? nullptr : tone->instrument;
}

static Instrument* element_instrument(int dr, int b, int prog);

Instrument* play_midi_load_instrument(int dr, int b, int prog)
{
    Instrument* ip = element_instrument(dr, b, prog);
    report_soundfont_warnings();
    return ip;
}

static Instrument* element_instrument(int dr, int b, int prog)
{
    if (!valid_slot(b) || prog < 0 || prog > 127)
        return nullptr;
    alloc_instrument_bank(dr, b);
    ToneBankElement* tone = &bank_of(dr, b)->tone[prog];
    if (tone->name != nullptr)
        return load_element(dr, b, prog);

    // No patch of its own: a SoundFont may have this bank's program (a variation tone, a drum
    // kit of its own), loaded now or when the bank was filled.
    if (b != 0) {
        if (tone->instrument == nullptr || tone->instrument == MAGIC_LOAD_INSTRUMENT)
            tone->instrument = load_instrument(dr, b, prog);
        if (tone->instrument != nullptr && !IS_MAGIC_INSTRUMENT(tone->instrument))
            return tone->instrument;
    }
    // Otherwise the same program of bank 0 plays, and this element becomes a copy.
    alloc_instrument_bank(dr, 0);
    Instrument* ip = load_element(dr, 0, prog);
    if (ip != nullptr && b != 0) {
        copy_tone_bank_element(tone, &bank_of(dr, 0)->tone[prog]);
        tone->instrument = ip;
    }
    return ip;
}

void retire_instrument(Instrument* ip)
{
    if (ip == nullptr || IS_MAGIC_INSTRUMENT(ip))
        return;
    for (int i = 0; i < TONEBANK_SLOTS; i++)
        for (int dr = 0; dr < 2; dr++) {
            ToneBank* bank = bank_of(dr, i);
            if (bank == nullptr)
                continue;
            for (ToneBankElement& tone : bank->tone)
                if (tone.instrument == ip)
                    tone.instrument = nullptr;
        }
    // Instruments that no element references any more would otherwise be lost: SoundFont
    // and sample-file instruments belong to their element, not to the cache.
    if (ip != default_instrument && !held_by_cache(ip)) {
        PrivateInstrument* p = (PrivateInstrument*)safe_malloc(sizeof(PrivateInstrument));
        p->ip = ip;
        p->next = private_instruments;
        private_instruments = p;
    }
}

void clear_magic_instruments(void)
{
    for (int i = 0; i < TONEBANK_SLOTS; i++) {
        for (int dr = 0; dr < 2; dr++) {
            ToneBank* bank = bank_of(dr, i);
            if (bank == nullptr)
                continue;
            for (ToneBankElement& tone : bank->tone)
                if (IS_MAGIC_INSTRUMENT(tone.instrument))
                    tone.instrument = nullptr;
        }
    }
}

void free_instruments(int reload_default)
{
    clear_magic_instruments();
    for (int i = highest_slot(); i >= 0; i--) {
        for (int dr = 0; dr < 2; dr++) {
            ToneBank* bank = bank_of(dr, i);
            if (bank == nullptr)
                continue;
            ToneBank* bank0 = bank_of(dr, 0);
            for (int j = 0; j < 128; j++) {
                Instrument* ip = bank->tone[j].instrument;
                bank->tone[j].instrument = nullptr;
                // Patch instruments go with the cache; others belong to their element,
                // unless a bank shares bank 0's (bank 0 frees it when its turn comes).
                if (ip == nullptr || ip->type != INST_SF2 || (ip == default_instrument && !reload_default))
                    continue;
                if (i != 0 && bank0 != nullptr && bank0->tone[j].instrument == ip)
                    continue;
                free_instrument(ip);
            }
        }
    }
    Instrument* keep = reload_default ? nullptr : default_instrument;
    clear_instrument_cache(keep);
    free_private_instruments(keep);
    if (keep == nullptr)
        default_instrument = nullptr;  // it was freed with the rest
    if (reload_default)
        set_default_instrument(nullptr);
}

int set_default_instrument(const char* name)
{
    if (name == nullptr) {
        name = default_instrument_loaded_name;
        if (name == nullptr)
            return 0;
    }
    Instrument* ip = load_gus_instrument(name, nullptr, 0, 0, nullptr);
    if (ip == nullptr)
        return -1;
    // The old default is not freed here when the cache or a program still holds it: it
    // goes when the instruments are freed.
    if (default_instrument != nullptr && default_instrument != ip &&
        !held_by_cache(default_instrument))
        free_instrument(default_instrument);
    default_instrument = ip;
    for (int i = 0; i < MAX_CHANNELS; i++)
        default_program[i] = -1;
    if (name != default_instrument_loaded_name) {
        free(default_instrument_loaded_name);
        default_instrument_loaded_name = safe_strdup(name);
    }
    return 0;
}

void free_special_patch(int id)
{
    if (id > 255)
        return;
    int first = id < 0 ? 0 : id, last = id < 0 ? 255 : id;
    for (int i = first; i <= last; i++) {
        SpecialPatch* sp = special_patch[i];
        if (sp == nullptr)
            continue;
        for (int j = 0; j < sp->samples; j++)
            if (sp->sample[j].data_alloced)
                free(sp->sample[j].data);
        free(sp->sample);
        free(sp->name);
        free(sp);
        special_patch[i] = nullptr;
    }
}
