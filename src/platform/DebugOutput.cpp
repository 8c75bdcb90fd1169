// The debugger-output channel and the hook that a host may put in its place.
#include "platform/DebugOutput.h"

#include <mutex>

#include "platform/Backend.h"

namespace plat {
namespace {

std::mutex g_hookMutex;
DebugHook g_hook = nullptr;
void* g_hookUser = nullptr;

} // namespace

void DebugOutput(const char* text)
{
    {
        std::lock_guard<std::mutex> guard(g_hookMutex);
        if (g_hook != nullptr) {
            g_hook(text, g_hookUser);
            return;
        }
    }
    backend::WriteDebugOutput(text);
}

void SetDebugHook(DebugHook hook, void* user)
{
    std::lock_guard<std::mutex> guard(g_hookMutex);
    g_hook = hook;
    g_hookUser = user;
}

} // namespace plat
