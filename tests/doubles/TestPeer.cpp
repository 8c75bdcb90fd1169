#include "doubles/TestPeer.h"
#include "vexacomm/ByteSum.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

#ifdef _WIN32
#include "platform/win32/WinApi.h"
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

// The few socket calls that differ between POSIX and Windows Sockets.
namespace {

#ifdef _WIN32
using Sock = SOCKET;
Sock AsSock(std::intptr_t s) { return static_cast<Sock>(s); }
int LastError() { return ::WSAGetLastError(); }
std::string ErrorText(int error) { return "Windows Sockets error " + std::to_string(error); }
bool Interrupted(int) { return false; }
bool WouldBlock(int error) { return error == WSAEWOULDBLOCK; }
void CloseSock(std::intptr_t s) { ::closesocket(AsSock(s)); }

// 1 ready, 0 time-out, -1 failure. Winsock's fd_set is a list of handles:
// one socket always fits.
int WaitFor(std::intptr_t s, bool writable, long long ms)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(AsSock(s), &set);
    timeval tv{static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000};
    int rc = ::select(0, writable ? nullptr : &set, writable ? &set : nullptr, nullptr, &tv);
    return rc == SOCKET_ERROR ? -1 : rc;
}

std::intptr_t OpenListener() { return static_cast<std::intptr_t>(::socket(AF_INET, SOCK_STREAM, 0)); }

// No SO_REUSEADDR: on Windows it lets a second listener share the port, and
// connections in TIME_WAIT do not keep a listener from binding.
void AllowQuickRebind(std::intptr_t) {}

std::intptr_t AcceptOne(std::intptr_t listener)
{
    Sock s = ::accept(AsSock(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET)
        return -1;
    // Sends must not block past the script's time-out: Windows has no
    // per-call MSG_DONTWAIT.
    u_long on = 1;
    ::ioctlsocket(s, FIONBIO, &on);
    return static_cast<std::intptr_t>(s);
}

long SendNow(std::intptr_t s, const char* data, std::size_t n)
{
    int sent = ::send(AsSock(s), data, static_cast<int>(n), 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

long RecvSome(std::intptr_t s, char* buffer, std::size_t n)
{
    int got = ::recv(AsSock(s), buffer, static_cast<int>(n), 0);
    return got == SOCKET_ERROR ? -1 : got;
}

void ShutdownSend(std::intptr_t s) { ::shutdown(AsSock(s), SD_SEND); }
#else
int LastError() { return errno; }
std::string ErrorText(int error) { return std::strerror(error); }
bool Interrupted(int error) { return error == EINTR; }
bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }
void CloseSock(std::intptr_t s) { ::close(static_cast<int>(s)); }

int WaitFor(std::intptr_t s, bool writable, long long ms)
{
    pollfd pfd{static_cast<int>(s), static_cast<short>(writable ? POLLOUT : POLLIN), 0};
    return ::poll(&pfd, 1, static_cast<int>(ms));
}

std::intptr_t OpenListener() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }

// The fixed port must be free again at once when the test is re-run.
void AllowQuickRebind(std::intptr_t s)
{
    int one = 1;
    ::setsockopt(static_cast<int>(s), SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
}

std::intptr_t AcceptOne(std::intptr_t listener)
{
    return ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
}

long SendNow(std::intptr_t s, const char* data, std::size_t n)
{
    return ::send(static_cast<int>(s), data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
}

long RecvSome(std::intptr_t s, char* buffer, std::size_t n) { return ::recv(static_cast<int>(s), buffer, n, 0); }

void ShutdownSend(std::intptr_t s) { ::shutdown(static_cast<int>(s), SHUT_WR); }
#endif

} // namespace

namespace wire {

std::string U16(std::uint16_t value)
{
    std::string s(2, '\0');
    WriteU16(reinterpret_cast<std::uint8_t*>(&s[0]), value);
    return s;
}

std::string U32(std::uint32_t value)
{
    std::string s(4, '\0');
    WriteU32(reinterpret_cast<std::uint8_t*>(&s[0]), value);
    return s;
}

std::string Bare(std::uint32_t command, const std::string& payload)
{
    return U32(command) + U32(static_cast<std::uint32_t>(payload.size())) + payload;
}

std::string Enveloped(std::uint32_t command, const std::string& payload)
{
    std::string packet = Bare(command, payload);
    std::uint32_t sum =
        ByteSum(reinterpret_cast<const std::uint8_t*>(packet.data()), packet.size());
    return U32(ENVELOPE_HEAD_MAGIC) + U32(ENVELOPE_HEAD_MAGIC) + packet + U32(sum) +
           U32(ENVELOPE_TAIL_MAGIC) + U32(ENVELOPE_TAIL_MAGIC);
}

std::string Packet(std::uint32_t command, const std::string& payload, bool envelope)
{
    return envelope ? Enveloped(command, payload) : Bare(command, payload);
}

std::string ReplyPayload(std::uint32_t code, const std::string& text)
{
    return U32(code) + U32(0) + text + std::string(1, '\0');
}

std::string Hex(const std::string& bytes)
{
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof(buf), out.empty() ? "%02x" : " %02x", c);
        out += buf;
    }
    return out;
}

std::string FromHex(const std::string& hex)
{
    std::string bytes;
    int high = -1;
    for (char c : hex) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            continue;
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<char>(high * 16 + v));
            high = -1;
        }
    }
    return bytes;
}

} // namespace wire

std::uint16_t PeerPacket::U16(std::size_t offset) const
{
    if (offset + 2 > payload.size())
        return 0;
    return ReadU16(reinterpret_cast<const std::uint8_t*>(payload.data()) + offset);
}

std::uint32_t PeerPacket::U32(std::size_t offset) const
{
    if (offset + 4 > payload.size())
        return 0;
    return ReadU32(reinterpret_cast<const std::uint8_t*>(payload.data()) + offset);
}

TestPeer::TestPeer(const std::string& address, std::uint16_t port, Script script,
                   std::chrono::milliseconds timeout)
    : m_address(address), m_port(port), m_timeout(timeout)
{
    sockaddr_in sin;
    std::memset(&sin, 0, sizeof(sin));
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &sin.sin_addr) != 1) {
        ADD_FAILURE() << "peer: bad address " << address;
        return;
    }
    std::intptr_t fd = OpenListener();
    if (fd < 0) {
        ADD_FAILURE() << "peer: socket: " << ErrorText(LastError());
        return;
    }
    AllowQuickRebind(fd);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) != 0 || ::listen(fd, 4) != 0) {
        ADD_FAILURE() << "peer: bind/listen " << address << ":" << port << ": " << ErrorText(LastError());
        CloseSock(fd);
        return;
    }
    socklen_t len = sizeof(sin);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
    m_port = ntohs(sin.sin_port);
    m_listenFd = fd;
    m_thread = std::thread(&TestPeer::Run, this, std::move(script));
}

TestPeer::~TestPeer()
{
    Join();
    if (m_listenFd >= 0)
        CloseSock(m_listenFd);
}

void TestPeer::Join()
{
    if (m_thread.joinable())
        m_thread.join();
}

std::string TestPeer::Received() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_received;
}

void TestPeer::Run(Script script)
{
    if (!Accept()) {
        ADD_FAILURE() << "peer " << m_address << ": no client connected within "
                      << m_timeout.count() << " ms";
        return;
    }
    try {
        script(*this);
    } catch (const std::exception& e) {
        ADD_FAILURE() << "peer script threw: " << e.what();
    } catch (...) {
        ADD_FAILURE() << "peer script threw";
    }
    // Reading on until the client closes keeps a close from turning into
    // a reset over unread bytes, and records whatever the client still sends.
    if (m_connFd >= 0 && !m_peerClosed)
        WaitForClose();
    CloseConnection();
}

bool TestPeer::Accept()
{
    int rc;
    do {
        rc = WaitFor(m_listenFd, false, m_timeout.count());
    } while (rc < 0 && Interrupted(LastError()));
    if (rc <= 0)
        return false;
    std::intptr_t fd = AcceptOne(m_listenFd);
    if (fd < 0)
        return false;
    // Small scripted writes go out as written, not merged by Nagle.
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
    m_connFd = fd;
    m_peerClosed = false;
    return true;
}

bool TestPeer::AcceptNext()
{
    CloseConnection();
    if (Accept())
        return true;
    ADD_FAILURE() << "peer " << m_address << ": no further client within " << m_timeout.count()
                  << " ms";
    return false;
}

void TestPeer::CloseConnection()
{
    if (m_connFd >= 0) {
        CloseSock(m_connFd);
        m_connFd = -1;
    }
    // Bytes of a dropped connection can no longer be expected.
    std::lock_guard<std::mutex> guard(m_mutex);
    m_cursor = m_received.size();
}

bool TestPeer::ReadMore(std::chrono::steady_clock::time_point deadline)
{
    if (m_connFd < 0 || m_peerClosed)
        return false;
    char buf[65536];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() < 0)
            return false;
        int rc = WaitFor(m_connFd, false, left.count());
        if (rc < 0 && Interrupted(LastError()))
            continue;
        if (rc <= 0)
            return false;
        long n = RecvSome(m_connFd, buf, sizeof(buf));
        if (n < 0 && (Interrupted(LastError()) || WouldBlock(LastError())))
            continue;
        if (n <= 0) {
            m_peerClosed = true;
            return false;
        }
        std::lock_guard<std::mutex> guard(m_mutex);
        m_received.append(buf, static_cast<std::size_t>(n));
        return true;
    }
}

std::size_t TestPeer::Unread() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_received.size() - m_cursor;
}

std::string TestPeer::Take(std::size_t n)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    n = std::min(n, m_received.size() - m_cursor);
    std::string bytes = m_received.substr(m_cursor, n);
    m_cursor += n;
    return bytes;
}

std::string TestPeer::ReadBytes(std::size_t n, std::chrono::steady_clock::time_point deadline)
{
    while (Unread() < n && ReadMore(deadline)) {
    }
    return Take(n);
}

std::string TestPeer::ExpectBytes(std::size_t n)
{
    std::string bytes = ReadBytes(n, std::chrono::steady_clock::now() + m_timeout);
    if (bytes.size() < n) {
        ADD_FAILURE() << "peer " << m_address << ": expected " << n << " bytes, got "
                      << bytes.size() << (m_peerClosed ? " before the client closed" : " in time")
                      << ": " << wire::Hex(bytes);
    }
    return bytes;
}

std::string TestPeer::ExpectSome()
{
    if (Unread() == 0 && !ReadMore(std::chrono::steady_clock::now() + m_timeout)) {
        ADD_FAILURE() << "peer " << m_address << ": expected some bytes, got none";
        return std::string();
    }
    return Take(Unread());
}

PeerPacket TestPeer::ExpectPacket()
{
    return ReadPacket(std::chrono::steady_clock::time_point(), true);
}

PeerPacket TestPeer::NextPacket(std::chrono::milliseconds wait)
{
    return ReadPacket(std::chrono::steady_clock::now() + wait, false);
}

// With `report`, every read has the full time-out and a short one is a test
// failure; without, all reads share `deadline` and failures stay quiet.
PeerPacket TestPeer::ReadPacket(std::chrono::steady_clock::time_point deadline, bool report)
{
    auto read = [&](std::size_t n) {
        return report ? ExpectBytes(n) : ReadBytes(n, deadline);
    };
    PeerPacket packet;
    std::string head = read(8);
    if (head.size() < 8)
        return packet;
    const auto* h = reinterpret_cast<const std::uint8_t*>(head.data());
    if (ReadU32(h) == ENVELOPE_HEAD_MAGIC && ReadU32(h + 4) == ENVELOPE_HEAD_MAGIC) {
        packet.enveloped = true;
        head = read(8);
        if (head.size() < 8)
            return packet;
        h = reinterpret_cast<const std::uint8_t*>(head.data());
    }
    packet.command = ReadU32(h);
    packet.length = ReadU32(h + 4);
    if (packet.length > PACKET_PAYLOAD_MAX) {
        if (report)
            ADD_FAILURE() << "peer " << m_address << ": packet length " << packet.length;
        return packet;
    }
    packet.payload = read(packet.length);
    if (packet.payload.size() < packet.length)
        return packet;
    if (packet.enveloped) {
        std::string trailer = read(12);
        if (trailer.size() < 12)
            return packet;
        const auto* t = reinterpret_cast<const std::uint8_t*>(trailer.data());
        std::string bare = head + packet.payload;
        std::uint32_t sum =
            ByteSum(reinterpret_cast<const std::uint8_t*>(bare.data()), bare.size());
        packet.envelopeValid = ReadU32(t) == sum && ReadU32(t + 4) == ENVELOPE_TAIL_MAGIC &&
                               ReadU32(t + 8) == ENVELOPE_TAIL_MAGIC;
    }
    packet.complete = true;
    return packet;
}

bool TestPeer::WaitForClose()
{
    auto deadline = std::chrono::steady_clock::now() + m_timeout;
    while (ReadMore(deadline)) {
    }
    return m_peerClosed;
}

void TestPeer::Send(const std::string& bytes)
{
    if (m_connFd < 0) {
        ADD_FAILURE() << "peer " << m_address << ": send without a connection";
        return;
    }
    std::size_t sent = 0;
    auto deadline = std::chrono::steady_clock::now() + m_timeout;
    while (sent < bytes.size()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        int rc = left.count() < 0 ? 0 : WaitFor(m_connFd, true, left.count());
        if (rc < 0 && Interrupted(LastError()))
            continue;
        if (rc <= 0) {
            ADD_FAILURE() << "peer " << m_address << ": client took " << sent << " of "
                          << bytes.size() << " bytes in time";
            return;
        }
        long n = SendNow(m_connFd, bytes.data() + sent, bytes.size() - sent);
        if (n < 0 && (Interrupted(LastError()) || WouldBlock(LastError())))
            continue;
        if (n < 0) {
            // A client that has gone away is a legitimate outcome for some
            // scripts; the test judges the client's side.
            return;
        }
        sent += static_cast<std::size_t>(n);
    }
}

void TestPeer::SendPacket(std::uint32_t command, const std::string& payload, bool envelope)
{
    Send(wire::Packet(command, payload, envelope));
}

void TestPeer::CutAfter(const std::string& bytes, std::size_t n)
{
    Send(bytes.substr(0, n));
    Close();
}

void TestPeer::Close()
{
    if (m_connFd >= 0)
        ShutdownSend(m_connFd);
}

void TestPeer::Reset()
{
    if (m_connFd < 0)
        return;
    linger abortive{1, 0};
    ::setsockopt(m_connFd, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive), sizeof(abortive));
    CloseSock(m_connFd);
    m_connFd = -1;
    std::lock_guard<std::mutex> guard(m_mutex);
    m_cursor = m_received.size();
}

void TestPeer::ServeSetup(const SetupAnswers& answers)
{
    Send(answers.greeting);
    PeerPacket probe = ExpectPacket();
    EXPECT_EQ(probe.command, CMD_ENVELOPE_PROBE) << "peer: expected the envelope probe";
    if (answers.envelope)
        SendPacket(CMD_REPLY, wire::U32(ENVELOPE_HEAD_MAGIC), false);
    else
        SendPacket(CMD_REPLY, std::string(), false);
    PeerPacket size = ExpectPacket();
    EXPECT_EQ(size.command, CMD_PACKET_SIZE) << "peer: expected the packet-size request";
    SendPacket(CMD_PACKET_SIZE, wire::U16(answers.packetSize), answers.envelope);
    PeerPacket ack = ExpectPacket();
    EXPECT_EQ(ack.command, CMD_ACK_MODE) << "peer: expected the acknowledgement-mode request";
    SendPacket(CMD_ACK_MODE, wire::U16(answers.ackMode), answers.envelope);
}
