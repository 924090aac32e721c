// Finding and opening the files the synthesizer reads: the search path, open_file and the
// file handle over a byte stream.
#ifndef CORVELLE_CONFIG_FILES_H
#define CORVELLE_CONFIG_FILES_H

#include "sysdep.h"
#include "config/url.h"

// Noise modes of open_file
enum { OF_SILENT = 0, OF_NORMAL = 1, OF_VERBOSE = 2 };

struct PathList {
    char* path;
    PathList* next;
};

// An open file: its stream and, when the bytes were copied to a temporary file, that
// file's name (deleted when the handle is closed).
struct InputFile {
    URL url;
    char* tmpname;
};

// The directory searched when nothing else is configured.
#define DEFAULT_PATH "/usr/local/share/corvelle"
// The name last tried by open_file: the full name that opened, or empty after a failure.
extern char current_filename[1024];
extern int open_file_noise_mode;
extern PathList* pathlist;

// Puts path at the head of the search path (moving an equal entry there instead).
void add_to_pathlist(const char* path);
// Makes the default directory the only entry again.
void clean_up_pathlist(void);

// Compares paths ignoring case, "/" equal to "\", and a separator at the end ignored.
int pathcmp(const char* p1, const char* p2);
void sort_pathname(char** files, int nfiles);
char* pathsep_strchr(const char* path);
char* pathsep_strrchr(const char* path);
int is_absolute_path(const char* path);
// The user's home directory: "HOME", else "home"; none when neither is set.
const char* home_directory(void);
// "~" or "~/..." with the home directory in front (a new string); other names copied as they are.
char* expand_home_dir(const char* name);

// Opens name as given, then under each directory of the search path. With decompress a
// name ending in ".gz" (any case) is decoded when its data is gzip deflate.
InputFile* open_file(const char* name, int decompress, int noise_mode);
// Opens one exact name.
InputFile* try_to_open(const char* name, int decompress);
// A handle over a memory buffer that stays the caller's.
InputFile* open_with_mem(char* mem, int32 memlen, int noise_mode);
void close_file(InputFile* tf);

long tf_read(void* buff, int32 size, int32 nitems, InputFile* tf);
char* tf_gets(char* buff, int n, InputFile* tf);
#define tf_getc(tf) url_fgetc((tf)->url)
void skip(InputFile* tf, size_t len);
long tf_seek(InputFile* tf, long offset, int whence);
long tf_tell(InputFile* tf);

#endif
