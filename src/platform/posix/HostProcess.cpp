// Linux host process facts, read from /proc/self.
#include <climits>
#include <cstdio>
#include <unistd.h>

#include "platform/Backend.h"

namespace plat {
namespace backend {

// /proc/self/cmdline holds the argument vector separated by zero bytes; the
// first one is argv[0] exactly as the host was started.
std::string HostFirstArgument()
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

std::string HostExecutablePath()
{
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

} // namespace backend
} // namespace plat
