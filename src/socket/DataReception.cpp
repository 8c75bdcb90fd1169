// Bulk data reception: the stream of data packets after an accepted
// request, written to the caller's file, with acknowledgements, progress
// and cancel.
#include <algorithm>

#include "VexaCommFile.h"
#include "platform/Notify.h"
#include "support/FileCause.h"
#include "socket/Scopes.h"
#include "vexacomm/GLSocket.h"

namespace {

constexpr std::uint32_t kProgressRangeMax = 10000;

// Packets so far against the packets announced, on a range of at most
// kProgressRangeMax: the range and the last position end together at any
// size, and a peer that sends more than it announced never passes the end.
class CProgressScale {
public:
    CProgressScale(std::uint32_t start, std::uint32_t expected)
        : m_total(static_cast<std::uint64_t>(start) + expected),
          m_range(m_total < kProgressRangeMax ? static_cast<std::uint32_t>(m_total) : kProgressRangeMax),
          m_counter(start),
          m_position(Scale(start))
    {
    }
    std::uint32_t Range() const { return m_range; }
    std::uint32_t Position() const { return m_position; }
    // Counts a packet; true when the position moved.
    bool Advance()
    {
        if (m_counter < m_total)
            ++m_counter;
        std::uint32_t next = Scale(m_counter);
        if (next == m_position)
            return false;
        m_position = next;
        return true;
    }

private:
    std::uint32_t Scale(std::uint64_t counter) const
    {
        return static_cast<std::uint32_t>(counter * m_range / m_total);
    }
    std::uint64_t m_total;
    std::uint32_t m_range;
    std::uint64_t m_counter;
    std::uint32_t m_position;
};

} // namespace

// Ends a transfer on every exit, exceptions included: the end message goes
// out, then the transfer counts as over (m_evDone), and a cancel no longer
// applies.
class CTransferEnd {
public:
    CTransferEnd(CPacketSocket& socket, std::uint64_t announced) : m_socket(socket), m_announced(announced) {}
    ~CTransferEnd()
    {
        // A host's observer must not turn the end into a termination.
        try {
            m_socket.NotifyProgress(1, 0);
        } catch (...) {
        }
        try {
            m_socket.DeliverBytes(done, complete ? done : std::max(done, m_announced), TRUE);
        } catch (...) {
        }
        m_socket.m_bCancelSent = FALSE;
        m_socket.m_evDone.SetEvent();
    }
    CTransferEnd(const CTransferEnd&) = delete;
    CTransferEnd& operator=(const CTransferEnd&) = delete;

    // The bytes written, and whether the peer's end mark came.
    std::uint64_t done = 0;
    bool complete = false;

private:
    CPacketSocket& m_socket;
    std::uint64_t m_announced;
};

BOOL CPacketSocket::DeliverProgress(std::uintptr_t wParam, std::intptr_t lParam)
{
    if (m_hNotifyWnd == nullptr)
        return FALSE;
    // A window destroyed meanwhile gets nothing more.
    if (!plat::IsWindowTarget(m_hNotifyWnd))
        return TRUE;
    if (m_bPostNotify)
        plat::PostWindowMessage(m_hNotifyWnd, WM_COMM_PROGRESS, wParam, lParam);
    else
        plat::SendWindowMessage(m_hNotifyWnd, WM_COMM_PROGRESS, wParam, lParam);
    return TRUE;
}

BOOL CPacketSocket::ReceiveData(CFile* file, std::uint32_t dataCommand, std::uint32_t expectedPackets)
{
    return ReceiveData(file, dataCommand, expectedPackets,
                       static_cast<std::uint64_t>(expectedPackets) * PacketSizeInUse());
}

BOOL CPacketSocket::ReceiveData(CFile* file, std::uint32_t dataCommand, std::uint32_t expectedPackets,
                                std::uint64_t announcedBytes)
{
    if (expectedPackets == 0) {
        DeliverBytes(0, 0, TRUE);
        return TRUE;
    }

    CSingleLock lock(&m_lock);
    CTransferEnd end(*this, announcedBytes);
    // Every exit that has not seen the stream end abandons it.
    CStreamGuard stream(*this, STREAM_RECEIVING);
    BOOL result = FALSE;
    try {
        std::uint32_t packetSize = PacketSizeInUse();
        std::uint32_t position = file->GetPosition();
        std::uint32_t start = (position + packetSize - 1) / packetSize;
        CProgressScale progress(start, expectedPackets);

        const bool reporting = NotifyProgress(1, static_cast<std::intptr_t>(progress.Range())) != FALSE;
        if (reporting)
            NotifyProgress(0, static_cast<std::intptr_t>(progress.Position()));

        DeliverBytes(0, announcedBytes, FALSE);

        // A request that started the transfer has dropped older cancels
        // already; one made while it waited for its answer stays.
        if (m_nCancelScope != CANCEL_REQUEST)
            m_evCancel.ResetEvent();
        m_evDone.ResetEvent();
        m_bCancelSent = FALSE;
        CCancelScope scope(*this, CANCEL_TRANSFER, &CPacketSocket::SendCancelRequest);
        if (m_wAckMode != 0)
            SendReply(0);
        for (;;) {
            // Without acknowledgements the peer sends packet after packet.
            if (!ReceiveNextPacket(m_packet, TRUE, m_wAckMode == 0))
                break;
            PacketHeader header = Header();
            if (header.command == CMD_CANCEL) {
                m_nStreamState = STREAM_IDLE;
                SetError(m_bCancelSent ? COMM_ERR_CANCELLED : COMM_ERR_PEER_CANCELLED);
                break;
            }
            if (header.command != dataCommand) {
                if (header.command == CMD_REPLY) {
                    // The peer ended its stream with a reply of its own. One
                    // without a code still ends it short of its end mark.
                    m_nStreamState = STREAM_IDLE;
                    const std::int32_t code = static_cast<std::int32_t>(ReadU32(Payload()));
                    SetError(code != 0 ? code : static_cast<std::int32_t>(COMM_ERR_PROTOCOL));
                } else {
                    SetError(COMM_ERR_UNEXPECTED_REPLY);
                }
                break;
            }
            if (header.length == 0) {
                m_nStreamState = STREAM_IDLE;
                end.complete = true;
                result = TRUE;
                break;
            }
            file->Write(Payload(), header.length);
            end.done += header.length;
            DeliverBytes(end.done, std::max(end.done, announcedBytes), FALSE);
            if (!m_bCancelSent) {
                if (reporting && progress.Advance())
                    NotifyProgress(0, static_cast<std::intptr_t>(progress.Position()));
                // Read without consuming: the request stays signalled until
                // the next transfer resets it.
                if (m_evCancel.IsSignalled())
                    SendCancelRequest();
            }
            if (m_wAckMode != 0)
                SendReply(0);
        }
    } catch (CFileException* e) {
        SetError(TakeCause(e));
        result = FALSE;
    } catch (...) {
        // Thrown by the host's file or observer.
        SetError(COMM_ERR_EXCEPTION);
        result = FALSE;
    }
    return result;
}

void CPacketSocket::SendCancelRequest()
{
    m_bCancelSent = TRUE;
    // A buffer of its own: m_packet may hold half of the packet being read.
    std::uint8_t cancel[PACKET_HEADER_SIZE];
    WriteU32(cancel, CMD_CANCEL);
    WriteU32(cancel + 4, 0);
    SendPacket(cancel, TRUE);
}
