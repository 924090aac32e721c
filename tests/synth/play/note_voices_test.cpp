// Notes driven through play_event into the voice pool, with small instruments made here.
#include <cstring>
#include <memory>
#include <set>

#include "config/tonebank.h"
#include "instrum/instrum.h"
#include "synth/play/player_fixture.h"

class NoteVoices : public PlayerTest {
protected:
    Sample low_high[2];  // split at the frequency of note 62
    Sample drum_sample;  // fixed note 36
    Instrument piano = {INST_GUS, 2, low_high, nullptr};
    Instrument drum = {INST_GUS, 1, &drum_sample, nullptr};
    std::vector<std::unique_ptr<Restore<Instrument*>>> slots;
    Restore<int> overlap_{opt_overlap_voice_allow, 0}, surround_{opt_surround_chorus, 0},
        temper_{opt_temper_control, 0}, pure_{opt_pure_intonation, 0}, pan_delay_{opt_pan_delay, 0},
        adjust_{temper_adj}, table_{current_freq_table}, verbosity_{ctl->verbosity, 1};
    Restore<int8> keysig_{current_temper_keysig};
    // A looped 16-bit sample with an instant attack to full level, held until release.
    static void make_sample(Sample& s, int32 low, int32 high, int note_to_use)
    {
        memset(&s, 0, sizeof(s));
        s.low_freq = low, s.high_freq = high, s.root_freq = freq_table[60], s.sample_rate = 44100;
        s.high_vel = 127, s.scale_factor = 1024, s.panning = 64, s.volume = 1.0;
        s.note_to_use = (int8)note_to_use, s.modes = MODES_16BIT | MODES_LOOPING | MODES_ENVELOPE;
        for (int i = 0; i < 3; i++) {
            s.envelope_rate[i] = 0x7FFFFFFF, s.envelope_offset[i] = 0x3FFFFFFF;
            s.envelope_rate[i + 3] = 1 << 20;
        }
        s.data_length = s.loop_end = 1000 << FRACTION_BITS, s.sample_type = SF_SAMPLETYPE_MONO;
    }
    void SetUp() override
    {
        PlayerTest::SetUp();
        make_sample(low_high[0], 0, freq_table[62], 0);
        make_sample(low_high[1], freq_table[62] + 1, 0x7fffffff, 0);
        make_sample(drum_sample, 0, 0x7fffffff, 36);
        alloc_instrument_bank(0, 0);
        alloc_instrument_bank(1, 0);
        for (Instrument** s : {&tonebank[0]->tone[0].instrument, &drumset[0]->tone[36].instrument,
                               &drumset[0]->tone[38].instrument})
            slots.emplace_back(new Restore<Instrument*>(*s, slots.empty() ? &piano : &drum));
        for (int ch = 0; ch < MAX_CHANNELS; ch++)
            channel[ch].program = 0;
    }
    void TearDown() override
    {
        reset_voices();
        slots.clear();
        init_freq_table_tuning();
        voices = max_voices;
        PlayerTest::TearDown();
    }
    static void ev(int type, int ch, int a, int b = 100)
    {
        MidiEvent e = make_event(0, type, ch, a, b);
        ASSERT_EQ(play_event(&e), RC_NONE);
    }
    // Records of the channel's key (any key with -1) that are in use, in index order.
    static std::vector<int> in_use(int ch, int note = -1)
    {
        std::vector<int> r;
        for (int i = 0; i < upper_voices; i++)
            if (voice[i].status != VOICE_FREE && voice[i].channel == ch && (note < 0 || voice[i].note == note))
                r.push_back(i);
        return r;
    }
    // The status of the key's voice started with this velocity (0: none).
    static int status_of(int ch, int note, int velocity)
    {
        for (int i : in_use(ch, note))
            if (voice[i].velocity == velocity)
                return voice[i].status;
        return 0;
    }
};

TEST_F(NoteVoices, SameKeyNotesAssignModesAndLimits)
{
    ev(ME_NOTEON, 0, 60, 100);
    ev(ME_NOTEON, 0, 60, 90);
    EXPECT_EQ(std::make_tuple(in_use(0, 60).size(), status_of(0, 60, 100), status_of(0, 60, 90)),
              std::make_tuple(2u, VOICE_DIE, VOICE_ON));
    // Overlapping notes of one key end in the order they started.
    opt_overlap_voice_allow = 1;
    ev(ME_NOTEON, 1, 60, 100);
    ev(ME_NOTEON, 1, 60, 90);
    ASSERT_EQ(in_use(1, 60).size(), 2u);
    ev(ME_NOTEOFF, 1, 60, 0);
    EXPECT_EQ(std::make_tuple(status_of(1, 60, 100), status_of(1, 60, 90)),
              std::make_tuple(VOICE_OFF, VOICE_ON));
    ev(ME_NOTEOFF, 1, 60, 0);
    EXPECT_EQ(status_of(1, 60, 90), VOICE_OFF);
    ev(ME_NOTEOFF, 1, 60, 0);  // a third finds no note of the key left to end
    EXPECT_EQ(vidq_tail[1 * 128 + 60], 2);
    // Limited multi: two voices of a key at most.
    channel[2].assign_mode = 1;
    for (int velocity : {100, 90, 80})
        ev(ME_NOTEON, 2, 60, velocity);
    EXPECT_EQ((std::vector<int>{status_of(2, 60, 100), status_of(2, 60, 90), status_of(2, 60, 80)}),
              (std::vector<int>{VOICE_DIE, VOICE_ON, VOICE_ON}));
    ASSERT_EQ(in_use(2, 60).size(), 3u);
    EXPECT_EQ(std::make_tuple(voice[in_use(2, 60)[1]].newest_of_note, voice[in_use(2, 60)[2]].newest_of_note),
              std::make_tuple(0, 1));
    // Keys of one alternate-assign group end each other; other keys do not.
    AlternateAssign group = {};
    group.bits[60 / 32] |= 1u << (60 % 32) | 1u << (62 % 32), channel[3].altassign = &group;
    for (int key : {60, 62, 64})
        ev(ME_NOTEON, 3, key);
    EXPECT_EQ(std::make_tuple(voice[in_use(3, 60)[0]].status, voice[in_use(3, 62)[0]].status),
              std::make_tuple(VOICE_DIE, VOICE_ON));
    // Notes outside the channel's ranges start nothing and use no note number.
    channel[4].note_limit_low = 48, channel[4].note_limit_high = 72;
    channel[4].vel_limit_low = 20, channel[4].vel_limit_high = 120;
    ev(ME_NOTEON, 4, 40, 100);
    ev(ME_NOTEON, 4, 60, 121);
    EXPECT_TRUE(in_use(4).empty());
    EXPECT_EQ(vidq_head[4 * 128 + 40] + vidq_head[4 * 128 + 60], 0);
    ev(ME_NOTEON, 4, 60, 120);
    EXPECT_EQ(std::make_tuple(in_use(4).size(), vidq_head[4 * 128 + 60]), std::make_tuple(1u, 1));
    // A drum set's groups reach its channel at a reset.
    group.bits[36 / 32] = 1u << (36 % 32) | 1u << (38 % 32);
    Restore alt(drumset[0]->alt, &group);
    reset_midi(0);
    ev(ME_NOTEON, 9, 36);
    ev(ME_NOTEON, 9, 38);
    EXPECT_EQ(voice[in_use(9, 36)[0]].status, VOICE_DIE);
    // The drum set's send levels reach the note's settings, key 0 too.
    Restore send(drumset[0]->tone[0].reverb_send, 40);
    recompute_bank_parameter(9, 0);
    ASSERT_NE(channel[9].drums[0], nullptr);
    EXPECT_EQ(channel[9].drums[0]->reverb_level, 40);
    // An instrument with more layers on a key than a note may have voices starts no more.
    std::vector<Sample> layers(MAX_VOICES_PER_NOTE + 8);
    for (Sample& s : layers)
        make_sample(s, 0, 0x7fffffff, 0);
    int vlist[MAX_VOICES_PER_NOTE + 8], note = 60;
    MidiEvent e = make_event(0, ME_NOTEON, 0, 60, 100);
    EXPECT_EQ(select_play_sample(layers.data(), (int)layers.size(), &note, vlist, &e), MAX_VOICES_PER_NOTE);
}

TEST_F(NoteVoices, StealingTakesReleasedNotesFirstAndDrumsLast)
{
    voices = 3;
    for (int note : {60, 62, 64})
        ev(ME_NOTEON, 0, note);
    const int quiet_held = in_use(0, 60)[0], released = in_use(0, 62)[0];
    ev(ME_NOTEOFF, 0, 62, 0);
    voice[quiet_held].left_mix = 100, voice[released].left_mix = 900;
    voice[in_use(0, 64)[0]].left_mix = 500;
    int32 cut = cut_notes;
    ev(ME_NOTEON, 0, 65);
    EXPECT_EQ(std::make_tuple(voice[released].note, voice[released].status, voice[quiet_held].status,
                              cut_notes),
              std::make_tuple(65, VOICE_ON, VOICE_ON, cut + 1));
    // A released note goes before a quieter dying one, a dying one before a quieter held one.
    ev(ME_NOTEOFF, 0, 60, 0);
    voice[2].status = VOICE_DIE;
    voice[0].left_mix = 100, voice[1].left_mix = 10, voice[2].left_mix = 50;
    ev(ME_NOTEON, 0, 67);
    EXPECT_EQ(voice[0].note, 67);
    ev(ME_NOTEON, 0, 69);
    EXPECT_EQ((std::vector<int>{voice[1].note, voice[2].note}), (std::vector<int>{65, 69}));
    EXPECT_EQ(cut_notes, cut + 3);
    // A released drum note with a fixed note outlasts a louder held melodic note ...
    reset_voices();
    voices = 2;
    ev(ME_NOTEON, 9, 36);
    ev(ME_NOTEON, 0, 60);
    const int drum36 = in_use(9, 36)[0], melodic = in_use(0, 60)[0];
    ev(ME_NOTEOFF, 9, 36, 0);
    ASSERT_EQ(voice[drum36].status, VOICE_OFF);
    voice[drum36].left_mix = 10, voice[melodic].left_mix = 900;
    int32 lost = lost_notes;
    ev(ME_NOTEON, 0, 62);
    EXPECT_EQ(std::make_tuple(voice[melodic].note, voice[drum36].status, lost_notes),
              std::make_tuple(62, VOICE_OFF, lost + 1));
    // ... and goes only when every voice is such a drum note.
    free_voice(melodic);
    ev(ME_NOTEON, 9, 38);
    ev(ME_NOTEOFF, 9, 38, 0);
    voice[in_use(9, 38)[0]].left_mix = 50;
    ev(ME_NOTEON, 0, 64);
    EXPECT_EQ(std::make_tuple(voice[drum36].note, in_use(9, 38).size(), lost_notes),
              std::make_tuple(64, 1u, lost + 2));
    // Sostenuto holds only the notes sounding when it is pressed.
    reset_voices();
    voices = 8;
    ev(ME_NOTEON, 0, 60);
    ev(ME_SOSTENUTO, 0, 127);
    ev(ME_NOTEON, 0, 64);
    const int held = in_use(0, 60)[0], later = in_use(0, 64)[0];
    ev(ME_NOTEOFF, 0, 60, 0);
    ev(ME_NOTEOFF, 0, 64, 0);
    EXPECT_EQ(std::make_tuple(voice[held].status, voice[later].status),
              std::make_tuple(VOICE_SUSTAINED, VOICE_OFF));
    ev(ME_SOSTENUTO, 0, 0);
    EXPECT_EQ(voice[held].status, VOICE_OFF);
    // In damper mode the sustain pedal at 64 already holds the sounding notes.
    ev(ME_NOTEON, 0, 67);
    channel[0].damper_mode = 1;
    ev(ME_SUSTAIN, 0, 64);
    EXPECT_EQ(voice[in_use(0, 67)[0]].status, VOICE_SUSTAINED);
}

TEST_F(NoteVoices, ShrinkingThePoolStealsReleasingVoicesThenLosesHeldOnes)
{
    voices = 4;
    for (int note : {60, 62, 64, 65})
        ev(ME_NOTEON, 0, note);
    voice_decrement_conservative(2);  // every note held: it cuts none and gives up
    EXPECT_EQ(voices, 4);
    ev(ME_NOTEOFF, 0, 62, 0);
    ev(ME_NOTEOFF, 0, 64, 0);
    voice[in_use(0, 62)[0]].left_mix = 300;
    voice[in_use(0, 64)[0]].left_mix = 200;
    int32 cut = cut_notes, lost = lost_notes;
    voice_decrement(1);  // the quieter released note (64) makes room for the top voice
    EXPECT_EQ(std::make_tuple(voices, in_use(0, 64), in_use(0, 65)),
              std::make_tuple(3, std::vector<int>{}, std::vector<int>{2}));
    voice_decrement(2);  // 62 goes, then only held notes are left: the top one is lost
    EXPECT_EQ(std::make_tuple(voices, cut_notes, lost_notes), std::make_tuple(1, cut + 2, lost + 1));
    EXPECT_EQ(in_use(0), std::vector<int>{0});
    EXPECT_LE(upper_voices, 1);
    restore_voices(1);
    voice_increment(3);
    restore_voices(0);
    EXPECT_EQ(voices, 1);
}

TEST_F(NoteVoices, MovedVoicesKeepTheirPartnerAndOwnTheirPanDelay)
{
    opt_pan_delay = 1;
    ev(ME_PAN, 0, 20, 0);
    voices = 3;
    for (int note : {60, 62, 64})
        ev(ME_NOTEON, 0, note);
    ASSERT_NE(voice[2].pan_delay_buf, nullptr);
    free_voice(0);
    voice_decrement(1);  // 64 moves from record 2 to record 0
    voice_increment(1);
    ev(ME_NOTEON, 0, 67);  // record 2 again
    const std::set<int32*> rings = {voice[0].pan_delay_buf, voice[1].pan_delay_buf, voice[2].pan_delay_buf};
    EXPECT_EQ(rings.size(), 3u);
    // No ring while pan delay is off, nor on a part that goes through the insertion effect.
    reset_voices();
    for (int on : {0, 1}) {
        opt_pan_delay = on, channel[0].insertion_effect = (int8)on;
        ev(ME_NOTEON, 0, 70 + on);
        EXPECT_EQ(voice[in_use(0, 70 + on)[0]].pan_delay_buf, nullptr) << on;
    }
    channel[0].insertion_effect = 0;
    reset_voices();
    opt_pan_delay = 0, opt_surround_chorus = 1, voices = 4;
    ev(ME_NOTEON, 0, 50);  // pair in records 0 and 1
    ev(ME_NOTEON, 0, 60);  // pair in records 2 and 3
    free_voice(0), free_voice(1);
    voice_decrement(1);  // record 3 moves to record 0
    EXPECT_EQ(std::make_tuple(voice[0].chorus_link, voice[2].chorus_link), std::make_tuple(2, 0));
}

TEST_F(NoteVoices, SurroundChorusPairsAndStealingOneHalf)
{
    opt_surround_chorus = 1;
    ev(ME_NOTEON, 0, 60);
    std::vector<int> pair = in_use(0, 60);
    ASSERT_EQ(pair.size(), 2u);
    Voice &a = voice[pair[0]], &b = voice[pair[1]];
    // Half the velocity each, linked, spread to both sides, 3 ms apart.
    EXPECT_EQ((std::vector<int>{a.velocity, b.velocity, a.chorus_link, b.chorus_link, a.panning, b.panning}),
              (std::vector<int>{70, 70, pair[1], pair[0], 1, 127}));
    EXPECT_EQ(abs(a.delay - b.delay), 132);
    // Stealing the upper half gives the other the whole velocity, back in the middle.
    EXPECT_EQ(reduce_voice(), pair[1]);
    EXPECT_EQ((std::vector<int>{a.velocity, a.panning, a.chorus_link}), (std::vector<int>{140, 64, pair[0]}));
    ev(ME_PAN, 1, 40, 0);
    ev(ME_NOTEON, 1, 62, 99);
    std::vector<int> second = in_use(1, 62);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(voice[second[0]].velocity, 69);
    EXPECT_EQ(reduce_voice(), second[1]);
    EXPECT_EQ(voice[second[0]].panning, 40);

    // Past record 255 a pair still names its own partner; freeing it leaves others' links.
    max_voices = voices = 300;
    corvelle_init_player();
    for (int i = 0; i < 256; i++)
        sounding_voice(2, 40);
    ev(ME_NOTEON, 0, 60);
    EXPECT_EQ((std::vector<int>{voice[256].chorus_link, voice[257].chorus_link}),
              (std::vector<int>{257, 256}));
    free_voice(256);
    EXPECT_EQ((std::vector<int>{voice[0].chorus_link, voice[1].chorus_link, voice[257].chorus_link}),
              (std::vector<int>{0, 1, 257}));
}

TEST_F(NoteVoices, FrequencyComesFromTheChannelsTemperament)
{
    opt_temper_control = 1;
    auto started = [](int ch, int note) {
        ev(ME_NOTEON, ch, note);
        for (int v : in_use(ch, note))
            if (voice[v].status == VOICE_ON)
                return v;
        return -1;
    };
    // Each case marks the one table entry its key signature and type must read.
    const struct { int type, keysig_event; int32* (*entry)(int r); } cases[] = {
        {1, 10, [](int r) { return &freq_table_pytha[r + 12][60]; }},        // minor
        {2, 2, [](int r) { return &freq_table_meantone[r][60]; }},          // major
        {3, 40, [](int r) { return &freq_table_pureint[r + 24][60]; }},     // minor, adjusted
        {0x41, 26, [](int r) { return &freq_table_user[1][r + 36][60]; }},  // major, adjusted
    };
    int32 mark = 300000;
    for (const auto& c : cases) {
        ev(ME_TEMPER_KEYSIG, 0, c.keysig_event, 0);
        ev(ME_TEMPER_TYPE, 0, c.type, 0);
        Restore marked(*c.entry(current_freq_table), ++mark);
        int v = started(0, 60);
        ASSERT_GE(v, 0) << c.type;
        EXPECT_EQ(voice[v].orig_frequency, mark) << c.type;
    }
    // Drum notes keep equal temperament.
    ev(ME_TEMPER_TYPE, 9, 2, 0);
    int drum = started(9, 36);
    ASSERT_GE(drum, 0);
    EXPECT_EQ(voice[drum].orig_frequency, freq_table[36]);
    // A tuning program moves the note's pitch, and the sample is chosen for that pitch.
    ev(ME_TEMPER_TYPE, 0, 0, 0);
    channel[0].rpnmap[RPN_ADDR_0003] = 5, freq_table_tuning[5][60] = freq_table[64];
    int tuned = started(0, 60);
    ASSERT_GE(tuned, 0);
    EXPECT_EQ(std::make_tuple(voice[tuned].orig_frequency, voice[tuned].sample),
              std::make_tuple(freq_table[64], &low_high[1]));
    // A note without a frequency in the tuning is reported, not played; its neighbour plays quietly.
    Restore no_frequency(freq_table_tuning[5][61], 0);
    std::string err = stderr_of([&] { EXPECT_EQ(started(0, 61), -1); });
    EXPECT_NE(err.find("note 61: no frequency"), std::string::npos) << err;
    EXPECT_EQ(stderr_of([&] { EXPECT_GE(started(0, 59), 0); }), "");
}
