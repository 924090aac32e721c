// Whole songs through corvelle-render and the patch set: every song of tests/data/songs is
// heard from its first note to its last, at its length, and clips on almost no sample; the
// resample cache leaves each note of a song where it was and at its pitch.
#include "song_analysis.h"

using namespace songtest;

namespace {

const std::string songs = CORVELLE_TEST_DATA "/songs";

// Level in dB of full scale of both sides over the frames [from, to).
double level_db(const Wave& w, size_t from, size_t to)
{
    double sum = 0;
    to = std::min(to, w.left.size());
    for (size_t i = from; i < to; i++)
        sum += (double)w.left[i] * w.left[i] + (double)w.right[i] * w.right[i];
    return 10 * std::log10(sum / std::max<size_t>(1, 2 * (to - std::min(from, to))) + 1e-30);
}

std::vector<std::string> song_names()
{
    std::vector<std::string> names = files_ending(songs, ".mid");
    for (std::string& n : names)
        n.resize(n.size() - 4);
    return names;
}

}  // namespace

using SongRender = SongToolTest;

TEST_F(SongRender, EverySongIsHeardFromItsFirstNoteToItsLastWithoutClipping)
{
    std::vector<std::string> names = song_names();
    ASSERT_EQ(names.size(), 11u);
    std::string args;
    for (const std::string& n : names)
        args += " '" + songs + "/" + n + ".mid'";
    ToolRun r = render(args);
    ASSERT_EQ(r.status, 0) << r.err;

    for (const std::string& n : names) {
        SCOPED_TRACE(n);
        Wave w = read_wave(dir.file(n + ".wav"));
        ASSERT_EQ(w.rate, 44100);
        const long frames = (long)w.left.size();
        const SongEvents s = read_song(songs + "/" + n + ".mid");
        ASSERT_GE(s.first_on, 0);
        // The notes and a second of ring-out at least; at most the song, the voices still
        // sounding at its end (a second, six half-second fades), a second of tail and a block.
        EXPECT_GE(frames, s.last_note + 44100L);
        EXPECT_LE(frames, s.end + 5 * 44100L + 20 + 4096);
        if (frames < s.last_note)
            continue;

        long first_sound = s.first_on;
        while (first_sound < frames &&
               std::max(std::abs(w.left[first_sound]), std::abs(w.right[first_sound])) < 1e-3f)
            first_sound++;
        EXPECT_LE(first_sound, s.first_on + 2205) << "nothing in the first 50 ms";

        // The 100 ms from a note-on are above -60 dB, but for the odd note of a fade-out or
        // a whisper of velocity 10.
        long silent = 0, windows = 0;
        for (size_t i = 0; i < s.ons.size(); i++) {
            if (i > 0 && s.ons[i] < s.ons[i - 1] + 4410)
                continue;
            windows++;
            silent += level_db(w, s.ons[i], s.ons[i] + 4410) < -60;
        }
        EXPECT_LE(silent, windows / 100) << "silent notes of " << windows;
        double level = level_db(w, s.first_on, s.last_note);
        EXPECT_GT(level, -30);
        EXPECT_LT(level, -6);

        long clipped = 0;
        const float full = 32767 / 32768.0f;
        for (size_t i = 0; i < w.left.size(); i++)
            clipped += (std::abs(w.left[i]) >= full) + (std::abs(w.right[i]) >= full);
        EXPECT_LE(clipped, 2 * frames / 1000);
    }
}

// With the cache the pre-scan resamples the song's longest-sounding notes once and playback
// copies them; loops of whole samples drift in phase against live resampling, so the two
// renders are compared as a listener would: onsets, pitch classes and loudness per frame.
TEST_F(SongRender, ResampleCacheKeepsEveryOnsetAndPitch)
{
    // One song whose resampled notes all fit the cache, one where a quarter of them do not.
    for (const char* n : {"chuggachugga", "5432gone_redfarn"}) {
        SCOPED_TRACE(n);
        const std::string song = " '" + songs + "/" + n + ".mid'";
        ToolRun r = render("-idvv -o cached.wav" + song);
        ASSERT_EQ(r.status, 0) << r.err;
        int cached = 0;
        size_t at = r.err.find("Resample cache: Key ");
        ASSERT_NE(at, std::string::npos) << r.err;
        ASSERT_EQ(sscanf(r.err.c_str() + at, "Resample cache: Key %d", &cached), 1);
        EXPECT_GT(cached, 10);
        r = render("-idvv -S 0 -o live.wav" + song);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("Resample cache"), std::string::npos);

        Wave with = read_wave(dir.file("cached.wav")), without = read_wave(dir.file("live.wav"));
        ASSERT_GT(with.rate, 0);
        ASSERT_EQ(with.left.size(), without.left.size());
        EXPECT_NE(with.left, without.left);  // the cached notes took another way
        const std::vector<float> a = with.mono(), b = without.mono();

        std::vector<double> ao = onsets(a, with.rate), bo = onsets(b, with.rate);
        ASSERT_GT(ao.size(), 200u);
        EXPECT_GE(matched_share(ao, bo, 0.025), 0.97);
        EXPECT_GE(matched_share(bo, ao, 0.025), 0.97);

        // Frames of 93 ms within 40 dB of the loudest: hardly any where the pitch classes or
        // the level part ways (cached notes a quarter tone off, or loops that go back to the
        // attack, make hundreds).
        const size_t cn = 4096;
        std::vector<Chroma> ac = pitch_class_energy(spectrogram(a, cn, cn / 4), cn, with.rate);
        std::vector<Chroma> bc = pitch_class_energy(spectrogram(b, cn, cn / 4), cn, with.rate);
        const double loudest = loudest_chroma(ac);
        long frames = 0, other_pitch = 0, other_level = 0;
        for (size_t t = 0; t < ac.size(); t++) {
            if (chroma_total(ac[t]) < loudest * 1e-4)
                continue;
            frames++;
            other_pitch += cosine(ac[t], bc[t]) < 0.8;
            double ratio = chroma_total(ac[t]) / (chroma_total(bc[t]) + 1e-30);
            other_level += std::abs(10 * std::log10(ratio)) > 3;
        }
        EXPECT_LE(other_pitch, frames / 500) << "of " << frames;
        EXPECT_LE(other_level, frames / 500) << "of " << frames;
    }
}
