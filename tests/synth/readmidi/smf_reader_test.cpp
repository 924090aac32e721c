// Reading Standard MIDI File images: containers, header, tracks, running status and meta
// events, with the reports the reader gives.
#include "midi_image.h"

#include <cstdio>
#include <cstdlib>

#include "config/files.h"
#include "readmidi/eventlist.h"
#include "readmidi/readmidi.h"

namespace {

class SmfReaderTest : public ReaderTest {};

const int32_t QUARTER = 22050;  // at 120 beats per minute and 44100 Hz

TEST_F(SmfReaderTest, FormatOneTracksStartTogetherFormatTwoTracksFollow)
{
    Bytes t0 = cat({note_on(0, 0, 60, 100), note_on(480, 0, 60, 0), end_of_track()});
    Bytes t1 = cat({note_on(0, 1, 64, 100), note_on(96, 1, 64, 0), end_of_track()});

    ReadResult one = read_image(smf(1, 96, {t0, t1}));
    ASSERT_TRUE(one.ok) << one.messages;
    auto on1 = one.of_type(ME_NOTEON);
    ASSERT_EQ(on1.size(), 2u);
    EXPECT_EQ(on1[0].time, 0);
    EXPECT_EQ(on1[1].time, 0);
    EXPECT_EQ(on1[1].channel, 1);

    ReadResult two = read_image(smf(2, 96, {t0, t1}), "two.mid");
    ASSERT_TRUE(two.ok) << two.messages;
    auto on2 = two.of_type(ME_NOTEON);
    ASSERT_EQ(on2.size(), 2u);
    EXPECT_EQ(on2[0].time, 0);
    EXPECT_EQ(on2[1].time, 5 * QUARTER);  // after the 480 ticks of the first track
    EXPECT_EQ(two.samples, 6 * QUARTER);
}

// A note-on of velocity 0 (here under running status) is a note-off; the data of a
// sequencer-specific or unknown meta event is passed over.
TEST_F(SmfReaderTest, RunningStatusSurvivesMetaAndSystemExclusive)
{
    Bytes body = cat({note_on(0, 3, 60, 100), meta(0, 0x01, text("between")),
                      meta(0, 0x7F, {0x00, 0x00, 0x41}), meta(0, 0x60, {0x00, 0x00, 0x41}),
                      msg(0, {62, 100}), sysex(0, {0x7E, 0x7F, 0x06, 0x01, 0xF7}),
                      msg(0, {64, 100}), msg(96, {60, 0}), end_of_track()});
    ReadResult r = read_image(smf(0, 96, {body}));
    ASSERT_TRUE(r.ok) << r.messages;
    auto on = r.of_type(ME_NOTEON);
    ASSERT_EQ(on.size(), 3u);
    EXPECT_EQ(on[1].a, 62);
    EXPECT_EQ(on[2].a, 64);
    EXPECT_EQ(on[2].channel, 3);
    auto off = r.of_type(ME_NOTEOFF);
    ASSERT_EQ(off.size(), 1u);
    EXPECT_TRUE(is_event(off[0], ME_NOTEOFF, 3, 60, 0));
}

TEST_F(SmfReaderTest, LongHeaderAndUnknownChunksArePassedOver)
{
    Bytes junk = {'J', 'u', 'n', 'k', 0, 0, 0, 3, 1, 2, 3};
    Bytes image = cat({header_chunk(0, 1, 96, 10), junk,
                       track_chunk(cat({note_on(0, 0, 60, 100), end_of_track(96)}))});
    ReadResult r = read_image(image);
    ASSERT_TRUE(r.ok) << r.messages;
    EXPECT_TRUE(r.has_message("MIDI file header size 10 bytes"));
    EXPECT_EQ(r.of_type(ME_NOTEON).size(), 1u);
}

TEST_F(SmfReaderTest, SmpteDivisionCountsTicksPerSecond)
{
    // High byte -25 (25 frames per second), 40 ticks per frame: 1000 ticks a second, whatever
    // the tempo says.
    Bytes body = cat({meta(0, 0x51, {0x0F, 0x42, 0x40}), note_on(0, 0, 60, 100),
                      note_on(1000, 0, 60, 0), end_of_track()});
    ReadResult r = read_image(smf(0, 0xE728, {body}));
    ASSERT_TRUE(r.ok) << r.messages;
    EXPECT_EQ(current_file_info->divisions, 1000);
    auto off = r.of_type(ME_NOTEOFF);
    ASSERT_EQ(off.size(), 1u);
    EXPECT_NEAR(off[0].time, 44100, 1);  // the step is 16.16 fixed point
}

TEST_F(SmfReaderTest, DivisionZeroAndZeroTicksPerFrameAreRefused)
{
    Bytes body = cat({note_on(0, 0, 60, 100), end_of_track(10)});
    for (int division : {0, 0xE700}) {
        ReadResult r = read_image(smf(0, division, {body}), std::to_string(division) + ".mid");
        EXPECT_FALSE(r.ok) << division;
        char text[40];
        snprintf(text, sizeof(text), "Invalid time division 0x%04X", division);
        EXPECT_TRUE(r.has_message(text)) << r.messages;
    }
}

TEST_F(SmfReaderTest, SignaturesAndSequenceNumbers)
{
    Bytes body = cat({meta(0, 0x58, {6, 3, 24, 8}), meta(0, 0x59, {0xFD, 1}), meta(0, 0x59, {8, 0}),
                      meta(0, 0x59, {2, 2}), meta(0, 0x00, {}), meta(0, 0x00, {1, 2, 3}),
                      meta(0, 0x00, {0, 7}), note_on(0, 0, 60, 100), end_of_track(96)});
    ReadResult r = read_image(smf(0, 96, {body}));
    ASSERT_TRUE(r.ok) << r.messages;
    EXPECT_EQ(current_file_info->time_sig_n, 6);
    EXPECT_EQ(current_file_info->time_sig_d, 8);
    EXPECT_EQ(current_file_info->time_sig_c, 24);
    EXPECT_EQ(current_file_info->time_sig_b, 8);
    auto ts = r.of_type(ME_TIMESIG);
    ASSERT_EQ(ts.size(), 2u);
    EXPECT_TRUE(is_event(ts[0], ME_TIMESIG, 0, 6, 8));
    EXPECT_TRUE(is_event(ts[1], ME_TIMESIG, 1, 24));
    EXPECT_TRUE(r.has_message("Time signature: 6/8 24 clock 8 q.n."));
    EXPECT_TRUE(r.has_message("Key signature: 3 flat(s) minor"));
    EXPECT_TRUE(r.has_message("Invalid key signature"));
    auto ks = r.of_type(ME_KEYSIG);
    ASSERT_EQ(ks.size(), 1u);
    EXPECT_TRUE(is_event(ks[0], ME_KEYSIG, -1, (uint8_t)-3, 1));
    // Sequence numbers of other lengths than 2 are passed over.
    EXPECT_TRUE(r.has_message("(Sequence Number len=0)"));
    EXPECT_TRUE(r.has_message("(Sequence Number len=3)"));
    EXPECT_TRUE(r.has_message("(Sequence Number 00 07)"));
    EXPECT_EQ(r.of_type(ME_NOTEON).size(), 1u);

    // Numerator 0, a denominator exponent of 8 (256 does not fit a byte) and of 200, and a
    // wrong length: none becomes an event and the song still reads.
    body = cat({meta(0, 0x58, {0, 2, 24, 8}), meta(0, 0x58, {3, 8, 24, 8}),
                meta(0, 0x58, {3, 200, 24, 8}), meta(0, 0x58, {3, 2, 24}),
                note_on(0, 0, 60, 100), end_of_track(400)});
    r = read_image(smf(0, 1, {body}), "bad.mid");
    ASSERT_TRUE(r.ok) << r.messages;
    EXPECT_TRUE(r.of_type(ME_TIMESIG).empty());
    EXPECT_TRUE(r.has_message("Invalid time signature"));
    EXPECT_EQ(current_file_info->time_sig_n, -1);
    EXPECT_EQ(r.of_type(ME_NOTEON).size(), 1u);
}

// Reads one track of image (the chunk starts at offset 0) directly.
int read_one_track(const Bytes& chunk)
{
    InputFile* tf = open_with_mem((char*)chunk.data(), (int32)chunk.size(), OF_NORMAL);
    readmidi_read_init();
    int r = read_smf_track(tf, 0, 1);
    close_file(tf);
    free_midi_list();
    return r;
}

TEST_F(SmfReaderTest, TrackResults)
{
    testing::internal::CaptureStderr();
    Bytes five = track_chunk(cat({{0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 60, 100}}));
    EXPECT_EQ(read_one_track(five), -2);
    Bytes four = track_chunk(cat({{0x81, 0x80, 0x80, 0x00}, {0x90, 60, 100}, end_of_track()}));
    EXPECT_EQ(read_one_track(four), 0);
    Bytes cut = track_chunk(cat({note_on(0, 0, 60, 100), {0x10}}));
    EXPECT_EQ(read_one_track(cut), -1);
    Bytes bad_tag = {0x01, 0x02, 0x03, 0x04, 0, 0, 0, 0};
    EXPECT_EQ(read_one_track(bad_tag), -2);
    Bytes no_header = {'M', 'T'};
    EXPECT_EQ(read_one_track(no_header), -1);
    std::string msg = testing::internal::GetCapturedStderr();
    EXPECT_NE(msg.find("Illigal Variable-length quantity format."), std::string::npos);
    EXPECT_NE(msg.find("Too shorten midi file."), std::string::npos);
    EXPECT_NE(msg.find("Corrupt MIDI file."), std::string::npos);
    EXPECT_NE(msg.find("Can't read track header."), std::string::npos);
}

TEST_F(SmfReaderTest, FailedTrackKeepsWhatWasRead)
{
    Bytes t0 = cat({note_on(0, 0, 60, 100), note_on(96, 0, 60, 0), {0x81, 0x80, 0x80, 0x80, 0x00}});
    Bytes t1 = cat({note_on(0, 1, 64, 100), end_of_track(96)});
    ReadResult r = read_image(smf(1, 96, {t0, t1}));
    ASSERT_TRUE(r.ok);
    auto on = r.of_type(ME_NOTEON);
    ASSERT_EQ(on.size(), 1u);  // the second track is not read after the first failed
    EXPECT_EQ(on[0].a, 60);

    ignore_midi_error = 0;
    ReadResult strict = read_image(smf(1, 96, {t0, t1}), "strict.mid");
    ignore_midi_error = 1;
    EXPECT_FALSE(strict.ok);
}

TEST_F(SmfReaderTest, ContainersAndPrefixes)
{
    Bytes song = smf(0, 96, {cat({note_on(0, 0, 60, 100), end_of_track(96)})});

    Bytes prefixed(128, 0x11);
    prefixed[0] = 0;
    prefixed.insert(prefixed.end(), song.begin(), song.end());
    ReadResult r1 = read_image(prefixed, "prefixed.mid");
    ASSERT_TRUE(r1.ok) << r1.messages;
    EXPECT_EQ(r1.of_type(ME_NOTEON).size(), 1u);

    ReadResult r3 = read_image(riff(song), "riff.mid");
    ASSERT_TRUE(r3.ok) << r3.messages;
    EXPECT_EQ(r3.of_type(ME_NOTEON).size(), 1u);

    // A prefix longer than 128 bytes, a RIFF that is not RMID, nothing, and format 3.
    Bytes twice(256, 0), wave = riff(song);
    twice.insert(twice.end(), song.begin(), song.end());
    wave[8] = 'W';
    const struct {
        const char* name;
        Bytes image;
        const char* message;
    } refused[] = {{"twice.mid", twice, "twice.mid: Not a MIDI file!"},
                   {"wave.mid", wave, "wave.mid: Not a MIDI file!"},
                   {"empty.mid", {}, "empty.mid: Not a MIDI file!"},
                   {"fmt3.mid", smf(3, 96, {end_of_track()}), "fmt3.mid: Unknown MIDI file format 3"}};
    for (const auto& c : refused) {
        ReadResult r = read_image(c.image, c.name);
        EXPECT_FALSE(r.ok) << c.name;
        EXPECT_TRUE(r.has_message(c.message)) << c.name << ": " << r.messages;
    }
}

TEST_F(SmfReaderTest, TempoEventsWithOtherLengthsKeepTheStreamInStep)
{
    Bytes body = cat({meta(0, 0x51, {0x0F, 0x42, 0x40, 0x99}), meta(0, 0x51, {0x07}),
                      meta(0, 0x51, {0, 0, 0}), note_on(0, 0, 60, 100), note_on(96, 0, 60, 0),
                      end_of_track()});
    ReadResult r = read_image(smf(0, 96, {body}));
    ASSERT_TRUE(r.ok) << r.messages;
    auto tempo = r.of_type(ME_TEMPO);
    ASSERT_EQ(tempo.size(), 1u);
    EXPECT_EQ(tempo[0].a * 65536 + tempo[0].b * 256 + tempo[0].channel, 1000000);
    EXPECT_EQ(r.of_type(ME_NOTEOFF)[0].time, 44100);
    EXPECT_TRUE(r.has_message("Invalid tempo"));
}

TEST_F(SmfReaderTest, TextsOfTheConductorTrack)
{
    Bytes t0 = cat({meta(0, 0x03, text("  My\tSong  ")), meta(0, 0x03, text("Second")),
                    meta(0, 0x01, text("hello")), meta(0, 0x06, text("Verse")),
                    meta(0, 0x06, text("")), meta(0, 0x05, text("la")),
                    note_on(0, 0, 60, 100), end_of_track(96)});
    Bytes t1 = cat({meta(0, 0x03, text("Piano")), meta(0, 0x06, text("not here")),
                    end_of_track()});
    ReadResult r = read_image(smf(1, 96, {t0, t1}));
    ASSERT_TRUE(r.ok);
    EXPECT_STREQ(current_file_info->seq_name, "My Song");
    EXPECT_STREQ(current_file_info->first_text, "hello");
    EXPECT_TRUE(r.has_message("Sequence:   My\tSong  "));
    EXPECT_TRUE(r.has_message("Track name: Second"));
    EXPECT_TRUE(r.has_message("Track name: Piano"));
    EXPECT_TRUE(r.has_message("Marker: not here"));

    auto markers = r.of_type(ME_MARKER);
    ASSERT_EQ(markers.size(), 1u);  // the empty marker is dropped
    const char* m = event2string(markers[0].a | (markers[0].b << 8));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m[0], ME_MARKER);
    EXPECT_STREQ(m + 1, "(Verse)");
    auto lyrics = r.of_type(ME_LYRIC);
    ASSERT_EQ(lyrics.size(), 1u);
    EXPECT_STREQ(event2string(lyrics[0].a | (lyrics[0].b << 8)) + 1, "la");
    EXPECT_TRUE(r.of_type(ME_TEXT).empty());
}

TEST_F(SmfReaderTest, KaraokeFileLyricsAndTitle)
{
    Bytes t0 = cat({note_on(0, 0, 60, 100), end_of_track(96)});
    Bytes t1 = cat({meta(0, 0x01, text("@KMIDI KARAOKE FILE")), end_of_track()});
    Bytes t2 = cat({meta(0, 0x01, text("@TTitle")), meta(0, 0x01, text("@TSinger")),
                    meta(10, 0x01, text("Hel")), end_of_track()});
    ReadResult r = read_image(smf(1, 96, {t0, t1, t2}));
    ASSERT_TRUE(r.ok) << r.messages;
    EXPECT_STREQ(current_file_info->karaoke_title, "Title Singer");
    auto lyrics = r.of_type(ME_KARAOKE_LYRIC);
    ASSERT_EQ(lyrics.size(), 3u);
    EXPECT_STREQ(event2string(lyrics[2].a | (lyrics[2].b << 8)) + 1, "Hel");
}

TEST_F(SmfReaderTest, PortMetaMovesChannelsToTheSecondPort)
{
    Bytes body = cat({note_on(0, 1, 60, 100), meta(0, 0x21, {1}), note_on(0, 9, 62, 100),
                      end_of_track(96)});
    ReadResult r = read_image(smf(0, 96, {body}));
    ASSERT_TRUE(r.ok);
    auto on = r.of_type(ME_NOTEON);
    ASSERT_EQ(on.size(), 2u);
    EXPECT_EQ(on[0].channel, 1);
    // Channel 25 moves down to channel 9, which the song leaves free.
    EXPECT_EQ(on[1].channel, 9);
    EXPECT_TRUE(r.has_message("channel 25 => 9"));
    EXPECT_EQ(current_file_info->max_channel, 9);
}

TEST_F(SmfReaderTest, HomeDirectoryIsExpandedInRecordNames)
{
    const char* home = getenv("HOME");
    if (home == nullptr)
        GTEST_SKIP() << "HOME is not set";
    MidiFileInfo* p = get_midi_file_info("~/song.mid", 1);
    EXPECT_EQ(std::string(p->filename), std::string(home) + "/song.mid");
    EXPECT_EQ(get_midi_file_info((std::string(home) + "/song.mid").c_str(), 0), p);
}

}  // namespace
