// A root set on the service side: paths that try to leave it, planted and
// swapped links, against a victim tree beside the root that must not change.
// Each case runs with openat2 and with the openat walk.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "ServiceTestUtil.h"
#include "doubles/TempDir.h"
#include "doubles/TreeSnapshot.h"
#include "platform/Beneath.h"
#include "service/ServiceRecords.h"
#include "service/TempDir.h"
#include "support/FileSystemHelpers.h"

namespace {

std::string Request(const std::string& path, std::uint8_t flags = 0)
{
    std::string bytes(12, '\0');
    bytes[2] = static_cast<char>(flags);
    return bytes + path + '\0';
}
const FileRequest* AsFileRequest(const std::string& bytes)
{
    return reinterpret_cast<const FileRequest*>(bytes.data());
}

class Confinement : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        plat::UseBeneathWalk(GetParam());
        root = tmp.File("root");
        MakeDir(root);
        MakeDir(tmp.File("victim"));
        MakeDir(tmp.File("victim/d"));
        WriteWholeFile(tmp.File("victim/secret"), "theirs");
        WriteWholeFile(tmp.File("victim/d/f"), "theirs too");
        MakeDir(root + "/sub");
        WriteWholeFile(root + "/in", std::string(300000, 'i'));
        ASSERT_EQ(::symlink(tmp.File("victim").c_str(), (root + "/out").c_str()), 0);
        ASSERT_EQ(::symlink("../../victim", (root + "/sub/up").c_str()), 0);
        ASSERT_EQ(::symlink(tmp.File("victim/secret").c_str(), (root + "/flink").c_str()), 0);
        ASSERT_EQ(::link(tmp.File("victim/d/f").c_str(), (root + "/hard").c_str()), 0);
        ASSERT_EQ(c.socket.SetServiceRoot(root.c_str()), TRUE);
        before = Outside();
    }
    void TearDown() override
    {
        plat::UseBeneathWalk(false);
        EXPECT_EQ(Outside(), before);
    }
    // The victim tree and the names beside the root.
    std::string Outside() { return TreeSnapshot(tmp.path(), "root"); }
    // An answering operation's reply code.
    std::uint32_t Reply(const std::function<void()>& op)
    {
        op();
        std::string packet = c.ReadPacket();
        return packet.size() >= 12 ? ReadU32(reinterpret_cast<const std::uint8_t*>(packet.data()) + 8) : 0;
    }
    // The record-filling and file-opening operations' last errors.
    std::vector<int> FileErrors(const std::string& path)
    {
        std::vector<int> errors;
        FileInfoRecord record{};
        FileInfoVersionRecord version{};
        auto error = [&](bool) { errors.push_back(c.socket.m_nLastError); c.socket.m_nLastError = 0; };
        error(c.socket.GetFileInfo(&record, path.c_str()));
        error(c.socket.GetFileInfoVersion(&version, path.c_str()));
        for (std::uint8_t flags : {0, 1}) {
            CFile* file = c.socket.OpenSendFile(&record, AsFileRequest(Request(path, flags)));
            c.socket.CloseTransferFile(file, 0, 0);
            error(file == nullptr);
        }
        path.copy(record.path, sizeof(record.path) - 1);
        record.path[path.size()] = '\0';
        CFile* file = c.socket.CreateReceiveFile(&record);
        c.socket.CloseTransferFile(file, 0, 0);
        error(file == nullptr);
        error(c.socket.ListDirectory(AsFileRequest(Request(path + "/*"))).empty());
        return errors;
    }

    TempDir tmp;
    std::string root;
    std::string before;
    ServiceConnection c;
};

// Every operation on every path that leads out: refused with 5, the
// deletions and directory creations answered with 5. Deleting a link
// itself, or a second name of a file, is no escape; neither is a second
// name that is no directory.
TEST_P(Confinement, EveryEscapeIsRefused)
{
    struct Escape {
        std::string path;
        int listing;
        std::uint32_t makeDirectory, deletion;
    };
    const Escape escapes[] = {
        {"../victim/secret", 5, 5, 5}, {"/../victim/secret", 5, 5, 5}, {"sub/../../victim/secret", 5, 5, 5},
        {"./sub/../../victim/d/f", 5, 5, 5}, {"out/secret", 5, 5, 5}, {"/out/d/f", 5, 5, 5},
        {"sub/up/secret", 5, 5, 5}, {"sub/up/d/f", 5, 5, 5}, {"flink", 5, 5, 0}, {"hard", 0, 0, 0},
    };
    for (const Escape& e : escapes) {
        EXPECT_EQ(FileErrors(e.path), (std::vector<int>{5, 5, 5, 5, 5, e.listing})) << e.path;
        EXPECT_EQ(Reply([&] { c.socket.MakeDirectory((e.path + "/new").c_str()); }), e.makeDirectory) << e.path;
        EXPECT_EQ(Reply([&] { c.socket.DeletePath((e.path + "/").c_str()); }), e.deletion) << e.path;
        EXPECT_EQ(Reply([&] { c.socket.DeletePath(e.path.c_str()); }), e.deletion) << e.path;
    }
    // A host's absolute path is taken beneath the root: it names nothing
    // there, and a file received by that name is made there.
    EXPECT_EQ(FileErrors(tmp.File("victim/secret")), (std::vector<int>{3, 3, 3, 3, 0, 0}));
    EXPECT_TRUE(PathExists(root + tmp.File("victim/secret")));
}

// Inside the root everything works, absolute paths as well, and the
// temporary and compressed files stay there.
TEST_P(Confinement, InsideTheRootPathsWorkAndTemporaryFilesStayThere)
{
    EXPECT_EQ(FileErrors("/in"), (std::vector<int>(6, 0)));
    FileInfoRecord record{};
    EXPECT_EQ(c.socket.GetFileInfo(&record, "./sub/.//../in"), TRUE);
    EXPECT_TRUE(PathExists(root + "/in.lrz"));
    EXPECT_EQ(Reply([&] { c.socket.MakeDirectory("/a/b"); }), 0u);
    EXPECT_TRUE(IsDirectory(root + "/a/b"));
    EXPECT_EQ(Reply([&] { c.socket.DeletePath("a/"); }), 0u);
    EXPECT_FALSE(PathExists(root + "/a"));
    SetTempDir("/tmpdir/");
    const std::string name = c.socket.ListDirectory(AsFileRequest(Request("/sub/*")));
    SetTempDir(nullptr);
    EXPECT_EQ(name, plat::ResolvedPath(root.c_str()) + "/tmpdir/" + std::to_string(c.socket.m_hSocket) + ".dir.tmp");
    // One record: the link "up", as itself, by its path as the peer sees it.
    ASSERT_EQ(ReadWholeFile(name).size(), sizeof(record));
    std::memcpy(&record, ReadWholeFile(name).data(), sizeof(record));
    EXPECT_STREQ(record.path, "/sub/up");
    EXPECT_EQ(c.socket.SetServiceRoot(tmp.File("nowhere").c_str()), FALSE);
    EXPECT_EQ(c.socket.m_nLastError, 3);
    EXPECT_EQ(c.socket.SetServiceRoot((root + "/in").c_str()), FALSE);
    EXPECT_EQ(c.socket.m_nLastError, 267);
}

// 200 times: a directory on the path swapped for a link to the victim
// while the request runs. Whichever comes first, the victim stays whole.
TEST_P(Confinement, ADirectorySwappedForALinkDuringARequestLeadsNowhere)
{
    MakeDir(tmp.File("victim/x"));
    before = Outside();
    for (int i = 0; i < 200; ++i) {
        MakeDir(root + "/x");
        WriteWholeFile(root + "/x/secret", "ours");
        std::atomic<int> ready{0};
        std::thread swap([&] {
            for (++ready; ready < 2;) {
            }
            if (::rename((root + "/x").c_str(), (root + "/moved").c_str()) == 0)
                ::symlink("../victim", (root + "/x").c_str());
        });
        while (ready < 1) {
        }
        ++ready;
        FileInfoRecord record{};
        std::strcpy(record.path, "x/secret");
        CFile* file = c.socket.CreateReceiveFile(&record);
        c.socket.CloseTransferFile(file, 0, 0);
        c.socket.DeletePath("x/secret");
        c.socket.DeletePath("x/");
        swap.join();
        c.ReadPacket();
        c.ReadPacket();
        ASSERT_EQ(Outside(), before) << "try " << i;
        DeleteDirectoryTree((root + "/x").c_str(), TRUE);
        DeleteDirectoryTree((root + "/moved").c_str(), TRUE);
        c.socket.m_nLastError = 0;
    }
}

INSTANTIATE_TEST_SUITE_P(Openat2AndWalk, Confinement, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Walk" : "Openat2"; });

} // namespace
