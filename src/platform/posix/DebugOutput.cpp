#include "platform/DebugOutput.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace plat {
namespace {

std::mutex g_hookMutex;
DebugHook g_hook = nullptr;
void* g_hookUser = nullptr;

bool StderrWanted()
{
    const char* value = std::getenv("VEXACOMM_DEBUG");
    return value != nullptr && value[0] != '\0';
}

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
    if (StderrWanted())
        std::fputs(text, stderr);
}

void SetDebugHook(DebugHook hook, void* user)
{
    std::lock_guard<std::mutex> guard(g_hookMutex);
    g_hook = hook;
    g_hookUser = user;
}

} // namespace plat
