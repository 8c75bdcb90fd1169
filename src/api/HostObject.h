// The object a host holds: the device connection and what the exports keep
// for it, its progress callback with the messages queued for it.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>

#include "VexaCommLib.h"
#include "device/DeviceSocket.h"

class CHostObject final : public CDeviceSocket {
public:
    // To the callback (at once or queued), else to the window, if any.
    BOOL DeliverProgress(std::uintptr_t wParam, std::intptr_t lParam) override;
    // To the byte callback, thinned to one call per 1 % or 100 ms.
    void DeliverBytes(std::uint64_t done, std::uint64_t total, BOOL end) override;

    // Both under m_lock, so that a running transfer ends first; each
    // replaces the other and drops the queued messages. fn null: none.
    void BindCallback(VexaCommProgressFn fn, void* user, bool queued);
    void BindWindow(void* window, bool post);
    // Under m_lock. fn null: none.
    void BindTransfer(VexaCommTransferFn fn, void* user);

    // The queued messages on the calling thread; returns how many. Needs
    // no m_lock: a transfer may go on meanwhile.
    int DispatchQueued();

private:
    struct Message {
        std::uintptr_t wParam;
        std::intptr_t lParam;
    };
    // Guards the callback and its queue, which DispatchQueued reaches
    // without m_lock.
    std::mutex m_progressMutex;
    VexaCommProgressFn m_pfnProgress = nullptr;
    void* m_pProgressUser = nullptr;
    bool m_bQueued = false;
    std::deque<Message> m_queue;

    // The byte callback and what it was last told: under m_lock.
    VexaCommTransferFn m_pfnTransfer = nullptr;
    void* m_pTransferUser = nullptr;
    std::uint64_t m_qwLastDone = 0;
    std::int64_t m_tLastBytes = -1;
};

inline CHostObject* HostObject(CDeviceSocket& socket) { return static_cast<CHostObject*>(&socket); }
