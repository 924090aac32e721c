// A temporary directory for a test, removed with everything in it when the object goes, and
// reading whole files and directory listings.
#ifndef CORVELLE_TESTS_SUPPORT_TEMPDIR_H
#define CORVELLE_TESTS_SUPPORT_TEMPDIR_H

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

class TempDir {
public:
    TempDir()
    {
        path_ = (std::filesystem::temp_directory_path() / "corvelle-test-XXXXXX").string();
        if (mkdtemp(path_.data()) == nullptr)
            throw std::runtime_error("cannot create a temporary directory");
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path()/name
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Writes bytes to path()/name (creating subdirectories) and returns the full name.
    std::string write(const std::string& name, const std::string& bytes) const
    {
        std::string full = file(name);
        std::filesystem::create_directories(std::filesystem::path(full).parent_path());
        std::ofstream(full, std::ios::binary).write(bytes.data(), (std::streamsize)bytes.size());
        return full;
    }
    // Creates the subdirectory path()/name and returns its full name.
    std::string mkdir(const std::string& name) const
    {
        std::filesystem::create_directories(file(name));
        return file(name);
    }

private:
    std::string path_;
};

// The whole content of a file, or an empty string when it cannot be read.
inline std::string read_whole_file(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Names (without the directory) of the files in dir ending in suffix, sorted.
inline std::vector<std::string> files_ending(const std::string& dir, const std::string& suffix)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
        std::string n = e.path().filename().string();
        if (n.size() > suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
            names.push_back(n);
    }
    std::sort(names.begin(), names.end());
    return names;
}

#endif
