// The time-ordered event list the readers fill, the song's string table, and the pass that
// turns the list into the sample-timed event array the player walks.
#ifndef CORVELLE_READMIDI_EVENTLIST_H
#define CORVELLE_READMIDI_EVENTLIST_H

#include "sysdep.h"
#include "frontend/options.h"
#include "readmidi/event.h"

// Limits of one song.
#define MAX_MIDI_EVENT 0xFFFFF        // events, the head node included
#define MAX_STRING_EVENT 0x7FFE       // strings in the table, index 0 included
#define MAX_TIMESIG 256               // time-signature records, the closing one included
#define MAX_SYSEX_EVENTS 257          // most events one system-exclusive message turns into

// Channel events are types 1 to 54 (see event.h).
#define IS_CHANNEL_EVENT_TYPE(t) ((t) >= ME_NOTEOFF && (t) <= ME_PATCH_OFFS)

// One node of the event list; nodes live in a pool released all at once.
struct EventListNode {
    MidiEvent event;
    EventListNode* next;
    EventListNode* prev;
};

// One time signature in force from `time` (ticks) on.
struct TimeSigRecord {
    int32 time;
    uint8 numerator;
    uint8 denominator;
};

// Reader state of the song being read (reset by readmidi_read_init).
extern EventListNode* evlist;
extern EventListNode* current_midi_point;
extern int32 event_count;
extern int readmidi_error_flag;
extern StringTable string_event_strtab;  // texts of the song being read
extern char** string_event_table;
extern int string_event_table_size;
extern TimeSigRecord timesig[MAX_TIMESIG];
extern int current_read_track;
extern int karaoke_format;
extern int karaoke_title_flag;
extern int midi_port_number;
// Set when the division counts ticks per SMPTE frame: divisions are then ticks per second
// and tempo events do not change the length of a tick.
extern int readmidi_smpte_timing;
// Per-channel default program set by song data; -1 where none was set.
extern int default_channel_program[256];

// Tick-to-sample step: whole samples per tick and the 16-bit fraction.
extern int32 sample_increment;
extern int32 sample_correction;

// Starts a new song: empty list with its head node, empty string table, default layering.
void readmidi_read_init(void);
// Selects where the next track's events go; returns the tick the track starts at.
int32 readmidi_set_track(int trackno, int rewindp);
// Copies an event into the list at its time (after every event of the same time).
void readmidi_add_event(const MidiEvent* ev);
// Adds a control change; controllers without an event type are only reported.
void readmidi_add_ctl_event(int32 at, int ch, int control, int val);
// Fills ev for a control change; 0 when the controller has no event type.
int convert_midi_control_change(int chn, int type, int val, MidiEvent* ev);
// Releases every node of the list at once.
void free_midi_list(void);

// Stores a text and fills ev (type, index in a and b). Returns the stored string, whose
// first byte is the event type and the text follows; none when the table is full.
char* readmidi_make_string_event(int type, const char* string, MidiEvent* ev, int cnv);
// The stored string of an index (type byte first), or none for an index out of range.
char* event2string(int id);
// Frees the texts of the last song read.
void free_string_event_table(void);
// Turns the texts of the song just read into string_event_table.
void make_string_event_table(void);

void compute_sample_increment(int32 tempo, int32 divisions);

// The final pass: time signatures, beat events, channel renumbering, instrument pre-marking
// and conversion to samples. Returns the array (count elements, ME_EOT last) or none.
MidiEvent* build_event_array(int32 divisions, int32* eventsp, int32* samplesp);
// Distinct time signatures of the current list (a 4/4 at 0 first when none is there).
int dump_current_timesig(TimeSigRecord* codes, int maxlen);

// Marks the instruments the song's notes need in the tone banks and drum sets, following
// program, bank, drum-part and reset events as the player will. Called once per event in
// list order by build_event_array, after prepare_instrument_marking.
void prepare_instrument_marking(void);
void mark_event_instrument(const MidiEvent* ev, int32 sample_time);

#endif
