// The patch loader on small patch files written by the tests.
#include "instrum_test_support.h"

#include <cstdio>
#include <tuple>

// The variants: a prefixed file, an older version, a load from memory; two zeros end the data.
TEST_F(InstrumTest, PatchVariantsLoadAlikeAndWaveformsBecomeSigned16Bit)
{
    const struct { uint8_t modes; std::string bytes; std::vector<int16_t> want; } waves[] = {
        {MODES_UNSIGNED, std::string("\x80\x80\x80\x00\xff", 5), {0, 0, 0, -32768, 0x7f00, 0, 0}},
        {0, std::string("\x00\x7f\x80\xff", 4), {0, 0x7f00, -32768, -256, 0, 0}},
        {MODES_16BIT | MODES_UNSIGNED, std::string("\x00\x80\x00\x00\xff\xff", 6),
         {0, -32768, 32767, 0, 0}},
        {MODES_16BIT, std::string("\x34\x12\x00\x80", 4), {0x1234, -32768, 0, 0}},
    };
    TestPatch p = patch_of({looped16(500, 10, 400)});
    for (const auto& w : waves) {
        TestSample& s = p.samples.emplace_back();  // looping: a looping sample keeps its last value
        s.modes = w.modes | MODES_LOOPING, s.data = w.bytes, s.loop_end = (uint32_t)w.bytes.size();
    }
    std::string msg, all;
    Instrument* bare = load(write("bare.pat", p), &msg);
    ASSERT_NE(bare, nullptr) << msg;
    EXPECT_EQ(bare->type, INST_GUS);
    for (int i = 1; i <= 4; i++) {
        const Sample& sp = bare->sample[i];
        const std::vector<int16_t>& want = waves[i - 1].want;
        ASSERT_EQ(sp.data_length, (splen_t)(want.size() - 2) << FRACTION_BITS);
        EXPECT_EQ(std::vector<int16_t>(sp.data, sp.data + want.size()), want) << i;
        EXPECT_EQ(sp.modes & (MODES_16BIT | MODES_UNSIGNED), MODES_16BIT);
    }
    p.prefix = true;
    Instrument* prefixed = load(write("prefixed.pat", p), &msg);
    all += msg;
    p.magic = "GF1PATCH100";
    InstrumentPtr older(load_memory(build_patch(p), &msg));
    all += msg;
    EXPECT_EQ(all, "");
    for (const Instrument* ip : {(const Instrument*)prefixed, (const Instrument*)older.get()}) {
        ASSERT_NE(ip, nullptr);
        ASSERT_EQ(ip->samples, bare->samples);
        for (int i = 0; i < ip->samples; i++) {
            const Sample &x = ip->sample[i], &y = bare->sample[i];
            EXPECT_TRUE(x.loop_start == y.loop_start && x.loop_end == y.loop_end) << i;
            EXPECT_EQ(x.modes, y.modes);
            ASSERT_EQ(x.data_length, y.data_length);
            EXPECT_EQ(0, memcmp(x.data, y.data, ((x.data_length >> FRACTION_BITS) + 2) * 2));
        }
    }
    p.magic = "GF1PATCH200";
    EXPECT_EQ(load(write("newer.pat", p), &msg), nullptr);
    EXPECT_TRUE(has(msg, "newer.pat: not an instrument")) << msg;
}

// Also an unlooped sample's end, reversed loops over mirrored data and a stripped tail.
TEST_F(InstrumTest, LoopPointsAreFixedPointInsideTheDataAndForward)
{
    TestSample s = looped16(1000, 100, 900), plain = looped16(50, 10, 20);
    s.fractions = 0x53;  // loop start + 3/16 sample, loop end + 5/16
    plain.modes = MODES_16BIT;
    TestSample eight = s;  // 8-bit loop points count 8-bit bytes: the same positions
    eight.modes = MODES_LOOPING, eight.data = std::string(1000, '\x01');
    eight.loop_start = 100, eight.loop_end = 900;
    TestSample beyond = looped16(1000, 100, 900), backwards = beyond, empty = beyond, rev = beyond;
    beyond.loop_end = 5000;  // bytes: sample 2500 of 1000
    backwards.loop_start = 1900, backwards.loop_end = 400, empty.loop_start = empty.loop_end = 600;
    rev.modes |= MODES_REVERSE;
    TestSample wrap = rev, rev700 = looped16(1000, 100, 700);
    wrap.loop_end = 0xFFFFFFF0;  // mirrored against the length this would wrap around
    rev700.modes |= MODES_REVERSE;
    std::string msg, name = write("fix.pat", patch_of({s, plain, eight, beyond, backwards, empty,
                                                        wrap, rev, rev700}));
    Instrument* ip = load(name, &msg);
    ASSERT_NE(ip, nullptr) << msg;
    const Sample* sp = ip->sample;
    EXPECT_EQ((std::vector<splen_t>{sp[0].data_length, sp[0].loop_start, sp[0].loop_end, sp[1].loop_start,
                                    sp[1].loop_end, sp[2].loop_start, sp[3].loop_end, sp[6].loop_start,
                                    sp[6].loop_end}),
              (std::vector<splen_t>{1000u << 12, (100u << 12) + 3 * 256, (900u << 12) + 5 * 256, 49u << 12,
                                    50u << 12, (100u << 12) + 3 * 256, 1000u << 12, 0, 900u << 12}));
    EXPECT_TRUE(sp[1].data[49] == 0 && sp[1].data[48] != 0);
    EXPECT_TRUE(has(msg, "sample 3: loop 200..5000 outside 2000 bytes, limited")) << msg;
    EXPECT_TRUE(has(msg, "sample 5: empty loop, played without it")) << msg;
    EXPECT_TRUE(has(msg, "Reverse loop in " + name)) << msg;
    EXPECT_FALSE((sp[4].modes | sp[5].modes) & MODES_LOOPING);
    for (int k : {7, 8}) {
        const Sample& sp = ip->sample[k];
        EXPECT_EQ(sp.modes & (MODES_REVERSE | MODES_LOOPING), MODES_LOOPING);
        EXPECT_EQ(sp.loop_start, (k == 7 ? 100u : 300u) << FRACTION_BITS);
        EXPECT_EQ(sp.loop_end, 900u << FRACTION_BITS);
        for (int i = 0; i < 1000; i++)  // the ramp's value at 999 - i
            ASSERT_EQ(sp.data[i], (int16_t)((999 - i) * 37 % 20000 - 10000)) << k << " " << i;
    }
    TestBank bank;
    bank[5].strip_tail = 1;
    ip = load(name, &msg, bank.get(), 0, 5);
    ASSERT_NE(ip, nullptr) << msg;
    EXPECT_EQ(ip->sample[0].data_length, (900u << 12) + 5 * 256);
}

// A drum without a note of its own plays at its key, without loop or envelope.
TEST_F(InstrumTest, ModesFollowStripSettingsDrumsAndData)
{
    const uint8_t loop = MODES_16BIT | MODES_LOOPING | MODES_ENVELOPE, L = MODES_LOOPING,
                  S = MODES_SUSTAIN, E = MODES_ENVELOPE;
    // weird: envelope rates "??????".
    const struct { uint8_t modes; int dr, note, strip_loop, strip_env; bool weird;
                   uint8_t want; int want_note; } cases[] = {
        {loop, 0, -1, -1, -1, false, L | S | E, 0},
        {MODES_16BIT | S | E, 0, -1, -1, -1, false, 0, 0},  // no loop
        {MODES_16BIT | S | E, 0, -1, -1, 0, false, S | E, 0},
        {loop, 0, -1, -1, -1, true, L | S, 0},
        {MODES_16BIT | MODES_PINGPONG | E, 0, -1, -1, -1, false, MODES_PINGPONG, 0},  // no sustain
        {loop | MODES_PINGPONG, 0, -1, 1, 0, false, E, 0},
        {loop, 1, -1, -1, -1, false, 0, 38},
        {loop, 1, 60, 0, 0, false, L | S | E, 60},  // the element's settings win for drums
    };
    for (const auto& c : cases) {
        const int k = (int)(&c - cases);
        TestSample s = looped16(200, 20, 180);
        s.modes = c.modes;
        if (c.weird)
            memset(s.env_rate, '?', 6);
        TestBank bank;
        bank[38].note = (int8)c.note, bank[38].strip_loop = (int8)c.strip_loop;
        bank[38].strip_envelope = (int8)c.strip_env;
        std::string msg, name = write("m" + std::to_string(k) + ".pat", patch_of({s}));
        Instrument* ip = load(name, &msg, bank.get(), c.dr, 38);
        ASSERT_NE(ip, nullptr) << msg;
        EXPECT_EQ(std::make_tuple(ip->sample[0].modes & ~MODES_16BIT, (int)ip->sample[0].note_to_use),
                  std::make_tuple((int)c.want, c.want_note)) << "case " << k;
        if (c.dr && c.note < 0) {  // resampled to play at key 38, still ending at its last point
            const Sample& sp = ip->sample[0];
            EXPECT_EQ(std::make_tuple(sp.root_freq, sp.sample_rate), std::make_tuple(freq_table[38], 44100));
            EXPECT_NEAR((double)sp.loop_start / sp.data_length, 199.0 / 200, 1e-4);
        }
    }
    // Loaded for no element (the default instrument), an unlooped sample loses its envelope too.
    TestSample s = looped16(200, 20, 180);
    s.modes = MODES_16BIT | S | E;
    std::string msg;
    Instrument* ip = load(write("none.pat", patch_of({s})), &msg);
    ASSERT_NE(ip, nullptr) << msg;
    EXPECT_EQ(ip->sample[0].modes & ~MODES_16BIT, 0);
}

TEST_F(InstrumTest, PanningModulationEnvelopeAndVolumeInRendererUnits)
{
    std::vector<TestSample> v;
    for (int pan : {0, 7, 8, 15, 200}) {
        v.push_back(looped16(100, 0, 100));
        v.back().panning = (uint8_t)pan;
    }
    TestSample& m = v[1];
    m.tremolo[0] = m.vibrato[0] = 10, m.tremolo[1] = m.vibrato[1] = 20, m.tremolo[2] = m.vibrato[2] = 30;
    m.env_rate[0] = 0x3f, m.env_rate[1] = 0x7f, m.env_rate[2] = 0xc1, m.data = std::string(200, '\0');
    put_le(m.data, 20, 16384, 2);
    v[2].tremolo[1] = 5, v[2].tremolo[2] = 0;  // a depth of 0: no tremolo at all
    std::string msg, name = write("units.pat", patch_of(v));
    Instrument* ip = load(name, &msg);
    ASSERT_NE(ip, nullptr) << msg;
    std::vector<int> pans;
    for (int i = 0; i < 5; i++)
        pans.push_back(ip->sample[i].panning);
    EXPECT_EQ(pans, (std::vector<int>{1, 64, 64, 127, 127}));
    const Sample& sp = ip->sample[1];
    // A first envelope rate of (63 << 9) * 44 * 512; a volume of 32768 / peak 16384.
    EXPECT_EQ((std::vector<int64>{sp.tremolo_sweep_increment, sp.tremolo_phase_increment,
                                  sp.vibrato_control_ratio, sp.vibrato_sweep_increment, sp.vibrato_depth,
                                  ip->sample[2].tremolo_phase_increment, sp.envelope_rate[0],
                                  sp.envelope_rate[1], sp.envelope_rate[2], sp.envelope_offset[0],
                                  sp.sf_sample_link, sp.high_vel}),
              (std::vector<int64>{248, 17, 1309, 7392, 30, 0, 726663168, 90832896, 22528, 250 << 22, -1,
                                  127}));
    EXPECT_DOUBLE_EQ(sp.volume, 2.0);
    clear_instrument_cache(nullptr);

    // Half the rate with fast decay: the fastest rate is limited, a slow one doubles.
    // A forced release of 100 ms replaces stages 3 to 5.
    mode_.rate = 22050, fast_decay = 1, modify_release = 100;
    TestBank bank;
    bank[0].amp = 120, bank[0].pan = 100;
    ip = load(name, &msg, bank.get(), 0, 0);
    ASSERT_NE(ip, nullptr) << msg;
    const Sample& half = ip->sample[1];  // a release rate of 1069547520 / 22050 * 44 * 1000 / 100
    EXPECT_EQ((std::vector<int32>{half.envelope_rate[0], half.envelope_rate[2], half.envelope_rate[3],
                                  half.envelope_rate[4], half.envelope_offset[3], ip->sample[0].panning}),
              (std::vector<int32>{2097151 * 512, 2 * 44 * 2 * 512, 2 * 21342444, 200 << 22, 5 << 22, 100}));
    EXPECT_DOUBLE_EQ(half.volume, 1.2);
    clear_instrument_cache(nullptr);

    // The shortest release at the lowest rate and highest control ratio would overflow: it
    // is held at the fastest rate. Silence gets a finite volume.
    mode_.rate = 4000, control_ratio = 255, modify_release = 1;
    TestSample silent = looped16(100, 0, 100);
    silent.data = std::string(200, '\0');
    ip = load(write("silent.pat", patch_of({silent})), &msg);
    ASSERT_NE(ip, nullptr) << msg;
    EXPECT_EQ(std::make_tuple(ip->sample[0].envelope_rate[3], ip->sample[0].volume),
              std::make_tuple(2097151 * 512, 1.0));
}

// Names without ".pat" are found with it; only programs of the same settings share a load.
TEST_F(InstrumTest, NamesAndTheCacheOfSharedPatches)
{
    std::string m1, m2, name = write("shared.pat", patch_of({looped16(100, 0, 100)}));
    EXPECT_NE(load(name.substr(0, name.size() - 4), &m1), nullptr) << m1;
    clear_instrument_cache(nullptr);
    const std::string missing = dir_.file("organ");
    EXPECT_EQ(load(missing, &m1), nullptr);
    EXPECT_EQ(m1, "Instrument `" + missing + "' can't be found.\n");
    write("drum.pat.pat", patch_of({looped16(100, 0, 100)}));  // ".pat" is not added twice
    EXPECT_EQ(load(dir_.file("drum.pat"), &m1), nullptr);
    EXPECT_EQ(load("", &m1), nullptr);
    EXPECT_TRUE(has(m1, "Instrument `' can't be found.")) << m1;

    TestBank bank;
    ctl->verbosity = 3;
    Instrument* a = load(std::string(name), &m1, bank.get(), 0, 0, "Tonebank 0 0");
    Instrument* b = load(name, &m2, bank.get(), 0, 1, "Tonebank 0 1");
    ASSERT_NE(a, nullptr) << m1;
    EXPECT_EQ(a, b);
    EXPECT_TRUE(has(m1, "Tonebank 0 0: " + name)) << m1;
    EXPECT_TRUE(has(m2, " * Cached")) << m2;
    EXPECT_FALSE(has(m2, "Tonebank 0 1")) << m2;
    // The first load got the name in a buffer freed right after it (as a new configuration
    // frees the element's name); with the file gone the cache still answers.
    ASSERT_EQ(remove(name.c_str()), 0);
    EXPECT_EQ(load(std::string(name), &m2, bank.get(), 0, 2), a);

    write("shared.pat", patch_of({looped16(100, 0, 100)}));
    bank[3].amp = 50;
    Instrument* c = load(name, &m2, bank.get(), 0, 3);
    float tune = 1.0f;
    bank[4].tunenum = 1, bank[4].tune = &tune;
    Instrument* d = load(name, &m2, bank.get(), 0, 4);
    ASSERT_TRUE(c != nullptr && d != nullptr);
    EXPECT_TRUE(c != a && d != a);
    EXPECT_FALSE(has(m2, " * Cached"));
    bank[4].tunenum = 0;

    clear_instrument_cache(a);  // the default instrument stays between songs
    EXPECT_EQ(find_cached_instrument(name.c_str(), -1, -1, -1, -1, -1, -1), a);
    EXPECT_EQ(find_cached_instrument(name.c_str(), -1, 50, -1, -1, -1, -1), nullptr);
    EXPECT_EQ(name_hash("\x64\xc3"), 39);  // bytes count signed: 100 - 61
}

TEST_F(InstrumTest, DamagedPatchesGiveTheirMessageAndNoInstrument)
{
    TestPatch good = patch_of({looped16(1000, 100, 900), looped16(100, 0, 100)});
    const std::string bytes = build_patch(good);
    auto variant = [&](void (*change)(TestPatch&)) {
        TestPatch p = good;
        change(p);
        return build_patch(p);
    };
    const struct { std::string bytes; std::vector<std::string> messages; } cases[] = {
        {"", {"not an instrument"}},
        {bytes.substr(0, 100), {"not an instrument"}},
        {std::string(128, '\0'), {"not an instrument"}},
        {variant([](TestPatch& p) { p.instruments = 2; }), {"Can't handle patches with 2 instruments"}},
        {variant([](TestPatch& p) { p.layers = 3; }), {"Can't handle instruments with 3 layers"}},
        {variant([](TestPatch& p) { p.sample_count = 0; }), {"patch holds no samples"}},
        {variant([](TestPatch& p) { p.sample_count = 3; }), {"Error reading sample 2"}},
        {bytes.substr(0, 239 + 96 + 2000 + 50), {"Error reading sample 1"}},
        {bytes.substr(0, 239 + 96 + 10), {"Too small this patch length: 10 < 2000\nError reading sample 0"}},
        {variant([](TestPatch& p) { p.samples[0].data_length = 0x7FFFFFF0; }),
         {"impossible length of 2147483632 bytes", "Error reading sample 0"}},
        {variant([](TestPatch& p) { p.samples[1].data_length = 100000; }),
         {"Too small this patch length: 200 < 100000", "Error reading sample 1"}},
        {variant([](TestPatch& p) { p.samples[0].data_length = 0; }), {"impossible length of 0 bytes"}},
        {variant([](TestPatch& p) { p.samples[1].sample_rate = 0; }), {"sample 1 has no sample rate"}},
        {variant([](TestPatch& p) { p.samples[0].root_freq = 0; }), {"sample 0 has no sample rate"}},
    };
    for (const auto& c : cases) {
        std::string msg, name = dir_.write("bad.pat", c.bytes);
        EXPECT_EQ(load(name, &msg), nullptr) << c.messages[0];
        for (const std::string& m : c.messages)
            EXPECT_TRUE(has(msg, m)) << msg;
        EXPECT_EQ(find_cached_instrument(name.c_str(), -1, -1, -1, -1, -1, -1), nullptr);
        EXPECT_EQ(load_memory(c.bytes, &msg), nullptr) << c.messages[0];
        EXPECT_TRUE(has(msg, c.messages[0])) << msg;
    }
}
