// The device's requests: the connect sequence with type and identification,
// and the ASDU 10 request with its data stream.
#include <cstring>

#include "device/DeviceSocket.h"
#include "socket/Scopes.h"

BOOL CDeviceSocket::CheckReply(const std::uint8_t* packet, std::uint32_t expectedCommand)
{
    std::uint32_t command = ReadU32(packet);
    std::uint32_t length = ReadU32(packet + 4);
    if (command == CMD_REPLY) {
        if (length == 0)
            return TRUE;
        std::int32_t code = static_cast<std::int32_t>(ReadU32(packet + PACKET_HEADER_SIZE));
        if (code == 0)
            return TRUE;
        SetError(code);
        return FALSE;
    }
    if (command == expectedCommand)
        return TRUE;
    SetError(COMM_ERR_UNEXPECTED_REPLY);
    return FALSE;
}

// Common frame: the caller holds m_lock. Stale input is discarded, the
// request sent and the reply received into m_packet and judged.
BOOL CDeviceSocket::Exchange(std::uint32_t command, const void* payload, std::uint32_t length)
{
    if (!BeginExchange())
        return FALSE;
    DrainInput();
    SetHeader(command, length);
    if (length != 0)
        std::memcpy(Payload(), payload, length);
    if (!SendPacket(m_packet, TRUE))
        return FALSE;
    if (!ReceivePacket(m_packet, TRUE))
        return FALSE;
    // Whatever the answer says, it has arrived whole.
    m_nStreamState = STREAM_IDLE;
    return CheckReply(m_packet, command);
}

BOOL CDeviceSocket::QueryDeviceType()
{
    CSingleLock lock(&m_lock);
    if (!Exchange(CMD_DEVICE_TYPE, nullptr, 0))
        return FALSE;
    m_wDeviceType = MapDeviceType(ReadU16(Payload()));
    return TRUE;
}

BOOL CDeviceSocket::QueryIdent()
{
    CSingleLock lock(&m_lock);
    if (!Exchange(CMD_IDENT, nullptr, 0)) {
        m_strIdent.clear();
        return FALSE;
    }
    std::uint32_t length = Header().length;
    const char* text = reinterpret_cast<const char*>(Payload());
    m_strIdent.assign(text, strnlen(text, length));
    return TRUE;
}

BOOL CDeviceSocket::Connect(const char* host) { return ConnectPort(host, DEVICE_PORT); }

BOOL CDeviceSocket::ConnectPort(const char* host, std::uint16_t port)
{
    // For its effect: a connection lost since the last call is closed now,
    // so that it is not taken for an established one below.
    IsLost();
    if (m_hSocket != kInvalidSocket && m_bConnected)
        return TRUE;
    // A request left from an earlier transfer must not end this connect.
    m_evCancel.ResetEvent();
    CCancelScope scope(*this, CANCEL_CONNECT);
    if (!ConnectHost(host, port) || !QueryDeviceType() || !QueryIdent()) {
        Close();
        return FALSE;
    }
    return TRUE;
}

BOOL CDeviceSocket::GetAsdu10(CFile* file, const void* request)
{
    CSingleLock lock(&m_lock);
    const std::uint8_t* block = static_cast<const std::uint8_t*>(request);
    std::int16_t entries = static_cast<std::int16_t>(ReadU16(block + ASDU10_COUNT_OFFSET));
    if (entries < ASDU10_ALL_ENTRIES || entries > ASDU10_MAX_ENTRIES) {
        SetError(COMM_ERR_PROTOCOL); // the request does not fit a packet
        return FALSE;
    }
    if (!RefuseInHostExchange())
        return FALSE;
    std::uint32_t length = static_cast<std::uint32_t>(Asdu10RequestSize(entries));
    // The transfer starts with the request: a cancel from here on counts.
    m_evCancel.ResetEvent();
    CCancelScope scope(*this, CANCEL_REQUEST);
    CStreamGuard stream(*this, STREAM_REQUEST_SENT);
    if (!Exchange(CMD_ASDU10, block, length))
        return FALSE;
    PacketHeader answer = Header();
    const bool afterNothing = m_bNothingPromised;
    m_bNothingPromised = false;
    // T is the answer's first 4 bytes; more are ignored. A shorter answer
    // holds no total at all, and what follows it cannot be sized: the
    // stream is given up with the connection. Right after a device said
    // nothing follows, a longer one is data it sent all the same.
    if (answer.command == CMD_ASDU10 &&
        (answer.length < ASDU10_ANSWER_SIZE || (afterNothing && answer.length != ASDU10_ANSWER_SIZE))) {
        m_nStreamState = STREAM_REQUEST_SENT;
        SetError(COMM_ERR_PROTOCOL);
        return FALSE;
    }

    std::uint32_t total = ReadU32(Payload());
    m_bNothingPromised = answer.command == CMD_ASDU10 && total == 0;
    std::uint32_t packetSize = PacketSizeInUse();
    std::uint32_t expected =
        static_cast<std::uint32_t>((static_cast<std::uint64_t>(total) + packetSize - 1) / packetSize);
    return ReceiveData(file, CMD_ASDU10, expected, total);
}
