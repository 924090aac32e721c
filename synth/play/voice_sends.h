// The effect sends of SoundFont voices: each voice with a modulator list (every sample of a
// font has one) feeds the reverb and the chorus by shares of its own, which its modulators set
// (its zone's sends, with CC91 and CC93 through the default modulators); patch voices follow
// their channel's send levels.
#ifndef CORVELLE_PLAY_VOICE_SENDS_H
#define CORVELLE_PLAY_VOICE_SENDS_H

// Marks the voice v of a patch (reverb_send and chorus_send -1): it follows its channel. A
// SoundFont voice keeps the shares its modulators gave it.
void voice_effect_sends(int v);

// Whether voice v feeds the effects by sends of its own rather than its channel's.
bool voice_has_own_sends(int v);

#endif
