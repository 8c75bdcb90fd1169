#include <winsock2.h>
#include <ws2tcpip.h>

#include "ConformSocket.h"

namespace conform {
namespace net {
namespace {

SOCKET Sock(Handle s) { return static_cast<SOCKET>(s); }

bool Address(const std::string& text, std::uint16_t port, sockaddr_in* sin)
{
    ZeroMemory(sin, sizeof(*sin));
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

// select, not WSAPoll: WSAPoll misses a refused connect on older systems.
bool Await(SOCKET s, bool write, unsigned timeoutMs)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    fd_set failed = set;
    timeval tv{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
    int n = ::select(0, write ? nullptr : &set, write ? &set : nullptr, write ? &failed : nullptr, &tv);
    return n > 0 && FD_ISSET(s, &set);
}

// Each line goes out when the script reaches it, not when an earlier
// segment has been acknowledged.
void NoDelay(SOCKET s)
{
    BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof(one));
}

void Blocking(SOCKET s, bool blocking)
{
    u_long on = blocking ? 0 : 1;
    ::ioctlsocket(s, FIONBIO, &on);
}

} // namespace

Handle Listen(const std::string& address, std::uint16_t port, std::string* error)
{
    sockaddr_in sin;
    if (!Address(address, port, &sin)) {
        *error = "not a dotted IPv4 address: " + address;
        return kNone;
    }
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET || ::bind(s, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) != 0 ||
        ::listen(s, 4) != 0) {
        *error = "cannot listen on " + address + ":" + std::to_string(port) + ": error " +
                 std::to_string(::WSAGetLastError());
        if (s != INVALID_SOCKET)
            ::closesocket(s);
        return kNone;
    }
    return static_cast<Handle>(s);
}

Handle Accept(Handle listener, unsigned timeoutMs)
{
    if (!Await(Sock(listener), false, timeoutMs))
        return kNone;
    SOCKET s = ::accept(Sock(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET)
        return kNone;
    NoDelay(s);
    return static_cast<Handle>(s);
}

Handle Connect(const std::string& address, std::uint16_t port, unsigned timeoutMs, std::string* error)
{
    sockaddr_in sin;
    if (!Address(address, port, &sin)) {
        *error = "not a dotted IPv4 address: " + address;
        return kNone;
    }
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        *error = "error " + std::to_string(::WSAGetLastError());
        return kNone;
    }
    Blocking(s, false);
    int rc = ::connect(s, reinterpret_cast<sockaddr*>(&sin), sizeof(sin));
    if (rc != 0 && (::WSAGetLastError() != WSAEWOULDBLOCK || !Await(s, true, timeoutMs))) {
        *error = "cannot connect to " + address + ":" + std::to_string(port);
        ::closesocket(s);
        return kNone;
    }
    Blocking(s, true);
    NoDelay(s);
    return static_cast<Handle>(s);
}

bool SendAll(Handle s, const std::uint8_t* data, std::size_t n)
{
    while (n > 0) {
        int k = ::send(Sock(s), reinterpret_cast<const char*>(data), static_cast<int>(n), 0);
        if (k <= 0)
            return false;
        data += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

long Receive(Handle s, std::uint8_t* buffer, std::size_t n, unsigned timeoutMs)
{
    if (!Await(Sock(s), false, timeoutMs))
        return kTimedOut;
    int k = ::recv(Sock(s), reinterpret_cast<char*>(buffer), static_cast<int>(n), 0);
    return k < 0 ? static_cast<long>(kBroken) : static_cast<long>(k);
}

void ShutdownSend(Handle s) { ::shutdown(Sock(s), SD_SEND); }

void Reset(Handle s)
{
    linger l{1, 0};
    ::setsockopt(Sock(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof(l));
    ::closesocket(Sock(s));
}

void Close(Handle s)
{
    if (s != kNone)
        ::closesocket(Sock(s));
}

} // namespace net
} // namespace conform
