#include "readmidi/event_print.h"

// Names of types 0 to ME_STEP, in numbering order.
static const char* const event_names[ME_STEP + 1] = {
    "ME_NONE", "ME_NOTEOFF", "ME_NOTEON", "ME_KEYPRESSURE", "ME_PROGRAM",
    "ME_CHANNEL_PRESSURE", "ME_PITCHWHEEL", "ME_TONE_BANK_MSB", "ME_TONE_BANK_LSB",
    "ME_MODULATION_WHEEL", "ME_BREATH", "ME_FOOT", "ME_MAINVOLUME", "ME_BALANCE", "ME_PAN",
    "ME_EXPRESSION", "ME_SUSTAIN", "ME_PORTAMENTO_TIME_MSB", "ME_PORTAMENTO_TIME_LSB",
    "ME_PORTAMENTO", "ME_PORTAMENTO_CONTROL", "ME_DATA_ENTRY_MSB", "ME_DATA_ENTRY_LSB",
    "ME_SOSTENUTO", "ME_SOFT_PEDAL", "ME_LEGATO_FOOTSWITCH", "ME_HOLD2",
    "ME_HARMONIC_CONTENT", "ME_RELEASE_TIME", "ME_ATTACK_TIME", "ME_BRIGHTNESS",
    "ME_REVERB_EFFECT", "ME_TREMOLO_EFFECT", "ME_CHORUS_EFFECT", "ME_CELESTE_EFFECT",
    "ME_PHASER_EFFECT", "ME_RPN_INC", "ME_RPN_DEC", "ME_NRPN_LSB", "ME_NRPN_MSB",
    "ME_RPN_LSB", "ME_RPN_MSB", "ME_ALL_SOUNDS_OFF", "ME_RESET_CONTROLLERS",
    "ME_ALL_NOTES_OFF", "ME_MONO", "ME_POLY", "ME_SCALE_TUNING", "ME_BULK_TUNING_DUMP",
    "ME_SINGLE_NOTE_TUNING", "ME_RANDOM_PAN", "ME_SET_PATCH", "ME_DRUMPART", "ME_KEYSHIFT",
    "ME_PATCH_OFFS", "ME_TEMPO", "ME_CHORUS_TEXT", "ME_LYRIC", "ME_GSLCD", "ME_MARKER",
    "ME_INSERT_TEXT", "ME_TEXT", "ME_KARAOKE_LYRIC", "ME_MASTER_VOLUME", "ME_RESET",
    "ME_NOTE_STEP", "ME_TIMESIG", "ME_KEYSIG", "ME_TEMPER_KEYSIG", "ME_TEMPER_TYPE",
    "ME_MASTER_TEMPER_TYPE", "ME_USER_TEMPER_ENTRY", "ME_SYSEX_LSB", "ME_SYSEX_MSB",
    "ME_SYSEX_GS_LSB", "ME_SYSEX_GS_MSB", "ME_SYSEX_XG_LSB", "ME_SYSEX_XG_MSB", "ME_WRD",
    "ME_SHERRY", "ME_BARMARKER", "ME_STEP"};

const char* event_type_name(int type)
{
    if (type >= 0 && type <= ME_STEP)
        return event_names[type];
    if (type == ME_LAST)
        return "ME_LAST";
    if (type == ME_EOT)
        return "ME_EOT";
    return "Unknown";
}

int write_event_line(FILE* fp, const MidiEvent* ev)
{
    int r = fprintf(fp, "%ld %s %d %d %d\n", (long)ev->time, event_type_name(ev->type),
                    ev->channel, ev->a, ev->b);
    return (r < 0) ? -1 : 0;
}

int write_event_list(FILE* fp, const MidiEvent* events, int32 count)
{
    for (int32 i = 0; i < count; i++)
        if (write_event_line(fp, &events[i]) != 0)
            return -1;
    if (fflush(fp) != 0 || ferror(fp))
        return -1;
    return 0;
}
