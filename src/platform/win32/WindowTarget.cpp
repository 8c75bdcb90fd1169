// Win32 progress windows: IsWindow, PostMessageA, SendMessageA.
#include "platform/Notify.h"
#include "platform/win32/WinApi.h"

namespace plat {

namespace {
HWND Window(NotifyTarget target) { return static_cast<HWND>(target); }
} // namespace

bool IsWindowTarget(NotifyTarget target) { return target != nullptr && ::IsWindow(Window(target)) != FALSE; }

void PostWindowMessage(NotifyTarget target, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
{
    ::PostMessageA(Window(target), message, wParam, lParam);
}

// Waits until the window's thread has handled the message.
void SendWindowMessage(NotifyTarget target, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
{
    ::SendMessageA(Window(target), message, wParam, lParam);
}

} // namespace plat
