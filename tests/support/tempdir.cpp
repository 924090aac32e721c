#include "support/tempdir.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TempDir::TempDir()
{
    std::string templ = (std::filesystem::temp_directory_path() / "corvelle-test-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary directory");
    path_ = templ;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const
{
    return path_ + "/" + name;
}

std::string TempDir::write(const std::string& name, const std::string& bytes) const
{
    std::string full = file(name);
    std::filesystem::create_directories(std::filesystem::path(full).parent_path());
    std::ofstream out(full, std::ios::binary);
    out.write(bytes.data(), (std::streamsize)bytes.size());
    return full;
}

std::string TempDir::mkdir(const std::string& name) const
{
    std::string full = file(name);
    std::filesystem::create_directories(full);
    return full;
}

std::string read_whole_file(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> files_ending(const std::string& dir, const std::string& suffix)
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
