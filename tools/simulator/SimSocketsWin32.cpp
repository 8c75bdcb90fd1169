// The simulator's listener on Windows Sockets.
#include "SimSockets.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace sim {

bool ParseAddress(const std::string& text, std::uint32_t* address)
{
    in_addr in{};
    if (::inet_pton(AF_INET, text.c_str(), &in) != 1)
        return false;
    *address = in.s_addr;
    return true;
}

// No SO_REUSEADDR: on Windows it would let a second listener share the
// port, and TIME_WAIT connections do not keep a listener from binding.
SocketHandle Listen(std::uint32_t address, std::uint16_t port, std::uint16_t* bound, std::string* why)
{
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        *why = "socket error " + std::to_string(::WSAGetLastError());
        return kInvalidSocket;
    }
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = address;
    if (::bind(s, reinterpret_cast<const sockaddr*>(&sin), sizeof(sin)) == SOCKET_ERROR ||
        ::listen(s, 64) == SOCKET_ERROR) {
        int error = ::WSAGetLastError();
        *why = error == WSAEADDRINUSE      ? "address already in use"
               : error == WSAEADDRNOTAVAIL ? "address not available on this machine"
               : error == WSAEACCES        ? "permission denied"
                                           : "socket error " + std::to_string(error);
        ::closesocket(s);
        return kInvalidSocket;
    }
    int len = sizeof(sin);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&sin), &len);
    *bound = ntohs(sin.sin_port);
    return static_cast<SocketHandle>(s);
}

SocketHandle Accept(SocketHandle listener, int timeoutMs)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(static_cast<SOCKET>(listener), &set);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (::select(0, &set, nullptr, nullptr, &tv) <= 0)
        return kInvalidSocket;
    SOCKET s = ::accept(static_cast<SOCKET>(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET)
        return kInvalidSocket;
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return static_cast<SocketHandle>(s);
}

void Shutdown(SocketHandle s)
{
    if (s != kInvalidSocket)
        ::shutdown(static_cast<SOCKET>(s), SD_BOTH);
}

void CloseSocket(SocketHandle s)
{
    if (s != kInvalidSocket)
        ::closesocket(static_cast<SOCKET>(s));
}

} // namespace sim
