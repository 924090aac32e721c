// The player: loads a song, walks its sample-timed event array, renders audio up to each
// event, applies the event to channels and voices, and hands every note-on and note-off to
// the note hook.
#ifndef CORVELLE_PLAY_PLAYMIDI_H
#define CORVELLE_PLAY_PLAYMIDI_H

#include "sysdep.h"
#include "readmidi/event.h"

struct Instrument;

// Results of the player and of the control interface's commands. Any of the stop codes
// (1, 2, 11, 13, 14, 30 and -1) ends a song.
enum {
    RC_ERROR = -1,
    RC_NONE = 0,
    RC_QUIT = 1,
    RC_NEXT = 2,
    RC_JUMP = 6,
    RC_TOGGLE_PAUSE = 7,
    RC_REALLY_PREVIOUS = 11,
    RC_CHANGE_VOLUME = 12,
    RC_LOAD_FILE = 13,
    RC_TUNE_END = 14,
    RC_RELOAD = 22,
    RC_TOGGLE_SNDSPEC = 23,
    RC_STOP = 30,
    RC_SYNC_RESTART = 26,
    RC_CHANGE_RATE = 28,
    RC_OUTPUT_CHANGED = 29
};
int is_stop_code(int rc);

// Control events the player sends besides those of frontend/controls.h.
enum {
    CTLE_PLAY_END = 3,
    CTLE_METRONOME = 7,
    CTLE_KEYSIG = 8,
    CTLE_KEY_OFFSET = 9,
    CTLE_TEMPO = 10,
    CTLE_TIME_RATIO = 11,
    CTLE_TEMPER_KEYSIG = 12,
    CTLE_TEMPER_TYPE = 13,
    CTLE_MUTE = 14,
    CTLE_VOLUME = 16,
    CTLE_EXPRESSION = 17,
    CTLE_PANNING = 18,
    CTLE_SUSTAIN = 19,
    CTLE_PITCH_BEND = 20,
    CTLE_MOD_WHEEL = 21,
    CTLE_CHORUS_EFFECT = 22,
    CTLE_REVERB_EFFECT = 23,
    CTLE_MAXVOICES = 27,
    CTLE_GSLCD = 29,
    CTLE_DRUMPART = 31
};

extern uint32 drumchannels, default_drumchannels;
extern uint32 drumchannel_mask, default_drumchannel_mask;
extern int note_key_offset;     // global transposition in semitones
extern int master_key_shift;    // the song's master key shift in semitones (melodic parts)
extern int32 master_tuning;     // the song's master tune in 1/8192 semitone (every part)
// Master key shift and tune back to the centre (reset_midi does it).
void reset_master_settings(void);
extern double midi_time_ratio;  // event times are multiplied by this (tempo scaling)

// The song being played.
extern MidiEvent* event_list;
extern MidiEvent* current_event;
extern int32 sample_count;     // song length in samples
extern int32 current_sample;   // samples rendered so far: the audio clock
extern int32 current_play_tempo;
extern int32 midi_restart_time;
extern int check_eot_flag;
extern int playmidi_seek_flag;
extern int play_pause_flag;
extern int file_from_stdin;
extern int8 current_keysig, current_temper_keysig;
extern int temper_adj;
extern int current_freq_table;
extern int mainvolume_max;  // loudest channel volume seen by the pre-scan
extern uint32 channel_mute;

typedef void (*note_hook_t)(MidiEvent* ev);
// Installs the hook that is called for every note-on and note-off the player dispatches.
void set_qevent(note_hook_t hook);
extern note_hook_t qevent;

// Plays one song from start to end; the result is 14 when it ended, -1 when it could not be
// read or written, or the stop code that ended it.
int play_midi_file(const char* fn);
// Renders up to the event's time and applies it; 0 to go on, else a result that ends the song.
int play_event(MidiEvent* ev);
// Lets the last notes and the reverb ring out; 14 unless a stop code came up.
int midi_play_end(void);
// Repositions the song at a sample time by replaying the control state of earlier events.
void skip_to(int32 until_time);
// Polls the control interface once.
int check_apply_control(void);
// 0 when the output rate changed, 1 when it is already that rate, -1 when refused.
int playmidi_change_rate(int32 rate, int restart);

// Tells the interface the controller values of channel c.
void redraw_controllers(int c);

// Pieces of the event loop.
// An event's time in output samples (the stored time scaled by midi_time_ratio).
int32 scaled_event_time(const MidiEvent* ev);
// Applies one event to its channel; while seeking only the control state changes.
int dispatch_event(MidiEvent* ev, bool seeking);
// The same for every channel a layered event reaches.
int dispatch_layered(MidiEvent* ev, bool seeking);
// The transposition that takes a song in key signature keysig (sharps or flats, +16 for a
// minor key) to the forced key signature, starting from offset.
int transpose_for_keysig(int keysig, int forced, int offset);
// The tonic (0..11) the tuning tables use for a key signature and transposition.
int tonic_freq_table(int keysig, int offset);

// ---- what the player uses of other parts ----

// Instrument loading (the instrument policy).
int load_missing_instruments(int* rc);
void clear_magic_instruments(void);
void free_instruments(int reload_default_inst);
void free_special_patch(int id);
Instrument* play_midi_load_instrument(int dr, int bk, int prog);
int set_default_instrument(const char* name);
extern Instrument* default_instrument;

// Applies one system-exclusive parameter event to the channels and effects.
void process_sysex_event(int ev, int ch, int val, int b);

#endif
