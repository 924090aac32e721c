// Conversion of rendered blocks (signed 32-bit, 16-bit full scale at 2^28) into the output
// encodings. Every converter works in place from the first sample to the last: sample k is
// read before byte k x (bytes per sample) is written, and that never passes byte 4k.
#include "output/output.h"

#include <cstddef>
#include <emmintrin.h>

namespace {

struct G711Tables {
    uint8 ulaw[16384];
    uint8 alaw[16384];
};

constexpr uint8 ulaw_of(int pcm)
{
    const int bias = 0x84, clip = 32635;
    int sign = 0;
    if (pcm < 0) {
        sign = 0x80;
        pcm = -pcm;
    }
    if (pcm > clip)
        pcm = clip;
    pcm += bias;
    int exponent = 7;
    for (int mask = 0x4000; (pcm & mask) == 0 && exponent > 0; mask >>= 1)
        exponent--;
    int mantissa = (pcm >> (exponent + 3)) & 0x0F;
    return (uint8)(~(sign | (exponent << 4) | mantissa) & 0xFF);
}

constexpr uint8 alaw_of(int pcm)
{
    int mask = 0xD5;
    if (pcm < 0) {
        mask = 0x55;
        pcm = -pcm;
    }
    pcm >>= 3;  // 13-bit magnitude
    int seg = 0;
    while (seg < 8 && pcm > (0x20 << seg) - 1)
        seg++;
    if (seg >= 8)
        return (uint8)(0x7F ^ mask);
    int aval = seg << 4;
    aval |= seg < 2 ? (pcm >> 1) & 0x0F : (pcm >> seg) & 0x0F;
    return (uint8)(aval ^ mask);
}

constexpr G711Tables build_g711_tables()
{
    G711Tables t{};
    for (int i = 0; i < 16384; i++) {
        int v = i < 8192 ? i * 4 : i * 4 - 65536;
        t.ulaw[i] = ulaw_of(v);
        t.alaw[i] = alaw_of(v);
    }
    return t;
}

constexpr G711Tables g711 = build_g711_tables();

inline int32 clip(int32 v, int32 lo, int32 hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

inline int32 to16(int32 x)
{
    return clip(x >> 13, -32768, 32767);
}

inline int32 to24(int32 x)
{
    return clip(x >> 5, -8388608, 8388607);
}

}  // namespace

const uint8 (&s2u_table)[16384] = g711.ulaw;
const uint8 (&s2a_table)[16384] = g711.alaw;

// One byte a sample. The index is as wide as a pointer: with a 32-bit index GCC 12 rewrites the
// two addresses of the loop as offsets from a null base, takes that for a null dereference, and
// then treats the whole converter as having no effect and drops its calls (seen at -O1).
template <typename ByteOf>
static void put8(int32* buf, int32 c, ByteOf byte_of)
{
    uint8* out = reinterpret_cast<uint8*>(buf);
    for (ptrdiff_t i = 0; i < c; i++)
        out[i] = byte_of(buf[i]);
}

void s32tos8(int32* buf, int32 c)
{
    put8(buf, c, [](int32 x) { return (uint8)clip(x >> 21, -128, 127); });
}

void s32tou8(int32* buf, int32 c)
{
    put8(buf, c, [](int32 x) { return (uint8)(clip(x >> 21, -128, 127) ^ 0x80); });
}

// Eight samples at a time: shifted down, clamped to 16 bits by the saturating pack, the sign bit
// flipped and the bytes swapped as asked. All eight are loaded before their 16 bytes are
// stored, and the store ends where the loads began: the in-place order holds.
static void put16(int32* buf, int32 c, int32 flip, bool high_first)
{
    uint8* out = reinterpret_cast<uint8*>(buf);
    const __m128i flips = _mm_set1_epi16((short)flip);
    int32 i = 0;
    for (; i + 8 <= c; i += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + i + 4));
        __m128i v = _mm_xor_si128(_mm_packs_epi32(_mm_srai_epi32(a, 13), _mm_srai_epi32(b, 13)),
                                  flips);
        if (high_first)
            v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), v);
    }
    for (; i < c; i++) {
        uint32 v = (uint32)(to16(buf[i]) ^ flip) & 0xFFFF;
        out[2 * i + (high_first ? 1 : 0)] = (uint8)(v & 0xFF);
        out[2 * i + (high_first ? 0 : 1)] = (uint8)(v >> 8);
    }
}

void s32tos16(int32* buf, int32 c) { put16(buf, c, 0, false); }
void s32tou16(int32* buf, int32 c) { put16(buf, c, 0x8000, false); }
void s32tos16x(int32* buf, int32 c) { put16(buf, c, 0, true); }
void s32tou16x(int32* buf, int32 c) { put16(buf, c, 0x8000, true); }

static void put24(int32* buf, int32 c, int32 flip, bool high_first)
{
    uint8* out = reinterpret_cast<uint8*>(buf);
    for (int32 i = 0; i < c; i++) {
        uint32 v = (uint32)(to24(buf[i]) ^ flip) & 0xFFFFFF;
        uint8* p = out + 3 * i;
        if (high_first) {
            p[0] = (uint8)(v >> 16);
            p[1] = (uint8)(v >> 8);
            p[2] = (uint8)v;
        } else {
            p[0] = (uint8)v;
            p[1] = (uint8)(v >> 8);
            p[2] = (uint8)(v >> 16);
        }
    }
}

void s32tos24(int32* buf, int32 c) { put24(buf, c, 0, false); }
void s32tou24(int32* buf, int32 c) { put24(buf, c, 0x800000, false); }
void s32tos24x(int32* buf, int32 c) { put24(buf, c, 0, true); }
void s32tou24x(int32* buf, int32 c) { put24(buf, c, 0x800000, true); }

void s32toulaw(int32* buf, int32 c)
{
    put8(buf, c, [](int32 x) { return s2u_table[(to16(x) >> 2) & 0x3FFF]; });
}

void s32toalaw(int32* buf, int32 c)
{
    put8(buf, c, [](int32 x) { return s2a_table[(to16(x) >> 2) & 0x3FFF]; });
}

int32 general_output_convert(int32* buf, int32 count)
{
    int32 enc = play_mode->encoding;
    int32 samples = (enc & PE_MONO) ? count : 2 * count;
    if (enc & PE_16BIT) {
        if (enc & PE_BYTESWAP)
            (enc & PE_SIGNED) ? s32tos16x(buf, samples) : s32tou16x(buf, samples);
        else
            (enc & PE_SIGNED) ? s32tos16(buf, samples) : s32tou16(buf, samples);
        return samples * 2;
    }
    if (enc & PE_24BIT) {
        if (enc & PE_BYTESWAP)
            (enc & PE_SIGNED) ? s32tos24x(buf, samples) : s32tou24x(buf, samples);
        else
            (enc & PE_SIGNED) ? s32tos24(buf, samples) : s32tou24(buf, samples);
        return samples * 3;
    }
    if (enc & PE_ULAW)
        s32toulaw(buf, samples);
    else if (enc & PE_ALAW)
        s32toalaw(buf, samples);
    else if (enc & PE_SIGNED)
        s32tos8(buf, samples);
    else
        s32tou8(buf, samples);
    return samples;
}
