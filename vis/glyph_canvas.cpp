#include "vis/glyph_canvas.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <emmintrin.h>

void GlyphCanvas::clear(int width, int height)
{
    w = std::max(0, width);
    h = std::max(0, height);
    image.assign((size_t)w * h, 0);
}

// A colour or alpha value as 8 bits: within [0, 1], times 255, rounded to nearest (ties to
// even). NaN counts as 0.
static uint8_t to_8bit(float value)
{
    if (!(value > 0.0f))
        return 0;
    if (value >= 1.0f)
        return 255;
    return (uint8_t)lrintf(value * 255.0f);
}

void GlyphCanvas::paint(float x1, float x2, float y1, float y2, const float rgba[4])
{
    uint8_t color[4];
    for (int c = 0; c < 4; c++)
        color[c] = to_8bit(rgba[c]);
    if (color[3] == 0)
        return;
    int left, right, bottom, top;
    covered_pixels(x1, x2, w, &left, &right);
    covered_pixels(y1, y2, h, &bottom, &top);
    if (bottom >= top)
        return;
    for (int x = left; x < right; x++)
        blend_pixels(&image[(size_t)x * h + (size_t)bottom], top - bottom, color);
}

void covered_pixels(float a, float b, int size, int* first, int* end)
{
    *first = *end = 0;
    float lo = std::min(a, b), hi = std::max(a, b);
    // Edges beyond the row cover what edges a pixel past its ends would (and NaN nothing).
    double from = std::max((double)lo, -1.0), to = std::min((double)hi, size + 1.0);
    if (!(from < to))
        return;
    // In 256ths of a pixel, pixel i's centre lies at 256 i + 128; it is in when
    // from <= centre < to.
    double snapped_from = std::nearbyint(from * 256.0), snapped_to = std::nearbyint(to * 256.0);
    *first = std::max(0, (int)std::ceil((snapped_from - 128.0) / 256.0));
    *end = std::min(size, (int)std::ceil((snapped_to - 128.0) / 256.0));
    if (*end < *first)
        *end = *first;
}

// x * y / 255 for 8-bit x and y, rounded to nearest.
static inline unsigned mul_255(unsigned x, unsigned y)
{
    unsigned p = x * y;
    return (p + 128 + (p >> 8)) >> 8;
}

void blend_pixels_scalar(uint32_t* p, int count, const uint8_t rgba[4])
{
    unsigned a = rgba[3];
    for (int i = 0; i < count; i++) {
        uint8_t* px = reinterpret_cast<uint8_t*>(p + i);
        for (int c = 0; c < 4; c++)
            px[c] = (uint8_t)std::min(255u, mul_255(rgba[c], a) + mul_255(px[c], 255 - a));
    }
}

// mul_255 in each of eight 16-bit lanes (products up to 65025 and the rounding stay within
// 16 bits unsigned).
static inline __m128i mul_255(__m128i x, __m128i y)
{
    __m128i p = _mm_mullo_epi16(x, y);
    p = _mm_add_epi16(p, _mm_add_epi16(_mm_srli_epi16(p, 8), _mm_set1_epi16(128)));
    return _mm_srli_epi16(p, 8);
}

void blend_pixels(uint32_t* p, int count, const uint8_t rgba[4])
{
    unsigned a = rgba[3];
    if (a == 0 || count <= 0)
        return;
    if (a == 255) {  // the colour replaces what was there
        uint32_t solid;
        memcpy(&solid, rgba, sizeof solid);
        std::fill(p, p + count, solid);
        return;
    }
    // Two pixels of four 16-bit channels per register: the source's share and the
    // weight of what is there.
    short s[4];
    for (int c = 0; c < 4; c++)
        s[c] = (short)mul_255(rgba[c], a);
    const __m128i source = _mm_setr_epi16(s[0], s[1], s[2], s[3], s[0], s[1], s[2], s[3]);
    const __m128i keep = _mm_set1_epi16((short)(255 - a));
    const __m128i zero = _mm_setzero_si128();
    auto blend = [&](__m128i two) {
        return _mm_add_epi16(mul_255(_mm_unpacklo_epi8(two, zero), keep), source);
    };
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        __m128i high = _mm_add_epi16(mul_255(_mm_unpackhi_epi8(v, zero), keep), source);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), _mm_packus_epi16(blend(v), high));
    }
    if (count - i >= 2) {
        __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + i));
        __m128i two = blend(v);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p + i), _mm_packus_epi16(two, two));
        i += 2;
    }
    if (i < count) {
        __m128i one = blend(_mm_cvtsi32_si128((int)p[i]));
        p[i] = (uint32_t)_mm_cvtsi128_si32(_mm_packus_epi16(one, one));
    }
}
