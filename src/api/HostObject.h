// The object a host holds: the device connection and what the exports keep
// for it, its progress callback with the messages queued for it, which
// thread's operation runs on it, and what its getters report.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "VexaCommLib.h"
#include "device/DeviceSocket.h"

class CHostObject final : public CDeviceSocket {
public:
    // What the getters report: published by the operation as it ends and
    // by every close, so that reading it never waits for an operation.
    struct State {
        bool established = false;
        std::uint16_t deviceType = 0;
        std::string ident;
        WaitLimit waitLimit = kDefaultWaitLimit;
    };

    // Makes the calling thread the object's operation (nested on a thread
    // that is already): from here on it alone takes m_lock for an export.
    // When another thread's operation runs, waits for it with `mayWait`,
    // else false. A wait limit set meanwhile takes effect here.
    bool Claim(bool mayWait);
    void Unclaim();
    // Under the claim: the getters' state from the connection's.
    void Publish();
    State Snapshot();
    // At once when no other thread's operation runs, else as the next
    // operation starts; never waits.
    void RequestWaitLimit(WaitLimit limit);
    // Destroyed while an operation runs: each packet renews the cancel
    // request, which the operation may have reset as it started.
    void MarkRetired() { m_retired.store(true, std::memory_order_relaxed); }

    void Close() override;
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

    // The operation's thread and depth, the getters' state and the wait
    // limit asked for: under m_stateMutex, which is never held across a
    // host's code nor while waiting for anything but itself.
    std::mutex m_stateMutex;
    std::condition_variable m_claimFreed;
    std::thread::id m_owner;
    int m_claims = 0;
    State m_state;
    bool m_waitPending = false;
    std::atomic<bool> m_retired{false};

    // The byte callback and what it was last told: under m_lock.
    VexaCommTransferFn m_pfnTransfer = nullptr;
    void* m_pTransferUser = nullptr;
    std::uint64_t m_qwLastDone = 0;
    std::int64_t m_tLastBytes = -1;
};

inline CHostObject* HostObject(CDeviceSocket& socket) { return static_cast<CHostObject*>(&socket); }
