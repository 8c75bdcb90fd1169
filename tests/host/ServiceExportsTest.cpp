// The service operations as an answering host meets them: through the
// shipped library and VexaCommService.h only, records compared with bytes
// built here, answers compared with what reached the peer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#ifdef _WIN32
#include "platform/win32/WinApi.h"
#endif

#include "VexaCommService.h"
#include "device/SimulatedDevice.h"
#include "service/ServiceTestUtil.h"
#include "doubles/TestPeer.h"

namespace {

// 2023-11-14 22:13:20 UTC: 2023-11-15 06:13:20 in CST-8.
constexpr std::int64_t kStamp = 1700000000;

std::string Bytes(const void* p, std::size_t n) { return std::string(static_cast<const char*>(p), n); }

// A request of `head` bytes with `text` behind it and its zero.
template <class T>
std::string Request(const T& head, const std::string& text)
{
    return Bytes(&head, sizeof(head)) + text + std::string(1, '\0');
}

// The attribute word of a new file: a record carries its low byte without
// "normal", a listing the whole word (on Windows the file system's own).
std::uint32_t Attributes(const std::string& path, bool listing)
{
#ifdef _WIN32
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return listing ? attributes : attributes & 0xFFu & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
#else
    (void)path;
    return listing ? 0x80 : 0;
#endif
}

TEST(ServiceExports, LocalOperationsFillRecordsAndFiles)
{
    ScopedTimeZone zone("CST-8");
    TempDir tmp;
    const std::string a = tmp.File("a.dat");
    const std::string b = tmp.File("b.dat");
    WriteWholeFile(a, std::string(5000, 'a'));
    WriteWholeFile(b, "bee");
    ASSERT_TRUE(SetMtime(a, kStamp));
    ASSERT_TRUE(SetMtime(b, kStamp));
    Object obj = NewObject();

    FileInfoRecord record;
    std::memset(&record, 0xAB, sizeof(record));
    EXPECT_EQ(VexaComm_ServiceGetFileInfo(obj.get(), &record, a.c_str()), 0);
    EXPECT_EQ(Bytes(&record, sizeof(record)), RecordBytes(5000, Attributes(a, false), 0, 5000, a));
    EXPECT_EQ(VexaComm_ServiceGetFileInfo(obj.get(), &record, tmp.File("none").c_str()), 2);

    // A listing: one record per match, in the temporary directory.
    VexaComm_SetTempDir((tmp.path() + kSep).c_str());
    FileRequest head{};
    std::string pattern = Request(head, tmp.File("*.dat"));
    char name[300];
    EXPECT_EQ(VexaComm_ServiceListDirectory(obj.get(), reinterpret_cast<const FileRequest*>(pattern.data()), name,
                                            sizeof(name)),
              0);
    VexaComm_SetTempDir(nullptr);
    EXPECT_EQ(std::string(name).rfind(tmp.path() + kSep, 0), 0u) << name;
    std::string listing = ReadWholeFile(name);
    ASSERT_EQ(listing.size(), 2 * 292u);
    bool aFirst = listing.compare(36, a.size(), a) == 0;
    EXPECT_EQ(listing.substr(aFirst ? 0 : 292, 292), RecordBytes(5000, Attributes(a, true), 0, 5000, a));
    EXPECT_EQ(listing.substr(aFirst ? 292 : 0, 292), RecordBytes(3, Attributes(b, true), 0, 3, b));

    // A file sent from byte 1000 on, and one received.
    head.startOffset = 1000;
    std::string send = Request(head, a);
    VexaCommTransfer* file = nullptr;
    ASSERT_EQ(VexaComm_ServiceOpenSendFile(obj.get(), &record, reinterpret_cast<const FileRequest*>(send.data()),
                                           &file),
              0);
    EXPECT_EQ(Bytes(&record, sizeof(record)), RecordBytes(5000, Attributes(a, false), 1000, 4000, a));
    EXPECT_EQ(VexaComm_TransferLength(file), 5000u);
    char buffer[6000];
    std::uint32_t done = 0;
    EXPECT_EQ(VexaComm_TransferRead(file, buffer, sizeof(buffer), &done), 0);
    EXPECT_EQ(Bytes(buffer, done), std::string(5000, 'a'));
    EXPECT_EQ(VexaComm_ServiceCloseTransferFile(obj.get(), file), 0);

    std::memset(&record, 0, sizeof(record));
    const std::string received = tmp.File("in/c.dat");
    std::strcpy(record.path, received.c_str());
    ASSERT_EQ(VexaComm_ServiceCreateReceiveFile(obj.get(), &record, &file), 0);
    EXPECT_EQ(VexaComm_TransferWrite(file, "payload", 7), 0);
    const std::uint16_t complete = 0;
    EXPECT_EQ(VexaComm_ServiceCloseFileOnStatus(obj.get(), file, &complete, 1), 0);
    EXPECT_EQ(ReadWholeFile(received), "payload");
    // Nothing to write into: the handle's failure is a cause, not a crash.
    EXPECT_EQ(VexaComm_TransferWrite(nullptr, "x", 1), 6);
}

// The operations that answer: what they send is what reached the peer.
TEST(ServiceExports, AnswersReachThePeerByteForByte)
{
    std::string afterConnect;
    TestPeer peer("127.9.4.1", 0, [&](TestPeer& p) {
        p.ServeSetup();
        EXPECT_EQ(p.ExpectPacket().command, CMD_DEVICE_TYPE);
        p.SendPacket(CMD_DEVICE_TYPE, wire::U16(769));
        EXPECT_EQ(p.ExpectPacket().command, CMD_IDENT);
        p.SendPacket(CMD_IDENT, std::string("peer", 5));
        p.SendPacket(0x1234, "request");
    });
    TempDir tmp;
    const std::string tree = tmp.File("t");
    Object obj = NewObject();
    ASSERT_EQ(VexaComm_ConnectPort(obj.get(), peer.Address().c_str(), peer.Port()), 0);

    std::uint32_t command = 0;
    std::uint32_t length = 0;
    char payload[4] = {};
    EXPECT_EQ(VexaComm_ReceivePacket(obj.get(), &command, &length, payload, sizeof(payload)), 0);
    EXPECT_EQ(command, 0x1234u);
    EXPECT_EQ(length, 7u);
    EXPECT_EQ(std::string(payload, 4), "requ");
    afterConnect = peer.Received();

    ProgramRequest program{};
    program.kind = 2;
    const std::string largest(16376, 'L');
    struct Row {
        const char* name;
        std::int32_t got;
        std::int32_t want;
        std::string sent;
    } rows[] = {
        {"MakeDirectory", VexaComm_ServiceMakeDirectory(obj.get(), (tree + kSep + "sub").c_str()), 0,
         ReplyBytes(0)},
        {"DeletePath", VexaComm_ServiceDeletePath(obj.get(), (tree + kSep).c_str()), 0, ReplyBytes(0)},
        {"ClearStatusFlags", VexaComm_ServiceClearStatusFlags(obj.get(), 0xF0), 0, ReplyBytes(0)},
        {"SetStatusFlags", VexaComm_ServiceSetStatusFlags(obj.get(), 0x10), 0, ReplyBytes(0)},
        {"SendStatusFlags", VexaComm_ServiceSendStatusFlags(obj.get()), 0, U32(768) + U32(4) + U32(0xFFFFFF1F)},
        {"ReplyNotSupported", VexaComm_ServiceReplyNotSupported(obj.get(), nullptr), 71305, ReplyBytes(71305)},
        {"RunProgramRequest", VexaComm_ServiceRunProgramRequest(obj.get(), &program), 71305, ReplyBytes(71305)},
        {"SendReply", VexaComm_SendReply(obj.get(), 0), 0, ReplyBytes(0)},
        {"SendPacket", VexaComm_SendPacket(obj.get(), 0x7E01, "xyz", 3), 0, U32(0x7E01) + U32(3) + "xyz"},
        {"SendPacket largest", VexaComm_SendPacket(obj.get(), 0x7E02, largest.data(), 16376), 0,
         U32(0x7E02) + U32(16376) + largest},
        {"SendPacket too long", VexaComm_SendPacket(obj.get(), 0x7E01, payload, 16377), 71010, ""},
    };
    std::string expected;
    for (const Row& r : rows) {
        EXPECT_EQ(r.got, r.want) << r.name;
        expected += r.sent;
    }
    EXPECT_FALSE(PathExists(tree));
    obj.reset();
    peer.Join();
    EXPECT_EQ(wire::Hex(peer.Received().substr(afterConnect.size())), wire::Hex(expected));

    // Without a connection the answer is lost, and the host hears of it.
    Object closed = NewObject();
    EXPECT_EQ(VexaComm_SendReply(closed.get(), 0), 71006);
}

} // namespace
