// File streams: the whole file mapped read-only into memory, or a binary stdio stream when
// it cannot be mapped; "-" is standard input.
#include "config/url.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "frontend/memory.h"

struct URL_file {
    URL_common common;
    char* mapptr;   // mapped view, or none
    long mapsize;
    long pos;       // position within the view
    int fd;         // file handle of the mapping, -1 when none
    FILE* fp;       // stdio stream when not mapped, or none
};

static long url_file_read(URL url, void* buff, long n)
{
    URL_file* u = (URL_file*)url;
    if (u->mapptr != nullptr) {
        if (u->pos + n > u->mapsize)
            n = u->mapsize - u->pos;
        if (n <= 0)
            return 0;
        memcpy(buff, u->mapptr + u->pos, (size_t)n);
        u->pos += n;
        return n;
    }
    size_t got = fread(buff, 1, (size_t)n, u->fp);
    if (got == 0 && ferror(u->fp)) {
        url_errno = errno;
        clearerr(u->fp);
        return -1;
    }
    return (long)got;
}

static char* url_file_gets(URL url, char* buff, int n)
{
    URL_file* u = (URL_file*)url;
    if (u->mapptr != nullptr) {
        if (n <= 0)
            return nullptr;
        if (n == 1) {
            buff[0] = '\0';
            return buff;
        }
        if (u->pos >= u->mapsize)
            return nullptr;
        long avail = u->mapsize - u->pos;
        long len = (long)n - 1;
        if (len > avail)
            len = avail;
        const char* start = u->mapptr + u->pos;
        const char* nl = (const char*)memchr(start, url_newline_code, (size_t)len);
        if (nl != nullptr)
            len = nl - start + 1;
        memcpy(buff, start, (size_t)len);
        buff[len] = '\0';
        u->pos += len;
        return buff;
    }
    if (fgets(buff, n, u->fp) == nullptr) {
        if (ferror(u->fp)) {
            url_errno = errno;
            clearerr(u->fp);
        }
        return nullptr;
    }
    return buff;
}

static int url_file_fgetc(URL url)
{
    URL_file* u = (URL_file*)url;
    if (u->mapptr != nullptr) {
        if (u->pos >= u->mapsize)
            return -1;
        return (unsigned char)u->mapptr[u->pos++];
    }
    int c = getc(u->fp);
    if (c == EOF) {
        if (ferror(u->fp)) {
            url_errno = errno;
            clearerr(u->fp);
        }
        return -1;
    }
    return c;
}

static long url_file_seek(URL url, long offset, int whence)
{
    URL_file* u = (URL_file*)url;
    if (u->mapptr != nullptr) {
        long before = u->pos;
        long ret;
        switch (whence) {
        case SEEK_SET: ret = offset; break;
        case SEEK_CUR: ret = before + offset; break;
        case SEEK_END: ret = u->mapsize + offset; break;
        default:
            url_errno = errno = EINVAL;
            return -1;
        }
        if (ret > u->mapsize)
            ret = u->mapsize;
        else if (ret < 0)
            ret = 0;
        u->pos = ret;
        return before;
    }
    long before = ftell(u->fp);
    if (before == -1 || fseek(u->fp, offset, whence) != 0) {
        url_errno = errno;
        return -1;
    }
    return before;
}

static long url_file_tell(URL url)
{
    URL_file* u = (URL_file*)url;
    if (u->mapptr != nullptr)
        return u->pos;
    long pos = ftell(u->fp);
    if (pos == -1)
        url_errno = errno;
    return pos;
}

static void url_file_close(URL url)
{
    URL_file* u = (URL_file*)url;
    int save_errno = errno;
    if (u->mapptr != nullptr)
        munmap(u->mapptr, (size_t)u->mapsize);
    if (u->fd >= 0)
        close(u->fd);
    if (u->fp != nullptr) {
        if (u->fp == stdin)
            rewind(stdin);
        else
            fclose(u->fp);
    }
    u->common.type = URL_none_t;
    free(u);
    errno = save_errno;
}

URL url_file_open(const char* fname)
{
    FILE* fp = nullptr;
    char* mapptr = nullptr;
    long mapsize = 0;
    int fd = -1;

    if (strcmp(fname, "-") == 0) {
        fp = stdin;
    } else {
        if (strncasecmp(fname, "file:", 5) == 0)
            fname += 5;
        if (*fname == '\0') {
            url_errno = errno = ENOENT;
            return nullptr;
        }
        fd = open(fname, O_RDONLY);
        if (fd < 0) {
            url_errno = errno;
            if (errno == ENOENT || errno == EACCES)
                return nullptr;
        } else {
            struct stat st;
            if (fstat(fd, &st) != 0) {
                url_errno = errno;
                close(fd);
                return nullptr;
            }
            // A directory opens as a file on this system but gives no bytes: refuse it here.
            if (S_ISDIR(st.st_mode)) {
                close(fd);
                url_errno = errno = EISDIR;
                return nullptr;
            }
            if (S_ISREG(st.st_mode) && st.st_size > 0 && (uint64)st.st_size < (1ull << 31)) {
                void* p = mmap(nullptr, (size_t)st.st_size, PROT_READ, MAP_PRIVATE, fd, 0);
                if (p != MAP_FAILED) {
                    mapptr = (char*)p;
                    mapsize = (long)st.st_size;
                }
            }
            if (mapptr == nullptr) {
                close(fd);
                fd = -1;
            }
        }
        if (mapptr == nullptr) {
            fp = fopen(fname, "rb");
            if (fp == nullptr) {
                url_errno = errno;
                return nullptr;
            }
        }
    }

    URL_file* u = (URL_file*)alloc_url((int)sizeof(URL_file));
    u->common.type = URL_file_t;
    u->common.url_read = url_file_read;
    u->common.url_gets = url_file_gets;
    u->common.url_fgetc = url_file_fgetc;
    u->common.url_close = url_file_close;
    if (fp == stdin) {
        u->common.url_seek = nullptr;
        u->common.url_tell = nullptr;
    } else {
        u->common.url_seek = url_file_seek;
        u->common.url_tell = url_file_tell;
    }
    u->mapptr = mapptr;
    u->mapsize = mapsize;
    u->pos = 0;
    u->fd = fd;
    u->fp = fp;
    return &u->common;
}
