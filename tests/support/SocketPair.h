// A connected pair of stream sockets for tests that need an open socket but
// no address: one end goes into a connection object, the test holds the other.
#pragma once

#include <string>

#include "platform/Types.h"

class SocketPair {
public:
    SocketPair();
    ~SocketPair();

    // The end for the object under test; ownership passes to whoever takes it.
    SocketHandle TakeLocal();
    int peer() const { return m_peer; }

    // Reads exactly n bytes from the peer end (empty on EOF or timeout).
    std::string ReadPeer(std::size_t n, int timeoutMs = 2000);
    // Bytes currently waiting at the peer end.
    std::size_t PeerPending() const;
    void WritePeer(const std::string& bytes);
    void ClosePeer();

private:
    int m_local = -1;
    int m_peer = -1;
};
