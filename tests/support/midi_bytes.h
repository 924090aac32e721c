// Bytes of MIDI data the tests build by hand: variable-length quantities and GS data sets.
#ifndef CORVELLE_TESTS_SUPPORT_MIDI_BYTES_H
#define CORVELLE_TESTS_SUPPORT_MIDI_BYTES_H

#include <cstdint>
#include <vector>

// Appends v as a variable-length quantity (seven bits a byte, most significant first).
inline void put_vlq(std::vector<uint8_t>& out, uint32_t v)
{
    uint8_t tmp[5];
    int n = 0;
    tmp[n++] = v & 0x7F;
    while ((v >>= 7) != 0)
        tmp[n++] = (uint8_t)(0x80 | (v & 0x7F));
    while (n > 0)
        out.push_back(tmp[--n]);
}

// A GS data set to address a b c as the reader hands it on (what follows F0), with its
// checksum and the closing F7.
inline std::vector<uint8_t> gs_data_set(uint8_t a, uint8_t b, uint8_t c,
                                        const std::vector<uint8_t>& data, uint8_t device = 0x10)
{
    std::vector<uint8_t> m = {0x41, device, 0x42, 0x12, a, b, c};
    int sum = a + b + c;
    for (uint8_t d : data) {
        m.push_back(d);
        sum += d;
    }
    m.push_back((uint8_t)((128 - (sum & 0x7F)) & 0x7F));
    m.push_back(0xF7);
    return m;
}

#endif
