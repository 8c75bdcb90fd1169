// Fault sweep over one whole device session through the exports: the connect
// sequence, then an ASDU 10 transfer of three data packets, with envelopes
// on and off and acknowledgements on and off. A scripted device cuts the
// line after every byte offset of every packet it sends, stalls at every
// packet boundary, and (enveloped) delivers each packet with one byte
// flipped. Each case checks the result code, the time taken, whether the
// object is still connected and the exact bytes that reached the file.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "VexaCommFile.h"
#include "VexaCommLib.h"
#include "api/ObjectHandle.h"
#include "doubles/MemoryFile.h"
#include "doubles/TestPeer.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

constexpr std::uint16_t kDevicePort = 30282;
constexpr std::uint16_t kPacketSize = 248;
constexpr std::uint16_t kDeviceType = 0x0301;
const std::string kIdent = "Bay 6";
// Two full packets and a short one.
constexpr std::uint32_t kDataSizes[3] = {kPacketSize, kPacketSize, 57};
constexpr std::uint32_t kDataTotal = kDataSizes[0] + kDataSizes[1] + kDataSizes[2];

// Limit of the client's waits where no wait should ever run out; every
// export must come back well within it.
constexpr std::int64_t kWaitMs = 3000;
// Limit for the stall cases, where waits do run out.
constexpr std::int64_t kStallWaitMs = 250;
// After a corrupted packet the device waits this long for the client's next
// packet before it gives up and closes the line.
constexpr Ms kQuietWait(500);

// The device's packets in the order it sends them.
enum Step : int {
    kGreeting,
    kProbeAnswer,
    kSizeAnswer,
    kAckAnswer,
    kTypeAnswer,
    kIdentAnswer,
    kFirstReply,
    kData1,
    kData2,
    kData3,
    kEndMark,
    kStepCount
};
const char* const kStepNames[kStepCount] = {"Greeting", "ProbeAnswer", "SizeAnswer", "AckAnswer",
                                            "TypeAnswer", "IdentAnswer", "FirstReply", "Data1",
                                            "Data2", "Data3", "EndMark"};

bool InConnect(int step) { return step <= kIdentAnswer; }

struct Mode {
    bool envelope;
    bool acks;
};

std::string ModeName(const Mode& m)
{
    return std::string(m.envelope ? "Envelope" : "Bare") + (m.acks ? "Acks" : "NoAcks");
}

std::string DataPayload(int index)
{
    std::string s(kDataSizes[index], '\0');
    for (std::size_t j = 0; j < s.size(); ++j)
        s[j] = static_cast<char>((index * 89 + j * 13 + 5) & 0xFF);
    return s;
}

// The payloads of the data packets the device sent completely before `step`.
std::string DataBefore(int step)
{
    std::string data;
    for (int i = 0; i < 3 && kData1 + i < step; ++i)
        data += DataPayload(i);
    return data;
}

// A request block with one entry; it must reach the device unchanged.
std::string Request()
{
    std::string block = wire::FromHex("0a 0b 0c 0d 0e 0f 01 00 11 22 33 44 55 66 77 88");
    return block;
}

// The device's side of one session.
class Session {
public:
    explicit Session(Mode mode) : m_mode(mode) {}

    const Mode& mode() const { return m_mode; }

    std::string Packet(int step) const
    {
        bool env = m_mode.envelope;
        switch (step) {
        case kGreeting:
            return wire::Packet(CMD_REPLY, std::string(), env);
        case kProbeAnswer:
            return env ? wire::Packet(CMD_REPLY, wire::U32(ENVELOPE_HEAD_MAGIC), true)
                       : wire::Bare(CMD_REPLY, std::string());
        case kSizeAnswer:
            return wire::Packet(CMD_PACKET_SIZE, wire::U16(kPacketSize), env);
        case kAckAnswer:
            return wire::Packet(CMD_ACK_MODE, wire::U16(m_mode.acks ? 1 : 0), env);
        case kTypeAnswer:
            return wire::Packet(CMD_DEVICE_TYPE, wire::U16(kDeviceType), env);
        case kIdentAnswer:
            return wire::Packet(CMD_IDENT, kIdent + std::string(1, '\0'), env);
        case kFirstReply:
            return wire::Packet(CMD_ASDU10, wire::U32(kDataTotal), env);
        case kEndMark:
            return wire::Packet(CMD_ASDU10, std::string(), env);
        default:
            return wire::Packet(CMD_ASDU10, DataPayload(step - kData1), env);
        }
    }

    // The client's packet that the device reads before it sends `step`;
    // 0 when it sends at once. `clientAcks`: whether the client acknowledges.
    static std::uint32_t Awaited(int step, bool clientAcks)
    {
        switch (step) {
        case kGreeting:
            return 0;
        case kProbeAnswer:
            return CMD_ENVELOPE_PROBE;
        case kSizeAnswer:
            return CMD_PACKET_SIZE;
        case kAckAnswer:
            return CMD_ACK_MODE;
        case kTypeAnswer:
            return CMD_DEVICE_TYPE;
        case kIdentAnswer:
            return CMD_IDENT;
        case kFirstReply:
            return CMD_ASDU10;
        default:
            return clientAcks ? static_cast<std::uint32_t>(CMD_REPLY) : 0u;
        }
    }

    // Reads and checks the client's packet before `step`.
    void Await(TestPeer& peer, int step) const
    {
        std::uint32_t command = Awaited(step, m_mode.acks);
        if (command == 0)
            return;
        PeerPacket p = peer.ExpectPacket();
        ASSERT_TRUE(p.complete) << "before " << kStepNames[step];
        EXPECT_EQ(p.command, command) << "before " << kStepNames[step];
        // The probe always goes bare; after it the client follows the device.
        EXPECT_EQ(p.enveloped, step != kProbeAnswer && m_mode.envelope)
            << "before " << kStepNames[step];
        if (p.enveloped) {
            EXPECT_TRUE(p.envelopeValid) << "before " << kStepNames[step];
        }
        if (step == kFirstReply) {
            EXPECT_EQ(wire::Hex(p.payload), wire::Hex(Request()));
        } else if (command == CMD_REPLY) {
            EXPECT_EQ(p.length, 0u) << "acknowledgement before " << kStepNames[step];
        }
    }

    // Plays steps [from, to) as a sound device.
    void Serve(TestPeer& peer, int from, int to) const
    {
        for (int step = from; step < to; ++step) {
            Await(peer, step);
            peer.Send(Packet(step));
        }
    }

private:
    Mode m_mode;
};

std::string Address(int family, int index)
{
    return "127.6." + std::to_string(family) + "." + std::to_string(index + 1);
}

struct ObjectDeleter {
    void operator()(VexaCommObject* o) const { VexaComm_DestroyObject(o); }
};
using Object = std::unique_ptr<VexaCommObject, ObjectDeleter>;

Object NewObject(std::int64_t waitMs)
{
    Object obj(VexaComm_CreateObject());
    VexaComm_SetWaitLimit(obj.get(), static_cast<std::uint32_t>(waitMs));
    return obj;
}

template <class F>
std::int32_t Timed(Ms* elapsed, F f)
{
    auto start = Clock::now();
    std::int32_t rc = f();
    *elapsed = std::chrono::duration_cast<Ms>(Clock::now() - start);
    return rc;
}

// What the client saw of one session: connect, then one fetch.
struct ClientRun {
    std::int32_t connect = -1;
    Ms connectTime{0};
    int connectedAfterConnect = -1;
    std::uint16_t deviceType = 0;
    std::string ident;
    std::uint16_t packetSize = 0;
    std::uint16_t ackMode = 0;
    std::int32_t fetch = -1;
    Ms fetchTime{0};
    int connectedAfterFetch = -1;
    std::string file;
    int writes = 0;
};

void Connect(VexaCommObject* obj, const std::string& address, ClientRun* run)
{
    run->connect = Timed(&run->connectTime, [&] { return VexaComm_Connect(obj, address.c_str()); });
    run->connectedAfterConnect = VexaComm_IsConnected(obj);
    run->deviceType = VexaComm_GetDeviceType(obj);
    char ident[64];
    VexaComm_GetIdent(obj, ident, sizeof(ident));
    run->ident = ident;
    run->packetSize = VexaComm_GetPacketSizeMax(obj);
    run->ackMode = FromHandle(obj)->AckMode();
}

void Fetch(VexaCommObject* obj, ClientRun* run)
{
    MemoryFile file;
    std::string request = Request();
    run->fetch = Timed(&run->fetchTime,
                       [&] { return VexaComm_GetAsdu10(obj, &file, request.data()); });
    run->connectedAfterFetch = VexaComm_IsConnected(obj);
    run->file = file.Data();
    run->writes = file.Writes();
}

ClientRun RunSession(const std::string& address, std::int64_t waitMs)
{
    Object obj = NewObject(waitMs);
    ClientRun run;
    Connect(obj.get(), address, &run);
    Fetch(obj.get(), &run);
    return run;
}

// A session that connected as a sound device would have it.
void ExpectConnected(const ClientRun& run, const Mode& mode)
{
    EXPECT_EQ(run.connect, 0);
    EXPECT_EQ(run.connectedAfterConnect, 1);
    EXPECT_EQ(run.deviceType, 769);
    EXPECT_EQ(run.ident, kIdent);
    EXPECT_EQ(run.packetSize, kPacketSize);
    EXPECT_EQ(run.ackMode, mode.acks ? 1 : 0);
}

// A failed connect leaves the object closed and forgetting the device; a
// fetch on it then fails without traffic.
void ExpectConnectFailed(const ClientRun& run, std::int32_t code)
{
    EXPECT_EQ(run.connect, code);
    EXPECT_EQ(run.connectedAfterConnect, 0);
    EXPECT_EQ(run.deviceType, 0);
    EXPECT_EQ(run.ident, "");
    EXPECT_EQ(run.fetch, 71006);
    EXPECT_EQ(run.writes, 0);
    EXPECT_EQ(run.connectedAfterFetch, 0);
}

std::string FileTrace(const ClientRun& run)
{
    return "file holds " + std::to_string(run.file.size()) + " bytes in " +
           std::to_string(run.writes) + " writes";
}

const std::vector<Mode> kAllModes = {{false, false}, {false, true}, {true, false}, {true, true}};

struct StepParam {
    Mode mode;
    int step;
    int index;
};

void PrintTo(const StepParam& p, std::ostream* os)
{
    *os << ModeName(p.mode) << " " << kStepNames[p.step];
}

std::vector<StepParam> AllSteps(const std::vector<Mode>& modes)
{
    std::vector<StepParam> params;
    for (const Mode& mode : modes)
        for (int step = 0; step < kStepCount; ++step)
            params.push_back(StepParam{mode, step, static_cast<int>(params.size())});
    return params;
}

std::string StepParamName(const ::testing::TestParamInfo<StepParam>& info)
{
    return ModeName(info.param.mode) + "_" + kStepNames[info.param.step];
}

// ---- The undisturbed session, the reference for all the others. ----

class WholeSession : public ::testing::TestWithParam<Mode> {};

TEST_P(WholeSession, CompletesAndStaysUsable)
{
    Session session(GetParam());
    std::string address = Address(4, static_cast<int>(GetParam().envelope) * 2 + GetParam().acks);
    TestPeer peer(address, kDevicePort, [&](TestPeer& p) {
        session.Serve(p, 0, kStepCount);
        session.Await(p, kFirstReply);
        p.Send(session.Packet(kFirstReply));
        session.Serve(p, kData1, kStepCount);
    });
    ASSERT_TRUE(peer.Listening());
    Object obj = NewObject(kWaitMs);
    ClientRun run;
    Connect(obj.get(), address, &run);
    ExpectConnected(run, GetParam());
    for (int round = 0; round < 2; ++round) {
        Fetch(obj.get(), &run);
        EXPECT_EQ(run.fetch, 0);
        EXPECT_TRUE(run.file == DataBefore(kStepCount)) << FileTrace(run);
        EXPECT_EQ(run.writes, 3);
        EXPECT_EQ(run.connectedAfterFetch, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, WholeSession, ::testing::ValuesIn(kAllModes),
                         [](const ::testing::TestParamInfo<Mode>& info) {
                             return ModeName(info.param);
                         });

// ---- Cuts: the device closes its side after `offset` bytes of a packet. ----
//
// Expected, from the rules of each step:
// - offset 0 of the greeting: nothing is readable but the end of the
//   stream, so the greeting wait fails and 71002 replaces its 71000;
// - any other cut while connecting: the receive meets the end of the stream
//   (71000, which closes the socket). A cut in the probe or a negotiation
//   does not stop the set-up, but every later send finds no socket and
//   records nothing, so the device-type query fails and Connect reports the
//   71000 that still stands;
// - a cut while fetching: 71000, closed, and the file holds exactly the data
//   packets that arrived whole before the cut.

class CutSweep : public ::testing::TestWithParam<StepParam> {};

TEST_P(CutSweep, EveryByteOffset)
{
    const StepParam& param = GetParam();
    Session session(param.mode);
    std::string packet = session.Packet(param.step);
    std::string address = Address(1, param.index);
    for (std::size_t offset = 0; offset < packet.size(); ++offset) {
        SCOPED_TRACE("cut after " + std::to_string(offset) + " of " +
                     std::to_string(packet.size()) + " bytes of " + kStepNames[param.step]);
        ClientRun run;
        {
            TestPeer peer(address, kDevicePort, [&](TestPeer& p) {
                session.Serve(p, 0, param.step);
                session.Await(p, param.step);
                p.CutAfter(packet, offset);
            });
            ASSERT_TRUE(peer.Listening());
            run = RunSession(address, kWaitMs);
        }
        EXPECT_LT(run.connectTime.count(), kWaitMs);
        EXPECT_LT(run.fetchTime.count(), kWaitMs);
        if (InConnect(param.step)) {
            ExpectConnectFailed(run, param.step == kGreeting && offset == 0 ? 71002 : 71000);
        } else {
            ExpectConnected(run, param.mode);
            EXPECT_EQ(run.fetch, 71000);
            EXPECT_EQ(run.connectedAfterFetch, 0);
            EXPECT_TRUE(run.file == DataBefore(param.step)) << FileTrace(run);
        }
        if (HasFailure())
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Steps, CutSweep, ::testing::ValuesIn(AllSteps(kAllModes)), StepParamName);

// ---- Stalls: the device falls silent before a packet. ----
//
// Expected, with the wait limit L:
// - before the greeting: the greeting wait runs out: 71002 after L, closed;
// - before a negotiation answer: that exchange and each later one of the
//   set-up waits L (10060, which keeps the socket), until the device-type
//   query fails and Connect closes: 10060 after 4 L (probe), 3 L (packet
//   size) or 2 L (acknowledgement mode);
// - before the device type or identification answer: 10060 after L, closed;
// - while fetching: 10060 after L, the connection closed (the rest of the
//   stream would otherwise answer the next request), and the file holds
//   the data packets that arrived before the stall.
// The object then connects again and fetches again, completely.

const int kStallWaits[kStepCount] = {1, 4, 3, 2, 1, 1, 1, 1, 1, 1, 1};

class StallSweep : public ::testing::TestWithParam<StepParam> {};

TEST_P(StallSweep, WaitLimitThenRecovery)
{
    const StepParam& param = GetParam();
    Session session(param.mode);
    std::string address = Address(2, param.index);
    TestPeer peer(
        address, kDevicePort,
        [&](TestPeer& p) {
            session.Serve(p, 0, param.step);
            session.Await(p, param.step);
            // The client gives up and closes; it then connects afresh.
            EXPECT_TRUE(p.WaitForClose());
            if (!p.AcceptNext())
                return;
            session.Serve(p, 0, kStepCount);
        },
        Ms(15000));
    ASSERT_TRUE(peer.Listening());

    const std::int64_t waited = kStallWaits[param.step] * kStallWaitMs;
    const std::int64_t slack = 3000;
    // The short limit only for the operation that meets the stall: a slow
    // machine (or wine) must not turn the other waits into stalls too.
    Object obj = NewObject(InConnect(param.step) ? kStallWaitMs : kWaitMs);
    ClientRun run;
    Connect(obj.get(), address, &run);
    if (InConnect(param.step)) {
        EXPECT_EQ(run.connect, param.step == kGreeting ? 71002 : 10060);
        EXPECT_EQ(run.connectedAfterConnect, 0);
        EXPECT_GE(run.connectTime.count(), waited * 9 / 10);
        EXPECT_LT(run.connectTime.count(), waited + slack);
        VexaComm_SetWaitLimit(obj.get(), static_cast<std::uint32_t>(kWaitMs));
        Connect(obj.get(), address, &run);
        ExpectConnected(run, param.mode);
    } else {
        ExpectConnected(run, param.mode);
        VexaComm_SetWaitLimit(obj.get(), static_cast<std::uint32_t>(kStallWaitMs));
        Fetch(obj.get(), &run);
        EXPECT_EQ(run.fetch, 10060);
        EXPECT_EQ(run.connectedAfterFetch, 0);
        EXPECT_TRUE(run.file == DataBefore(param.step)) << FileTrace(run);
        EXPECT_GE(run.fetchTime.count(), waited * 9 / 10);
        EXPECT_LT(run.fetchTime.count(), waited + slack);
        VexaComm_SetWaitLimit(obj.get(), static_cast<std::uint32_t>(kWaitMs));
        Connect(obj.get(), address, &run);
        ExpectConnected(run, param.mode);
    }
    Fetch(obj.get(), &run);
    EXPECT_EQ(run.fetch, 0);
    EXPECT_TRUE(run.file == DataBefore(kStepCount)) << FileTrace(run);
    EXPECT_EQ(run.connectedAfterFetch, 1);
}

INSTANTIATE_TEST_SUITE_P(Steps, StallSweep, ::testing::ValuesIn(AllSteps(kAllModes)),
                         StepParamName);

// ---- Corruption: an enveloped packet arrives with one byte flipped. ----
//
// The checksum covers header and payload and the trailer's words are fixed,
// so no flip can pass. A flip in the command, payload, checksum or tail
// words costs exactly that packet, and the rules then give:
// - greeting, device type or identification answer: Connect fails without
//   a recorded reason and leaves the object closed: 71006;
// - probe answer: the probe counts as unanswered, but the framing of what
//   came (an envelope) stands, so the set-up goes on enveloped;
// - packet-size or acknowledgement answer: that negotiation keeps its
//   fallback (16376, or acknowledgements off) and the session completes;
// - first reply, data packet or end mark: the fetch fails with 71010 and
//   the connection closed (what follows of the stream must not answer the
//   next request), and the file holds the data packets before the
//   corrupted one.
// A flip in the head words or the length field leaves the stream out of
// step (or makes the client wait for bytes that never come); what follows
// can depend on timing, so those cases check only that nothing wrong is
// accepted: the device's data and values, or a failure.

bool FlipKeepsStreamInStep(std::size_t offset)
{
    return offset >= 8 && !(offset >= 12 && offset < 16);
}

class CorruptionSweep : public ::testing::TestWithParam<StepParam> {};

TEST_P(CorruptionSweep, EveryByteFlipped)
{
    const StepParam& param = GetParam();
    Session session(param.mode);
    const std::string packet = session.Packet(param.step);
    std::string address = Address(3, param.index);
    // The client's acknowledgements as the device must expect them: a
    // corrupted acknowledgement answer leaves the client at "off".
    const bool clientAcks = param.step == kAckAnswer ? false : param.mode.acks;
    for (std::size_t offset = 0; offset < packet.size(); ++offset) {
        SCOPED_TRACE("byte " + std::to_string(offset) + " of " +
                     std::to_string(packet.size()) + " of " + kStepNames[param.step] +
                     " flipped");
        ClientRun run;
        int nextFraming = -1; // of the client's first packet after the flip
        {
            TestPeer peer(address, kDevicePort, [&](TestPeer& p) {
                session.Serve(p, 0, param.step);
                session.Await(p, param.step);
                std::string bad = packet;
                bad[offset] = static_cast<char>(bad[offset] ^ 0xFF);
                p.Send(bad);
                for (int step = param.step + 1; step < kStepCount; ++step) {
                    std::uint32_t command = Session::Awaited(step, clientAcks);
                    if (command != 0) {
                        PeerPacket next = p.NextPacket(kQuietWait);
                        if (nextFraming < 0 && next.complete)
                            nextFraming = next.enveloped ? 1 : 0;
                        if (!next.complete || next.command != command) {
                            p.Close();
                            return;
                        }
                    }
                    p.Send(session.Packet(step));
                }
                // A client still waiting for bytes gets the end of the stream.
                p.NextPacket(kQuietWait);
                p.Close();
            });
            ASSERT_TRUE(peer.Listening());
            run = RunSession(address, kWaitMs);
        }
        EXPECT_LT(run.connectTime.count(), kWaitMs);
        EXPECT_LT(run.fetchTime.count(), kWaitMs);

        // Never accepted, whatever the flip.
        if (run.connect == 0) {
            EXPECT_EQ(run.connectedAfterConnect, 1);
            EXPECT_EQ(run.deviceType, 769);
            EXPECT_EQ(run.ident, kIdent);
        } else {
            ExpectConnectFailed(run, run.connect);
        }
        if (param.step == kGreeting || param.step == kTypeAnswer || param.step == kIdentAnswer) {
            EXPECT_NE(run.connect, 0);
        }
        if (param.step == kSizeAnswer) {
            EXPECT_EQ(run.packetSize, 16376);
        } else if (param.step > kSizeAnswer) {
            EXPECT_EQ(run.packetSize, kPacketSize);
        }
        if (param.step == kAckAnswer) {
            EXPECT_EQ(run.ackMode, 0);
        } else if (param.step > kAckAnswer) {
            EXPECT_EQ(run.ackMode, param.mode.acks ? 1 : 0);
        }
        if (param.step == kProbeAnswer && nextFraming >= 0) {
            EXPECT_EQ(nextFraming, offset >= 8 ? 1 : 0) << "framing of what came decides";
        }
        if (run.fetch == 0) {
            EXPECT_LT(param.step, kFirstReply);
            EXPECT_TRUE(run.file == DataBefore(kStepCount)) << FileTrace(run);
        } else {
            bool wholePackets = false;
            for (int step = kData1; step <= kEndMark; ++step)
                wholePackets = wholePackets || run.file == DataBefore(step);
            EXPECT_TRUE(wholePackets) << FileTrace(run);
        }
        if (param.step >= kFirstReply) {
            EXPECT_TRUE(run.file == DataBefore(param.step)) << FileTrace(run);
            if (run.fetch != 71010) {
                EXPECT_EQ(run.fetch, 71000);
            }
            EXPECT_EQ(run.connectedAfterFetch, 0);
        }

        if (FlipKeepsStreamInStep(offset)) {
            switch (param.step) {
            case kGreeting:
                ExpectConnectFailed(run, 71002);
                break;
            case kTypeAnswer:
            case kIdentAnswer:
                ExpectConnectFailed(run, 71010);
                break;
            case kProbeAnswer:
            case kSizeAnswer:
            case kAckAnswer:
                EXPECT_EQ(run.connect, 0);
                EXPECT_EQ(run.fetch, 0);
                EXPECT_EQ(run.connectedAfterFetch, 1);
                break;
            default:
                EXPECT_EQ(run.fetch, 71010);
                EXPECT_EQ(run.connectedAfterFetch, 0);
                break;
            }
        }
        if (HasFailure())
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Steps, CorruptionSweep,
                         ::testing::ValuesIn(AllSteps({Mode{true, false}, Mode{true, true}})),
                         StepParamName);

} // namespace
