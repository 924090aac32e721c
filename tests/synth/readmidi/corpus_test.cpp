// The conformance files and the song corpus: every readable file becomes a sorted event array
// ending in ME_EOT, the broken ones give their reports, and seeded mutations of all of them
// (bit flips, truncations, huge lengths) never crash, hang or grow memory without bound.
#include "midi_image.h"

#include <map>
#include <random>
#include <sys/resource.h>

#include "support/tempdir.h"

namespace {

class CorpusTest : public ReaderTest {};

const std::string midi_dir = CORVELLE_TEST_DATA "/midi";

// Reports some files must give: the song that ends early says so, a chunk of another kind is
// passed over.
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
        EXPECT_TRUE(rep == expected_reports.end() || r.has_message(rep->second)) << r.messages;
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

// A copy of the file with a few bits flipped, cut short, or with a chunk, meta or
// system-exclusive length made huge.
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
