// Effects heard in what corvelle-render writes: a short note through the reverb leaves a tail
// that lasts longer with the GS reverb time under every reverb macro and none with
// --reverb=0; a steady tone through the GS or XG chorus beats against its moving copy, and
// not with --chorus=0 or the XG "no effect" chorus; a whole song keeps its onsets and pitches
// with and without effects and rings on after its last note with reverb.
#include "song_analysis.h"

using namespace songtest;

namespace {

const uint32_t tick_rate = 960;  // ticks per second of the written songs (480 per quarter, 120 bpm)

// A song of the system messages in `setup` followed by `rest`.
std::string song(const std::vector<Bytes>& setup, const std::vector<TimedBytes>& rest)
{
    std::vector<TimedBytes> ev;
    for (const Bytes& b : setup)
        ev.push_back({0, b});
    ev.insert(ev.end(), rest.begin(), rest.end());
    return smf_format0(ev);
}

// A wood block struck once with full reverb send and no chorus, after a GS reset and `setup`.
// A silent note on channel 1 at `keep` seconds keeps the song going, so that the reverb rings
// out instead of ending with the last voice.
std::string short_note_song(std::vector<Bytes> setup, uint32_t keep = 7)
{
    setup.insert(setup.begin(), gs_reset());
    return song(setup, {{0, {0xC0, 115}}, {0, {0xB0, 0x5B, 0x7F}}, {0, {0xB0, 0x5D, 0x00}},
                        {0, {0xB0, 0x07, 0x7F}}, {0, {0xB1, 0x07, 0x00}}, {10, {0x90, 60, 127}},
                        {58, {0x80, 60, 64}}, {10 + keep * tick_rate, {0x91, 60, 1}},
                        {20 + keep * tick_rate, {0x81, 60, 64}}});
}

// Four seconds of A4 on a drawbar organ (a steady tone) with full chorus send and no reverb,
// after the system messages in `setup`.
std::string steady_tone_song(const std::vector<Bytes>& setup)
{
    return song(setup, {{0, {0xC0, 16}}, {0, {0xB0, 0x5B, 0x00}}, {0, {0xB0, 0x5D, 0x7F}},
                        {10, {0x90, 69, 100}}, {10 + 4 * tick_rate, {0x80, 69, 64}}});
}

// The loudest over the quietest 50 ms RMS of the steady part (0.5 s to 3.5 s).
double beating(const Wave& w)
{
    std::vector<float> m = w.mono();
    if (w.rate == 0 || m.size() < (size_t)(7 * w.rate / 2))
        return 0;
    std::vector<float> part(m.begin() + w.rate / 2, m.begin() + 7 * w.rate / 2);
    std::vector<double> r = window_rms(part, (size_t)w.rate / 20);
    const double lo = *std::min_element(r.begin(), r.end());
    return *std::max_element(r.begin(), r.end()) / std::max(lo, 1e-9);
}

// What the effects add: the render with effects less the one without.
std::vector<float> difference(const Wave& with, const Wave& without)
{
    std::vector<float> a = with.mono(), b = without.mono(), d(std::min(a.size(), b.size()));
    for (size_t i = 0; i < d.size(); i++)
        d[i] = a[i] - b[i];
    return d;
}

double max_db(const std::vector<double>& rms, size_t from, size_t to)
{
    double m = 0;
    for (size_t k = from; k < std::min(to, rms.size()); k++)
        m = std::max(m, rms[k]);
    return to_db(m);
}

}  // namespace

using SongEffects = SongToolTest;

TEST_F(SongEffects, ReverbTailGrowsWithTheReverbTimeUnderEveryMacro)
{
    // Macros 0 to 4 (Room 1 to 3, Hall 1 and 2, all of the comb-and-allpass kind), each with
    // three reverb times; and the power-on reverb.
    const int times[3] = {40, 80, 96};
    auto name = [](int macro, int time) {
        return "m" + std::to_string(macro) + "t" + std::to_string(time);
    };
    for (int m = 0; m <= 4; m++)
        for (int t : times)
            dir.write(name(m, t) + ".mid",
                      short_note_song({gs_sysex(0x40, 0x01, 0x30, {(uint8_t)m}),
                                       gs_sysex(0x40, 0x01, 0x34, {(uint8_t)t})}));
    dir.write("plain.mid", short_note_song({}));
    const std::string dry_dir = dir.mkdir("dry");
    ToolRun r = render("*.mid");
    ASSERT_EQ(r.status, 0) << r.err;
    r = run_tool(dry_dir, "-c '" + config + "' --reverb=0 ../*.mid", scratch);
    ASSERT_EQ(r.status, 0) << r.err;

    // Seconds for the reverb's answer to fall 30 dB, before the silent note.
    auto decay = [&](const std::string& n) {
        Wave fx = read_wave(dir.file(n + ".wav")), dry = read_wave(dry_dir + "/" + n + ".wav");
        EXPECT_EQ(fx.left.size(), dry.left.size()) << n;
        return decay_seconds(difference(fx, dry), fx.rate, 30.0, 0, (size_t)fx.rate * 7);
    };
    double d[5][3];
    for (int m = 0; m <= 4; m++) {
        for (int k = 0; k < 3; k++) {
            d[m][k] = decay(name(m, times[k]));
            EXPECT_GT(d[m][k], 0.1) << name(m, times[k]);
        }
        EXPECT_GT(d[m][1], 1.15 * d[m][0]) << "macro " << m;
        EXPECT_GT(d[m][2], 1.15 * d[m][1]) << "macro " << m;
    }
    // At one reverb time the characters' own times set the order: Room 1, Room 3, Hall 1,
    // Hall 2.
    for (int k = 1; k < 3; k++) {
        EXPECT_LT(d[0][k], d[2][k]) << times[k];
        EXPECT_LT(d[2][k], d[3][k]) << times[k];
        EXPECT_LT(d[3][k], d[4][k]) << times[k];
    }

    // The power-on reverb: after half a second the block has died away without reverb, and
    // with it the tail is still well above that and falling.
    Wave fx = read_wave(dir.file("plain.wav")), dry = read_wave(dry_dir + "/plain.wav");
    const size_t win = (size_t)fx.rate / 100;
    std::vector<double> with = window_rms(fx.mono(), win), without = window_rms(dry.mono(), win);
    ASSERT_GT(with.size(), 700u);
    EXPECT_LT(max_db(without, 50, 700), -75.0);
    EXPECT_GT(max_db(with, 50, 60), -55.0);
    EXPECT_GT(max_db(with, 50, 60), max_db(with, 200, 210) + 20.0);
}

TEST_F(SongEffects, ChorusBeatsAgainstASteadyTone)
{
    dir.write("gs.mid", steady_tone_song({gs_reset()}));
    dir.write("xg.mid", steady_tone_song({xg_system_on()}));  // XG Chorus 1 at power-on
    dir.write("xg_none.mid",
              steady_tone_song({xg_system_on(), xg_sysex(0x02, 0x01, 0x20, {0x00, 0x00})}));
    const std::string dry_dir = dir.mkdir("dry");
    ToolRun r = render("gs.mid xg.mid xg_none.mid");
    ASSERT_EQ(r.status, 0) << r.err;
    r = run_tool(dry_dir, "-c '" + config + "' --chorus=0 ../gs.mid", scratch);
    ASSERT_EQ(r.status, 0) << r.err;

    // The delayed copy moves slowly against the tone: the level rises and falls.
    EXPECT_GT(beating(read_wave(dir.file("gs.wav"))), 1.3);
    EXPECT_GT(beating(read_wave(dir.file("xg.wav"))), 1.3);
    // Without chorus, or with the XG chorus type set to no effect, the tone stays steady.
    EXPECT_LT(beating(read_wave(dry_dir + "/gs.wav")), 1.1);
    EXPECT_LT(beating(read_wave(dir.file("xg_none.wav"))), 1.1);
}

TEST_F(SongEffects, WholeSongKeepsItsNotesAndRingsOnWithReverb)
{
    const std::string song = CORVELLE_TEST_DATA "/songs/5432gone_redfarn.mid";
    ToolRun r = render("-o fx.wav '" + song + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    r = render("--reverb=0 --chorus=0 -o dry.wav '" + song + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    Wave fx = read_wave(dir.file("fx.wav")), dry = read_wave(dir.file("dry.wav"));
    ASSERT_GT(fx.rate, 0);
    ASSERT_EQ(fx.left.size(), dry.left.size());
    const std::vector<float> fm = fx.mono(), dm = dry.mono();

    // The same onsets: nearly every onset of one render has one within 30 ms in the other.
    std::vector<double> fo = onsets(fm, fx.rate), dro = onsets(dm, dry.rate);
    ASSERT_GT(dro.size(), 100u);
    EXPECT_GT(matched_share(fo, dro, 0.03), 0.95);
    EXPECT_GT(matched_share(dro, fo, 0.03), 0.95);

    // The same pitches: frame by frame (93 ms), the pitch classes carry their energy in the
    // same proportions.
    const size_t cn = 8192;
    std::vector<Chroma> fc = pitch_class_energy(spectrogram(fm, cn, cn / 2), cn, fx.rate);
    std::vector<Chroma> dc = pitch_class_energy(spectrogram(dm, cn, cn / 2), cn, dry.rate);
    const double loudest = loudest_chroma(dc);
    double sum = 0;
    int frames = 0;
    for (size_t i = 0; i < std::min(fc.size(), dc.size()); i++) {
        if (chroma_total(dc[i]) < loudest * 1e-3)
            continue;
        sum += cosine(fc[i], dc[i]);
        frames++;
    }
    ASSERT_GT(frames, 300);
    EXPECT_GT(sum / frames, 0.95);

    // Half a second after the last note the reverb still adds a tail well above the floor
    // of the output.
    const SongEvents notes = read_song(song);
    ASSERT_GT(notes.last_note, 0);
    const double last_note = notes.last_note / 44100.0;
    const size_t win = (size_t)fx.rate / 100, at = (size_t)((last_note + 0.5) * 100);
    std::vector<double> wet = window_rms(difference(fx, dry), win);
    ASSERT_GT(wet.size(), at + 5);
    EXPECT_GT(max_db(wet, at, at + 5), -60.0);
}
