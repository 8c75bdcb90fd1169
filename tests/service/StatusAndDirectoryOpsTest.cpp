#include <gtest/gtest.h>

#include "ServiceTestUtil.h"
#include "doubles/TempDir.h"

namespace {

std::string StatusBytes(std::uint32_t flags) { return U32(768) + U32(4) + U32(flags); }

TEST(StatusFlags, ReportedClearedAndSetWithReplies)
{
    ServiceConnection c;
    EXPECT_EQ(c.socket.SendStatusFlags(), 1);
    EXPECT_EQ(c.ReadPacket(), StatusBytes(0xFFFFFFFF));
    EXPECT_EQ(c.socket.ClearStatusFlags(4), 1);
    EXPECT_EQ(c.ReadPacket(), ReplyBytes(0));
    c.socket.SendStatusFlags();
    EXPECT_EQ(c.ReadPacket(), std::string("\x00\x03\x00\x00\x04\x00\x00\x00\xFB\xFF\xFF\xFF", 12));
    EXPECT_EQ(c.socket.SetStatusFlags(4), 1);
    EXPECT_EQ(c.ReadPacket(), ReplyBytes(0));
    c.socket.SendStatusFlags();
    EXPECT_EQ(c.ReadPacket(), StatusBytes(0xFFFFFFFF));
}

TEST(ReplyNotSupported, Replies71305)
{
    ServiceConnection c;
    EXPECT_EQ(c.socket.ReplyNotSupported(nullptr), 1);
    EXPECT_EQ(c.ReadPacket(), ReplyBytes(71305));
    EXPECT_EQ(c.socket.m_nLastError, 71305);
}

TEST(MakeDirectory, CreatesEveryLevelAndAlwaysRepliesZero)
{
    TempDir tmp;
    ServiceConnection c;
    EXPECT_EQ(c.socket.MakeDirectory(tmp.File("a/b").c_str()), 1);
    EXPECT_EQ(c.ReadPacket(), ReplyBytes(0));
    EXPECT_TRUE(IsDirectory(tmp.File("a/b")));

    WriteWholeFile(tmp.File("f"), "x");
    EXPECT_EQ(c.socket.MakeDirectory(tmp.File("f/x").c_str()), 1);
    EXPECT_EQ(c.ReadPacket(), ReplyBytes(0));
}

TEST(DeletePath, TrailingSeparatorDeletesTheTreeOtherwiseTheFile)
{
    TempDir tmp;
    MakeDir(tmp.File("x"));
    MakeDir(tmp.File("x/y"));
    SetReadOnly(tmp.File("x/y"));
    WriteWholeFile(tmp.File("ro.txt"), "r");
    SetReadOnly(tmp.File("ro.txt"));
    ServiceConnection c;

    EXPECT_EQ(c.socket.DeletePath((tmp.File("x") + kSep).c_str()), 1);
    EXPECT_EQ(c.ReadPacket(), ReplyBytes(0));
    EXPECT_FALSE(PathExists(tmp.File("x")));

    EXPECT_EQ(c.socket.DeletePath(tmp.File("ro.txt").c_str()), 1);
    EXPECT_EQ(c.ReadPacket(), ReplyBytes(0));
    EXPECT_FALSE(PathExists(tmp.File("ro.txt")));

    EXPECT_EQ(c.socket.DeletePath(""), 1);
    EXPECT_EQ(c.ReadPacket(), ReplyBytes(0));
    EXPECT_EQ(c.socket.DeletePath(tmp.File("missing").c_str()), 1);
    EXPECT_EQ(c.ReadPacket(), ReplyBytes(0));
    EXPECT_EQ(c.pair.PeerPending(), 0u);
}

} // namespace
