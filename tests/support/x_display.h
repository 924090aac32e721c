// Connecting the GUI tests to the X server (support/x_display.cpp).
#ifndef CORVELLE_TESTS_SUPPORT_X_DISPLAY_H
#define CORVELLE_TESTS_SUPPORT_X_DISPLAY_H

// Connects to the X server and hands the connection to the toolkit; false when it cannot be
// reached.
bool connect_display();

#endif
