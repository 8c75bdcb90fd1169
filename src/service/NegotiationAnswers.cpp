// The answering side of the packet-size and acknowledgement negotiations:
// the caller holds m_lock across the request it received and this answer.
#include "vexacomm/GLSocket.h"

BOOL CGLSocket::AnswerPacketSize(std::uint16_t requested)
{
    if (requested >= PACKET_SIZE_MIN && requested <= PACKET_PAYLOAD_MAX) {
        StorePacketSizeMax(requested);
        m_wPacketSizeInUse = 0;
    }
    SetHeader(CMD_PACKET_SIZE, 2);
    WriteU16(Payload(), m_wPacketSizeMax);
    return SendPacket(m_packet, TRUE);
}

BOOL CGLSocket::AnswerAckMode(std::uint16_t requested)
{
    if (requested <= ACK_MODE_MAX)
        m_wAckMode = requested;
    SetHeader(CMD_ACK_MODE, 2);
    WriteU16(Payload(), m_wAckMode);
    return SendPacket(m_packet, TRUE);
}

