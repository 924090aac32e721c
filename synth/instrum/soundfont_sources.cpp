// The SoundFont instrument source. A font's tables are read once, when it is first needed (or
// when playback starts, init_load_soundfont); its sample data stays mapped, so a song brings
// into memory only the parts of the samples its notes play. A converted preset is kept for
// the rest of the process and every request gets its own copy of the sample records, which
// the tone bank then owns and may change (its per-program lists) without touching the kept
// one. Sample files (%sample) are not read by this build.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "config/files.h"
#include "config/soundfont.h"
#include "config/tonebank.h"
#include "frontend/controls.h"
#include "frontend/memory.h"
#include "frontend/options.h"
#include "instrum/instrument_policy.h"
#include "instrum/soundfont_instruments.h"
#include "output/output.h"

namespace {

struct OpenFont {
    std::string name;  // as configured
    SF2File* sf;       // none when the file could not be read (reported once)
    dev_t dev;
    ino_t ino;
    time_t mtime;
    off_t size;
};

struct Converted {
    const SF2File* sf;
    int bank, preset, keynote;
    int32 rate, ratio;
    SF2Settings set;
    Instrument* ip;  // none: the preset does not exist or has nothing to play
};

// Kept for the whole process (never destroyed, not even at exit): instruments handed out
// point into the mappings.
std::vector<OpenFont*>& fonts = *new std::vector<OpenFont*>;
std::vector<Converted>& converted = *new std::vector<Converted>;

// The file a configured name stands for: as written, else in the search path.
std::string locate(const char* name)
{
    struct stat st;
    if (stat(name, &st) == 0 || is_absolute_path(name))
        return name;
    for (PathList* p = pathlist; p != nullptr; p = p->next) {
        std::string full = std::string(p->path) + "/" + name;
        if (stat(full.c_str(), &st) == 0)
            return full;
    }
    return name;
}

const SF2File* font(const char* name)
{
    const std::string path = locate(name);
    struct stat st;
    const bool exists = stat(path.c_str(), &st) == 0;
    for (OpenFont* f : fonts) {
        if (f->name != name)
            continue;
        // The same file as before (a font that failed is not tried again until it changes).
        if (!exists || (f->dev == st.st_dev && f->ino == st.st_ino && f->mtime == st.st_mtime &&
                        f->size == st.st_size))
            return f->sf;
    }
    OpenFont* f = new OpenFont;
    f->name = name;
    f->dev = exists ? st.st_dev : 0;
    f->ino = exists ? st.st_ino : 0;
    f->mtime = exists ? st.st_mtime : 0;
    f->size = exists ? st.st_size : 0;
    std::string why;
    cmsg(CMSG_INFO, VERB_NOISY, "Reading SoundFont %s", name);
    f->sf = sf2_open(path.c_str(), name, &why);
    if (f->sf == nullptr) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: can't use this SoundFont: %s", name, why.c_str());
        instrument_load_failures++;
    }
    fonts.push_back(f);
    return f->sf;
}

// A copy of `ip` whose samples share the kept data.
Instrument* copy_of(const Instrument* ip)
{
    Instrument* c = (Instrument*)safe_malloc(sizeof(Instrument));
    c->type = ip->type;
    c->samples = ip->samples;
    c->sample = (Sample*)safe_malloc(sizeof(Sample) * ip->samples);
    memcpy(c->sample, ip->sample, sizeof(Sample) * ip->samples);
    for (int i = 0; i < c->samples; i++)
        c->sample[i].data_alloced = 0;
    c->instname = safe_strdup(ip->instname);
    return c;
}

Instrument* preset_of(const char* file, const SoundFontRequest* req, int bank, int preset,
                      int keynote)
{
    const SF2File* sf = font(file);
    if (sf == nullptr)
        return nullptr;
    SF2Settings set;
    if (req != nullptr) {
        set.cutoff = req->cutoff;
        set.reso = req->reso;
        set.amp = req->amp;
        if (req->attenuation >= 0)
            set.attenuation = req->attenuation;
        if (req->chorus >= 0)
            set.chorus = req->chorus;
    }
    const int32 rate = play_mode->rate, ratio = control_ratio > 0 ? control_ratio : 1;
    for (const Converted& c : converted)
        if (c.sf == sf && c.bank == bank && c.preset == preset && c.keynote == keynote &&
            c.rate == rate && c.ratio == ratio && c.set == set)
            return c.ip == nullptr ? nullptr : copy_of(c.ip);
    if (sf2_find_preset(sf, bank, preset) != nullptr)
        cmsg(CMSG_INFO, VERB_NOISY, "Loading SoundFont preset %d %d%s from %s", bank, preset,
             keynote >= 0 ? " (one key)" : "", file);
    Instrument* ip = sf2_convert_preset(sf, bank, preset, keynote, set, rate, ratio);
    converted.push_back({sf, bank, preset, keynote, rate, ratio, set, ip});
    return ip == nullptr ? nullptr : copy_of(ip);
}

}  // namespace

// A song that selects a tone bank or drum set the configuration leaves out plays bank 0's
// instruments instead. Where a font has presets in such a bank (a GS variation bank, a drum
// kit other than the standard one), the bank is made, empty: its programs then come from the
// font, and those the font lacks still fall back to bank 0.
void init_load_soundfont(void)
{
    for (const SoundFontRequest* r = soundfont_requests; r != nullptr; r = r->next) {
        const SF2File* sf = font(r->file);
        if (sf == nullptr)
            continue;
        for (const SF2ZoneList& p : sf->presets) {
            const int dr = p.bank == 128, b = dr ? p.preset : p.bank;
            if (b > 0 && b < 128 && soundfont_preset_order(r, p.bank, p.preset, -1) >= 0)
                alloc_instrument_bank(dr, b);
        }
    }
}

Instrument* load_soundfont_inst(int order, int bank, int preset, int keynote)
{
    // The font added last is asked first.
    for (const SoundFontRequest* r = soundfont_requests; r != nullptr; r = r->next) {
        if (soundfont_preset_order(r, bank, preset, keynote) != order)
            continue;
        Instrument* ip = preset_of(r->file, r, bank, preset, keynote);
        if (ip != nullptr)
            return ip;
    }
    return nullptr;
}

Instrument* extract_soundfont(const char* sf_file, int bank, int preset, int keynote)
{
    const SoundFontRequest* req = soundfont_requests;
    while (req != nullptr && strcmp(req->file, sf_file) != 0)
        req = req->next;
    Instrument* ip = preset_of(sf_file, req, bank, preset, keynote);
    if (ip == nullptr && font(sf_file) != nullptr)
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: no playable preset %d in bank %d", sf_file, preset,
             bank);
    return ip;
}

void report_soundfont_warnings(void)
{
    for (OpenFont* f : fonts)
        if (f->sf != nullptr && sf2_report_warnings(f->sf))
            instrument_load_failures++;
}

Instrument* extract_sample_file(const char*)
{
    return nullptr;
}
