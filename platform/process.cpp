#include "platform/process.h"

#include <cerrno>
#include <cstring>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef CORVELLE_SYSCONFDIR
#define CORVELLE_SYSCONFDIR "/etc"
#endif

unsigned GetModuleFileNameA(void*, char* filename, unsigned size)
{
    if (filename == nullptr || size == 0)
        return 0;
    ssize_t n = readlink("/proc/self/exe", filename, size);
    if (n <= 0 || (size_t)n >= size) {
        filename[0] = '\0';
        return 0;
    }
    filename[n] = '\0';
    return (unsigned)n;
}

unsigned GetWindowsDirectoryA(char* buffer, unsigned size)
{
    size_t len = strlen(CORVELLE_SYSCONFDIR);
    if (buffer == nullptr || len >= size)
        return 0;
    memcpy(buffer, CORVELLE_SYSCONFDIR, len + 1);
    return (unsigned)len;
}

bool raise_thread_priority(void)
{
    pid_t tid = (pid_t)syscall(SYS_gettid);
    errno = 0;
    int nice_now = getpriority(PRIO_PROCESS, (id_t)tid);
    if (nice_now == -1 && errno != 0)
        return false;
    return setpriority(PRIO_PROCESS, (id_t)tid, nice_now - 1) == 0;
}
