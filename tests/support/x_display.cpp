// Connecting to the X server for the GUI tests. A virtual X server resets when its last
// client leaves, and a test process that connects in that moment is refused; so connect with
// retries and hand the connection to the toolkit, which then uses it instead of opening its
// own. Kept apart from the view's headers: the X headers have a type of their own named Visual.
// Linked into every test program, with the leak checker's suppressions below.
#include "support/x_display.h"

#include <unistd.h>
#include <FL/x.H>

bool connect_display()
{
    if (fl_display)
        return true;
    for (int attempt = 0; attempt < 100; attempt++) {
        if (Display* d = XOpenDisplay(nullptr)) {
            fl_open_display(d);
            return true;
        }
        usleep(50000);
    }
    return false;
}

// What the system's font and GL libraries keep until the process ends is not ours to free;
// the leak checker of the sanitizer builds leaves it out.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
