// Each song starts with a new voice array; the old one's pan-delay buffers go with it, also
// when the configuration changed the polyphony in between.
#include <malloc.h>

#include "synth/play/player_fixture.h"

class VoiceArray : public PlayerTest {};

TEST_F(VoiceArray, NewSongsFreeThePanDelayBuffersOfTheOldVoices)
{
    const int saved = max_voices;
    corvelle_init_player();
    size_t before = mallinfo2().uordblks;
    for (int song = 0; song < 50; song++) {
        for (int i = 0; i < max_voices; i++)
            voice[i].pan_delay_buf = (int32*)calloc(48, sizeof(int32));
        // Polyphony from a re-read configuration: larger, then smaller than the array.
        max_voices = voices = song % 2 ? 64 : 300;
        corvelle_init_player();
    }
    // 50 arrays of buffers would be over 2 MB (AddressSanitizer's allocator reports nothing
    // here; its leak check at exit covers that build).
    EXPECT_LT(mallinfo2().uordblks, before + 256 * 1024);
    max_voices = voices = saved;
    corvelle_init_player();
}
