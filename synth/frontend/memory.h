// Allocation helpers: they never return failure. A request that cannot be met is reported
// and the program ends with status 10 after the audio output and the control interface close.
#ifndef CORVELLE_FRONTEND_MEMORY_H
#define CORVELLE_FRONTEND_MEMORY_H

#include <cstddef>

void* safe_malloc(size_t count);
void* safe_large_malloc(size_t count);
void* safe_realloc(void* old_ptr, size_t new_size);
char* safe_strdup(const char* s);

#endif
