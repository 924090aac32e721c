#include "platform/thread.h"

#include <pthread.h>
#include <chrono>
#include <thread>

int fl_create_thread(Fl_Thread& t, void* (*f)(void*), void* arg)
{
    pthread_t id;
    int rc = pthread_create(&id, nullptr, f, arg);
    if (rc != 0)
        return rc;
    pthread_detach(id);
    t = (Fl_Thread)id;
    return 0;
}

void Sleep(unsigned long ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
