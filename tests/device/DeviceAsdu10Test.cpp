#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "SimulatedDevice.h"
#include "doubles/TestPeer.h"
#include "vexacomm/Protocol.h"

namespace {

struct Framing {
    bool envelope;
    std::uint16_t ackMode;
};

class Asdu10Transfer : public ::testing::TestWithParam<Framing> {};

TEST_P(Asdu10Transfer, FileHoldsExactlyTheDevicesData)
{
    for (std::uint32_t total : {0u, 1u, 16376u, 16377u, 32753u, 3u * 1024 * 1024 + 5}) {
        SCOPED_TRACE(total);
        SimulatorOptions o;
        o.envelope = GetParam().envelope;
        o.ackMode = GetParam().ackMode;
        o.generatedBytes = total;
        SimulatedDevice dev(o);
        Object obj = NewObject();
        ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
        CaptureFile file;
        EXPECT_EQ(VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data()), 0);
        EXPECT_EQ(file.data.size(), total);
        EXPECT_TRUE(file.data == Generated(total));
        EXPECT_EQ(file.writes, static_cast<int>((total + 16375) / 16376));
        EXPECT_EQ(dev->TransfersCompleted(), total == 0 ? 0u : 1u);
        // The connection serves the next request after a transfer.
        CaptureFile again;
        EXPECT_EQ(VexaComm_GetAsdu10(obj.get(), &again, AllEntries().data()), 0);
        EXPECT_TRUE(again.data == file.data);
    }
}

INSTANTIATE_TEST_SUITE_P(Framings, Asdu10Transfer,
                         ::testing::Values(Framing{false, 0}, Framing{true, 0}, Framing{false, 1},
                                           Framing{true, 30000}),
                         [](const ::testing::TestParamInfo<Framing>& info) {
                             return std::string(info.param.envelope ? "Envelope" : "Bare") +
                                    (info.param.ackMode ? "Acks" : "NoAcks");
                         });

TEST(Asdu10Request, BlocksGoOutUnchanged)
{
    SimulatedDevice dev(SimulatorOptions{});
    Object obj = NewObject();
    ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
    for (int n : {-1, 0, 1, 2046}) {
        std::string block(Asdu10BlockSize(n), '\0');
        for (std::size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>(i * 7 + 1);
        block[6] = static_cast<char>(n & 0xFF);
        block[7] = static_cast<char>(n >> 8);
        CaptureFile file;
        EXPECT_EQ(VexaComm_GetAsdu10(obj.get(), &file, block.data()), 0);
        EXPECT_EQ(dev->LastRequest(), block.substr(0, Asdu10RequestSize(n))) << "entries " << n;
    }
}

TEST(Asdu10Request, CountThatDoesNotFitIsRefusedWithoutTraffic)
{
    SimulatedDevice dev(SimulatorOptions{});
    Object obj = NewObject();
    ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
    std::size_t before = dev->Commands().size();
    for (int n : {2047, -2}) {
        std::string block(16, '\0');
        block[6] = static_cast<char>(n & 0xFF);
        block[7] = static_cast<char>((n >> 8) & 0xFF);
        CaptureFile file;
        EXPECT_EQ(VexaComm_GetAsdu10(obj.get(), &file, block.data()), 71010);
        EXPECT_EQ(file.writes, 0);
    }
    EXPECT_EQ(dev->Commands().size(), before);
    EXPECT_EQ(VexaComm_IsConnected(obj.get()), 1);
}

TEST(Asdu10Request, RenegotiatedPacketSizeLeavesTheConnectValue)
{
    SimulatedDevice dev(SimulatorOptions{});
    Object obj = NewObject();
    ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
    std::uint16_t size = 8192;
    EXPECT_EQ(VexaComm_SetPacketSizeMax(obj.get(), &size), 0);
    EXPECT_EQ(size, 8192);
    EXPECT_EQ(VexaComm_GetPacketSizeMax(obj.get()), 16376);
    // The device now sends 8192-byte packets; the data still arrives whole.
    CaptureFile file;
    EXPECT_EQ(VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data()), 0);
    EXPECT_TRUE(file.data == Generated(SimulatorOptions{}.generatedBytes));
    EXPECT_EQ(file.writes, static_cast<int>((SimulatorOptions{}.generatedBytes + 8191) / 8192));
    // A size refused without traffic leaves the device's size in force:
    // the progress still counts its packets to the end.
    size = 100;
    EXPECT_EQ(VexaComm_SetPacketSizeMax(obj.get(), &size), 0);
    static std::vector<std::pair<std::uint32_t, std::int32_t>> progress;
    progress.clear();
    VexaComm_SetProgressCallback(
        obj.get(), [](void*, uint32_t w, int32_t l) { progress.emplace_back(w, l); }, nullptr, 0);
    CaptureFile again;
    EXPECT_EQ(VexaComm_GetAsdu10(obj.get(), &again, AllEntries().data()), 0);
    ASSERT_GE(progress.size(), 3u);
    EXPECT_EQ(progress.front(), (std::pair<std::uint32_t, std::int32_t>{1, file.writes}));
    EXPECT_EQ(progress[progress.size() - 2], (std::pair<std::uint32_t, std::int32_t>{0, file.writes}));
}

TEST(Asdu10Faults, DeviceClosingMidStreamKeepsCompletePackets)
{
    SimulatorOptions o;
    o.fault = SimFault::Close;
    o.faultAfterPackets = 3;
    SimulatedDevice dev(o);
    Object obj = NewObject();
    ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
    CaptureFile file;
    EXPECT_EQ(VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data()), 71000);
    EXPECT_TRUE(file.data == Generated(3 * 16376));
    EXPECT_EQ(VexaComm_IsConnected(obj.get()), 0);
}

TEST(Asdu10Faults, DeviceCancel)
{
    SimulatorOptions o;
    o.fault = SimFault::Cancel;
    o.faultAfterPackets = 2;
    SimulatedDevice dev(o);
    Object obj = NewObject();
    ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
    CaptureFile file;
    EXPECT_EQ(VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data()), 71004);
    EXPECT_TRUE(file.data == Generated(2 * 16376));
    EXPECT_EQ(VexaComm_IsConnected(obj.get()), 1);
}

TEST(Asdu10Faults, DeviceReplyCodeInPlaceOfData)
{
    SimulatorOptions o;
    o.fault = SimFault::ReplyCode;
    o.faultAfterPackets = 1;
    o.faultCode = 75001;
    SimulatedDevice dev(o);
    Object obj = NewObject();
    ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
    CaptureFile file;
    EXPECT_EQ(VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data()), 75001);
    EXPECT_EQ(file.data.size(), 16376u);
}

TEST(Asdu10Faults, CorruptPacketIsAProtocolFailureNotSuccess)
{
    SimulatorOptions o;
    o.fault = SimFault::BadChecksum;
    o.faultAfterPackets = 2;
    SimulatedDevice dev(o);
    Object obj = NewObject();
    ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
    CaptureFile file;
    EXPECT_EQ(VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data()), 71010);
    EXPECT_TRUE(file.data == Generated(2 * 16376));
}

// An answer too short to hold the total: what follows it cannot be sized,
// so the stream is given up with the connection.
TEST(Asdu10Faults, AnswerShorterThanTheTotalClosesTheConnection)
{
    TestPeer peer("127.3.6.21", 0, [](TestPeer& p) {
        p.ServeSetup();
        EXPECT_EQ(p.ExpectPacket().command, CMD_DEVICE_TYPE);
        p.SendPacket(CMD_DEVICE_TYPE, wire::U16(946));
        EXPECT_EQ(p.ExpectPacket().command, CMD_IDENT);
        p.SendPacket(CMD_IDENT, "dev");
        EXPECT_EQ(p.ExpectPacket().command, CMD_ASDU10);
        p.SendPacket(CMD_ASDU10, std::string(3, 'x'));
        EXPECT_TRUE(p.WaitForClose());
    });
    Object obj = NewObject(1000);
    ASSERT_EQ(VexaComm_ConnectPort(obj.get(), "127.3.6.21", peer.Port()), 0);
    CaptureFile file;
    EXPECT_EQ(VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data()), 71010);
    EXPECT_EQ(file.data.size(), 0u);
    EXPECT_EQ(VexaComm_IsConnected(obj.get()), 0);
    peer.Join();
}

TEST(Asdu10Faults, StalledDeviceTimesOutAndCloses)
{
    SimulatorOptions o;
    o.fault = SimFault::Stall;
    o.faultAfterPackets = 1;
    SimulatedDevice dev(o);
    Object obj = NewObject(300);
    ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
    CaptureFile file;
    EXPECT_EQ(VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data()), 10060);
    EXPECT_EQ(file.data.size(), 16376u);
    // The rest of the stream must not answer the next request.
    EXPECT_EQ(VexaComm_IsConnected(obj.get()), 0);
}

class HostCancel : public ::testing::TestWithParam<std::uint16_t> {};

TEST_P(HostCancel, CancelMidTransferEndsWithCancelled)
{
    SimulatorOptions o;
    o.ackMode = GetParam();
    // Larger than the loopback buffers, so the device is still sending
    // when the cancel reaches it.
    o.generatedBytes = 48u << 20;
    SimulatedDevice dev(o);
    Object obj = NewObject();
    ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
    CaptureFile file;
    VexaCommObject* raw = obj.get();
    file.onWrite = [raw](int writes) {
        if (writes == 2)
            VexaComm_CancelTransfer(raw);
    };
    EXPECT_EQ(VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data()), 71005);
    EXPECT_EQ(dev->CancelsReceived(), 1u);
    EXPECT_LT(file.data.size(), static_cast<size_t>(o.generatedBytes));
    EXPECT_TRUE(file.data == Generated(file.data.size()));
    if (GetParam() != 0) {
        EXPECT_EQ(file.writes, 2);
    }
    EXPECT_EQ(VexaComm_WaitTransferDone(obj.get(), 0), 1);
    // The connection stays usable for the next request.
    CaptureFile next;
    EXPECT_EQ(VexaComm_GetAsdu10(obj.get(), &next, AllEntries().data()), 0);
    EXPECT_EQ(next.data.size(), static_cast<size_t>(o.generatedBytes));
}

// A cancel made as the request's answer arrives (the trace callback is its
// first sight of it) ends the transfer that answer starts.
TEST_P(HostCancel, CancelAsTheAnswerArrivesStillCounts)
{
    SimulatorOptions o;
    o.ackMode = GetParam();
    o.generatedBytes = 48u << 20;
    SimulatedDevice dev(o);
    Object obj = NewObject();
    ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
    VexaComm_SetTraceCallback(
        obj.get(),
        [](void* user, int32_t direction, uint32_t command, uint32_t length, int32_t, const void*) {
            if (direction == VEXACOMM_TRACE_RECEIVED && command == CMD_ASDU10 && length == 4)
                VexaComm_CancelTransfer(static_cast<VexaCommObject*>(user));
        },
        obj.get());
    CaptureFile file;
    EXPECT_EQ(VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data()), 71005);
    EXPECT_LT(file.data.size(), static_cast<size_t>(o.generatedBytes));
    EXPECT_TRUE(file.data == Generated(file.data.size()));
}

INSTANTIATE_TEST_SUITE_P(AckModes, HostCancel, ::testing::Values(0, 1));

TEST(SharedObject, ThreadsTakeTurnsAndEachGetsExactData)
{
    SimulatorOptions o;
    o.generatedBytes = 200000;
    SimulatedDevice dev(o);
    Object obj = NewObject();
    ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
    std::vector<std::thread> threads;
    std::vector<int> results(4, -1);
    std::vector<std::string> data(4);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            CaptureFile file;
            results[t] = VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data());
            data[t] = file.data;
        });
    }
    for (auto& th : threads)
        th.join();
    std::string expected = Generated(o.generatedBytes);
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(results[t], 0);
        EXPECT_TRUE(data[t] == expected);
    }
}

} // namespace
