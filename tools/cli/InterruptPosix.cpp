// Signal delivery on POSIX: one thread takes SIGINT and SIGTERM by sigwait.
#include "cli/Interrupt.h"

#include <atomic>
#include <csignal>
#include <pthread.h>
#include <thread>

namespace {

// Joined at exit, so that no thread outlives main (leak checkers count a
// detached one's stack as lost).
struct Watcher {
    std::thread thread;
    std::atomic<bool> stopping{false};
    ~Watcher()
    {
        if (!thread.joinable())
            return;
        stopping = true;
        ::pthread_kill(thread.native_handle(), SIGTERM);
        thread.join();
    }
};

} // namespace

void InstallInterruptHandler()
{
    // A full disk or a closed pipe must come back as a write error with a
    // message, not end the program.
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    sigset_t set;
    sigemptyset(&set);
    // A shell without job control starts background commands with SIGINT
    // ignored so that Ctrl-C reaches only the foreground: keep it so.
    struct sigaction old {};
    if (::sigaction(SIGINT, nullptr, &old) != 0 || old.sa_handler != SIG_IGN)
        sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    static Watcher watcher;
    watcher.thread = std::thread([set] {
        for (;;) {
            int signal = 0;
            if (::sigwait(&set, &signal) != 0)
                continue;
            if (watcher.stopping)
                return;
            OnInterrupt(signal == SIGINT ? 130 : 143);
        }
    });
}
