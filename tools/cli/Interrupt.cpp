// The phases of signal handling, shared by the POSIX and Windows delivery.
#include "cli/Interrupt.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "cli/SystemFile.h"

namespace {

std::mutex g_state;
std::condition_variable g_arrived;
bool g_notifyPhase = false;
std::function<void()> g_notify;
std::function<void()> g_beforeQuit;
std::string g_discard;
int g_exitCode = 0;

// Held by a quit until the process is gone, and by WithoutInterrupts.
std::recursive_mutex g_quit;

} // namespace

void QuitOnInterrupt()
{
    std::lock_guard<std::mutex> lock(g_state);
    g_notifyPhase = false;
    g_notify = nullptr;
    g_beforeQuit = nullptr;
}

void NotifyOnInterrupt(std::function<void()> notify, std::function<void()> beforeQuit)
{
    std::lock_guard<std::mutex> lock(g_state);
    g_notifyPhase = true;
    g_notify = std::move(notify);
    g_beforeQuit = std::move(beforeQuit);
}

bool Interrupted() { return InterruptExitCode() != 0; }

int InterruptExitCode()
{
    std::lock_guard<std::mutex> lock(g_state);
    return g_exitCode;
}

bool WaitForInterrupt(int ms)
{
    std::unique_lock<std::mutex> lock(g_state);
    return g_arrived.wait_for(lock, std::chrono::milliseconds(ms), [] { return g_exitCode != 0; });
}

void DiscardOnExit(const std::string& path)
{
    std::lock_guard<std::mutex> lock(g_state);
    g_discard = path;
}

void WithoutInterrupts(const std::function<void()>& fn)
{
    std::lock_guard<std::recursive_mutex> hold(g_quit);
    fn();
}

void QuitNow()
{
    g_quit.lock(); // never released: the process ends under it
    std::function<void()> beforeQuit;
    std::string discard;
    int code;
    {
        std::lock_guard<std::mutex> lock(g_state);
        beforeQuit = g_beforeQuit;
        discard = g_discard;
        code = g_exitCode != 0 ? g_exitCode : 130;
    }
    if (!discard.empty())
        RemoveFile(discard);
    std::fputs("interrupted\n", stderr);
    if (beforeQuit)
        beforeQuit();
    std::fflush(stderr);
    std::fflush(stdout);
    std::_Exit(code);
}

void OnInterrupt(int exitCode)
{
    bool quit;
    std::function<void()> notify;
    {
        std::lock_guard<std::mutex> lock(g_state);
        quit = !g_notifyPhase || g_exitCode != 0;
        if (g_exitCode == 0)
            g_exitCode = exitCode;
        if (!quit)
            notify = g_notify;
    }
    g_arrived.notify_all();
    if (quit)
        QuitNow();
    if (notify)
        notify();
}
