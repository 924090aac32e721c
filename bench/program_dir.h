// The folder of the running benchmark program, where the build's other programs and its
// configuration are.
#ifndef CORVELLE_BENCH_PROGRAM_DIR_H
#define CORVELLE_BENCH_PROGRAM_DIR_H

#include <climits>
#include <string>
#include <unistd.h>

inline std::string program_dir()
{
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return ".";
    buf[n] = '\0';
    std::string s = buf;
    return s.substr(0, s.rfind('/'));
}

#endif
