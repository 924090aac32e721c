// The engine's speed work must leave the music alone: two songs (a busy one and a short one)
// rendered by corvelle-render at the defaults and on the cheapest path keep the length in
// samples and the checksum of the 16-bit samples kept in tests/data/reference/ from an
// earlier, trusted render. (Equal samples keep every onset and pitch; the reference files
// also list those, for a person judging a deliberate change.)
//
// The reference files are written deliberately, never by a normal run:
//     CORVELLE_WRITE_REFERENCE=1 build/test_tools --gtest_filter='RenderSameMusic*'
// writes them into the source tree (tests/data/reference/SONG.SETTING.txt); review the diff
// and say in the commit why the music was allowed to change.
#include "song_analysis.h"

#include <cinttypes>
#include <cstdio>
#include <sstream>

using namespace songtest;

namespace {

const std::string reference_dir = CORVELLE_TEST_DATA "/reference";
const size_t chroma_n = 4096, chroma_hop = 2048;
const size_t window_frames = 43;  // chroma frames in a window: about two seconds

// FNV-1a over the 16-bit samples, left and right interleaved.
uint64_t pcm_checksum(const Wave& w)
{
    uint64_t h = 1469598103934665603ull;
    auto add = [&](float x) {
        const uint16_t v = (uint16_t)(int16_t)std::lround(x * 32768.0f);
        for (int b = 0; b < 2; b++) {
            h ^= (v >> (8 * b)) & 0xff;
            h *= 1099511628211ull;
        }
    };
    for (size_t i = 0; i < w.left.size(); i++) {
        add(w.left[i]);
        add(w.right[i]);
    }
    return h;
}

// The reference text: length, checksum, onsets and the pitch-class energy of each window.
std::string to_text(const Wave& w, uint64_t checksum)
{
    const std::vector<float> m = w.mono();
    const std::vector<double> on = onsets(m, w.rate);
    std::vector<Chroma> windows;
    const std::vector<Chroma> frames =
        pitch_class_energy(spectrogram(m, chroma_n, chroma_hop), chroma_n, w.rate);
    for (size_t i = 0; i < frames.size(); i++) {
        if (i % window_frames == 0)
            windows.push_back(Chroma{});
        for (int k = 0; k < 12; k++)
            windows.back()[k] += frames[i][k];
    }
    char buf[64];
    snprintf(buf, sizeof buf, "frames %zu\nchecksum %016" PRIx64 "\nonsets %zu\n", w.left.size(),
             checksum, on.size());
    std::string s = buf;
    for (double t : on) {
        snprintf(buf, sizeof buf, "%.5f\n", t);
        s += buf;
    }
    s += "windows " + std::to_string(windows.size()) + "\n";
    for (const Chroma& c : windows)
        for (int k = 0; k < 12; k++) {
            snprintf(buf, sizeof buf, "%.9g%c", c[k], k < 11 ? ' ' : '\n');
            s += buf;
        }
    return s;
}

struct Case {
    const char* song;
    const char* setting;
    const char* options;
};
const Case cases[] = {
    {"busy_schedule", "defaults", ""},
    {"busy_schedule", "cheap", "--resample=l --reverb=0 --chorus=0"},
    {"5432gone_redfarn", "defaults", ""},
    {"5432gone_redfarn", "cheap", "--resample=l --reverb=0 --chorus=0"},
};

class RenderSameMusic : public SongToolTest, public ::testing::WithParamInterface<Case> {};

TEST_P(RenderSameMusic, KeepsLengthAndSamples)
{
    const Case& c = GetParam();
    const std::string song = CORVELLE_TEST_DATA "/songs/" + std::string(c.song) + ".mid";
    const std::string out = dir.file("out.wav");
    const ToolRun r = render(std::string(c.options) + " -o '" + out + "' '" + song + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    const Wave w = read_wave(out);
    ASSERT_EQ(w.rate, 44100);
    const uint64_t checksum = pcm_checksum(w);
    const std::string ref_file = reference_dir + "/" + c.song + "." + c.setting + ".txt";

    const char* write = getenv("CORVELLE_WRITE_REFERENCE");
    if (write != nullptr && std::string(write) == "1") {
        FILE* fp = fopen(ref_file.c_str(), "w");
        ASSERT_NE(fp, nullptr) << "cannot write " << ref_file;
        const std::string text = to_text(w, checksum);
        fwrite(text.data(), 1, text.size(), fp);
        fclose(fp);
        GTEST_SKIP() << "wrote " << ref_file;
    }

    std::istringstream ref(read_whole_file(ref_file));
    std::string word[2], sum;
    size_t frames = 0;
    ASSERT_TRUE(ref >> word[0] >> frames >> word[1] >> sum) << ref_file << " is missing";
    ASSERT_TRUE(word[0] == "frames" && word[1] == "checksum") << ref_file << " is damaged";
    EXPECT_EQ(w.left.size(), frames) << "the song's length moved";
    char now[20];
    snprintf(now, sizeof now, "%016" PRIx64, checksum);
    EXPECT_EQ(now, sum) << "the samples changed: compare the onsets and pitch classes with "
                        << ref_file << " (the test writes them with CORVELLE_WRITE_REFERENCE=1)";
}

INSTANTIATE_TEST_SUITE_P(Songs, RenderSameMusic, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<Case>& i) {
                             return std::string(i.param.song) + "_" + i.param.setting;
                         });

}  // namespace
