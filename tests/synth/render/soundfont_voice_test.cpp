// A SoundFont voice's own effect sends, its two-pole filter and its pitch modulation in a block.
#include "instrum/sf2_reader.h"
#include "instrum/soundfont_instruments.h"
#include "render/voice_filter.h"
#include "synth/render/voice_sound.h"

namespace {

class SoundFontVoice : public VoiceSound {
protected:
    // The default modulators but bend and pan, which the engine plays itself as for patches.
    SF2ModList mods;

    void SetUp() override
    {
        VoiceSound::SetUp();
        init_modenv_vol_table();
        for (int i = 0; i < SF2_DEFAULT_MODULATORS; i++)
            if (i != SF2_DEFAULT_BEND && i != SF2_DEFAULT_PAN)
                mods.mod.push_back(sf2_default_modulators[i]);
    }
    // The tone as a patch or a zone with these sends (tenths of a percent) and cutoff (Hz, 0: none).
    void as_zone(bool soundfont, int reverb = 0, int chorus = 0, int cutoff = 0)
    {
        tone.s.inst_type = (int8)(soundfont ? INST_SF2 : INST_GUS);
        tone.s.sf_mods = soundfont ? &mods : nullptr;
        tone.s.sf_reverb_send = (int16)reverb, tone.s.sf_chorus_send = (int16)chorus;
        tone.s.sf_chorus_return = 1;  // the chorus as a channel's send feeds it
        tone.s.cutoff_freq = cutoff;
    }
    // Interleaved stereo of 30000 frames of the events on channels 0 and 1, both playing the tone.
    std::vector<int32> render(const std::vector<MidiEvent>& evs, bool reverb, bool chorus)
    {
        Restore<int> r(opt_reverb_control, reverb ? 1 : 0), c(opt_chorus_control, chorus ? 1 : 0);
        init_effect();
        reset_voices();
        prepare_channel();
        reset_controllers(1);
        channel[1].special_sample = 1, channel[1].volume = 127;
        play(evs, 30000);
        return recorded();
    }
    // The controller events `sends` and the notes rendered with one effect on, split into its
    // return and the dry sound: the same render with every send (zone's and controllers') at 0.
    struct Split { std::vector<int32> wet, dry; };
    Split split(bool soundfont, bool reverb, int zone, std::vector<MidiEvent> sends,
                const std::vector<MidiEvent>& notes)
    {
        const size_t n = sends.size();
        sends.insert(sends.end(), notes.begin(), notes.end());
        as_zone(soundfont, reverb ? zone : 0, reverb ? 0 : zone);
        const std::vector<int32> on = render(sends, reverb, !reverb);
        for (size_t i = 0; i < n; i++)
            sends[i].a = 0;
        as_zone(soundfont);
        const std::vector<int32> dry = render(sends, reverb, !reverb);
        return Split{minus(on, dry), dry};
    }
    // Of one note, the effect's return over the dry sound (RMS over the frames [8000, 28000)).
    double wet_over_dry(bool soundfont, bool reverb, int zone, int controller)
    {
        const Split s = split(soundfont, reverb, zone,
                              {cc(0, reverb ? ME_REVERB_EFFECT : ME_CHORUS_EFFECT, 0, controller)},
                              {make_event(0, ME_NOTEON, 0, 69, 127)});
        return rms(s.wet, 16000, 56000) / rms(s.dry, 16000, 56000);
    }
    static std::vector<int32> minus(const std::vector<int32>& a, const std::vector<int32>& b)
    {
        std::vector<int32> d(std::min(a.size(), b.size()));
        for (size_t i = 0; i < d.size(); i++)
            d[i] = a[i] - b[i];
        return d;
    }
    static MidiEvent cc(int32 t, int type, int ch, int v) { return make_event(t, type, ch, v, 0); }
};

// Each row: the share of a voice's sound that reaches one effect. A patch voice at send level
// 127 gives share 1, and the effects are linear: the ratio of returns is the ratio of shares.
TEST_F(SoundFontVoice, ReachesTheEffectsByItsZonesSendsWithTheControllersAdded)
{
    // reverb: the effect measured (the other is off); zone: its send (tenths); cc: CC91 or CC93.
    const struct { const char* what; bool soundfont, reverb; int zone, cc; double share; } rows[] = {
        {"a 50 % chorus send with CC93 at 0", true, false, 500, 0, 0.5},
        {"no chorus send, CC93 at 127 adds 20 %", true, false, 0, 127, 0.2},
        {"CC93 at 64 adds about 10 %", true, false, 200, 64, 0.2 + 0.2 * 64 / 127},
        {"90 % and 20 % are held at 100 %", true, false, 900, 127, 1.0},
        {"a 30 % reverb send with CC91 at 0", true, true, 300, 0, 0.3},
        {"no reverb send, CC91 at 127 adds 20 %", true, true, 0, 127, 0.2},
        {"a patch follows CC93", false, false, 0, 64, 64.0 / 127},
        {"a patch follows CC91", false, true, 0, 32, 32.0 / 127},
    };
    double whole[2];  // wet over dry at share 1: chorus, reverb
    for (bool reverb : {false, true}) {
        whole[reverb] = wet_over_dry(false, reverb, 0, 127);
        ASSERT_GT(whole[reverb], 0.05) << "the effect returns next to nothing";
    }
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_NEAR(wet_over_dry(row.soundfont, row.reverb, row.zone, row.cc) / whole[row.reverb],
                    row.share, 0.01 + 0.01 * row.share);
    }
}

TEST_F(SoundFontVoice, FollowsItsChannelsControllerAndKeepsItsSendsBesideOthers)
{
    const MidiEvent a = make_event(0, ME_NOTEON, 0, 69, 127), b = make_event(0, ME_NOTEON, 1, 76, 127);
    const Split later = split(true, false, 0, {cc(15000, ME_CHORUS_EFFECT, 0, 127)}, {a});
    EXPECT_EQ(rms(later.wet, 0, 30000), 0.0) << "chorus before CC93";
    EXPECT_GT(rms(later.wet, 40000, 60000), 0.05 * rms(later.dry, 40000, 60000))
        << "no chorus after CC93";

    // Channel 0 at 50 %, channel 1 at 50 % + 20 %: together, the returns of each alone add up.
    auto wet_of = [&](const std::vector<MidiEvent>& notes) {
        return split(true, false, 500, {cc(0, ME_CHORUS_EFFECT, 1, 127)}, notes).wet;
    };
    const std::vector<int32> both = wet_of({a, b}), first = wet_of({a}), second = wet_of({b});
    const std::vector<int32> rest = minus(minus(both, first), second);
    EXPECT_LT(to_db(rms(rest, 16000, 56000) / rms(both, 16000, 56000)), -40.0);
    EXPECT_GT(to_db(rms(second, 16000, 56000) / rms(first, 16000, 56000)), 1.5)
        << "the second voice's larger send";
}

// The modulation envelope and LFO move the pitch within one block of 4096 frames: short windows
// inside one block hear different pitches, where a pitch set once a block would be the same.
TEST_F(SoundFontVoice, ModulationMovesThePitchWithinABlock)
{
    // The envelope or the LFO, the block measured, the cents from the lowest window to the highest.
    const struct { const char* what; bool envelope; int block; double least; } rows[] = {
        {"envelope", true, 0, 600}, {"LFO", false, 1, 100}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        as_zone(true);
        tone.s.modenv_to_pitch = (int16)(row.envelope ? 1200 : 0);
        tone.s.tremolo_to_pitch = (int16)(row.envelope ? 0 : 100);
        mods.mod_lfo_to_pitch = row.envelope ? 0 : 100;
        mods.mod_lfo_increment = 262;  // 8 Hz at 44 samples a period
        const int32 offsets[6] = {FULL_LEVEL, FULL_LEVEL, 0, 0, 0, 0};
        const int32 rates[6] = {INSTANT_RATE, 1, FULL_LEVEL / 40, 1, 1, 1};
        for (int i = 0; i < 6; i++)
            tone.s.modenv_offset[i] = offsets[i], tone.s.modenv_rate[i] = rates[i];
        play_note(69, 127);
        std::vector<double> track;
        for (int at = row.block * 4096 + 96; at + 400 <= (row.block + 1) * 4096; at += 400)
            track.push_back(cents(pitch(at, at + 400), 441));
        EXPECT_GT(*std::max_element(track.begin(), track.end()) -
                      *std::min_element(track.begin(), track.end()),
                  row.least);
    }
}

// Gain in dB at f of a bilinear two-pole low-pass at fc with 0 dB at fc, at 44100 Hz.
double two_pole_db(double f, double fc)
{
    const double r = std::tan(M_PI * f / 44100) / std::tan(M_PI * fc / 44100);
    return -10 * std::log10((1 - r * r) * (1 - r * r) + r * r);
}

class TwoPoleFilter : public SoundFontVoice {
protected:
    static constexpr double tones[3] = {1000, 12000, 16000};
    void SetUp() override
    {
        SoundFontVoice::SetUp();
        // Three tones of equal amplitude, looped over 1764 frames: whole cycles of each.
        use_tone(44100, 44.1);
        for (size_t i = 0; i + 2 < tone.data.size(); i++) {
            double x = 0;
            for (double hz : tones)
                x += 8000 * std::sin(2 * M_PI * hz * (double)i / 44100);
            tone.data[i] = (sample_t)std::lround(x);
        }
        tone.s.root_freq = freq_table[69];  // note 69 plays the recording as it is
    }
    // The left side of note 69 at velocity 127 after the events, dry.
    std::vector<int32> note(bool soundfont, int cutoff, std::vector<MidiEvent> evs = {})
    {
        as_zone(soundfont, 0, 0, cutoff);
        evs.push_back(make_event(0, ME_NOTEON, 0, 69, 127));
        return side_of(render(evs, false, false), 0);
    }
    static double tone_db(const std::vector<int32>& x, double hz)
    {
        return to_db(tone_amplitude(x, 4410, 26460, hz));
    }
};

// A zone's filter at 8 kHz takes its two poles' share of each tone; at the top of the range it
// is open, just below it runs. A patch is unfiltered above a sixth of the rate, filtered below.
TEST_F(TwoPoleFilter, RunsBelowTheOpenCutoffWhilePatchesKeepTheirRule)
{
    const std::vector<int32> open = note(true, 0), at8k = note(true, 8000);
    for (double hz : tones)
        EXPECT_NEAR(tone_db(at8k, hz) - tone_db(open, hz), two_pole_db(hz, 8000), 1.0) << hz;
    EXPECT_EQ(note(true, SF_OPEN_CUTOFF_HZ), open);
    EXPECT_GT(std::abs(tone_db(note(true, 19000), 16000) - tone_db(open, 16000)), 0.3);

    const std::vector<int32> patch = note(false, 0);
    EXPECT_EQ(note(false, 8000), patch);
    EXPECT_LT(tone_db(note(false, 5000), 12000) - tone_db(patch, 12000), -6.0);
}

TEST_F(TwoPoleFilter, AnOpenVoiceFollowsAModulatorThatLowersItsCutoff)
{
    mods.mod.push_back({0x01CA, SF2_FILTER_FC, 0, 0, -9600});
    const std::vector<MidiEvent> brightness = {make_event(0, ME_BRIGHTNESS, 0, 127, 0),
                                               make_event(13230, ME_BRIGHTNESS, 0, 0, 0)};
    const std::vector<int32> x = note(true, SF_OPEN_CUTOFF_HZ, brightness);
    EXPECT_LT(to_db(tone_amplitude(x, 17640, 26460, 12000) / tone_amplitude(x, 4410, 13230, 12000)),
              -20);
}

}  // namespace
