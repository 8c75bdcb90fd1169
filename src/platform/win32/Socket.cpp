// Win32 sockets: blocking IPv4 TCP over Winsock with select() waits.
#include "platform/Socket.h"

#include <cstdio>
#include <cstring>

#include "platform/win32/WinApi.h"

namespace plat {
namespace {

// Captured at the failing call: WSAGetLastError is the thread's
// GetLastError, which any later system call may overwrite.
thread_local int t_lastError = 0;

SOCKET Sock(SocketHandle s) { return static_cast<SOCKET>(s); }

int Fail()
{
    t_lastError = ::WSAGetLastError();
    return -1;
}

// Sockets are inheritable by default on Windows; a program that the service
// side starts (with handle inheritance on) would keep our connections open.
void NotInherited(SOCKET s) { ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0); }

// Not inheritable from the start, so a program that another thread starts
// meanwhile never gets it. Overlapped, as socket() makes them. Systems
// before Windows 7 SP1 refuse the flag: there only the late change remains.
SOCKET NewTcpSocket()
{
    SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                            WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET && ::WSAGetLastError() == WSAEINVAL) {
        s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (s != INVALID_SOCKET)
            NotInherited(s);
    }
    return s;
}

timeval ToTimeval(long long ms)
{
    if (ms < 0)
        ms = 0;
    if (ms > 0x7FFFFFFF)
        ms = 0x7FFFFFFF;
    timeval tv;
    tv.tv_sec = static_cast<long>(ms / 1000);
    tv.tv_usec = static_cast<long>(ms % 1000) * 1000;
    return tv;
}

// Winsock's fd_set is a counted list of handles, not a bit mask indexed by
// descriptor number, so a single socket always fits, whatever its value.
int WaitFor(SocketHandle s, bool writable, WaitLimit limit)
{
    timeval tv = ToTimeval(static_cast<long long>(limit.tv_sec) * 1000 + limit.tv_usec / 1000);
    fd_set set;
    FD_ZERO(&set);
    FD_SET(Sock(s), &set);
    int rc = ::select(0, writable ? nullptr : &set, writable ? &set : nullptr, nullptr, &tv);
    if (rc == SOCKET_ERROR)
        return Fail();
    return rc == 0 ? 0 : 1;
}

// Winsock's list over the buffers; `pieces` has room for kMaxSocketBuffers.
template <typename Buffer>
bool Gather(const Buffer* buffers, int count, WSABUF* pieces)
{
    if (count < 1 || count > kMaxSocketBuffers) {
        t_lastError = WSAEINVAL;
        return false;
    }
    for (int i = 0; i < count; ++i) {
        pieces[i].buf = const_cast<char*>(static_cast<const char*>(buffers[i].data));
        pieces[i].len = static_cast<ULONG>(buffers[i].length);
    }
    return true;
}

} // namespace

int SocketLastError() { return t_lastError; }

SocketHandle SocketOpenTcp()
{
    SOCKET s = NewTcpSocket();
    if (s == INVALID_SOCKET) {
        Fail();
        return kInvalidSocket;
    }
    return static_cast<SocketHandle>(s);
}

// Non-blocking for the attempt only: the transport expects a blocking
// socket afterwards.
int SocketConnectStart(SocketHandle s, const SocketAddress& addr)
{
    u_long on = 1;
    if (::ioctlsocket(Sock(s), FIONBIO, &on) == SOCKET_ERROR)
        return Fail();
    sockaddr_in sin;
    std::memcpy(&sin, &addr, sizeof(sin));
    sin.sin_family = AF_INET;
    if (::connect(Sock(s), reinterpret_cast<const sockaddr*>(&sin), sizeof(sin)) == 0) {
        u_long off = 0;
        ::ioctlsocket(Sock(s), FIONBIO, &off);
        return 0;
    }
    if (::WSAGetLastError() == WSAEWOULDBLOCK)
        return 1;
    return Fail();
}

// A failed attempt shows in the exception set, not the write set.
int SocketWaitConnected(SocketHandle s, WaitLimit limit)
{
    timeval tv = ToTimeval(static_cast<long long>(limit.tv_sec) * 1000 + limit.tv_usec / 1000);
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(Sock(s), &writable);
    FD_SET(Sock(s), &failed);
    int rc = ::select(0, nullptr, &writable, &failed, &tv);
    if (rc == SOCKET_ERROR)
        return Fail();
    return rc == 0 ? 0 : 1;
}

int SocketConnectResult(SocketHandle s)
{
    int error = 0;
    int len = sizeof(error);
    if (::getsockopt(Sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) == SOCKET_ERROR)
        return Fail();
    u_long off = 0;
    if (::ioctlsocket(Sock(s), FIONBIO, &off) == SOCKET_ERROR)
        return Fail();
    if (error != 0) {
        t_lastError = error;
        return -1;
    }
    return 0;
}

// No SIGPIPE exists here: a send to a closed peer just fails (10053/10054).
long SocketSend(SocketHandle s, const void* data, int length)
{
    int n = ::send(Sock(s), static_cast<const char*>(data), length, 0);
    return n == SOCKET_ERROR ? Fail() : static_cast<long>(n);
}

long SocketSendGather(SocketHandle s, const SendBuffer* buffers, int count)
{
    WSABUF pieces[kMaxSocketBuffers];
    if (!Gather(buffers, count, pieces))
        return -1;
    DWORD sent = 0;
    if (::WSASend(Sock(s), pieces, static_cast<DWORD>(count), &sent, 0, nullptr, nullptr) == SOCKET_ERROR)
        return Fail();
    return static_cast<long>(sent);
}

// Winsock has no per-call MSG_DONTWAIT: a receive that must not block asks
// first whether one would (readable also covers the peer's close and a
// reset, which the receive then reports).
long SocketRecvGather(SocketHandle s, const RecvBuffer* buffers, int count, bool noBlock)
{
    WSABUF pieces[kMaxSocketBuffers];
    if (!Gather(buffers, count, pieces))
        return -1;
    if (noBlock) {
        int ready = WaitFor(s, false, WaitLimit{0, 0});
        if (ready < 0)
            return -1;
        if (ready == 0) {
            t_lastError = WSAEWOULDBLOCK;
            return -1;
        }
    }
    DWORD received = 0;
    DWORD flags = 0;
    if (::WSARecv(Sock(s), pieces, static_cast<DWORD>(count), &received, &flags, nullptr, nullptr) == SOCKET_ERROR)
        return Fail();
    return static_cast<long>(received);
}

int SocketWaitReadable(SocketHandle s, WaitLimit limit) { return WaitFor(s, false, limit); }
int SocketWaitWritable(SocketHandle s, WaitLimit limit) { return WaitFor(s, true, limit); }

int SocketPendingBytes(SocketHandle s, unsigned long* count)
{
    u_long n = 0;
    if (::ioctlsocket(Sock(s), FIONREAD, &n) == SOCKET_ERROR)
        return Fail();
    *count = n;
    return 0;
}

void SocketClose(SocketHandle s)
{
    if (s != kInvalidSocket)
        ::closesocket(Sock(s));
}

int SocketEnds(SocketHandle s, SocketAddress* local, SocketAddress* peer)
{
    sockaddr_in sin[2];
    int len[2] = {sizeof(sin[0]), sizeof(sin[1])};
    if (::getsockname(Sock(s), reinterpret_cast<sockaddr*>(&sin[0]), &len[0]) != 0 ||
        ::getpeername(Sock(s), reinterpret_cast<sockaddr*>(&sin[1]), &len[1]) != 0)
        return Fail();
    static_assert(sizeof(SocketAddress) == sizeof(sockaddr_in), "the same layout");
    std::memcpy(local, &sin[0], sizeof(*local));
    std::memcpy(peer, &sin[1], sizeof(*peer));
    return 0;
}

std::uint32_t ParseIPv4(const char* text)
{
    in_addr in {};
    return ::inet_pton(AF_INET, text, &in) == 1 ? in.s_addr : 0xFFFFFFFFu;
}

// inet_ntoa's buffer is per thread but shared by every call on it.
std::string FormatIPv4(std::uint32_t address)
{
    const auto* b = reinterpret_cast<const unsigned char*>(&address);
    char text[16];
    std::snprintf(text, sizeof(text), "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

// getaddrinfo's result codes are Windows Sockets numbers already.
bool ResolveIPv4(const char* host, std::uint32_t* address)
{
    addrinfo hints;
    std::memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    int rc = ::getaddrinfo(host, nullptr, &hints, &result);
    if (rc != 0 || result == nullptr) {
        t_lastError = rc != 0 ? rc : WSAHOST_NOT_FOUND;
        return false;
    }
    *address = reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(result);
    return true;
}

std::uint16_t HostToNet16(std::uint16_t value) { return htons(value); }

} // namespace plat
