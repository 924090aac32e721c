// The search path and open_file: a name is tried as given, then under each directory of
// the path list from the head (the directory added last is searched first).
#include "config/files.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <unistd.h>

#include "frontend/controls.h"
#include "frontend/memory.h"

static PathList defaultpathlist = {(char*)DEFAULT_PATH, nullptr};
PathList* pathlist = &defaultpathlist;
char current_filename[1024];
int open_file_noise_mode = OF_NORMAL;

static int is_pathsep(int c)
{
    return c == '/' || c == '\\';
}

char* pathsep_strchr(const char* path)
{
    for (; *path != '\0'; path++)
        if (is_pathsep((unsigned char)*path))
            return (char*)path;
    return nullptr;
}

char* pathsep_strrchr(const char* path)
{
    const char* last = nullptr;
    for (; *path != '\0'; path++)
        if (is_pathsep((unsigned char)*path))
            last = path;
    return (char*)last;
}

int pathcmp(const char* p1, const char* p2)
{
    int c1, c2;
    do {
        c1 = tolower((unsigned char)*p1++);
        c2 = tolower((unsigned char)*p2++);
        if (c1 == '\\')
            c1 = '/';
        if (c2 == '\\')
            c2 = '/';
        // A separator that ends the string counts as the end of the string.
        if (c1 == '/' && *p1 == '\0')
            c1 = '\0';
        if (c2 == '/' && *p2 == '\0')
            c2 = '\0';
    } while (c1 == c2 && c1 != '\0');
    return c1 - c2;
}

static int pathcmp_qsort(const void* a, const void* b)
{
    return pathcmp(*(char* const*)a, *(char* const*)b);
}

void sort_pathname(char** files, int nfiles)
{
    if (nfiles > 1)
        qsort(files, (size_t)nfiles, sizeof(char*), pathcmp_qsort);
}

void add_to_pathlist(const char* s)
{
    PathList *cur, *prev = nullptr;
    for (cur = pathlist; cur != nullptr; prev = cur, cur = cur->next) {
        if (pathcmp(s, cur->path) == 0) {
            if (prev != nullptr) {
                prev->next = cur->next;
                cur->next = pathlist;
                pathlist = cur;
            }
            return;
        }
    }
    PathList* plp = (PathList*)safe_malloc(sizeof(PathList));
    plp->path = safe_strdup(s);
    plp->next = pathlist;
    pathlist = plp;
}

void clean_up_pathlist(void)
{
    PathList* cur = pathlist;
    while (cur != nullptr) {
        PathList* next = cur->next;
        if (cur != &defaultpathlist) {
            free(cur->path);
            free(cur);
        }
        cur = next;
    }
    defaultpathlist.next = nullptr;
    pathlist = &defaultpathlist;
}

const char* home_directory(void)
{
    const char* home = getenv("HOME");
    return home != nullptr ? home : getenv("home");
}

char* expand_home_dir(const char* name)
{
    const char* home = home_directory();
    if (name[0] != '~' || (name[1] != '\0' && name[1] != '/') || home == nullptr)
        return safe_strdup(name);
    size_t hl = strlen(home), nl = strlen(name + 1);
    char* s = (char*)safe_malloc(hl + nl + 1);
    memcpy(s, home, hl);
    memcpy(s + hl, name + 1, nl + 1);
    return s;
}

int is_absolute_path(const char* name)
{
    if (is_pathsep((unsigned char)name[0]))
        return 1;
    if (strncasecmp(name, "file:", 5) == 0 || strncasecmp(name, "mime:", 5) == 0)
        return 1;
    if (isalpha((unsigned char)name[0]) && name[1] == ':')
        return 1;
    return 0;
}

static int ends_in_gz(const char* name)
{
    size_t len = strlen(name);
    return len >= 3 && strcasecmp(name + len - 3, ".gz") == 0;
}

// Puts the gzip decoder over the stream when its data is gzip deflate, otherwise leaves the
// bytes as they are. Returns none (with the stream closed) when wrapping fails.
static URL wrap_gzip(URL url)
{
    unsigned char head[3];
    int can_seek = url->url_seek != nullptr && url->type != URL_buff_t;
    long start = can_seek ? url_tell(url) : 0;
    long n = url_nread(url, head, 3);
    if (n < 0)
        n = 0;
    int deflated = n == 3 && head[0] == 0x1f && head[1] == 0x8b && head[2] == 8;

    URL source = url;
    if (can_seek) {
        url_seek(url, start < 0 ? 0 : start, SEEK_SET);
    } else {
        source = url_buff_open(url, head, n);
        if (source == nullptr) {
            url_close(url);
            return nullptr;
        }
    }
    if (!deflated)
        return source;
    URL inflated = url_inflate_open(source);
    if (inflated == nullptr) {
        url_close(source);
        return nullptr;
    }
    return inflated;
}

InputFile* try_to_open(const char* name, int decompress)
{
    // Archive members are not built into this program: every name is opened as a stream.
    URL url = url_open(name);
    if (url == nullptr)
        return nullptr;

    if (decompress && ends_in_gz(name)) {
        url = wrap_gzip(url);
        if (url == nullptr)
            return nullptr;
    }
    InputFile* tf = (InputFile*)safe_malloc(sizeof(InputFile));
    tf->url = url;
    tf->tmpname = nullptr;
    return tf;
}

static void set_current_filename(const char* s)
{
    snprintf(current_filename, sizeof(current_filename), "%s", s);
}

static int not_found_error(int e)
{
    return e == 0 || e == ENOENT;
}

InputFile* open_file(const char* name, int decompress, int noise_mode)
{
    InputFile* tf;

    open_file_noise_mode = noise_mode;
    if (name == nullptr || *name == '\0') {
        if (noise_mode)
            cmsg(CMSG_WARNING, VERB_NORMAL, "Attempted to open nameless file.");
        return nullptr;
    }

    set_current_filename(name);
    if (noise_mode)
        cmsg(CMSG_INFO, VERB_DEBUG, "Trying to open %s", current_filename);
    errno = 0;
    if ((tf = try_to_open(name, decompress)) != nullptr)
        return tf;

    if (!not_found_error(errno)) {
        if (noise_mode)
            cmsg(CMSG_ERROR, VERB_NORMAL, "%s: %s", current_filename, strerror(errno));
        return nullptr;
    }

    if (!is_absolute_path(name)) {
        size_t namelen = strlen(name);
        for (PathList* plp = pathlist; plp != nullptr; plp = plp->next) {
            size_t l = strlen(plp->path);
            // The whole candidate is built in a buffer of its own size, so a long directory
            // or name cannot overrun anything; current_filename keeps what fits.
            char* candidate = (char*)safe_malloc(l + namelen + 2);
            memcpy(candidate, plp->path, l);
            if (l > 0 && !is_pathsep((unsigned char)plp->path[l - 1]) &&
                plp->path[l - 1] != '#' && name[0] != '#')
                candidate[l++] = '/';
            memcpy(candidate + l, name, namelen + 1);
            set_current_filename(candidate);
            if (noise_mode)
                cmsg(CMSG_INFO, VERB_DEBUG, "Trying to open %s", candidate);
            errno = 0;
            tf = try_to_open(candidate, decompress);
            int e = errno;
            free(candidate);
            if (tf != nullptr)
                return tf;
            if (!not_found_error(e)) {
                if (noise_mode)
                    cmsg(CMSG_ERROR, VERB_NORMAL, "%s: %s", current_filename, strerror(e));
                return nullptr;
            }
        }
    }

    int e = errno;
    current_filename[0] = '\0';
    if (noise_mode >= OF_VERBOSE)
        cmsg(CMSG_ERROR, VERB_NORMAL, "%s: %s", name, e != 0 ? strerror(e) : "Can't open file");
    return nullptr;
}

InputFile* open_with_mem(char* mem, int32 memlen, int noise_mode)
{
    URL url = url_mem_open(mem, memlen, 0);
    if (url == nullptr) {
        if (noise_mode >= OF_VERBOSE)
            cmsg(CMSG_ERROR, VERB_NORMAL, "Can't open.");
        return nullptr;
    }
    InputFile* tf = (InputFile*)safe_malloc(sizeof(InputFile));
    tf->url = url;
    tf->tmpname = nullptr;
    return tf;
}

void close_file(InputFile* tf)
{
    if (tf == nullptr)
        return;
    int save_errno = errno;
    if (tf->url != nullptr)
        url_close(tf->url);
    if (tf->tmpname != nullptr) {
        unlink(tf->tmpname);
        free(tf->tmpname);
    }
    free(tf);
    errno = save_errno;
}

long tf_read(void* buff, int32 size, int32 nitems, InputFile* tf)
{
    if (size <= 0 || nitems <= 0)
        return 0;
    long n = url_nread(tf->url, buff, (long)size * nitems);
    if (n <= 0)
        return n;
    return n / size;
}

char* tf_gets(char* buff, int n, InputFile* tf)
{
    return url_gets(tf->url, buff, n);
}

void skip(InputFile* tf, size_t len)
{
    url_skip(tf->url, (long)len);
}

long tf_seek(InputFile* tf, long offset, int whence)
{
    long prevpos = url_seek(tf->url, offset, whence);
    if (prevpos == -1)
        cmsg(CMSG_WARNING, VERB_NORMAL, "Warning: Can't seek file position");
    return prevpos;
}

long tf_tell(InputFile* tf)
{
    long pos = url_tell(tf->url);
    if (pos == -1) {
        cmsg(CMSG_WARNING, VERB_NORMAL, "Warning: Can't get current file position");
        return (long)tf->url->nread;
    }
    return pos;
}
