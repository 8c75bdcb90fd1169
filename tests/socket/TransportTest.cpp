// Byte transport: exact counts over partial sends and receives, time-outs,
// a peer that goes away, draining stale input and the connect path.
#include <chrono>
#include <cstring>
#include <thread>

#ifdef _WIN32
#include "platform/win32/WinApi.h"
#else
#include <fcntl.h>
#include <sys/socket.h>
#endif

#include "vexacomm/Event.h"
#include <ostream>

#include "socket/SocketTestSupport.h"
#include "doubles/TestFs.h"
#include "doubles/Exposed.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Pattern(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
    return s;
}

void MakeNonBlocking(SocketHandle s)
{
#ifdef _WIN32
    u_long on = 1;
    ::ioctlsocket(static_cast<SOCKET>(s), FIONBIO, &on);
#else
    int fd = static_cast<int>(s);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
#endif
}

void SetSendBuffer(SocketHandle s, int bytes)
{
#ifdef _WIN32
    ::setsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes),
                 sizeof(bytes));
#else
    ::setsockopt(static_cast<int>(s), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof(bytes));
#endif
}

unsigned long Pending(const Exposed<CPacketSocket>& sock)
{
    unsigned long n = 0;
    EXPECT_EQ(plat::SocketPendingBytes(sock.m_hSocket, &n), 0);
    return n;
}

// Waits until `n` bytes are waiting on the socket (bounded).
bool WaitPending(const Exposed<CPacketSocket>& sock, unsigned long n)
{
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        if (Pending(sock) >= n)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

TEST(Transport, SendAllCompletesAcrossPartialAndWouldBlockSends)
{
    // A non-blocking socket with a small send buffer makes the kernel take
    // the data piece by piece: with the wait flag each piece follows a wait
    // for writability, without it the would-block pause and retry.
    const std::string waited = Pattern(1 << 20);
    const std::string unwaited = Pattern(192 * 1024);
    std::string got;
    TestPeer peer("127.3.1.1", 0,
                  [&](TestPeer& p) { got = p.ExpectBytes(waited.size() + unwaited.size()); });
    Exposed<CPacketSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    MakeNonBlocking(sock.m_hSocket);
    SetSendBuffer(sock.m_hSocket, 16 * 1024);

    EXPECT_TRUE(sock.SendAll(waited.data(), static_cast<std::int32_t>(waited.size()), TRUE));
    EXPECT_TRUE(sock.SendAll(unwaited.data(), static_cast<std::int32_t>(unwaited.size()), FALSE));
    EXPECT_EQ(sock.m_nLastError, 0);
    EXPECT_EQ(sock.m_nBytesSent, waited.size() + unwaited.size());
    EXPECT_NE(sock.m_tLastSend, 0);
    sock.Close();
    peer.Join();
    EXPECT_TRUE(got == waited + unwaited);
}

TEST(Transport, ReceiveAllCollectsPiecesInOrder)
{
    const std::string data = Pattern(3000);
    TestPeer peer("127.3.1.2", 0, [&](TestPeer& p) {
        // Paced so that the data arrives in several pieces; the result must
        // not depend on how it is split.
        for (std::size_t at = 0; at < data.size(); at += 700) {
            p.Send(data.substr(at, 700));
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
        }
        p.Send(data);
    });
    Exposed<CPacketSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));

    std::string buf(data.size(), 'x');
    EXPECT_TRUE(sock.ReceiveAll(&buf[0], static_cast<std::int32_t>(buf.size()), TRUE));
    EXPECT_TRUE(buf == data);
    // Without the wait the non-blocking socket reports would-block until
    // the data is there.
    MakeNonBlocking(sock.m_hSocket);
    std::string again(data.size(), 'x');
    EXPECT_TRUE(sock.ReceiveAll(&again[0], static_cast<std::int32_t>(again.size()), FALSE));
    EXPECT_TRUE(again == data);
    EXPECT_EQ(sock.m_nBytesReceived, 2 * data.size());
    EXPECT_NE(sock.m_tLastReceive, 0);
    EXPECT_EQ(sock.m_nLastError, 0);
}

class PeerClosesMidPacket : public ::testing::TestWithParam<BOOL> {};

TEST_P(PeerClosesMidPacket, ReceivedBytesThenZerosAndTheSocketClosed)
{
    const BOOL wait = GetParam();
    TestPeer peer(wait ? "127.3.1.3" : "127.3.1.4", 0,
                  [](TestPeer& p) { p.CutAfter("hello, world", 5); });
    Exposed<CPacketSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    sock.m_bConnected = TRUE;

    char buf[12];
    std::memset(buf, 0xAA, sizeof(buf));
    EXPECT_FALSE(sock.ReceiveAll(buf, sizeof(buf), wait));
    EXPECT_EQ(sock.m_nLastError, COMM_ERR_PEER_CLOSED);
    EXPECT_EQ(sock.m_hSocket, kInvalidSocket);
    EXPECT_FALSE(sock.m_bConnected);
    EXPECT_EQ(std::string(buf, sizeof(buf)), std::string("hello") + std::string(7, '\0'));
    EXPECT_EQ(sock.m_nBytesReceived, 5u);
    // Closed now: further calls fail at once without an error of their own.
    sock.m_nLastError = 4242;
    EXPECT_FALSE(sock.ReceiveAll(buf, 1, wait));
    EXPECT_FALSE(sock.SendAll("x", 1, wait));
    EXPECT_EQ(sock.m_nLastError, 4242);
}

INSTANTIATE_TEST_SUITE_P(WaitFlag, PeerClosesMidPacket, ::testing::Values(TRUE, FALSE));

TEST(Transport, SilentPeerTimesOutAndTheConnectionStaysOpen)
{
    CEvent timedOut(false);
    TestPeer peer("127.3.1.5", 0, [&](TestPeer& p) {
        if (timedOut.Lock(5000))
            p.Send("later");
    });
    Exposed<CPacketSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));

    char buf[5];
    auto start = Clock::now();
    EXPECT_FALSE(sock.ReceiveAll(buf, sizeof(buf), TRUE));
    auto elapsed = Clock::now() - start;
    EXPECT_EQ(sock.m_nLastError, 10060);
    EXPECT_NE(sock.m_hSocket, kInvalidSocket);
    EXPECT_GE(elapsed, std::chrono::milliseconds(190));
    EXPECT_LT(elapsed, std::chrono::seconds(3));

    timedOut.SetEvent();
    EXPECT_TRUE(sock.ReceiveAll(buf, sizeof(buf), TRUE));
    EXPECT_EQ(std::string(buf, sizeof(buf)), "later");
    EXPECT_EQ(sock.m_nLastError, 0);
}

struct ResetCase {
    const char* address;
    BOOL wait;
    std::int32_t error;

    // Names the case in test listings instead of dumping its bytes.
    friend void PrintTo(const ResetCase& c, std::ostream* os) { *os << c.address; }
};

class ResetByPeer : public ::testing::TestWithParam<ResetCase> {};

// With the wait or without it, the receive reports the reset itself.
TEST_P(ResetByPeer, CountsAsLost)
{
    if (UnderWine())
        GTEST_SKIP() << "wine reports a peer's abortive close to a receive as an orderly one (0), "
                        "not as a reset (10054)";
    TestPeer peer(GetParam().address, 0, [](TestPeer& p) { p.Reset(); });
    Exposed<CPacketSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    sock.m_bConnected = TRUE;
    peer.Join();

    char buf[4];
    EXPECT_FALSE(sock.ReceiveAll(buf, sizeof(buf), GetParam().wait));
    EXPECT_EQ(sock.m_nLastError, GetParam().error);
    EXPECT_EQ(sock.m_hSocket, kInvalidSocket);
    EXPECT_FALSE(sock.m_bConnected);
}

INSTANTIATE_TEST_SUITE_P(Transport, ResetByPeer,
                         ::testing::Values(ResetCase{"127.3.1.6", TRUE, 10054},
                                           ResetCase{"127.3.1.15", FALSE, 10054}));

TEST(Transport, WaitReadableAfterThePeersCloseClosesToo)
{
    TestPeer peer("127.3.1.16", 0, [](TestPeer& p) { p.Close(); });
    Exposed<CPacketSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    sock.m_nLastError = 4242;
    EXPECT_FALSE(sock.WaitReadable(kShortWait));
    EXPECT_EQ(sock.m_nLastError, COMM_ERR_PEER_CLOSED);
    EXPECT_EQ(sock.m_hSocket, kInvalidSocket);
}

TEST(Transport, SendingToAPeerThatHasGoneCountsAsLost)
{
    // A peer that reset the connection, and one that closed it in order.
    for (bool reset : {true, false}) {
        TestPeer peer("127.3.1.7", 0, [reset](TestPeer& p) { reset ? p.Reset() : p.Close(); });
        Exposed<CPacketSocket> sock;
        ASSERT_TRUE(AttachRaw(sock, peer));
        peer.Join();
        // A write may still be accepted locally until the reset has been
        // processed; after that every write fails.
        auto deadline = Clock::now() + std::chrono::seconds(5);
        while (sock.m_hSocket != kInvalidSocket && Clock::now() < deadline)
            sock.SendAll("z", 1, TRUE);
        EXPECT_EQ(sock.m_hSocket, kInvalidSocket) << reset;
        EXPECT_TRUE(sock.m_nLastError == 10053 || sock.m_nLastError == 10054) << sock.m_nLastError;
    }
}

TEST(Transport, DrainInputDiscardsWhatIsWaitingAndNoMore)
{
    CEvent emptyDrained(false);
    CEvent drained(false);
    const std::string marker = wire::Bare(CMD_STATUS, wire::U32(5));
    TestPeer peer("127.3.1.9", 0, [&](TestPeer& p) {
        if (emptyDrained.Lock(5000))
            p.Send(Pattern(1300));
        if (drained.Lock(5000))
            p.Send(marker);
    });
    Exposed<CPacketSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));

    sock.m_nLastError = 4242;
    sock.DrainInput();
    EXPECT_EQ(sock.m_nLastError, 4242) << "nothing was waiting, so nothing was read";
    EXPECT_EQ(sock.m_nBytesReceived, 0u);

    emptyDrained.SetEvent();
    ASSERT_TRUE(WaitPending(sock, 1300));
    sock.DrainInput();
    // 512 + 512 + 276: a larger piece would have waited for bytes that do
    // not come and ended in a time-out.
    EXPECT_EQ(sock.m_nBytesReceived, 1300u);
    EXPECT_EQ(Pending(sock), 0u);
    EXPECT_EQ(sock.m_nLastError, 0);

    drained.SetEvent();
    char buf[12];
    ASSERT_TRUE(sock.ReceiveAll(buf, sizeof(buf), TRUE));
    EXPECT_EQ(std::string(buf, sizeof(buf)), marker);
}

TEST(Transport, ArgumentChecks)
{
    Exposed<CPacketSocket> closed;
    closed.m_nLastError = 4242;
    char buf[4] = {};
    EXPECT_FALSE(closed.SendAll(buf, 0, TRUE));
    EXPECT_FALSE(closed.SendAll(buf, 4, TRUE));
    EXPECT_FALSE(closed.ReceiveAll(buf, 4, TRUE));
    EXPECT_EQ(closed.m_nLastError, 4242);

    TestPeer peer("127.3.1.10", 0, [](TestPeer&) {});
    Exposed<CPacketSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    sock.m_nLastError = 4242;
    EXPECT_TRUE(sock.SendAll(nullptr, 0, TRUE));
    EXPECT_FALSE(sock.SendAll(nullptr, 4, TRUE));
    EXPECT_FALSE(sock.ReceiveAll(nullptr, 4, TRUE));
    EXPECT_EQ(sock.m_nLastError, 4242);
    EXPECT_EQ(sock.m_nBytesSent, 0u);
}

TEST(Transport, RefusedConnectClosesTheObject)
{
    TestPeer old("127.3.1.11", 0, [](TestPeer& p) { EXPECT_TRUE(p.WaitForClose()); });
    Exposed<CPacketSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, old));
    sock.m_bConnected = TRUE;
    sock.m_nBytesSent = 99;

    // Nothing listens on this address.
    EXPECT_FALSE(sock.ConnectHost("127.3.1.12", DEVICE_PORT));
    EXPECT_EQ(sock.m_nLastError, 10061);
    EXPECT_EQ(sock.m_hSocket, kInvalidSocket);
    EXPECT_FALSE(sock.m_bConnected);
    EXPECT_EQ(sock.m_nBytesSent, 0u);
    EXPECT_EQ(sock.m_addr.address, plat::ParseIPv4("127.3.1.12"));
    EXPECT_EQ(sock.m_addr.port, plat::HostToNet16(DEVICE_PORT));
    EXPECT_EQ(sock.m_addr.family, 2);
    old.Join();
}

TEST(Transport, SecondConnectClosesTheOldSocketAndResetsTheCounters)
{
    bool firstClosed = false;
    TestPeer peer("127.3.1.13", DEVICE_PORT, [&](TestPeer& p) {
        p.ServeSetup();
        p.Send("stale");
        firstClosed = p.WaitForClose();
        if (p.AcceptNext())
            p.ServeSetup();
    });
    Exposed<CPacketSocket> sock;
    sock.m_tvTimeout = kShortWait;
    ASSERT_TRUE(sock.ConnectHost("127.3.1.13", DEVICE_PORT));
    char stale[5];
    ASSERT_TRUE(sock.ReceiveAll(stale, sizeof(stale), TRUE));

    EXPECT_TRUE(sock.ConnectSockAddr(&sock.m_addr));
    EXPECT_TRUE(sock.m_bConnected);
    EXPECT_NE(sock.m_hSocket, kInvalidSocket);
    // Greeting 8, probe answer 8, two answers of 10; probe 8, two requests of 10.
    EXPECT_EQ(sock.m_nBytesReceived, 36u);
    EXPECT_EQ(sock.m_nBytesSent, 28u);
    sock.Close();
    peer.Join();
    EXPECT_TRUE(firstClosed);
}

TEST(Transport, ConnectSockAddrWithoutAnAddressOnlyCloses)
{
    TestPeer peer("127.3.1.14", 0, [](TestPeer& p) { EXPECT_TRUE(p.WaitForClose()); });
    Exposed<CPacketSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    sock.m_nBytesReceived = 7;
    sock.m_tLastSend = 1;
    sock.m_nLastError = 4242;
    EXPECT_FALSE(sock.ConnectSockAddr(nullptr));
    EXPECT_EQ(sock.m_hSocket, kInvalidSocket);
    EXPECT_EQ(sock.m_nBytesReceived, 0u);
    EXPECT_EQ(sock.m_tLastSend, 0);
    EXPECT_EQ(sock.m_nLastError, 4242);
    peer.Join();
}

TEST(Transport, LocalhostIsResolved)
{
    TestPeer peer("127.0.0.1", 0, [](TestPeer& p) { p.ServeSetup(); });
    Exposed<CPacketSocket> sock;
    sock.m_tvTimeout = kShortWait;
    EXPECT_TRUE(sock.ConnectHost("localhost", peer.Port()));
    EXPECT_TRUE(sock.m_bConnected);
    EXPECT_EQ(sock.m_addr.address, plat::ParseIPv4("127.0.0.1"));
    sock.Close();
}

TEST(Transport, UnknownHostNameIsReported)
{
    Exposed<CPacketSocket> sock;
    EXPECT_FALSE(sock.ConnectHost("no-such-host.invalid", DEVICE_PORT));
    EXPECT_EQ(sock.m_nLastError, 11001);
    EXPECT_EQ(sock.m_hSocket, kInvalidSocket);
}

} // namespace
