#include "api/HostObject.h"

#include "platform/Clock.h"

namespace {
constexpr std::int64_t kBytesIntervalMs = 100;
} // namespace

BOOL CHostObject::DeliverProgress(std::uintptr_t wParam, std::intptr_t lParam)
{
    VexaCommProgressFn fn;
    void* user;
    {
        std::lock_guard<std::mutex> guard(m_progressMutex);
        if (m_pfnProgress == nullptr)
            return CDeviceSocket::DeliverProgress(wParam, lParam);
        if (m_bQueued) {
            m_queue.push_back(Message{wParam, lParam});
            return TRUE;
        }
        fn = m_pfnProgress;
        user = m_pProgressUser;
    }
    fn(user, static_cast<uint32_t>(wParam), static_cast<int32_t>(lParam));
    return TRUE;
}

void CHostObject::BindCallback(VexaCommProgressFn fn, void* user, bool queued)
{
    std::lock_guard<std::mutex> guard(m_progressMutex);
    m_hNotifyWnd = nullptr;
    m_bPostNotify = FALSE;
    m_pfnProgress = fn;
    m_pProgressUser = fn != nullptr ? user : nullptr;
    m_bQueued = fn != nullptr && queued;
    m_queue.clear();
}

void CHostObject::DeliverBytes(std::uint64_t done, std::uint64_t total, BOOL end)
{
    if (m_retired.load(std::memory_order_relaxed))
        m_evCancel.SetEvent();
    if (m_pfnTransfer == nullptr)
        return;
    const std::int64_t now = plat::MonotonicMs();
    const bool first = m_tLastBytes < 0 || done < m_qwLastDone;
    const bool step = done - m_qwLastDone >= total / 100 && done != m_qwLastDone;
    if (!end && !first && !step && now - m_tLastBytes < kBytesIntervalMs)
        return;
    m_qwLastDone = done;
    m_tLastBytes = end ? -1 : now;
    m_pfnTransfer(m_pTransferUser, done, total);
}

void CHostObject::BindTransfer(VexaCommTransferFn fn, void* user)
{
    m_pfnTransfer = fn;
    m_pTransferUser = fn != nullptr ? user : nullptr;
    m_qwLastDone = 0;
    m_tLastBytes = -1;
}

void CHostObject::BindWindow(void* window, bool post)
{
    BindCallback(nullptr, nullptr, false);
    m_hNotifyWnd = window;
    m_bPostNotify = window != nullptr && post ? TRUE : FALSE;
}

int CHostObject::DispatchQueued()
{
    std::deque<Message> pending;
    VexaCommProgressFn fn;
    void* user;
    {
        std::lock_guard<std::mutex> guard(m_progressMutex);
        pending.swap(m_queue);
        fn = m_pfnProgress;
        user = m_pProgressUser;
    }
    // The batch goes to the callback bound when it was taken, even if the
    // host replaces it from within.
    for (const Message& m : pending)
        fn(user, static_cast<uint32_t>(m.wParam), static_cast<int32_t>(m.lParam));
    return static_cast<int>(pending.size());
}

bool CHostObject::Claim(bool mayWait)
{
    std::unique_lock<std::mutex> guard(m_stateMutex);
    const std::thread::id self = std::this_thread::get_id();
    if (m_claims != 0 && m_owner == self) {
        ++m_claims;
        return true;
    }
    if (m_claims != 0 && !mayWait)
        return false;
    m_claimFreed.wait(guard, [this] { return m_claims == 0; });
    m_owner = self;
    m_claims = 1;
    // No operation reads the limit now: this is where one set meanwhile
    // reaches the waits.
    if (m_waitPending) {
        SetWaitLimit(m_state.waitLimit);
        m_waitPending = false;
    }
    return true;
}

void CHostObject::Unclaim()
{
    {
        std::lock_guard<std::mutex> guard(m_stateMutex);
        if (--m_claims != 0)
            return;
        m_owner = std::thread::id();
    }
    m_claimFreed.notify_one();
}

void CHostObject::Publish()
{
    const bool established = IsEstablished() != FALSE;
    std::lock_guard<std::mutex> guard(m_stateMutex);
    m_state.established = established;
    m_state.deviceType = m_wDeviceType;
    m_state.ident = m_strIdent;
}

CHostObject::State CHostObject::Snapshot()
{
    std::lock_guard<std::mutex> guard(m_stateMutex);
    return m_state;
}

void CHostObject::RequestWaitLimit(WaitLimit limit)
{
    std::lock_guard<std::mutex> guard(m_stateMutex);
    m_state.waitLimit = limit;
    // The owner's own callbacks change it for the operation's next wait.
    if (m_claims == 0 || m_owner == std::this_thread::get_id()) {
        SetWaitLimit(limit);
        m_waitPending = false;
    } else {
        m_waitPending = true;
    }
}

void CHostObject::Close()
{
    CDeviceSocket::Close();
    Publish();
}
