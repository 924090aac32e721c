// Running shell commands from a test: what they print, and whether a program is there.
#ifndef CORVELLE_TESTS_SUPPORT_SHELL_H
#define CORVELLE_TESTS_SUPPORT_SHELL_H

#include <cstdio>
#include <cstdlib>
#include <string>

// What the command prints on standard output, without the trailing line ends and spaces.
inline std::string shell_output(const std::string& command)
{
    std::string out;
    char buf[512];
    FILE* f = popen(command.c_str(), "r");
    for (size_t n; f && (n = fread(buf, 1, sizeof buf, f)) > 0;)
        out.append(buf, n);
    if (f)
        pclose(f);
    return out.erase(out.find_last_not_of(" \n") + 1);
}

// Runs a command whose own trouble (xdotool, import) shows in what the test checks next.
inline void shell(const std::string& command)
{
    system(command.c_str());
}

// Saves a picture of an X window. import holds the X server while it reads the window and now
// and then never lets go (a second connection of its own waits behind the grab): a try that has
// not ended within 20 s is killed, which frees the server, and made again.
inline bool screenshot(const std::string& window, const std::string& png)
{
    for (int attempt = 0; attempt < 3; attempt++)
        if (system(("timeout -k 2 20 import -window " + window + " '" + png + "'").c_str()) == 0)
            return true;
    return false;
}

inline bool have_program(const std::string& name)
{
    return system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

#endif
