#include "platform/debugout.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

void OutputDebugStringA(const char* text)
{
    // Read at every call so that a test or a person can switch the sink on while running.
    const char* on = getenv("CORVELLE_DEBUG");
    if (on == nullptr || *on == '\0' || text == nullptr)
        return;
    // One write per text keeps lines from several threads whole.
    size_t n = strlen(text);
    while (n > 0) {
        ssize_t w = write(STDERR_FILENO, text, n);
        if (w <= 0)
            return;
        text += w;
        n -= (size_t)w;
    }
}

int wsprintfA(char* buf, const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(buf, 1024, format, ap);
    va_end(ap);
    if (n < 0) {
        buf[0] = '\0';
        return 0;
    }
    return n < 1024 ? n : 1023;
}
