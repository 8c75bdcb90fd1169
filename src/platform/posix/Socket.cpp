// POSIX sockets: blocking IPv4 TCP with poll() waits and errno translated.
#include "platform/Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include "platform/Clock.h"
#include "platform/posix/SocketErrors.h"

namespace plat {
namespace {

thread_local int t_lastError = 0;

int Fd(SocketHandle s) { return static_cast<int>(s); }

int Fail()
{
    t_lastError = WsaErrorFromErrno(errno);
    return -1;
}

// poll() instead of select(): a host with many descriptors open would
// overflow an fd_set, and the semantics (one wait, one socket) are the same.
int WaitFor(SocketHandle s, short events, WaitLimit limit)
{
    long long ms = static_cast<long long>(limit.tv_sec) * 1000 + limit.tv_usec / 1000;
    if (ms < 0)
        ms = 0;
    if (ms > 0x7FFFFFFF)
        ms = 0x7FFFFFFF;
    const std::int64_t deadline = MonotonicMs() + ms;
    pollfd pfd{Fd(s), events, 0};
    int rc;
    for (;;) {
        rc = ::poll(&pfd, 1, static_cast<int>(ms));
        if (rc >= 0 || errno != EINTR)
            break;
        // A host's signal handler ran: go on with what is left of the
        // limit, or a periodic signal would keep the wait going forever.
        ms = deadline - MonotonicMs();
        if (ms < 0)
            ms = 0;
    }
    if (rc < 0)
        return Fail();
    if (rc == 0)
        return 0;
    if (pfd.revents & POLLNVAL) {
        t_lastError = kWsaNotSocket;
        return -1;
    }
    // An error or hang-up condition counts as ready: the following call
    // reports what happened, as select() would.
    return 1;
}

// One message over the buffers, for sendmsg and recvmsg; `iov` has room
// for kMaxSocketBuffers.
template <typename Buffer>
bool Gather(const Buffer* buffers, int count, iovec* iov, msghdr* msg)
{
    if (count < 1 || count > kMaxSocketBuffers) {
        t_lastError = kWsaInvalidArgument;
        return false;
    }
    for (int i = 0; i < count; ++i) {
        iov[i].iov_base = const_cast<void*>(static_cast<const void*>(buffers[i].data));
        iov[i].iov_len = static_cast<size_t>(buffers[i].length);
    }
    std::memset(msg, 0, sizeof(*msg));
    msg->msg_iov = iov;
    msg->msg_iovlen = static_cast<size_t>(count);
    return true;
}

} // namespace

int SocketLastError() { return t_lastError; }

SocketHandle SocketOpenTcp()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        Fail();
        return kInvalidSocket;
    }
    return static_cast<SocketHandle>(fd);
}

int SocketConnectStart(SocketHandle s, const SocketAddress& addr)
{
    const int flags = ::fcntl(Fd(s), F_GETFL);
    if (flags < 0 || ::fcntl(Fd(s), F_SETFL, flags | O_NONBLOCK) < 0)
        return Fail();
    sockaddr_in sin;
    std::memcpy(&sin, &addr, sizeof(sin));
    sin.sin_family = AF_INET;
    if (::connect(Fd(s), reinterpret_cast<const sockaddr*>(&sin), sizeof(sin)) == 0) {
        ::fcntl(Fd(s), F_SETFL, flags);
        return 0;
    }
    // An interrupted connect goes on in the background: waiting completes
    // it, issuing it again would fail with EALREADY.
    if (errno == EINPROGRESS || errno == EINTR)
        return 1;
    return Fail();
}

int SocketWaitConnected(SocketHandle s, WaitLimit limit) { return WaitFor(s, POLLOUT, limit); }

int SocketConnectResult(SocketHandle s)
{
    int error = 0;
    socklen_t len = sizeof(error);
    if (::getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &error, &len) < 0)
        return Fail();
    const int flags = ::fcntl(Fd(s), F_GETFL);
    if (flags < 0 || ::fcntl(Fd(s), F_SETFL, flags & ~O_NONBLOCK) < 0)
        return Fail();
    if (error != 0) {
        t_lastError = WsaErrorFromErrno(error);
        return -1;
    }
    return 0;
}

long SocketSend(SocketHandle s, const void* data, int length)
{
    ssize_t n;
    do {
        n = ::send(Fd(s), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? Fail() : static_cast<long>(n);
}

long SocketSendGather(SocketHandle s, const SendBuffer* buffers, int count)
{
    iovec iov[kMaxSocketBuffers];
    msghdr msg;
    if (!Gather(buffers, count, iov, &msg))
        return -1;
    ssize_t n;
    do {
        n = ::sendmsg(Fd(s), &msg, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? Fail() : static_cast<long>(n);
}

long SocketRecvGather(SocketHandle s, const RecvBuffer* buffers, int count, bool noBlock)
{
    iovec iov[kMaxSocketBuffers];
    msghdr msg;
    if (!Gather(buffers, count, iov, &msg))
        return -1;
    ssize_t n;
    do {
        n = ::recvmsg(Fd(s), &msg, noBlock ? MSG_DONTWAIT : 0);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? Fail() : static_cast<long>(n);
}

int SocketWaitReadable(SocketHandle s, WaitLimit limit) { return WaitFor(s, POLLIN, limit); }
int SocketWaitWritable(SocketHandle s, WaitLimit limit) { return WaitFor(s, POLLOUT, limit); }

int SocketPendingBytes(SocketHandle s, unsigned long* count)
{
    int n = 0;
    if (::ioctl(Fd(s), FIONREAD, &n) < 0)
        return Fail();
    *count = static_cast<unsigned long>(n);
    return 0;
}

void SocketClose(SocketHandle s)
{
    if (s != kInvalidSocket)
        ::close(Fd(s));
}

int SocketEnds(SocketHandle s, SocketAddress* local, SocketAddress* peer)
{
    sockaddr_in sin[2];
    socklen_t len[2] = {sizeof(sin[0]), sizeof(sin[1])};
    if (::getsockname(Fd(s), reinterpret_cast<sockaddr*>(&sin[0]), &len[0]) != 0 ||
        ::getpeername(Fd(s), reinterpret_cast<sockaddr*>(&sin[1]), &len[1]) != 0)
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

std::string FormatIPv4(std::uint32_t address)
{
    char buf[INET_ADDRSTRLEN] = {};
    in_addr in;
    in.s_addr = address;
    ::inet_ntop(AF_INET, &in, buf, sizeof(buf));
    return buf;
}

bool ResolveIPv4(const char* host, std::uint32_t* address)
{
    addrinfo hints;
    std::memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    int rc = ::getaddrinfo(host, nullptr, &hints, &result);
    if (rc != 0 || result == nullptr) {
        t_lastError = WsaErrorFromResolver(rc == 0 ? EAI_NONAME : rc, errno);
        return false;
    }
    *address = reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(result);
    return true;
}

std::uint16_t HostToNet16(std::uint16_t value) { return htons(value); }

} // namespace plat
