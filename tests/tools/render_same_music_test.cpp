// The engine's speed work must leave the music alone: two songs (a busy one and a short one)
// rendered by corvelle-render at the defaults and on the cheapest path are compared against
// features kept in tests/data/reference/ from an earlier, trusted render: the length in
// samples exactly, the onsets, the pitch-class energy of every two-second window within 1%,
// and a checksum of the 16-bit samples, which only a change of the arithmetic may move.
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
const size_t onset_n = 2048, onset_hop = 512;
const size_t chroma_n = 4096, chroma_hop = 2048;
const size_t window_frames = 43;  // chroma frames in a window: about two seconds

// What is kept of one render.
struct Features {
    long frames = -1;
    uint64_t checksum = 0;
    std::vector<double> onsets;
    std::vector<Chroma> windows;  // pitch-class energy summed over each window
};

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

Features measure(const Wave& w)
{
    Features f;
    f.frames = (long)w.left.size();
    f.checksum = pcm_checksum(w);
    const std::vector<float> m = w.mono();
    f.onsets = onset_times(spectrogram(m, onset_n, onset_hop), onset_hop, w.rate);
    const std::vector<Chroma> frames =
        pitch_class_energy(spectrogram(m, chroma_n, chroma_hop), chroma_n, w.rate);
    for (size_t i = 0; i < frames.size(); i++) {
        if (i % window_frames == 0)
            f.windows.push_back(Chroma{});
        for (int k = 0; k < 12; k++)
            f.windows.back()[k] += frames[i][k];
    }
    return f;
}

std::string to_text(const Features& f)
{
    std::string s = "frames " + std::to_string(f.frames) + "\n";
    char buf[64];
    snprintf(buf, sizeof buf, "checksum %016" PRIx64 "\nonsets %zu\n", f.checksum, f.onsets.size());
    s += buf;
    for (double t : f.onsets) {
        snprintf(buf, sizeof buf, "%.5f\n", t);
        s += buf;
    }
    s += "windows " + std::to_string(f.windows.size()) + "\n";
    for (const Chroma& c : f.windows)
        for (int k = 0; k < 12; k++) {
            snprintf(buf, sizeof buf, "%.9g%c", c[k], k < 11 ? ' ' : '\n');
            s += buf;
        }
    return s;
}

// Reads what to_text wrote; frames stays -1 when the text is damaged.
Features from_text(const std::string& text)
{
    Features f;
    std::istringstream s(text);
    std::string w[4], sum;
    long frames = -1;
    size_t onsets = 0, windows = 0;
    if (!(s >> w[0] >> frames >> w[1] >> sum >> w[2] >> onsets) || w[0] != "frames" ||
        w[1] != "checksum" || w[2] != "onsets")
        return f;
    f.onsets.resize(onsets);
    for (double& t : f.onsets)
        s >> t;
    if (!(s >> w[3] >> windows) || w[3] != "windows")
        return f;
    f.windows.resize(windows);
    for (Chroma& c : f.windows)
        for (double& v : c)
            s >> v;
    if (s.fail())
        return f;
    f.checksum = strtoull(sum.c_str(), nullptr, 16);
    f.frames = frames;
    return f;
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

TEST_P(RenderSameMusic, KeepsLengthOnsetsPitchClassesAndSamples)
{
    const Case& c = GetParam();
    const std::string song = CORVELLE_TEST_DATA "/songs/" + std::string(c.song) + ".mid";
    const std::string out = dir.file("out.wav");
    const ToolRun r = render(std::string(c.options) + " -o '" + out + "' '" + song + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    const Wave w = read_wave(out);
    ASSERT_EQ(w.rate, 44100);
    const Features now = measure(w);
    const std::string ref_file =
        reference_dir + "/" + c.song + "." + c.setting + ".txt";

    const char* write = getenv("CORVELLE_WRITE_REFERENCE");
    if (write != nullptr && std::string(write) == "1") {
        FILE* fp = fopen(ref_file.c_str(), "w");
        ASSERT_NE(fp, nullptr) << "cannot write " << ref_file;
        const std::string text = to_text(now);
        fwrite(text.data(), 1, text.size(), fp);
        fclose(fp);
        GTEST_SKIP() << "wrote " << ref_file;
    }

    const Features ref = from_text(read_whole_file(ref_file));
    ASSERT_GE(ref.frames, 0) << ref_file << " is missing or damaged";
    EXPECT_EQ(now.frames, ref.frames) << "the song's length moved";

    // Onsets: as many within 1%, and 99% of each side found in the other within one hop.
    const double tol = (double)onset_hop / w.rate + 1e-4;
    const double allowed = std::max(1.0, 0.01 * ref.onsets.size());
    EXPECT_LE(std::fabs((double)now.onsets.size() - (double)ref.onsets.size()), allowed);
    EXPECT_GE(matched_share(now.onsets, ref.onsets, tol), 0.99);
    EXPECT_GE(matched_share(ref.onsets, now.onsets, tol), 0.99);

    // Pitch-class energy: every class of every window within 1% of the window's energy.
    ASSERT_EQ(now.windows.size(), ref.windows.size());
    int bad = 0;
    for (size_t i = 0; i < ref.windows.size(); i++) {
        const double total = chroma_total(ref.windows[i]);
        for (int k = 0; k < 12; k++)
            if (std::fabs(now.windows[i][k] - ref.windows[i][k]) > 0.01 * total + 1e-9) {
                if (bad++ < 5)
                    ADD_FAILURE() << "window " << i << " pitch class " << k << ": "
                                  << now.windows[i][k] << " against " << ref.windows[i][k]
                                  << " of " << total;
            }
    }
    EXPECT_EQ(bad, 0);

    // The rendering is integer arithmetic or float sums in a fixed order, so an optimisation
    // that keeps the arithmetic keeps every sample.
    EXPECT_EQ(now.checksum, ref.checksum) << "the samples changed (the features above tell how much)";
}

INSTANTIATE_TEST_SUITE_P(Songs, RenderSameMusic, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<Case>& i) {
                             return std::string(i.param.song) + "_" + i.param.setting;
                         });

}  // namespace
