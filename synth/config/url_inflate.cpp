// Decoding wrappers: a stream that replays a few bytes already read before the rest of its
// source, and the gzip decoder (zlib) over another stream.
#include "config/url.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <zlib.h>

#include "frontend/memory.h"

// ---- replaying stream ------------------------------------------------------------------

struct URL_buff {
    URL_common common;
    URL reader;
    unsigned char prefix[16];
    long prefix_len;
    long prefix_pos;
    long pos;  // bytes served so far
};

static long url_buff_read(URL url, void* buff, long n)
{
    URL_buff* u = (URL_buff*)url;
    long done = 0;
    unsigned char* out = (unsigned char*)buff;
    if (u->prefix_pos < u->prefix_len) {
        long k = u->prefix_len - u->prefix_pos;
        if (k > n)
            k = n;
        memcpy(out, u->prefix + u->prefix_pos, (size_t)k);
        u->prefix_pos += k;
        done = k;
    }
    if (done < n) {
        long r = url_read(u->reader, out + done, n - done);
        if (r < 0 && done == 0)
            return r;
        if (r > 0)
            done += r;
    }
    u->pos += done;
    return done;
}

static long url_buff_tell(URL url)
{
    return ((URL_buff*)url)->pos;
}

static void url_buff_close(URL url)
{
    URL_buff* u = (URL_buff*)url;
    url_close(u->reader);
    free(u);
}

URL url_buff_open(URL url, const unsigned char* prefix, long prefix_len)
{
    if (url == nullptr)
        return nullptr;
    if (prefix_len < 0)
        prefix_len = 0;
    if (prefix_len > (long)sizeof(((URL_buff*)nullptr)->prefix)) {
        url_errno = errno = EINVAL;
        return nullptr;
    }
    URL_buff* u = (URL_buff*)alloc_url((int)sizeof(URL_buff));
    u->common.type = URL_buff_t;
    u->common.url_read = url_buff_read;
    u->common.url_tell = url_buff_tell;
    u->common.url_close = url_buff_close;
    u->reader = url;
    memcpy(u->prefix, prefix, (size_t)prefix_len);
    u->prefix_len = prefix_len;
    return &u->common;
}

// ---- gzip decoder ----------------------------------------------------------------------

struct URL_inflate {
    URL_common common;
    URL reader;
    z_stream zs;
    unsigned char inbuf[8192];
    int finished;  // the deflate stream has ended (or is broken)
    long pos;      // decoded bytes served so far
};

static long url_inflate_read(URL url, void* buff, long n)
{
    URL_inflate* u = (URL_inflate*)url;
    if (u->finished || n <= 0)
        return 0;
    u->zs.next_out = (Bytef*)buff;
    u->zs.avail_out = (uInt)n;
    while (u->zs.avail_out > 0) {
        if (u->zs.avail_in == 0) {
            long r = url_read(u->reader, u->inbuf, (long)sizeof(u->inbuf));
            if (r <= 0) {
                // Truncated data: what was decoded so far is all there is.
                u->finished = 1;
                break;
            }
            u->zs.next_in = u->inbuf;
            u->zs.avail_in = (uInt)r;
        }
        int ret = inflate(&u->zs, Z_NO_FLUSH);
        if (ret == Z_STREAM_END) {
            u->finished = 1;
            break;
        }
        if (ret != Z_OK && ret != Z_BUF_ERROR) {
            u->finished = 1;
            long got = n - (long)u->zs.avail_out;
            if (got == 0) {
                url_errno = errno = EIO;
                return -1;
            }
            break;
        }
    }
    long got = n - (long)u->zs.avail_out;
    u->pos += got;
    return got;
}

static long url_inflate_tell(URL url)
{
    return ((URL_inflate*)url)->pos;
}

static void url_inflate_close(URL url)
{
    URL_inflate* u = (URL_inflate*)url;
    inflateEnd(&u->zs);
    url_close(u->reader);
    free(u);
}

URL url_inflate_open(URL url)
{
    if (url == nullptr)
        return nullptr;
    URL_inflate* u = (URL_inflate*)alloc_url((int)sizeof(URL_inflate));
    memset(&u->zs, 0, sizeof(u->zs));
    // 16 + 15: a gzip header and trailer around deflate data with the largest window.
    if (inflateInit2(&u->zs, 16 + MAX_WBITS) != Z_OK) {
        free(u);
        url_errno = URLERR_CANTOPEN;
        errno = ENOMEM;
        return nullptr;
    }
    u->common.type = URL_inflate_t;
    u->common.url_read = url_inflate_read;
    u->common.url_tell = url_inflate_tell;
    u->common.url_close = url_inflate_close;
    u->reader = url;
    return &u->common;
}
