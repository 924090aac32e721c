// The configuration reader. Every line is split into words and applied at once: search path,
// banks and patches, maps, the default instrument, SoundFont requests and options.
#include "config/readconfig.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "config/files.h"
#include "config/soundfont.h"
#include "config/tonebank.h"
#include "frontend/controls.h"
#include "frontend/memory.h"
#include "frontend/options.h"

int rcf_count = 0;

enum { MAXWORDS = 130, LINE_BUFFER = 1024 };

static const char word_delimiters[] = " \t\r\n\xa0";

// State of one read (one file); a nested file starts afresh.
struct ConfigReader {
    const char* name;  // the file as written, or "(configuration)"
    int line;
    int errors;
    ToneBank* bank;    // current bank or drum set
    int dr;            // the current bank is a drum set
    int bankno;        // slot of the current bank
    int mapid;
    int origbankno;    // the bank number as written on the bank line
};

static int is_space(char c)
{
    return isspace((unsigned char)c) != 0;
}

// A word of length n that ends in "#" followed by a space or a tab ends the line there: the
// "#" characters at its end are removed. Returns 1 when that happened.
static int strip_trailing_comment(char* word, size_t n)
{
    if (n == 0 || word[n - 1] != '#' || (word[n] != ' ' && word[n] != '\t'))
        return 0;
    word[n] = '\0';
    while (n > 0 && word[n - 1] == '#')
        word[--n] = '\0';
    return 1;
}

// Splits the line into words. Returns the word count (0 for a comment or blank line), or -1
// after reporting a quote error. *extension tells whether the line began with "#extension".
static int tokenise(ConfigReader* r, char* buf, char* w[], int* extension)
{
    char* tmp = buf;
    *extension = strncmp(buf, "#extension", 10) == 0;
    if (*extension)
        tmp += 10;

    while (is_space(*tmp))
        tmp++;
    if (*tmp == '#' || *tmp == '\0')
        return 0;

    int words = 0;
    size_t len = strcspn(tmp, word_delimiters);
    if (len == 0)
        len = strlen(tmp);
    int line_ends = strip_trailing_comment(tmp, len);
    w[words++] = tmp;
    if (line_ends || tmp[len] == '\0') {
        tmp[len] = '\0';
        w[words] = nullptr;
        return words;
    }
    tmp[len] = '\0';
    tmp += len + 1;

    while (words < MAXWORDS) {
        while (is_space(*tmp))
            tmp++;
        if (*tmp == '#' || *tmp == '\0')
            break;
        if (*tmp == '"' || *tmp == '\'') {
            char quote = *tmp;
            char* close = strchr(tmp + 1, quote);
            if (close != nullptr) {
                if (close[1] != '\0' && !is_space(close[1])) {
                    cmsg(CMSG_ERROR, VERB_NORMAL,
                         "%s: line %d: there must be at least one whitespace between string "
                         "terminator (%c) and the next parameter",
                         r->name, r->line, quote);
                    return -1;
                }
                w[words++] = tmp + 1;
                *close = '\0';
                tmp = close + 1;
                if (*tmp != '\0')
                    tmp++;
                continue;
            }
            // A quote with no partner is an ordinary character.
        }
        len = strcspn(tmp, word_delimiters);
        w[words++] = tmp;
        if (len > 0 && strip_trailing_comment(tmp, len))
            break;
        if (tmp[len] == '\0')
            break;
        tmp[len] = '\0';
        tmp += len + 1;
    }
    w[words] = nullptr;
    return words;
}

// The leading integer of s (0 when none), held within the int range.
static int word_int(const char* s)
{
    return atoi_limited(s, INT_MIN, INT_MAX);
}

// What applying one line came to.
// A positive result is the number of errors to count.
enum { LINE_NESTING = -1, LINE_OK = 0, LINE_ERROR = 1 };

// Program ranges ("0-10,20,30-") for level, reverbsend and the like.
static void set_by_ranges(ToneBank* bank, char* ranges, int value, int8 ToneBankElement::*field)
{
    char* item = ranges;
    while (item != nullptr) {
        char* comma = strchr(item, ',');
        if (comma != nullptr)
            *comma = '\0';
        int start, end;
        if (string_to_7bit_range(item, &start, &end))
            for (int i = start; i <= end; i++)
                bank->tone[i].*field = (int8)value;
        item = comma != nullptr ? comma + 1 : nullptr;
    }
}

static int need_bank(ConfigReader* r)
{
    if (r->bank != nullptr)
        return 1;
    cmsg(CMSG_ERROR, VERB_NORMAL,
         "%s: line %d: Must specify tone bank or drum set before assignment", r->name, r->line);
    return 0;
}

static int syntax_error(ConfigReader* r)
{
    cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: syntax error", r->name, r->line);
    return LINE_ERROR;
}

// "extension KEY must be between 0 and 127" when v is outside 0..127.
static int in_7bit_range(ConfigReader* r, int v, const char* key)
{
    if (v >= 0 && v <= 127)
        return 1;
    cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: extension %s must be between 0 and 127", r->name,
         r->line, key);
    return 0;
}

static int apply_opt_line(ConfigReader* r, char* w[], int words)
{
    if (words != 2 && words != 3) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: Syntax error", r->name, r->line);
        return LINE_ERROR;
    }
    int err;
    if (w[1][0] == '-') {
        char* argv[4] = {(char*)"opt", w[1], words == 3 ? w[2] : nullptr, nullptr};
        int next;
        err = parse_options(words, argv, 1, &next);
    } else {
        int c = (unsigned char)w[1][0];
        const char* p = c != ':' && c != 0 ? strchr(optcommands, c) : nullptr;
        if (p == nullptr) {
            err = 1;
        } else {
            const char* arg = "";
            if (p[1] == ':')
                arg = words == 2 ? w[1] + 1 : w[2];
            err = set_engine_opt_short(c, arg);
        }
    }
    if (err != 0) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: Invalid command line option", r->name,
             r->line);
        return err;
    }
    return LINE_OK;
}

static int apply_bank_line(ConfigReader* r, char* w[], int words, int dr)
{
    if (words < 2) {
        cmsg(CMSG_ERROR, VERB_NORMAL, dr ? "%s: line %d: No drum set number given"
                                         : "%s: line %d: No bank number given",
             r->name, r->line);
        return LINE_ERROR;
    }
    int mapid = INST_NO_MAP;
    if (words != 2 && !isdigit((unsigned char)w[1][0])) {
        int isdrum = 0;
        mapid = mapname2id(w[1], &isdrum);
        if (mapid == -1 || isdrum != dr) {
            cmsg(CMSG_ERROR, VERB_NORMAL, dr ? "%s: line %d: Invalid drum set map name: %s"
                                             : "%s: line %d: Invalid bank map name: %s",
                 r->name, r->line, w[1]);
            return LINE_ERROR;
        }
        for (int j = 2; j <= words; j++)
            w[j - 1] = w[j];
        words--;
    }
    int n = word_int(w[1]);
    if (dr) {
        n = n == INT_MIN ? INT_MIN : n - progbase;
        if (n < 0 || n > 127) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: Drum set must be between %d and %d",
                 r->name, r->line, progbase, progbase + 127);
            return LINE_ERROR;
        }
    } else if (n < 0 || n > 127) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: Tone bank must be between 0 and 127",
             r->name, r->line);
        return LINE_ERROR;
    }
    int slot = alloc_instrument_map_bank(dr, mapid, n);
    if (slot == -1) {
        cmsg(CMSG_ERROR, VERB_NORMAL, dr ? "%s: line %d: No free drum set available to map"
                                         : "%s: line %d: No free tone bank available to map",
             r->name, r->line);
        return LINE_ERROR;
    }
    ToneBank* bank = dr ? drumset[slot] : tonebank[slot];
    if (words == 2) {
        r->bank = bank;
        r->dr = dr;
        r->bankno = slot;
        r->mapid = mapid;
        r->origbankno = n;
        return LINE_OK;
    }
    if (words >= 4 && isdigit((unsigned char)w[2][0])) {
        if (set_patchconf(r->name, r->line, bank, &w[2], dr, mapid, n, slot) != 0)
            return LINE_ERROR;
        return LINE_OK;
    }
    return syntax_error(r);
}

static int apply_copymap(ConfigReader* r, char* w[], int words)
{
    if (words != 3)
        return syntax_error(r);
    int to_drum = 0, from_drum = 0;
    int to = mapname2id(w[1], &to_drum);
    if (to == -1) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: Invalid map name: %s", r->name, r->line, w[1]);
        return LINE_ERROR;
    }
    int from = mapname2id(w[2], &from_drum);
    if (from == -1) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: Invalid map name: %s", r->name, r->line, w[2]);
        return LINE_ERROR;
    }
    if (to_drum != from_drum) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: Map type should be matched", r->name, r->line);
        return LINE_ERROR;
    }
    ToneBank** table = from_drum ? drumset : tonebank;
    for (int b = 0; b < 128; b++) {
        int from_slot = find_instrument_map_bank(from_drum, from, b);
        if (from_slot <= 0)
            continue;
        int to_slot = alloc_instrument_map_bank(to_drum, to, b);
        if (to_slot == -1) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: No free %s available to map", r->name,
                 r->line, from_drum ? "drum set" : "tone bank");
            return LINE_ERROR;
        }
        copybank(table[to_slot], table[from_slot], to, b, to_slot);
    }
    return LINE_OK;
}

static int apply_soundfont(ConfigReader* r, char* w[], int words)
{
    if (words < 2) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: No soundfont file given", r->name, r->line);
        return LINE_ERROR;
    }
    int order = -1, cutoff = -1, reso = -1, amp = -1;
    double attenuation = -1, chorus = -1;
    int result = LINE_OK;
    for (int j = 2; j < words; j++) {
        if (strcmp(w[j], "remove") == 0) {
            remove_soundfont(w[1]);
            return LINE_OK;
        }
        char* eq = strchr(w[j], '=');
        if (eq == nullptr) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: bad patch option %s", r->name, r->line,
                 w[j]);
            result = LINE_ERROR;
            break;
        }
        const char* value = eq + 1;
        size_t nl = (size_t)(eq - w[j]);
        int* target = nullptr;
        const char* what = nullptr;
        if (nl == 5 && strncmp(w[j], "order", 5) == 0) {
            target = &order;
            what = "order";
        } else if (nl == 6 && strncmp(w[j], "cutoff", 6) == 0) {
            target = &cutoff;
            what = "cutoff";
        } else if (nl == 4 && strncmp(w[j], "reso", 4) == 0) {
            target = &reso;
            what = "reso";
        } else if (nl == 3 && strncmp(w[j], "amp", 3) == 0) {
            amp = word_int(value);
            continue;
        } else if ((nl == 11 && strncmp(w[j], "attenuation", 11) == 0) ||
                   (nl == 6 && strncmp(w[j], "chorus", 6) == 0)) {
            const bool att = nl == 11;
            double& x = att ? attenuation : chorus;
            const double most = att ? 1 : 16;
            char* end = nullptr;
            x = strtod(value, &end);
            if (end == value || *end != '\0' || !(x >= 0 && x <= most)) {
                cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: %s must be a number from 0 to %g",
                     r->name, r->line, att ? "attenuation" : "chorus", most);
                result = LINE_ERROR;
                break;
            }
            continue;
        } else {
            continue;
        }
        if (!isdigit((unsigned char)*value)) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: %s must be a digit", r->name, r->line,
                 what);
            result = LINE_ERROR;
            break;
        }
        *target = word_int(value);
    }
    add_soundfont(w[1], order, cutoff, reso, amp, attenuation, chorus);
    return result;
}

static int apply_font(ConfigReader* r, char* w[], int words)
{
    if (words < 2) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: no font command", r->name, r->line);
        return LINE_ERROR;
    }
    if (strcmp(w[1], "exclude") == 0) {
        if (words < 3) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: No bank/preset/key is given", r->name,
                 r->line);
            return LINE_ERROR;
        }
        int bank = word_int(w[2]);
        int preset = words > 3 ? word_int(w[3]) - progbase : -1;
        int key = words > 4 ? word_int(w[4]) : -1;
        if (exclude_soundfont(bank, preset, key) != 0) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: No soundfont is given", r->name, r->line);
            return LINE_ERROR;
        }
    } else if (strcmp(w[1], "order") == 0) {
        if (words < 4) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: No order/bank is given", r->name, r->line);
            return LINE_ERROR;
        }
        int order = word_int(w[2]);
        int bank = word_int(w[3]);
        int preset = words > 4 ? word_int(w[4]) - progbase : -1;
        int key = words > 5 ? word_int(w[5]) : -1;
        if (order_soundfont(bank, preset, key, order) != 0) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: No soundfont is given", r->name, r->line);
            return LINE_ERROR;
        }
    }
    return LINE_OK;
}

static int apply_map(ConfigReader* r, char* w[], int words)
{
    if (words != 6)
        return syntax_error(r);
    int isdrum = 0;
    int mapid = mapname2id(w[1], &isdrum);
    if (mapid == -1) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: Invalid map name: %s", r->name, r->line, w[1]);
        return LINE_ERROR;
    }
    long v[4];
    for (int j = 0; j < 4; j++)
        v[j] = word_int(w[2 + j]);
    if (isdrum) {
        v[0] -= progbase;
        v[2] -= progbase;
    } else {
        v[1] -= progbase;
        v[3] -= progbase;
    }
    for (int j = 0; j < 4; j++) {
        if (v[j] < 0 || v[j] > 127) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: Invalid parameter", r->name, r->line);
            return LINE_ERROR;
        }
    }
    set_instrument_map(mapid, (int)v[0], (int)v[1], (int)v[2], (int)v[3]);
    return LINE_OK;
}

// Applies one tokenised line. Returns LINE_OK, LINE_NESTING, or the number of errors to count.
static int apply_line(ConfigReader* r, char* w[], int words, int extension)
{
    const char* key = w[0];

    if (strcmp(key, "comm") == 0) {
        if (words != 3)
            return syntax_error(r);
        if (!need_bank(r))
            return LINE_ERROR;
        int i = word_int(w[1]);
        if (!in_7bit_range(r, i, "comm"))
            return LINE_ERROR;
        ToneBankElement* e = &r->bank->tone[i];
        free(e->comment);
        e->comment = safe_strdup(w[2]);
        for (char* p = e->comment; *p != '\0'; p++)
            if (*p == ',')
                *p = ' ';
        return LINE_OK;
    }

    // Per-program byte settings: "timeout", "legato", "damper", "rnddelay".
    struct ProgramSetting {
        const char* key;
        int8 ToneBankElement::*field8;
        int16 ToneBankElement::*field16;
    };
    static const ProgramSetting program_settings[] = {
        {"timeout", &ToneBankElement::loop_timeout, nullptr},
        {"legato", &ToneBankElement::legato, nullptr},
        {"damper", &ToneBankElement::damper_mode, nullptr},
        {"rnddelay", nullptr, &ToneBankElement::rnddelay},
    };
    for (const ProgramSetting& s : program_settings) {
        if (strcmp(key, s.key) != 0)
            continue;
        if (words != 3)
            return syntax_error(r);
        if (!need_bank(r))
            return LINE_ERROR;
        int i = word_int(w[1]);
        if (!in_7bit_range(r, i, s.key))
            return LINE_ERROR;
        if (s.field8 != nullptr)
            r->bank->tone[i].*s.field8 = (int8)word_int(w[2]);
        else
            r->bank->tone[i].*s.field16 = (int16)word_int(w[2]);
        return LINE_OK;
    }

    if (strcmp(key, "copydrumset") == 0 || strcmp(key, "copybank") == 0) {
        int drums = key[4] == 'd';
        if (words < 2) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: No %s number given", r->name, r->line, key);
            return LINE_ERROR;
        }
        int i = word_int(w[1]);
        if (!in_7bit_range(r, i, key))
            return LINE_ERROR;
        if (!need_bank(r))
            return LINE_ERROR;
        copybank(r->bank, drums ? drumset[i] : tonebank[i], r->mapid, r->origbankno, r->bankno);
        return LINE_OK;
    }
    if (strcmp(key, "copymap") == 0)
        return apply_copymap(r, w, words);
    if (strcmp(key, "HTTPproxy") == 0 || strcmp(key, "FTPproxy") == 0) {
        if (words < 2) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: No proxy name given", r->name, r->line);
            return LINE_ERROR;
        }
        return LINE_OK;
    }
    if (strcmp(key, "mailaddr") == 0) {
        if (words < 2) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: No mail address given", r->name, r->line);
            return LINE_ERROR;
        }
        if (strchr(w[1], '@') == nullptr)
            cmsg(CMSG_WARNING, VERB_NOISY, "%s: line %d: Warning: Mail address %s is not valid",
                 r->name, r->line, w[1]);
        return LINE_OK;
    }
    if (strcmp(key, "opt") == 0)
        return apply_opt_line(r, w, words);
    if (strcmp(key, "undef") == 0) {
        if (words < 2) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: No undef number given", r->name, r->line);
            return LINE_ERROR;
        }
        int i = word_int(w[1]);
        if (!in_7bit_range(r, i, "undef"))
            return LINE_ERROR;
        if (!need_bank(r))
            return LINE_ERROR;
        free_tone_bank_element(&r->bank->tone[i]);
        return LINE_OK;
    }
    if (strcmp(key, "altassign") == 0) {
        if (r->bank == nullptr) {
            cmsg(CMSG_ERROR, VERB_NORMAL,
                 "%s: line %d: Must specify tone bank or drum set before altassign", r->name,
                 r->line);
            return LINE_ERROR;
        }
        if (words < 2) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: No alternate assignment", r->name, r->line);
            return LINE_ERROR;
        }
        if (!r->dr) {
            cmsg(CMSG_WARNING, VERB_NORMAL, "%s: line %d: Warning: Not a drumset altassign (ignored)",
                 r->name, r->line);
            return LINE_OK;
        }
        ToneBank* bank = drumset[r->bankno];
        bank->alt = add_altassign_string(bank->alt, &w[1], words - 1);
        return LINE_OK;
    }

    // Settings given for ranges of programs.
    struct RangeSetting {
        const char* key;
        int8 ToneBankElement::*field;
        const char* message;
    };
    static const RangeSetting range_settings[] = {
        {"level", &ToneBankElement::tva_level, "%s: line %d: extension level must be between 0 and 127"},
        {"reverbsend", &ToneBankElement::reverb_send,
         "%s: line %d: extension reverbsend must be between 0 and 127"},
        {"chorussend", &ToneBankElement::chorus_send,
         "%s: line %d: extension chorussend must be between 0 and 127"},
        {"delaysend", &ToneBankElement::delay_send,
         "%s: line %d: extension delaysend must be between 0 and 127"},
        {"playnote", &ToneBankElement::play_note,
         "%s: line %d: extension playnotemust be between 0 and 127"},
    };
    for (const RangeSetting& s : range_settings) {
        if (strcmp(key, s.key) != 0)
            continue;
        if (words != 3)
            return syntax_error(r);
        if (!need_bank(r))
            return LINE_ERROR;
        int v = word_int(w[2]);
        if (v < 0 || v > 127) {
            cmsg(CMSG_ERROR, VERB_NORMAL, s.message, r->name, r->line);
            return LINE_ERROR;
        }
        set_by_ranges(r->bank, w[1], v, s.field);
        return LINE_OK;
    }

    if (strcmp(key, "soundfont") == 0)
        return apply_soundfont(r, w, words);
    if (strcmp(key, "font") == 0)
        return apply_font(r, w, words);
    if (strcmp(key, "progbase") == 0) {
        if (words < 2 || !isdigit((unsigned char)w[1][0]))
            return syntax_error(r);
        progbase = word_int(w[1]);
        return LINE_OK;
    }
    if (strcmp(key, "map") == 0)
        return apply_map(r, w, words);
    if (strcmp(key, "dir") == 0) {
        if (words < 2) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: No directory given", r->name, r->line);
            return LINE_ERROR;
        }
        for (int i = 1; i < words; i++)
            add_to_pathlist(w[i]);
        return LINE_OK;
    }
    if (strcmp(key, "source") == 0) {
        if (words < 2) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: No file name given", r->name, r->line);
            return LINE_ERROR;
        }
        // Each file that fails counts one error here.
        int failed = 0;
        for (int i = 1; i < words; i++) {
            rcf_count++;
            int status = read_config_file(w[i], 0);
            rcf_count--;
            if (status == 2)
                return LINE_NESTING;
            if (status != 0)
                failed++;
        }
        return failed;
    }
    if (strcmp(key, "default") == 0) {
        if (words != 2) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: line %d: Must specify exactly one patch name",
                 r->name, r->line);
            return LINE_ERROR;
        }
        strncpy(def_instr_name, w[1], sizeof(def_instr_name) - 1);
        def_instr_name[sizeof(def_instr_name) - 1] = '\0';
        default_instrument_name = def_instr_name;
        return LINE_OK;
    }
    if (strcmp(key, "drumset") == 0)
        return apply_bank_line(r, w, words, 1);
    if (strcmp(key, "bank") == 0)
        return apply_bank_line(r, w, words, 0);
    if (words >= 2 && isdigit((unsigned char)key[0])) {
        if (set_patchconf(r->name, r->line, r->bank, w, r->dr, r->mapid, r->origbankno,
                          r->bankno) != 0)
            return LINE_ERROR;
        return LINE_OK;
    }
    if (extension)
        return LINE_OK;
    return syntax_error(r);
}

int read_config_file(const char* name, int self)
{
    if (rcf_count > MAX_RCF_NESTING) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "Probable source loop in configuration files");
        return 2;
    }
    if (name == nullptr)
        return 1;

    InputFile* tf;
    if (self)
        tf = open_with_mem((char*)name, (int32)strlen(name), OF_VERBOSE);
    else
        tf = open_file(name, 1, OF_VERBOSE);
    if (tf == nullptr)
        return 1;

    ConfigReader r = {};
    r.name = self ? "(configuration)" : name;
    r.origbankno = 2147483647;

    char buf[LINE_BUFFER];
    char* w[MAXWORDS + 1];
    url_errno = URLERR_NONE;
    for (;;) {
        if (tf_gets(buf, sizeof(buf), tf) == nullptr)
            break;
        r.line++;
        int extension;
        int words = tokenise(&r, buf, w, &extension);
        int result;
        if (words == 0)
            continue;
        if (words < 0)
            result = LINE_ERROR;
        else
            result = apply_line(&r, w, words, extension);
        if (result == LINE_NESTING) {
            close_file(tf);
            return 2;
        }
        if (result > 0) {
            r.errors += result;
            if (r.errors > 9) {
                cmsg(CMSG_ERROR, VERB_NORMAL, "Too many errors... Give up read %s", r.name);
                close_file(tf);
                return 1;
            }
        }
    }
    // The stream keeps the error of its last read: a read that failed (rather than ended).
    if (url_errno != URLERR_NONE) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "Can't read %s: %s", r.name, url_strerror(url_errno));
        r.errors++;
    }
    close_file(tf);
    return r.errors != 0 ? 1 : 0;
}
