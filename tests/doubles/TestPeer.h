// A scripted TCP peer for wire-level tests.
//
// The peer listens on its own loopback address (127.x.y.z), accepts one
// client and runs a script on its own thread. The script talks to the client
// through the helpers below; every byte the client sends is recorded, so a
// test can compare what went over the wire byte for byte.
//
// Bounds: every wait in the peer (accept, read, close) ends after Timeout();
// a wait that runs out is reported as a test failure where the script
// expected something. After the script the peer keeps recording until the
// client closes its side (or the time-out passes), then ends by itself. The
// destructor joins the thread, so declare the peer before the client object
// that connects to it: the client is destroyed first and its close lets the
// peer finish at once.
//
// Lifetime: the script may capture test locals by reference; they must
// outlive the peer (or Join()).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "vexacomm/Protocol.h"

// Packet bytes as they travel; payloads are byte strings (std::string).
namespace wire {
std::string U16(std::uint16_t value);
std::string U32(std::uint32_t value);
std::string Bare(std::uint32_t command, const std::string& payload);
std::string Enveloped(std::uint32_t command, const std::string& payload);
std::string Packet(std::uint32_t command, const std::string& payload, bool envelope);
// CMD_REPLY payload with a code: code, reserved zero word, text and its zero.
std::string ReplyPayload(std::uint32_t code, const std::string& text = std::string());
// "01 00 ff": readable comparisons and failure messages.
std::string Hex(const std::string& bytes);
// The reverse: "01 00 ff" (spaces optional) to bytes.
std::string FromHex(const std::string& hex);
} // namespace wire

// One packet as the peer read it.
struct PeerPacket {
    bool complete = false;      // header, payload and any trailer arrived
    bool enveloped = false;
    bool envelopeValid = false; // both tail words and the checksum were right
    std::uint32_t command = 0;
    std::uint32_t length = 0;
    std::string payload;

    std::uint16_t U16(std::size_t offset = 0) const;
    std::uint32_t U32(std::size_t offset = 0) const;
};

// The answering side of the connect sequence as ServeSetup plays it.
struct SetupAnswers {
    std::string greeting = wire::Bare(CMD_REPLY, std::string());
    bool envelope = false;                              // turn the client's envelope on
    std::uint16_t packetSize = 16376;
    std::uint16_t ackMode = 0;
};

class TestPeer {
public:
    using Script = std::function<void(TestPeer&)>;

    // Listens on address:port at once (port 0: any free port), so a client
    // may connect as soon as this returns; the script runs once the first
    // client has been accepted. A failure to listen is a test failure.
    TestPeer(const std::string& address, std::uint16_t port, Script script,
             std::chrono::milliseconds timeout = std::chrono::seconds(5));
    ~TestPeer();
    TestPeer(const TestPeer&) = delete;
    TestPeer& operator=(const TestPeer&) = delete;

    const std::string& Address() const { return m_address; }
    std::uint16_t Port() const { return m_port; }
    bool Listening() const { return m_listenFd >= 0; }

    // Waits until the peer has ended. Safe to call more than once.
    void Join();
    // Every byte received from clients so far, in arrival order, across
    // all accepted connections.
    std::string Received() const;

    // ---- For the script, on the peer's thread. ----
    std::chrono::milliseconds Timeout() const { return m_timeout; }

    // Exactly n bytes from the client; fewer, with a test failure, when the
    // client closes or the time-out passes first.
    std::string ExpectBytes(std::size_t n);
    // Whatever the next read brings (at least one byte): what the client
    // sent in one go. Nothing, with a test failure, on time-out or close.
    std::string ExpectSome();
    // One packet, bare or enveloped; a short packet is a test failure.
    PeerPacket ExpectPacket();
    // One packet within `wait`, or an incomplete one (complete false) when
    // the client sends none, closes or runs out of time: no test failure,
    // for scripts whose client may legitimately fall silent.
    PeerPacket NextPacket(std::chrono::milliseconds wait);
    // Records until the client closes its side; false on time-out.
    bool WaitForClose();

    void Send(const std::string& bytes);
    void SendPacket(std::uint32_t command, const std::string& payload, bool envelope = false);
    // Sends the first n bytes of `bytes`, then closes the line.
    void CutAfter(const std::string& bytes, std::size_t n);
    // Orderly close of the sending side (the client reads end of stream);
    // incoming bytes are still recorded.
    void Close();
    // Abortive close: the client sees the connection reset.
    void Reset();
    // Drops the current connection and accepts the next client.
    bool AcceptNext();
    // Greeting, probe answer, packet size and acknowledgement mode.
    void ServeSetup(const SetupAnswers& answers = SetupAnswers());

private:
    void Run(Script script);
    bool Accept();
    bool ReadMore(std::chrono::steady_clock::time_point deadline);
    std::size_t Unread() const;
    std::string Take(std::size_t n);
    std::string ReadBytes(std::size_t n, std::chrono::steady_clock::time_point deadline);
    PeerPacket ReadPacket(std::chrono::steady_clock::time_point deadline, bool report);
    void CloseConnection();

    std::string m_address;
    std::uint16_t m_port = 0;
    std::chrono::milliseconds m_timeout;
    // Descriptors, or on Windows SOCKET handles (INVALID_SOCKET is -1 too).
    std::intptr_t m_listenFd = -1;
    std::intptr_t m_connFd = -1;
    bool m_peerClosed = false;

    mutable std::mutex m_mutex;
    std::string m_received;   // guarded by m_mutex
    std::size_t m_cursor = 0; // peer thread only: bytes the script has taken

    std::thread m_thread;
};
