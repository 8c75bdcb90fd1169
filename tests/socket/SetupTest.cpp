// Connection set-up: the greeting, the envelope probe, the packet-size and
// acknowledgement negotiations on both sides, and SendReply.
#include <chrono>
#include <cstring>

#include <ostream>

#include "socket/SocketTestSupport.h"
#include "doubles/TempDir.h"
#include "doubles/Exposed.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kProbe = wire::FromHex("92 76 33 76 00 00 00 00");
const std::string kSizeQuery = wire::Bare(CMD_PACKET_SIZE, wire::U16(0xFFFF));
const std::string kAckQuery = wire::Bare(CMD_ACK_MODE, wire::U16(0xFFFF));

// Connects to the peer at `address` through the whole connect path.
BOOL Connect(Exposed<CGLSocket>& sock, const TestPeer& peer)
{
    sock.m_tvTimeout = kShortWait;
    return sock.ConnectHost(peer.Address().c_str(), peer.Port());
}

TEST(Setup, GreetingIsFollowedByProbeSizeAndAckQueriesInOrder)
{
    TestPeer peer("127.3.3.1", DEVICE_PORT, [](TestPeer& p) {
        p.SendPacket(CMD_REPLY, "");
        EXPECT_EQ(wire::Hex(p.ExpectBytes(8)), wire::Hex(kProbe));
        p.SendPacket(CMD_REPLY, "");
        EXPECT_EQ(wire::Hex(p.ExpectBytes(10)), wire::Hex(kSizeQuery));
        p.SendPacket(CMD_PACKET_SIZE, wire::U16(8192));
        EXPECT_EQ(wire::Hex(p.ExpectBytes(10)), wire::Hex(kAckQuery));
        p.SendPacket(CMD_ACK_MODE, wire::U16(3));
    });
    Exposed<CGLSocket> sock;
    sock.m_tvTimeout = kShortWait;
    EXPECT_TRUE(sock.ConnectHost("127.3.3.1", DEVICE_PORT));
    EXPECT_TRUE(sock.m_bConnected);
    EXPECT_EQ(sock.m_wPacketSizeMax, 8192);
    EXPECT_EQ(sock.m_wAckMode, 3);
    EXPECT_FALSE(sock.m_bPeerEnvelope);
    EXPECT_EQ(sock.m_nLastError, 0);
    sock.Close();
    peer.Join();
    EXPECT_EQ(wire::Hex(peer.Received()), wire::Hex(kProbe + kSizeQuery + kAckQuery));
}

struct GreetingCase {
    const char* name;
    const char* address;
    std::string greeting; // sent, then the peer closes its side
    std::int32_t error;

    // Names the case in test listings instead of dumping its bytes.
    friend void PrintTo(const GreetingCase& c, std::ostream* os) { *os << c.name; }
};

class BadGreeting : public ::testing::TestWithParam<GreetingCase> {};

TEST_P(BadGreeting, ClosesWithoutSendingAnything)
{
    const GreetingCase& c = GetParam();
    TestPeer peer(c.address, 0, [&](TestPeer& p) {
        p.Send(c.greeting);
        p.Close();
    });
    Exposed<CGLSocket> sock;
    sock.m_nLastError = 4242;
    EXPECT_FALSE(Connect(sock, peer));
    EXPECT_EQ(sock.m_nLastError, c.error);
    EXPECT_EQ(sock.m_hSocket, kInvalidSocket);
    EXPECT_FALSE(sock.m_bConnected);
    peer.Join();
    EXPECT_EQ(peer.Received(), "");
}

std::string BadChecksumReply()
{
    std::string bytes = wire::Enveloped(CMD_REPLY, "");
    bytes[16] ^= 1;
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Setup, BadGreeting,
    ::testing::Values(
        GreetingCase{"Refused", "127.3.3.2",
                     wire::Bare(CMD_REPLY, wire::ReplyPayload(COMM_ERR_CONNECT_REFUSED, "no")),
                     COMM_ERR_CONNECT_REFUSED},
        GreetingCase{"RefusedInEnvelope", "127.3.3.3",
                     wire::Enveloped(CMD_REPLY, wire::U32(COMM_ERR_CONNECT_REFUSED)),
                     COMM_ERR_CONNECT_REFUSED},
        GreetingCase{"OtherCommand", "127.3.3.4", wire::Bare(CMD_STATUS, wire::U32(0)),
                     COMM_ERR_NO_GREETING},
        GreetingCase{"ClosedBeforeGreeting", "127.3.3.5", "", COMM_ERR_NO_GREETING},
        GreetingCase{"ChecksumMismatch", "127.3.3.6", BadChecksumReply(), COMM_ERR_NO_GREETING},
        GreetingCase{"BadLength", "127.3.3.7",
                     wire::U32(CMD_REPLY) + wire::U32(PACKET_PAYLOAD_MAX + 1), COMM_ERR_NO_GREETING},
        GreetingCase{"TruncatedGreeting", "127.3.3.8", wire::Bare(CMD_REPLY, "").substr(0, 5),
                     COMM_ERR_PEER_CLOSED},
        // A code that means a lost connection has closed the socket by the
        // time it is recorded; the set-up must not report success.
        GreetingCase{"LostConnectionCode", "127.3.3.9",
                     wire::Bare(CMD_REPLY, wire::U32(10054)), 10054}),
    [](const ::testing::TestParamInfo<GreetingCase>& info) { return info.param.name; });

TEST(Setup, SilentPeerGivesNoGreetingAfterOneWaitLimit)
{
    TestPeer peer("127.3.3.10", 0, [](TestPeer& p) { p.WaitForClose(); });
    Exposed<CGLSocket> sock;
    auto start = Clock::now();
    EXPECT_FALSE(Connect(sock, peer));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(sock.m_nLastError, COMM_ERR_NO_GREETING);
    EXPECT_EQ(sock.m_hSocket, kInvalidSocket);
    peer.Join();
    EXPECT_EQ(peer.Received(), "");
}

TEST(Setup, GreetingWithAnotherCodeContinues)
{
    TestPeer peer("127.3.3.11", 0, [](TestPeer& p) {
        SetupAnswers answers;
        answers.greeting = wire::Bare(CMD_REPLY, wire::ReplyPayload(COMM_ERR_USER_VERIFY, "x"));
        answers.packetSize = 4096;
        p.ServeSetup(answers);
    });
    Exposed<CGLSocket> sock;
    EXPECT_TRUE(Connect(sock, peer));
    EXPECT_TRUE(sock.m_bConnected);
    EXPECT_EQ(sock.m_wPacketSizeMax, 4096);
    // The next wait cleared the greeting's code again.
    EXPECT_EQ(sock.m_nLastError, 0);
}

struct ProbeCase {
    const char* name;
    const char* address;
    std::string answer;
    BOOL envelopeAfter;

    // Names the case in test listings instead of dumping its bytes.
    friend void PrintTo(const ProbeCase& c, std::ostream* os) { *os << c.name; }
};

class ProbeAnswer : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(ProbeAnswer, DecidesTheFramingOfWhatFollows)
{
    const ProbeCase& c = GetParam();
    TestPeer peer(c.address, 0, [&](TestPeer& p) {
        EXPECT_EQ(p.ExpectBytes(8), kProbe);
        p.Send(c.answer);
    });
    Exposed<CGLSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    sock.m_bPeerEnvelope = TRUE;

    EXPECT_TRUE(sock.ProbeEnvelope());
    EXPECT_EQ(sock.m_bPeerEnvelope, c.envelopeAfter);
    sock.SendReply(0);
    sock.Close();
    peer.Join();
    std::string reply = peer.Received().substr(8);
    EXPECT_EQ(wire::Hex(reply), wire::Hex(wire::Packet(CMD_REPLY, "", c.envelopeAfter)));
}

const std::uint32_t kOn = ENVELOPE_HEAD_MAGIC;

INSTANTIATE_TEST_SUITE_P(
    Setup, ProbeAnswer,
    ::testing::Values(
        ProbeCase{"OnCodeBare", "127.3.3.20", wire::Bare(CMD_REPLY, wire::U32(kOn)), TRUE},
        ProbeCase{"OnCodeEnveloped", "127.3.3.21", wire::Enveloped(CMD_REPLY, wire::U32(kOn)),
                  TRUE},
        ProbeCase{"OtherCodeEnveloped", "127.3.3.22", wire::Enveloped(CMD_REPLY, wire::U32(5)),
                  FALSE},
        ProbeCase{"ZeroCodeEnveloped", "127.3.3.23",
                  wire::Enveloped(CMD_REPLY, wire::ReplyPayload(0)), FALSE},
        ProbeCase{"ZeroCodeBare", "127.3.3.24", wire::Bare(CMD_REPLY, wire::U32(0)), FALSE},
        ProbeCase{"EmptyEnveloped", "127.3.3.25", wire::Enveloped(CMD_REPLY, ""), TRUE},
        ProbeCase{"EmptyBare", "127.3.3.26", wire::Bare(CMD_REPLY, ""), FALSE},
        ProbeCase{"OtherCommandEnveloped", "127.3.3.27",
                  wire::Enveloped(CMD_STATUS, wire::U32(kOn)), TRUE},
        ProbeCase{"OtherCommandBare", "127.3.3.28", wire::Bare(CMD_STATUS, wire::U32(kOn)),
                  FALSE}),
    [](const ::testing::TestParamInfo<ProbeCase>& info) { return info.param.name; });

TEST(Setup, ProbeAnswerCodeIsRecordedButNotLogged)
{
    TestPeer peer("127.3.3.29", 0, [](TestPeer& p) {
        p.ExpectBytes(8);
        p.SendPacket(CMD_REPLY, wire::U32(kOn));
    });
    Exposed<CGLSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    EXPECT_TRUE(sock.ProbeEnvelope());
    EXPECT_TRUE(sock.m_bPeerEnvelope);
    EXPECT_NE(sock.m_hSocket, kInvalidSocket);
}

TEST(Setup, UnansweredProbeStillEndsEstablished)
{
    TestPeer peer("127.3.3.30", 0, [](TestPeer& p) {
        p.SendPacket(CMD_REPLY, "");
        EXPECT_EQ(p.ExpectBytes(8), kProbe);
        // No answer: the size query arrives after the client's wait limit.
        PeerPacket size = p.ExpectPacket();
        EXPECT_EQ(size.command, CMD_PACKET_SIZE);
        EXPECT_FALSE(size.enveloped);
        p.SendPacket(CMD_PACKET_SIZE, wire::U16(2048), true);
        PeerPacket ack = p.ExpectPacket();
        EXPECT_EQ(ack.command, CMD_ACK_MODE);
        EXPECT_TRUE(ack.enveloped) << "the peer's last packet came in an envelope";
        EXPECT_TRUE(ack.envelopeValid);
        p.SendPacket(CMD_ACK_MODE, wire::U16(1), false);
    });
    Exposed<CGLSocket> sock;
    auto start = Clock::now();
    EXPECT_TRUE(Connect(sock, peer));
    auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(190));
    EXPECT_LT(elapsed, std::chrono::seconds(3));
    EXPECT_TRUE(sock.m_bConnected);
    EXPECT_EQ(sock.m_wPacketSizeMax, 2048);
    EXPECT_EQ(sock.m_wAckMode, 1);
    EXPECT_FALSE(sock.m_bPeerEnvelope);
    EXPECT_EQ(sock.m_nLastError, 0);
}

TEST(Setup, PeerAnsweringNothingLeavesTheFallbacks)
{
    TestPeer peer("127.3.3.31", 0, [](TestPeer& p) {
        p.SendPacket(CMD_REPLY, "");
        p.WaitForClose();
    });
    Exposed<CGLSocket> sock;
    sock.m_wAckMode = 9;
    sock.m_tvTimeout = {0, 100000};
    EXPECT_TRUE(sock.ConnectHost(peer.Address().c_str(), peer.Port()));
    EXPECT_TRUE(sock.m_bConnected);
    EXPECT_EQ(sock.m_wPacketSizeMax, PACKET_SIZE_DEFAULT);
    EXPECT_EQ(sock.m_wAckMode, 0);
    EXPECT_EQ(sock.m_nLastError, 10060);
    EXPECT_NE(sock.m_hSocket, kInvalidSocket);
}

struct SizeAnswerCase {
    const char* address;
    std::uint16_t answer;
    bool accepted;

    // Names the case in test listings instead of dumping its bytes.
    friend void PrintTo(const SizeAnswerCase& c, std::ostream* os) { *os << c.address; }
};

class PacketSizeAnswer : public ::testing::TestWithParam<SizeAnswerCase> {};

TEST_P(PacketSizeAnswer, OnlySizesARequesterCouldAskForAreTaken)
{
    const SizeAnswerCase& c = GetParam();
    TestPeer peer(c.address, 0, [&](TestPeer& p) {
        SetupAnswers answers;
        answers.packetSize = c.answer;
        p.ServeSetup(answers);
        p.ExpectPacket();
        p.SendPacket(CMD_PACKET_SIZE, wire::U16(c.answer));
    });
    Exposed<CGLSocket> sock;
    EXPECT_TRUE(Connect(sock, peer));
    EXPECT_TRUE(sock.m_bConnected);
    EXPECT_EQ(sock.m_wPacketSizeMax, c.accepted ? c.answer : PACKET_SIZE_DEFAULT);

    std::uint16_t value = 1000;
    EXPECT_EQ(sock.NegotiatePacketSize(value), c.accepted ? TRUE : FALSE);
    EXPECT_EQ(value, c.accepted ? c.answer : PACKET_SIZE_DEFAULT);
    EXPECT_EQ(sock.m_nLastError, 0);
}

INSTANTIATE_TEST_SUITE_P(Setup, PacketSizeAnswer,
                         ::testing::Values(SizeAnswerCase{"127.3.3.40", 0, false},
                                           SizeAnswerCase{"127.3.3.41", 247, false},
                                           SizeAnswerCase{"127.3.3.42", 16377, false},
                                           SizeAnswerCase{"127.3.3.43", 0xFFFF, false},
                                           SizeAnswerCase{"127.3.3.44", 248, true},
                                           SizeAnswerCase{"127.3.3.45", 16376, true}));

TEST(Setup, NegotiationRequestsOutsideTheirRangeSendNothing)
{
    TestPeer peer("127.3.3.50", 0, [](TestPeer& p) {
        for (int i = 0; i < 5; ++i) {
            PeerPacket request = p.ExpectPacket();
            p.SendPacket(request.command, request.payload);
        }
    });
    Exposed<CGLSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    sock.m_nLastError = 4242;
    for (std::uint16_t refused : {std::uint16_t(0), std::uint16_t(247), std::uint16_t(16377)}) {
        std::uint16_t value = refused;
        EXPECT_FALSE(sock.NegotiatePacketSize(value)) << refused;
        EXPECT_EQ(value, refused);
    }
    std::uint16_t ack = 30001;
    EXPECT_FALSE(sock.NegotiateAckMode(ack));
    EXPECT_EQ(ack, 30001);
    EXPECT_EQ(sock.m_nLastError, 4242);
    EXPECT_EQ(sock.m_nBytesSent, 0u);

    // The peer echoes, so each accepted request comes back as the outcome.
    for (std::uint16_t accepted : {std::uint16_t(248), std::uint16_t(16376)}) {
        std::uint16_t value = accepted;
        EXPECT_TRUE(sock.NegotiatePacketSize(value));
        EXPECT_EQ(value, accepted);
    }
    for (std::uint16_t accepted : {std::uint16_t(0), std::uint16_t(30000), std::uint16_t(0xFFFF)}) {
        std::uint16_t value = accepted;
        EXPECT_TRUE(sock.NegotiateAckMode(value));
        EXPECT_EQ(value, accepted);
    }
    sock.Close();
    peer.Join();
    EXPECT_EQ(wire::Hex(peer.Received()),
              wire::Hex(wire::Bare(CMD_PACKET_SIZE, wire::U16(248)) +
                        wire::Bare(CMD_PACKET_SIZE, wire::U16(16376)) +
                        wire::Bare(CMD_ACK_MODE, wire::U16(0)) +
                        wire::Bare(CMD_ACK_MODE, wire::U16(30000)) +
                        wire::Bare(CMD_ACK_MODE, wire::U16(0xFFFF))));
}

TEST(Setup, AnswerOfAnotherCommandFailsTheNegotiationWithoutAnError)
{
    TestPeer peer("127.3.3.51", 0, [](TestPeer& p) {
        p.ExpectPacket();
        p.SendPacket(CMD_REPLY, wire::ReplyPayload(COMM_ERR_NOT_SUPPORTED, "no"));
        p.ExpectPacket();
        p.SendPacket(CMD_PACKET_SIZE, wire::U16(4000));
    });
    Exposed<CGLSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    std::uint16_t size = 4000;
    EXPECT_FALSE(sock.NegotiatePacketSize(size));
    EXPECT_EQ(size, PACKET_SIZE_DEFAULT);
    EXPECT_EQ(sock.m_nLastError, 0);
    std::uint16_t ack = 7;
    EXPECT_FALSE(sock.NegotiateAckMode(ack));
    EXPECT_EQ(ack, 0);
    EXPECT_EQ(sock.m_nLastError, 0);
}

TEST(Setup, AnsweringSideStoresOnlyAcceptableValues)
{
    TestPeer peer("127.3.3.52", 0, [](TestPeer&) {});
    Exposed<CGLSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    sock.m_nLastError = 4242;

    // The smallest size is granted, one less is not.
    EXPECT_TRUE(sock.AnswerPacketSize(248));
    EXPECT_EQ(sock.m_wPacketSizeMax, 248);
    EXPECT_TRUE(sock.AnswerPacketSize(247));
    EXPECT_EQ(sock.m_wPacketSizeMax, 248);
    EXPECT_TRUE(sock.AnswerPacketSize(8192));
    EXPECT_EQ(sock.m_wPacketSizeMax, 8192);
    EXPECT_TRUE(sock.AnswerPacketSize(100));
    EXPECT_TRUE(sock.AnswerPacketSize(0xFFFF));
    EXPECT_EQ(sock.m_wPacketSizeMax, 8192);
    EXPECT_TRUE(sock.AnswerAckMode(30001));
    EXPECT_EQ(sock.m_wAckMode, 0);
    EXPECT_TRUE(sock.AnswerAckMode(30000));
    EXPECT_EQ(sock.m_wAckMode, 30000);
    EXPECT_EQ(sock.m_nLastError, 4242);
    sock.m_bPeerEnvelope = TRUE;
    EXPECT_TRUE(sock.AnswerAckMode(0xFFFF));
    sock.Close();
    peer.Join();
    EXPECT_EQ(wire::Hex(peer.Received()),
              wire::Hex(wire::Bare(CMD_PACKET_SIZE, wire::U16(248)) +
                        wire::Bare(CMD_PACKET_SIZE, wire::U16(248)) +
                        wire::Bare(CMD_PACKET_SIZE, wire::U16(8192)) +
                        wire::Bare(CMD_PACKET_SIZE, wire::U16(8192)) +
                        wire::Bare(CMD_PACKET_SIZE, wire::U16(8192)) +
                        wire::Bare(CMD_ACK_MODE, wire::U16(0)) +
                        wire::Bare(CMD_ACK_MODE, wire::U16(30000)) +
                        wire::Enveloped(CMD_ACK_MODE, wire::U16(30000))));
}

TEST(Setup, SendReplyWithoutACodeIsEightBytes)
{
    TestPeer peer("127.3.3.53", 0, [](TestPeer&) {});
    Exposed<CGLSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    sock.m_nLastError = 4242;
    EXPECT_TRUE(sock.SendReply(0));
    EXPECT_EQ(sock.m_nLastError, 4242);
    sock.Close();
    peer.Join();
    EXPECT_EQ(wire::Hex(peer.Received()), "01 00 00 00 00 00 00 00");
}

TEST(Setup, SendReplyWithACodeCarriesItsText)
{
    TempDir empty;
    ScopedHostArgument host(empty.File("host"));
    TestPeer peer("127.3.3.54", 0, [](TestPeer&) {});
    Exposed<CGLSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    EXPECT_TRUE(sock.SendReply(COMM_ERR_NOT_SUPPORTED));
    EXPECT_EQ(sock.m_nLastError, COMM_ERR_NOT_SUPPORTED);
    EXPECT_NE(sock.m_hSocket, kInvalidSocket);
    sock.Close();
    peer.Join();

    const std::string text = FallbackText(COMM_ERR_NOT_SUPPORTED);
    ASSERT_EQ(text.size(), 25u);
    const std::string expected =
        wire::Bare(CMD_REPLY, wire::ReplyPayload(COMM_ERR_NOT_SUPPORTED, text));
    EXPECT_EQ(wire::Hex(peer.Received()), wire::Hex(expected));
    EXPECT_EQ(ReadU32(reinterpret_cast<const std::uint8_t*>(expected.data()) + 4), 34u);
}

TEST(Setup, SendReplyWithALostConnectionCodeClosesFirst)
{
    TestPeer peer("127.3.3.55", 0, [](TestPeer&) {});
    Exposed<CGLSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    EXPECT_TRUE(sock.SendReply(10054));
    EXPECT_EQ(sock.m_nLastError, 10054);
    EXPECT_EQ(sock.m_hSocket, kInvalidSocket);
    peer.Join();
    EXPECT_EQ(peer.Received(), "");
}

// Stands in for a derived class whose error texts are long.
class LongTextSocket : public Exposed<CGLSocket> {
public:
    explicit LongTextSocket(std::size_t length) : m_length(length) {}
    std::string GetErrorString() override { return std::string(m_length, 'L'); }

private:
    std::size_t m_length;
};

TEST(Setup, SendReplyCutsTextsToTheTextArea)
{
    // One character too many for the area with its zero, and far too many.
    for (std::size_t length : {256u, 400u}) {
        TestPeer peer("127.3.3.56", 0, [](TestPeer&) {});
        LongTextSocket sock(length);
        ASSERT_TRUE(AttachRaw(sock, peer));
        // Stale bytes behind the text area must not leak into the reply.
        std::memset(sock.m_packet, 'x', sizeof(sock.m_packet));
        EXPECT_TRUE(sock.SendReply(COMM_ERR_NOT_SUPPORTED));
        sock.Close();
        peer.Join();
        EXPECT_EQ(wire::Hex(peer.Received()),
                  wire::Hex(wire::Bare(CMD_REPLY, wire::ReplyPayload(COMM_ERR_NOT_SUPPORTED,
                                                                      std::string(255, 'L')))))
            << length;
    }
}

} // namespace
