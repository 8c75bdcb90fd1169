// Win32 host process facts: GetCommandLineA and GetModuleFileNameA.
#include "platform/Backend.h"
#include "platform/win32/WinApi.h"

namespace plat {
namespace backend {
namespace {

// The first argument as the C run-time splits it off: quotes group and are
// dropped, a blank or tab outside quotes ends it, and backslashes are plain
// characters (a program path such as "C:\dir\" keeps them). Read from the
// command line itself, since the host's run-time (and so its __argv) need
// not be ours.
std::string FirstArgument(const char* line)
{
    std::string arg;
    bool quoted = false;
    for (const char* p = line; *p != '\0'; ++p) {
        if (*p == '"') {
            quoted = !quoted;
            continue;
        }
        if (!quoted && (*p == ' ' || *p == '\t'))
            break;
        arg.push_back(*p);
    }
    return arg;
}

} // namespace

std::string HostFirstArgument()
{
    const char* line = ::GetCommandLineA();
    return line != nullptr ? FirstArgument(line) : std::string();
}

std::string HostExecutablePath()
{
    char path[MAX_PATH + 1];
    DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof(path));
    // A path cut at the buffer's end names nothing; take none.
    return n > 0 && n < sizeof(path) ? std::string(path, n) : std::string();
}

} // namespace backend
} // namespace plat
