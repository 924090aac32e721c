// Sample times of the songs against a tick-to-seconds conversion through each song's tempo
// map, computed here from the file's bytes by the tests' own parser.
#include "midi_image.h"
#include "smf_parse.h"

#include <algorithm>
#include <cmath>

#include "readmidi/eventlist.h"
#include "support/tempdir.h"

namespace {

class SongTimingTest : public ReaderTest {};

// Controllers that become events (the others leave no trace in the event list).
bool translated_controller(int c)
{
    static const int list[] = {0,  1,  2,  4,  5,  6,  7,  8,   10,  11,  32,  37,  38, 64,
                               65, 66, 67, 68, 69, 71, 72, 73,  74,  84,  91,  92,  93, 94,
                               95, 96, 97, 98, 99, 100, 101, 120, 121, 123, 126, 127};
    return std::find(std::begin(list), std::end(list), c) != std::end(list);
}

// The tick of the last event that the reader keeps in its list.
int64_t last_event_tick(const ParsedSmf& p)
{
    int64_t last = 0;
    for (const ParsedEvent& e : p.events) {
        bool kept = false;
        if (e.status >= 0x80 && e.status < 0xF0)
            kept = (e.status & 0xF0) != 0xB0 || translated_controller(e.data[0]);
        else if (e.status == 0xFF)
            kept = e.meta_type == 0x51 || e.meta_type == 0x58 || e.meta_type == 0x59;
        if (kept)
            last = std::max(last, e.tick);
    }
    return last;
}

TEST_F(SongTimingTest, NoteOnsAndLengthFollowTheTempoMap)
{
    const std::string dir = CORVELLE_TEST_DATA "/songs";
    std::vector<std::string> songs = files_ending(dir, ".mid");
    ASSERT_EQ(songs.size(), 11u);
    for (const std::string& name : songs) {
        SCOPED_TRACE(name);
        const std::string path = dir + "/" + name;
        ParsedSmf p = parse_smf(load_file(path));
        ASSERT_TRUE(p.ok);
        ASSERT_GT(p.division, 0);
        ReadResult r = read_path(path);
        ASSERT_TRUE(r.ok) << r.messages;

        std::vector<ParsedEvent> on = p.note_ons();
        ASSERT_FALSE(on.empty());
        auto tempo = p.tempo_map();
        int64_t first = on[0].tick;
        for (const ParsedEvent& e : on)
            first = std::min(first, e.tick);
        double start = p.seconds_at(first);

        // Expected times with the number of tempo changes before each note.
        std::vector<std::pair<double, int>> expected;
        for (const ParsedEvent& e : on) {
            int changes = 0;
            for (const auto& t : tempo)
                changes += (t.first < e.tick);
            expected.push_back({(p.seconds_at(e.tick) - start) * 44100.0, changes});
        }
        std::sort(expected.begin(), expected.end());
        std::vector<MidiEvent> got = r.of_type(ME_NOTEON);
        ASSERT_EQ(got.size(), expected.size());
        std::vector<int32_t> times;
        for (const MidiEvent& e : got)
            times.push_back(e.time);
        std::sort(times.begin(), times.end());
        EXPECT_EQ(times[0], 0);  // the song begins with its first note

        double worst = 0;
        for (size_t i = 0; i < times.size(); i++) {
            double diff = std::fabs(times[i] - expected[i].first);
            worst = std::max(worst, diff);
            ASSERT_LE(diff, 1.0 + expected[i].second) << "note " << i;
        }
        RecordProperty(path, std::to_string(worst));

        int changes = (int)tempo.size();
        double length = (p.seconds_at(last_event_tick(p)) - start) * 44100.0;
        EXPECT_LE(std::fabs(r.samples - length), 1.0 + changes);
        EXPECT_EQ(r.events.back().type, ME_EOT);
        EXPECT_EQ(r.events.back().time, r.samples);
    }
}

}  // namespace
