// Every wait for the socket: bounded by its limit on a monotonic clock,
// deaf to signals, and ended early by a cancel request where the operation
// in progress allows it.
#include "platform/Clock.h"
#include "platform/Socket.h"
#include "vexacomm/GLSocket.h"

namespace {

std::int64_t LimitMs(WaitLimit limit)
{
    std::int64_t ms = static_cast<std::int64_t>(limit.tv_sec) * 1000 + limit.tv_usec / 1000;
    return ms < 0 ? 0 : ms;
}

WaitLimit ToLimit(std::int64_t ms)
{
    if (ms < 0)
        ms = 0;
    return WaitLimit{static_cast<std::int32_t>(ms / 1000), static_cast<std::int32_t>(ms % 1000) * 1000};
}

int WaitOnce(SocketHandle s, SocketWaitKind kind, std::int64_t ms)
{
    switch (kind) {
    case SocketWaitKind::Readable: return plat::SocketWaitReadable(s, ToLimit(ms));
    case SocketWaitKind::Writable: return plat::SocketWaitWritable(s, ToLimit(ms));
    case SocketWaitKind::Connected: return plat::SocketWaitConnected(s, ToLimit(ms));
    }
    return -1;
}

} // namespace

BOOL CPacketSocket::AwaitSocket(SocketHandle s, SocketWaitKind kind, WaitLimit limit)
{
    std::int64_t now = plat::MonotonicMs();
    const std::int64_t deadline = now + LimitMs(limit);
    std::int64_t graceEnd = 0;
    for (;;) {
        std::int64_t end = deadline;
        if (m_nCancelScope != CANCEL_NONE && (m_bCancelSent || m_evCancel.IsSignalled())) {
            if (!OnCancelRequest(kind))
                return FALSE;
            if (graceEnd == 0)
                graceEnd = now + CANCEL_GRACE_MS;
        }
        const bool graceFirst = graceEnd != 0 && graceEnd < end;
        if (graceFirst)
            end = graceEnd;
        std::int64_t slice = end - now;
        if (m_nCancelScope != CANCEL_NONE && slice > CANCEL_POLL_MS)
            slice = CANCEL_POLL_MS;
        int rc = WaitOnce(s, kind, slice);
        if (rc > 0)
            return TRUE;
        if (rc < 0) {
            SetError(plat::SocketLastError());
            return FALSE;
        }
        now = plat::MonotonicMs();
        if (now < end)
            continue;
        if (graceEnd != 0) {
            // The peer let the cancel go unanswered (within the grace or a
            // shorter wait limit): what arrived is kept, the rest of the
            // stream cannot be told from a stall.
            SetError(COMM_ERR_CANCELLED);
            Close();
        } else {
            SetError(COMM_ERR_TIMED_OUT);
        }
        return FALSE;
    }
}

BOOL CPacketSocket::OnCancelRequest(SocketWaitKind kind)
{
    if (m_nCancelScope == CANCEL_CONNECT || m_nCancelScope == CANCEL_REQUEST) {
        SetError(COMM_ERR_CANCELLED);
        Close();
        return FALSE;
    }
    // The request goes out between two of our own packets: a readable wait
    // never interrupts a send. A send that is stuck just runs into the grace.
    if (!m_bCancelSent && kind == SocketWaitKind::Readable && m_pfnCancelAction != nullptr) {
        (this->*m_pfnCancelAction)();
        if (m_hSocket == kInvalidSocket)
            return FALSE;
    }
    return TRUE;
}

