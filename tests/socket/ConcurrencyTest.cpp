// Exchanges from several threads on one connection are served one at a time.
#include <thread>

#include "socket/SocketTestSupport.h"
#include "doubles/Exposed.h"

namespace {

TEST(Concurrency, ExchangesFromTwoThreadsAreSerialised)
{
    constexpr int kRounds = 200;
    TestPeer peer("127.3.6.1", 0, [](TestPeer& p) {
        // Echoes every request, so each requester must get its own value back.
        for (int i = 0; i < 2 * kRounds; ++i) {
            PeerPacket request = p.ExpectPacket();
            if (!request.complete)
                return;
            p.SendPacket(request.command, request.payload);
        }
    });
    Exposed<CGLSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    sock.m_tvTimeout = {5, 0};

    auto requester = [&sock](std::uint16_t base, int* mismatches) {
        for (int i = 0; i < kRounds; ++i) {
            std::uint16_t value = static_cast<std::uint16_t>(base + i);
            std::uint16_t asked = value;
            if (!sock.NegotiatePacketSize(value) || value != asked)
                ++*mismatches;
        }
    };
    int mismatchesA = 0;
    int mismatchesB = 0;
    std::thread a(requester, std::uint16_t(1000), &mismatchesA);
    std::thread b(requester, std::uint16_t(9000), &mismatchesB);
    a.join();
    b.join();
    EXPECT_EQ(mismatchesA, 0);
    EXPECT_EQ(mismatchesB, 0);
    EXPECT_EQ(sock.m_nBytesSent, 2u * kRounds * 10u);
    EXPECT_EQ(sock.m_nBytesReceived, 2u * kRounds * 10u);
}

} // namespace
