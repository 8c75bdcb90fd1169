#include "VexaCommFile.h"
#include "platform/Notify.h"
#include "socket/GLSocket.h"

namespace {
constexpr std::uint32_t kProgressRangeMax = 10000;
}

void CGLSocket::NotifyProgress(std::uintptr_t wParam, std::intptr_t lParam)
{
    if (m_hNotifyWnd == nullptr || !plat::IsNotifyTarget(m_hNotifyWnd))
        return;
    if (m_bPostNotify)
        plat::PostNotify(m_hNotifyWnd, WM_COMM_PROGRESS, wParam, lParam);
    else
        plat::SendNotify(m_hNotifyWnd, WM_COMM_PROGRESS, wParam, lParam);
}

BOOL CGLSocket::ReceiveData(CFile* file, std::uint32_t dataCommand, std::uint32_t expectedPackets)
{
    if (expectedPackets == 0)
        return TRUE;

    CSingleLock lock(&m_lock);
    // A packet size of 0 never survives negotiation; guard the division.
    std::uint32_t packetSize = m_wPacketSizeMax != 0 ? m_wPacketSizeMax : PACKET_SIZE_DEFAULT;
    std::uint32_t position = file->GetPosition();
    std::uint32_t start = (position + packetSize - 1) / packetSize;
    std::uint32_t total = start + expectedPackets;

    bool reporting = m_hNotifyWnd != nullptr;
    std::uint32_t step = 1;
    std::uint32_t counter = start;
    if (reporting) {
        step = total / kProgressRangeMax;
        std::uint32_t range = kProgressRangeMax;
        if (step == 0) {
            step = 1;
            range = total;
        }
        NotifyProgress(1, static_cast<std::intptr_t>(range));
        NotifyProgress(0, static_cast<std::intptr_t>(start / step));
    }

    m_evCancel.ResetEvent();
    m_evDone.ResetEvent();
    BOOL result = FALSE;
    bool cancelSent = false;
    try {
        if (m_wAckMode != 0)
            SendReply(0);
        for (;;) {
            // Without acknowledgements the peer sends packet after packet.
            if (!ReceiveNextPacket(m_packet, TRUE, m_wAckMode == 0))
                break;
            PacketHeader header = Header();
            if (header.command == CMD_CANCEL) {
                SetError(cancelSent ? COMM_ERR_CANCELLED : COMM_ERR_PEER_CANCELLED);
                break;
            }
            if (header.command != dataCommand) {
                if (header.command == CMD_REPLY)
                    SetError(static_cast<std::int32_t>(ReadU32(Payload())));
                else
                    SetError(COMM_ERR_UNEXPECTED_REPLY);
                break;
            }
            if (header.length == 0) {
                result = TRUE;
                break;
            }
            file->Write(Payload(), header.length);
            if (!cancelSent) {
                if (reporting) {
                    ++counter;
                    if (counter % step == 0)
                        NotifyProgress(0, static_cast<std::intptr_t>(counter / step));
                }
                if (m_evCancel.Lock(0)) {
                    SetHeader(CMD_CANCEL, 0);
                    SendPacket(m_packet, TRUE);
                    cancelSent = true;
                    m_evCancel.SetEvent();
                }
            }
            if (m_wAckMode != 0)
                SendReply(0);
        }
    } catch (CFileException* e) {
        NotifyProgress(1, 0);
        SetError(e->m_cause);
        e->Delete();
        m_evDone.SetEvent();
        return FALSE;
    }
    NotifyProgress(1, 0);
    m_evDone.SetEvent();
    return result;
}
