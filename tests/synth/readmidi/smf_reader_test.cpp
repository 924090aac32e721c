// Reading Standard MIDI File images and their reports, song records and the format probe; the
// conformance files, the song corpus and seeded damage to them.
#include "midi_image.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <sys/resource.h>
#include <zlib.h>

#include "config/files.h"
#include "support/tempdir.h"

namespace {

class SmfReaderTest : public ReaderTest {};

Bytes song(int format)
{
    return smf(format, 96, {cat({note_on(0, 0, 60, 100), note_on(96, 0, 60, 0), end_of_track()})});
}

// A note-on of velocity 0 (here under running status) is a note-off; the data of a
// sequencer-specific or unknown meta event is passed over, as are a long header and unknown chunks.
TEST_F(SmfReaderTest, RunningStatusSurvivesMetaAndSystemExclusive)
{
    Bytes body = cat({note_on(0, 3, 60, 100), meta(0, 0x01, text("between")), meta(0, 0x7F, {0x00, 0x00, 0x41}),
                      meta(0, 0x60, {0x00, 0x00, 0x41}), msg(0, {62, 100}),
                      sysex(0, {0x7E, 0x7F, 0x06, 0x01, 0xF7}),
                      msg(0, {64, 100}), msg(96, {60, 0}), end_of_track()});
    ReadResult r = read_image(smf(0, 96, {body}));
    ASSERT_TRUE(r.ok) << r.messages;
    auto on = r.of_type(ME_NOTEON), off = r.of_type(ME_NOTEOFF);
    ASSERT_EQ(on.size(), 3u);
    EXPECT_EQ(on[1].a, 62);
    EXPECT_TRUE(is_event(on[2], ME_NOTEON, 3, 64));
    ASSERT_EQ(off.size(), 1u);
    EXPECT_TRUE(is_event(off[0], ME_NOTEOFF, 3, 60, 0));
    Bytes junk = {'J', 'u', 'n', 'k', 0, 0, 0, 3, 1, 2, 3};
    r = read_image(cat({header_chunk(0, 1, 96, 10), junk,
                        track_chunk(cat({note_on(0, 0, 60, 100), end_of_track(96)}))}));
    ASSERT_TRUE(r.ok) << r.messages;
    EXPECT_TRUE(has(r.messages, "MIDI file header size 10 bytes"));
    EXPECT_EQ(r.of_type(ME_NOTEON).size(), 1u);
}

TEST_F(SmfReaderTest, DivisionsTempiSignaturesAndSequenceNumbers)
{
    // SMPTE: high byte -25 (frames a second), 40 ticks a frame: 1000 ticks a second, whatever
    // the tempo says (the step is 16.16 fixed point).
    Bytes body = cat({meta(0, 0x51, {0x0F, 0x42, 0x40}), note_on(0, 0, 60, 100), note_on(1000, 0, 60, 0),
                      end_of_track()});
    ReadResult r = read_image(smf(0, 0xE728, {body}));
    ASSERT_TRUE(r.ok) << r.messages;
    EXPECT_EQ(current_file_info->divisions, 1000);
    ASSERT_EQ(r.of_type(ME_NOTEOFF).size(), 1u);
    EXPECT_NEAR(r.of_type(ME_NOTEOFF)[0].time, 44100, 1);
    for (int division : {0, 0xE700}) {  // division zero and zero ticks a frame
        r = read_image(smf(0, division, {cat({note_on(0, 0, 60, 100), end_of_track(10)})}));
        EXPECT_FALSE(r.ok) << division;
        EXPECT_TRUE(has(r.messages, "Invalid time division")) << r.messages;
    }
    // Tempo events of other lengths keep the stream in step.
    body = cat({meta(0, 0x51, {0x0F, 0x42, 0x40, 0x99}), meta(0, 0x51, {0x07}), meta(0, 0x51, {0, 0, 0}),
                note_on(0, 0, 60, 100), note_on(96, 0, 60, 0), end_of_track()});
    r = read_image(smf(0, 96, {body}));
    ASSERT_TRUE(r.ok) << r.messages;
    auto tempo = r.of_type(ME_TEMPO);
    ASSERT_EQ(tempo.size(), 1u);
    EXPECT_EQ(tempo[0].a * 65536 + tempo[0].b * 256 + tempo[0].channel, 1000000);
    EXPECT_EQ(r.of_type(ME_NOTEOFF)[0].time, 44100);
    EXPECT_TRUE(has(r.messages, "Invalid tempo"));

    // Signatures and sequence numbers.
    body = cat({meta(0, 0x58, {6, 3, 24, 8}), meta(0, 0x59, {0xFD, 1}), meta(0, 0x59, {8, 0}),
                meta(0, 0x59, {2, 2}), meta(0, 0x00, {}), meta(0, 0x00, {1, 2, 3}), meta(0, 0x00, {0, 7}),
                note_on(0, 0, 60, 100), end_of_track(96)});
    r = read_image(smf(0, 96, {body}));
    ASSERT_TRUE(r.ok) << r.messages;
    const MidiFileInfo& info = *current_file_info;
    EXPECT_EQ((std::vector<int>{info.time_sig_n, info.time_sig_d, info.time_sig_c, info.time_sig_b}),
              (std::vector<int>{6, 8, 24, 8}));
    auto ts = r.of_type(ME_TIMESIG), ks = r.of_type(ME_KEYSIG);
    ASSERT_TRUE(ts.size() == 2 && ks.size() == 1);
    EXPECT_TRUE(is_event(ts[0], ME_TIMESIG, 0, 6, 8));
    EXPECT_TRUE(is_event(ts[1], ME_TIMESIG, 1, 24));
    EXPECT_TRUE(is_event(ks[0], ME_KEYSIG, -1, (uint8_t)-3, 1));
    EXPECT_TRUE(has(r.messages, "Invalid key signature"));
    EXPECT_EQ(r.of_type(ME_NOTEON).size(), 1u);  // sequence numbers of other lengths than 2 passed over
    // Numerator 0, a denominator exponent of 8 (256 does not fit a byte) and of 200, and a
    // wrong length: none becomes an event and the song still reads.
    body = cat({meta(0, 0x58, {0, 2, 24, 8}), meta(0, 0x58, {3, 8, 24, 8}), meta(0, 0x58, {3, 200, 24, 8}),
                meta(0, 0x58, {3, 2, 24}), note_on(0, 0, 60, 100), end_of_track(400)});
    r = read_image(smf(0, 1, {body}), "bad.mid");
    ASSERT_TRUE(r.ok) << r.messages;
    EXPECT_TRUE(r.of_type(ME_TIMESIG).empty());
    EXPECT_TRUE(has(r.messages, "Invalid time signature"));
    EXPECT_EQ(std::make_tuple(current_file_info->time_sig_n, r.of_type(ME_NOTEON).size()),
              std::make_tuple(-1, 1ul));
}

TEST_F(SmfReaderTest, TrackResultsAndAFailedTrack)
{
    auto read_one_track = [](const Bytes& chunk) {
        InputFile* tf = open_with_mem((char*)chunk.data(), (int32)chunk.size(), OF_NORMAL);
        readmidi_read_init();
        int r = read_smf_track(tf, 0, 1);
        close_file(tf);
        free_midi_list();
        return r;
    };
    std::string msg = stderr_of([&] {
        EXPECT_EQ(read_one_track(track_chunk({0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 60, 100})), -2);  // 5-byte delta
        EXPECT_EQ(read_one_track(track_chunk(cat({{0x81, 0x80, 0x80, 0x00, 0x90, 60, 100}, end_of_track()}))),
                  0);
        EXPECT_EQ(read_one_track(track_chunk(cat({note_on(0, 0, 60, 100), {0x10}}))), -1);
        EXPECT_EQ(read_one_track({0x01, 0x02, 0x03, 0x04, 0, 0, 0, 0}), -2);
        EXPECT_EQ(read_one_track({'M', 'T'}), -1);
    });
    for (const char* m : {"Illigal Variable-length quantity format.", "Too shorten midi file.",
                          "Corrupt MIDI file.", "Can't read track header."})
        EXPECT_NE(msg.find(m), std::string::npos) << m;
    // What was read before the failure is kept; the second track is not read.
    Bytes t0 = cat({note_on(0, 0, 60, 100), note_on(96, 0, 60, 0), {0x81, 0x80, 0x80, 0x80, 0x00}});
    Bytes t1 = cat({note_on(0, 1, 64, 100), end_of_track(96)});
    ReadResult r = read_image(smf(1, 96, {t0, t1}));
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.of_type(ME_NOTEON).size(), 1u);
    EXPECT_EQ(r.of_type(ME_NOTEON)[0].a, 60);
    Restore strict(ignore_midi_error, 0);
    EXPECT_FALSE(read_image(smf(1, 96, {t0, t1}), "strict.mid").ok);
}

TEST_F(SmfReaderTest, ContainersPrefixesAndTheFormatProbe)
{
    Bytes one = smf(0, 96, {cat({note_on(0, 0, 60, 100), end_of_track(96)})});
    Bytes prefixed = cat({{0}, Bytes(127, 0x11), one}), twice = cat({Bytes(256, 0), one}), wave = riff(one);
    wave[8] = 'W';
    // A message of null: the image is read.
    const struct { const char* name; Bytes image; const char* message; } cases[] = {
        {"prefixed.mid", prefixed, nullptr}, {"riff.mid", riff(one), nullptr},
        {"twice.mid", twice, "twice.mid: Not a MIDI file!"}, {"wave.mid", wave, "wave.mid: Not a MIDI file!"},
        {"empty.mid", {}, "empty.mid: Not a MIDI file!"},
        {"fmt3.mid", smf(3, 96, {end_of_track()}), "fmt3.mid: Unknown MIDI file format 3"}};
    for (const auto& c : cases) {
        ReadResult r = read_image(c.image, c.name);
        EXPECT_EQ(r.ok, c.message == nullptr) << c.name;
        EXPECT_EQ(r.of_type(ME_NOTEON).size(), c.message == nullptr ? 1u : 0u) << c.name;
        EXPECT_TRUE(c.message == nullptr || has(r.messages, c.message)) << c.name << ": " << r.messages;
    }
    TempDir dir;
    const std::pair<std::string, int> probes[] = {
        {dir.write("one.mid", as_string(song(1))), 1},        {dir.write("two.mid", as_string(song(2))), 2},
        {dir.write("riff.rmi", as_string(riff(song(0)))), 0}, {dir.write("three.mid", as_string(song(3))), -1},
        {dir.write("text.mid", "hello, this is no song"), -1}, {dir.file("missing.mid"), -1}};
    for (const auto& p : probes)
        EXPECT_EQ(check_midi_file(p.first.c_str()), p.second) << p.first;
    EXPECT_EQ(get_midi_file_info(probes[1].first.c_str(), 0)->format, 2);
}

TEST_F(SmfReaderTest, SongFromAStreamThatCannotSeekIsKeptCompressed)
{
    TempDir dir;
    Bytes plain = song(1);
    std::string gz = dir.file("song.mid.gz");
    gzFile out = gzopen(gz.c_str(), "wb");
    ASSERT_EQ(gzwrite(out, plain.data(), (unsigned)plain.size()), (int)plain.size());
    gzclose(out);
    auto open_files = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    const auto before = open_files();
    ASSERT_EQ(check_midi_file(gz.c_str()), 1);
    EXPECT_EQ(open_files(), before);  // both reads closed their file
    MidiFileInfo* p = get_midi_file_info(gz.c_str(), 0);
    ASSERT_TRUE(p != nullptr && p->midi_data != nullptr);
    EXPECT_EQ(p->compressed, 1);
    // The file is gone; the song plays from the record's copy.
    ASSERT_EQ(remove(gz.c_str()), 0);
    ReadResult r = read_path(gz);
    ASSERT_TRUE(r.ok) << r.messages;
    EXPECT_EQ(std::make_tuple(r.of_type(ME_NOTEON).size(), p->readflag, p->samples,
                              std::string(p->first_text)),
              std::make_tuple(1ul, 1, 22050, std::string()));
    // A record name starting with ~ is under the home directory.
    if (const char* home = getenv("HOME")) {
        MidiFileInfo* h = get_midi_file_info("~/song.mid", 1);
        EXPECT_EQ(std::string(h->filename), std::string(home) + "/song.mid");
        EXPECT_EQ(get_midi_file_info((std::string(home) + "/song.mid").c_str(), 0), h);
    }
}

TEST_F(SmfReaderTest, TextsOfTheConductorTrackKaraokeAndPorts)
{
    Bytes t0 = cat({meta(0, 0x03, text("  My\tSong  ")), meta(0, 0x03, text("Second")),
                    meta(0, 0x01, text("hello")), meta(0, 0x06, text("Verse")), meta(0, 0x06, text("")),
                    meta(0, 0x05, text("la")),
                    note_on(0, 0, 60, 100), end_of_track(96)});
    Bytes t1 = cat({meta(0, 0x03, text("Piano")), meta(0, 0x06, text("not here")), end_of_track()});
    ReadResult r = read_image(smf(1, 96, {t0, t1}));
    ASSERT_TRUE(r.ok);
    EXPECT_STREQ(current_file_info->seq_name, "My Song");
    EXPECT_STREQ(current_file_info->first_text, "hello");
    auto markers = r.of_type(ME_MARKER), lyrics = r.of_type(ME_LYRIC);
    ASSERT_EQ(markers.size(), 1u);  // the empty marker is dropped
    ASSERT_NE(string_of(markers[0]), nullptr);
    EXPECT_EQ(std::string(string_of(markers[0])), (char)ME_MARKER + std::string("(Verse)"));
    ASSERT_EQ(lyrics.size(), 1u);
    EXPECT_STREQ(string_of(lyrics[0]) + 1, "la");
    EXPECT_TRUE(r.of_type(ME_TEXT).empty());
    Bytes k1 = cat({meta(0, 0x01, text("@KMIDI KARAOKE FILE")), end_of_track()});
    Bytes k2 = cat({meta(0, 0x01, text("@TTitle")), meta(0, 0x01, text("@TSinger")),
                    meta(10, 0x01, text("Hel")), end_of_track()});
    r = read_image(smf(1, 96, {cat({note_on(0, 0, 60, 100), end_of_track(96)}), k1, k2}));
    ASSERT_TRUE(r.ok) << r.messages;
    EXPECT_STREQ(current_file_info->karaoke_title, "Title Singer");
    lyrics = r.of_type(ME_KARAOKE_LYRIC);
    ASSERT_EQ(lyrics.size(), 3u);
    EXPECT_STREQ(string_of(lyrics[2]) + 1, "Hel");
    // The port meta moves channel 9 to channel 25, which moves down to 9 as the song leaves it free.
    r = read_image(smf(0, 96,
                       {cat({note_on(0, 1, 60, 100), meta(0, 0x21, {1}), note_on(0, 9, 62, 100),
                             end_of_track(96)})}));
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.of_type(ME_NOTEON).size(), 2u);
    EXPECT_EQ((std::vector<int>{r.of_type(ME_NOTEON)[0].channel, r.of_type(ME_NOTEON)[1].channel,
                                current_file_info->max_channel}),
              (std::vector<int>{1, 9, 9}));
}

// Seeded mutations of the corpus never crash, hang or grow memory without bound.
class CorpusTest : public ReaderTest {};

const std::string midi_dir = CORVELLE_TEST_DATA "/midi";

// Reports some files must give.
const std::map<std::string, std::string> expected_reports = {
    {"test-corrupt-file-missing-byte.mid", "Too shorten midi file."},
    {"test-non-midi-track.mid", "Skipping chunk \"Junk\""},
};

// Whatever the reader returns is a well-formed event array.
::testing::AssertionResult well_formed(const ReadResult& r)
{
    if (r.events.empty() || r.events.back().type != ME_EOT || r.events.back().time != r.samples)
        return ::testing::AssertionFailure() << "no end of track at the song's length";
    if ((long)r.events.size() > (long)MAX_MIDI_EVENT)
        return ::testing::AssertionFailure() << r.events.size() << " events";
    for (size_t i = 0; i < r.events.size(); i++) {
        const MidiEvent& e = r.events[i];
        if ((i > 0 && r.events[i - 1].time > e.time) ||
            (IS_CHANNEL_EVENT_TYPE(e.type) && e.channel >= MAX_CHANNELS))
            return ::testing::AssertionFailure() << "event " << i << " out of order or channel";
    }
    return ::testing::AssertionSuccess();
}

TEST_F(CorpusTest, EveryConformanceFile)
{
    std::vector<std::string> files = files_ending(midi_dir, ".mid");
    ASSERT_EQ(files.size(), 72u);
    size_t notes = 0;
    for (const std::string& name : files) {
        SCOPED_TRACE(name);
        ReadResult r = read_path(midi_dir + "/" + name);
        auto rep = expected_reports.find(name);
        EXPECT_TRUE(rep == expected_reports.end() || has(r.messages, rep->second)) << r.messages;
        if (name == "test-empty-file.mid" || name == "test-not-a-midi-file.mid") {
            EXPECT_FALSE(r.ok);
            continue;
        }
        ASSERT_TRUE(r.ok) << r.messages;
        ASSERT_TRUE(well_formed(r));
        notes += r.of_type(ME_NOTEON).size();
    }
    // The note-ons a separate parse of the files counted (the second track of a format 0 file
    // is not read, and the F1 file loses the note its data byte puts out of step).
    EXPECT_EQ(notes, 12801u);
}

// The file with a few bits flipped, cut short, or a chunk, meta or sysex length made huge.
Bytes mutate(Bytes b, std::mt19937& rng)
{
    if (b.empty())
        return b;
    const int kind = (int)(rng() % 3);
    if (kind == 0) {
        for (int i = 0, flips = 1 + (int)(rng() % 8); i < flips; i++)
            b[rng() % b.size()] ^= (uint8_t)(1u << (rng() % 8));
    } else if (kind == 1) {
        b.resize(rng() % b.size());
    } else {
        std::vector<size_t> at;  // where a length starts
        for (size_t i = 0; i + 4 <= b.size(); i++)
            if (b[i] == 'M' && b[i + 1] == 'T' && (b[i + 2] == 'r' || b[i + 2] == 'h'))
                at.push_back(i + 4);
            else if (b[i] == 0xFF || b[i] == 0xF0)
                at.push_back(i + (b[i] == 0xFF ? 2 : 1));
        const uint32_t v = (rng() % 2) ? 0xFFFFFF7Fu : (uint32_t)rng();
        for (size_t i = 0, p = at.empty() ? b.size() : at[rng() % at.size()]; i < 4 && p + i < b.size(); i++)
            b[p + i] = (uint8_t)(v >> (24 - 8 * i));
    }
    return b;
}

long max_rss_kb()
{
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

TEST_F(CorpusTest, MutatedFilesNeverBreakTheReader)
{
    ctl->verbosity = VERB_NORMAL;
    std::vector<Bytes> files;
    for (const char* sub : {"/midi", "/songs"}) {
        std::string dir = std::string(CORVELLE_TEST_DATA) + sub;
        for (const std::string& n : files_ending(dir, ".mid"))
            files.push_back(text(read_whole_file(dir + "/" + n)));
    }
    ASSERT_EQ(files.size(), 83u);
    // CORVELLE_FUZZ_SEED and CORVELLE_FUZZ_CASES run other or more cases by hand.
    const char *env_seed = getenv("CORVELLE_FUZZ_SEED"), *env_cases = getenv("CORVELLE_FUZZ_CASES");
    const uint32_t seed = env_seed ? (uint32_t)strtoul(env_seed, nullptr, 10) : 20240604;
    const int cases = env_cases ? atoi(env_cases) : 2500;
    std::mt19937 rng(seed);
    long rss_before = max_rss_kb();
    int loaded = 0;
    for (int i = 0; i < cases; i++) {
        Bytes image = mutate(files[rng() % files.size()], rng);
        ReadResult r = read_image(image, "mutated.mid");  // a hang meets the test's time-out
        loaded += r.ok;
        ASSERT_TRUE(!r.ok || well_formed(r)) << "case " << i << " (seed " << seed << ")";
        if (i % 100 == 0)
            free_all_midi_file_info();
    }
    EXPECT_GT(loaded, cases / 2);  // most mutations still leave a readable song
    // The largest song the reader may build is bounded by the event limit (tens of MB). Under
    // AddressSanitizer freed memory sits in its quarantine (256 MB), so the bound means nothing there.
#if defined(__SANITIZE_ADDRESS__)
    (void)rss_before;
#else
    EXPECT_LT(max_rss_kb() - rss_before, 400L * 1024);
#endif
}

}  // namespace
