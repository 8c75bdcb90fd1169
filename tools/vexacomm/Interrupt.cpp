#include "vexacomm/Interrupt.h"

#include <csignal>

namespace {
volatile std::sig_atomic_t g_interrupted = 0;
void OnSignal(int) { g_interrupted = 1; }
} // namespace

void InstallInterruptHandler()
{
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

bool Interrupted() { return g_interrupted != 0; }
