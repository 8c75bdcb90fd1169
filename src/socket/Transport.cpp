// Bytes only: whole sends and receives within the wait limit, and
// discarding stale input. Nothing here knows a packet.
#include <cstring>

#include "platform/Clock.h"
#include "platform/Socket.h"
#include "platform/SocketErrors.h"
#include "socket/WireCapture.h"
#include "vexacomm/GLSocket.h"

namespace {
constexpr unsigned kWouldBlockPauseMs = 10;
constexpr unsigned kDrainPiece = 512;

// Moves the first of `count` buffers past `n` bytes just transferred,
// dropping the buffers that are done.
template <class Buffer>
void Advance(Buffer*& pieces, int& count, long n)
{
    while (n > 0 && count > 0) {
        if (n >= pieces->length) {
            n -= pieces->length;
            ++pieces;
            --count;
        } else {
            pieces->data = static_cast<char*>(const_cast<void*>(pieces->data)) + n;
            pieces->length -= static_cast<int>(n);
            n = 0;
        }
    }
}
// Hands the first `n` bytes of `pieces`, just moved, to the capture.
template <class Buffer>
void Capture(const CPacketSocket* owner, SocketHandle s, bool sent, const Buffer* pieces, int count, long n)
{
    pcap::Part parts[plat::kMaxSocketBuffers];
    int k = 0;
    for (int i = 0; i < count && k < plat::kMaxSocketBuffers && n > 0; ++i) {
        long take = n < pieces[i].length ? n : pieces[i].length;
        parts[k++] = {pieces[i].data, static_cast<std::size_t>(take)};
        n -= take;
    }
    capture::Record(owner, s, sent, parts, k);
}
} // namespace

BOOL CPacketSocket::WaitReadable(WaitLimit limit)
{
    if (!WaitForInput(limit))
        return FALSE;
    unsigned long waiting = 0;
    if (plat::SocketPendingBytes(m_hSocket, &waiting) != 0) {
        SetError(plat::SocketLastError());
        return FALSE;
    }
    if (waiting == 0) {
        SetError(COMM_ERR_PEER_CLOSED);
        return FALSE;
    }
    return TRUE;
}

BOOL CPacketSocket::WaitWritable(WaitLimit limit)
{
    if (m_hSocket == kInvalidSocket)
        return FailClosed();
    return AwaitSocket(m_hSocket, SocketWaitKind::Writable, limit);
}

BOOL CPacketSocket::SendAll(const void* data, std::int32_t length, BOOL wait)
{
    if (m_hSocket == kInvalidSocket)
        return FailClosed();
    if (length == 0)
        return TRUE;
    if (data == nullptr)
        return FALSE;
    plat::SendBuffer piece{data, length};
    return SendPieces(&piece, 1, wait);
}

BOOL CPacketSocket::SendPieces(plat::SendBuffer* pieces, int count, BOOL wait)
{
    std::int32_t length = 0;
    for (int i = 0; i < count; ++i)
        length += pieces[i].length;

    CSingleLock lock(&m_lock);
    std::int32_t sent = 0;
    while (sent < length) {
        if (wait && !WaitWritable(m_tvTimeout))
            break;
        // The socket may have been closed by an error recorded meanwhile.
        if (m_hSocket == kInvalidSocket)
            break;
        long n = count == 1 ? plat::SocketSend(m_hSocket, pieces->data, pieces->length)
                            : plat::SocketSendGather(m_hSocket, pieces, count);
        if (n > 0) {
            m_nBytesSent += static_cast<std::uint64_t>(n);
            m_tLastSend = plat::Now();
            sent += static_cast<std::int32_t>(n);
            if (capture::Active())
                Capture(this, m_hSocket, true, pieces, count, n);
            // Continue a partial send where it stopped.
            Advance(pieces, count, n);
            continue;
        }
        int code = n == 0 ? 0 : plat::SocketLastError();
        if (code == plat::kWsaWouldBlock) {
            plat::SleepMs(kWouldBlockPauseMs);
            continue;
        }
        SetError(code);
        break;
    }
    m_tLastActivity = plat::Now();
    return sent == length ? TRUE : FALSE;
}

BOOL CPacketSocket::ReceiveAll(void* buffer, std::int32_t length, BOOL wait)
{
    if (buffer == nullptr)
        return FALSE;
    // A host's own receive starts an exchange, as ReceivePacket does.
    if (!BeginExchange())
        return FALSE;
    plat::RecvBuffer piece{buffer, length};
    return ReceivePieces(&piece, 1, wait);
}

BOOL CPacketSocket::WaitForInput(WaitLimit limit)
{
    if (m_hSocket == kInvalidSocket)
        return FailClosed();
    return AwaitSocket(m_hSocket, SocketWaitKind::Readable, limit);
}

BOOL CPacketSocket::ReceivePieces(plat::RecvBuffer* pieces, int count, BOOL wait, bool expectWaiting)
{
    std::int32_t length = 0;
    for (int i = 0; i < count; ++i)
        length += pieces[i].length;

    CSingleLock lock(&m_lock);
    std::int32_t received = 0;
    // A wait returns at once when bytes are there. For bytes most likely
    // there already the read, which never blocks, is tried first and waits
    // only if it finds none: a system call less.
    bool tryAtOnce = expectWaiting && wait;
    while (received < length) {
        // WaitReadable would also ask how many bytes are waiting and take
        // none as the peer's close. The receive itself tells the same: it
        // returns 0 then, or fails, and it cannot block after the wait.
        // That saves a system call per receive.
        if (wait && !tryAtOnce && !WaitForInput(m_tvTimeout))
            break;
        if (m_hSocket == kInvalidSocket)
            break;
        long n = plat::SocketRecvGather(m_hSocket, pieces, count, wait != FALSE);
        if (n < 0) {
            int code = plat::SocketLastError();
            if (code == plat::kWsaWouldBlock) {
                if (tryAtOnce) {
                    tryAtOnce = false; // nothing there yet: wait as usual
                    continue;
                }
                plat::SleepMs(kWouldBlockPauseMs);
                continue;
            }
            // A reset keeps its own code: only an orderly close is 71000.
            SetError(code);
            break;
        }
        if (n == 0) {
            SetError(COMM_ERR_PEER_CLOSED);
            break;
        }
        m_nBytesReceived += static_cast<std::uint64_t>(n);
        m_tLastReceive = plat::Now();
        received += static_cast<std::int32_t>(n);
        if (capture::Active())
            Capture(this, m_hSocket, false, pieces, count, n);
        // A short read took all there was: wait before the next one.
        tryAtOnce = false;
        Advance(pieces, count, n);
    }
    // What did not arrive reads as zeros. Clearing only now, instead of
    // before the receive, spares a pass over every full packet.
    for (int i = 0; i < count; ++i) {
        if (pieces[i].length > 0)
            std::memset(pieces[i].data, 0, static_cast<size_t>(pieces[i].length));
    }
    m_tLastActivity = plat::Now();
    return received == length ? TRUE : FALSE;
}

void CPacketSocket::DrainInput()
{
    CSingleLock lock(&m_lock);
    if (m_hSocket == kInvalidSocket)
        return;
    unsigned long waiting = 0;
    if (plat::SocketPendingBytes(m_hSocket, &waiting) != 0)
        return;
    char discard[kDrainPiece];
    while (waiting != 0) {
        unsigned long piece = waiting < kDrainPiece ? waiting : kDrainPiece;
        ReceiveAll(discard, static_cast<std::int32_t>(piece), TRUE);
        waiting -= piece;
        if (waiting == 0) {
            if (m_hSocket == kInvalidSocket ||
                plat::SocketPendingBytes(m_hSocket, &waiting) != 0)
                return;
        }
    }
}
