#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ConformSocket.h"

namespace conform {
namespace net {
namespace {

int Fd(Handle s) { return static_cast<int>(s); }

bool Address(const std::string& text, std::uint16_t port, sockaddr_in* sin)
{
    std::memset(sin, 0, sizeof(*sin));
    sin->sin_family = AF_INET;
    sin->sin_port = htons(port);
    if (::inet_pton(AF_INET, text.c_str(), &sin->sin_addr) == 1)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    sin->sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return true;
}

bool Await(int fd, short events, unsigned timeoutMs)
{
    pollfd p{fd, events, 0};
    int n;
    do
        n = ::poll(&p, 1, static_cast<int>(timeoutMs));
    while (n < 0 && errno == EINTR);
    return n > 0;
}

// Each line goes out when the script reaches it, not when an earlier
// segment has been acknowledged.
void NoDelay(int fd)
{
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
}

} // namespace

Handle Listen(const std::string& address, std::uint16_t port, std::string* error)
{
    sockaddr_in sin;
    if (!Address(address, port, &sin)) {
        *error = "not a dotted IPv4 address: " + address;
        return kNone;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    // Cases rebind the same address at once; TIME_WAIT must not stop them.
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) != 0 || ::listen(fd, 4) != 0) {
        *error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return kNone;
    }
    return fd;
}

Handle Accept(Handle listener, unsigned timeoutMs)
{
    if (!Await(Fd(listener), POLLIN, timeoutMs))
        return kNone;
    int fd = ::accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return kNone;
    NoDelay(fd);
    return fd;
}

Handle Connect(const std::string& address, std::uint16_t port, unsigned timeoutMs, std::string* error)
{
    sockaddr_in sin;
    if (!Address(address, port, &sin)) {
        *error = "no IPv4 address for " + address;
        return kNone;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = std::strerror(errno);
        return kNone;
    }
    int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin));
    int code = rc == 0 ? 0 : errno;
    if (code == EINPROGRESS) {
        socklen_t len = sizeof(code);
        code = Await(fd, POLLOUT, timeoutMs) ? 0 : ETIMEDOUT;
        if (code == 0)
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &len);
    }
    if (code != 0) {
        *error = "cannot connect to " + address + ":" + std::to_string(port) + ": " + std::strerror(code);
        ::close(fd);
        return kNone;
    }
    NoDelay(fd);
    return fd;
}

bool SendAll(Handle s, const std::uint8_t* data, std::size_t n)
{
    while (n > 0) {
        if (!Await(Fd(s), POLLOUT, 10000))
            return false;
        ssize_t k = ::send(Fd(s), data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (k < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (k <= 0)
            return false;
        data += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

long Receive(Handle s, std::uint8_t* buffer, std::size_t n, unsigned timeoutMs)
{
    if (!Await(Fd(s), POLLIN, timeoutMs))
        return kTimedOut;
    ssize_t k;
    do
        k = ::recv(Fd(s), buffer, n, MSG_DONTWAIT);
    while (k < 0 && errno == EINTR);
    if (k < 0)
        return errno == EAGAIN ? kTimedOut : kBroken;
    return static_cast<long>(k);
}

void ShutdownSend(Handle s) { ::shutdown(Fd(s), SHUT_WR); }

void Reset(Handle s)
{
    linger l{1, 0};
    ::setsockopt(Fd(s), SOL_SOCKET, SO_LINGER, &l, sizeof(l));
    ::close(Fd(s));
}

void Close(Handle s)
{
    if (s != kNone)
        ::close(Fd(s));
}

} // namespace net
} // namespace conform
