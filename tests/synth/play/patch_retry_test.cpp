// A patch that could not be loaded for one song is tried again for the next: the user may have
// put it right in between.
#include <algorithm>
#include <cstdlib>

#include "synth/config/config_fixture.h"
#include "synth/instrum/instrum_test_support.h"
#include "synth/play/player_fixture.h"

#include "instrum/instrument_policy.h"

class PatchRetry : public PlayerTest {
protected:
    TempDir dir;
    void TearDown() override
    {
        free_instruments(0);
        reset_configuration_state();
        PlayerTest::TearDown();
    }
    // The largest sample value recorded (16-bit stereo).
    static int peak()
    {
        const std::vector<char>& d = recording().data;
        int most = 0;
        for (size_t i = 0; i + 1 < d.size(); i += 2)
            most = std::max(most, std::abs((int)(int16_t)(uint16_t)((uint8_t)d[i] | ((uint8_t)d[i + 1] << 8))));
        return most;
    }
    std::string play(const std::string& path)
    {
        recording() = Recording();
        testing::internal::CaptureStderr();
        EXPECT_EQ(play_midi_file(path.c_str()), RC_TUNE_END);
        return testing::internal::GetCapturedStderr();
    }
};

TEST_F(PatchRetry, APatchMendedBetweenSongsIsLoadedForTheNext)
{
    reset_configuration_state();
    ReadResult r = read_config_text("dir " + dir.path() + "\nbank 0\n0 piano.pat\n");
    ASSERT_EQ(r.status, 0) << r.messages;
    std::string song = dir.write("song.mid", as_string(song_image({{0, 480, 0, 60, 100}})));

    std::string first = play(song);
    EXPECT_NE(first.find("Couldn't load instrument piano.pat"), std::string::npos) << first;
    EXPECT_LT(peak(), 8) << "nothing to play the note with";

    TestPatch piano;
    piano.samples.push_back(looped16(400, 40, 360));
    dir.write("piano.pat", build_patch(piano));
    std::string second = play(song);
    EXPECT_EQ(second.find("Couldn't load instrument"), std::string::npos) << second;
    EXPECT_GT(peak(), 1000) << "the note is heard";
}
