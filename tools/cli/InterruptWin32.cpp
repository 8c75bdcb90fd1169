// Console events on Windows: the console runs the handler on a thread of
// its own for each event.
#include "cli/Interrupt.h"

#include <windows.h>

namespace {

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        OnInterrupt(130);
        return TRUE;
    case CTRL_CLOSE_EVENT:
        // The system ends the process when this returns; until then the
        // cancel may still reach the device.
        OnInterrupt(143);
        ::Sleep(1500);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void InstallInterruptHandler() { ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }
