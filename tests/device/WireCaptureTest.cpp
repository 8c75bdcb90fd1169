#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "SimulatedDevice.h"
#include "doubles/DebugCapture.h"
#include "doubles/TempDir.h"
#include "doubles/TestFs.h"
#include "vexacomm/Protocol.h"

namespace {

std::uint32_t Le32(const std::string& s, std::size_t at)
{
    std::uint32_t v;
    std::memcpy(&v, s.data() + at, 4);
    return v;
}
std::uint32_t Be32(const std::string& s, std::size_t at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(s.data() + at);
    return static_cast<std::uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// A capture read back independently of the writer: each direction's
// bytes by TCP source port, asserting that every segment starts where the
// previous one of its direction ended.
using Streams = std::map<std::uint16_t, std::string>;

Streams Reassemble(const std::string& file)
{
    Streams out;
    if (file.size() < 24)
        return out;
    EXPECT_EQ(Le32(file, 0), 0xA1B2C3D4u);
    EXPECT_EQ(Le32(file, 20), 101u);
    std::map<std::uint16_t, std::uint32_t> next;
    for (std::size_t at = 24; at + 16 <= file.size();) {
        const std::uint32_t kept = Le32(file, at + 8);
        const std::string ip = file.substr(at + 16, kept);
        at += 16 + kept;
        EXPECT_EQ(ip.size(), kept);
        EXPECT_EQ(static_cast<unsigned char>(ip[0]), 0x45);
        EXPECT_EQ((Be32(ip, 0) & 0xFFFF), kept);
        const std::uint16_t port = static_cast<std::uint16_t>(Be32(ip, 20) >> 16);
        const std::uint32_t seq = Be32(ip, 24);
        const unsigned char flags = static_cast<unsigned char>(ip[33]);
        if (flags & 0x02) {
            next[port] = seq + 1;
            continue;
        }
        EXPECT_EQ(seq, next[port]);
        next[port] = seq + static_cast<std::uint32_t>(kept - 40) + (flags & 0x01);
        out[port] += ip.substr(40);
    }
    return out;
}

// The data payloads of a device's stream, in either framing.
std::string DataPayloads(const std::string& stream)
{
    std::string data;
    for (std::size_t at = 0; at + 8 <= stream.size();) {
        const bool envelope = Le32(stream, at) == ENVELOPE_HEAD_MAGIC && Le32(stream, at + 4) == ENVELOPE_HEAD_MAGIC;
        if (envelope)
            at += ENVELOPE_HEAD_SIZE;
        const std::uint32_t length = Le32(stream, at + 4);
        // The first answer (a 4-byte total) is not data.
        if (Le32(stream, at) == CMD_ASDU10 && length != 4)
            data += stream.substr(at + 8, length);
        at += 8 + length + (envelope ? 12 : 0);
    }
    return data;
}

TEST(WireCapture, BothSidesCaptureTheSameStreamsAsTheyWent)
{
    for (bool envelope : {false, true}) {
        SCOPED_TRACE(envelope);
        TempDir dir;
        SimulatorOptions o;
        o.envelope = envelope;
        o.generatedBytes = 100000;
        o.ackMode = 1;
        o.captureFile = dir.File("device.pcap");
        SimulatedDevice dev(o);
        Object obj = NewObject();
        ASSERT_EQ(VexaComm_SetCaptureFile(obj.get(), dir.File("host.pcap").c_str()), 0);
        ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
        CaptureFile file;
        ASSERT_EQ(VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data()), 0);
        // On disk as the call returned, before the object goes.
        Streams host = Reassemble(ReadWholeFile(dir.File("host.pcap")));
        obj.reset();
        dev->Stop();
        Streams device = Reassemble(ReadWholeFile(dir.File("device.pcap")));

        ASSERT_EQ(host.size(), 2u);
        const std::uint16_t devicePort = 30282;
        std::string fromDevice = host[devicePort];
        EXPECT_TRUE(DataPayloads(fromDevice) == file.data);
        // The two ends agree byte for byte, in both directions.
        ASSERT_EQ(device.size(), 2u);
        EXPECT_TRUE(device[devicePort] == fromDevice);
        for (auto& side : host)
            EXPECT_TRUE(device[side.first] == side.second) << side.first;
    }
}

// A file has one writer: a second one, under another name of the file or
// in another process, is refused before it empties anything, and the file
// stays one whole capture. The same name shares the writer.
TEST(WireCapture, ASecondWriterOfOneFileIsRefused)
{
    enum Second { kSameName, kDotName, kSymbolicLink, kHardLink, kOtherProcess };
    const struct { const char* name; Second second; std::int32_t result; } rows[] = {
        {"the same name", kSameName, 0}, {"a name through .", kDotName, VEXACOMM_ERR_FILE_CREATE},
#ifndef _WIN32
        {"a symbolic link", kSymbolicLink, 71200}, {"a hard link", kHardLink, 71200},
#endif
        {"another process", kOtherProcess, VEXACOMM_ERR_FILE_CREATE}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        SimulatorOptions o;
        o.generatedBytes = 100000;
        SimulatedDevice dev(o);
        const std::string path = dir.File("cap.pcap");
        Object first = NewObject(), second = NewObject();
        ASSERT_EQ(VexaComm_SetCaptureFile(first.get(), path.c_str()), 0);
        ASSERT_EQ(VexaComm_Connect(first.get(), dev.address()), 0);
        CaptureFile before, after;
        ASSERT_EQ(VexaComm_GetAsdu10(first.get(), &before, AllEntries().data()), 0);
        std::string other = row.second == kSameName ? path : dir.File("./cap.pcap"), said;
        std::int32_t result = -1;
        if (row.second == kOtherProcess) {
#ifdef _WIN32
            const std::string command =
                "\"\"" + ProgramDirectory() + "service_test_child.exe\" capture \"" + path + "\"\"";
#else
            const std::string command = ProgramDirectory() + "service_test_child capture '" + path + "'";
#endif
            FILE* child = ::popen(command.c_str(), "r");
            ASSERT_NE(child, nullptr);
            char line[300];
            for (int i = 0; i < 10 && std::fgets(line, sizeof(line), child) != nullptr; ++i)
                said += line;
            ASSERT_EQ(::pclose(child), 0) << "service_test_child built?";
            result = std::atoi(said.c_str());
        } else {
#ifndef _WIN32
            auto* make = row.second == kHardLink ? ::link : row.second == kSymbolicLink ? ::symlink : nullptr;
            if (make != nullptr) {
                ASSERT_EQ(make(path.c_str(), (other = dir.File("l")).c_str()), 0);
            }
#endif
            DebugCapture log;
            result = VexaComm_SetCaptureFile(second.get(), other.c_str());
            for (const std::string& line : log.Lines())
                said += line;
        }
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(said.find("left as it is") != std::string::npos, row.result != 0) << said;
        ASSERT_EQ(VexaComm_GetAsdu10(first.get(), &after, AllEntries().data()), 0);
        first.reset();
        second.reset();
        Streams host = Reassemble(ReadWholeFile(path));
        ASSERT_EQ(host.size(), 2u);
        EXPECT_TRUE(DataPayloads(host[30282]) == before.data + after.data);
    }
}

#ifndef _WIN32
// A disk that fills mid-transfer: the fetch goes on whole, the capture
// stops with one line, and the file keeps a readable prefix.
TEST(WireCapture, FullDiskStopsTheCaptureNotTheFetch)
{
    TempDir dir;
    SimulatorOptions o;
    o.generatedBytes = 2u << 20;
    SimulatedDevice dev(o);
    Object obj = NewObject();
    ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
    ASSERT_EQ(VexaComm_SetCaptureFile(obj.get(), dir.File("c.pcap").c_str()), 0);
    DebugCapture log;
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 300000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    CaptureFile file;
    const std::int32_t rc = VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data());
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(file.data == Generated(2u << 20));
    int stopped = 0;
    for (const std::string& line : log.Lines())
        stopped += line.find("capture stopped") != std::string::npos;
    EXPECT_EQ(stopped, 1);
    const std::string kept = ReadWholeFile(dir.File("c.pcap"));
    EXPECT_GT(kept.size(), 24u);
    EXPECT_LE(kept.size(), 300000u);
    // The connection is still good for the next request.
    CaptureFile again;
    EXPECT_EQ(VexaComm_GetAsdu10(obj.get(), &again, AllEntries().data()), 0);
}
#endif

} // namespace
