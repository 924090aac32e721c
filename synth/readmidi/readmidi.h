// Reading Standard MIDI Files (also inside a RIFF "RMID" wrapper or behind a 128-byte
// prefix) into the sample-timed event array, and what is known about each song file.
#ifndef CORVELLE_READMIDI_READMIDI_H
#define CORVELLE_READMIDI_READMIDI_H

#include "sysdep.h"
#include "config/files.h"
#include "readmidi/event.h"

// File types of a song record.
enum {
    IS_ERROR_FILE = -1,
    IS_OTHER_FILE = 0,
    IS_SMF_FILE = 101,
    IS_AUDIO_FILE_FIRST = 700,  // 700 to 799: an audio file is played instead of the events
    IS_AUDIO_FILE_LAST = 799
};

// What is known about one song file; records live for the life of the program.
struct MidiFileInfo {
    int readflag;           // 1 once the file was read completely
    char* filename;         // as given, with the home directory expanded
    char* seq_name;         // first track name of the conductor track, or none
    char* karaoke_title;    // "@T" texts of a karaoke file, joined by blanks, or none
    char* first_text;       // first text of the conductor track; "" after a read without one
    uint8 mid;              // manufacturer of the song's system-exclusive messages
    int16 hdrsiz;           // stream position after the header, -1 where unknown
    int16 format;           // -1 until known
    int16 tracks;           // -1 until known
    int32 divisions;        // ticks per quarter note, -1 until known
    int time_sig_n, time_sig_d, time_sig_c, time_sig_b;  // first time signature; n -1 until seen
    uint32 drumchannels;
    uint32 drumchannel_mask;  // channels whose drum flag is fixed
    int32 samples;            // song length in samples, -1 until known
    int max_channel;          // highest channel used, -1 until known
    MidiFileInfo* next;
    int compressed;           // midi_data is gzip-compressed
    char* midi_data;          // whole file kept for sources that cannot be read twice
    int32 midi_data_size;
    int file_type;
    int pcm_mode;             // optional audio file played in place of the song
    char* pcm_filename;
    InputFile* pcm_tf;
};

extern MidiFileInfo* midi_file_info;
extern MidiFileInfo* current_file_info;
// A track that fails to read ends the reading but keeps what was read (default on).
extern int ignore_midi_error;

MidiFileInfo* get_midi_file_info(const char* filename, int newp);
MidiFileInfo* new_midi_file_info(const char* filename);
void free_all_midi_file_info(void);
InputFile* open_midi_file(const char* name, int decompress, int noise_mode);
int check_midi_file(const char* filename);

// Reads a song. Returns the event array (count elements, the last one ME_EOT) and its
// length in samples, or none after reporting why.
MidiEvent* read_midi_file(InputFile* tf, int32* count, int32* sp, const char* fn);
// Where the data of the song last read ran out in the middle of a track: the track (from 1)
// and the byte offset in the file; track 0 when it did not.
extern int smf_short_track;
extern long smf_short_byte;
// Reads a song image held in memory (the caller keeps the buffer); fn names the song.
MidiEvent* read_midi_memory(const void* data, long size, int32* count, int32* sp,
                            const char* fn);

// One "MTrk" chunk into the event list: 0, -1 on a read error or short file, -2 when the
// chunk or a number in it is corrupt.
int read_smf_track(InputFile* tf, int trackno, int rewindp);
// The next variable-length number: -1 at the end of the data, -2 when it is too long.
int32 getvl(InputFile* tf);

// Meta-event text: reads len bytes, shows label and text, and returns a copy when keep is set.
char* dumpstring(int type, int32 len, const char* label, int allocp, InputFile* tf);
// In place: blanks squeezed, tabs and line breaks made blanks, edges trimmed.
char* fix_string(char* s);
// The title with " " and text appended (the old title is freed), or a copy of text.
char* add_karaoke_title(char* title, const char* str);

#endif
