// Running the toolkit's event loop in a test: for a while, or until something holds.
#ifndef CORVELLE_TESTS_SUPPORT_TOOLKIT_WAIT_H
#define CORVELLE_TESTS_SUPPORT_TOOLKIT_WAIT_H

#include <chrono>
#include <FL/Fl.H>

// Runs the toolkit until done() holds or the seconds have passed; returns done().
template <class F>
bool run_toolkit_until(double seconds, F done)
{
    auto start = std::chrono::steady_clock::now();
    while (!done()) {
        if (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >= seconds)
            return false;
        Fl::wait(0.02);
    }
    return true;
}

// Runs the toolkit for the seconds (timers fire, drawing happens).
inline void run_toolkit_for(double seconds)
{
    run_toolkit_until(seconds, [] { return false; });
}

#endif
