#include "doubles/TestSockets.h"

#include <cstring>

#include "platform/win32/WinApi.h"

namespace testsock {
namespace {
SOCKET Sock(SocketHandle s) { return static_cast<SOCKET>(s); }
} // namespace

// No SO_REUSEADDR: on Windows it would let a second listener share the
// port, and TIME_WAIT connections do not keep a listener from binding.
SocketHandle ListenTcp(std::uint32_t address, std::uint16_t port, std::uint16_t* boundPort)
{
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return kInvalidSocket;
    sockaddr_in sin;
    std::memset(&sin, 0, sizeof(sin));
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = address;
    if (::bind(s, reinterpret_cast<const sockaddr*>(&sin), sizeof(sin)) == SOCKET_ERROR ||
        ::listen(s, 64) == SOCKET_ERROR) {
        ::closesocket(s);
        return kInvalidSocket;
    }
    int len = sizeof(sin);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&sin), &len);
    if (boundPort != nullptr)
        *boundPort = ntohs(sin.sin_port);
    return static_cast<SocketHandle>(s);
}

SocketHandle Accept(SocketHandle listener, int timeoutMs)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Sock(listener), &readable);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (::select(0, &readable, nullptr, nullptr, &limit) <= 0)
        return kInvalidSocket;
    SOCKET s = ::accept(Sock(listener), nullptr, nullptr);
    return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

int Connect(SocketHandle s, const SocketAddress& addr)
{
    sockaddr_in sin;
    static_assert(sizeof(sin) == sizeof(addr), "sockaddr_in layout");
    std::memcpy(&sin, &addr, sizeof(sin));
    sin.sin_family = AF_INET;
    return ::connect(Sock(s), reinterpret_cast<const sockaddr*>(&sin), sizeof(sin)) == SOCKET_ERROR ? -1 : 0;
}

} // namespace testsock
