// Packet framing: bare packets, the checksummed envelope, the length limit
// and the rule that a connection answers in its peer's framing.
#include <cstring>
#include <vector>

#include <ostream>

#include "socket/SocketTestSupport.h"
#include "vexacomm/ByteSum.h"
#include "doubles/Exposed.h"

namespace {

const char kEmptyReplyHex[] = "01 00 00 00 00 00 00 00";
const char kEnvelopedEmptyReplyHex[] =
    "92 76 33 76 92 76 33 76 01 00 00 00 00 00 00 00 01 00 00 00 33 76 92 76 33 76 92 76";
const char kEnvelopedSizeQueryHex[] = "92 76 33 76 92 76 33 76 03 00 00 00 02 00 00 00 ff ff "
                                      "03 02 00 00 33 76 92 76 33 76 92 76";

// A peer that only records what the client sends.
void RecordOnly(TestPeer&) {}

void FillPacket(Exposed<CPacketSocket>& sock, std::uint32_t command, const std::string& payload)
{
    sock.SetHeader(command, static_cast<std::uint32_t>(payload.size()));
    std::memcpy(sock.Payload(), payload.data(), payload.size());
}

std::string Pattern(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    return s;
}

TEST(Framing, ChecksumIsThePlainByteSum)
{
    std::vector<std::uint8_t> bytes(PACKET_BUFFER_SIZE + 8);
    std::uint32_t seed = 12345;
    for (std::uint8_t& b : bytes) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(seed >> 16);
    }
    auto plain = [](const std::uint8_t* p, std::size_t n) {
        std::uint32_t sum = 0;
        for (std::size_t i = 0; i < n; ++i)
            sum += p[i];
        return sum;
    };
    for (std::size_t offset = 0; offset < 8; ++offset) {
        for (std::size_t n : {0, 1, 7, 8, 9, 63, 64, 65, 127, 1023, 1024, 1025, 1031, 16384})
            EXPECT_EQ(ByteSum(bytes.data() + offset, n), plain(bytes.data() + offset, n))
                << "offset " << offset << " length " << n;
    }
    std::vector<std::uint8_t> ones(PACKET_BUFFER_SIZE, 0xFF);
    EXPECT_EQ(ByteSum(ones.data(), ones.size()), 4177920u);
}

TEST(Framing, SendsTheWorkedExamples)
{
    TestPeer peer("127.3.2.1", 0, RecordOnly);
    Exposed<CPacketSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));

    FillPacket(sock, CMD_REPLY, "");
    EXPECT_TRUE(sock.SendPacket(sock.m_packet, TRUE));
    sock.m_bPeerEnvelope = TRUE;
    EXPECT_TRUE(sock.SendPacket(sock.m_packet, TRUE));
    FillPacket(sock, CMD_PACKET_SIZE, wire::U16(0xFFFF));
    EXPECT_TRUE(sock.SendPacket(sock.m_packet, TRUE));
    sock.Close();
    peer.Join();

    EXPECT_EQ(wire::Hex(peer.Received()), std::string(kEmptyReplyHex) + " " +
                                              kEnvelopedEmptyReplyHex + " " +
                                              kEnvelopedSizeQueryHex);
    EXPECT_EQ(sock.m_nBytesSent, 8u + 28u + 30u);
}

TEST(Framing, EnvelopeLeavesInOneWrite)
{
    // Written piecewise, the rest of an envelope would wait for the peer's
    // delayed acknowledgement of the head once the connection has settled
    // into request and answer.
    std::vector<std::string> firstReads;
    TestPeer peer("127.3.2.11", 0, [&](TestPeer& p) {
        for (int i = 0; i < 6; ++i) {
            p.SendPacket(CMD_STATUS, wire::U32(i), true);
            firstReads.push_back(p.ExpectSome());
        }
    });
    Exposed<CPacketSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(sock.ReceivePacket(sock.m_packet, TRUE));
        FillPacket(sock, CMD_REPLY, "");
        ASSERT_TRUE(sock.SendPacket(sock.m_packet, TRUE));
    }
    sock.Close();
    peer.Join();
    for (const std::string& first : firstReads)
        EXPECT_EQ(wire::Hex(first), kEnvelopedEmptyReplyHex);
}

TEST(Framing, ReceivesTheWorkedExamples)
{
    TestPeer peer("127.3.2.2", 0, [](TestPeer& p) {
        p.Send(wire::FromHex(kEnvelopedEmptyReplyHex));
        p.Send(wire::FromHex(kEmptyReplyHex));
        p.Send(wire::FromHex(kEnvelopedSizeQueryHex));
    });
    Exposed<CPacketSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));

    ASSERT_TRUE(sock.ReceivePacket(sock.m_packet, TRUE));
    EXPECT_EQ(sock.Header().command, CMD_REPLY);
    EXPECT_EQ(sock.Header().length, 0u);
    EXPECT_EQ(ReadU32(sock.Payload()), 0u);
    EXPECT_TRUE(sock.m_bPeerEnvelope);

    ASSERT_TRUE(sock.ReceivePacket(sock.m_packet, TRUE));
    EXPECT_EQ(sock.Header().command, CMD_REPLY);
    EXPECT_EQ(sock.Header().length, 0u);
    EXPECT_FALSE(sock.m_bPeerEnvelope);

    ASSERT_TRUE(sock.ReceivePacket(sock.m_packet, TRUE));
    EXPECT_EQ(sock.Header().command, CMD_PACKET_SIZE);
    EXPECT_EQ(sock.Header().length, 2u);
    EXPECT_EQ(ReadU16(sock.Payload()), 0xFFFF);
    EXPECT_TRUE(sock.m_bPeerEnvelope);
    EXPECT_EQ(sock.m_nLastError, 0);
}

TEST(Framing, LargestPayloadTravelsBothWaysInBothFramings)
{
    const std::string payload = Pattern(PACKET_PAYLOAD_MAX);
    std::string echoedBare;
    std::string echoedEnveloped;
    TestPeer peer("127.3.2.3", 0, [&](TestPeer& p) {
        PeerPacket bare = p.ExpectPacket();
        EXPECT_TRUE(bare.complete);
        EXPECT_FALSE(bare.enveloped);
        echoedBare = bare.payload;
        p.SendPacket(CMD_ASDU10, payload, true);
        PeerPacket enveloped = p.ExpectPacket();
        EXPECT_TRUE(enveloped.enveloped);
        EXPECT_TRUE(enveloped.envelopeValid);
        echoedEnveloped = enveloped.payload;
    });
    Exposed<CPacketSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));

    FillPacket(sock, CMD_ASDU10, payload);
    ASSERT_TRUE(sock.SendPacket(sock.m_packet, TRUE));
    ASSERT_TRUE(sock.ReceivePacket(sock.m_packet, TRUE));
    EXPECT_EQ(sock.Header().length, PACKET_PAYLOAD_MAX);
    EXPECT_TRUE(PayloadBytes(sock, PACKET_PAYLOAD_MAX) == payload);
    ASSERT_TRUE(sock.SendPacket(sock.m_packet, TRUE));
    sock.Close();
    peer.Join();

    EXPECT_TRUE(echoedBare == payload);
    EXPECT_TRUE(echoedEnveloped == payload);
}

TEST(Framing, OverlongPacketIsRefusedBeforeAnyByteGoesOut)
{
    TestPeer peer("127.3.2.4", 0, RecordOnly);
    Exposed<CPacketSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    sock.m_nLastError = 4242;

    sock.SetHeader(CMD_ASDU10, PACKET_PAYLOAD_MAX + 1);
    EXPECT_FALSE(sock.SendPacket(sock.m_packet, TRUE));
    sock.m_bPeerEnvelope = TRUE;
    EXPECT_FALSE(sock.SendPacket(sock.m_packet, TRUE));
    EXPECT_EQ(sock.m_nLastError, 71010);
    EXPECT_EQ(sock.m_nBytesSent, 0u);
    EXPECT_NE(sock.m_hSocket, kInvalidSocket);
    sock.Close();
    peer.Join();
    EXPECT_EQ(peer.Received(), "");
}

TEST(Framing, OverlongPacketIsRefusedAfterItsHeader)
{
    const std::string next = wire::Bare(CMD_STATUS, wire::U32(7));
    TestPeer peer("127.3.2.5", 0, [&](TestPeer& p) {
        p.Send(wire::U32(CMD_ASDU10) + wire::U32(PACKET_PAYLOAD_MAX + 1) + next);
    });
    Exposed<CPacketSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));

    EXPECT_FALSE(sock.ReceivePacket(sock.m_packet, TRUE));
    EXPECT_EQ(sock.m_nLastError, 71010);
    EXPECT_EQ(sock.m_nBytesReceived, 8u);
    // Nothing beyond the header was taken: the following bytes come next.
    ASSERT_TRUE(sock.ReceivePacket(sock.m_packet, TRUE));
    EXPECT_EQ(sock.Header().command, CMD_STATUS);
    EXPECT_EQ(ReadU32(sock.Payload()), 7u);
}

TEST(Framing, ChecksumMismatchAndBadTailWordAreProtocolFailures)
{
    std::string offByOne = wire::Enveloped(CMD_STATUS, wire::U32(0x01020304));
    offByOne[8 + 8 + 4] = static_cast<char>(offByOne[8 + 8 + 4] + 1);
    std::string badTail = wire::Enveloped(CMD_STATUS, wire::U32(0x01020304));
    badTail.replace(badTail.size() - 4, 4, wire::U32(ENVELOPE_HEAD_MAGIC));
    std::string badFirstTail = wire::Enveloped(CMD_STATUS, wire::U32(0x01020304));
    badFirstTail.replace(badFirstTail.size() - 8, 4, wire::U32(0));
    const std::string good = wire::Enveloped(CMD_STATUS, wire::U32(9));

    TestPeer peer("127.3.2.6", 0,
                  [&](TestPeer& p) { p.Send(offByOne + badTail + badFirstTail + good); });
    Exposed<CPacketSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));

    for (const char* name : {"checksum off by one", "last word wrong", "first tail word wrong"}) {
        sock.m_nLastError = 4242;
        EXPECT_FALSE(sock.ReceivePacket(sock.m_packet, TRUE)) << name;
        EXPECT_EQ(sock.m_nLastError, 71010) << name;
        EXPECT_NE(sock.m_hSocket, kInvalidSocket) << name;
    }
    // Each bad packet was consumed whole.
    ASSERT_TRUE(sock.ReceivePacket(sock.m_packet, TRUE));
    EXPECT_EQ(sock.Header().command, CMD_STATUS);
    EXPECT_EQ(ReadU32(sock.Payload()), 9u);
    EXPECT_EQ(sock.m_nBytesReceived, 4u * 32u);
}

TEST(Framing, AnswersInThePeersLastFraming)
{
    TestPeer peer("127.3.2.7", 0, [](TestPeer& p) {
        p.SendPacket(CMD_STATUS, wire::U32(1), true);
        PeerPacket first = p.ExpectPacket();
        EXPECT_TRUE(first.enveloped);
        EXPECT_TRUE(first.envelopeValid);
        p.SendPacket(CMD_STATUS, wire::U32(2), false);
        PeerPacket second = p.ExpectPacket();
        EXPECT_TRUE(second.complete);
        EXPECT_FALSE(second.enveloped);
        p.SendPacket(CMD_STATUS, wire::U32(3), true);
    });
    Exposed<CPacketSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));

    ASSERT_TRUE(sock.ReceivePacket(sock.m_packet, TRUE));
    EXPECT_TRUE(sock.m_bPeerEnvelope);
    FillPacket(sock, CMD_REPLY, "");
    EXPECT_TRUE(sock.SendPacket(sock.m_packet, TRUE));
    ASSERT_TRUE(sock.ReceivePacket(sock.m_packet, TRUE));
    EXPECT_FALSE(sock.m_bPeerEnvelope);
    FillPacket(sock, CMD_REPLY, "");
    EXPECT_TRUE(sock.SendPacket(sock.m_packet, TRUE));

    // Not allowed to wrap: bare even though the peer spoke in an envelope.
    ASSERT_TRUE(sock.ReceivePacket(sock.m_packet, TRUE));
    EXPECT_TRUE(sock.m_bPeerEnvelope);
    sock.m_bEnvelopeAllowed = FALSE;
    FillPacket(sock, CMD_REPLY, "");
    EXPECT_TRUE(sock.SendPacket(sock.m_packet, TRUE));
    sock.Close();
    peer.Join();
    EXPECT_EQ(wire::Hex(peer.Received().substr(28 + 8)), kEmptyReplyHex);
}

TEST(Framing, ShortTextReadsWithAZeroAfterIt)
{
    TestPeer peer("127.3.2.8", 0, [](TestPeer& p) {
        p.SendPacket(CMD_IDENT, "abc");
        p.SendPacket(CMD_REPLY, "");
    });
    Exposed<CPacketSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    // Stale bytes from an earlier, longer packet must not show through.
    std::memset(sock.m_packet, 'x', sizeof(sock.m_packet));

    ASSERT_TRUE(sock.ReceivePacket(sock.m_packet, TRUE));
    EXPECT_EQ(sock.Header().length, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sock.Payload())), "abc");
    EXPECT_EQ(PayloadBytes(sock, PACKET_PAYLOAD_MAX), "abc" + std::string(PACKET_PAYLOAD_MAX - 3, '\0'));

    std::memset(sock.m_packet, 'x', sizeof(sock.m_packet));
    ASSERT_TRUE(sock.ReceivePacket(sock.m_packet, TRUE));
    EXPECT_EQ(sock.Header().command, CMD_REPLY);
    EXPECT_EQ(ReadU32(sock.Payload()), 0u);
}

TEST(Framing, ProbeBytesAreABarePacket)
{
    TestPeer peer("127.3.2.9", 0,
                  [](TestPeer& p) { p.Send(wire::FromHex("92 76 33 76 00 00 00 00")); });
    Exposed<CPacketSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    sock.m_bPeerEnvelope = TRUE;

    ASSERT_TRUE(sock.ReceivePacket(sock.m_packet, TRUE));
    EXPECT_EQ(sock.Header().command, CMD_ENVELOPE_PROBE);
    EXPECT_EQ(sock.Header().length, 0u);
    EXPECT_FALSE(sock.m_bPeerEnvelope);
    EXPECT_EQ(sock.m_nBytesReceived, 8u);
}

TEST(Framing, NoSocketMeansNoPacketAndNoError)
{
    Exposed<CPacketSocket> sock;
    sock.m_nLastError = 4242;
    FillPacket(sock, CMD_REPLY, "");
    EXPECT_FALSE(sock.SendPacket(sock.m_packet, TRUE));
    EXPECT_FALSE(sock.ReceivePacket(sock.m_packet, TRUE));
    EXPECT_EQ(sock.m_nLastError, 4242);
}

struct CutCase {
    const char* name;
    const char* address;
    std::string bytes;       // sent, then the line is closed
    std::string bufferStart; // the packet buffer afterwards, zeros after it

    // Names the case in test listings instead of dumping its bytes.
    friend void PrintTo(const CutCase& c, std::ostream* os) { *os << c.name; }
};

class FailedReceive : public ::testing::TestWithParam<CutCase> {};

TEST_P(FailedReceive, LeavesWhatArrivedAndZerosNothingStale)
{
    const CutCase& c = GetParam();
    TestPeer peer(c.address, 0, [&](TestPeer& p) {
        p.Send(c.bytes);
        p.Close();
    });
    Exposed<CPacketSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    std::memset(sock.m_packet, 'x', sizeof(sock.m_packet));

    EXPECT_FALSE(sock.ReceivePacket(sock.m_packet, TRUE));
    std::string expected = c.bufferStart;
    expected.resize(PACKET_BUFFER_SIZE, '\0');
    EXPECT_TRUE(std::string(reinterpret_cast<const char*>(sock.m_packet), PACKET_BUFFER_SIZE) ==
                expected);
}

const std::string kEnvelopedData = wire::Enveloped(CMD_ASDU10, "0123456789");

INSTANTIATE_TEST_SUITE_P(
    Framing, FailedReceive,
    ::testing::Values(
        CutCase{"InsideTheHeader", "127.3.2.20", "\x11\x30\x00", std::string("\x11\x30\x00", 3)},
        CutCase{"BadLength", "127.3.2.21",
                wire::U32(CMD_ASDU10) + wire::U32(PACKET_PAYLOAD_MAX + 1) + "more",
                wire::U32(CMD_ASDU10) + wire::U32(PACKET_PAYLOAD_MAX + 1)},
        CutCase{"InsideTheEnvelopeHeader", "127.3.2.22", kEnvelopedData.substr(0, 12),
                kEnvelopedData.substr(8, 4)},
        CutCase{"InsideTheEnvelopedPayload", "127.3.2.23", kEnvelopedData.substr(0, 20),
                kEnvelopedData.substr(8, 12)},
        CutCase{"InsideTheTrailer", "127.3.2.24", kEnvelopedData.substr(0, 30),
                kEnvelopedData.substr(8, 18)}),
    [](const ::testing::TestParamInfo<CutCase>& info) { return info.param.name; });

TEST(Framing, PeerClosingInsideAPayloadLeavesReceivedBytesThenZeros)
{
    const std::string packet = wire::Bare(CMD_ASDU10, Pattern(100));
    TestPeer peer("127.3.2.10", 0, [&](TestPeer& p) { p.CutAfter(packet, 8 + 40); });
    Exposed<CPacketSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    std::memset(sock.m_packet, 'x', sizeof(sock.m_packet));

    EXPECT_FALSE(sock.ReceivePacket(sock.m_packet, TRUE));
    EXPECT_EQ(sock.m_nLastError, COMM_ERR_PEER_CLOSED);
    EXPECT_EQ(sock.m_hSocket, kInvalidSocket);
    EXPECT_EQ(PayloadBytes(sock, 100), Pattern(40) + std::string(60, '\0'));
}

} // namespace
