#include <cstring>

#include "platform/Socket.h"
#include "socket/GLSocket.h"

BOOL CGLSocket::SendPacket(std::uint8_t* packet, BOOL wait)
{
    if (m_hSocket == kInvalidSocket || packet == nullptr)
        return FALSE;
    std::uint32_t length = ReadU32(packet + 4);
    if (length > PACKET_PAYLOAD_MAX)
        return FALSE;

    std::uint32_t bareSize = static_cast<std::uint32_t>(PACKET_HEADER_SIZE) + length;
    if (!(m_bPeerEnvelope && m_bEnvelopeAllowed))
        return SendAll(packet, static_cast<std::int32_t>(bareSize), wait);

    std::uint8_t head[ENVELOPE_HEAD_SIZE];
    WriteU32(head, ENVELOPE_HEAD_MAGIC);
    WriteU32(head + 4, ENVELOPE_HEAD_MAGIC);
    std::uint8_t trailer[sizeof(EnvelopeTrailer)];
    WriteU32(trailer, ByteSum(packet, bareSize));
    WriteU32(trailer + 4, ENVELOPE_TAIL_MAGIC);
    WriteU32(trailer + 8, ENVELOPE_TAIL_MAGIC);
    // Head, packet and trailer as one stream of bytes: three separate small
    // writes would each wait for the peer's delayed acknowledgement.
    plat::SendBuffer pieces[3] = {
        {head, static_cast<int>(sizeof(head))},
        {packet, static_cast<int>(bareSize)},
        {trailer, static_cast<int>(sizeof(trailer))},
    };
    return SendPieces(pieces, 3, wait);
}

BOOL CGLSocket::ReceivePacket(std::uint8_t* packet, BOOL wait)
{
    if (m_hSocket == kInvalidSocket || packet == nullptr)
        return FALSE;
    std::memset(packet, 0, PACKET_BUFFER_SIZE);
    if (!ReceiveAll(packet, PACKET_HEADER_SIZE, wait))
        return FALSE;

    BOOL enveloped =
        ReadU32(packet) == ENVELOPE_HEAD_MAGIC && ReadU32(packet + 4) == ENVELOPE_HEAD_MAGIC;
    m_bPeerEnvelope = enveloped;
    if (enveloped && !ReceiveAll(packet, PACKET_HEADER_SIZE, wait))
        return FALSE;

    std::uint32_t length = ReadU32(packet + 4);
    if (length > PACKET_PAYLOAD_MAX)
        return FALSE;
    if (length != 0 &&
        !ReceiveAll(packet + PACKET_HEADER_SIZE, static_cast<std::int32_t>(length), wait))
        return FALSE;
    if (!enveloped)
        return TRUE;

    std::uint8_t trailer[sizeof(EnvelopeTrailer)];
    if (!ReceiveAll(trailer, sizeof(trailer), wait))
        return FALSE;
    if (ReadU32(trailer + 4) != ENVELOPE_TAIL_MAGIC || ReadU32(trailer + 8) != ENVELOPE_TAIL_MAGIC)
        return FALSE;
    return ByteSum(packet, PACKET_HEADER_SIZE + length) == ReadU32(trailer) ? TRUE : FALSE;
}
