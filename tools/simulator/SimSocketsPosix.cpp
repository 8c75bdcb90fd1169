// The simulator's listener on POSIX sockets.
#include "SimSockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

bool ParseAddress(const std::string& text, std::uint32_t* address)
{
    in_addr in{};
    if (::inet_pton(AF_INET, text.c_str(), &in) != 1)
        return false;
    *address = in.s_addr;
    return true;
}

SocketHandle Listen(std::uint32_t address, std::uint16_t port, std::uint16_t* bound, std::string* why)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        *why = std::strerror(errno);
        return kInvalidSocket;
    }
    // Tests rebind the same address at once; TIME_WAIT must not stop them.
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = address;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof(sin)) != 0 || ::listen(fd, 64) != 0) {
        int error = errno;
        *why = error == EADDRINUSE      ? "address already in use"
               : error == EADDRNOTAVAIL ? "address not available on this machine"
                                        : std::strerror(error);
        ::close(fd);
        return kInvalidSocket;
    }
    socklen_t len = sizeof(sin);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
    *bound = ntohs(sin.sin_port);
    return static_cast<SocketHandle>(fd);
}

SocketHandle Accept(SocketHandle listener, int timeoutMs)
{
    pollfd pfd{static_cast<int>(listener), POLLIN, 0};
    if (::poll(&pfd, 1, timeoutMs) <= 0)
        return kInvalidSocket;
    int fd = ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    return fd < 0 ? kInvalidSocket : static_cast<SocketHandle>(fd);
}

void Shutdown(SocketHandle s)
{
    if (s != kInvalidSocket)
        ::shutdown(static_cast<int>(s), SHUT_RDWR);
}

void CloseSocket(SocketHandle s)
{
    if (s != kInvalidSocket)
        ::close(static_cast<int>(s));
}

} // namespace sim
