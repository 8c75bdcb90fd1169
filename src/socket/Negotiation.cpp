// After the greeting: the envelope probe and the packet-size and
// acknowledgement negotiations, asked by this side.
#include <cstring>

#include "vexacomm/GLSocket.h"

BOOL CPacketSocket::ProbeEnvelope()
{
    CSingleLock lock(&m_lock);
    m_bPeerEnvelope = FALSE;
    if (!BeginExchange())
        return FALSE;
    SetHeader(CMD_ENVELOPE_PROBE, 0);
    if (!SendPacket(m_packet, TRUE))
        return FALSE;
    if (!ReceivePacket(m_packet, TRUE))
        return FALSE;
    PacketHeader header = Header();
    if (header.command == CMD_REPLY && header.length != 0)
        m_bPeerEnvelope = ReadU32(Payload()) == ENVELOPE_HEAD_MAGIC ? TRUE : FALSE;
    return TRUE;
}

BOOL CPacketSocket::NegotiateValue(std::uint16_t& value, std::uint32_t command,
                               std::uint16_t minAccepted, std::uint16_t maxAccepted,
                               std::uint16_t fallback)
{
    CSingleLock lock(&m_lock);
    std::uint16_t requested = value;
    if (!((requested >= minAccepted && requested <= maxAccepted) || requested == NEGOTIATE_QUERY))
        return FALSE;
    value = fallback;
    if (!BeginExchange())
        return FALSE;
    SetHeader(command, 2);
    WriteU16(Payload(), requested);
    if (!SendPacket(m_packet, TRUE) || !ReceivePacket(m_packet, TRUE))
        return FALSE;
    if (Header().command != command)
        return FALSE;
    std::uint16_t answer = ReadU16(Payload());
    // A size the requester could never ask for (0 in particular, which
    // would divide packet counts by zero) is refused; the fallback stays.
    if (command == CMD_PACKET_SIZE && (answer < PACKET_SIZE_MIN || answer > PACKET_PAYLOAD_MAX))
        return FALSE;
    value = answer;
    return TRUE;
}

BOOL CPacketSocket::NegotiatePacketSize(std::uint16_t& value)
{
    CSingleLock lock(&m_lock);
    std::uint16_t before = m_wPacketSizeInUse;
    BOOL answered = NegotiateValue(value, CMD_PACKET_SIZE, PACKET_SIZE_MIN,
                                   static_cast<std::uint16_t>(PACKET_PAYLOAD_MAX), PACKET_SIZE_DEFAULT);
    // The peer sends packets of the size it answered, whichever variable
    // the answer went to.
    m_wPacketSizeInUse = answered ? value : before;
    return answered;
}

BOOL CPacketSocket::NegotiateAckMode(std::uint16_t& value)
{
    return NegotiateValue(value, CMD_ACK_MODE, 0, ACK_MODE_MAX, 0);
}
