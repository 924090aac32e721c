// The effect sends of SoundFont voices. A zone says how much of its sound goes to the reverb
// and to the chorus; the channel's CC91 and CC93 add to that, up to +20 % each at 127, and
// the sum stays within 0..100 %. The mixer feeds a voice with share s to an effect as a
// channel at send level 127 x s feeds it.
#include "play/voice_sends.h"

#include "instrum/instrum.h"
#include "play/channels.h"
#include "play/voice.h"

float sf_send_share(int zone_tenths, int controller)
{
    const int cc = controller < 0 ? 0 : controller > 127 ? 127 : controller;
    double tenths = zone_tenths + (double)SF_SEND_PER_CONTROLLER * cc / 127.0;
    tenths = tenths < 0 ? 0 : tenths > 1000 ? 1000 : tenths;
    return (float)(tenths / 1000.0);
}

static bool is_soundfont_voice(const Voice& vp)
{
    return vp.sample != nullptr && vp.sample->inst_type == INST_SF2;
}

void voice_effect_sends(int v)
{
    Voice& vp = voice[v];
    if (!is_soundfont_voice(vp)) {
        vp.reverb_send = vp.chorus_send = -1.0f;
        return;
    }
    // A sample with modulators has its sends from them (the defaults add CC91 and CC93 there).
    if (vp.sample->sf_mods != nullptr)
        return;
    const Channel& c = channel[vp.channel];
    vp.reverb_send = sf_send_share(vp.sample->sf_reverb_send, get_reverb_level(vp.channel));
    vp.chorus_send = sf_send_share(vp.sample->sf_chorus_send, c.chorus_level);
}

void channel_effect_sends(int ch)
{
    for (int v = 0; v < upper_voices; v++)
        if (voice[v].status != VOICE_FREE && voice[v].channel == ch && is_soundfont_voice(voice[v]))
            voice_effect_sends(v);
}

bool voice_has_own_sends(int v)
{
    const Voice& vp = voice[v];
    return is_soundfont_voice(vp) && vp.reverb_send >= 0 && vp.chorus_send >= 0;
}
