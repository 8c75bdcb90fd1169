// POSIX progress windows: there are none (hosts take progress through a
// callback instead).
#include "platform/Notify.h"

namespace plat {

bool IsWindowTarget(NotifyTarget) { return false; }

void PostWindowMessage(NotifyTarget, std::uint32_t, std::uintptr_t, std::intptr_t) {}

void SendWindowMessage(NotifyTarget, std::uint32_t, std::uintptr_t, std::intptr_t) {}

} // namespace plat
