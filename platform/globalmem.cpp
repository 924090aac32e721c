#include "platform/globalmem.h"

#include <cstdlib>

HGLOBAL GlobalAlloc(unsigned flags, size_t bytes)
{
    if (bytes == 0)
        bytes = 1;
    if (flags & GMEM_ZEROINIT)
        return calloc(1, bytes);
    return malloc(bytes);
}

void* GlobalLock(HGLOBAL h)
{
    return h;
}

int GlobalUnlock(HGLOBAL)
{
    return 0;
}

HGLOBAL GlobalFree(HGLOBAL h)
{
    free(h);
    return nullptr;
}
