// The 72 conformance files: every readable one becomes an event array ending in ME_EOT with
// the note-ons an independent parse of the file finds; the broken ones give their reports.
#include "midi_image.h"
#include "smf_parse.h"

#include <algorithm>
#include <map>

#include "readmidi/eventlist.h"
#include "support/tempdir.h"

namespace {

class ConformanceTest : public ReaderTest {};

std::string midi_dir()
{
    return CORVELLE_TEST_DATA "/midi";
}

// Reports some files must give (shown at the most detailed level).
const std::map<std::string, std::vector<std::string>> expected_reports = {
    {"test-empty-file.mid", {"Not a MIDI file!"}},
    {"test-not-a-midi-file.mid", {"Not a MIDI file!"}},
    {"test-corrupt-file-missing-byte.mid", {"Too shorten midi file."}},
    {"test-non-midi-track.mid", {"Skipping chunk \"Junk\""}},
    {"test-illegal-message-f1-xx.mid", {"*** Can't happen: status 0x07 channel 0x01"}},
    {"test-illegal-message-f2-xx-xx.mid", {"(Sys Com Song Position Pntr)"}},
    {"test-illegal-message-f3-xx.mid", {"(Sys Com Song Select(Song #))"}},
    {"test-illegal-message-f4.mid", {"*** Can't happen: status 0x07 channel 0x04"}},
    {"test-illegal-message-f5.mid", {"*** Can't happen: status 0x07 channel 0x05"}},
    {"test-illegal-message-f6.mid", {"(Sys Com tune request)"}},
    {"test-illegal-message-f8.mid", {"(Sys real time timing clock)"}},
    {"test-illegal-message-f9.mid", {"*** Can't happen: status 0x07 channel 0x09"}},
    {"test-illegal-message-fa.mid", {"(Sys real time start)"}},
    {"test-illegal-message-fb.mid", {"(Sys real time continue)"}},
    {"test-illegal-message-fc.mid", {"(Sys real time stop)"}},
    {"test-illegal-message-fd.mid", {"*** Can't happen: status 0x07 channel 0x0D"}},
    {"test-illegal-message-fe.mid", {"(Sys real time active sensing)"}},
    {"test-illegal-message-all.mid", {"*** Can't happen", "(Sys real time active sensing)"}},
    {"test-smpte-offset.mid", {"(SMPTE Offset meta event)"}},
    {"test-sysex-7e-09-01-gm1-enable.mid", {"SysEx: GM System On"}},
    {"test-sysex-7e-09-02-gm-disable.mid", {"SysEx: GM System Off"}},
    {"test-sysex-7e-09-03-gm2-enable.mid", {"SysEx: GM2 System On"}},
    {"test-sysex-gs-40-1x-4x-scale-tuning.mid", {"Scale Tuning C (CH:0 63 cent)"}},
};

TEST_F(ConformanceTest, EveryFile)
{
    std::vector<std::string> files = files_ending(midi_dir(), ".mid");
    ASSERT_EQ(files.size(), 72u);
    for (const std::string& name : files) {
        SCOPED_TRACE(name);
        std::string path = midi_dir() + "/" + name;
        ReadResult r = read_path(path);
        auto rep = expected_reports.find(name);
        if (rep != expected_reports.end()) {
            for (const std::string& text : rep->second)
                EXPECT_TRUE(r.has_message(text)) << r.messages;
        }

        if (name == "test-empty-file.mid" || name == "test-not-a-midi-file.mid") {
            EXPECT_FALSE(r.ok);
            continue;
        }
        ASSERT_TRUE(r.ok) << r.messages;
        ASSERT_FALSE(r.events.empty());
        EXPECT_EQ(r.events.back().type, ME_EOT);
        EXPECT_EQ(r.events.back().time, r.samples);
        for (size_t i = 1; i < r.events.size(); i++)
            ASSERT_LE(r.events[i - 1].time, r.events[i].time) << "event " << i;

        // A format 0 file has one track; a second one is not read.
        ParsedSmf parsed = parse_smf(load_file(path));
        size_t expected_notes = 0;
        for (const ParsedEvent& e : parsed.note_ons())
            expected_notes += (parsed.format != 0 || e.track == 0);
        // An F1 status is followed by a data byte that the reader takes for the next delta
        // time; the note whose bytes get out of step is lost.
        if (name == "test-illegal-message-f1-xx.mid")
            expected_notes -= 1;
        EXPECT_EQ(r.of_type(ME_NOTEON).size(), expected_notes);
    }
}

// Note-on times of a file, in order.
std::vector<int32_t> note_times(const ReadResult& r)
{
    std::vector<int32_t> t;
    for (const MidiEvent& e : r.of_type(ME_NOTEON))
        t.push_back(e.time);
    return t;
}

TEST_F(ConformanceTest, TwoTrackFilesPlaceTheirNotesByFormat)
{
    ReadResult f0 = read_path(midi_dir() + "/test-2-tracks-type-0.mid");
    ReadResult f1 = read_path(midi_dir() + "/test-2-tracks-type-1.mid");
    ReadResult f2 = read_path(midi_dir() + "/test-2-tracks-type-2.mid");
    ASSERT_TRUE(f0.ok && f1.ok && f2.ok);

    // Format 1: both tracks start at the beginning, so the song is as long as format 0's and
    // every note of the second track sounds with one of the first.
    std::vector<int32_t> t0 = note_times(f0), t1 = note_times(f1), t2 = note_times(f2);
    EXPECT_EQ(f1.samples, f0.samples);
    ASSERT_EQ(t1.size(), 2 * t0.size());
    for (int32_t t : t1)
        EXPECT_NE(std::find(t0.begin(), t0.end(), t), t0.end()) << t;

    // Format 2: the second track's notes follow the first track.
    ASSERT_EQ(t2.size(), t1.size());
    std::vector<MidiEvent> on2 = f2.of_type(ME_NOTEON);
    int32_t first_track_end = 0;
    for (size_t i = 0; i < on2.size() / 2; i++)
        first_track_end = std::max(first_track_end, on2[i].time);
    for (size_t i = on2.size() / 2; i < on2.size(); i++)
        EXPECT_GT(on2[i].time, first_track_end);
    EXPECT_GT(f2.samples, f1.samples);
}

}  // namespace
