#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <utility>
#include <vector>

#include "SimulatedDevice.h"
#include "doubles/FailingClose.h"
#include "doubles/TempDir.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using Message = std::pair<std::uint32_t, std::int32_t>;

struct ProgressLog {
    std::vector<Message> messages;
    std::thread::id thread;
    static void Callback(void* user, std::uint32_t w, std::int32_t l)
    {
        auto* log = static_cast<ProgressLog*>(user);
        log->messages.emplace_back(w, l);
        log->thread = std::this_thread::get_id();
    }
};

TEST(ExtensionProgress, SynchronousObserverSeesEveryPacket)
{
    SimulatorOptions o;
    o.generatedBytes = 4 * 16376; // four data packets
    SimulatedDevice dev(o);
    Object obj = NewObject();
    ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
    ProgressLog log;
    VexaComm_SetProgressCallback(obj.get(), &ProgressLog::Callback, &log, 0);
    CaptureFile file;
    file.data.assign(10, 'x'); // a file that already holds 10 bytes: one packet's worth
    ASSERT_EQ(VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data()), 0);
    std::vector<Message> expected = {{1, 5}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}, {1, 0}};
    EXPECT_EQ(log.messages, expected);
    EXPECT_EQ(log.thread, std::this_thread::get_id());
    EXPECT_EQ(VexaComm_DispatchProgress(obj.get()), 0);
}

// The device sends packets of the size it answered last: the range counts
// those, so that range and positions end together.
TEST(ExtensionProgress, RangeFollowsAPacketSizeChange)
{
    SimulatorOptions o;
    o.generatedBytes = 20 * 1000 - 1;
    SimulatedDevice dev(o);
    Object obj = NewObject();
    ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
    std::uint16_t size = 1000;
    ASSERT_EQ(VexaComm_SetPacketSizeMax(obj.get(), &size), 0);
    ASSERT_EQ(size, 1000);
    ProgressLog log;
    VexaComm_SetProgressCallback(obj.get(), &ProgressLog::Callback, &log, 0);
    CaptureFile file;
    ASSERT_EQ(VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data()), 0);
    EXPECT_EQ(file.writes, 20);
    ASSERT_GE(log.messages.size(), 3u);
    EXPECT_EQ(log.messages.front(), (Message{1, 20}));
    EXPECT_EQ(log.messages[log.messages.size() - 2], (Message{0, 20}));
    EXPECT_EQ(VexaComm_GetPacketSizeMax(obj.get()), 16376);
}

TEST(ExtensionProgress, QueuedObserverRunsOnDispatch)
{
    SimulatorOptions o;
    o.generatedBytes = 2 * 16376;
    SimulatedDevice dev(o);
    Object obj = NewObject();
    ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
    ProgressLog log;
    VexaComm_SetProgressCallback(obj.get(), &ProgressLog::Callback, &log, 1);
    CaptureFile file;
    ASSERT_EQ(VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data()), 0);
    EXPECT_TRUE(log.messages.empty());
    EXPECT_EQ(VexaComm_DispatchProgress(obj.get()), 5);
    std::vector<Message> expected = {{1, 2}, {0, 0}, {0, 1}, {0, 2}, {1, 0}};
    EXPECT_EQ(log.messages, expected);

    // Removed: nothing more is queued or delivered.
    VexaComm_SetProgressCallback(obj.get(), nullptr, nullptr, 0);
    ASSERT_EQ(VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data()), 0);
    EXPECT_EQ(VexaComm_DispatchProgress(obj.get()), 0);
    EXPECT_EQ(log.messages.size(), expected.size());
}

TEST(ExtensionProgress, EndMessageAfterAFailure)
{
    SimulatorOptions o;
    o.fault = SimFault::Close;
    o.faultAfterPackets = 1;
    SimulatedDevice dev(o);
    Object obj = NewObject();
    ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
    ProgressLog log;
    VexaComm_SetProgressCallback(obj.get(), &ProgressLog::Callback, &log, 0);
    CaptureFile file;
    EXPECT_EQ(VexaComm_GetAsdu10(obj.get(), &file, AllEntries().data()), 71000);
    ASSERT_FALSE(log.messages.empty());
    EXPECT_EQ(log.messages.back(), Message(1, 0));
}

TEST(ExtensionApi, ErrorTexts)
{
    Object obj = NewObject();
    char text[128];
    // Readable English without a companion library, whatever the kind of
    // code; the device's own codes by number.
    const std::pair<int32_t, const char*> rows[] = {
        {0, ""},
        {13, "disk full"},
        {10060, "timed out: the device did not answer within the wait limit"},
        {10061, "connection refused: nothing listens on the device's port"},
        {10054, "connection reset by the device"},
        {71002, "no valid greeting from the device after the TCP connect"},
        {71003, "the device answered with an unexpected command"},
        {71004, "the device cancelled the transfer"},
        {71005, "cancelled at the host's request"},
        {71006, "no connection is open"},
        {71015, "not a device address: this-network, multicast, reserved or broadcast"},
        {75001, "the device refused the user's verification"},
        {-5, "device error -5"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(VexaComm_GetErrorText(obj.get(), row.first, text, sizeof(text)),
                  static_cast<int32_t>(std::strlen(row.second)));
        EXPECT_STREQ(text, row.second) << row.first;
    }
    // A short buffer gets a cut, zero-terminated text and the full length.
    char small[6];
    EXPECT_EQ(VexaComm_GetErrorText(obj.get(), 71006, small, sizeof(small)), 21);
    EXPECT_STREQ(small, "no co");
    // One exactly as long as the text has no room for its zero either.
    char exact[32];
    std::memset(exact, 'x', sizeof(exact));
    EXPECT_EQ(VexaComm_GetErrorText(obj.get(), 71006, exact, 21), 21);
    EXPECT_STREQ(exact, "no connection is ope");
    EXPECT_EQ(exact[21], 'x');
}

TEST(ExtensionApi, WaitLimit)
{
    Object obj(VexaComm_CreateObject());
    EXPECT_EQ(VexaComm_GetWaitLimit(obj.get()), 30030u);
    VexaComm_SetWaitLimit(obj.get(), 1500);
    EXPECT_EQ(VexaComm_GetWaitLimit(obj.get()), 1500u);
    VexaComm_SetWaitLimit(obj.get(), 0);
    EXPECT_EQ(VexaComm_GetWaitLimit(obj.get()), 30030u);
}

TEST(ExtensionApi, LogPathReceivesErrors)
{
    TempDir dir;
    std::string path = dir.File("vexacomm.log");
    VexaComm_SetLogPath(path.c_str());
    Object obj = NewObject();
    EXPECT_EQ(VexaComm_Connect(obj.get(), "127.2.255.254"), 10061);
    VexaComm_SetLogPath(nullptr);
    std::string log = ReadWholeFile(path);
    EXPECT_NE(log.find("CGLSocket::SetError(10061,CONN-10061 : "), std::string::npos) << log;
    EXPECT_EQ(VexaComm_Connect(obj.get(), "127.2.255.254"), 10061);
    EXPECT_EQ(ReadWholeFile(path), log);
}

TEST(ExtensionApi, FetchIntoAPath)
{
    TempDir dir;
    SimulatedDevice dev(SimulatorOptions{});
    Object obj = NewObject();
    std::string path = dir.File("out.bin");
    // Without a connection nothing is fetched, and the file stays.
    WriteWholeFile(path, "kept");
    EXPECT_EQ(VexaComm_GetAsdu10ToPath(obj.get(), path.c_str(), AllEntries().data()), 71006);
    EXPECT_EQ(ReadWholeFile(path), "kept");
    ASSERT_EQ(VexaComm_Connect(obj.get(), dev.address()), 0);
    WriteWholeFile(path, "stale content that must go");
    EXPECT_EQ(VexaComm_GetAsdu10ToPath(obj.get(), path.c_str(), AllEntries().data()), 0);
    EXPECT_TRUE(ReadWholeFile(path) == Generated(SimulatorOptions{}.generatedBytes));
    EXPECT_EQ(VexaComm_GetAsdu10ToPath(obj.get(), dir.File("no/such/dir/x").c_str(),
                                       AllEntries().data()),
              71200);
#ifndef _WIN32
    // Refused at once, not waited on: a FIFO without a reader would block
    // the open, and with it every call on the object.
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& refused : {fifo, std::string("/dev/null")}) {
        auto call = std::async(std::launch::async, [&] {
            return VexaComm_GetAsdu10ToPath(obj.get(), refused.c_str(), AllEntries().data());
        });
        if (call.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << refused << ": the open waits for a reader";
            // A reader frees it; its data is drained until it ends.
            const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
            char sink[65536];
            for (int i = 0; i < 100000 && call.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready; ++i)
                (void)!::read(reader, sink, sizeof(sink));
            ::close(reader);
        }
        EXPECT_EQ(call.get(), 71200) << refused;
        EXPECT_EQ(VexaComm_IsConnected(obj.get()), 1) << refused;
    }
#endif
#ifdef VEXACOMM_FAILING_CLOSE
    // The data were not all written when the close says so.
    ScopedFailingClose failing;
    EXPECT_EQ(VexaComm_GetAsdu10ToPath(obj.get(), path.c_str(), AllEntries().data()), CFileException::hardIO);
    EXPECT_EQ(failing.Failed(), 1);
#endif
}

TEST(ExtensionApi, WaitTransferDoneWhileIdle)
{
    Object obj(VexaComm_CreateObject());
    EXPECT_EQ(VexaComm_WaitTransferDone(obj.get(), 0), 1);
    EXPECT_EQ(VexaComm_WaitTransferDone(obj.get(), 0), 1);
    EXPECT_EQ(VexaComm_IsConnected(obj.get()), 0);
    char ident[8] = "junk";
    EXPECT_EQ(VexaComm_GetIdent(obj.get(), ident, sizeof(ident)), 0);
    EXPECT_STREQ(ident, "");
}

} // namespace
