// Diagnostic lines to the debugger, the host's hook and the numbered log
// file; the process-wide log state behind one lock.
#include "support/DebugLog.h"

#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/DebugOutput.h"
#include "platform/FileOps.h"

const char* const kDefaultLogPath = "C:\\RizDump.TXT";

namespace {
// Process-wide log state, reached only through the locked functions below.
std::string g_strLogPath;
std::int32_t g_nLogLines = 0;
std::int32_t g_nLogResult = 0;
// One lock for the log texts, the counter and the file: lines from
// different objects on different threads get distinct, gap-free numbers.
std::mutex& LogMutex()
{
    static std::mutex mutex;
    return mutex;
}
// Recursive: a host's hook may call back into the library, which may log.
std::recursive_mutex& HookMutex()
{
    static std::recursive_mutex mutex;
    return mutex;
}
DiagnosticHook g_hook = nullptr;
void* g_hookUser = nullptr;

// How deep this thread is in holds (see HoldDiagnostics). The lines held
// back live beside, keyed by thread: a thread-local object with a
// destructor would run it at thread exit, which a DLL unloaded earlier
// cannot serve.
thread_local int t_holdDepth = 0;
struct HeldLines {
    std::vector<std::string> lines;
    std::size_t dropped = 0;
};
std::mutex g_heldMutex;
std::map<std::thread::id, HeldLines>& Held()
{
    static std::map<std::thread::id, HeldLines> held;
    return held;
}
// A transfer logs a line per failure, not per packet; this only bounds a
// host that loops inside one of its callbacks.
constexpr std::size_t kMaxHeldLines = 1000;

// How deep this thread is in the host's hook, which holds HookMutex.
thread_local int t_hookDepth = 0;

void CallHook(const char* text)
{
    std::lock_guard<std::recursive_mutex> guard(HookMutex());
    if (g_hook == nullptr)
        return;
    ++t_hookDepth;
    // A C++ host's exception must not end the operation that logged.
    try {
        g_hook(g_hookUser, text);
    } catch (...) {
    }
    --t_hookDepth;
}

void DeliverToHook(const char* text)
{
    if (t_holdDepth == 0) {
        CallHook(text);
        return;
    }
    std::lock_guard<std::mutex> guard(g_heldMutex);
    HeldLines& held = Held()[std::this_thread::get_id()];
    if (held.lines.size() >= kMaxHeldLines)
        ++held.dropped;
    else
        held.lines.emplace_back(text);
}

} // namespace

void HoldDiagnostics() { ++t_holdDepth; }

bool InsideDiagnosticHook() { return t_hookDepth > 0; }

void ReleaseDiagnostics()
{
    if (--t_holdDepth != 0)
        return;
    HeldLines held;
    {
        std::lock_guard<std::mutex> guard(g_heldMutex);
        auto it = Held().find(std::this_thread::get_id());
        if (it == Held().end())
            return;
        held = std::move(it->second);
        Held().erase(it);
    }
    std::vector<std::string>& lines = held.lines;
    if (held.dropped != 0)
        lines.push_back(std::to_string(held.dropped) + " diagnostic lines dropped\n");
    // The hook may call the library, which may hold lines back again.
    for (const std::string& line : lines)
        CallHook(line.c_str());
}

void SetDiagnosticHook(DiagnosticHook hook, void* user)
{
    std::lock_guard<std::recursive_mutex> guard(HookMutex());
    g_hook = hook;
    g_hookUser = user;
}

void SetLogPath(const char* path)
{
    std::lock_guard<std::mutex> guard(LogMutex());
    g_strLogPath = path != nullptr ? path : "";
}

std::string GetLogPath()
{
    std::lock_guard<std::mutex> guard(LogMutex());
    return g_strLogPath;
}

std::int32_t LogLineCount()
{
    std::lock_guard<std::mutex> guard(LogMutex());
    return g_nLogLines;
}

std::int32_t LogResult()
{
    std::lock_guard<std::mutex> guard(LogMutex());
    return g_nLogResult;
}

std::int32_t AppendLogFile(const char* text, const char* path, BOOL header)
{
    std::lock_guard<std::mutex> guard(LogMutex());
    if (path == nullptr)
        path = kDefaultLogPath;
    // Text mode as on the original platform; on POSIX that stores the line
    // feed unchanged (no carriage return).
    FILE* file = plat::OpenUninheritedStream(path, "a");
    if (file == nullptr)
        return g_nLogResult;
    if (header) {
        plat::LocalTime now = plat::LocalTimeNow();
        // A long-lived host may pass 2^31 lines: the count then wraps to
        // negative numbers, through unsigned arithmetic so that it is defined.
        g_nLogLines = static_cast<std::int32_t>(static_cast<std::uint32_t>(g_nLogLines) + 1u);
        std::fprintf(file, "[%010d][%04d-%02d-%02d %02d:%02d:%02d] -- ", g_nLogLines, now.year,
                     now.month, now.day, now.hour, now.minute, now.second);
    }
    std::fprintf(file, "%s", text);
    std::fclose(file);
    g_nLogResult = g_nLogLines;
    return g_nLogResult;
}

void DebugLog(const char* format, ...)
{
    char small[512];
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(small, sizeof(small), format, args);
    va_end(args);
    std::vector<char> large;
    const char* text = small;
    if (needed >= static_cast<int>(sizeof(small))) {
        large.resize(static_cast<size_t>(needed) + 1);
        std::vsnprintf(large.data(), large.size(), format, copy);
        text = large.data();
    }
    va_end(copy);
    if (needed < 0)
        return;

    plat::DebugOutput(text);
    DeliverToHook(text);
    std::string path = GetLogPath();
    if (!path.empty())
        AppendLogFile(text, path.c_str(), TRUE);
}
