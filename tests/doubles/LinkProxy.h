// A network link between a client and a server on loopback: a proxy on its
// own 127.x.y.z that connects each accepted client through to a target and
// forwards both directions with a one-way delay, a bandwidth cap and
// splitting into segments of random sizes. For tests and benchmarks that
// need a slow or fragmenting line; POSIX only.
//
// Timing follows a real link rather than a delay per read: each piece read
// is stamped with the kernel's arrival time, waits for the line to be free
// (bandwidth), and is released one delay after it has been put on the
// line. The far end sees a new connection one delay after the client made
// it, so the server's greeting reaches the client one round trip after the
// connect, as on a wire. End of stream travels the same way.
//
// Bounds: the forwarding thread looks at its stop flag at least every
// 100 ms; the proxy stops by itself after `idleStop` without a connection
// or a byte moved, and at destruction. Each direction holds at most
// kQueueLimit bytes in flight before it stops reading (the sender then
// sees the back pressure a full line gives).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

struct LinkOptions {
    std::string listenAddress = "127.0.0.1"; // the proxy's own address
    std::uint16_t listenPort = 0;            // 0: any free port
    std::string targetAddress = "127.0.0.1";
    std::uint16_t targetPort = 0;
    std::chrono::microseconds delay{0}; // one way, each direction
    std::uint64_t bytesPerSecond = 0;   // each direction; 0: no cap
    // Each send() carries a random number of bytes in [minSegment,
    // maxSegment] (fewer at the end of what is due); 0: as read.
    std::size_t minSegment = 0;
    std::size_t maxSegment = 0;
    std::uint32_t seed = 1;
    std::chrono::milliseconds idleStop{60000};
};

class LinkProxy {
public:
    static constexpr std::size_t kQueueLimit = 8u << 20;

    // Listens at once, so a client may connect as soon as this returns.
    explicit LinkProxy(LinkOptions options);
    ~LinkProxy();
    LinkProxy(const LinkProxy&) = delete;
    LinkProxy& operator=(const LinkProxy&) = delete;

    bool Listening() const { return m_listenFd >= 0; }
    const std::string& Error() const { return m_error; }
    const std::string& Address() const { return m_options.listenAddress; }
    std::uint16_t Port() const { return m_port; }
    unsigned Accepted() const { return m_accepted.load(); }
    // Closes every connection and the listener; waits for the thread.
    void Stop();

private:
    struct Link;
    void Run();

    LinkOptions m_options;
    int m_listenFd = -1;
    std::uint16_t m_port = 0;
    std::string m_error;
    std::atomic<bool> m_stop{false};
    std::atomic<unsigned> m_accepted{0};
    std::thread m_thread;
};
