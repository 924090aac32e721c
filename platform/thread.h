// Thread start and sleeping.
#ifndef CORVELLE_PLATFORM_THREAD_H
#define CORVELLE_PLATFORM_THREAD_H

typedef unsigned long Fl_Thread;

// Starts f(arg) on a detached thread with the default stack; returns 0 on success.
int fl_create_thread(Fl_Thread& t, void* (*f)(void*), void* arg);

// Suspends the calling thread for ms milliseconds.
void Sleep(unsigned long ms);

#endif
