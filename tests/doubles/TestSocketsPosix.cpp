#include "doubles/TestSockets.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

namespace testsock {

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
