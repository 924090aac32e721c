// Bringing the synthesizer up for a play list: global state and tables, the configuration
// search, the player's voices and rates, and the main play routine that opens the interface
// and the output, plays the list and closes them again.
#ifndef CORVELLE_FRONTEND_STARTUP_H
#define CORVELLE_FRONTEND_STARTUP_H

#include <csignal>

// Break requests (console interrupt) since the play list started.
extern volatile sig_atomic_t intr;

// Where the configuration is searched first and second: the system's configuration
// directory (CORVELLE_SYSCONFDIR) and the program's own directory (none: the directory of the
// running executable). Both may be changed before the search.
extern const char* system_config_dir;
extern const char* program_config_dir;
// The file read as a last resort when an option asks to try again.
extern const char* last_resort_config_file;

// Files whose playback ended with an error (not read, or not written) since start-up.
extern int playlist_failures;

// 1 (the default, for console programs): when no output mode is usable, the start-up says
// "Couldn't open output device" and ends the process with status 1. 0 (the window): play_mode
// stays unset, and the caller tells the user and may try again later.
extern int exit_without_output_device;

// Defaults, drum channels, the output mode and, once per process, the start-up tables.
void corvelle_start_initialize(void);
// Reads the first configuration found in the system directory, the program's directory or
// the home directory; always 0.
int corvelle_pre_load_configuration(void);
// The last-resort file and the configuration texts given as options; 0 when a configuration
// was read, else the number of failures.
int corvelle_post_load_configuration(void);
// Voices, output rate, drum channels and fragments for the next play list.
void corvelle_init_player(void);
// Opens the interface and the output, plays the files, closes everything; 0, or 1, 2, 3 when
// the tracer, the output or the interface could not be opened.
int corvelle_play_main(int nfiles, char** files);

// The dumb interface's play-list loop: each file with play_midi_file.
int dumb_pass_playing_list(int number_of_files, char* list_of_files[]);

#endif
