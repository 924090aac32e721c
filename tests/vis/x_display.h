// Connecting to the X server for the GUI tests. A virtual X server resets when its last
// client leaves, and a test process that connects in that moment is refused; so connect with
// retries and hand the connection to the toolkit, which then uses it instead of opening its
// own. Kept apart from the view's headers: the X headers have a type of their own named Visual.
#ifndef CORVELLE_TESTS_X_DISPLAY_H
#define CORVELLE_TESTS_X_DISPLAY_H

#include <unistd.h>
#include <FL/x.H>

inline bool connect_display_impl()
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

#endif
