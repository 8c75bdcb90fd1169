#include "service/TempDir.h"

#include <mutex>

namespace {
std::mutex g_mutex;
std::string g_strTempDir;
} // namespace

void SetTempDir(const char* dir)
{
    std::lock_guard<std::mutex> guard(g_mutex);
    g_strTempDir = dir != nullptr ? dir : "";
}

std::string GetTempDir()
{
    std::lock_guard<std::mutex> guard(g_mutex);
    return g_strTempDir;
}
