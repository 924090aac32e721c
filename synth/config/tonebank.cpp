// Tone banks and drum sets: patch lines with their options, copying and freeing elements,
// the value-list parsers and alternate assignments.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "config/tonebank.h"
#include "frontend/controls.h"
#include "frontend/memory.h"
#include "instrum/instrum.h"
#include "instrum/instrument_policy.h"

ToneBank standard_tonebank, standard_drumset;
ToneBank* tonebank[TONEBANK_SLOTS] = {&standard_tonebank};
ToneBank* drumset[TONEBANK_SLOTS] = {&standard_drumset};
int progbase = 0;

// ---- numbers --------------------------------------------------------------------------

// The leading integer of s (0 when there is none), held within the int range instead of
// overflowing.
static long leading_long(const char* s)
{
    errno = 0;
    long v = strtol(s, nullptr, 10);
    if (v > INT_MAX)
        v = INT_MAX;
    if (v < INT_MIN)
        v = INT_MIN;
    return v;
}

int atoi_limited(const char* string, int v_min, int v_max)
{
    long v = leading_long(string);
    if (v < v_min)
        v = v_min;
    else if (v > v_max)
        v = v_max;
    return (int)v;
}

int string_to_7bit_range(const char* string_, int* start, int* end)
{
    const char* s = string_;
    if (isdigit((unsigned char)*s)) {
        *start = atoi_limited(s, 0, 127);
        while (isdigit((unsigned char)*s))
            s++;
    } else {
        *start = 0;
    }
    if (*s == '-') {
        s++;
        if (isdigit((unsigned char)*s)) {
            *end = atoi_limited(s, 0, 127);
            while (isdigit((unsigned char)*s))
                s++;
        } else {
            *end = 127;
        }
        if (*end < *start)
            *end = *start;
    } else {
        *end = *start;
    }
    return s != string_;
}

// ---- lists --------------------------------------------------------------------------

static int count_items(const char* cp, int sep)
{
    int n = 1;
    for (; *cp != '\0'; cp++)
        if (*cp == sep)
            n++;
    return n;
}

int16* config_parse_int16(const char* cp, int* num)
{
    int n = count_items(cp, ',');
    int16* list = (int16*)safe_malloc((size_t)n * sizeof(int16));
    for (int i = 0; i < n; i++) {
        list[i] = (int16)leading_long(cp);
        const char* next = strchr(cp, ',');
        if (next == nullptr)
            break;
        cp = next + 1;
    }
    *num = n;
    return list;
}

static float* config_parse_tune(const char* cp, int* num)
{
    int n = count_items(cp, ',');
    float* list = (float*)safe_malloc((size_t)n * sizeof(float));
    for (int i = 0; i < n; i++) {
        list[i] = (float)atof(cp);
        const char* next = strchr(cp, ',');
        if (next == nullptr)
            break;
        cp = next + 1;
    }
    *num = n;
    return list;
}

int** config_parse_envelope(const char* cp, int* num)
{
    int n = count_items(cp, ',');
    int** list = (int**)safe_malloc((size_t)n * sizeof(int*));
    for (int i = 0; i < n; i++) {
        list[i] = (int*)safe_malloc(6 * sizeof(int));
        for (int j = 0; j < 6; j++)
            list[i][j] = -1;
        // Up to six values separated by ":"; an empty position keeps -1.
        for (int j = 0; j < 6; j++) {
            if (*cp != ':' && *cp != ',' && *cp != '\0')
                list[i][j] = (int)leading_long(cp);
            while (*cp != ':' && *cp != ',' && *cp != '\0')
                cp++;
            if (*cp != ':')
                break;
            cp++;
        }
        const char* next = strchr(cp, ',');
        if (next == nullptr)
            break;
        cp = next + 1;
    }
    *num = n;
    return list;
}

static void free_ptr_list(void** list, int n)
{
    if (list == nullptr)
        return;
    for (int i = 0; i < n; i++)
        free(list[i]);
    free(list);
}

Quantity** config_parse_modulation(const char* name, int line, const char* cp, int* num,
                                   int mod_type)
{
    static const char* const qtypestr[] = {"tremolo", "vibrato"};
    static const uint16 qtypes[2][3] = {
        {QUANTITY_UNIT_TYPE_TREMOLO_SWEEP, QUANTITY_UNIT_TYPE_TREMOLO_RATE,
         QUANTITY_UNIT_TYPE_INT},
        {QUANTITY_UNIT_TYPE_VIBRATO_SWEEP, QUANTITY_UNIT_TYPE_VIBRATO_RATE,
         QUANTITY_UNIT_TYPE_INT}};
    mod_type = mod_type ? 1 : 0;

    int n = count_items(cp, ',');
    Quantity** list = (Quantity**)safe_malloc((size_t)n * sizeof(Quantity*));
    for (int i = 0; i < n; i++) {
        list[i] = (Quantity*)safe_malloc(3 * sizeof(Quantity));
        memset(list[i], 0, 3 * sizeof(Quantity));
    }
    for (int i = 0; i < n; i++) {
        for (int j = 0; j < 3; j++) {
            // The quantity's text, at most 127 bytes of it.
            char buf[128];
            size_t len = strcspn(cp, ":,");
            size_t keep = len < sizeof(buf) - 1 ? len : sizeof(buf) - 1;
            memcpy(buf, cp, keep);
            buf[keep] = '\0';
            if (keep > 0) {
                const char* err = string_to_quantity(buf, &list[i][j], qtypes[mod_type][j]);
                if (err != nullptr) {
                    cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: %s: parameter %d of item %d: %s (%s)",
                         name, line, qtypestr[mod_type], j + 1, i + 1, err, buf);
                    free_ptr_list((void**)list, n);
                    *num = 0;
                    return nullptr;
                }
            }
            cp += len;
            if (*cp != ':')
                break;
            cp++;
        }
        const char* next = strchr(cp, ',');
        if (next == nullptr)
            break;
        cp = next + 1;
    }
    *num = n;
    return list;
}

// ---- elements -------------------------------------------------------------------------

void free_tone_bank_element(ToneBankElement* elm)
{
    if (elm == nullptr)
        return;
    elm->instype = 0;
    free(elm->name);
    elm->name = nullptr;
    free(elm->comment);
    elm->comment = nullptr;
#define FREE_ARRAY(field, count) \
    free(elm->field);            \
    elm->field = nullptr;        \
    elm->count = 0
    FREE_ARRAY(tune, tunenum);
    FREE_ARRAY(sclnote, sclnotenum);
    FREE_ARRAY(scltune, scltunenum);
    FREE_ARRAY(fc, fcnum);
    FREE_ARRAY(reso, resonum);
    FREE_ARRAY(trempitch, trempitchnum);
    FREE_ARRAY(tremfc, tremfcnum);
    FREE_ARRAY(modpitch, modpitchnum);
    FREE_ARRAY(modfc, modfcnum);
#undef FREE_ARRAY
#define FREE_LIST(field, count)                    \
    free_ptr_list((void**)elm->field, elm->count); \
    elm->field = nullptr;                          \
    elm->count = 0
    FREE_LIST(envrate, envratenum);
    FREE_LIST(envofs, envofsnum);
    FREE_LIST(modenvrate, modenvratenum);
    FREE_LIST(modenvofs, modenvofsnum);
    FREE_LIST(envvelf, envvelfnum);
    FREE_LIST(envkeyf, envkeyfnum);
    FREE_LIST(modenvvelf, modenvvelfnum);
    FREE_LIST(modenvkeyf, modenvkeyfnum);
    FREE_LIST(trem, tremnum);
    FREE_LIST(vib, vibnum);
#undef FREE_LIST
}

template <typename T>
static T* dup_array(const T* src, int n)
{
    if (src == nullptr || n <= 0)
        return nullptr;
    T* p = (T*)safe_malloc((size_t)n * sizeof(T));
    memcpy(p, src, (size_t)n * sizeof(T));
    return p;
}

template <typename T>
static T** dup_item_list(T* const* src, int n, int item_len)
{
    if (src == nullptr || n <= 0)
        return nullptr;
    T** p = (T**)safe_malloc((size_t)n * sizeof(T*));
    for (int i = 0; i < n; i++)
        p[i] = dup_array(src[i], item_len);
    return p;
}

void copy_tone_bank_element(ToneBankElement* elm, const ToneBankElement* src)
{
    if (elm == src)
        return;
    free_tone_bank_element(elm);
    memcpy(elm, src, sizeof(ToneBankElement));
    elm->name = src->name != nullptr ? safe_strdup(src->name) : nullptr;
    elm->comment = src->comment != nullptr ? safe_strdup(src->comment) : nullptr;
    elm->tune = dup_array(src->tune, src->tunenum);
    elm->sclnote = dup_array(src->sclnote, src->sclnotenum);
    elm->scltune = dup_array(src->scltune, src->scltunenum);
    elm->fc = dup_array(src->fc, src->fcnum);
    elm->reso = dup_array(src->reso, src->resonum);
    elm->trempitch = dup_array(src->trempitch, src->trempitchnum);
    elm->tremfc = dup_array(src->tremfc, src->tremfcnum);
    elm->modpitch = dup_array(src->modpitch, src->modpitchnum);
    elm->modfc = dup_array(src->modfc, src->modfcnum);
    elm->envrate = dup_item_list(src->envrate, src->envratenum, 6);
    elm->envofs = dup_item_list(src->envofs, src->envofsnum, 6);
    elm->modenvrate = dup_item_list(src->modenvrate, src->modenvratenum, 6);
    elm->modenvofs = dup_item_list(src->modenvofs, src->modenvofsnum, 6);
    elm->envvelf = dup_item_list(src->envvelf, src->envvelfnum, 6);
    elm->envkeyf = dup_item_list(src->envkeyf, src->envkeyfnum, 6);
    elm->modenvvelf = dup_item_list(src->modenvvelf, src->modenvvelfnum, 6);
    elm->modenvkeyf = dup_item_list(src->modenvkeyf, src->modenvkeyfnum, 6);
    elm->trem = dup_item_list(src->trem, src->tremnum, 3);
    elm->vib = dup_item_list(src->vib, src->vibnum, 3);
}

void copybank(ToneBank* to, ToneBank* from, int mapid, int bankmapfrom, int bankno)
{
    if (from == nullptr || to == nullptr)
        return;
    for (int i = 0; i < 128; i++) {
        if (from->tone[i].name == nullptr)
            continue;
        if (to != from) {
            copy_tone_bank_element(&to->tone[i], &from->tone[i]);
            to->tone[i].instrument = nullptr;
        }
        if (mapid != INST_NO_MAP)
            set_instrument_map(mapid, bankmapfrom, i, bankno, i);
    }
}

static void free_altassign(AlternateAssign* p)
{
    while (p != nullptr) {
        AlternateAssign* next = p->next;
        free(p);
        p = next;
    }
}

void free_tone_bank(void)
{
    for (int dr = 0; dr < 2; dr++) {
        ToneBank** table = dr ? drumset : tonebank;
        for (int i = 0; i < 128 + map_bank_counter && i < TONEBANK_SLOTS; i++) {
            ToneBank* bank = table[i];
            if (bank == nullptr)
                continue;
            for (int j = 0; j < 128; j++)
                free_tone_bank_element(&bank->tone[j]);
            free_altassign(bank->alt);
            bank->alt = nullptr;
            if (i > 0) {
                free(bank);
                table[i] = nullptr;
            }
        }
    }
}

// ---- patch lines ----------------------------------------------------------------------

static char* comment_copy(const char* s)
{
    char* c = safe_strdup(s);
    for (char* p = c; *p != '\0'; p++)
        if (*p == ',')
            *p = ' ';
    return c;
}

// True when word's option name (the text before "=") is name.
static int option_is(const char* word, size_t namelen, const char* name)
{
    return strlen(name) == namelen && strncmp(word, name, namelen) == 0;
}

// Applies one "name=value" option to the element; 0 on success, 1 after a message.
static int apply_patch_option(const char* file, int line, ToneBankElement* tone,
                              const char* word)
{
    const char* eq = strchr(word, '=');
    if (eq == nullptr) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: bad patch option %s", file, line, word);
        return 1;
    }
    size_t nl = (size_t)(eq - word);
    const char* cp = eq + 1;

    if (option_is(word, nl, "amp")) {
        long k = leading_long(cp);
        if (k < 0 || k > 800 || !isdigit((unsigned char)*cp)) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: amplification must be between 0 and %d",
                 file, line, 800);
            return 1;
        }
        tone->amp = (int16)k;
    } else if (option_is(word, nl, "note")) {
        long k = leading_long(cp);
        if (k < 0 || k > 127 || !isdigit((unsigned char)*cp)) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: note must be between 0 and 127", file,
                 line);
            return 1;
        }
        tone->note = (int8)k;
        free(tone->scltune);
        tone->scltune = (int16*)safe_malloc(sizeof(int16));
        tone->scltune[0] = 100;
        tone->scltunenum = 1;
    } else if (option_is(word, nl, "pan")) {
        long long k;
        if (strcmp(cp, "center") == 0)
            k = 64;
        else if (strcmp(cp, "left") == 0)
            k = 0;
        else if (strcmp(cp, "right") == 0)
            k = 127;
        else {
            k = ((long long)leading_long(cp) * 100 + 10000) / 157;
            if (k < 0 || k > 127 || (k == 0 && *cp != '-' && !isdigit((unsigned char)*cp))) {
                cmsg(CMSG_ERROR, VERB_NORMAL,
                     "%s: line %d: panning must be left, right, center, or between -100 and 100",
                     file, line);
                return 1;
            }
        }
        tone->pan = (int8)k;
    } else if (option_is(word, nl, "tune")) {
        free(tone->tune);
        tone->tune = config_parse_tune(cp, &tone->tunenum);
    } else if (option_is(word, nl, "keep")) {
        if (strcmp(cp, "env") == 0)
            tone->strip_envelope = 0;
        else if (strcmp(cp, "loop") == 0)
            tone->strip_loop = 0;
        else {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: keep must be env or loop", file, line);
            return 1;
        }
    } else if (option_is(word, nl, "strip")) {
        if (strcmp(cp, "env") == 0)
            tone->strip_envelope = 1;
        else if (strcmp(cp, "loop") == 0)
            tone->strip_loop = 1;
        else if (strcmp(cp, "tail") == 0)
            tone->strip_tail = 1;
        else {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: strip must be env, loop, or tail", file,
                 line);
            return 1;
        }
    } else if (option_is(word, nl, "tremolo") || option_is(word, nl, "vibrato")) {
        int is_vib = option_is(word, nl, "vibrato");
        Quantity*** field = is_vib ? &tone->vib : &tone->trem;
        int* count = is_vib ? &tone->vibnum : &tone->tremnum;
        free_ptr_list((void**)*field, *count);
        *field = config_parse_modulation(file, line, cp, count, is_vib);
        if (*field == nullptr)
            return 1;
    } else if (option_is(word, nl, "comm")) {
        free(tone->comment);
        tone->comment = comment_copy(cp);
    } else if (option_is(word, nl, "fckeyf")) {
        tone->key_to_fc = (int16)leading_long(cp);
    } else if (option_is(word, nl, "fcvelf")) {
        tone->vel_to_fc = (int16)leading_long(cp);
    } else if (option_is(word, nl, "qvelf")) {
        tone->vel_to_resonance = (int16)leading_long(cp);
    } else {
        // Integer lists and envelope lists.
        struct Int16List {
            const char* name;
            int16** field;
            int* count;
        };
        const Int16List int16_lists[] = {
            {"sclnote", &tone->sclnote, &tone->sclnotenum},
            {"scltune", &tone->scltune, &tone->scltunenum},
            {"trempitch", &tone->trempitch, &tone->trempitchnum},
            {"tremfc", &tone->tremfc, &tone->tremfcnum},
            {"modpitch", &tone->modpitch, &tone->modpitchnum},
            {"modfc", &tone->modfc, &tone->modfcnum},
            {"fc", &tone->fc, &tone->fcnum},
            {"q", &tone->reso, &tone->resonum},
        };
        for (const Int16List& l : int16_lists) {
            if (option_is(word, nl, l.name)) {
                free(*l.field);
                *l.field = config_parse_int16(cp, l.count);
                return 0;
            }
        }
        struct EnvList {
            const char* name;
            int*** field;
            int* count;
        };
        const EnvList env_lists[] = {
            {"rate", &tone->envrate, &tone->envratenum},
            {"offset", &tone->envofs, &tone->envofsnum},
            {"modrate", &tone->modenvrate, &tone->modenvratenum},
            {"modoffset", &tone->modenvofs, &tone->modenvofsnum},
            {"envkeyf", &tone->envkeyf, &tone->envkeyfnum},
            {"envvelf", &tone->envvelf, &tone->envvelfnum},
            {"modkeyf", &tone->modenvkeyf, &tone->modenvkeyfnum},
            {"modvelf", &tone->modenvvelf, &tone->modenvvelfnum},
        };
        for (const EnvList& l : env_lists) {
            if (option_is(word, nl, l.name)) {
                free_ptr_list((void**)*l.field, *l.count);
                *l.field = config_parse_envelope(cp, l.count);
                return 0;
            }
        }
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: bad patch option %.*s", file, line, (int)nl,
             word);
        return 1;
    }
    return 0;
}

static void set_element_defaults(ToneBankElement* tone)
{
    tone->note = tone->pan = -1;
    tone->strip_loop = tone->strip_envelope = tone->strip_tail = -1;
    tone->loop_timeout = 0;
    tone->legato = 0;
    tone->tva_level = tone->play_note = -1;
    tone->damper_mode = 0;
    tone->instype = 0;
    tone->amp = -1;
    tone->rnddelay = 0;
    tone->vel_to_fc = tone->key_to_fc = tone->vel_to_resonance = 0;
    tone->reverb_send = tone->chorus_send = tone->delay_send = -1;
}

template <typename T>
static bool same_array(const T* a, const T* b, int n)
{
    return n <= 0 || (a != nullptr && b != nullptr && memcmp(a, b, (size_t)n * sizeof(T)) == 0);
}

template <typename T>
static bool same_items(T* const* a, T* const* b, int n, int item_len)
{
    if (n <= 0)
        return true;
    if (a == nullptr || b == nullptr)
        return false;
    for (int i = 0; i < n; i++)
        if (!same_array(a[i], b[i], item_len))
            return false;
    return true;
}

static bool same_text(const char* a, const char* b)
{
    return a == b || (a != nullptr && b != nullptr && strcmp(a, b) == 0);
}

// Whether two elements make the same instrument: everything a patch line sets but the
// display name.
static bool same_patch(const ToneBankElement& a, const ToneBankElement& b)
{
#define SAME(f) (a.f == b.f)
#define SAME_LIST(f, n) (SAME(n) && same_array(a.f, b.f, a.n))
#define SAME_ITEMS(f, n, k) (SAME(n) && same_items(a.f, b.f, a.n, k))
    return same_text(a.name, b.name) && SAME(note) && SAME(pan) && SAME(strip_loop) &&
           SAME(strip_envelope) && SAME(strip_tail) && SAME(loop_timeout) &&
           SAME(font_preset) && SAME(font_keynote) && SAME(legato) && SAME(tva_level) &&
           SAME(play_note) && SAME(damper_mode) && SAME(font_bank) && SAME(instype) &&
           SAME(amp) && SAME(rnddelay) && SAME_LIST(tune, tunenum) &&
           SAME_LIST(sclnote, sclnotenum) && SAME_LIST(scltune, scltunenum) &&
           SAME_LIST(fc, fcnum) && SAME_LIST(reso, resonum) &&
           SAME_LIST(trempitch, trempitchnum) && SAME_LIST(tremfc, tremfcnum) &&
           SAME_LIST(modpitch, modpitchnum) && SAME_LIST(modfc, modfcnum) &&
           SAME_ITEMS(envrate, envratenum, 6) && SAME_ITEMS(envofs, envofsnum, 6) &&
           SAME_ITEMS(modenvrate, modenvratenum, 6) && SAME_ITEMS(modenvofs, modenvofsnum, 6) &&
           SAME_ITEMS(envvelf, envvelfnum, 6) && SAME_ITEMS(envkeyf, envkeyfnum, 6) &&
           SAME_ITEMS(modenvvelf, modenvvelfnum, 6) &&
           SAME_ITEMS(modenvkeyf, modenvkeyfnum, 6) && SAME_ITEMS(trem, tremnum, 3) &&
           SAME_ITEMS(vib, vibnum, 3) && SAME(vel_to_fc) && SAME(key_to_fc) &&
           SAME(vel_to_resonance) && SAME(reverb_send) && SAME(chorus_send) &&
           SAME(delay_send);
#undef SAME
#undef SAME_LIST
#undef SAME_ITEMS
}

static int apply_patch_line(const char* name, int line, ToneBank* bank, char* w[], int dr,
                            int mapid, int bankmapfrom, int bankno);

// The configuration is read again before every song: a line that changes a program drops
// the instrument loaded for it, so that the next song hears the new line; the same line
// keeps it loaded.
int set_patchconf(const char* name, int line, ToneBank* bank, char* w[], int dr, int mapid,
                  int bankmapfrom, int bankno)
{
    long i = leading_long(w[0]);
    if (!dr)
        i -= progbase;
    if (bank == nullptr || i < 0 || i > 127 || bank->tone[i].instrument == nullptr)
        return apply_patch_line(name, line, bank, w, dr, mapid, bankmapfrom, bankno);
    ToneBankElement* tone = &bank->tone[i];
    ToneBankElement before;
    memset(&before, 0, sizeof(before));
    copy_tone_bank_element(&before, tone);
    int rc = apply_patch_line(name, line, bank, w, dr, mapid, bankmapfrom, bankno);
    if (rc != 0 || !same_patch(before, *tone)) {
        Instrument* ip = tone->instrument;
        tone->instrument = nullptr;
        // Banks that do not define the program took a copy of bank 0's element when they
        // fell back to it: those copies go, so that they fall back to the new line.
        ToneBank** banks = dr ? drumset : tonebank;
        if (bank == banks[0] && ip != nullptr && !IS_MAGIC_INSTRUMENT(ip)) {
            for (int b = 1; b < TONEBANK_SLOTS; b++) {
                ToneBankElement* copy = banks[b] != nullptr ? &banks[b]->tone[i] : nullptr;
                if (copy == nullptr || copy->instrument != ip || !same_patch(before, *copy))
                    continue;
                free_tone_bank_element(copy);
                set_element_defaults(copy);
                copy->instrument = nullptr;
            }
        }
        retire_instrument(ip);
    }
    free_tone_bank_element(&before);
    return rc;
}

static int apply_patch_line(const char* name, int line, ToneBank* bank, char* w[], int dr,
                            int mapid, int bankmapfrom, int bankno)
{
    long i = leading_long(w[0]);
    if (!dr)
        i -= progbase;
    if (i < 0 || i > 127) {
        if (dr)
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: Drum number must be between 0 and 127",
                 name, line);
        else
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: Program must be between %d and %d", name,
                 line, progbase, 127 + progbase);
        return 1;
    }
    if (bank == nullptr) {
        cmsg(CMSG_ERROR, VERB_NORMAL,
             "%s: line %d: Must specify tone bank or drum set before assignment", name, line);
        return 1;
    }

    ToneBankElement* tone = &bank->tone[i];
    char* old_name = tone->name != nullptr ? safe_strdup(tone->name) : nullptr;
    free_tone_bank_element(tone);
    set_element_defaults(tone);

    int opt_start;
    if (strcmp(w[1], "%font") == 0) {
        if (w[2] == nullptr || w[3] == nullptr || w[4] == nullptr ||
            (atoi_limited(w[3], -1, 255) == 128 && w[5] == nullptr)) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: Syntax error", name, line);
            free(old_name);
            return 1;
        }
        tone->instype = 1;
        tone->name = safe_strdup(w[2]);
        int fbank = atoi_limited(w[3], 0, 255);
        tone->font_bank = (uint8)fbank;
        tone->font_preset = (int8)leading_long(w[4]);
        if (fbank == 128) {
            tone->font_keynote = (int8)leading_long(w[5]);
            opt_start = 6;
        } else if (w[5] != nullptr && isdigit((unsigned char)w[5][0])) {
            tone->font_keynote = (int8)leading_long(w[5]);
            opt_start = 6;
        } else {
            tone->font_keynote = -1;
            opt_start = 5;
        }
    } else if (strcmp(w[1], "%sample") == 0) {
        if (w[2] == nullptr) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: Syntax error", name, line);
            free(old_name);
            return 1;
        }
        tone->instype = 2;
        tone->name = safe_strdup(w[2]);
        opt_start = 3;
    } else {
        tone->instype = 0;
        tone->name = safe_strdup(w[1]);
        opt_start = 2;
    }

    for (int j = opt_start; w[j] != nullptr; j++) {
        if (apply_patch_option(name, line, tone, w[j]) != 0) {
            free(old_name);
            return 1;
        }
    }

    if (tone->comment == nullptr) {
        tone->comment = safe_strdup(tone->name);
    } else if (old_name != nullptr && strcmp(tone->comment, old_name) == 0) {
        free(tone->comment);
        tone->comment = safe_strdup(tone->name);
    }
    free(old_name);

    if (mapid != INST_NO_MAP)
        set_instrument_map(mapid, bankmapfrom, (int)i, bankno, (int)i);
    return 0;
}

// ---- alternate assignments ------------------------------------------------------------

AlternateAssign* add_altassign_string(AlternateAssign* old, char** params, int n)
{
    if (n <= 0 || params == nullptr)
        return old;
    if (strcmp(params[0], "clear") == 0) {
        free_altassign(old);
        old = nullptr;
        params++;
        n--;
        if (n == 0)
            return nullptr;
    }

    AlternateAssign* alt = (AlternateAssign*)safe_malloc(sizeof(AlternateAssign));
    memset(alt, 0, sizeof(AlternateAssign));
    for (int i = 0; i < n && params[i] != nullptr; i++) {
        const char* p = params[i];
        long beg, end;
        if (*p == '-') {
            beg = 0;
            end = leading_long(p + 1);
        } else {
            beg = leading_long(p);
            const char* q = p;
            if (*q == '+')
                q++;
            while (isdigit((unsigned char)*q))
                q++;
            if (*q == '-')
                end = q[1] == '\0' ? 127 : leading_long(q + 1);
            else
                end = beg;
        }
        if (beg > end) {
            long t = beg;
            beg = end;
            end = t;
        }
        beg = beg < 0 ? 0 : beg > 127 ? 127 : beg;
        end = end < 0 ? 0 : end > 127 ? 127 : end;
        for (long k = beg; k <= end; k++)
            alt->bits[k >> 5] |= 1u << (k & 31);
    }
    alt->next = old;
    return alt;
}

AlternateAssign* find_altassign(AlternateAssign* altassign, int note)
{
    if (note < 0 || note > 127)
        return nullptr;
    for (AlternateAssign* p = altassign; p != nullptr; p = p->next)
        if (p->bits[note >> 5] & (1u << (note & 31)))
            return p;
    return nullptr;
}
