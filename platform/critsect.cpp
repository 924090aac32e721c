#include "platform/critsect.h"

void InitializeCriticalSection(CRITICAL_SECTION* cs)
{
    if (!cs->mutex)
        cs->mutex = new std::recursive_mutex;
}

void EnterCriticalSection(CRITICAL_SECTION* cs)
{
    cs->mutex->lock();
}

void LeaveCriticalSection(CRITICAL_SECTION* cs)
{
    cs->mutex->unlock();
}

void DeleteCriticalSection(CRITICAL_SECTION* cs)
{
    delete cs->mutex;
    cs->mutex = nullptr;
}
