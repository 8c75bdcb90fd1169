// Win32 host process facts: GetCommandLineA and GetModuleFileNameA.
#include "platform/Backend.h"
#include "platform/Process.h"
#include "platform/win32/WinApi.h"

namespace plat {
namespace backend {

std::string HostFirstArgument()
{
    const char* line = ::GetCommandLineA();
    return line != nullptr ? FirstProgramArgument(line) : std::string();
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
