#include "support/tempdir.h"

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
