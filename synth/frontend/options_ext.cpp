// "-E" settings (switches for controllers and modulation, manufacturer ids, default banks and
// programs, effect settings) and manufacturer ids by name.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "frontend/controls.h"
#include "frontend/options.h"

int str2mID(const char* str)
{
    static const struct {
        const char* name;
        int id;
    } names[] = {
        {"gs", 0x41}, {"roland", 0x41}, {"xg", 0x43}, {"yamaha", 0x43},
        {"gm", 0x7e}, {"gm2", 0x7e},    {"gm1", 0x7e},
    };
    for (const auto& n : names)
        if (strcasecmp(str, n.name) == 0)
            return n.id;
    int val = 0, digits = 0;
    for (const char* p = str; *p != '\0' && digits < 2; p++, digits++) {
        int c = tolower((unsigned char)*p);
        if (c >= '0' && c <= '9')
            val = val * 16 + (c - '0');
        else if (c >= 'a' && c <= 'f')
            val = val * 16 + (c - 'a' + 10);
        else
            return 0;
    }
    return digits == 0 ? 0 : val;
}

// A switch letter: lower case turns it on, upper case off.
static int* switch_for(int c)
{
    switch (tolower(c)) {
    case 'w': return &opt_modulation_wheel;
    case 'p': return &opt_portamento;
    case 'v': return &opt_nrpn_vibrato;
    case 's': return &opt_channel_pressure;
    case 'e': return &opt_modulation_envelope;
    case 't': return &opt_trace_text_meta_event;
    case 'o': return &opt_overlap_voice_allow;
    case 'z': return &opt_temper_control;
    default: return nullptr;
    }
}

// "F" settings: name=value for the effect long options.
static int parse_opt_E_effect(const char* text)
{
    static const struct {
        const char* name;
        int code;
    } effects[] = {
        {"chorus", ENGINE_OPT_CHORUS}, {"reverb", ENGINE_OPT_REVERB}, {"delay", ENGINE_OPT_DELAY},
        {"vlpf", ENGINE_OPT_VOICE_LPF}, {"ns", ENGINE_OPT_NS},       {"resamp", ENGINE_OPT_RESAMPLE},
    };
    const char* eq = strchr(text, '=');
    if (eq != nullptr) {
        size_t len = (size_t)(eq - text);
        for (const auto& e : effects)
            if (strlen(e.name) == len && strncmp(text, e.name, len) == 0)
                return set_engine_opt_long(e.code, eq + 1);
    }
    cmsg(CMSG_ERROR, VERB_NORMAL, "-EF: unknown effect setting %s", text);
    return 1;
}

int parse_opt_E(const char* arg)
{
    int err = 0;
    const char* p = arg;
    while (*p != '\0') {
        int c = (unsigned char)*p++;
        int* sw = switch_for(c);
        if (sw != nullptr) {
            *sw = islower(c) ? 1 : 0;
            continue;
        }
        // The rest of the setting runs to the end of the text for these.
        switch (c) {
        case 'm':
        case 'M': {
            char id[3] = {0, 0, 0};
            for (int k = 0; k < 2 && isxdigit((unsigned char)*p); k++)
                id[k] = *p++;
            int mid = str2mID(id);
            if (mid == 0) {
                cmsg(CMSG_ERROR, VERB_NORMAL, "Manufacture ID: Illegal value");
                return err + 1;
            }
            if (c == 'm')
                opt_default_mid = mid;
            else
                opt_system_mid = mid;
            continue;
        }
        case 'b':
        case 'B':
        case 'i':
        case 'I': {
            const char* start = p;
            while (isdigit((unsigned char)*p) || *p == '/')
                p++;
            char num[32];
            size_t len = (size_t)(p - start);
            if (len >= sizeof(num))
                len = sizeof(num) - 1;
            memcpy(num, start, len);
            num[len] = '\0';
            int code = c == 'b' ? ENGINE_OPT_DEFAULT_BANK
                       : c == 'B' ? ENGINE_OPT_FORCE_BANK
                       : c == 'i' ? ENGINE_OPT_DEFAULT_PGM
                                  : ENGINE_OPT_FORCE_PGM;
            err += set_engine_opt_long(code, num);
            continue;
        }
        case 'F':
            return err + parse_opt_E_effect(p);
        default:
            cmsg(CMSG_ERROR, VERB_NORMAL, "-E: unknown setting `%c'", c);
            return err + 1;
        }
    }
    return err;
}
