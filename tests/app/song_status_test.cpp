// What the window says about a song: times, title, and refusals in plain words.
#include <gtest/gtest.h>
#include <string>
#include "app/song_status.h"
#include "support/tempdir.h"

TEST(SongStatus, TimesTitleAndLine)
{
    const struct {
        long long samples;
        const char* shown;
    } times[] = {{-5, "0:00"}, {0, "0:00"}, {44099, "0:00"}, {44100, "0:01"},
                 {44100 * 59 + 44099, "0:59"}, {44100 * 60, "1:00"},
                 {44100LL * 3725, "62:05"}};
    for (const auto& t : times)
        EXPECT_EQ(song_time(t.samples, 44100), t.shown) << t.samples;
    EXPECT_EQ(song_time(88200, 0), "0:00");
    EXPECT_EQ(song_name("/a/b/flying_scotsman.mid"), "flying_scotsman.mid");
    EXPECT_EQ(song_name("plain.mid"), "plain.mid");
    EXPECT_EQ(window_title(""), "Midi Visualization");
    EXPECT_EQ(window_title("flying_scotsman.mid"), "Midi Visualization - flying_scotsman.mid");
    EXPECT_EQ(song_line("a.mid", 44100 * 65, 44100 * 125, 44100), "a.mid  1:05 / 2:05");
}

TEST(SongStatus, RefusalsNameTheFileAndSayWhatIsWrong)
{
    const struct {
        const char* problem;
        const char* told;
        int track = 0;  // where the reader found the data ran out, when it did
        long byte = -1;
    } cases[] = {
        {"/m/flying.mid: Not a MIDI file!", "flying.mid: not a Standard MIDI File"},
        {"Warning: /m/flying.mid: Too shorten midi file.",
         "flying.mid: truncated: the file ends in the middle of a track"},
        {"Warning: /m/flying.mid: Too shorten midi file.", "flying.mid: truncated in track 3 at byte 40211", 3, 40211},
        // A place only for a song that ran out.
        {"/m/flying.mid: Not a MIDI file!", "flying.mid: not a Standard MIDI File", 3, 40211},
        {"Overflow the sample counter", "flying.mid: damaged: its times run past what can be played"},
        {"/m/flying.mid: No such file or directory", "flying.mid: no such file"},
        {"Permission denied", "flying.mid: not readable (permission denied)"},
        {"/m/flying.mid: Unknown MIDI file format 7",
         "flying.mid: not a Standard MIDI File of format 0, 1 or 2"},
        // Without plain words the reader's own text follows the name, without the path.
        {"/m/flying.mid: Something new", "flying.mid: Something new"},
        {"", "flying.mid: could not be played"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(refusal_text("/m/flying.mid", c.problem, c.track, c.byte), c.told) << c.problem;

    EXPECT_EQ(cut_short_text("/m/big.mid", 1048575, 44100LL * 60 * 9 + 44100 * 20, 44100),
              "big.mid has more than 1048575 events; only the first 9 minutes are played");
    EXPECT_EQ(cut_short_text("big.mid", 10, 44100 * 70, 44100),
              "big.mid has more than 10 events; only the first 1 minute is played");
}

TEST(SongStatus, UnreadablePathsAreFoundBeforeReading)
{
    TempDir dir;
    std::string song = dir.write("song.mid", "MThd");
    std::string empty = dir.write("empty.mid", "");
    EXPECT_EQ(unreadable_reason(song), "");
    EXPECT_EQ(unreadable_reason(empty), "");  // the reader says what an empty file is
    EXPECT_EQ(unreadable_reason(dir.file("gone.mid")), "No such file or directory");
    EXPECT_EQ(unreadable_reason(dir.path()), "Is a directory");
}
