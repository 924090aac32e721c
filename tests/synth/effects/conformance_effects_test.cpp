// The conformance files with system messages (GS reset, XG system on, GM and GM2 system on;
// none of them sets an effect parameter of its own) play through the event loop with the
// effects running, and leave the effect stores as their mode has them.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/tempdir.h"
#include "effects/effect.h"
#include "synth/play/player_fixture.h"

namespace {

bool contains(const std::string& s, const std::vector<uint8_t>& pattern)
{
    return std::search(s.begin(), s.end(), pattern.begin(), pattern.end(),
                       [](char c, uint8_t p) { return (uint8_t)c == p; }) != s.end();
}

}  // namespace

using ConformanceEffects = PlayerTest;

TEST_F(ConformanceEffects, SystemMessagesLeaveTheEffectStoresOfTheirMode)
{
    const std::string dir = CORVELLE_TEST_DATA "/midi";
    std::vector<std::string> files = files_ending(dir, ".mid");
    // The files playing every sound last an hour; their messages are at the start like
    // those of the short files.
    files.erase(std::remove_if(files.begin(), files.end(),
                               [](const std::string& n) { return n.compare(0, 9, "test-all-") == 0; }),
                files.end());
    int xg_files = 0, played = 0;
    for (const std::string& n : files) {
        SCOPED_TRACE(n);
        const std::string image = read_whole_file(dir + "/" + n);
        const bool xg = contains(image, {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E});
        const bool system = xg || contains(image, {0x42, 0x12, 0x40, 0x00, 0x7F}) ||
                            contains(image, {0x7E, 0x7F, 0x09});
        if (!system)
            continue;
        // Effect types no power-on gives, so that a reset must put them back.
        play_system_mode = DEFAULT_SYSTEM_MODE;
        reverb_status_xg.type_msb = 0x10;
        chorus_status_xg.type_msb = 0x44;
        realloc_effect_xg(&chorus_status_xg, 2);
        variation_effect_xg[0].type_msb = 0x00;

        play_song_events(image, n);
        played++;

        // The reverb every mode plays through: the GS reverb at power-on, the
        // comb-and-allpass reverb built from it.
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
