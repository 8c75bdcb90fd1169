// Packets on the wire: bare or in a checksummed envelope, and the reply
// with its code and text.
#include <cstring>

#include "platform/Socket.h"
#include "vexacomm/ByteSum.h"
#include "vexacomm/GLSocket.h"

BOOL CPacketSocket::SendPacket(std::uint8_t* packet, BOOL wait)
{
    if (m_hSocket == kInvalidSocket)
        return FailClosed();
    if (packet == nullptr)
        return FALSE;
    std::uint32_t length = ReadU32(packet + 4);
    if (length > PACKET_PAYLOAD_MAX) {
        SetError(COMM_ERR_PROTOCOL);
        return FALSE;
    }

    std::uint32_t bareSize = static_cast<std::uint32_t>(PACKET_HEADER_SIZE) + length;
    const BOOL enveloped = m_bPeerEnvelope && m_bEnvelopeAllowed;
    TracePacket(VEXACOMM_TRACE_SENT, packet, enveloped);
    if (!enveloped)
        return SendAll(packet, static_cast<std::int32_t>(bareSize), wait);

    std::uint8_t head[ENVELOPE_HEAD_SIZE];
    WriteEnvelopeHead(head);
    std::uint8_t trailer[sizeof(EnvelopeTrailer)];
    WriteEnvelopeTrailer(trailer, ByteSum(packet, bareSize));
    // Head, packet and trailer as one stream of bytes: three separate small
    // writes would each wait for the peer's delayed acknowledgement.
    plat::SendBuffer pieces[3] = {
        {head, static_cast<int>(sizeof(head))},
        {packet, static_cast<int>(bareSize)},
        {trailer, static_cast<int>(sizeof(trailer))},
    };
    return SendPieces(pieces, 3, wait);
}

// On the answering side an exchange starts with the request's receive.
BOOL CPacketSocket::ReceivePacket(std::uint8_t* packet, BOOL wait)
{
    return BeginExchange() && ReceiveNextPacket(packet, wait, false);
}

// A packet that fails its checks: recorded where it is seen.
BOOL CPacketSocket::RejectPacket()
{
    SetError(COMM_ERR_PROTOCOL);
    return FALSE;
}

BOOL CPacketSocket::ReceiveNextPacket(std::uint8_t* packet, BOOL wait, bool streaming)
{
    if (m_hSocket == kInvalidSocket)
        return FailClosed();
    if (packet == nullptr)
        return FALSE;
    // Every byte beyond what arrived reads as zero. Each receive zero-fills
    // what it did not get; the area beyond the payload is cleared here, so
    // a full data packet is not cleared first and then overwritten.
    std::uint8_t* payload = packet + PACKET_HEADER_SIZE;
    const std::size_t payloadArea = PACKET_BUFFER_SIZE - PACKET_HEADER_SIZE;
    plat::RecvBuffer start{packet, static_cast<int>(PACKET_HEADER_SIZE)};
    if (!ReceivePieces(&start, 1, wait, streaming)) {
        std::memset(payload, 0, payloadArea);
        return FALSE;
    }

    BOOL enveloped =
        ReadU32(packet) == ENVELOPE_HEAD_MAGIC && ReadU32(packet + 4) == ENVELOPE_HEAD_MAGIC;
    m_bPeerEnvelope = enveloped;
    plat::RecvBuffer header{packet, static_cast<int>(PACKET_HEADER_SIZE)};
    if (enveloped && !ReceivePieces(&header, 1, wait, true)) {
        std::memset(payload, 0, payloadArea);
        return FALSE;
    }

    std::uint32_t length = ReadU32(packet + 4);
    if (length > PACKET_PAYLOAD_MAX) {
        std::memset(payload, 0, payloadArea);
        return RejectPacket();
    }
    std::memset(payload + length, 0, payloadArea - length);
    if (!enveloped) {
        plat::RecvBuffer body{payload, static_cast<int>(length)};
        if (length != 0 && !ReceivePieces(&body, 1, wait, true))
            return FALSE;
        TracePacket(VEXACOMM_TRACE_RECEIVED, packet, FALSE);
        return TRUE;
    }

    // Payload and trailer in one receive: one wait and one call less per
    // enveloped packet, and still not a byte beyond the packet.
    std::uint8_t trailer[sizeof(EnvelopeTrailer)];
    plat::RecvBuffer pieces[2] = {
        {payload, static_cast<int>(length)},
        {trailer, static_cast<int>(sizeof(trailer))},
    };
    if (!ReceivePieces(length != 0 ? pieces : pieces + 1, length != 0 ? 2 : 1, wait, true))
        return FALSE;
    if (ReadU32(trailer + 4) != ENVELOPE_TAIL_MAGIC || ReadU32(trailer + 8) != ENVELOPE_TAIL_MAGIC)
        return RejectPacket();
    if (ByteSum(packet, PACKET_HEADER_SIZE + length) != ReadU32(trailer))
        return RejectPacket();
    TracePacket(VEXACOMM_TRACE_RECEIVED, packet, TRUE);
    return TRUE;
}

BOOL CPacketSocket::SendReply(std::uint32_t code)
{
    CSingleLock lock(&m_lock);
    SetHeader(CMD_REPLY, 0);
    if (code != 0) {
        SetError(static_cast<std::int32_t>(code));
        std::memset(Payload(), 0, REPLY_CLEARED_BYTES);
        WriteU32(Payload(), code);
        std::string text = GetErrorString();
        // The text must fit the cleared area with its zero.
        if (text.size() > REPLY_TEXT_AREA - 1)
            text.resize(REPLY_TEXT_AREA - 1);
        std::memcpy(Payload() + REPLY_TEXT_OFFSET, text.c_str(), text.size() + 1);
        SetHeader(CMD_REPLY, ReplyLength(text.size()));
    }
    // The send's result is not the reply's: a failed send has recorded its
    // reason (and closed a lost connection), which the next exchange meets.
    SendPacket(m_packet, TRUE);
    return TRUE;
}
