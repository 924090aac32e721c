#include "vis/x_display.h"

bool connect_display()
{
    return connect_display_impl();
}

// What the system's font and GL libraries keep until the process ends is not ours to free;
// the leak checker of the sanitizer builds leaves it out.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
