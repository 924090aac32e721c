// The debug sink: trace lines of the drivers go to standard error when CORVELLE_DEBUG is set
// in the environment, and are dropped otherwise.
#ifndef CORVELLE_PLATFORM_DEBUGOUT_H
#define CORVELLE_PLATFORM_DEBUGOUT_H

// Writes text as it is (callers end their lines with "\n").
void OutputDebugStringA(const char* text);

// Formats like snprintf into buf (at most 1024 bytes, as the system call it stands for);
// returns the number of characters stored.
int wsprintfA(char* buf, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

#endif
