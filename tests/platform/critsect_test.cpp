#include <gtest/gtest.h>
#include <atomic>
#include <cstring>
#include <thread>
#include "platform/critsect.h"
#include "platform/process.h"
#include "platform/thread.h"

// Two threads incrementing one counter under the lock never lose an update, and the lock
// can be entered again by the thread that holds it.
TEST(CriticalSectionThreads, GuardsCounterAcrossThreads)
{
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 20000; i++) {
            EnterCriticalSection(&cs);
            EnterCriticalSection(&cs);
            long seen = counter;
            std::this_thread::yield();  // the other thread would step in here without the lock
            counter = seen + 1;
            LeaveCriticalSection(&cs);
            LeaveCriticalSection(&cs);
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 40000);
    DeleteCriticalSection(&cs);
}

// A detached thread runs the body and its handle names it; the program's own path (the
// configuration may lie beside it), none if it does not fit; the system configuration folder.
TEST(ThreadAndProcess, StartsDetachedThreadAndNamesPaths)
{
    std::atomic<int> flag{0};
    Fl_Thread id = 0;
    auto set_flag = [](void* f) -> void* {
        *static_cast<std::atomic<int>*>(f) = 1;
        return nullptr;
    };
    ASSERT_EQ(fl_create_thread(id, set_flag, &flag), 0);
    for (int i = 0; i < 20000 && !flag; i++)
        Sleep(1);
    EXPECT_EQ(flag.load(), 1);
    EXPECT_NE(id, (Fl_Thread)0);

    char buf[4096];
    ASSERT_GT(GetModuleFileNameA(nullptr, buf, sizeof buf), 0u);
    EXPECT_STREQ(strrchr(buf, '/'), "/test_platform");
    EXPECT_EQ(GetModuleFileNameA(nullptr, buf, 4), 0u);
    memset(buf, 'x', sizeof buf);
    unsigned n = GetWindowsDirectoryA(buf, sizeof buf);
    EXPECT_GT(n, 0u);
    EXPECT_EQ(strlen(buf), n);
    EXPECT_EQ(buf[0], '/');
}
