// The loader tests' patch files built field by field, a known output, and loads with messages.
#ifndef CORVELLE_TESTS_SYNTH_INSTRUM_TEST_SUPPORT_H
#define CORVELLE_TESTS_SYNTH_INSTRUM_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/soundfont.h"
#include "config/tonebank.h"
#include "frontend/controls.h"
#include "frontend/options.h"
#include "frontend/tables.h"
#include "instrum/instrum.h"
#include "output/output.h"
#include "support/capture.h"
#include "support/guards.h"
#include "support/tempdir.h"

struct TestSample {
    uint8_t fractions = 0, panning = 7, modes = MODES_16BIT;
    std::string data;                       // waveform bytes as stored
    uint32_t data_length = 0xFFFFFFFF;      // all ones: the size of data
    uint32_t loop_start = 0, loop_end = 0;  // bytes
    uint16_t sample_rate = 44100;
    int32_t root_freq = 261626;
    uint8_t env_rate[6] = {20, 20, 20, 20, 20, 20}, env_offset[6] = {250, 250, 250, 0, 0, 0};
    uint8_t tremolo[3] = {0, 0, 0}, vibrato[3] = {0, 0, 0};  // sweep, rate, depth
};

struct TestPatch {
    const char* magic = "GF1PATCH110";
    bool prefix = false;  // 128 bytes starting with 0 before the patch
    uint8_t instruments = 1, layers = 1;
    int sample_count = -1;  // -1: as many as given
    std::vector<TestSample> samples;
};

inline void put_le(std::string& s, size_t at, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; i++)
        s[at + i] = (char)(v >> (8 * i));
}

inline std::string build_patch(const TestPatch& p)
{
    std::string out = p.prefix ? std::string(1, '\0') + std::string(127, 'x') : "";
    std::string h(239, '\0');
    memcpy(&h[0], p.magic, 11);
    memcpy(&h[12], "ID#000002", 9);
    h[82] = (char)p.instruments, h[151] = (char)p.layers;
    h[198] = (char)(p.sample_count >= 0 ? p.sample_count : (int)p.samples.size());
    out += h;
    for (const TestSample& t : p.samples) {
        std::string s(96, '\0');
        // Offset, value and size of each number: fractions, data length, loop, rate, key range,
        // root, panning, modes, scale frequency and factor.
        const uint64_t length = t.data_length == 0xFFFFFFFF ? t.data.size() : t.data_length;
        const uint64_t fields[][3] = {
            {7, t.fractions, 1},    {8, length, 4},    {12, t.loop_start, 4}, {16, t.loop_end, 4},
            {20, t.sample_rate, 2}, {22, 8176, 4},     {26, 12543854, 4},     {30, (uint32_t)t.root_freq, 4},
            {36, t.panning, 1},     {55, t.modes, 1},  {56, 60, 2},           {58, 1024, 2}};
        for (const auto& f : fields)
            put_le(s, f[0], f[1], (int)f[2]);
        memcpy(&s[37], t.env_rate, 6), memcpy(&s[43], t.env_offset, 6);
        memcpy(&s[49], t.tremolo, 3), memcpy(&s[52], t.vibrato, 3);
        out += s + t.data;
    }
    return out;
}

inline TestPatch patch_of(std::vector<TestSample> samples)
{
    TestPatch p;
    p.samples = std::move(samples);
    return p;
}

// A looping 16-bit sample of n ramp values that tell every position apart, loop [ls, le).
inline TestSample looped16(size_t n, uint32_t ls, uint32_t le)
{
    TestSample s;
    s.data.assign(n * 2, '\0');
    for (size_t i = 0; i < n; i++)
        put_le(s.data, 2 * i, (uint16_t)((int)(i * 37 % 20000) - 10000), 2);
    s.loop_start = ls * 2, s.loop_end = le * 2;
    s.modes = MODES_16BIT | MODES_LOOPING | MODES_SUSTAIN | MODES_ENVELOPE;
    return s;
}

// A bank whose elements hold the "not set" values a patch line starts from.
struct TestBank {
    ToneBank bank;
    TestBank()
    {
        memset(&bank, 0, sizeof(bank));
        for (ToneBankElement& e : bank.tone)
            e.note = e.pan = e.strip_loop = e.strip_envelope = e.strip_tail = -1, e.amp = -1;
    }
    ToneBankElement& operator[](int prog) { return bank.tone[prog]; }
    ToneBank* get() { return &bank; }
};

struct InstrumentDeleter {
    void operator()(Instrument* ip) const { free_instrument(ip); }
};
typedef std::unique_ptr<Instrument, InstrumentDeleter> InstrumentPtr;

// What the renderer relies on in every sample of a loaded instrument.
inline void expect_renderable(const Instrument* ip)
{
    ASSERT_GT(ip->samples, 0);
    for (int i = 0; i < ip->samples; i++) {
        const Sample& sp = ip->sample[i];
        ASSERT_NE(sp.data, nullptr);
        EXPECT_GT(sp.data_length, 0u);
        EXPECT_TRUE(sp.sample_rate > 0 && sp.root_freq > 0);
        EXPECT_LE(sp.loop_end, sp.data_length);
        EXPECT_TRUE((sp.modes & MODES_LOOPING) ? sp.loop_start < sp.loop_end
                                               : sp.loop_start <= sp.loop_end);
        EXPECT_TRUE(sp.panning >= 0 && std::isfinite(sp.volume));
        EXPECT_EQ(sp.modes & (MODES_REVERSE | MODES_UNSIGNED), 0);
        size_t n = sp.data_length >> FRACTION_BITS;  // the zero samples after the data
        EXPECT_TRUE(sp.data[n] == 0 && sp.data[n + 1] == 0);
    }
}

class InstrumTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        init_freq_table();  // as the program has it from its start: drums are resampled to their key
        init_modenv_vol_table();
        mode_.rate = 44100;
    }
    void TearDown() override
    {
        clear_instrument_cache(nullptr);
        free_soundfont_requests();
    }
    // Loads through the file loader; *msg gets the messages printed.
    Instrument* load(const std::string& name, std::string* msg, ToneBank* bank = nullptr,
                     int dr = 0, int prog = 0, const char* info = nullptr)
    {
        Instrument* ip = nullptr;
        *msg = stderr_of([&] { ip = load_gus_instrument(name.c_str(), bank, dr, prog, info); });
        return ip;
    }
    Instrument* load_memory(const std::string& bytes, std::string* msg)
    {
        Instrument* ip = nullptr;
        *msg = stderr_of([&] {
            ip = load_gus_instrument_from_memory("mem.pat", bytes.data(), (long)bytes.size(), nullptr, 0, 0);
        });
        return ip;
    }
    std::string write(const std::string& name, const TestPatch& p)
    {
        return dir_.write(name, build_patch(p));
    }

    PlayMode mode_{};
    Restore<PlayMode*> mode_in_use_{play_mode, &mode_};
    Restore<int32> ratio_{control_ratio, 44}, release_{modify_release, 0};
    Restore<int> fast_decay_{fast_decay, 0}, antialias_{antialiasing_allowed, 0};
    Restore<int> verbosity_{ctl->verbosity, 1};
    TempDir dir_;
};

#endif
