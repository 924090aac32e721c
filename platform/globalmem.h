// Global memory blocks: zero-initialised heap blocks with the lock/unlock/free calls the
// audio driver uses. Locking returns the block's address; unlocking does nothing.
#ifndef CORVELLE_PLATFORM_GLOBALMEM_H
#define CORVELLE_PLATFORM_GLOBALMEM_H

#include <cstddef>

typedef void* HGLOBAL;

enum { GMEM_FIXED = 0x0000, GMEM_MOVEABLE = 0x0002, GMEM_ZEROINIT = 0x0040 };

// A block of bytes bytes (at least one), zero-filled when flags has GMEM_ZEROINIT;
// none when memory is short.
HGLOBAL GlobalAlloc(unsigned flags, size_t bytes);
void* GlobalLock(HGLOBAL h);
int GlobalUnlock(HGLOBAL h);
// Frees the block; returns none on success (as the system call does).
HGLOBAL GlobalFree(HGLOBAL h);

#endif
