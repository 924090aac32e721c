// Memory streams: the bytes of a buffer, read like a mapped file.
#include "config/url.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

struct URL_mem {
    URL_common common;
    char* memory;
    long mempos;
    long memsiz;
    int autofree;  // the stream owns the buffer and frees it when closed
};

static long url_mem_read(URL url, void* buff, long n)
{
    URL_mem* u = (URL_mem*)url;
    long left = u->memsiz - u->mempos;
    if (n > left)
        n = left;
    if (n <= 0)
        return 0;
    memcpy(buff, u->memory + u->mempos, (size_t)n);
    u->mempos += n;
    return n;
}

static char* url_mem_gets(URL url, char* buff, int n)
{
    URL_mem* u = (URL_mem*)url;
    if (n <= 0)
        return nullptr;
    if (n == 1) {
        buff[0] = '\0';
        return buff;
    }
    long left = u->memsiz - u->mempos;
    if (left <= 0)
        return nullptr;
    long len = (long)n - 1;
    if (len > left)
        len = left;
    const char* start = u->memory + u->mempos;
    const char* nl = (const char*)memchr(start, url_newline_code, (size_t)len);
    if (nl != nullptr)
        len = nl - start + 1;
    memcpy(buff, start, (size_t)len);
    buff[len] = '\0';
    u->mempos += len;
    return buff;
}

static int url_mem_fgetc(URL url)
{
    URL_mem* u = (URL_mem*)url;
    if (u->mempos >= u->memsiz)
        return -1;
    return (unsigned char)u->memory[u->mempos++];
}

static long url_mem_seek(URL url, long offset, int whence)
{
    URL_mem* u = (URL_mem*)url;
    long before = u->mempos;
    long ret;
    switch (whence) {
    case SEEK_SET: ret = offset; break;
    case SEEK_CUR: ret = before + offset; break;
    case SEEK_END: ret = u->memsiz + offset; break;
    default:
        url_errno = errno = EINVAL;
        return -1;
    }
    if (ret > u->memsiz)
        ret = u->memsiz;
    else if (ret < 0)
        ret = 0;
    u->mempos = ret;
    return before;
}

static long url_mem_tell(URL url)
{
    return ((URL_mem*)url)->mempos;
}

static void url_mem_close(URL url)
{
    URL_mem* u = (URL_mem*)url;
    int save_errno = errno;
    if (u->autofree)
        free(u->memory);
    u->common.type = URL_none_t;
    free(u);
    errno = save_errno;
}

URL url_mem_open(char* memory, long memsiz, int autofree)
{
    if (memsiz < 0 || (memory == nullptr && memsiz > 0)) {
        url_errno = errno = EINVAL;
        if (autofree)
            free(memory);
        return nullptr;
    }
    URL_mem* u = (URL_mem*)alloc_url((int)sizeof(URL_mem));
    u->common.type = URL_mem_t;
    u->common.url_read = url_mem_read;
    u->common.url_gets = url_mem_gets;
    u->common.url_fgetc = url_mem_fgetc;
    u->common.url_seek = url_mem_seek;
    u->common.url_tell = url_mem_tell;
    u->common.url_close = url_mem_close;
    u->memory = memory;
    u->mempos = 0;
    u->memsiz = memsiz;
    u->autofree = autofree;
    return &u->common;
}
