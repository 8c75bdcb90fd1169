#include "platform/Notify.h"

// There are no windows here: only observers receive progress messages.
namespace plat {

bool IsWindowTarget(NotifyTarget) { return false; }

void PostWindowMessage(NotifyTarget, std::uint32_t, std::uintptr_t, std::intptr_t) {}

void SendWindowMessage(NotifyTarget, std::uint32_t, std::uintptr_t, std::intptr_t) {}

} // namespace plat
