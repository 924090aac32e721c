// What the player calls in parts of the engine that are not built yet: the instrument loading
// policy, choosing samples and starting voices, the per-voice pitch, amplitude, filter and
// envelope computations, tunings, the resample cache and system-exclusive parameters. Until
// those parts exist no instrument is loaded, so no note finds a sample and no voice sounds;
// each definition here goes when its own part defines the function (the linker then reports
// the duplicate).
#include "config/tonebank.h"
#include "play/playmidi.h"
#include "play/voice.h"
#include "render/voice_params.h"

Instrument* default_instrument = nullptr;

int load_missing_instruments(int* rc)
{
    if (rc != nullptr)
        *rc = RC_NONE;
    return 0;
}

// Marks left by the song reader (to be loaded) and by failed loads go back to "not loaded".
void clear_magic_instruments(void)
{
    Instrument* const to_load = (Instrument*)-1;
    Instrument* const failed = (Instrument*)-2;
    for (int i = 0; i < TONEBANK_SLOTS; i++) {
        ToneBank* banks[2] = {tonebank[i], drumset[i]};
        for (ToneBank* b : banks) {
            if (b == nullptr)
                continue;
            for (ToneBankElement& e : b->tone)
                if (e.instrument == to_load || e.instrument == failed)
                    e.instrument = nullptr;
        }
    }
}

void free_instruments(int)
{
}

void free_special_patch(int)
{
}

Instrument* play_midi_load_instrument(int, int, int)
{
    return nullptr;
}

void set_default_instrument(const char*)
{
}

void process_sysex_event(int, int, int, int)
{
}

int find_samples(MidiEvent*, int*)
{
    return 0;
}

void start_note(MidiEvent*, int, int, int)
{
}

void recompute_freq(int)
{
}

void recompute_amp(int)
{
}

void recompute_voice_filter(int)
{
}

void recompute_channel_filter(int, int)
{
}

double calc_drum_tva_level(int, int, int)
{
    return 1.0;
}

int recompute_envelope(int)
{
    return 0;
}

int apply_envelope_to_amp(int)
{
    return 0;
}

int recompute_modulation_envelope(int)
{
    return 0;
}

void apply_modulation_envelope(int)
{
}

void set_single_note_tuning(int, int, int, int)
{
}

void set_user_temper_entry(int, int, int)
{
}

void resamp_cache_reset(void)
{
}

void resamp_cache_refer_on(int, int32)
{
}

void resamp_cache_refer_off(int, int, int32)
{
}

void resamp_cache_refer_alloff(int, int32)
{
}

void resamp_cache_create(void)
{
}
