// The entries of a patch set's configuration (patches.cfg): each "number name" line under its
// "bank" or "drumset" section.
#ifndef CORVELLE_TESTS_SUPPORT_PATCH_SET_H
#define CORVELLE_TESTS_SUPPORT_PATCH_SET_H

#include <sstream>
#include <string>
#include <vector>

#include "support/tempdir.h"

struct PatchEntry {
    bool drum;    // a drum set's note rather than a tone bank's program
    int bank;     // bank or drum set
    int number;   // program or note
    std::string name;  // the patch file, as written
};

// The entries of the configuration file at path in file order (none when it cannot be read);
// comments and lines of other kinds are left out, and entries before any section are bank 0's.
inline std::vector<PatchEntry> read_patch_set(const std::string& path)
{
    std::vector<PatchEntry> entries;
    std::istringstream in(read_whole_file(path));
    bool drum = false;
    int bank = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string first, second;
        if (!(words >> first >> second))
            continue;
        if (first == "bank" || first == "drumset") {
            drum = first == "drumset";
            bank = std::stoi(second);
        } else if (first.find_first_not_of("0123456789") == std::string::npos) {
            entries.push_back({drum, bank, std::stoi(first), second});
        }
    }
    return entries;
}

#endif
