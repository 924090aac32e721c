// The effect sends of SoundFont voices: each voice feeds the reverb and the chorus by shares of
// its own (its zone's sends with its channel's CC91 and CC93 added), where patch voices follow
// their channel's send levels.
#ifndef CORVELLE_PLAY_VOICE_SENDS_H
#define CORVELLE_PLAY_VOICE_SENDS_H

// What CC91 and CC93 add to a SoundFont zone's reverb and chorus sends at 127, in tenths of
// a percent (proportionally below).
#define SF_SEND_PER_CONTROLLER 200

// A zone's send (tenths of a percent) with a controller value 0..127 added, as a share 0..1.
float sf_send_share(int zone_tenths, int controller);

// Sets voice v's reverb_send and chorus_send: the shares of a SoundFont voice, -1 for a voice
// of a patch (it follows its channel).
void voice_effect_sends(int v);

// The sends of channel ch's sounding SoundFont voices again (its CC91 or CC93 has changed).
void channel_effect_sends(int ch);

// Whether voice v feeds the effects by sends of its own rather than its channel's.
bool voice_has_own_sends(int v);

#endif
