// The event-list output ("l"): writes the song's events as text, one event per line, to the
// output's name ("-" is standard output). The player hands it the event array through
// output_data as the bytes of MidiEvent records.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "frontend/controls.h"
#include "output/output.h"
#include "readmidi/event.h"
#include "readmidi/event_print.h"

static FILE* list_fp = nullptr;

static const char* list_label(void)
{
    return strcmp(list_play_mode.name, "-") == 0 ? "standard output" : list_play_mode.name;
}

static int open_output(void)
{
    const char* name = list_play_mode.name;
    if (name == nullptr || name[0] == '\0') {
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: no output file name given", list_play_mode.id_name);
        return -1;
    }
    if (strcmp(name, "-") == 0) {
        list_fp = stdout;
    } else {
        list_fp = fopen(name, "we");
        if (list_fp == nullptr) {
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: %s", name, strerror(errno));
            return -1;
        }
    }
    list_play_mode.fd = fileno(list_fp);
    return 0;
}

static void close_output(void)
{
    if (list_fp == nullptr)
        return;
    int failed = list_fp == stdout ? fflush(list_fp) != 0 : fclose(list_fp) != 0;
    if (failed)
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: write failed: %s", list_label(), strerror(errno));
    list_fp = nullptr;
    list_play_mode.fd = -1;
}

static int output_data(char* buf, int32 bytes)
{
    if (list_fp == nullptr)
        return -1;
    if (bytes < 0 || bytes % (int32)sizeof(MidiEvent) != 0) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: %d bytes are not a list of events", list_label(), (int)bytes);
        return -1;
    }
    errno = 0;
    int rc = write_event_list(list_fp, reinterpret_cast<const MidiEvent*>(buf),
                              bytes / (int32)sizeof(MidiEvent));
    // A full disk or a closed pipe shows at the latest when the text is flushed.
    if (rc < 0 || fflush(list_fp) != 0 || ferror(list_fp)) {
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: write failed: %s", list_label(),
             strerror(errno != 0 ? errno : EIO));
        return -1;
    }
    return 0;
}

PlayMode list_play_mode = {44100, PE_16BIT | PE_SIGNED, PF_MIDI_EVENT, -1, {0, 0, 0, 0, 0},
                           "MIDI event list", 'l', nullptr, open_output, close_output,
                           output_data, written_output_acntl, nullptr};
