#include "doubles/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <ftw.h>
#include <unistd.h>

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base ? base : "/tmp") + "/vexacomm-XXXXXX";
    if (::mkdtemp(&pattern[0]) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

namespace {
int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    ::chmod(path, 0700);
    return ::remove(path);
}
} // namespace

TempDir::~TempDir()
{
    // Directories made read-only by a test must be writable to be emptied.
    ::chmod(m_path.c_str(), 0700);
    ::nftw(m_path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string TempDir::File(const std::string& name) const { return m_path + "/" + name; }

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool PathExists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}
