// Targets of progress messages. On every platform a target may be an
// observer created here, which receives the (wParam, lParam) pairs through a
// callback; on Windows any other target is taken for a window handle and
// gets the messages themselves.
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

// True for a live observer, and on Windows for an existing window.
bool IsNotifyTarget(NotifyTarget target);
// To an observer's queue, or PostMessageA to a window.
void PostNotify(NotifyTarget target, std::uint32_t message, std::uintptr_t wParam,
                std::intptr_t lParam);
// To an observer's callback at once, or SendMessageA to a window (which
// waits until the window's thread has handled it).
void SendNotify(NotifyTarget target, std::uint32_t message, std::uintptr_t wParam,
                std::intptr_t lParam);

// The platform's windows, behind the observers: IsWindow, PostMessageA and
// SendMessageA on Windows; elsewhere there are none.
bool IsWindowTarget(NotifyTarget target);
void PostWindowMessage(NotifyTarget target, std::uint32_t message, std::uintptr_t wParam,
                       std::intptr_t lParam);
void SendWindowMessage(NotifyTarget target, std::uint32_t message, std::uintptr_t wParam,
                       std::intptr_t lParam);

} // namespace plat
