#include "doubles/SocketPair.h"

#include <stdexcept>

#include "SimSocket.h"
#include "doubles/TestSockets.h"
#include "platform/Socket.h"
#include "platform/win32/WinApi.h"

namespace {
SOCKET Sock(SocketHandle s) { return static_cast<SOCKET>(s); }
} // namespace

// Any free port on 127.0.0.1: the listener lives only until the one
// connection is accepted.
SocketPair::SocketPair()
{
    std::uint16_t port = 0;
    std::string reason;
    SocketHandle listener = sim::Listen(plat::ParseIPv4("127.0.0.1"), 0, &port, &reason);
    if (listener == kInvalidSocket)
        throw std::runtime_error("loopback listen failed");
    SocketAddress address{};
    address.family = AF_INET;
    address.port = plat::HostToNet16(port);
    address.address = plat::ParseIPv4("127.0.0.1");
    m_local = plat::SocketOpenTcp();
    if (m_local == kInvalidSocket || testsock::Connect(m_local, address) != 0) {
        plat::SocketClose(listener);
        throw std::runtime_error("loopback connect failed");
    }
    m_peer = sim::Accept(listener, 5000);
    plat::SocketClose(listener);
    if (m_peer == kInvalidSocket)
        throw std::runtime_error("loopback accept failed");
}

SocketPair::~SocketPair()
{
    plat::SocketClose(m_local);
    ClosePeer();
}

SocketHandle SocketPair::TakeLocal()
{
    SocketHandle h = m_local;
    m_local = kInvalidSocket;
    return h;
}

std::string SocketPair::ReadPeer(std::size_t n, int timeoutMs)
{
    std::string out;
    while (out.size() < n) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(Sock(m_peer), &set);
        timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        if (::select(0, &set, nullptr, nullptr, &tv) <= 0)
            break;
        char buf[4096];
        std::size_t want = n - out.size() < sizeof(buf) ? n - out.size() : sizeof(buf);
        int got = ::recv(Sock(m_peer), buf, static_cast<int>(want), 0);
        if (got <= 0)
            break;
        out.append(buf, static_cast<std::size_t>(got));
    }
    return out;
}

std::size_t SocketPair::PeerPending() const
{
    u_long n = 0;
    ::ioctlsocket(Sock(m_peer), FIONREAD, &n);
    return static_cast<std::size_t>(n);
}

void SocketPair::WritePeer(const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        int n = ::send(Sock(m_peer), bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
        if (n <= 0)
            throw std::runtime_error("write to peer failed");
        done += static_cast<std::size_t>(n);
    }
}

void SocketPair::ClosePeer()
{
    if (m_peer != kInvalidSocket) {
        ::closesocket(Sock(m_peer));
        m_peer = kInvalidSocket;
    }
}
