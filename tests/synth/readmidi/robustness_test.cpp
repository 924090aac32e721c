// Mutated conformance files and songs (bit flips, truncations, huge length fields), seeded
// and reproducible: the reader must finish every one without a crash, a hang or unbounded
// memory, and whatever it returns must be a well-formed event array.
#include "midi_image.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sys/resource.h>

#include "frontend/controls.h"
#include "readmidi/eventlist.h"
#include "readmidi/readmidi.h"
#include "support/tempdir.h"

namespace {

class RobustnessTest : public ReaderTest {
protected:
    void SetUp() override
    {
        ReaderTest::SetUp();
        ctl->verbosity = VERB_NORMAL;  // errors and warnings only
    }
};

std::vector<Bytes> corpus()
{
    std::vector<Bytes> files;
    for (const char* sub : {"/midi", "/songs"}) {
        std::string dir = std::string(CORVELLE_TEST_DATA) + sub;
        for (const std::string& n : files_ending(dir, ".mid"))
        {
            std::ifstream in(dir + "/" + n, std::ios::binary);
            files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    return files;
}

// Positions of a 4-byte tag in the image.
std::vector<size_t> find_all(const Bytes& b, const char* tag)
{
    std::vector<size_t> at;
    for (size_t i = 0; i + 4 <= b.size(); i++)
        if (std::equal(tag, tag + 4, b.begin() + (long)i))
            at.push_back(i);
    return at;
}

Bytes mutate(const Bytes& in, std::mt19937& rng)
{
    Bytes b = in;
    if (b.empty())
        return b;
    auto pick = [&](size_t n) { return (size_t)(rng() % n); };
    switch (rng() % 4) {
    case 0: {  // flip a few bits
        int flips = 1 + (int)(rng() % 8);
        for (int i = 0; i < flips; i++)
            b[pick(b.size())] ^= (uint8_t)(1u << (rng() % 8));
        break;
    }
    case 1:  // cut the file short
        b.resize(pick(b.size()));
        break;
    case 2: {  // a chunk length of a huge value
        std::vector<size_t> at = find_all(b, "MTrk");
        std::vector<size_t> hd = find_all(b, "MThd");
        at.insert(at.end(), hd.begin(), hd.end());
        if (at.empty())
            break;
        size_t p = at[pick(at.size())] + 4;
        uint32_t v = (rng() % 2) ? 0xFFFFFFFFu : (uint32_t)rng();
        for (int i = 0; i < 4 && p + i < b.size(); i++)
            b[p + i] = (uint8_t)(v >> (24 - 8 * i));
        break;
    }
    default: {  // a meta or system-exclusive length of a huge value
        std::vector<size_t> at;
        for (size_t i = 0; i + 2 < b.size(); i++)
            if (b[i] == 0xFF || b[i] == 0xF0)
                at.push_back(i);
        if (at.empty())
            break;
        size_t q = at[pick(at.size())];
        size_t p = q + (b[q] == 0xFF ? 2 : 1);
        const uint8_t huge[4] = {0xFF, 0xFF, 0xFF, 0x7F};
        for (int i = 0; i < 4 && p + i < b.size(); i++)
            b[p + i] = huge[i];
        break;
    }
    }
    return b;
}

long max_rss_kb()
{
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

TEST_F(RobustnessTest, MutatedFilesNeverBreakTheReader)
{
    std::vector<Bytes> files = corpus();
    ASSERT_EQ(files.size(), 83u);
    // CORVELLE_FUZZ_SEED and CORVELLE_FUZZ_CASES run other or more cases by hand.
    const char* env_seed = getenv("CORVELLE_FUZZ_SEED");
    const char* env_cases = getenv("CORVELLE_FUZZ_CASES");
    const uint32_t seed = env_seed ? (uint32_t)strtoul(env_seed, nullptr, 10) : 20240604;
    const int cases = env_cases ? atoi(env_cases) : 2500;
    std::mt19937 rng(seed);
    long rss_before = max_rss_kb();
    int loaded = 0;
    for (int i = 0; i < cases; i++) {
        size_t which = rng() % files.size();
        Bytes image = mutate(files[which], rng);
        ReadResult r = read_image(image, "mutated.mid");  // a hang meets the test's time-out
        if (!r.ok)
            continue;
        loaded++;
        ASSERT_TRUE(!r.events.empty() && r.events.back().type == ME_EOT)
            << "case " << i << " (seed " << seed << ")";
        ASSERT_LE((long)r.events.size(), (long)MAX_MIDI_EVENT) << "case " << i;
        for (size_t k = 1; k < r.events.size(); k++)
            ASSERT_LE(r.events[k - 1].time, r.events[k].time) << "case " << i;
        for (const MidiEvent& e : r.events)
            ASSERT_TRUE(!IS_CHANNEL_EVENT_TYPE(e.type) || e.channel < MAX_CHANNELS) << "case " << i;
        if (i % 100 == 0)
            free_all_midi_file_info();
    }
    // Most mutations still leave a readable song.
    EXPECT_GT(loaded, cases / 2);
    // The largest song the reader may build is bounded by the event limit (tens of MB). Under
    // AddressSanitizer freed memory sits in its quarantine (256 MB), so the bound means nothing there.
#if defined(__SANITIZE_ADDRESS__)
    (void)rss_before;
#else
    EXPECT_LT(max_rss_kb() - rss_before, 400L * 1024);
#endif
}

}  // namespace
