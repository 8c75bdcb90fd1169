#include "doubles/SocketPair.h"

#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

SocketPair::SocketPair()
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        throw std::runtime_error("socketpair failed");
    m_local = fds[0];
    m_peer = fds[1];
}

SocketPair::~SocketPair()
{
    if (m_local >= 0)
        ::close(m_local);
    ClosePeer();
}

SocketHandle SocketPair::TakeLocal()
{
    SocketHandle h = static_cast<SocketHandle>(m_local);
    m_local = -1;
    return h;
}

std::string SocketPair::ReadPeer(std::size_t n, int timeoutMs)
{
    std::string out;
    while (out.size() < n) {
        pollfd pfd{m_peer, POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) <= 0)
            break;
        char buf[4096];
        std::size_t want = n - out.size() < sizeof(buf) ? n - out.size() : sizeof(buf);
        ssize_t got = ::read(m_peer, buf, want);
        if (got <= 0)
            break;
        out.append(buf, static_cast<std::size_t>(got));
    }
    return out;
}

std::size_t SocketPair::PeerPending() const
{
    int n = 0;
    ::ioctl(m_peer, FIONREAD, &n);
    return static_cast<std::size_t>(n);
}

void SocketPair::WritePeer(const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(m_peer, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            throw std::runtime_error("write to peer failed");
        done += static_cast<std::size_t>(n);
    }
}

void SocketPair::ClosePeer()
{
    if (m_peer >= 0) {
        ::close(m_peer);
        m_peer = -1;
    }
}
