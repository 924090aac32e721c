// A temporary directory for a test, removed with everything in it when the object goes.
#ifndef CORVELLE_TESTS_SUPPORT_TEMPDIR_H
#define CORVELLE_TESTS_SUPPORT_TEMPDIR_H

#include <string>
#include <vector>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path()/name
    std::string file(const std::string& name) const;
    // Writes bytes to path()/name (creating subdirectories) and returns the full name.
    std::string write(const std::string& name, const std::string& bytes) const;
    // Creates the subdirectory path()/name and returns its full name.
    std::string mkdir(const std::string& name) const;

private:
    std::string path_;
};

// The whole content of a file, or an empty string when it cannot be read.
std::string read_whole_file(const std::string& name);
// Names (without the directory) of the files in dir ending in suffix, sorted.
std::vector<std::string> files_ending(const std::string& dir, const std::string& suffix);

#endif
