// The host's first argument and executable path, and the tests' override.
#include "platform/HostProcess.h"

#include <mutex>

#include "platform/Backend.h"

namespace plat {
namespace {

std::mutex g_overrideMutex;
bool g_overridden = false;
std::string g_override;

// False when the real value is wanted.
bool Overridden(std::string* value)
{
    std::lock_guard<std::mutex> guard(g_overrideMutex);
    if (g_overridden)
        *value = g_override;
    return g_overridden;
}

} // namespace

std::string HostFirstArgument()
{
    std::string value;
    return Overridden(&value) ? value : backend::HostFirstArgument();
}

std::string HostExecutablePath()
{
    std::string value;
    return Overridden(&value) ? value : backend::HostExecutablePath();
}

void OverrideHostFirstArgument(const char* path)
{
    std::lock_guard<std::mutex> guard(g_overrideMutex);
    g_overridden = path != nullptr;
    g_override = path != nullptr ? path : "";
}

} // namespace plat
