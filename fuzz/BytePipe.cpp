// A local socket pair that feeds fuzz input to the library as a peer would.
#include "BytePipe.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

#include "FuzzSupport.h"

namespace fuzz {

BytePipe::BytePipe()
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        Fail("socketpair", __FILE__, __LINE__);
    m_local = fds[0];
    m_peer = fds[1];
    // Room for the largest input and for what the library sends back, even
    // as many small packets (each charged with its buffer overhead).
    int size = 4 << 20;
    ::setsockopt(m_peer, SOL_SOCKET, SO_SNDBUF, &size, sizeof(size));
    ::setsockopt(m_local, SOL_SOCKET, SO_SNDBUF, &size, sizeof(size));
}

BytePipe::~BytePipe()
{
    if (m_local >= 0)
        ::close(m_local);
    if (m_peer >= 0)
        ::close(m_peer);
}

SocketHandle BytePipe::TakeLocal()
{
    SocketHandle h = static_cast<SocketHandle>(m_local);
    m_local = -1;
    return h;
}

void BytePipe::Feed(const std::string& bytes)
{
    if (bytes.empty())
        return;
    FUZZ_CHECK(!m_feedClosed);
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(m_peer, bytes.data() + done, bytes.size() - done,
                           MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        // The library has closed its end: the bytes go nowhere.
        if (n < 0 && errno == EPIPE)
            return;
        // A full buffer would make the harness wait for itself.
        FUZZ_CHECK(n > 0);
        done += static_cast<std::size_t>(n);
    }
}

void BytePipe::CloseFeed()
{
    if (!m_feedClosed)
        ::shutdown(m_peer, SHUT_WR);
    m_feedClosed = true;
}

std::string BytePipe::Sent()
{
    std::string out;
    char buf[4096];
    for (;;) {
        ssize_t n = ::recv(m_peer, buf, sizeof(buf), MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

} // namespace fuzz
