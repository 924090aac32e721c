#include "config/soundfont.h"

#include <cstdlib>
#include <cstring>

#include "frontend/memory.h"

SoundFontRequest* soundfont_requests = nullptr;

// Preset exclusions and orderings, kept with the file they apply to.
struct SoundFontPresetRule {
    const SoundFontRequest* font;
    int bank, preset, keynote, order;  // order -1: excluded
    SoundFontPresetRule* next;
};
static SoundFontPresetRule* preset_rules = nullptr;

static void remove_rules_of(const SoundFontRequest* font)
{
    SoundFontPresetRule** p = &preset_rules;
    while (*p != nullptr) {
        if ((*p)->font == font) {
            SoundFontPresetRule* dead = *p;
            *p = dead->next;
            free(dead);
        } else {
            p = &(*p)->next;
        }
    }
}

void add_soundfont(const char* file, int order, int cutoff, int reso, int amp, double attenuation,
                   double chorus)
{
    SoundFontRequest* sf = soundfont_requests;
    for (; sf != nullptr; sf = sf->next)
        if (strcmp(sf->file, file) == 0)
            break;
    if (sf == nullptr) {
        sf = (SoundFontRequest*)safe_malloc(sizeof(SoundFontRequest));
        sf->file = safe_strdup(file);
        sf->order = sf->cutoff = sf->reso = sf->amp = -1;
        sf->attenuation = sf->chorus = -1;
        sf->next = soundfont_requests;
        soundfont_requests = sf;
    }
    if (order >= 0)
        sf->order = order;
    if (cutoff >= 0)
        sf->cutoff = cutoff;
    if (reso >= 0)
        sf->reso = reso;
    if (amp != -1)
        sf->amp = amp;
    if (attenuation >= 0)
        sf->attenuation = attenuation;
    if (chorus >= 0)
        sf->chorus = chorus;
}

void remove_soundfont(const char* file)
{
    for (SoundFontRequest** p = &soundfont_requests; *p != nullptr; p = &(*p)->next) {
        if (strcmp((*p)->file, file) == 0) {
            SoundFontRequest* dead = *p;
            *p = dead->next;
            remove_rules_of(dead);
            free(dead->file);
            free(dead);
            return;
        }
    }
}

static int add_rule(int bank, int preset, int keynote, int order)
{
    if (soundfont_requests == nullptr)
        return -1;
    SoundFontPresetRule* r = (SoundFontPresetRule*)safe_malloc(sizeof(SoundFontPresetRule));
    r->font = soundfont_requests;
    r->bank = bank;
    r->preset = preset;
    r->keynote = keynote;
    r->order = order;
    r->next = preset_rules;
    preset_rules = r;
    return 0;
}

int exclude_soundfont(int bank, int preset, int keynote)
{
    return add_rule(bank, preset, keynote, -1);
}

int order_soundfont(int bank, int preset, int keynote, int order)
{
    return add_rule(bank, preset, keynote, order);
}

int soundfont_preset_order(const SoundFontRequest* font, int bank, int preset, int keynote)
{
    // Rules are kept newest first; a rule without a preset or key covers all of them.
    for (const SoundFontPresetRule* r = preset_rules; r != nullptr; r = r->next)
        if (r->font == font && r->bank == bank && (r->preset == -1 || r->preset == preset) &&
            (r->keynote == -1 || r->keynote == keynote))
            return r->order;
    return font->order < 0 ? 0 : font->order;
}

void free_soundfont_requests(void)
{
    while (preset_rules != nullptr) {
        SoundFontPresetRule* next = preset_rules->next;
        free(preset_rules);
        preset_rules = next;
    }
    while (soundfont_requests != nullptr) {
        SoundFontRequest* next = soundfont_requests->next;
        free(soundfont_requests->file);
        free(soundfont_requests);
        soundfont_requests = next;
    }
}
