// The patch loader on small patch files written by the tests: file forms, waveform
// conversion, loops, overrides, unit conversions, the cache, and damaged files.
#include "instrum_fixture.h"

#include <cstdio>
#include <vector>

namespace {

// A 16-bit signed sample of n ramp values with a forward loop over [ls, le) in samples.
TestSample looped16(size_t n, uint32_t ls, uint32_t le)
{
    TestSample s;
    s.data = pcm16(ramp16(n));
    s.loop_start = ls * 2;
    s.loop_end = le * 2;
    s.modes = MODES_16BIT | MODES_LOOPING | MODES_SUSTAIN | MODES_ENVELOPE;
    return s;
}

TestPatch one_sample(const TestSample& s)
{
    TestPatch p;
    p.samples.push_back(s);
    return p;
}

void expect_same_samples(const Instrument* a, const Instrument* b)
{
    ASSERT_EQ(a->samples, b->samples);
    for (int i = 0; i < a->samples; i++) {
        const Sample& x = a->sample[i];
        const Sample& y = b->sample[i];
        EXPECT_EQ(x.data_length, y.data_length);
        EXPECT_EQ(x.loop_start, y.loop_start);
        EXPECT_EQ(x.loop_end, y.loop_end);
        EXPECT_EQ(x.sample_rate, y.sample_rate);
        EXPECT_EQ(x.root_freq, y.root_freq);
        EXPECT_EQ(x.modes, y.modes);
        EXPECT_EQ(x.panning, y.panning);
        EXPECT_EQ(x.volume, y.volume);
        EXPECT_EQ(0, memcmp(x.envelope_rate, y.envelope_rate, sizeof(x.envelope_rate)));
        EXPECT_EQ(0, memcmp(x.data, y.data, ((x.data_length >> FRACTION_BITS) + 2) * 2));
    }
}

}  // namespace

TEST_F(InstrumTest, PrefixedAndOlderVersionLoadLikeTheBarePatch)
{
    TestPatch p;
    p.samples.push_back(looped16(500, 10, 400));
    TestSample second = looped16(300, 0, 300);
    second.modes = 0;  // 8-bit signed, no loop
    second.data = std::string(300, '\x10');
    p.samples.push_back(second);

    std::string bare = write_patch("bare.pat", p);
    p.prefix = true;
    std::string prefixed = write_patch("prefixed.pat", p);
    p.prefix = false;
    p.magic = "GF1PATCH100";
    std::string older = write_patch("older.pat", p);

    std::string m1, m2, m3;
    Instrument* a = load(bare, &m1);
    Instrument* b = load(prefixed, &m2);
    Instrument* c = load(older, &m3);
    ASSERT_NE(a, nullptr) << m1;
    ASSERT_NE(b, nullptr) << m2;
    ASSERT_NE(c, nullptr) << m3;
    EXPECT_EQ(m1 + m2 + m3, "");
    EXPECT_EQ(a->type, INST_GUS);
    EXPECT_EQ(a->instname, nullptr);
    EXPECT_EQ(a->samples, 2);
    expect_same_samples(a, b);
    expect_same_samples(a, c);

    // Something else at the start is not a patch.
    p.magic = "GF1PATCH200";
    std::string msg;
    EXPECT_EQ(load(write_patch("newer.pat", p), &msg), nullptr);
    EXPECT_TRUE(contains(msg, "newer.pat: not an instrument")) << msg;
}

TEST_F(InstrumTest, WaveformsBecomeSigned16Bit)
{
    struct Case {
        uint8_t modes;
        std::string bytes;
        std::vector<int16_t> expected;
    } cases[] = {
        // 8-bit unsigned: 0x80 is the centre, 0x00 and 0xFF the extremes.
        {MODES_UNSIGNED, std::string("\x80\x80\x80\x80\x00\xff", 6), {0, 0, 0, 0, -32768, 0x7f00}},
        // 8-bit signed
        {0, std::string("\x00\x7f\x80\xff", 4), {0, 0x7f00, -32768, -256}},
        // 16-bit unsigned, little-endian
        {MODES_16BIT | MODES_UNSIGNED, std::string("\x00\x80\x00\x00\xff\xff", 6), {0, -32768, 32767}},
        // 16-bit signed
        {MODES_16BIT, std::string("\x34\x12\x00\x80\xff\xff", 6), {0x1234, -32768, -1}},
    };
    int k = 0;
    for (const Case& c : cases) {
        TestSample s;
        s.modes = c.modes | MODES_LOOPING;  // looping: the last sample keeps its value
        s.data = c.bytes;
        s.loop_start = 0;
        s.loop_end = (uint32_t)c.bytes.size();
        std::string msg;
        Instrument* ip = load(write_patch("w" + std::to_string(k++) + ".pat", one_sample(s)), &msg);
        ASSERT_NE(ip, nullptr) << msg;
        const Sample& sp = ip->sample[0];
        size_t n = c.expected.size();
        ASSERT_EQ(sp.data_length, (splen_t)n << FRACTION_BITS);
        for (size_t i = 0; i < n; i++)
            EXPECT_EQ(sp.data[i], c.expected[i]) << "mode " << (int)c.modes << " sample " << i;
        EXPECT_EQ(sp.data[n], 0);
        EXPECT_EQ(sp.data[n + 1], 0);
        EXPECT_EQ(sp.modes & (MODES_16BIT | MODES_UNSIGNED), MODES_16BIT);
        EXPECT_EQ(sp.data_alloced, 1);
    }

    // 8-bit loop points are in bytes of 8-bit data, so they stay the same sample positions.
    TestSample s;
    s.modes = MODES_LOOPING;
    s.data = std::string(1000, '\x01');
    s.loop_start = 100;
    s.loop_end = 900;
    std::string msg;
    Instrument* ip = load(write_patch("eight.pat", one_sample(s)), &msg);
    ASSERT_NE(ip, nullptr) << msg;
    EXPECT_EQ(ip->sample[0].loop_start, 100u << FRACTION_BITS);
    EXPECT_EQ(ip->sample[0].loop_end, 900u << FRACTION_BITS);
}

TEST_F(InstrumTest, ReversedLoopBecomesForwardLoopOverMirroredData)
{
    const std::vector<int16_t> src = ramp16(1000);
    for (auto range : {std::make_pair(100u, 900u), std::make_pair(100u, 700u)}) {
        TestSample s = looped16(1000, range.first, range.second);
        s.modes |= MODES_REVERSE;
        std::string msg;
        std::string name = write_patch("rev" + std::to_string(range.second) + ".pat", one_sample(s));
        Instrument* ip = load(name, &msg);
        ASSERT_NE(ip, nullptr) << msg;
        EXPECT_TRUE(contains(msg, "Reverse loop in " + name)) << msg;
        const Sample& sp = ip->sample[0];
        EXPECT_EQ(sp.modes & (MODES_REVERSE | MODES_LOOPING), MODES_LOOPING);
        EXPECT_EQ(sp.loop_start, (1000 - range.second) << FRACTION_BITS);
        EXPECT_EQ(sp.loop_end, (1000 - range.first) << FRACTION_BITS);
        for (int i = 0; i < 1000; i++)
            ASSERT_EQ(sp.data[i], src[999 - i]) << i;
    }
}

TEST_F(InstrumTest, LoopPointsInFixedPointAndUnloopedSamplesEndInSilence)
{
    TestSample s = looped16(1000, 100, 900);
    s.fractions = 0x53;  // loop start + 3/16, loop end + 5/16
    TestSample plain = looped16(50, 10, 20);
    plain.modes = MODES_16BIT;  // the loop points of an unlooped sample are not used
    plain.data = pcm16(std::vector<int16_t>(50, 1234));
    TestPatch p;
    p.samples = {s, plain};
    std::string msg;
    Instrument* ip = load(write_patch("fix.pat", p), &msg);
    ASSERT_NE(ip, nullptr) << msg;

    const Sample& a = ip->sample[0];
    EXPECT_EQ(a.data_length, 1000u << 12);
    EXPECT_EQ(a.loop_start, (100u << 12) + 3 * 256);
    EXPECT_EQ(a.loop_end, (900u << 12) + 5 * 256);

    const Sample& b = ip->sample[1];
    EXPECT_EQ(b.data_length, 50u << 12);
    EXPECT_EQ(b.loop_start, 49u << 12);
    EXPECT_EQ(b.loop_end, 50u << 12);
    EXPECT_EQ(b.data[48], 1234);
    EXPECT_EQ(b.data[49], 0);
    EXPECT_EQ(b.modes & (MODES_LOOPING | MODES_SUSTAIN | MODES_ENVELOPE), 0);
}

TEST_F(InstrumTest, DrumPatchWithoutNotePlaysAtItsOwnNoteWithoutLoopOrEnvelope)
{
    TestSample s = looped16(400, 50, 350);
    std::string name = write_patch("snare.pat", one_sample(s));
    TestBank drums;
    drums[38].name = nullptr;

    std::string msg;
    Instrument* ip = load(name, &msg, drums.get(), 1, 38);
    ASSERT_NE(ip, nullptr) << msg;
    const Sample& sp = ip->sample[0];
    EXPECT_EQ(sp.note_to_use, 38);
    EXPECT_EQ(sp.modes & (MODES_LOOPING | MODES_PINGPONG | MODES_SUSTAIN | MODES_ENVELOPE), 0);
    EXPECT_EQ(sp.loop_start, 399u << 12);
    EXPECT_EQ(sp.loop_end, 400u << 12);

    // The element's own settings win over the drum defaults.
    drums[40].note = 60;
    drums[40].strip_loop = 0;
    drums[40].strip_envelope = 0;
    ip = load(name, &msg, drums.get(), 1, 40);
    ASSERT_NE(ip, nullptr) << msg;
    EXPECT_EQ(ip->sample[0].note_to_use, 60);
    EXPECT_EQ(ip->sample[0].modes & (MODES_LOOPING | MODES_ENVELOPE), MODES_LOOPING | MODES_ENVELOPE);

    // A tone bank sets no note and lets the data decide.
    TestBank tones;
    ip = load(name, &msg, tones.get(), 0, 38);
    ASSERT_NE(ip, nullptr) << msg;
    EXPECT_EQ(ip->sample[0].note_to_use, 0);
    EXPECT_EQ(ip->sample[0].modes & (MODES_LOOPING | MODES_SUSTAIN | MODES_ENVELOPE),
              MODES_LOOPING | MODES_SUSTAIN | MODES_ENVELOPE);
}

TEST_F(InstrumTest, EnvelopeAndLoopBitsFollowTheStripSettingsAndTheData)
{
    struct Case {
        const char* what;
        uint8_t modes;
        int strip_loop, strip_envelope;
        bool weird_rates;
        uint8_t last_offset;
        uint8_t expected;
    } cases[] = {
        {"looping gets sustain", MODES_16BIT | MODES_LOOPING | MODES_ENVELOPE, -1, -1, false, 0,
         MODES_LOOPING | MODES_SUSTAIN | MODES_ENVELOPE},
        {"no loop: no sustain, no envelope", MODES_16BIT | MODES_SUSTAIN | MODES_ENVELOPE, -1, -1,
         false, 0, 0},
        {"rates all '?'", MODES_16BIT | MODES_LOOPING | MODES_ENVELOPE, -1, -1, true, 0,
         MODES_LOOPING | MODES_SUSTAIN},
        {"last offset 100", MODES_16BIT | MODES_LOOPING | MODES_ENVELOPE, -1, -1, false, 100,
         MODES_LOOPING | MODES_SUSTAIN},
        {"last offset 99", MODES_16BIT | MODES_LOOPING | MODES_ENVELOPE, -1, -1, false, 99,
         MODES_LOOPING | MODES_SUSTAIN | MODES_ENVELOPE},
        {"ping-pong without sustain", MODES_16BIT | MODES_PINGPONG | MODES_ENVELOPE, -1, -1, false,
         0, MODES_PINGPONG},
        {"strip env", MODES_16BIT | MODES_LOOPING | MODES_ENVELOPE, -1, 1, false, 0,
         MODES_LOOPING | MODES_SUSTAIN},
        {"keep env without loop", MODES_16BIT | MODES_SUSTAIN | MODES_ENVELOPE, -1, 0, false, 0,
         MODES_SUSTAIN | MODES_ENVELOPE},
        {"strip loop", MODES_16BIT | MODES_LOOPING | MODES_PINGPONG | MODES_ENVELOPE, 1, 0, false,
         0, MODES_ENVELOPE},
    };
    const uint8_t checked = MODES_LOOPING | MODES_PINGPONG | MODES_REVERSE | MODES_SUSTAIN |
                            MODES_ENVELOPE;
    int k = 0;
    for (const Case& c : cases) {
        TestSample s = looped16(200, 20, 180);
        s.modes = c.modes;
        if (c.weird_rates)
            memset(s.env_rate, '?', 6);
        s.env_offset[5] = c.last_offset;
        TestBank bank;
        bank[k].strip_loop = (int8)c.strip_loop;
        bank[k].strip_envelope = (int8)c.strip_envelope;
        std::string msg;
        Instrument* ip = load(write_patch("m" + std::to_string(k) + ".pat", one_sample(s)), &msg,
                              bank.get(), 0, k);
        ASSERT_NE(ip, nullptr) << c.what << ": " << msg;
        EXPECT_EQ(ip->sample[0].modes & checked, c.expected) << c.what;
        k++;
    }
}

TEST_F(InstrumTest, PanningTremoloVibratoAndEnvelopeInRendererUnits)
{
    const int file_pan[] = {0, 7, 8, 15};
    const int8_t expected_pan[] = {1, 64, 64, 127};
    TestPatch p;
    for (int pan : file_pan) {
        TestSample s = looped16(100, 0, 100);
        s.panning = (uint8_t)pan;
        p.samples.push_back(s);
    }
    // Sample 4: tremolo and vibrato (sweep 10, rate 20, depth 30) and three envelope rates.
    TestSample m = looped16(100, 0, 100);
    m.tremolo[0] = 10, m.tremolo[1] = 20, m.tremolo[2] = 30;
    m.vibrato[0] = 10, m.vibrato[1] = 20, m.vibrato[2] = 30;
    m.env_rate[0] = 0x3f, m.env_rate[1] = 0x7f, m.env_rate[2] = 0xc1;
    m.env_offset[0] = 250;
    p.samples.push_back(m);
    // Sample 5: a rate byte of 0 means no tremolo and no vibrato, whatever the rest says.
    TestSample none = m;
    none.tremolo[1] = 0;
    none.vibrato[2] = 0;
    p.samples.push_back(none);
    std::string name = write_patch("units.pat", p);

    std::string msg;
    Instrument* ip = load(name, &msg);
    ASSERT_NE(ip, nullptr) << msg;
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(ip->sample[i].panning, expected_pan[i]) << "file panning " << file_pan[i];

    const Sample& sp = ip->sample[4];
    // R 44100, C 44: 44*38*65536 / (10*44100); 20*44*32768 / (44100*38)
    EXPECT_EQ(sp.tremolo_sweep_increment, 248);
    EXPECT_EQ(sp.tremolo_phase_increment, 17);
    EXPECT_EQ(sp.tremolo_depth, 30);
    // 44100*38 / (20*64) = 1309; round(1309*38*65536 / (10*44100)) = 7392
    EXPECT_EQ(sp.vibrato_control_ratio, 1309);
    EXPECT_EQ(sp.vibrato_sweep_increment, 7392);
    EXPECT_EQ(sp.vibrato_depth, 30);
    // (63 << 9) * 44, (63 << 6) * 44 and 1 * 44, each times 512
    EXPECT_EQ(sp.envelope_rate[0], 726663168);
    EXPECT_EQ(sp.envelope_rate[1], 90832896);
    EXPECT_EQ(sp.envelope_rate[2], 22528);
    EXPECT_EQ(sp.envelope_offset[0], 250 << 22);

    const Sample& n = ip->sample[5];
    EXPECT_EQ(n.tremolo_sweep_increment | n.tremolo_phase_increment | n.tremolo_depth, 0);
    EXPECT_EQ(n.vibrato_sweep_increment | n.vibrato_control_ratio | n.vibrato_depth, 0);

    // Fields the patch does not carry get their fixed values.
    EXPECT_EQ(sp.low_vel, 0);
    EXPECT_EQ(sp.high_vel, 127);
    EXPECT_EQ(sp.sf_sample_link, -1);
    EXPECT_EQ(sp.sample_type, 1);
    EXPECT_EQ(sp.key_to_fc_bpo, 60);
    EXPECT_EQ(sp.envelope_velf_bpo, 64);
    EXPECT_EQ(sp.scale_factor, 1024);
    EXPECT_EQ(sp.scale_freq, 60);
    clear_instrument_cache(nullptr);

    // At half the rate the fastest rate is limited; fast decay doubles a rate below the limit.
    mode_.rate = 22050;
    fast_decay = 1;
    ip = load(name, &msg);
    ASSERT_NE(ip, nullptr) << msg;
    EXPECT_EQ(ip->sample[4].envelope_rate[0], 2097151 * 512);
    EXPECT_EQ(ip->sample[4].envelope_rate[2], 1 * 2 * 44 * 2 * 512);
    clear_instrument_cache(nullptr);

    // Element panning overrides the file's.
    mode_.rate = 44100;
    fast_decay = 0;
    TestBank bank;
    bank[3].pan = 100;
    ip = load(name, &msg, bank.get(), 0, 3);
    ASSERT_NE(ip, nullptr) << msg;
    for (int i = 0; i < ip->samples; i++)
        EXPECT_EQ(ip->sample[i].panning, 100);
}

TEST_F(InstrumTest, ForcedReleaseTimeReplacesTheReleaseStages)
{
    std::string name = write_patch("rel.pat", one_sample(looped16(100, 0, 100)));
    modify_release = 100;
    std::string msg;
    Instrument* ip = load(name, &msg);
    ASSERT_NE(ip, nullptr) << msg;
    const Sample& sp = ip->sample[0];
    EXPECT_EQ(sp.envelope_rate[3], 10671222);  // 1069547520 / 44100 * 44 * 1000 / 100
    EXPECT_EQ(sp.envelope_offset[3], 5 << 22);
    EXPECT_EQ(sp.envelope_offset[4], 4 << 22);
    EXPECT_EQ(sp.envelope_offset[5], 4 << 22);
    EXPECT_EQ(sp.envelope_rate[4], 200 << 22);
    EXPECT_EQ(sp.envelope_rate[5], 200 << 22);
    clear_instrument_cache(nullptr);

    // The shortest release at the highest control ratio and lowest rate does not fit in
    // 32 bits; it is held at the envelope's fastest rate.
    modify_release = 1;
    control_ratio = 255;
    mode_.rate = 4000;
    fast_decay = 1;
    ip = load(name, &msg);
    ASSERT_NE(ip, nullptr) << msg;
    EXPECT_EQ(ip->sample[0].envelope_rate[3], 2097151 * 512);
}

TEST_F(InstrumTest, VolumeFromAmplificationOrFromThePeak)
{
    std::vector<int16_t> v(100, 0);
    v[10] = 16384;
    v[20] = -8192;
    TestSample s = looped16(100, 0, 100);
    s.data = pcm16(v);
    TestSample silent = s;
    silent.data = pcm16(std::vector<int16_t>(100, 0));
    TestPatch p;
    p.samples = {s, silent};
    std::string name = write_patch("vol.pat", p);

    std::string msg;
    Instrument* ip = load(name, &msg);
    ASSERT_NE(ip, nullptr) << msg;
    EXPECT_DOUBLE_EQ(ip->sample[0].volume, 2.0);
    EXPECT_DOUBLE_EQ(ip->sample[1].volume, 1.0);  // silence: finite, no compensation

    TestBank bank;
    bank[0].amp = 120;
    ip = load(name, &msg, bank.get(), 0, 0);
    ASSERT_NE(ip, nullptr) << msg;
    EXPECT_DOUBLE_EQ(ip->sample[0].volume, 1.2);
    EXPECT_DOUBLE_EQ(ip->sample[1].volume, 1.2);
}

TEST_F(InstrumTest, StripTailEndsTheDataAtTheLoopEnd)
{
    std::string name = write_patch("tail.pat", one_sample(looped16(1000, 100, 900)));
    TestBank bank;
    bank[5].strip_tail = 1;
    std::string msg;
    Instrument* ip = load(name, &msg, bank.get(), 0, 5);
    ASSERT_NE(ip, nullptr) << msg;
    EXPECT_EQ(ip->sample[0].data_length, 900u << 12);
    EXPECT_EQ(ip->sample[0].loop_end, 900u << 12);
}

TEST_F(InstrumTest, NameWithoutExtensionIsFoundWithPat)
{
    std::string full = write_patch("piano.pat", one_sample(looped16(100, 0, 100)));
    std::string bare = full.substr(0, full.size() - 4);
    std::string msg;
    Instrument* ip = load(bare, &msg);
    ASSERT_NE(ip, nullptr) << msg;
    EXPECT_EQ(ip->samples, 1);

    std::string missing = dir_.file("organ");
    EXPECT_EQ(load(missing, &msg), nullptr);
    EXPECT_EQ(msg, "Instrument `" + missing + "' can't be found.\n");
    EXPECT_EQ(load("", &msg), nullptr);
    EXPECT_TRUE(contains(msg, "Attempted to open nameless file.")) << msg;
    EXPECT_TRUE(contains(msg, "Instrument `' can't be found.")) << msg;

    // A name that already ends in ".pat" is not tried as "x.pat.pat".
    write_patch("drum.pat.pat", one_sample(looped16(100, 0, 100)));
    EXPECT_EQ(load(dir_.file("drum.pat"), &msg), nullptr);
    EXPECT_TRUE(contains(msg, "can't be found")) << msg;
}

TEST_F(InstrumTest, ProgramsSharingAPatchLoadItOnce)
{
    std::string name = write_patch("shared.pat", one_sample(looped16(100, 0, 100)));
    TestBank bank;
    // The element names live in buffers that the configuration may free and replace.
    char* first_name = strdup(name.c_str());
    bank[0].name = first_name;
    bank[1].name = first_name;

    ctl->verbosity = 3;
    std::string m1, m2;
    Instrument* a = load(bank[0].name, &m1, bank.get(), 0, 0, "Tonebank 0 0");
    Instrument* b = load(bank[1].name, &m2, bank.get(), 0, 1, "Tonebank 0 1");
    ASSERT_NE(a, nullptr) << m1;
    EXPECT_EQ(a, b);
    EXPECT_TRUE(contains(m1, "Tonebank 0 0: " + name)) << m1;
    EXPECT_FALSE(contains(m1, " * Cached")) << m1;
    EXPECT_TRUE(contains(m2, " * Cached")) << m2;
    EXPECT_FALSE(contains(m2, "Tonebank 0 1")) << m2;

    // The cache does not depend on the element's buffer: after a new configuration with the
    // same name, and with the file gone, the same instrument is handed out.
    free(first_name);
    bank[0].name = bank[1].name = nullptr;
    ASSERT_EQ(remove(name.c_str()), 0);
    std::string again = name;
    Instrument* c = load(again, &m2, bank.get(), 0, 2);
    EXPECT_EQ(c, a);

    // Other settings, or per-sample lists, need their own load.
    write_patch("shared.pat", one_sample(looped16(100, 0, 100)));
    bank[3].amp = 50;
    Instrument* d = load(name, &m2, bank.get(), 0, 3);
    ASSERT_NE(d, nullptr) << m2;
    EXPECT_NE(d, a);
    float tune = 1.0f;
    bank[4].tunenum = 1;
    bank[4].tune = &tune;
    Instrument* e = load(name, &m2, bank.get(), 0, 4);
    ASSERT_NE(e, nullptr) << m2;
    EXPECT_NE(e, a);
    EXPECT_FALSE(contains(m2, " * Cached"));
    bank[4].tunenum = 0;
    bank[4].tune = nullptr;

    // Emptying the cache may keep one instrument (the default instrument between songs).
    clear_instrument_cache(a);
    EXPECT_EQ(find_cached_instrument(name.c_str(), -1, -1, -1, -1, -1, -1), a);
    EXPECT_EQ(find_cached_instrument(name.c_str(), -1, 50, -1, -1, -1, -1), nullptr);
}

TEST_F(InstrumTest, NameHashSumsSignedBytes)
{
    EXPECT_EQ(name_hash(""), 0);
    EXPECT_EQ(name_hash("a"), 'a' & 127);
    EXPECT_EQ(name_hash("ab"), ('a' + 'b') & 127);
    // A byte above 127 counts as negative: 0xC3 is -61, and 100 - 61 = 39.
    EXPECT_EQ(name_hash("\x64\xc3"), 39);
}

TEST_F(InstrumTest, DamagedPatchesGiveTheirMessageAndNoInstrument)
{
    TestPatch good;
    good.samples = {looped16(1000, 100, 900), looped16(100, 0, 100)};
    const std::string bytes = build_patch(good);
    const size_t sample1_header = 239 + 96 + 2000;

    struct Case {
        const char* what;
        std::string bytes;
        std::vector<std::string> messages;
    };
    std::vector<Case> cases;
    cases.push_back({"empty file", "", {"not an instrument"}});
    cases.push_back({"header cut", bytes.substr(0, 100), {"not an instrument"}});
    cases.push_back({"prefix only", std::string(128, '\0'), {"not an instrument"}});
    {
        TestPatch p = good;
        p.instruments = 2;
        cases.push_back({"two instruments", build_patch(p), {"Can't handle patches with 2 instruments"}});
        p = good;
        p.layers = 3;
        cases.push_back({"three layers", build_patch(p), {"Can't handle instruments with 3 layers"}});
        p = good;
        p.sample_count = 0;
        cases.push_back({"no samples", build_patch(p), {"patch holds no samples"}});
        p = good;
        p.sample_count = 3;
        cases.push_back({"fewer samples than counted", build_patch(p), {"Error reading sample 2"}});
    }
    cases.push_back({"second sample header cut", bytes.substr(0, sample1_header + 50),
                     {"Error reading sample 1"}});
    cases.push_back({"data cut", bytes.substr(0, 239 + 96 + 10),
                     {"Too small this patch length: 10 < 2000\n", "Error reading sample 0"}});
    {
        TestPatch p = good;
        p.samples[0].data_length = 0x7FFFFFF0;
        cases.push_back({"length far beyond the file", build_patch(p),
                         {"impossible length of 2147483632 bytes", "Error reading sample 0"}});
        p = good;
        p.samples[1].data_length = 100000;
        cases.push_back({"length beyond the file", build_patch(p),
                         {"Too small this patch length: 200 < 100000", "Error reading sample 1"}});
        p = good;
        p.samples[0].data_length = 0;
        cases.push_back({"empty waveform", build_patch(p), {"impossible length of 0 bytes"}});
        p = good;
        p.samples[1].sample_rate = 0;
        cases.push_back({"no sample rate", build_patch(p), {"sample 1 has no sample rate", "Error reading sample 1"}});
        p = good;
        p.samples[0].root_freq = 0;
        cases.push_back({"no root frequency", build_patch(p), {"sample 0 has no sample rate or root frequency"}});
    }

    for (const Case& c : cases) {
        std::string msg;
        std::string name = dir_.write("bad.pat", c.bytes);
        EXPECT_EQ(load(name, &msg), nullptr) << c.what;
        for (const std::string& m : c.messages)
            EXPECT_TRUE(contains(msg, m)) << c.what << ": " << msg;
        // Nothing of a failed load is cached.
        EXPECT_EQ(find_cached_instrument(name.c_str(), -1, -1, -1, -1, -1, -1), nullptr);
        // The same from memory.
        EXPECT_EQ(load_memory(c.bytes, &msg), nullptr) << c.what;
        for (const std::string& m : c.messages)
            EXPECT_TRUE(contains(msg, m)) << c.what << " (memory): " << msg;
    }
}

TEST_F(InstrumTest, LoopPointsOutsideTheDataAreBroughtInside)
{
    TestSample beyond = looped16(1000, 100, 900);
    beyond.loop_end = 5000;  // bytes: sample 2500 of 1000
    TestSample backwards = looped16(1000, 100, 900);
    backwards.loop_start = 1900;
    backwards.loop_end = 400;
    TestSample empty = looped16(1000, 300, 300);
    TestSample reversed = looped16(1000, 100, 900);
    reversed.modes |= MODES_REVERSE;
    reversed.loop_end = 0xFFFFFFF0;  // mirrored against the length this would wrap around
    TestPatch p;
    p.samples = {beyond, backwards, empty, reversed};
    std::string msg;
    Instrument* ip = load(write_patch("loops.pat", p), &msg);
    ASSERT_NE(ip, nullptr) << msg;
    EXPECT_TRUE(contains(msg, "sample 0: loop 200..5000 outside 2000 bytes, limited")) << msg;
    EXPECT_TRUE(contains(msg, "sample 2: empty loop, played without it")) << msg;

    for (int i = 0; i < ip->samples; i++) {
        const Sample& sp = ip->sample[i];
        EXPECT_LE(sp.loop_start, sp.loop_end) << i;
        EXPECT_LE(sp.loop_end, sp.data_length) << i;
        if (sp.modes & MODES_LOOPING) {
            EXPECT_LT(sp.loop_start, sp.loop_end) << i;
        }
    }
    EXPECT_EQ(ip->sample[0].loop_start, 100u << 12);
    EXPECT_EQ(ip->sample[0].loop_end, 1000u << 12);
    EXPECT_FALSE(ip->sample[1].modes & MODES_LOOPING);
    EXPECT_FALSE(ip->sample[2].modes & MODES_LOOPING);
    EXPECT_EQ(ip->sample[3].loop_start, 0u);
    EXPECT_EQ(ip->sample[3].loop_end, 900u << 12);
}

TEST_F(InstrumTest, MemoryLoadMatchesFileLoad)
{
    TestPatch p;
    p.samples = {looped16(700, 7, 600), looped16(50, 0, 50)};
    p.samples[1].modes = MODES_UNSIGNED;
    p.samples[1].data = std::string(50, '\x90');
    std::string bytes = build_patch(p);
    std::string msg;
    Instrument* from_file = load(dir_.write("m.pat", bytes), &msg);
    ASSERT_NE(from_file, nullptr) << msg;
    InstrumentPtr from_memory(load_memory(bytes, &msg));
    ASSERT_NE(from_memory, nullptr) << msg;
    expect_same_samples(from_file, from_memory.get());
}
