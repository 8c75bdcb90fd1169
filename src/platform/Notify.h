// The platform's windows as targets of progress messages: IsWindow,
// PostMessageA and SendMessageA on Windows; elsewhere there are none.
#pragma once

#include <cstdint>

namespace plat {

using NotifyTarget = void*;

bool IsWindowTarget(NotifyTarget target);
void PostWindowMessage(NotifyTarget target, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
// Waits until the window's thread has handled the message.
void SendWindowMessage(NotifyTarget target, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

} // namespace plat
