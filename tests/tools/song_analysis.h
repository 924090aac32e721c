// Running corvelle-render, reading songs and the WAVE files it writes, and measuring them.
#ifndef CORVELLE_TESTS_TOOLS_SONG_ANALYSIS_H
#define CORVELLE_TESTS_TOOLS_SONG_ANALYSIS_H

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

#include "output/output.h"
#include "readmidi/readmidi.h"
#include "support/capture.h"
#include "support/midi_bytes.h"
#include "support/signal.h"
#include "support/tempdir.h"

namespace songtest {

struct ToolRun {
    int status = -1;  // 128 + the signal's number when a signal ended it
    std::string out, err;
};

// Runs `prefix corvelle-render args` in directory cwd, keeping both output streams; with
// pipe_to, standard output goes into that shell command instead.
inline ToolRun run_tool(const std::string& cwd, const std::string& args, const TempDir& scratch,
                        const std::string& prefix = "", const std::string& pipe_to = "")
{
    const std::string tool = CORVELLE_BINARY_DIR "/corvelle-render";
    const std::string out = scratch.file("stdout.txt"), err = scratch.file("stderr.txt"),
                      st = scratch.file("status.txt");
    std::string cmd = "cd '" + cwd + "' && (" + prefix + " '" + tool + "' " + args +
                      (pipe_to.empty() ? " >'" + out + "'" : "") + " 2>'" + err +
                      "'; echo $? >'" + st + "')" + pipe_to;
    EXPECT_EQ(system(cmd.c_str()), 0) << cmd;
    return {atoi(read_whole_file(st).c_str()), read_whole_file(out), read_whole_file(err)};
}

// A configuration naming the patch set, and a directory for the tool's output files.
class SongToolTest : public ::testing::Test {
protected:
    TempDir dir, scratch;
    std::string pats = CORVELLE_SOURCE_DIR "/data/freepats";
    std::string config;
    void SetUp() override
    {
        if (read_whole_file(pats + "/patches.cfg").empty())
            GTEST_SKIP() << "the patch set is not installed (scripts/setup.sh provides it)";
        config = scratch.write("corvelle.cfg",
                               "dir " + pats + "\nsource " + pats + "/patches.cfg\n");
    }
    ToolRun render(const std::string& args) const
    {
        return run_tool(dir.path(), "-c '" + config + "' " + args, scratch);
    }
};

// A GS data set or an XG parameter change, as a system-exclusive event.
inline Bytes gs_sysex(uint8_t a, uint8_t b, uint8_t c, const Bytes& data)
{
    return cat({{0xF0}, gs_data_set(a, b, c, data)});
}
inline Bytes xg_sysex(uint8_t h, uint8_t m, uint8_t l, const Bytes& data)
{
    return cat({{0xF0}, xg_param_change(h, m, l, data)});
}

inline Bytes gs_reset() { return gs_sysex(0x40, 0x00, 0x7F, {0x00}); }
inline Bytes xg_system_on() { return xg_sysex(0x00, 0x00, 0x7E, {0x00}); }

// A song's events in output samples (at the file writer's rate), from the engine's reader.
struct SongEvents {
    std::vector<MidiEvent> events;
    int32 first_on = -1, last_note = -1, end = -1;
    std::vector<int32> ons;  // note-on times
};
inline SongEvents read_song(const std::string& path)
{
    SongEvents s;
    play_mode = &wave_play_mode;
    InputFile* tf = open_midi_file(path.c_str(), 1, OF_SILENT);
    int32 count = 0, samples = 0;
    MidiEvent* ev = tf != nullptr ? read_midi_file(tf, &count, &samples, path.c_str()) : nullptr;
    if (tf != nullptr)
        close_file(tf);
    if (ev == nullptr)
        return s;
    s.events.assign(ev, ev + count);
    free(ev);
    for (const MidiEvent& e : s.events) {
        if (e.type == ME_NOTEON) {
            if (s.first_on < 0)
                s.first_on = e.time;
            s.ons.push_back(e.time);
        }
        if (e.type == ME_NOTEON || e.type == ME_NOTEOFF)
            s.last_note = e.time;
    }
    s.end = count > 0 ? s.events.back().time : -1;
    return s;
}

struct Wave {
    int rate = 0;
    std::vector<float> left, right;  // full scale 1.0
    double seconds() const { return rate > 0 ? (double)left.size() / rate : 0; }
    // Left plus right, halved.
    std::vector<float> mono() const
    {
        std::vector<float> m(left.size());
        for (size_t i = 0; i < m.size(); i++)
            m[i] = 0.5f * (left[i] + right[i]);
        return m;
    }
};

// A 16-bit stereo PCM RIFF WAVE file; rate 0 when it is not one.
inline Wave read_wave(const std::string& path)
{
    Wave w;
    std::string s = read_whole_file(path);
    auto le16 = [&](size_t at) {
        return (uint32_t)(uint8_t)s[at] | (uint32_t)(uint8_t)s[at + 1] << 8;
    };
    auto le32 = [&](size_t at) { return le16(at) | le16(at + 2) << 16; };
    if (s.size() < 12 || s.compare(0, 4, "RIFF") != 0 || s.compare(8, 4, "WAVE") != 0)
        return w;
    int rate = 0;
    bool pcm16_stereo = false;
    for (size_t at = 12; at + 8 <= s.size();) {
        uint32_t len = le32(at + 4);
        if (s.compare(at, 4, "fmt ") == 0 && at + 24 <= s.size()) {
            pcm16_stereo = le16(at + 8) == 1 && le16(at + 10) == 2 && le16(at + 22) == 16;
            rate = (int)le32(at + 12);
        }
        if (s.compare(at, 4, "data") == 0) {
            if (!pcm16_stereo || at + 8 + len > s.size())
                return w;
            size_t frames = len / 4;
            w.left.resize(frames);
            w.right.resize(frames);
            for (size_t i = 0; i < frames; i++) {
                w.left[i] = (int16_t)le16(at + 8 + 4 * i) / 32768.0f;
                w.right[i] = (int16_t)le16(at + 10 + 4 * i) / 32768.0f;
            }
            w.rate = rate;
            return w;
        }
        at += 8 + len + (len & 1);
    }
    return w;
}

// In-place radix-2 transform; the size is a power of two.
inline void fft(std::vector<std::complex<double>>& a)
{
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; i++) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const double ang = -2 * M_PI / (double)len;
        const std::complex<double> wl(std::cos(ang), std::sin(ang));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> w(1);
            for (size_t k = 0; k < len / 2; k++) {
                std::complex<double> u = a[i + k], v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                w *= wl;
            }
        }
    }
}

typedef std::vector<std::vector<float>> Spectrogram;

// Magnitudes (n / 2 bins) of Hann-windowed frames of n samples every `hop` samples.
inline Spectrogram spectrogram(const std::vector<float>& x, size_t n, size_t hop)
{
    std::vector<double> hann(n);
    for (size_t i = 0; i < n; i++)
        hann[i] = 0.5 - 0.5 * std::cos(2 * M_PI * i / n);
    Spectrogram frames;
    std::vector<std::complex<double>> buf(n);
    for (size_t start = 0; start + n <= x.size(); start += hop) {
        for (size_t i = 0; i < n; i++)
            buf[i] = x[start + i] * hann[i];
        fft(buf);
        std::vector<float> mag(n / 2);
        for (size_t k = 0; k < n / 2; k++)
            mag[k] = (float)std::abs(buf[k]);
        frames.push_back(std::move(mag));
    }
    return frames;
}

// Onset times in seconds: peaks of the rectified rise of log magnitudes from frame to frame
// (2048-point frames 512 apart) that stand above their neighbourhood, at least 50 ms apart.
inline std::vector<double> onsets(const std::vector<float>& x, int rate)
{
    const size_t hop = 512;
    const Spectrogram sg = spectrogram(x, 2048, hop);
    std::vector<double> flux(sg.size(), 0.0), times;
    double mean = 0;
    for (size_t t = 1; t < sg.size(); t++) {
        for (size_t k = 1; k < sg[t].size(); k++)
            flux[t] += std::max(0.0, std::log1p(1000.0 * sg[t][k]) - std::log1p(1000.0 * sg[t - 1][k]));
        mean += flux[t] / (double)sg.size();
    }
    for (size_t t = 1; t + 1 < flux.size(); t++) {
        if (flux[t] < flux[t - 1] || flux[t] <= flux[t + 1])
            continue;
        double local = 0;
        const size_t from = t >= 8 ? t - 8 : 0, to = std::min(flux.size(), t + 9);
        for (size_t k = from; k < to; k++)
            local += flux[k];
        const double sec = (double)t * hop / rate;
        if (flux[t] >= 1.5 * local / (double)(to - from) + 0.5 * mean &&
            (times.empty() || sec - times.back() >= 0.05))
            times.push_back(sec);
    }
    return times;
}

// The share of `times` that have a time of `other` within `tolerance` seconds.
inline double matched_share(const std::vector<double>& times, const std::vector<double>& other,
                            double tolerance)
{
    if (times.empty())
        return 0;
    size_t matched = 0;
    for (double t : times) {
        auto it = std::lower_bound(other.begin(), other.end(), t - tolerance);
        if (it != other.end() && *it <= t + tolerance)
            matched++;
    }
    return (double)matched / times.size();
}

typedef std::array<double, 12> Chroma;

// Energy per pitch class (0 = C) of each frame of a spectrogram of n-sample frames, from the
// bins between 60 Hz and 2 kHz.
inline std::vector<Chroma> pitch_class_energy(const Spectrogram& sg, size_t n, int rate)
{
    std::vector<int> cls(n / 2, -1);
    for (size_t k = 1; k < n / 2; k++) {
        double f = (double)k * rate / n;
        if (f < 60 || f > 2000)
            continue;
        long midi = std::lround(69 + 12 * std::log2(f / 440.0));
        cls[k] = (int)(((midi % 12) + 12) % 12);
    }
    std::vector<Chroma> out;
    for (const auto& frame : sg) {
        Chroma c{};
        for (size_t k = 0; k < frame.size(); k++)
            if (cls[k] >= 0)
                c[cls[k]] += (double)frame[k] * frame[k];
        out.push_back(c);
    }
    return out;
}

inline double chroma_total(const Chroma& c)
{
    return std::accumulate(c.begin(), c.end(), 0.0);
}

inline double cosine(const Chroma& a, const Chroma& b)
{
    const double ab = std::inner_product(a.begin(), a.end(), b.begin(), 0.0),
                 aa = std::inner_product(a.begin(), a.end(), a.begin(), 0.0),
                 bb = std::inner_product(b.begin(), b.end(), b.begin(), 0.0);
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

}  // namespace songtest

#endif
