#include "doubles/TestSockets.h"

#include <cstring>

#include "platform/win32/WinApi.h"

namespace testsock {
namespace {
SOCKET Sock(SocketHandle s) { return static_cast<SOCKET>(s); }
} // namespace

int Connect(SocketHandle s, const SocketAddress& addr)
{
    sockaddr_in sin;
    static_assert(sizeof(sin) == sizeof(addr), "sockaddr_in layout");
    std::memcpy(&sin, &addr, sizeof(sin));
    sin.sin_family = AF_INET;
    return ::connect(Sock(s), reinterpret_cast<const sockaddr*>(&sin), sizeof(sin)) == SOCKET_ERROR ? -1 : 0;
}

} // namespace testsock
