// The peer's side of a connection for the stream targets (POSIX only).
#pragma once

#include <cstddef>
#include <string>

#include "vexacomm/Types.h"

namespace fuzz {

// Inputs larger than this are ignored: they fit the socket buffers, so the
// single-threaded harnesses never block on a write.
constexpr std::size_t kMaxStreamInput = 64 * 1024;

// A connected AF_UNIX stream pair standing in for the peer. The library's
// end goes into a connection object; the harness writes the peer's bytes
// and reads what the library sent.
class BytePipe {
public:
    BytePipe();
    ~BytePipe();
    BytePipe(const BytePipe&) = delete;
    BytePipe& operator=(const BytePipe&) = delete;

    // Ownership passes to the connection object, which closes it.
    SocketHandle TakeLocal();
    // Queues all of `bytes` for the library without blocking.
    void Feed(const std::string& bytes);
    // The peer's orderly close of its sending side: the library reads end
    // of stream once the queued bytes are gone. Its own sends still work.
    void CloseFeed();
    bool FeedClosed() const { return m_feedClosed; }
    // Everything the library has sent so far.
    std::string Sent();

private:
    int m_local = -1;
    int m_peer = -1;
    bool m_feedClosed = false;
};

} // namespace fuzz
