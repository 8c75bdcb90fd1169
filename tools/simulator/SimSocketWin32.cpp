// The simulator's listening socket on Windows.
#include "SimSocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

namespace sim {

namespace {
SOCKET Sock(SocketHandle s) { return static_cast<SOCKET>(s); }

std::string ListenError(int error)
{
    switch (error) {
    case WSAEACCES: return "permission denied";
    case WSAEADDRINUSE: return "address already in use";
    case WSAEADDRNOTAVAIL: return "address not available on this machine";
    default: return "socket error " + std::to_string(error);
    }
}
} // namespace

std::uint32_t ParseIPv4(const std::string& text)
{
    // inet_addr's reading, shorthand forms ("127.1") included.
    return ::inet_addr(text.c_str());
}

// No SO_REUSEADDR: on Windows it would let a second listener share the
// port, and TIME_WAIT connections do not keep a listener from binding.
SocketHandle Listen(std::uint32_t address, std::uint16_t port, std::uint16_t* boundPort, std::string* error)
{
    SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                            WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        *error = ListenError(::WSAGetLastError());
        return kInvalidSocket;
    }
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = address;
    if (::bind(s, reinterpret_cast<const sockaddr*>(&sin), sizeof(sin)) == SOCKET_ERROR ||
        ::listen(s, 64) == SOCKET_ERROR) {
        *error = ListenError(::WSAGetLastError());
        ::closesocket(s);
        return kInvalidSocket;
    }
    int len = sizeof(sin);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&sin), &len);
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
    if (s == INVALID_SOCKET)
        return kInvalidSocket;
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    // Packets go back to back: without this one waits for the host's
    // delayed ACK behind the one before it (see SimSocketPosix.cpp).
    BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
    return static_cast<SocketHandle>(s);
}

void Shutdown(SocketHandle s)
{
    if (s != kInvalidSocket)
        ::shutdown(Sock(s), SD_BOTH);
}

void Close(SocketHandle s)
{
    if (s != kInvalidSocket)
        ::closesocket(Sock(s));
}

bool InputWaiting(SocketHandle s)
{
    u_long waiting = 0;
    return ::ioctlsocket(Sock(s), FIONREAD, &waiting) == 0 && waiting > 0;
}

} // namespace sim
