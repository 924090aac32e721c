#include "frontend/memory.h"

#include <cstdlib>
#include <cstring>

#include "frontend/controls.h"
#include "output/output.h"

// Requests above this size are taken as a sign of a corrupt length field.
static const size_t max_safe_malloc_size = 1u << 23;  // 8 MiB

// Output-mode request that throws away everything queued in the device.
static const int discard_request = 2;

// Ends the program after an allocation failure: the audio output is discarded and closed,
// the control interface closed, and the process exits with status 10.
[[noreturn]] static void safe_exit(int status)
{
    if (play_mode != nullptr) {
        if (play_mode->acntl != nullptr)
            play_mode->acntl(discard_request, nullptr);
        if (play_mode->close_output != nullptr)
            play_mode->close_output();
    }
    if (ctl != nullptr && ctl->close != nullptr)
        ctl->close();
    exit(status);
}

// A second failure while the first is being reported goes straight to the exit.
static int alloc_error_flag = 0;

[[noreturn]] static void report_and_exit(const char* format, size_t count)
{
    if (!alloc_error_flag) {
        alloc_error_flag = 1;
        cmsg(CMSG_FATAL, VERB_NORMAL, format, (int)count);
    }
    safe_exit(10);
}

void* safe_large_malloc(size_t count)
{
    if (alloc_error_flag)
        safe_exit(10);
    if (count == 0)
        count = 1;  // never hand out a null pointer for an empty request
    void* p = malloc(count);
    if (p == nullptr)
        report_and_exit("Sorry. Couldn't malloc %d bytes.", count);
    return p;
}

void* safe_malloc(size_t count)
{
    if (alloc_error_flag)
        safe_exit(10);
    if (count > max_safe_malloc_size)
        report_and_exit("Strange, I feel like allocating %d bytes. This must be a bug.", count);
    return safe_large_malloc(count);
}

void* safe_realloc(void* old_ptr, size_t new_size)
{
    if (alloc_error_flag)
        safe_exit(10);
    if (new_size > max_safe_malloc_size)
        report_and_exit("Strange, I feel like allocating %d bytes. This must be a bug.", new_size);
    if (new_size == 0)
        new_size = 1;
    void* p = realloc(old_ptr, new_size);
    if (p == nullptr)
        report_and_exit("Sorry. Couldn't malloc %d bytes.", new_size);
    return p;
}

char* safe_strdup(const char* s)
{
    if (alloc_error_flag)
        safe_exit(10);
    if (s == nullptr)
        s = "";
    char* p = strdup(s);
    if (p == nullptr) {
        alloc_error_flag = 1;
        cmsg(CMSG_FATAL, VERB_NORMAL, "Sorry. Couldn't alloc memory.");
        safe_exit(10);
    }
    return p;
}
