#include "output/output.h"

#include <cstring>

#include "frontend/controls.h"

// The selectable outputs in the order start-up searches them.
PlayMode* play_mode_list[] = {&w32_play_mode, &wave_play_mode, &raw_play_mode, &au_play_mode,
                              &aiff_play_mode, &list_play_mode, &midi_play_mode, nullptr};

// The selected output; none until start-up picks one.
PlayMode* play_mode = nullptr;

const char* output_encoding_string(int enc)
{
    if (enc & PE_MONO) {
        if (enc & PE_16BIT)
            return (enc & PE_SIGNED) ? "16bit (mono)" : "unsigned 16bit (mono)";
        if (enc & PE_24BIT)
            return (enc & PE_SIGNED) ? "24bit (mono)" : "unsigned 24bit (mono)";
        if (enc & PE_ULAW)
            return "U-law (mono)";
        if (enc & PE_ALAW)
            return "A-law (mono)";
        return (enc & PE_SIGNED) ? "8bit (mono)" : "unsigned 8bit (mono)";
    }
    if (enc & PE_16BIT) {
        if (enc & PE_BYTESWAP)
            return (enc & PE_SIGNED) ? "16bit (swap)" : "unsigned 16bit (swap)";
        return (enc & PE_SIGNED) ? "16bit" : "unsigned 16bit";
    }
    if (enc & PE_24BIT)
        return (enc & PE_SIGNED) ? "24bit" : "unsigned 24bit";
    if (enc & PE_ULAW)
        return "U-law";
    if (enc & PE_ALAW)
        return "A-law";
    return (enc & PE_SIGNED) ? "8bit" : "unsigned 8bit";
}

int32 validate_encoding(int32 enc, int32 include, int32 exclude)
{
    int32 orig = enc;
    enc = (enc | include) & ~exclude;
    if (enc & (PE_ULAW | PE_ALAW))
        enc &= ~(PE_SIGNED | PE_16BIT | PE_BYTESWAP | PE_24BIT);
    if (!(enc & (PE_16BIT | PE_24BIT)))
        enc &= ~PE_BYTESWAP;
    if (enc & PE_24BIT)
        enc &= ~PE_16BIT;
    const char* orig_name = output_encoding_string(orig);
    const char* new_name = output_encoding_string(enc);
    if (strcmp(orig_name, new_name) != 0)
        cmsg(CMSG_WARNING, VERB_NOISY, "Notice: Audio encoding is changed `%s' to `%s'", orig_name,
             new_name);
    return enc;
}

int32 get_encoding_sample_size(int32 enc)
{
    int32 size = (enc & PE_MONO) ? 1 : 2;
    if (enc & PE_24BIT)
        return size * 3;
    if (enc & PE_16BIT)
        return size * 2;
    return size;
}
