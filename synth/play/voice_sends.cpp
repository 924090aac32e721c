// The effect sends of voices. A SoundFont voice's modulators set its shares of the reverb and
// the chorus (sf_modulate_voice); the mixer feeds a voice with share s to an effect as a
// channel at send level 127 x s feeds it.
#include "play/voice_sends.h"

#include "instrum/instrum.h"
#include "play/voice.h"

static bool has_modulators(const Voice& vp)
{
    return vp.sample != nullptr && vp.sample->sf_mods != nullptr;
}

void voice_effect_sends(int v)
{
    Voice& vp = voice[v];
    if (!has_modulators(vp))
        vp.reverb_send = vp.chorus_send = -1.0f;
}

bool voice_has_own_sends(int v)
{
    const Voice& vp = voice[v];
    return has_modulators(vp) && vp.reverb_send >= 0 && vp.chorus_send >= 0;
}
