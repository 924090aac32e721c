// Damaged patches, made by seeded mutations of valid ones, never crash the loader: each
// either loads into samples that are safe to render or is refused with a message.
#include "instrum_fixture.h"

#include <random>
#include <sys/stat.h>

namespace {

// Offsets of the length-like fields of sample k in a patch built by build_patch.
size_t sample_header_offset(const TestPatch& p, size_t k)
{
    size_t at = 239;
    for (size_t i = 0; i < k; i++)
        at += 96 + p.samples[i].data.size();
    return at;
}

std::vector<TestPatch> seed_patches()
{
    std::vector<TestPatch> seeds;
    TestPatch a;
    TestSample s16;
    s16.data = pcm16(ramp16(600));
    s16.loop_start = 100;
    s16.loop_end = 1000;
    s16.fractions = 0x4a;
    s16.modes = MODES_16BIT | MODES_LOOPING | MODES_ENVELOPE;
    s16.tremolo[0] = 5, s16.tremolo[1] = 40, s16.tremolo[2] = 20;
    s16.vibrato[0] = 9, s16.vibrato[1] = 50, s16.vibrato[2] = 60;
    TestSample s8;
    s8.data = std::string(300, '\x7f');
    s8.loop_start = 30;
    s8.loop_end = 290;
    s8.modes = MODES_UNSIGNED | MODES_LOOPING | MODES_PINGPONG;
    TestSample rev = s16;
    rev.modes |= MODES_REVERSE;
    a.samples = {s16, s8, rev};
    seeds.push_back(a);
    TestPatch b = a;
    b.prefix = true;
    b.magic = "GF1PATCH100";
    seeds.push_back(b);
    return seeds;
}

void check_renderable(const Instrument* ip)
{
    ASSERT_GT(ip->samples, 0);
    for (int i = 0; i < ip->samples; i++) {
        const Sample& sp = ip->sample[i];
        ASSERT_NE(sp.data, nullptr);
        ASSERT_GT(sp.data_length, 0u);
        EXPECT_GT(sp.sample_rate, 0);
        EXPECT_GT(sp.root_freq, 0);
        EXPECT_LE(sp.loop_start, sp.loop_end);
        EXPECT_LE(sp.loop_end, sp.data_length);
        if (sp.modes & MODES_LOOPING) {
            EXPECT_LT(sp.loop_start, sp.loop_end);
        }
        EXPECT_GE(sp.panning, 0);
        EXPECT_EQ(sp.modes & (MODES_REVERSE | MODES_UNSIGNED), 0);
        // Reading the whole waveform and the two zero samples after it stays in bounds.
        size_t n = sp.data_length >> FRACTION_BITS;
        long sum = 0;
        for (size_t k = 0; k < n; k++)
            sum += sp.data[k];
        (void)sum;
        EXPECT_EQ(sp.data[n], 0);
        EXPECT_EQ(sp.data[n + 1], 0);
    }
}

}  // namespace

TEST_F(InstrumTest, MutatedPatchesAreLoadedSafelyOrRefused)
{
    std::mt19937 rng(20240611);
    std::vector<TestPatch> seeds = seed_patches();
    std::vector<std::string> originals;
    for (const TestPatch& p : seeds)
        originals.push_back(build_patch(p));

    // A real patch too, when the patch set is there.
    struct stat st;
    std::string real = CORVELLE_SOURCE_DIR "/data/freepats/Tone_000/073_Flute.pat";
    if (stat(real.c_str(), &st) == 0)
        originals.push_back(read_whole_file(real));

    const int cases = 600;
    int loaded = 0, refused = 0;
    for (int c = 0; c < cases; c++) {
        size_t which = rng() % originals.size();
        std::string bytes = originals[which];
        const TestPatch* seed = which < seeds.size() ? &seeds[which] : nullptr;
        size_t base = (seed != nullptr && seed->prefix) ? 128 : 0;
        int kind = (int)(rng() % 5);
        switch (kind) {
        case 0: {  // bit flips anywhere
            int flips = 1 + (int)(rng() % 8);
            for (int i = 0; i < flips; i++)
                bytes[rng() % bytes.size()] ^= (char)(1 << (rng() % 8));
            break;
        }
        case 1:  // truncation
            bytes.resize(rng() % bytes.size());
            break;
        case 2: {  // a length, loop point or rate field of a sample set to an extreme
            if (seed == nullptr) {
                bytes[rng() % bytes.size()] = (char)rng();
                break;
            }
            size_t k = rng() % seed->samples.size();
            // data length, loop start, loop end, sample rate (2 bytes), root frequency
            static const size_t fields[][2] = {{8, 4}, {12, 4}, {16, 4}, {20, 2}, {30, 4}};
            const size_t* f = fields[rng() % 5];
            static const uint32_t values[] = {0, 1, 0x7FFFFFFF, 0xFFFFFFFF, 0x80000000, 65535,
                                              3000000};
            put_le(bytes, base + sample_header_offset(*seed, k) + f[0], values[rng() % 7],
                   (int)f[1]);
            break;
        }
        case 3: {  // header counts and modes
            static const size_t spots[] = {82, 151, 198};
            if (rng() % 2)
                bytes[base + spots[rng() % 3]] = (char)rng();
            else if (seed != nullptr)
                bytes[base + sample_header_offset(*seed, rng() % seed->samples.size()) + 55] =
                    (char)rng();
            break;
        }
        default: {  // a run of random bytes
            size_t at = rng() % bytes.size();
            size_t len = 1 + rng() % 64;
            for (size_t i = at; i < bytes.size() && i < at + len; i++)
                bytes[i] = (char)rng();
            break;
        }
        }
        antialiasing_allowed = (int)(rng() % 2);
        std::string msg;
        InstrumentPtr ip(load_memory(bytes, &msg));
        SCOPED_TRACE("case " + std::to_string(c) + " kind " + std::to_string(kind));
        if (ip != nullptr) {
            loaded++;
            check_renderable(ip.get());
        } else {
            refused++;
            EXPECT_NE(msg, "");  // a refusal always says why
        }
    }
    // Both outcomes occur: the mutations are neither all harmless nor all fatal.
    EXPECT_GT(loaded, cases / 10);
    EXPECT_GT(refused, cases / 10);
}
