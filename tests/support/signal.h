// Measuring signals: levels, windows, frequency and pitch distance. Samples are any number
// type; ranges are sample indices [from, to), cut to the signal's length.
#ifndef CORVELLE_TESTS_SUPPORT_SIGNAL_H
#define CORVELLE_TESTS_SUPPORT_SIGNAL_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

inline double to_db(double v)
{
    return 20.0 * std::log10(std::max(v, 1e-12));
}

// How far f lies above ref, in cents.
inline double cents(double f, double ref)
{
    return 1200.0 * std::log2(f / ref);
}

// One side (0 left, 1 right) of interleaved stereo samples.
template <class T>
std::vector<T> side_of(const std::vector<T>& s, int side)
{
    std::vector<T> out;
    for (size_t i = (size_t)side; i < s.size(); i += 2)
        out.push_back(s[i]);
    return out;
}

// RMS of x over [from, to); 0 for an empty range.
template <class T>
double rms(const std::vector<T>& x, size_t from, size_t to)
{
    to = std::min(to, x.size());
    double e = 0;
    for (size_t i = from; i < to; i++)
        e += (double)x[i] * (double)x[i];
    return std::sqrt(e / (double)std::max<size_t>(1, to > from ? to - from : 0));
}

// RMS of consecutive windows of `win` samples from `from` on (whole windows only).
template <class T>
std::vector<double> window_rms(const std::vector<T>& x, size_t win, size_t from = 0)
{
    std::vector<double> r;
    for (size_t i = from; i + win <= x.size(); i += win)
        r.push_back(rms(x, i, i + win));
    return r;
}

// Frequency in Hz from the first and last rising zero crossings (interpolated) in [from, to);
// 0 with fewer than two.
template <class T>
double zero_crossing_freq(const std::vector<T>& x, size_t from, size_t to, double rate = 44100)
{
    to = std::min(to, x.size());
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = from + 1; i < to; i++) {
        const double a = (double)x[i - 1], b = (double)x[i];
        if (a < 0 && b >= 0) {
            last = (double)(i - 1) + a / (a - b);
            if (crossings++ == 0)
                first = last;
        }
    }
    return crossings > 1 ? (crossings - 1) * rate / (last - first) : 0.0;
}

// Amplitude of the component at hz in x over [from, to) (Goertzel); 0 for an empty range.
template <class T>
double tone_amplitude(const std::vector<T>& x, size_t from, size_t to, double hz, double rate = 44100)
{
    to = std::min(to, x.size());
    if (to <= from)
        return 0;
    const double c = 2 * std::cos(2 * M_PI * hz / rate);
    double s1 = 0, s2 = 0;
    for (size_t i = from; i < to; i++) {
        const double s = (double)x[i] + c * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return 2 * std::sqrt(std::max(s1 * s1 + s2 * s2 - c * s1 * s2, 0.0)) / (double)(to - from);
}

// Level in dB of 16-bit full scale of integer samples over [from, to) (-200 for silence).
inline double level_db(const std::vector<int32_t>& x, size_t from, size_t to)
{
    const double r = rms(x, from, to);
    return r > 0 ? 20 * std::log10(r / 32768.0) : -200.0;
}

// Signals at full scale 1.0 measured between times in seconds.
inline double rms_db(const std::vector<float>& x, int rate, double t0, double t1)
{
    return to_db(rms(x, (size_t)(t0 * rate), (size_t)(t1 * rate)));
}
inline double frequency(const std::vector<float>& x, int rate, double t0, double t1)
{
    return zero_crossing_freq(x, (size_t)(t0 * rate), (size_t)(t1 * rate), rate);
}

#endif
