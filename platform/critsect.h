// Critical sections: a mutex with the enter/leave semantics the engine expects.
#ifndef CORVELLE_PLATFORM_CRITSECT_H
#define CORVELLE_PLATFORM_CRITSECT_H

#include <mutex>

struct CRITICAL_SECTION {
    std::recursive_mutex* mutex = nullptr;
};

void InitializeCriticalSection(CRITICAL_SECTION* cs);
void EnterCriticalSection(CRITICAL_SECTION* cs);
void LeaveCriticalSection(CRITICAL_SECTION* cs);
void DeleteCriticalSection(CRITICAL_SECTION* cs);

#endif
