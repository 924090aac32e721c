// The conformance files with system messages (GS reset, XG system on, GM and GM2 system on;
// none sets an effect parameter of its own) play through the event loop with the effects
// running, and leave the effect stores as their mode has them.
#include <algorithm>
#include <string>
#include <vector>

#include "support/tempdir.h"
#include "effects/effect.h"
#include "synth/play/player_fixture.h"

using ConformanceEffects = PlayerTest;
using namespace std::string_literals;

TEST_F(ConformanceEffects, SystemMessagesLeaveTheEffectStoresOfTheirMode)
{
    const std::string dir = CORVELLE_TEST_DATA "/midi";
    auto contains = [](const std::string& s, const std::string& pattern) {
        return s.find(pattern) != std::string::npos;
    };
    int xg_files = 0, played = 0;
    for (const std::string& n : files_ending(dir, ".mid")) {
        // The hour-long files playing every sound have their messages at the start like the rest.
        if (n.compare(0, 9, "test-all-") == 0)
            continue;
        SCOPED_TRACE(n);
        const std::string image = read_whole_file(dir + "/" + n);
        const bool xg = contains(image, "\x43\x10\x4C\x00\x00\x7E"s);
        if (!xg && !contains(image, "\x42\x12\x40\x00\x7F"s) && !contains(image, "\x7E\x7F\x09"))
            continue;
        // Effect types no power-on gives, so that a reset must put them back.
        play_system_mode = DEFAULT_SYSTEM_MODE;
        reverb_status_xg.type_msb = 0x10;
        chorus_status_xg.type_msb = 0x44;
        realloc_effect_xg(&chorus_status_xg, 2);
        variation_effect_xg[0].type_msb = 0x00;
        play_song_events(image, n);
        played++;
        // The reverb every mode plays through: the GS power-on reverb and the freeverb built
        // from it.
        EXPECT_EQ(reverb_status_gs.character, 4);
        EXPECT_EQ(reverb_status_gs.level, 64);
        EXPECT_EQ(reverb_status_gs.time, 64);
        EXPECT_EQ(freeverb_status.combL[0].size, 1543);
        if (xg) {
            xg_files++;
            EXPECT_EQ(play_system_mode, XG_SYSTEM_MODE);
            EXPECT_EQ(reverb_status_xg.type_msb, 0x01);  // Hall 1
            EXPECT_EQ(chorus_status_xg.type_msb, 0x41);  // Chorus 1, ready to run
            EXPECT_NE(chorus_status_xg.ef, nullptr);
            EXPECT_EQ(variation_effect_xg[0].type_msb, 0x05);
        }
    }
    EXPECT_GE(played, 10);
    EXPECT_EQ(xg_files, 2);
    init_all_effect_xg();
    play_system_mode = DEFAULT_SYSTEM_MODE;
}
