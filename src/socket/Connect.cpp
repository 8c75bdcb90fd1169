// The connect sequence: the TCP connect within the wait limit, the peer's
// greeting, then the envelope probe and the negotiations.
#include <cctype>
#include <cstring>

#include "platform/Socket.h"
#include "platform/SocketErrors.h"
#include "vexacomm/GLSocket.h"

namespace {

// inet_pton's reading: exactly four decimal parts 0..255, no leading zeros,
// nothing before or after.
bool ParseDottedQuad(const char* text, std::uint32_t* address)
{
    unsigned char octets[4];
    const char* p = text;
    for (int i = 0; i < 4; ++i) {
        if (i != 0 && *p++ != '.')
            return false;
        if (*p < '0' || *p > '9' || (p[0] == '0' && p[1] >= '0' && p[1] <= '9'))
            return false;
        unsigned value = 0;
        for (int digits = 0; *p >= '0' && *p <= '9'; ++p) {
            if (++digits > 3)
                return false;
            value = value * 10 + static_cast<unsigned>(*p - '0');
        }
        if (value > 255)
            return false;
        octets[i] = static_cast<unsigned char>(value);
    }
    if (*p != '\0')
        return false;
    std::memcpy(address, octets, 4); // network byte order
    return true;
}

// inet_aton's shorthand forms ("127.1", "0x7f.0.0.1", "2130706433", and a
// quad with text after a space): no host name, and a resolver would read
// them as an address. One to four C-style numbers, then the end or a space.
bool IsShorthandAddress(const char* text)
{
    const char* p = text;
    for (int part = 0; part < 4; ++part) {
        if (part != 0 && *p++ != '.')
            return false;
        if (*p < '0' || *p > '9')
            return false;
        if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
            p += 2;
            while (std::isxdigit(static_cast<unsigned char>(*p)))
                ++p;
        } else {
            while (*p >= '0' && *p <= '9')
                ++p;
        }
        if (*p == '\0' || std::isspace(static_cast<unsigned char>(*p)))
            return true;
    }
    return false;
}

// 0.0.0.0/8 (this network), multicast, reserved and broadcast addresses:
// no device answers a TCP connect there.
bool IsDeviceAddress(std::uint32_t address)
{
    unsigned char octets[4];
    std::memcpy(octets, &address, 4);
    return octets[0] != 0 && octets[0] < 224;
}

} // namespace

BOOL CPacketSocket::ConnectHost(const char* host, std::uint16_t port)
{
    std::uint32_t address = 0;
    if (host == nullptr || !ParseDottedQuad(host, &address)) {
        if (host == nullptr || IsShorthandAddress(host)) {
            Close();
            SetError(plat::kWsaHostNotFound);
            return FALSE;
        }
        if (!plat::ResolveIPv4(host, &address)) {
            SetError(plat::SocketLastError());
            return FALSE;
        }
    }
    if (!IsDeviceAddress(address)) {
        Close();
        SetError(COMM_ERR_NOT_DEVICE_ADDRESS);
        return FALSE;
    }
    return ConnectAddr(address, port);
}

BOOL CPacketSocket::ConnectAddr(std::uint32_t address, std::uint16_t port)
{
    m_addr.family = kAddressFamilyInet;
    m_addr.port = plat::HostToNet16(port);
    m_addr.address = address;
    return ConnectSockAddr(&m_addr);
}

BOOL CPacketSocket::ConnectSockAddr(const SocketAddress* address)
{
    m_nBytesReceived = 0;
    m_nBytesSent = 0;
    m_tLastReceive = 0;
    m_tLastSend = 0;
    Close();
    if (address == nullptr)
        return FALSE;
    if (address != &m_addr)
        std::memcpy(&m_addr, address, sizeof(m_addr));

    SocketHandle s = plat::SocketOpenTcp();
    if (s == kInvalidSocket) {
        SetError(plat::SocketLastError());
        return FALSE;
    }
    if (!ConnectWithinLimit(s)) {
        plat::SocketClose(s);
        Close();
        return FALSE;
    }
    m_hSocket = s;
    return ReceiveGreeting();
}

// The system would try for minutes; the wait limit bounds the connect like
// every other wait, and a cancel request ends it.
BOOL CPacketSocket::ConnectWithinLimit(SocketHandle s)
{
    int started = plat::SocketConnectStart(s, m_addr);
    if (started == 1) {
        if (!AwaitSocket(s, SocketWaitKind::Connected, m_tvTimeout))
            return FALSE;
        started = plat::SocketConnectResult(s) == 0 ? 0 : -1;
    }
    if (started != 0) {
        // Recorded while the old state is closed; the caller drops `s`.
        SetError(plat::SocketLastError());
        return FALSE;
    }
    return TRUE;
}

BOOL CPacketSocket::ReceiveGreeting()
{
    if (!WaitReadable(m_tvTimeout)) {
        // A cancel request keeps its own code.
        if (m_nLastError != COMM_ERR_CANCELLED)
            SetError(COMM_ERR_NO_GREETING);
        Close();
        return FALSE;
    }
    if (!ReceivePacket(m_packet, TRUE)) {
        if (m_nLastError == COMM_ERR_PROTOCOL)
            SetError(COMM_ERR_NO_GREETING); // it failed its checks
        Close();
        return FALSE;
    }
    PacketHeader header = Header();
    if (header.command != CMD_REPLY) {
        SetError(COMM_ERR_NO_GREETING);
        Close();
        return FALSE;
    }
    if (header.length != 0) {
        std::int32_t code = static_cast<std::int32_t>(ReadU32(Payload()));
        SetError(code);
        // A code that means a lost connection has closed the socket by now;
        // going on would report an established connection without one.
        if (code == COMM_ERR_CONNECT_REFUSED || m_hSocket == kInvalidSocket) {
            Close();
            return FALSE;
        }
    }
    m_bConnected = OpenConnection();
    return TRUE;
}

// The three results are ignored on purpose: each step that goes unanswered
// leaves its default in force (no envelope, 16376, no acknowledgements), so
// a peer that knows none of them is still served; a lost connection has
// been recorded and closed by the step itself.
BOOL CPacketSocket::OpenConnection()
{
    ProbeEnvelope();
    // Negotiated on a copy and published once agreed: a host may read the
    // value on another thread while this connect runs.
    std::uint16_t packetSize = NEGOTIATE_QUERY;
    NegotiatePacketSize(packetSize);
    StorePacketSizeMax(packetSize);
    m_wPacketSizeInUse = 0;
    m_wAckMode = NEGOTIATE_QUERY;
    NegotiateAckMode(m_wAckMode);
    return TRUE;
}
