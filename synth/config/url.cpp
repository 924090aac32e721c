// The generic stream operations: read limit, line and character reads, seek emulation,
// skip and tell on any stream, and the module list that opens a name.
#include "config/url.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frontend/memory.h"

int url_errno = URLERR_NONE;
int url_newline_code = '\n';

static const unsigned long no_read_limit = 2147483647ul;

URL alloc_url(int size)
{
    URL url = (URL)safe_malloc((size_t)size);
    memset(url, 0, (size_t)size);
    url->readlimit = no_read_limit;
    return url;
}

// ---- modules --------------------------------------------------------------------------

static URL_module* url_mod_list = nullptr;

void url_add_module(URL_module* m)
{
    URL_module** p = &url_mod_list;
    for (; *p != nullptr; p = &(*p)->chain)
        if (*p == m)
            return;
    m->chain = nullptr;
    *p = m;
}

// The file module accepts absolute names, "file:" names, names with a drive letter, and any
// name that does not look like "scheme://..." (a ":" before the first "/" directly followed
// by "/").
static int name_file_check(const char* s)
{
    if (s[0] == '/' || s[0] == '\\')
        return 1;
    if (strncasecmp(s, "file:", 5) == 0)
        return 1;
    if (((s[0] >= 'a' && s[0] <= 'z') || (s[0] >= 'A' && s[0] <= 'Z')) && s[1] == ':')
        return 1;
    for (; *s != '\0' && *s != '/'; s++)
        if (*s == ':')
            return s[1] != '/';
    return 1;
}

static URL file_module_open(const char* name)
{
    return url_file_open(name);
}

// Pipes (names ending in "|") and directory listings are not built into this program: such
// names reach the file module and fail there as files. Running a command named in a
// configuration file would be unsafe anyway.
static URL_module url_file_module = {URL_file_t, name_file_check, nullptr, file_module_open,
                                     nullptr};
static int url_modules_registered = 0;

static void register_builtin_modules(void)
{
    if (url_modules_registered)
        return;
    url_modules_registered = 1;
    url_add_module(&url_file_module);
}

int url_check_type(const char* s)
{
    register_builtin_modules();
    for (URL_module* m = url_mod_list; m != nullptr; m = m->chain)
        if (m->type != URL_none_t && m->name_check != nullptr && m->name_check(s))
            return m->type;
    return -1;
}

URL url_open(const char* s)
{
    register_builtin_modules();
    if (s == nullptr)
        s = "";
    for (URL_module* m = url_mod_list; m != nullptr; m = m->chain) {
        if (m->type == URL_none_t || m->name_check == nullptr || !m->name_check(s))
            continue;
        if (m->url_init != nullptr) {
            int ok = m->url_init();
            m->url_init = nullptr;
            if (ok < 0)
                continue;
        }
        url_errno = URLERR_NONE;
        errno = 0;
        return m->url_open(s);
    }
    url_errno = URLERR_NOURL;
    errno = ENOENT;
    return nullptr;
}

// ---- generic operations -----------------------------------------------------------------

long url_read(URL url, void* buff, long n)
{
    if (n <= 0)
        return 0;
    url_errno = URLERR_NONE;
    errno = 0;
    if (url->nread >= url->readlimit) {
        url->eof = 1;
        return 0;
    }
    if (url->nread + (unsigned long)n > url->readlimit)
        n = (long)(url->readlimit - url->nread);
    n = url->url_read(url, buff, n);
    if (n > 0)
        url->nread += (unsigned long)n;
    return n;
}

long url_safe_read(URL url, void* buff, long n)
{
    long i;
    if (n <= 0)
        return 0;
    do {
        errno = 0;
        i = url_read(url, buff, n);
    } while (i == -1 && errno == EINTR);
    return i;
}

long url_nread(URL url, void* buff, long n)
{
    long insize = 0;
    char* s = (char*)buff;
    do {
        long i = url_safe_read(url, s + insize, n - insize);
        if (i <= 0) {
            if (insize == 0)
                return i;
            break;
        }
        insize += i;
    } while (insize < n);
    return insize;
}

int url_fgetc(URL url)
{
    if (url->nread >= url->readlimit)
        return -1;
    int c;
    if (url->url_fgetc != nullptr) {
        url_errno = URLERR_NONE;
        errno = 0;
        c = url->url_fgetc(url);
    } else {
        unsigned char b;
        url_errno = URLERR_NONE;
        errno = 0;
        c = url->url_read(url, &b, 1) == 1 ? (int)b : -1;
    }
    if (c != -1)
        url->nread++;
    return c;
}

char* url_gets(URL url, char* buff, int n)
{
    if (n <= 0)
        return nullptr;
    if (url->nread >= url->readlimit)
        return nullptr;
    if (n == 1) {
        buff[0] = '\0';
        return buff;
    }

    if (url->url_gets != nullptr) {
        unsigned long left = url->readlimit - url->nread;
        if ((unsigned long)n > left + 1)
            n = (int)(left + 1);
        url_errno = URLERR_NONE;
        errno = 0;
        char* s = url->url_gets(url, buff, n);
        if (s != nullptr)
            url->nread += strlen(buff);
        return s;
    }

    int i = 0, newline = url_newline_code;
    url_errno = URLERR_NONE;
    errno = 0;
    while (i < n - 1) {
        int c = url_fgetc(url);
        if (c == -1) {
            if (url->nread >= url->readlimit)
                url->eof = 1;
            break;
        }
        buff[i++] = (char)c;
        if (c == newline)
            break;
    }
    if (i == 0)
        return nullptr;
    buff[i] = '\0';
    return buff;
}

int url_readline(URL url, char* buff, int n)
{
    if (n <= 0)
        return 0;
    n--;  // room for the terminator
    int i = 0;
    for (;;) {
        int c = 0;
        i = 0;
        while (i < n) {
            c = url_fgetc(url);
            if (c == -1 || c == '\r' || c == '\n')
                break;
            buff[i++] = (char)c;
        }
        // A line made of an end byte alone is skipped.
        if (i == 0 && (c == '\r' || c == '\n'))
            continue;
        if (i == 0 && c == -1) {
            buff[0] = '\0';
            return 0;
        }
        break;
    }
    buff[i] = '\0';
    return i;
}

long url_seek(URL url, long offset, int whence)
{
    if (url->url_seek != nullptr) {
        url->nread = 0;
        url_errno = URLERR_NONE;
        errno = 0;
        return url->url_seek(url, offset, whence);
    }

    long here = url_tell(url);
    long forward = -1;
    if (whence == SEEK_CUR && offset >= 0)
        forward = offset;
    else if (whence == SEEK_SET && here >= 0 && offset >= here)
        forward = offset - here;
    if (forward >= 0) {
        // Skip the bytes with the limit lifted; the count starts again afterwards.
        unsigned long saved_limit = url->readlimit;
        url->readlimit = no_read_limit;
        url->nread = 0;
        url_skip(url, forward);
        url->readlimit = saved_limit;
        url->nread = 0;
        return here;
    }
    url_errno = URLERR_OPERATIONNOTPERMITTED;
    errno = EPERM;
    return -1;
}

long url_tell(URL url)
{
    url_errno = URLERR_NONE;
    errno = 0;
    if (url->url_tell != nullptr)
        return url->url_tell(url);
    return (long)url->nread;
}

void url_skip(URL url, long n)
{
    if (n <= 0)
        return;
    if (url->url_seek != nullptr) {
        unsigned long left = url->readlimit > url->nread ? url->readlimit - url->nread : 0;
        long step = (unsigned long)n > left ? (long)left : n;
        if (url->url_seek(url, step, SEEK_CUR) != -1) {
            url->nread += (unsigned long)step;
            return;
        }
    }
    char tmp[512];
    while (n > 0) {
        long i = n > (long)sizeof(tmp) ? (long)sizeof(tmp) : n;
        i = url_read(url, tmp, i);
        if (i <= 0)
            break;
        n -= i;
    }
}

void url_rewind(URL url)
{
    if (url->url_seek != nullptr)
        url->url_seek(url, 0, SEEK_SET);
    url->nread = 0;
}

void url_set_readlimit(URL url, long readlimit)
{
    url->readlimit = readlimit < 0 ? no_read_limit : (unsigned long)readlimit;
    url->nread = 0;
}

void url_close(URL url)
{
    int save_errno = errno;
    if (url == nullptr) {
        fprintf(stderr, "URL stream structure is NULL?\n");
    } else if (url->type == URL_none_t) {
        fprintf(stderr, "URL Error: Already URL is closed (type=%d)\n", url->type);
    } else {
        url->url_close(url);
    }
    errno = save_errno;
}

static const char* url_errors[] = {
    "No error",
    "Unknown URL",
    "Operation not permitted",
    "Can't open a URL",
    "Invalid URL form",
    "URL too long",
    "No mail address",
};

const char* url_strerror(int no)
{
    if (no <= URLERR_NONE)
        return strerror(no);
    if (no >= URLERR_MAXNO)
        return "Internal error";
    return url_errors[no - URLERR_NONE];
}
