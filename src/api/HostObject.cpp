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
