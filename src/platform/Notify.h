// Targets of progress messages. On Windows a target may be a window handle;
// on every platform it may be an observer created here, which receives the
// same (wParam, lParam) pairs through a callback.
#pragma once

#include <cstdint>

namespace plat {

using NotifyTarget = void*;
using NotifyCallback = void (*)(void* user, std::uint32_t message, std::uintptr_t wParam,
                                std::intptr_t lParam);

// An observer: sent messages reach the callback at once on the sender's
// thread; posted ones wait in its queue until DispatchNotifications.
NotifyTarget CreateNotifyObserver(NotifyCallback callback, void* user);
// After this returns the target no longer exists (IsNotifyTarget is false)
// and its queue is dropped; a callback running on another thread finishes.
void DestroyNotifyObserver(NotifyTarget target);
// Delivers the queued messages on the calling thread; returns how many.
int DispatchNotifications(NotifyTarget target);

bool IsNotifyTarget(NotifyTarget target);
void PostNotify(NotifyTarget target, std::uint32_t message, std::uintptr_t wParam,
                std::intptr_t lParam);
void SendNotify(NotifyTarget target, std::uint32_t message, std::uintptr_t wParam,
                std::intptr_t lParam);

} // namespace plat
