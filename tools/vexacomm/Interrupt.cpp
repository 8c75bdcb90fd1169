#include "vexacomm/Interrupt.h"

#ifdef _WIN32
#include "platform/win32/WinApi.h"
#else
#include <csignal>
#endif

namespace {

#ifdef _WIN32
volatile LONG g_interrupted = 0;

// Runs on a thread of its own that the console starts; TRUE keeps the
// default handler from ending the process.
BOOL WINAPI OnConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        ::InterlockedExchange(&g_interrupted, 1);
        return TRUE;
    default:
        return FALSE;
    }
}
#else
volatile std::sig_atomic_t g_interrupted = 0;
void OnSignal(int) { g_interrupted = 1; }
#endif

} // namespace

void InstallInterruptHandler()
{
#ifdef _WIN32
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
#endif
}

bool Interrupted() { return g_interrupted != 0; }
