#include <gtest/gtest.h>

#include "VexaCommFile.h"
#include "VexaCommLib.h"

namespace {

// A host's own file class: records every call the library makes.
class RecordingFile : public CFile {
public:
    void Write(const void*, uint32_t count) override
    {
        ++writes;
        bytes += count;
    }
    uint32_t GetPosition() const override { return 0; }
    int writes = 0;
    uint32_t bytes = 0;
};

struct ObjectDeleter {
    void operator()(VexaCommObject* o) const { VexaComm_DestroyObject(o); }
};
using Object = std::unique_ptr<VexaCommObject, ObjectDeleter>;

TEST(ExportsUnconnected, CreateAndDestroy)
{
    Object obj(VexaComm_CreateObject());
    ASSERT_NE(obj, nullptr);
    EXPECT_EQ(VexaComm_GetPacketSizeMax(obj.get()), 16376);
    EXPECT_EQ(VexaComm_DestroyObject(nullptr), 0);
}

TEST(ExportsUnconnected, PacketSizeOutsideRangeLeavesVariable)
{
    Object obj(VexaComm_CreateObject());
    for (uint16_t refused : {uint16_t(0), uint16_t(247), uint16_t(16377), uint16_t(0xFFFE)}) {
        uint16_t size = refused;
        EXPECT_EQ(VexaComm_SetPacketSizeMax(obj.get(), &size), 0);
        EXPECT_EQ(size, refused);
    }
}

TEST(ExportsUnconnected, AcceptedPacketSizeFallsBackTo16376)
{
    Object obj(VexaComm_CreateObject());
    for (uint16_t accepted : {uint16_t(248), uint16_t(8192), uint16_t(16376), uint16_t(0xFFFF)}) {
        uint16_t size = accepted;
        EXPECT_EQ(VexaComm_SetPacketSizeMax(obj.get(), &size), 0);
        EXPECT_EQ(size, 16376);
    }
    EXPECT_EQ(VexaComm_GetPacketSizeMax(obj.get()), 16376);
}

TEST(ExportsUnconnected, GetAsdu10ReportsNotConnectedAndWritesNothing)
{
    Object obj(VexaComm_CreateObject());
    RecordingFile file;
    unsigned char request[16] = {0};
    request[6] = 1; // one entry
    EXPECT_EQ(VexaComm_GetAsdu10(obj.get(), &file, request), 71006);
    EXPECT_EQ(file.writes, 0);
}

TEST(ExportsUnconnected, ConnectFailureLeavesObjectUsable)
{
    Object obj(VexaComm_CreateObject());
    // Nothing listens on this loopback address.
    int32_t rc = VexaComm_Connect(obj.get(), "127.1.255.254");
    EXPECT_EQ(rc, 10061);
    RecordingFile file;
    unsigned char request[8] = {0};
    EXPECT_EQ(VexaComm_GetAsdu10(obj.get(), &file, request), 71006);
}

} // namespace
