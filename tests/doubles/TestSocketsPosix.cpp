#include "doubles/TestSockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsock {

SocketHandle ListenTcp(std::uint32_t address, std::uint16_t port, std::uint16_t* boundPort)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0)
        return kInvalidSocket;
    // Tests rebind the same address at once; TIME_WAIT must not stop them.
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in sin;
    std::memset(&sin, 0, sizeof(sin));
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = address;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof(sin)) != 0 || ::listen(fd, 64) != 0) {
        ::close(fd);
        return kInvalidSocket;
    }
    socklen_t len = sizeof(sin);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
    if (boundPort != nullptr)
        *boundPort = ntohs(sin.sin_port);
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

int Connect(SocketHandle s, const SocketAddress& addr)
{
    sockaddr_in sin;
    static_assert(sizeof(sin) == sizeof(addr), "sockaddr_in layout");
    std::memcpy(&sin, &addr, sizeof(sin));
    sin.sin_family = AF_INET;
    int rc;
    do {
        rc = ::connect(static_cast<int>(s), reinterpret_cast<const sockaddr*>(&sin), sizeof(sin));
    } while (rc < 0 && errno == EINTR);
    return rc < 0 ? -1 : 0;
}

} // namespace testsock
