#include <gtest/gtest.h>
#include <malloc.h>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include "platform/critsect.h"
#include "platform/debugout.h"
#include "platform/globalmem.h"
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
    // The engine sets its lock up anew for every play list: a deleted one is gone, not kept.
    ASSERT_EQ(cs.mutex, nullptr);
    size_t heap = mallinfo2().uordblks;
    for (int i = 0; i < 1000; i++) {
        InitializeCriticalSection(&cs);
        DeleteCriticalSection(&cs);
    }
    EXPECT_LT(mallinfo2().uordblks, heap + 1000 * sizeof(std::recursive_mutex) / 2);
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
    buf[0] = 'x';
    EXPECT_EQ(GetModuleFileNameA(nullptr, buf, 0), 0u);  // no room: nothing is written
    EXPECT_EQ(buf[0], 'x');
    EXPECT_EQ(GetModuleFileNameA(nullptr, nullptr, 64), 0u);
    memset(buf, 'x', sizeof buf);
    unsigned n = GetWindowsDirectoryA(buf, sizeof buf);
    EXPECT_GT(n, 0u);
    EXPECT_EQ(strlen(buf), n);
    EXPECT_EQ(buf[0], '/');
}

// A zero-filled block is zero and as large as asked, even where the heap hands back memory
// just used; formatted text is cut to 1023 characters, and the count stored is returned.
TEST(GlobalMemoryAndFormatting, ZeroFilledBlocksAndCutText)
{
    const size_t size = 1000;
    void* used = GlobalAlloc(GMEM_FIXED, size);
    memset(used, 0xa5, size);
    GlobalFree(used);
    auto* p = static_cast<unsigned char*>(GlobalLock(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size)));
    ASSERT_NE(p, nullptr);
    ASSERT_GE(malloc_usable_size(p), size);
    EXPECT_EQ(std::count(p, p + size, 0), (long)size);
    GlobalUnlock(p);
    GlobalFree(p);

    char buf[1100];
    EXPECT_EQ(wsprintfA(buf, "%s %d", "note", 60), 7);
    EXPECT_STREQ(buf, "note 60");
    for (int len : {1023, 1024, 2000}) {
        EXPECT_EQ(wsprintfA(buf, "%0*d", len, 7), std::min(len, 1023)) << len;
        EXPECT_EQ(strlen(buf), (size_t)std::min(len, 1023)) << len;
    }
}
