#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>

#include "SimulatedDevice.h"
#include "doubles/TestPeer.h"
#include "vexacomm/Protocol.h"

namespace {


std::string Ident(VexaCommObject* obj)
{
    char buf[256];
    VexaComm_GetIdent(obj, buf, sizeof(buf));
    return buf;
}

TEST(DeviceConnect, FullSequenceInOrder)
{
    SimulatorOptions o;
    o.ident = "Bay 7 protection";
    o.deviceType = 0x0301;
    o.packetSize = 8192;
    o.ackMode = 3;
    SimulatedDevice dev(o);
    Object obj = NewObject();

    ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
    EXPECT_EQ(VexaComm_IsConnected(obj.get()), 1);
    EXPECT_EQ(VexaComm_GetDeviceType(obj.get()), 769);
    EXPECT_EQ(Ident(obj.get()), "Bay 7 protection");
    EXPECT_EQ(VexaComm_GetPacketSizeMax(obj.get()), 8192);
    std::vector<std::uint32_t> expected = {CMD_ENVELOPE_PROBE, CMD_PACKET_SIZE, CMD_ACK_MODE,
                                           CMD_DEVICE_TYPE, CMD_IDENT};
    EXPECT_EQ(dev->Commands(), expected);

    // Connected already: nothing is sent, even for another host.
    EXPECT_EQ(VexaComm_Connect(obj.get(), "127.255.255.254"), 0);
    EXPECT_EQ(dev->Commands().size(), expected.size());
    EXPECT_EQ(dev->ConnectionsServed(), 1u);
}

TEST(DeviceConnect, UnknownDeviceTypeIsStoredAs42)
{
    // Reported type, stored type: the known list is kept as it is.
    const std::pair<std::uint16_t, std::uint16_t> rows[] = {
        {2, 2},     {42, 42},     {43, 43},     {50, 50},       {698, 698},
        {702, 702}, {769, 769},   {946, 946},   {962, 962},     {1793, 1793},
        {4122, 4122}, {28698, 28698}, {0, 42},  {964, 42},      {0x1234, 42},
    };
    for (const auto& row : rows) {
        SimulatorOptions o;
        o.deviceType = row.first;
        SimulatedDevice dev(o);
        Object obj = NewObject();
        ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0) << row.first;
        EXPECT_EQ(VexaComm_GetDeviceType(obj.get()), row.second) << row.first;
    }
}

// A packet the device sent unasked, behind its last negotiation answer, is
// gone before the device-type request: the answer read is the request's own.
TEST(DeviceConnect, StaleInputIsDiscardedBeforeTheDeviceTypeRequest)
{
    TestPeer peer("127.3.6.20", 0, [](TestPeer& p) {
        p.Send(wire::Bare(CMD_REPLY, std::string()));
        EXPECT_EQ(p.ExpectPacket().command, CMD_ENVELOPE_PROBE);
        p.SendPacket(CMD_REPLY, std::string());
        EXPECT_EQ(p.ExpectPacket().command, CMD_PACKET_SIZE);
        p.SendPacket(CMD_PACKET_SIZE, wire::U16(16376));
        EXPECT_EQ(p.ExpectPacket().command, CMD_ACK_MODE);
        p.Send(wire::Bare(CMD_ACK_MODE, wire::U16(0)) + wire::Bare(CMD_STATUS, wire::U32(5)));
        EXPECT_EQ(p.ExpectPacket().command, CMD_DEVICE_TYPE);
        p.SendPacket(CMD_DEVICE_TYPE, wire::U16(946));
        EXPECT_EQ(p.ExpectPacket().command, CMD_IDENT);
        p.SendPacket(CMD_IDENT, "fresh");
    });
    Object obj = NewObject();
    EXPECT_EQ(VexaComm_ConnectPort(obj.get(), "127.3.6.20", peer.Port()), 0);
    EXPECT_EQ(VexaComm_GetDeviceType(obj.get()), 946);
    EXPECT_EQ(Ident(obj.get()), "fresh");
    obj.reset();
    peer.Join();
}

TEST(DeviceConnect, RefusedGreeting)
{
    SimulatorOptions o;
    o.refuseGreeting = true;
    SimulatedDevice dev(o);
    Object obj = NewObject();
    EXPECT_EQ(VexaComm_Connect(obj.get(), dev.address()), 71001);
    EXPECT_EQ(VexaComm_IsConnected(obj.get()), 0);
}

TEST(DeviceConnect, IdentRefusedWithUserVerification)
{
    SimulatorOptions o;
    o.replyCommand = CMD_IDENT;
    o.replyCode = 75001;
    SimulatedDevice dev(o);
    Object obj = NewObject();
    EXPECT_EQ(VexaComm_Connect(obj.get(), dev.address()), 75001);
    EXPECT_EQ(VexaComm_IsConnected(obj.get()), 0);
    EXPECT_EQ(VexaComm_GetDeviceType(obj.get()), 0);
    EXPECT_EQ(Ident(obj.get()), "");
    char text[64];
    EXPECT_EQ(VexaComm_GetErrorText(obj.get(), 75001, text, sizeof(text)), 42);
    EXPECT_EQ(std::string(text), "the device refused the user's verification");
}

TEST(DeviceConnect, IdentAnsweredWithStatusIsUnexpected)
{
    SimulatorOptions o;
    o.statusCommand = CMD_IDENT;
    SimulatedDevice dev(o);
    Object obj = NewObject();
    EXPECT_EQ(VexaComm_Connect(obj.get(), dev.address()), 71003);
    EXPECT_EQ(VexaComm_IsConnected(obj.get()), 0);
}

// Only a strict dotted quad is an address; the shorthand forms of the
// simulator's own address never reach it, and no device has the others.
TEST(DeviceConnect, AddressForms)
{
    SimulatedDevice dev(SimulatorOptions{});
    unsigned a = 0, b = 0, c = 0, d = 0;
    ASSERT_EQ(std::sscanf(dev.address(), "%u.%u.%u.%u", &a, &b, &c, &d), 4);
    const std::string quad = dev.address();
    const std::pair<std::string, std::int32_t> rows[] = {
        {std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c * 256 + d), 11001},
        {"0x7f." + std::to_string(b) + "." + std::to_string(c) + "." + std::to_string(d), 11001},
        {std::to_string(((a * 256 + b) * 256 + c) * 256 + d), 11001},
        {quad + " ", 11001},
        {quad + " trailing", 11001},
        {"255.255.255.255", VEXACOMM_ERR_NOT_DEVICE_ADDRESS},
        {"0.0.0.0", VEXACOMM_ERR_NOT_DEVICE_ADDRESS},
        {"0.1.2.3", VEXACOMM_ERR_NOT_DEVICE_ADDRESS},
        {"224.0.0.1", VEXACOMM_ERR_NOT_DEVICE_ADDRESS},
        {"240.1.2.3", VEXACOMM_ERR_NOT_DEVICE_ADDRESS},
    };
    for (const auto& row : rows) {
        Object obj = NewObject();
        EXPECT_EQ(VexaComm_Connect(obj.get(), row.first.c_str()), row.second) << "'" << row.first << "'";
        EXPECT_EQ(VexaComm_IsConnected(obj.get()), 0) << "'" << row.first << "'";
    }
    EXPECT_EQ(dev->ConnectionsServed(), 0u);
    Object obj = NewObject();
    EXPECT_EQ(VexaComm_Connect(obj.get(), quad.c_str()), 0);
}

TEST(DeviceConnect, LocalhostResolves)
{
    SimulatorOptions o;
    o.bindAddress = "127.0.0.1";
    CDeviceSimulator sim(o);
    std::string error;
    if (!sim.Start(&error))
        GTEST_SKIP() << "127.0.0.1:30282 is taken on this machine: " << error;
    Object obj = NewObject();
    EXPECT_EQ(VexaComm_Connect(obj.get(), "localhost"), 0);
    EXPECT_EQ(VexaComm_IsConnected(obj.get()), 1);
}

TEST(DeviceConnect, ReconnectsAfterTheDeviceWentAway)
{
    SimulatorOptions o;
    o.fault = SimFault::Close;
    o.generatedBytes = 100000;
    SimulatedDevice dev(o);
    Object obj = NewObject();
    ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
    CaptureFile file;
    EXPECT_EQ(VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data()), 71000);
    EXPECT_EQ(VexaComm_IsConnected(obj.get()), 0);
    ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
    EXPECT_EQ(dev->ConnectionsServed(), 2u);
}

TEST(DeviceConnect, ConnectPortReachesAnotherPort)
{
    SimulatorOptions o;
    o.port = 0;
    SimulatedDevice dev(o);
    Object obj = NewObject();
    EXPECT_EQ(VexaComm_ConnectPort(obj.get(), dev.address(), dev->Port()), 0);
    EXPECT_EQ(VexaComm_IsConnected(obj.get()), 1);
}

} // namespace
