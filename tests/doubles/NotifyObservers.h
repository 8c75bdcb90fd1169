// Observers that stand in for a progress window in the engine's tests, and
// a connection whose progress goes to them: sent messages reach the
// callback at once on the sender's thread; posted ones wait in the
// observer's queue until DispatchNotifications.
#pragma once

#include <cstdint>

#include "doubles/Exposed.h"
#include "vexacomm/GLSocket.h"

namespace obs {

using NotifyTarget = void*;
using NotifyCallback = void (*)(void* user, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

NotifyTarget CreateNotifyObserver(NotifyCallback callback, void* user);
// After this returns the target no longer exists and its queue is dropped.
void DestroyNotifyObserver(NotifyTarget target);
// Delivers the queued messages on the calling thread; returns how many.
int DispatchNotifications(NotifyTarget target);
bool IsNotifyTarget(NotifyTarget target);
void PostNotify(NotifyTarget target, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
void SendNotify(NotifyTarget target, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

} // namespace obs

// `Base` (a connection class, opened up) with an observer in place of its
// window.
template <class Base>
class Observed : public Exposed<Base> {
public:
    BOOL DeliverProgress(std::uintptr_t wParam, std::intptr_t lParam) override
    {
        if (this->m_hNotifyWnd == nullptr)
            return FALSE;
        if (this->m_bPostNotify)
            obs::PostNotify(this->m_hNotifyWnd, WM_COMM_PROGRESS, wParam, lParam);
        else
            obs::SendNotify(this->m_hNotifyWnd, WM_COMM_PROGRESS, wParam, lParam);
        return TRUE;
    }
};
