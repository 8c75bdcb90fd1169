// The loopback link proxy: one thread moves every connection's bytes
// through timed queues, one per direction.
#include "doubles/LinkProxy.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kReadSize = 64 * 1024;
// A capped line serialises pieces of this size, so that a large read does
// not arrive as one late burst.
constexpr std::size_t kQuantum = 4096;
constexpr auto kLongestPoll = std::chrono::milliseconds(100);

bool ToAddress(const std::string& text, std::uint16_t port, sockaddr_in* sin)
{
    std::memset(sin, 0, sizeof(*sin));
    sin->sin_family = AF_INET;
    sin->sin_port = htons(port);
    return ::inet_pton(AF_INET, text.c_str(), &sin->sin_addr) == 1;
}

// Every small piece goes out as it is due: Nagle would hold it for the
// peer's (possibly delayed) acknowledgement and add its own latency. The
// kernel's receive stamps let a late read (a busy machine) not add to the
// line's delay.
void Tune(int fd)
{
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof(one));
}

// When the bytes just read reached the socket: the kernel's stamp, taken
// back to the steady clock, never later than `now` nor more than a second
// before it.
Clock::time_point Arrival(msghdr& msg, Clock::time_point now)
{
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS)
            continue;
        timespec ts;
        std::memcpy(&ts, CMSG_DATA(c), sizeof(ts));
        auto stamp = std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::seconds(ts.tv_sec) +
                                                                           std::chrono::nanoseconds(ts.tv_nsec)));
        auto age = std::chrono::system_clock::now() - stamp;
        if (age > std::chrono::seconds(1) || age < std::chrono::system_clock::duration::zero())
            return now;
        return std::min(now, Clock::now() - std::chrono::duration_cast<Clock::duration>(age));
    }
    return now;
}

bool Again(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

} // namespace

struct LinkProxy::Link {
    struct Piece {
        Clock::time_point due;
        std::string bytes;
        std::size_t sent = 0;
    };
    struct Direction {
        std::deque<Piece> queue;
        std::size_t queued = 0;
        Clock::time_point lineFree{};
        bool endRead = false; // the sender closed its side
        Clock::time_point endDue{};
        bool endSent = false;
        bool blocked = false; // the last send found the receiver's buffer full
        std::mt19937 random;
    };

    int client = -1;
    int server = -1;
    bool connecting = false;
    Clock::time_point connectDue;
    Direction up;   // client to server
    Direction down; // server to client
    bool broken = false;

    ~Link()
    {
        if (client >= 0)
            ::close(client);
        if (server >= 0)
            ::close(server);
    }
    bool Done() const { return broken || (up.endSent && down.endSent); }
    bool ServerReady() const { return server >= 0 && !connecting; }
};

LinkProxy::LinkProxy(LinkOptions options) : m_options(std::move(options))
{
    sockaddr_in sin;
    if (!ToAddress(m_options.listenAddress, m_options.listenPort, &sin)) {
        m_error = "not a dotted IPv4 address: " + m_options.listenAddress;
        return;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int one = 1;
    if (fd >= 0)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    socklen_t len = sizeof(sin);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&sin), len) != 0 || ::listen(fd, 256) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
        m_error = "cannot listen on " + m_options.listenAddress + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return;
    }
    m_listenFd = fd;
    m_port = ntohs(sin.sin_port);
    m_thread = std::thread(&LinkProxy::Run, this);
}

LinkProxy::~LinkProxy() { Stop(); }

void LinkProxy::Stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        m_listenFd = -1;
    }
}

void LinkProxy::Run()
{
    const LinkOptions& o = m_options;
    sockaddr_in target;
    const bool targetOk = ToAddress(o.targetAddress, o.targetPort, &target);
    std::vector<std::unique_ptr<Link>> links;
    std::vector<char> buffer(kReadSize);
    Clock::time_point lastActivity = Clock::now();

    // Stamps what arrived: on the line when it is free, off it one delay
    // after it has been sent.
    auto take = [&](int fd, Link::Direction& d, Clock::time_point now) {
        iovec iov{buffer.data(), buffer.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof(control);
        ssize_t n = ::recvmsg(fd, &msg, 0);
        if (n < 0)
            return Again(errno);
        if (n == 0) {
            d.endRead = true;
            d.endDue = std::max(now, d.lineFree) + o.delay;
            return true;
        }
        lastActivity = now;
        const Clock::time_point arrived = Arrival(msg, now);
        std::size_t size = static_cast<std::size_t>(n);
        std::size_t piece = o.bytesPerSecond != 0 ? kQuantum : size;
        for (std::size_t at = 0; at < size; at += piece) {
            std::size_t k = std::min(piece, size - at);
            Clock::time_point sent = std::max(arrived, d.lineFree);
            if (o.bytesPerSecond != 0)
                sent += std::chrono::microseconds(k * 1000000 / o.bytesPerSecond);
            d.lineFree = sent;
            d.queue.push_back(Link::Piece{sent + o.delay, std::string(buffer.data() + at, k)});
        }
        d.queued += size;
        return true;
    };

    // Sends what is due, in segments of the configured sizes.
    auto give = [&](int fd, Link::Direction& d, Clock::time_point now) {
        d.blocked = false;
        while (!d.queue.empty() && d.queue.front().due <= now) {
            Link::Piece& p = d.queue.front();
            std::size_t n = p.bytes.size() - p.sent;
            if (o.maxSegment != 0) {
                std::uniform_int_distribution<std::size_t> size(std::max<std::size_t>(o.minSegment, 1),
                                                                 std::max(o.minSegment, o.maxSegment));
                n = std::min(n, size(d.random));
            }
            ssize_t k = ::send(fd, p.bytes.data() + p.sent, n, MSG_NOSIGNAL);
            if (k < 0) {
                if (!Again(errno))
                    return false;
                d.blocked = errno != EINTR;
                return true;
            }
            lastActivity = now;
            p.sent += static_cast<std::size_t>(k);
            d.queued -= static_cast<std::size_t>(k);
            if (p.sent == p.bytes.size())
                d.queue.pop_front();
        }
        if (d.queue.empty() && d.endRead && !d.endSent && now >= d.endDue) {
            ::shutdown(fd, SHUT_WR);
            d.endSent = true;
        }
        return true;
    };

    std::vector<pollfd> fds;
    while (!m_stop) {
        Clock::time_point now = Clock::now();
        if (now - lastActivity > o.idleStop)
            break;
        Clock::time_point wake = now + kLongestPoll;
        auto until = [&wake](Clock::time_point t) { wake = std::min(wake, t); };

        for (auto& link : links) {
            Link& l = *link;
            if (l.server < 0 && !l.broken && now >= l.connectDue) {
                l.server = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
                if (l.server < 0 || !targetOk) {
                    l.broken = true;
                } else {
                    Tune(l.server);
                    int rc = ::connect(l.server, reinterpret_cast<sockaddr*>(&target), sizeof(target));
                    l.connecting = rc != 0 && errno == EINPROGRESS;
                    l.broken = rc != 0 && !l.connecting;
                }
            }
            if (!l.broken && l.ServerReady())
                l.broken = !give(l.server, l.up, now);
            if (!l.broken)
                l.broken = !give(l.client, l.down, now);
            if (l.server < 0)
                until(l.connectDue);
            for (Link::Direction* d : {&l.up, &l.down}) {
                if (d == &l.up && !l.ServerReady())
                    continue;
                if (!d->queue.empty() && !d->blocked)
                    until(d->queue.front().due);
                else if (d->queue.empty() && d->endRead && !d->endSent)
                    until(d->endDue);
            }
        }
        links.erase(std::remove_if(links.begin(), links.end(), [](const std::unique_ptr<Link>& l) { return l->Done(); }),
                    links.end());

        fds.assign(1, pollfd{m_listenFd, POLLIN, 0});
        for (auto& link : links) {
            Link& l = *link;
            short clientEvents = 0;
            short serverEvents = 0;
            if (!l.up.endRead && l.up.queued < kQueueLimit)
                clientEvents |= POLLIN;
            if (l.down.blocked)
                clientEvents |= POLLOUT;
            if (l.connecting || l.up.blocked)
                serverEvents |= POLLOUT;
            if (l.ServerReady() && !l.down.endRead && l.down.queued < kQueueLimit)
                serverEvents |= POLLIN;
            // A descriptor with nothing to wait for is left out: its hang-up
            // would wake the poll at once, again and again.
            fds.push_back(pollfd{clientEvents != 0 ? l.client : -1, clientEvents, 0});
            fds.push_back(pollfd{serverEvents != 0 ? l.server : -1, serverEvents, 0});
        }
        auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(wake - Clock::now());
        if (wait.count() < 0)
            wait = std::chrono::nanoseconds(0);
        timespec ts{static_cast<time_t>(wait.count() / 1000000000), static_cast<long>(wait.count() % 1000000000)};
        if (::ppoll(fds.data(), fds.size(), &ts, nullptr) < 0 && errno != EINTR)
            break;
        now = Clock::now();

        for (std::size_t i = 0; i < links.size(); ++i) {
            Link& l = *links[i];
            const short clientReady = fds[1 + 2 * i].revents;
            const short serverReady = fds[2 + 2 * i].revents;
            if (l.connecting && serverReady != 0) {
                int error = 0;
                socklen_t len = sizeof(error);
                ::getsockopt(l.server, SOL_SOCKET, SO_ERROR, &error, &len);
                l.connecting = false;
                l.broken = error != 0;
                continue;
            }
            // A hang-up also shows on a descriptor polled only for output.
            if (!l.broken && !l.up.endRead && (clientReady & (POLLIN | POLLHUP | POLLERR)) != 0)
                l.broken = !take(l.client, l.up, now);
            if (!l.broken && l.ServerReady() && !l.down.endRead && (serverReady & (POLLIN | POLLHUP | POLLERR)) != 0)
                l.broken = !take(l.server, l.down, now);
        }

        if ((fds[0].revents & POLLIN) != 0) {
            for (;;) {
                int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0)
                    break;
                Tune(fd);
                auto link = std::make_unique<Link>();
                link->client = fd;
                link->connectDue = now + o.delay;
                unsigned n = m_accepted++;
                link->up.random.seed(o.seed + 2 * n);
                link->down.random.seed(o.seed + 2 * n + 1);
                links.push_back(std::move(link));
                lastActivity = now;
            }
        }
    }
    links.clear();
}
