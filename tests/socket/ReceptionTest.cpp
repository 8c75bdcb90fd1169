// Bulk data reception: acknowledgements, progress, cancel and the rules by
// which a transfer ends.
#include <utility>
#include <vector>

#include <ostream>

#include "socket/SocketTestSupport.h"
#include "doubles/MemoryFile.h"
#include "doubles/Exposed.h"

namespace {

using Pairs = std::vector<std::pair<std::uintptr_t, std::intptr_t>>;

const std::string kAck = wire::Bare(CMD_REPLY, "");
const std::string kCancel = wire::Bare(CMD_CANCEL, "");

std::string Data(std::size_t n, char seed)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(seed + i * 13);
    return s;
}

const std::vector<std::string> kThree = {Data(1, 'a'), Data(PACKET_PAYLOAD_MAX, 'b'),
                                         Data(300, 'c')};

class Acknowledged : public ::testing::TestWithParam<bool> {};

TEST_P(Acknowledged, OneAckBeforeTheFirstAndOneAfterEachDataPacket)
{
    const bool envelope = GetParam();
    TestPeer peer(envelope ? "127.3.4.1" : "127.3.4.2", 0, [&](TestPeer& p) {
        for (const std::string& data : kThree) {
            PeerPacket ack = p.ExpectPacket();
            EXPECT_EQ(ack.command, CMD_REPLY);
            EXPECT_EQ(ack.length, 0u);
            p.SendPacket(CMD_ASDU10, data, envelope);
        }
        p.ExpectPacket();
        p.SendPacket(CMD_ASDU10, "", envelope);
    });
    Observed<CGLSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    sock.m_wAckMode = 1;
    sock.m_bPeerEnvelope = envelope;
    MemoryFile file;

    EXPECT_TRUE(sock.ReceiveData(&file, CMD_ASDU10, 3));
    EXPECT_EQ(sock.m_nLastError, 0);
    EXPECT_TRUE(file.Data() == kThree[0] + kThree[1] + kThree[2]);
    EXPECT_EQ(file.Writes(), 3);
    sock.Close();
    peer.Join();
    // Exactly four: none after the end mark.
    const std::string ack = wire::Packet(CMD_REPLY, "", envelope);
    EXPECT_EQ(wire::Hex(peer.Received()), wire::Hex(ack + ack + ack + ack));
}

INSTANTIATE_TEST_SUITE_P(Reception, Acknowledged, ::testing::Values(false, true));

TEST(Reception, WithoutAcksNothingIsSent)
{
    TestPeer peer("127.3.4.3", 0, [](TestPeer& p) {
        for (const std::string& data : kThree)
            p.SendPacket(CMD_ASDU10, data);
        p.SendPacket(CMD_ASDU10, "");
    });
    Observed<CGLSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    MemoryFile file;
    // More packets than announced: the count only sizes the progress.
    EXPECT_TRUE(sock.ReceiveData(&file, CMD_ASDU10, 1));
    EXPECT_TRUE(file.Data() == kThree[0] + kThree[1] + kThree[2]);
    EXPECT_TRUE(sock.m_evDone.IsSignalled());
    sock.Close();
    peer.Join();
    EXPECT_EQ(peer.Received(), "");
}

TEST(Reception, NothingExpectedMeansNoTraffic)
{
    TestPeer peer("127.3.4.4", 0, [](TestPeer& p) { p.SendPacket(CMD_ASDU10, "data"); });
    Observed<CGLSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    sock.m_wAckMode = 1;
    ProgressLog log;
    sock.m_hNotifyWnd = log.Target();
    sock.m_evDone.ResetEvent();
    MemoryFile file;

    EXPECT_TRUE(sock.ReceiveData(&file, CMD_ASDU10, 0));
    EXPECT_EQ(file.Writes(), 0);
    EXPECT_FALSE(sock.m_evDone.IsSignalled());
    EXPECT_TRUE(sock.m_evCancel.IsSignalled());
    EXPECT_TRUE(log.Pairs().empty());
    EXPECT_EQ(sock.m_nBytesReceived, 0u);
    sock.Close();
    peer.Join();
    EXPECT_EQ(peer.Received(), "");
}

TEST(Reception, EndMarkFirstWritesNothing)
{
    TestPeer peer("127.3.4.5", 0, [](TestPeer& p) { p.SendPacket(CMD_ASDU10, ""); });
    Observed<CGLSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    MemoryFile file(77);
    EXPECT_TRUE(sock.ReceiveData(&file, CMD_ASDU10, 5));
    EXPECT_EQ(file.Writes(), 0);
    EXPECT_EQ(file.GetPosition(), 77u);
}

// Position 10 with 16376-byte packets: start 1, total 5, range 5, step 1.
void ServeFourPackets(TestPeer& p)
{
    for (int i = 0; i < 4; ++i)
        p.SendPacket(CMD_ASDU10, Data(10, static_cast<char>('k' + i)));
    p.SendPacket(CMD_ASDU10, "");
}

const Pairs kWorkedExample = {{1, 5}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}, {1, 0}};

TEST(Reception, ProgressIsSentSynchronously)
{
    TestPeer peer("127.3.4.6", 0, ServeFourPackets);
    Observed<CGLSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    ProgressLog log;
    sock.m_hNotifyWnd = log.Target();
    sock.m_bPostNotify = FALSE;
    MemoryFile file(10);

    EXPECT_TRUE(sock.ReceiveData(&file, CMD_ASDU10, 4));
    EXPECT_EQ(log.Pairs(), kWorkedExample);
    for (const ProgressLog::Entry& e : log.Entries()) {
        EXPECT_EQ(e.message, WM_COMM_PROGRESS);
        EXPECT_EQ(e.thread, std::this_thread::get_id());
    }
}

TEST(Reception, ProgressIsQueuedWhenPosted)
{
    TestPeer peer("127.3.4.7", 0, ServeFourPackets);
    Observed<CGLSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    ProgressLog log;
    sock.m_hNotifyWnd = log.Target();
    sock.m_bPostNotify = TRUE;
    MemoryFile file(10);

    EXPECT_TRUE(sock.ReceiveData(&file, CMD_ASDU10, 4));
    EXPECT_TRUE(log.Pairs().empty());
    EXPECT_EQ(obs::DispatchNotifications(log.Target()), 7);
    EXPECT_EQ(log.Pairs(), kWorkedExample);
}

TEST(Reception, VanishedProgressTargetIsIgnored)
{
    TestPeer peer("127.3.4.8", 0, ServeFourPackets);
    Observed<CGLSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    {
        ProgressLog gone;
        sock.m_hNotifyWnd = gone.Target();
    }
    MemoryFile file(10);
    EXPECT_TRUE(sock.ReceiveData(&file, CMD_ASDU10, 4));
    EXPECT_EQ(file.Writes(), 4);
}

struct RangeCase {
    const char* address;
    std::uint32_t startPackets; // packets already in the file
    std::uint32_t announced;    // of the four the peer sends
    Pairs expected;

    // Names the case in test listings instead of dumping its bytes.
    friend void PrintTo(const RangeCase& c, std::ostream* os) { *os << c.address; }
};

class ProgressRange : public ::testing::TestWithParam<RangeCase> {};

TEST_P(ProgressRange, PositionsEndExactlyAtTheRange)
{
    const RangeCase& c = GetParam();
    TestPeer peer(c.address, 0, ServeFourPackets);
    Observed<CGLSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    ProgressLog log;
    sock.m_hNotifyWnd = log.Target();
    MemoryFile file(c.startPackets * PACKET_PAYLOAD_MAX);

    EXPECT_TRUE(sock.ReceiveData(&file, CMD_ASDU10, c.announced));
    EXPECT_EQ(log.Pairs(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Reception, ProgressRange,
    ::testing::Values(
        // Total 25000: position = packets * 10000 / 25000, sent when it moves.
        RangeCase{"127.3.4.9", 24996, 4, {{1, 10000}, {0, 9998}, {0, 9999}, {0, 10000}, {1, 0}}},
        // Total 20000, an exact multiple of the range.
        RangeCase{"127.3.4.26", 19996, 4, {{1, 10000}, {0, 9998}, {0, 9999}, {0, 10000}, {1, 0}}},
        // Total 19999: 19995 * 10000 / 19999 = 9997.9..., and the end at 10000.
        RangeCase{"127.3.4.10", 19995, 4,
                  {{1, 10000}, {0, 9997}, {0, 9998}, {0, 9999}, {0, 10000}, {1, 0}}},
        // Two announced, four sent: the position stops at the range.
        RangeCase{"127.3.4.27", 0, 2, {{1, 2}, {0, 0}, {0, 1}, {0, 2}, {1, 0}}}));

struct CancelCase {
    const char* address;
    std::string answer; // the peer's last packet after the cancel
    BOOL result;
    std::int32_t error;

    // Names the case in test listings instead of dumping its bytes.
    friend void PrintTo(const CancelCase& c, std::ostream* os) { *os << c.address; }
};

class LocalCancel : public ::testing::TestWithParam<CancelCase> {};

TEST_P(LocalCancel, GoesOutWhileWaitingForTheNextPacket)
{
    const CancelCase& c = GetParam();
    Observed<CGLSocket> sock;
    TestPeer peer(c.address, 0, [&](TestPeer& p) {
        EXPECT_EQ(p.ExpectBytes(8), kAck);
        p.SendPacket(CMD_ASDU10, kThree[0]);
        // The ack shows that the client has looked for a cancel after the
        // first packet; the request from this thread finds it waiting for
        // the second, and goes out without it.
        EXPECT_EQ(p.ExpectBytes(8), kAck);
        EXPECT_FALSE(sock.m_evDone.IsSignalled());
        sock.m_evCancel.SetEvent();
        EXPECT_EQ(wire::Hex(p.ExpectBytes(8)), wire::Hex(kCancel));
        p.SendPacket(CMD_ASDU10, kThree[1]);
        EXPECT_EQ(p.ExpectBytes(8), kAck);
        // Data still in flight is taken and acknowledged; no second cancel.
        p.SendPacket(CMD_ASDU10, kThree[2]);
        EXPECT_EQ(p.ExpectBytes(8), kAck);
        p.Send(c.answer);
    });
    ASSERT_TRUE(AttachRaw(sock, peer));
    sock.m_wAckMode = 1;
    ProgressLog log;
    sock.m_hNotifyWnd = log.Target();
    MemoryFile file;

    EXPECT_EQ(sock.ReceiveData(&file, CMD_ASDU10, 3), c.result);
    EXPECT_EQ(sock.m_nLastError, c.error);
    EXPECT_TRUE(sock.m_evCancel.IsSignalled());
    EXPECT_TRUE(sock.m_evDone.IsSignalled());
    EXPECT_TRUE(file.Data() == kThree[0] + kThree[1] + kThree[2]);
    // No position after the cancel.
    EXPECT_EQ(log.Pairs(), (Pairs{{1, 3}, {0, 0}, {0, 1}, {1, 0}}));
    sock.Close();
    peer.Join();
    EXPECT_EQ(wire::Hex(peer.Received()), wire::Hex(kAck + kAck + kCancel + kAck + kAck));
}

INSTANTIATE_TEST_SUITE_P(
    Reception, LocalCancel,
    ::testing::Values(CancelCase{"127.3.4.11", wire::Bare(CMD_CANCEL, ""), FALSE,
                                 COMM_ERR_CANCELLED},
                      CancelCase{"127.3.4.12", wire::Bare(CMD_ASDU10, ""), TRUE, 0}));

// Signals a cancel from inside the progress callback, which runs on the
// receiving thread after a packet is written and before the cancel poll.
struct CancelAtPosition {
    Exposed<CGLSocket>* sock;
    std::intptr_t position;
    Pairs seen;

    static void OnProgress(void* user, std::uint32_t, std::uintptr_t wParam, std::intptr_t lParam)
    {
        auto* self = static_cast<CancelAtPosition*>(user);
        self->seen.emplace_back(wParam, lParam);
        if (wParam == 0 && lParam == self->position)
            self->sock->m_evCancel.SetEvent();
    }
};

TEST(Reception, CancelWithoutAcksFollowsTheCurrentPacket)
{
    TestPeer peer("127.3.4.13", 0, [&](TestPeer& p) {
        p.SendPacket(CMD_ASDU10, kThree[0]);
        p.SendPacket(CMD_ASDU10, kThree[2]);
        EXPECT_EQ(p.ExpectBytes(8), kCancel);
        p.SendPacket(CMD_CANCEL, "");
    });
    Observed<CGLSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    // Signalled since construction: a transfer starts by resetting it, or
    // the cancel would follow the first packet.
    ASSERT_TRUE(sock.m_evCancel.IsSignalled());
    CancelAtPosition hook{&sock, 2, {}};
    obs::NotifyTarget target = obs::CreateNotifyObserver(&CancelAtPosition::OnProgress, &hook);
    sock.m_hNotifyWnd = target;
    MemoryFile file;

    EXPECT_FALSE(sock.ReceiveData(&file, CMD_ASDU10, 2));
    obs::DestroyNotifyObserver(target);
    EXPECT_EQ(sock.m_nLastError, COMM_ERR_CANCELLED);
    EXPECT_TRUE(file.Data() == kThree[0] + kThree[2]);
    EXPECT_EQ(hook.seen, (Pairs{{1, 2}, {0, 0}, {0, 1}, {0, 2}, {1, 0}}));
    sock.Close();
    peer.Join();
    EXPECT_EQ(peer.Received(), kCancel);
}

struct EndingCase {
    const char* name;
    const char* address;
    std::string packet; // sent after one data packet
    std::int32_t error;
    // Else the stream is left before its end and the connection closed.
    bool streamEnded;

    // Names the case in test listings instead of dumping its bytes.
    friend void PrintTo(const EndingCase& c, std::ostream* os) { *os << c.name; }
};

class StreamEnding : public ::testing::TestWithParam<EndingCase> {};

TEST_P(StreamEnding, EndsWithTheRecordedReasonAndKeepsTheData)
{
    const EndingCase& c = GetParam();
    TestPeer peer(c.address, 0, [&](TestPeer& p) {
        p.SendPacket(CMD_ASDU10, kThree[0]);
        p.Send(c.packet);
        p.Close();
    });
    Observed<CGLSocket> sock;
    ASSERT_TRUE(AttachRaw(sock, peer));
    ProgressLog log;
    sock.m_hNotifyWnd = log.Target();
    MemoryFile file;

    EXPECT_FALSE(sock.ReceiveData(&file, CMD_ASDU10, 2));
    EXPECT_EQ(sock.m_nLastError, c.error);
    EXPECT_EQ(sock.m_hSocket != kInvalidSocket, c.streamEnded);
    EXPECT_TRUE(file.Data() == kThree[0]);
    EXPECT_TRUE(sock.m_evDone.IsSignalled());
    ASSERT_FALSE(log.Pairs().empty());
    EXPECT_EQ(log.Pairs().back(), (std::pair<std::uintptr_t, std::intptr_t>(1, 0)));
    sock.Close();
    peer.Join();
    EXPECT_EQ(peer.Received(), "");
}

std::string CorruptedData()
{
    std::string bytes = wire::Enveloped(CMD_ASDU10, "xyz");
    bytes[bytes.size() - 12] ^= 0x40;
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Reception, StreamEnding,
    ::testing::Values(
        EndingCase{"PeerCancel", "127.3.4.20", wire::Bare(CMD_CANCEL, ""),
                   COMM_ERR_PEER_CANCELLED, true},
        EndingCase{"ReplyWithCode", "127.3.4.21",
                   wire::Bare(CMD_REPLY, wire::ReplyPayload(COMM_ERR_USER_VERIFY, "verify")),
                   COMM_ERR_USER_VERIFY, true},
        EndingCase{"EmptyReply", "127.3.4.22", wire::Bare(CMD_REPLY, ""), COMM_ERR_PROTOCOL, true},
        EndingCase{"OtherCommand", "127.3.4.23", wire::Bare(CMD_STATUS, wire::U32(1)),
                   COMM_ERR_UNEXPECTED_REPLY, false},
        EndingCase{"ChecksumMismatch", "127.3.4.24", CorruptedData(), COMM_ERR_PROTOCOL, false},
        EndingCase{"PeerClosedMidPacket", "127.3.4.25",
                   wire::Bare(CMD_ASDU10, "abcdef").substr(0, 11), COMM_ERR_PEER_CLOSED, false}),
    [](const ::testing::TestParamInfo<EndingCase>& info) { return info.param.name; });

TEST(Reception, DiskFullEndsTheTransfer)
{
    Observed<CGLSocket> sock;
    TestPeer peer("127.3.4.30", 0, [&](TestPeer& p) {
        EXPECT_EQ(p.ExpectBytes(8), kAck);
        p.SendPacket(CMD_ASDU10, kThree[0]);
        EXPECT_EQ(p.ExpectBytes(8), kAck);
        p.SendPacket(CMD_ASDU10, kThree[1]);
        p.SendPacket(CMD_ASDU10, "");
    });
    ASSERT_TRUE(AttachRaw(sock, peer));
    sock.m_wAckMode = 1;
    ProgressLog log;
    sock.m_hNotifyWnd = log.Target();
    MemoryFile file;
    file.FailOnWrite(2, CFileException::diskFull);

    EXPECT_FALSE(sock.ReceiveData(&file, CMD_ASDU10, 2));
    EXPECT_EQ(sock.m_nLastError, 13);
    EXPECT_TRUE(file.Data() == kThree[0]);
    EXPECT_TRUE(sock.m_evDone.IsSignalled());
    EXPECT_EQ(log.Pairs(), (Pairs{{1, 2}, {0, 0}, {0, 1}, {1, 0}}));
    // The rest of the stream is never read: the connection closes.
    EXPECT_EQ(sock.m_hSocket, kInvalidSocket);
    sock.Close();
    peer.Join();
    EXPECT_EQ(peer.Received(), kAck + kAck);
}

} // namespace
