// What the window says about the song: its name, where it is, and why it was refused.
#ifndef CORVELLE_APP_SONG_STATUS_H
#define CORVELLE_APP_SONG_STATUS_H

#include <string>

// The file name of a path, without its folders ("/a/b/song.mid" -> "song.mid").
std::string song_name(const std::string& path);

// "m:ss" of a number of samples at rate (negative counts as 0; minutes grow past 59).
std::string song_time(long long samples, double rate);

// The main window's title: "Midi Visualization", with " - NAME" while a song is in hand.
std::string window_title(const std::string& name);

// The line beside the Play button: "NAME  m:ss / m:ss".
std::string song_line(const std::string& name, long long at, long long total, double rate);

// Why a song was refused, in plain words, naming the file: "flying.mid: not a Standard MIDI
// File". problem is the reader's own message (it stays on the standard streams as it is) or
// the system's reason why the file could not be opened. A song whose data ran out in the middle
// of a track says where when the reader kept it: short_track from 1 (0: not kept), short_byte
// the offset in the file.
std::string refusal_text(const std::string& path, const std::string& problem, int short_track = 0,
                         long short_byte = -1);

// What a song whose data ran out in the middle of a track is told (it plays as far as it
// was read): "NAME: truncated in track T at byte B".
std::string truncated_text(const std::string& path, int track, long byte);

// What a song that the reader cut short is told: "NAME has more than N events; only the
// first M minutes are played".
std::string cut_short_text(const std::string& path, long events, long long samples, double rate);

// The system's reason why path cannot be read as a song (missing, unreadable, a folder),
// found before anything is stopped or started; empty when the reader is to judge it.
std::string unreadable_reason(const std::string& path);

#endif
