// Where a voice sounds: its start pan, the pan delay that lets the far side lag a little, and
// the surround chorus that doubles a voice into a spread pair.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "frontend/controls.h"
#include "frontend/options.h"
#include "frontend/tables.h"
#include "instrum/instrum.h"
#include "output/output.h"
#include "play/channels.h"
#include "play/playmidi.h"
#include "play/voice.h"
#include "readmidi/readmidi.h"
#include "render/voice_params.h"

int opt_pan_delay = 0;

// Milliseconds of delay for each pan: 0.5 * sin(i * pi / 256), to six decimals.
float pan_delay_table[128] = {
    0.000000f, 0.006136f, 0.012271f, 0.018404f, 0.024534f, 0.030660f, 0.036782f, 0.042899f,
    0.049009f, 0.055111f, 0.061205f, 0.067290f, 0.073365f, 0.079429f, 0.085481f, 0.091520f,
    0.097545f, 0.103556f, 0.109551f, 0.115529f, 0.121490f, 0.127433f, 0.133356f, 0.139260f,
    0.145142f, 0.151003f, 0.156841f, 0.162655f, 0.168445f, 0.174209f, 0.179948f, 0.185659f,
    0.191342f, 0.196996f, 0.202621f, 0.208215f, 0.213778f, 0.219308f, 0.224806f, 0.230269f,
    0.235698f, 0.241092f, 0.246449f, 0.251769f, 0.257051f, 0.262295f, 0.267499f, 0.272662f,
    0.277785f, 0.282866f, 0.287904f, 0.292899f, 0.297850f, 0.302756f, 0.307616f, 0.312430f,
    0.317197f, 0.321916f, 0.326586f, 0.331208f, 0.335779f, 0.340300f, 0.344770f, 0.349188f,
    0.353553f, 0.357865f, 0.362124f, 0.366327f, 0.370476f, 0.374568f, 0.378604f, 0.382584f,
    0.386505f, 0.390369f, 0.394173f, 0.397918f, 0.401604f, 0.405229f, 0.408792f, 0.412295f,
    0.415735f, 0.419112f, 0.422427f, 0.425678f, 0.428864f, 0.431986f, 0.435043f, 0.438035f,
    0.440961f, 0.443820f, 0.446612f, 0.449337f, 0.451995f, 0.454584f, 0.457105f, 0.459557f,
    0.461940f, 0.464253f, 0.466496f, 0.468670f, 0.470772f, 0.472804f, 0.474764f, 0.476653f,
    0.478470f, 0.480215f, 0.481888f, 0.483488f, 0.485016f, 0.486470f, 0.487851f, 0.489159f,
    0.490393f, 0.491553f, 0.492639f, 0.493651f, 0.494588f, 0.495451f, 0.496240f, 0.496953f,
    0.497592f, 0.498156f, 0.498645f, 0.499059f, 0.499398f, 0.499661f, 0.499849f, 0.500000f};

static double output_rate(void)
{
    return play_mode != nullptr && play_mode->rate > 0 ? play_mode->rate : 44100;
}

int get_panning(int ch, int note, int v)
{
    const Channel& c = channel[ch];
    int offset = c.panning == -1 ? 0 : c.panning - 64;
    int base;
    if (ISDRUMCHANNEL(ch) && c.drums[note] != nullptr && c.drums[note]->drum_panning != -1)
        base = c.drums[note]->drum_panning;
    else
        base = voice[v].sample != nullptr ? voice[v].sample->panning : 64;
    int pan = offset + base;
    return pan < 0 ? 0 : pan > 127 ? 127 : pan;
}

void init_voice_pan_delay(int v)
{
    Voice& vp = voice[v];
    free(vp.pan_delay_buf);
    vp.pan_delay_buf = nullptr;
    vp.pan_delay_length = 0;
    if (!opt_pan_delay || channel[vp.channel].insertion_effect || opt_surround_chorus)
        return;
    const double rate = output_rate();
    const int p = vp.panning < 0 ? 0 : vp.panning > 127 ? 127 : vp.panning;
    if (p == 64) {
        vp.delay += (int32)(rate * pan_delay_table[64] / 1000.0);
    } else {
        double a = pan_delay_table[p], b = pan_delay_table[127 - p];
        vp.delay += (int32)(rate * (a < b ? a : b) / 1000.0);
        vp.pan_delay_length = (int32)(rate * std::fabs(a - b) / 1000.0);
    }
    if (vp.pan_delay_length < 1)
        vp.pan_delay_length = 0;
    // Output rates stop at 65000, where half a millisecond is 32 values; the limit keeps an
    // output mode with a faster rate inside the 48-value ring.
    if (vp.pan_delay_length > 47)
        vp.pan_delay_length = 47;
    vp.pan_delay_write = 0;
    vp.pan_delay_read = -vp.pan_delay_length;
    if (vp.pan_delay_read < 0)
        vp.pan_delay_read += 48;
    vp.pan_delay_buf = (int32*)calloc(48, sizeof(int32));
}

// ---- surround chorus ----------------------------------------------------------------------

// Sustained or released, and not a drum note that keeps its sample's fixed note.
static int stealable_for_chorus(int i)
{
    const Voice& v = voice[i];
    return (v.status & ~(VOICE_ON | VOICE_DIE)) != 0 && !is_protected_drum(v);
}

// A record for the partner voice: a free one, or the quietest releasing voice.
static int chorus_partner_record(void)
{
    for (int i = 0; i < voices; i++) {
        if (voice[i].status == VOICE_FREE) {
            if (upper_voices <= i)
                upper_voices = i + 1;
            return i;
        }
    }
    upper_voices = voices;
    int lv = quietest_voice(upper_voices, stealable_for_chorus);
    if (lv < 0)
        return -1;
    if (!prescanning_flag) {
        free_voice(lv);
        ctl_note_event(lv);
    }
    return lv;
}

// Hz of each note in equal temperament.
static float pitch_freq(int note)
{
    static float table[128];
    static bool built = false;
    if (!built) {
        for (int i = 0; i < 128; i++)
            table[i] = (float)(440.0 * pow(2.0, (i - 69) / 12.0));
        built = true;
    }
    return table[note & 0x7f];
}

void surround_chorus_double(int v)
{
    int b = chorus_partner_record();
    if (b < 0)
        return;
    int a = v;
    free(voice[b].pan_delay_buf);
    voice[b] = voice[a];
    voice[b].pan_delay_buf = nullptr;  // the buffer stays with the voice that owns it
    int pan = voice[a].panning == 0 ? 1 : voice[a].panning;
    if (a > b) {
        int t = a;
        a = b;
        b = t;
    }
    Voice& va = voice[a];
    Voice& vb = voice[b];
    va.velocity = vb.velocity = (uint8)(va.velocity * 0.7);
    va.chorus_link = (uint16)b;
    vb.chorus_link = (uint16)a;

    // About 3 ms; melodic notes avoid a delay of half a period, which would cancel the
    // fundamental when the pair is heard together.
    double d = 0.003;
    const bool module = current_file_info != nullptr &&
                        current_file_info->file_type >= IS_AUDIO_FILE_FIRST &&
                        current_file_info->file_type <= IS_AUDIO_FILE_LAST;
    if (!ISDRUMCHANNEL(va.channel) && !module) {
        double f = pitch_freq(va.note);
        double x = d * f;
        double whole = floor(x), frac = x - whole;
        if (frac > 0.4 && frac < 0.6) {
            d = (frac < 0.5 ? whole + 0.4 : whole + 0.6) / f;
            if (play_mode->encoding & ~PE_MONO)
                d += (1.0 - abs(64 - pan) / 63.0) * (0.5 - frac) / f;
        }
    }
    const int32 delay = (int32)(output_rate() * d);
    if (!(play_mode->encoding & PE_MONO)) {
        int spread = pan <= 63 ? pan - 1 : 63;
        if (pan + spread > 127)
            spread = 127 - pan;
        va.panning -= spread;
        vb.panning += spread;
        if (va.pan_mode == PAN_CENTER) {
            if (int_rand(2) == 0)
                vb.delay += delay;
            else
                va.delay += delay;
        } else if (pan < 64) {
            vb.delay += delay;
        } else {
            va.delay += delay;
        }
    } else {
        vb.delay += delay;
    }
    init_voice_pan_delay(a);
    init_voice_pan_delay(b);
    recompute_amp(a);
    apply_envelope_to_amp(a);
    recompute_amp(b);
    apply_envelope_to_amp(b);
}
