// Writes small patch files for the loader tests, field by field in the file's own layout.
#ifndef CORVELLE_TESTS_SYNTH_INSTRUM_PATCH_BUILDER_H
#define CORVELLE_TESTS_SYNTH_INSTRUM_PATCH_BUILDER_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct TestSample {
    uint8_t fractions = 0;
    std::string data;  // the waveform bytes exactly as stored
    uint32_t data_length = 0xFFFFFFFF;  // bytes; all-ones means the size of data
    uint32_t loop_start = 0, loop_end = 0;  // bytes
    uint16_t sample_rate = 44100;
    int32_t low_freq = 8176, high_freq = 12543854, root_freq = 261626;
    uint8_t panning = 7;
    uint8_t env_rate[6] = {20, 20, 20, 20, 20, 20};  // 63 in all six would be '??????'
    uint8_t env_offset[6] = {250, 250, 250, 0, 0, 0};
    uint8_t tremolo[3] = {0, 0, 0};  // sweep, rate, depth
    uint8_t vibrato[3] = {0, 0, 0};
    uint8_t modes = 1;
    int16_t scale_freq = 60, scale_factor = 1024;
};

struct TestPatch {
    const char* magic = "GF1PATCH110";
    bool prefix = false;  // 128 bytes starting with 0 before the patch
    uint8_t instruments = 1, layers = 1;
    int sample_count = -1;  // -1: the number of samples given
    std::vector<TestSample> samples;
};

inline void put_le(std::string& s, size_t at, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; i++)
        s[at + i] = (char)((v >> (8 * i)) & 0xFF);
}

inline std::string build_patch(const TestPatch& p)
{
    std::string out;
    if (p.prefix) {
        std::string prefix(128, 'x');
        prefix[0] = '\0';
        out += prefix;
    }
    std::string h(239, '\0');
    memcpy(&h[0], p.magic, 11);
    memcpy(&h[12], "ID#000002", 9);
    h[82] = (char)p.instruments;
    h[151] = (char)p.layers;
    h[198] = (char)(p.sample_count >= 0 ? p.sample_count : (int)p.samples.size());
    out += h;
    for (const TestSample& t : p.samples) {
        std::string s(96, '\0');
        s[7] = (char)t.fractions;
        put_le(s, 8, t.data_length == 0xFFFFFFFF ? t.data.size() : t.data_length, 4);
        put_le(s, 12, t.loop_start, 4);
        put_le(s, 16, t.loop_end, 4);
        put_le(s, 20, t.sample_rate, 2);
        put_le(s, 22, (uint32_t)t.low_freq, 4);
        put_le(s, 26, (uint32_t)t.high_freq, 4);
        put_le(s, 30, (uint32_t)t.root_freq, 4);
        s[36] = (char)t.panning;
        for (int i = 0; i < 6; i++) {
            s[37 + i] = (char)t.env_rate[i];
            s[43 + i] = (char)t.env_offset[i];
        }
        for (int i = 0; i < 3; i++) {
            s[49 + i] = (char)t.tremolo[i];
            s[52 + i] = (char)t.vibrato[i];
        }
        s[55] = (char)t.modes;
        put_le(s, 56, (uint16_t)t.scale_freq, 2);
        put_le(s, 58, (uint16_t)t.scale_factor, 2);
        out += s;
        out += t.data;
    }
    return out;
}

// 16-bit little-endian waveform bytes.
inline std::string pcm16(const std::vector<int16_t>& v)
{
    std::string s(v.size() * 2, '\0');
    for (size_t i = 0; i < v.size(); i++)
        put_le(s, 2 * i, (uint16_t)v[i], 2);
    return s;
}

// n samples of a ramp that makes every position distinguishable.
inline std::vector<int16_t> ramp16(size_t n)
{
    std::vector<int16_t> v(n);
    for (size_t i = 0; i < n; i++)
        v[i] = (int16_t)((int)(i * 37 % 20000) - 10000);
    return v;
}

#endif
