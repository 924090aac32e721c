// Whole songs through corvelle-render and the patch set. The reference files are written only on
// purpose: CORVELLE_WRITE_REFERENCE=1 build/test_tools --gtest_filter='Songs.*Reference*', then
// review the diff and say in the commit why the music was allowed to change.
#include "song_analysis.h"

#include <cinttypes>
#include <cstdio>
#include <iomanip>
#include <map>
#include <sstream>

using namespace songtest;

namespace {

const std::string songs = CORVELLE_TEST_DATA "/songs";

// Level in dB of full scale of both sides over the frames [from, to).
double level_db(const Wave& w, size_t from, size_t to)
{
    const double l = rms(w.left, from, to), r = rms(w.right, from, to);
    return 10 * std::log10((l * l + r * r) / 2 + 1e-30);
}

// FNV-1a over the 16-bit samples, left and right interleaved.
std::string pcm_checksum(const Wave& w)
{
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < 2 * w.left.size(); i++) {
        const uint16_t v = (uint16_t)(int16_t)std::lround((i % 2 ? w.right : w.left)[i / 2] * 32768.0f);
        for (int b = 0; b < 2; b++)
            h = (h ^ ((v >> (8 * b)) & 0xff)) * 1099511628211ull;
    }
    char buf[20];
    snprintf(buf, sizeof buf, "%016" PRIx64, h);
    return buf;
}

// Length, checksum, onsets and the pitch-class energy of each window of about two seconds.
std::string reference_text(const Wave& w)
{
    const std::vector<float> m = w.mono();
    const std::vector<double> on = onsets(m, w.rate);
    const std::vector<Chroma> frames = pitch_class_energy(spectrogram(m, 4096, 2048), 4096, w.rate);
    std::vector<Chroma> windows((frames.size() + 42) / 43, Chroma{});
    for (size_t i = 0; i < frames.size(); i++)
        for (int k = 0; k < 12; k++)
            windows[i / 43][k] += frames[i][k];
    std::ostringstream s;
    s << "frames " << w.left.size() << "\nchecksum " << pcm_checksum(w) << "\nonsets " << on.size() << "\n"
      << std::fixed << std::setprecision(5);
    for (double t : on)
        s << t << "\n";
    s << "windows " << windows.size() << "\n" << std::defaultfloat << std::setprecision(9);
    for (const Chroma& c : windows)
        for (int k = 0; k < 12; k++)
            s << c[k] << (k < 11 ? ' ' : '\n');
    return s.str();
}

// How alike two renders sound: the share of each one's onsets the other has within `tolerance` s;
// over 93 ms frames within 40 dB of a's loudest, pitch-class likeness and frames that differ.
struct Likeness {
    double onsets_ab = 0, onsets_ba = 0, mean_cosine = 0;
    long frames = 0, other_pitch = 0, other_level = 0;
};
Likeness compare(const Wave& a, const Wave& b, double tolerance)
{
    Likeness l;
    // Each render ends when its own tails have died: the lengths may differ by those.
    const std::vector<float> x = a.mono(), y = b.mono();
    const std::vector<double> ao = onsets(x, a.rate), bo = onsets(y, b.rate);
    EXPECT_GT(ao.size(), 200u);
    l.onsets_ab = matched_share(ao, bo, tolerance);
    l.onsets_ba = matched_share(bo, ao, tolerance);
    const size_t n = 4096;
    const std::vector<Chroma> ac = pitch_class_energy(spectrogram(x, n, n / 4), n, a.rate),
                              bc = pitch_class_energy(spectrogram(y, n, n / 4), n, b.rate);
    double loudest = 0, sum = 0;
    for (const Chroma& c : ac)
        loudest = std::max(loudest, chroma_total(c));
    for (size_t t = 0; t < std::min(ac.size(), bc.size()); t++) {
        if (chroma_total(ac[t]) < loudest * 1e-4)
            continue;
        const double c = cosine(ac[t], bc[t]), ratio = chroma_total(ac[t]) / (chroma_total(bc[t]) + 1e-30);
        l.frames++;
        sum += c;
        l.other_pitch += c < 0.8;
        l.other_level += std::abs(10 * std::log10(ratio)) > 3;
    }
    l.mean_cosine = sum / (double)std::max(l.frames, 1L);
    EXPECT_GT(l.frames, 300);
    return l;
}

enum Setting { defaults, live, cheap, dry };

class Songs : public SongToolTest {
protected:
    struct Rendered {
        std::string dir;
        ToolRun run;
    };
    // The one run of the tool for a setting, over its songs (all of them at the defaults).
    const Rendered& rendered(Setting s)
    {
        static const char* const options[] = {"", "-S 0", "--resample=l --reverb=0 --chorus=0",
                                              "--reverb=0 --chorus=0"};
        static const char* const names[] = {"*", "chuggachugga 5432gone_redfarn",
                                            "busy_schedule 5432gone_redfarn", "5432gone_redfarn"};
        static TempDir root;
        static std::map<Setting, Rendered> done;
        if (!done.count(s)) {
            std::istringstream in(names[s]);
            std::string args = "-c '" + config + "' -idvv " + options[s], name;  // -idvv: the cache
            while (in >> name)
                args += " '" + songs + "'/" + (name == "*" ? "*" : "'" + name + "'") + ".mid";
            const std::string out = root.mkdir(std::to_string(s));
            done[s] = {out, run_tool(out, args, scratch)};
        }
        return done[s];
    }
    Wave wave(Setting s, const std::string& song) { return read_wave(rendered(s).dir + "/" + song + ".wav"); }
};

}  // namespace

TEST_F(Songs, EverySongIsHeardFromItsFirstNoteToItsLastWithoutClipping)
{
    ASSERT_EQ(rendered(defaults).run.status, 0) << rendered(defaults).run.err;
    std::vector<std::string> names = files_ending(songs, ".mid");
    ASSERT_EQ(names.size(), 11u);
    for (std::string n : names) {
        SCOPED_TRACE(n);
        const SongEvents s = read_song(songs + "/" + n);
        const Wave w = wave(defaults, n.substr(0, n.size() - 4));
        ASSERT_EQ(w.rate, 44100);
        ASSERT_GE(s.first_on, 0);
        const long frames = (long)w.left.size();
        // The notes and their ring-out, which ends far below hearing; at most the song, the
        // voices still sounding at its end (a second, six half-second fades), the effects'
        // tails (six seconds at most, then a 50 ms fade) and two blocks.
        EXPECT_GE(frames, s.last_note + 4410L);
        EXPECT_LE(frames, s.end + 10 * 44100L + 2205 + 2 * 4096);
        if (frames < s.last_note)
            continue;
        EXPECT_LT(level_db(w, frames - 441, frames), -75) << "the end is cut";
        long first_sound = s.first_on;
        while (first_sound < frames &&
               std::max(std::abs(w.left[first_sound]), std::abs(w.right[first_sound])) < 1e-3f)
            first_sound++;
        EXPECT_LE(first_sound, s.first_on + 2205) << "nothing in the first 50 ms";

        // The 100 ms from a note-on are above -60 dB, but for the odd note of a fade-out or a
        // whisper of velocity 10.
        long silent = 0, windows = 0;
        for (size_t i = 0; i < s.ons.size(); i++)
            if (i == 0 || s.ons[i] >= s.ons[i - 1] + 4410) {
                windows++;
                silent += level_db(w, s.ons[i], s.ons[i] + 4410) < -60;
            }
        EXPECT_LE(silent, windows / 100) << "silent notes of " << windows;
        const double level = level_db(w, s.first_on, s.last_note);
        EXPECT_GT(level, -30);
        EXPECT_LT(level, -6);
        long clipped = 0;
        for (size_t i = 0; i < w.left.size(); i++)
            clipped += (std::abs(w.left[i]) >= 32767 / 32768.0f) + (std::abs(w.right[i]) >= 32767 / 32768.0f);
        EXPECT_LE(clipped, 2 * frames / 1000);
    }
}

// The engine's speed work must leave the length and the samples those of the reference.
TEST_F(Songs, DefaultsAndTheCheapPathKeepTheReferenceSamples)
{
    const char* write = getenv("CORVELLE_WRITE_REFERENCE");
    for (Setting s : {defaults, cheap})
        for (const std::string song : {"busy_schedule", "5432gone_redfarn"}) {
            const std::string file =
                CORVELLE_TEST_DATA "/reference/" + song + (s == cheap ? ".cheap" : ".defaults") + ".txt";
            SCOPED_TRACE(file);
            ASSERT_EQ(rendered(s).run.status, 0) << rendered(s).run.err;
            const Wave w = wave(s, song);
            ASSERT_EQ(w.rate, 44100);
            if (write != nullptr && std::string(write) == "1") {
                std::ofstream(file, std::ios::binary) << reference_text(w);
                continue;
            }
            std::istringstream ref(read_whole_file(file));
            std::string word[2], sum;
            size_t frames = 0;
            ASSERT_TRUE(ref >> word[0] >> frames >> word[1] >> sum) << "missing";
            ASSERT_TRUE(word[0] == "frames" && word[1] == "checksum") << "damaged";
            EXPECT_EQ(w.left.size(), frames) << "the song's length moved";
            EXPECT_EQ(pcm_checksum(w), sum) << "the samples changed: compare the onsets and pitch classes "
                                               "(the test writes them with CORVELLE_WRITE_REFERENCE=1)";
        }
}

// With the cache, playback copies the pre-scan's resampled notes, whose loops drift in phase
// against live resampling: the renders are compared as a listener would. One song's notes all
// fit the cache, a quarter of the other's do not.
TEST_F(Songs, ResampleCacheKeepsEveryOnsetAndPitch)
{
    const std::string& err = rendered(defaults).run.err;
    ASSERT_EQ(rendered(live).run.status, 0) << rendered(live).run.err;
    EXPECT_EQ(rendered(live).run.err.find("Resample cache"), std::string::npos);
    for (const std::string song : {"chuggachugga", "5432gone_redfarn"}) {
        SCOPED_TRACE(song);
        const size_t from = err.find("Playing " + songs + "/" + song),
                     at = err.find("Resample cache: Key ", from);
        int cached = 0;
        ASSERT_LT(at, err.find("\nPlaying ", from)) << "no cache report of its own\n" << err;
        ASSERT_EQ(sscanf(err.c_str() + at, "Resample cache: Key %d", &cached), 1);
        EXPECT_GT(cached, 10);

        const Wave with = wave(defaults, song), without = wave(live, song);
        EXPECT_NE(with.left, without.left);  // the cached notes took another way
        // Cached notes a quarter tone off, or loops that go back to the attack, make hundreds of
        // frames that part ways.
        const Likeness l = compare(with, without, 0.025);
        EXPECT_GE(l.onsets_ab, 0.97);
        EXPECT_GE(l.onsets_ba, 0.97);
        EXPECT_LE(l.other_pitch, l.frames / 500) << "of " << l.frames;
        EXPECT_LE(l.other_level, l.frames / 500) << "of " << l.frames;
    }
}

TEST_F(Songs, EffectsKeepTheNotesAndRingOnAfterTheLastNote)
{
    ASSERT_EQ(rendered(dry).run.status, 0) << rendered(dry).run.err;
    const Wave fx = wave(defaults, "5432gone_redfarn"), plain = wave(dry, "5432gone_redfarn");
    const Likeness l = compare(plain, fx, 0.03);
    EXPECT_GT(l.onsets_ab, 0.95);
    EXPECT_GT(l.onsets_ba, 0.95);
    EXPECT_GT(l.mean_cosine, 0.95);

    // Half a second after the last note the reverb still adds a tail well above the floor.
    std::vector<float> wet = fx.mono(), without = plain.mono();
    for (size_t i = 0; i < std::min(wet.size(), without.size()); i++)
        wet[i] -= without[i];
    const double last_note = read_song(songs + "/5432gone_redfarn.mid").last_note / 44100.0;
    ASSERT_GT(last_note, 1);
    EXPECT_GT(rms_db(wet, fx.rate, last_note + 0.5, last_note + 0.55), -60.0);
}
