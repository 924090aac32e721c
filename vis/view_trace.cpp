#include "vis/view_trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/time.h>
#include <unistd.h>

// The trace file, opened at the first line (-1: no trace wanted or it cannot be opened).
static int trace_fd(void)
{
    static int fd = -2;
    if (fd == -2) {
        const char* name = getenv("CORVELLE_TRACE");
        fd = -1;
        if (name != nullptr && *name != '\0') {
            fd = open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
            if (fd < 0)
                fprintf(stderr, "note view: cannot open trace file %s\n", name);
        }
    }
    return fd;
}

static double wall_clock_us(void)
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return (double)tv.tv_sec * 1e6 + (double)tv.tv_usec;
}

// One write per line, so that lines stay whole beside the device's.
static void write_line(const char* line, int n)
{
    int fd = trace_fd();
    if (fd >= 0 && n > 0 && write(fd, line, (size_t)n) != n)
        fprintf(stderr, "note view: could not write a trace line\n");
}

void trace_glyph(int64 event_time, int ch, int key)
{
    if (trace_fd() < 0)
        return;
    char line[128];
    int n = snprintf(line, sizeof line, "glyph %.0f %lld %d %d\n", wall_clock_us(),
                     (long long)event_time, ch, key);
    write_line(line, n);
}

void trace_frame(int32 position, long glyphs, long moved)
{
    if (trace_fd() < 0)
        return;
    char line[128];
    int n = snprintf(line, sizeof line, "frame %.0f %d %ld %ld\n", wall_clock_us(), (int)position,
                     glyphs, moved);
    write_line(line, n);
}

void trace_transport(const char* what, int32 from, int32 to)
{
    if (trace_fd() < 0)
        return;
    char line[128];
    int n = strcmp(what, "seek") == 0
                ? snprintf(line, sizeof line, "%s %.0f %d %d\n", what, wall_clock_us(), (int)from, (int)to)
                : snprintf(line, sizeof line, "%s %.0f %d\n", what, wall_clock_us(), (int)from);
    write_line(line, n);
}

void trace_status(int32 position, bool paused, const char* text)
{
    if (trace_fd() < 0)
        return;
    char line[512];
    int n = snprintf(line, sizeof line, "status %.0f %d %d %s\n", wall_clock_us(), (int)position,
                     paused ? 1 : 0, text);
    write_line(line, n < (int)sizeof line ? n : (int)sizeof line - 1);
}

// Open descriptors of the process, -1 when they cannot be counted.
static int open_descriptors(void)
{
    DIR* d = opendir("/proc/self/fd");
    if (d == nullptr)
        return -1;
    int n = -1;  // the listing's own descriptor is not counted
    while (struct dirent* e = readdir(d))
        if (e->d_name[0] != '.')
            n++;
    closedir(d);
    return n;
}

// Heap in use counts every arena's allocated blocks and malloc's own mapped blocks: exact to
// the byte, unlike resident memory, which moves by whole pages as the heap is reused.
void trace_idle(void)
{
    if (trace_fd() < 0)
        return;
    struct mallinfo2 m = mallinfo2();
    char line[128];
    int n = snprintf(line, sizeof line, "idle %.0f %zu %d\n", wall_clock_us(), m.uordblks + m.hblkhd,
                     open_descriptors());
    write_line(line, n);
}
