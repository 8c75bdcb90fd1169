// A connected pair of stream sockets for tests that need an open socket but
// no address of their own: one end goes into a connection object, the test
// holds the other.
#pragma once

#include <string>

#include "vexacomm/Types.h"

class SocketPair {
public:
    SocketPair();
    ~SocketPair();

    // The end for the object under test; ownership passes to whoever takes it.
    SocketHandle TakeLocal();

    // Reads exactly n bytes from the peer end (empty on EOF or timeout).
    std::string ReadPeer(std::size_t n, int timeoutMs = 2000);
    // Bytes currently waiting at the peer end.
    std::size_t PeerPending() const;
    void WritePeer(const std::string& bytes);
    void ClosePeer();

private:
#ifdef _WIN32
    // Windows has no socketpair: the two ends of a loopback TCP connection.
    SocketHandle m_local = kInvalidSocket;
    SocketHandle m_peer = kInvalidSocket;
#else
    int m_local = -1;
    int m_peer = -1;
#endif
};
