// Byte streams: one record of operations over a mapped or stdio file, a memory buffer or a
// decoding wrapper, with read, line read, character read, seek, tell, skip and a read limit.
#ifndef CORVELLE_CONFIG_URL_H
#define CORVELLE_CONFIG_URL_H

#include <cstddef>
#include "sysdep.h"

// Stream type codes
enum {
    URL_none_t = 0,
    URL_file_t = 1,
    URL_dir_t = 2,
    URL_pipe_t = 7,
    URL_mem_t = 8,
    URL_buff_t = 9,      // buffered; seeking is not safe
    URL_inflate_t = 10,  // gzip (deflate) decoder over another stream
    URL_extension_t = 99
};

// Stream error codes (values up to 10000 are system error numbers)
enum {
    URLERR_NONE = 10000,
    URLERR_NOURL = 10001,
    URLERR_OPERATIONNOTPERMITTED = 10002,
    URLERR_CANTOPEN = 10003,
    URLERR_IURLF = 10004,
    URLERR_URLTOOLONG = 10005,
    URLERR_NOMAILADDR = 10006,
    URLERR_MAXNO = 10007
};

// The common head of every stream; each type appends its own fields after it.
struct URL_common;
typedef URL_common* URL;

struct URL_common {
    int type;
    long (*url_read)(URL url, void* buff, long n);
    char* (*url_gets)(URL url, char* buff, int n);
    int (*url_fgetc)(URL url);
    long (*url_seek)(URL url, long offset, int whence);
    long (*url_tell)(URL url);
    void (*url_close)(URL url);
    unsigned long nread;      // bytes consumed since the last seek or limit change
    unsigned long readlimit;  // at most this many bytes are read
    int eof;
};

// A stream module: a name check and an open operation.
struct URL_module {
    int type;
    int (*name_check)(const char* url_string);
    int (*url_init)(void);  // one-time initialisation before the first open, or none
    URL (*url_open)(const char* url_string);
    URL_module* chain;
};

extern int url_errno;
extern int url_newline_code;

// Opens a name through the registered modules (pipe, directory, file, in that order).
URL url_open(const char* url_string);
// Registers one module at the end of the list (each module once).
void url_add_module(URL_module* m);
// The type of the module that would open the name, or -1.
int url_check_type(const char* url_string);

// A stream over a memory buffer; with autofree the stream frees the buffer when closed.
URL url_mem_open(char* memory, long memsiz, int autofree);
// A stream over an open file or standard input ("-").
URL url_file_open(const char* filename);
// A stream that serves the bytes of prefix first and then those of url, which it owns.
// It cannot seek (type 9).
URL url_buff_open(URL url, const unsigned char* prefix, long prefix_len);
// A gzip (deflate) decoder over url, which it owns; the gzip header is read by the decoder.
URL url_inflate_open(URL url);

long url_read(URL url, void* buff, long n);
long url_safe_read(URL url, void* buff, long n);
long url_nread(URL url, void* buff, long n);
char* url_gets(URL url, char* buff, int n);
int url_readline(URL url, char* buff, int n);
int url_fgetc(URL url);
#define url_getc(url) url_fgetc(url)
long url_seek(URL url, long offset, int whence);
long url_tell(URL url);
void url_skip(URL url, long n);
void url_rewind(URL url);
void url_set_readlimit(URL url, long readlimit);
void url_close(URL url);
const char* url_strerror(int no);

// Used by stream types: allocates a record of the given size with the common head cleared
// and the read limit lifted.
URL alloc_url(int size);

#endif
