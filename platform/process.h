// The running process: the file name of its executable, the system directory searched first
// for the configuration, and raising the calling thread's priority.
#ifndef CORVELLE_PLATFORM_PROCESS_H
#define CORVELLE_PLATFORM_PROCESS_H

// Writes the full name of the running executable into filename (size bytes with the
// terminator); returns its length, or 0 when it is unknown or does not fit.
unsigned GetModuleFileNameA(void* module, char* filename, unsigned size);
// Writes the system configuration directory (CORVELLE_SYSCONFDIR, "/etc" by default);
// returns its length, or 0 when it does not fit.
unsigned GetWindowsDirectoryA(char* buffer, unsigned size);
// Raises the calling thread's priority one step; false when the system refuses.
bool raise_thread_priority(void);

#endif
