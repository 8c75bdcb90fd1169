#include "platform/HostProcess.h"

#include <climits>
#include <cstdio>
#include <mutex>
#include <unistd.h>

namespace plat {
namespace {

std::mutex g_overrideMutex;
bool g_overridden = false;
std::string g_override;

// /proc/self/cmdline holds the argument vector separated by zero bytes; the
// first one is argv[0] exactly as the host was started.
std::string ReadArgv0()
{
    std::string arg;
    if (FILE* f = std::fopen("/proc/self/cmdline", "rbe")) {
        int c;
        while ((c = std::fgetc(f)) != EOF && c != '\0')
            arg.push_back(static_cast<char>(c));
        std::fclose(f);
    }
    return arg;
}

} // namespace

std::string HostFirstArgument()
{
    {
        std::lock_guard<std::mutex> guard(g_overrideMutex);
        if (g_overridden)
            return g_override;
    }
    return ReadArgv0();
}

std::string HostExecutablePath()
{
    {
        std::lock_guard<std::mutex> guard(g_overrideMutex);
        if (g_overridden)
            return g_override;
    }
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

void OverrideHostFirstArgument(const char* path)
{
    std::lock_guard<std::mutex> guard(g_overrideMutex);
    g_overridden = path != nullptr;
    g_override = path != nullptr ? path : "";
}

} // namespace plat
