// The byte stream under the audio file writers (RIFF WAVE, raw, Sun audio, AIFF). The writers
// go through it for every write and for rewriting the header when the file closes; a test can
// put a stream here that counts bytes instead of storing them.
#ifndef CORVELLE_OUTPUT_AUDIO_FILES_H
#define CORVELLE_OUTPUT_AUDIO_FILES_H

#include <cstddef>
#include <sys/types.h>

struct AudioFileIo {
    // Writes every byte; 0 or an errno value.
    int (*write)(int fd, const void* data, size_t bytes);
    // The current offset of a regular file (where the header goes), or -1 when the output
    // cannot seek back to it.
    off_t (*where)(int fd);
    // Moves to offset `at`; the new offset or -1.
    off_t (*seek)(int fd, off_t at);
};

extern AudioFileIo audio_file_io;

#endif
