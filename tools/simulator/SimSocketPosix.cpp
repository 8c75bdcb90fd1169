// The simulator's listening socket on POSIX.
#include "SimSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

namespace {
int Fd(SocketHandle s) { return static_cast<int>(s); }

std::string ListenError(int error)
{
    switch (error) {
    case EACCES: return "permission denied";
    case EADDRINUSE: return "address already in use";
    case EADDRNOTAVAIL: return "address not available on this machine";
    default: return std::strerror(error);
    }
}
} // namespace

std::uint32_t ParseIPv4(const std::string& text)
{
    // inet_addr's reading, shorthand forms ("127.1") included.
    return ::inet_addr(text.c_str());
}

SocketHandle Listen(std::uint32_t address, std::uint16_t port, std::uint16_t* boundPort, std::string* error)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        *error = ListenError(errno);
        return kInvalidSocket;
    }
    // Tests rebind the same address at once; TIME_WAIT must not stop them.
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in sin;
    std::memset(&sin, 0, sizeof(sin));
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = address;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof(sin)) != 0 || ::listen(fd, 64) != 0) {
        *error = ListenError(errno);
        ::close(fd);
        return kInvalidSocket;
    }
    socklen_t len = sizeof(sin);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
    *boundPort = ntohs(sin.sin_port);
    return static_cast<SocketHandle>(fd);
}

SocketHandle Accept(SocketHandle listener, int timeoutMs)
{
    pollfd pfd{Fd(listener), POLLIN, 0};
    if (::poll(&pfd, 1, timeoutMs) <= 0)
        return kInvalidSocket;
    int fd = ::accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return kInvalidSocket;
    // A device streams packets back to back; with Nagle, the one behind a
    // packet not yet acknowledged waits for the host's delayed ACK (40 ms).
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    return static_cast<SocketHandle>(fd);
}

void Shutdown(SocketHandle s)
{
    if (s != kInvalidSocket)
        ::shutdown(Fd(s), SHUT_RDWR);
}

void Close(SocketHandle s)
{
    if (s != kInvalidSocket)
        ::close(Fd(s));
}

bool InputWaiting(SocketHandle s)
{
    int waiting = 0;
    return ::ioctl(Fd(s), FIONREAD, &waiting) == 0 && waiting > 0;
}

} // namespace sim
