// Paths that others on the same file system may have prepared: FIFOs,
// devices, planted links, directories swapped while a tree is deleted.
#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <functional>
#include <future>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "ServiceTestUtil.h"
#include "lzh/LzhufEncoder.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "service/ServiceRecords.h"
#include "support/DebugLog.h"
#include "support/FileSystemHelpers.h"

namespace {

std::string Request(const std::string& head, const std::string& path) { return head + path + std::string(1, '\0'); }
std::string SendHead(std::uint8_t flags) { return U16(0) + std::string(1, static_cast<char>(flags)) + '\0' + U32(0) + U32(0); }

// Runs `op` for `path` (a FIFO, a device, a socket); false when it did not
// return within a second. A FIFO opened for both ends releases a waiting
// opener, so a failing case still ends.
bool ReturnsAtOnce(const std::string& path, const std::function<void()>& op)
{
    auto done = std::async(std::launch::async, op);
    if (done.wait_for(std::chrono::seconds(1)) == std::future_status::ready)
        return true;
    int both = ::open(path.c_str(), O_RDWR | O_NONBLOCK);
    done.wait();
    ::close(both);
    return false;
}

TEST(SpecialFiles, AreRefusedWithoutWaitingByEveryOperationThatOpens)
{
    TempDir tmp;
    const std::string fifo = tmp.File("fifo");
    const std::string sock = tmp.File("sock");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", sock.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);

    for (const std::string& path : {fifo, sock, std::string("/dev/null")}) {
        ServiceConnection c;
        CGLSocket& s = c.socket;
        FileInfoRecord record{};
        FileInfoRecord receive{};
        FileInfoVersionRecord version{};
        std::snprintf(receive.path, sizeof(receive.path), "%s", path.c_str());
        std::string plain = Request(SendHead(0), path);
        std::string compressed = Request(SendHead(FILE_REQ_COMPRESSED), path);
        std::string start = Request(U16(0) + U16(0) + U16(1) + U32(0) + U32(0) + U32(0) + std::string(16, '\0'), path);
        auto send = [&s, &record](const std::string& r) {
            return s.OpenSendFile(&record, reinterpret_cast<const FileRequest*>(r.data()));
        };
        const std::vector<std::pair<const char*, std::function<bool()>>> cases = {
            {"GetFileInfo", [&] { return !s.GetFileInfo(&record, path.c_str()) && s.m_nLastError == 5; }},
            {"GetFileInfoVersion", [&] { return !s.GetFileInfoVersion(&version, path.c_str()) && s.m_nLastError == 5; }},
            {"FileExists", [&] { return FileExists(path.c_str()) == 0; }},
            {"CreateReceiveFile", [&] { return s.CreateReceiveFile(&receive) == nullptr && s.m_nLastError == 5; }},
            {"OpenSendFile", [&] { return send(plain) == nullptr && s.m_nLastError == 5; }},
            {"OpenSendFile compressed", [&] { return send(compressed) == nullptr; }},
            {"StartProgram", [&] {
                 s.StartProgram(reinterpret_cast<const ProgramRequest*>(start.data()));
                 return c.ReadPacket() == ReplyBytes(71008);
             }},
            {"CompressFile", [&] {
                 CLzhufEncoder encoder;
                 return !encoder.CompressFile(path.c_str(), tmp.File("out").c_str());
             }},
        };
        for (const auto& [name, op] : cases) {
            bool refused = false;
            EXPECT_TRUE(ReturnsAtOnce(path, [&] { refused = op(); })) << name << " on " << path;
            EXPECT_TRUE(refused) << name << " on " << path;
        }
    }
    ::close(listener);
}

// What others may leave at the library's own temporary names: a FIFO, a
// link to a file of theirs, a second name of it. The file is never written.
TEST(PlantedNames, ListingAndCompressionRefuseTheirTemporaryName)
{
    TempDir tmp;
    const std::string victim = tmp.File("victim");
    SetTempDir((tmp.path() + "/").c_str());
    WriteWholeFile(tmp.File("a.dat"), std::string(300000, 'a'));
    const std::string listing = tmp.File("4294967295.dir.tmp");
    const std::string encoded = tmp.File("a.dat.lrz.z!!");
    const std::vector<std::function<int(const std::string&)>> plants = {
        [&](const std::string& at) { return ::mkfifo(at.c_str(), 0666); },
        [&](const std::string& at) { return ::symlink(victim.c_str(), at.c_str()); },
        [&](const std::string& at) { return ::link(victim.c_str(), at.c_str()); },
    };
    for (std::size_t i = 0; i < plants.size(); ++i) {
        WriteWholeFile(victim, "theirs");
        ASSERT_EQ(plants[i](listing), 0);
        ASSERT_EQ(plants[i](encoded), 0);
        CGLSocket s;
        std::string pattern = std::string(12, '\0') + tmp.File("*") + '\0';
        EXPECT_TRUE(ReturnsAtOnce(listing, [&] {
            EXPECT_EQ(s.ListDirectory(reinterpret_cast<const FileRequest*>(pattern.data())), "") << i;
        }));
        EXPECT_EQ(s.m_nLastError, 71200) << i;
        FileInfoRecord record{};
        std::string request = Request(SendHead(FILE_REQ_COMPRESSED), tmp.File("a.dat"));
        EXPECT_TRUE(ReturnsAtOnce(encoded, [&] {
            EXPECT_EQ(s.OpenSendFile(&record, reinterpret_cast<const FileRequest*>(request.data())), nullptr) << i;
        }));
        EXPECT_EQ(ReadWholeFile(victim), "theirs") << i;
        ::unlink(listing.c_str());
        ::unlink(encoded.c_str());
    }
    SetTempDir("");
}

// Runs `act` while another thread runs `swap`, both released together.
void Race(const std::function<void()>& act, const std::function<void()>& swap)
{
    std::atomic<int> ready{0};
    std::thread other([&] {
        ++ready;
        while (ready < 2) {
        }
        swap();
    });
    while (ready < 1) {
    }
    ++ready;
    act();
    other.join();
}

// A subdirectory swapped for a link to a victim directory with the same
// names while the tree goes, 200 times: the victim keeps all of them.
TEST(DeleteDirectoryTree, ASubdirectorySwappedForALinkIsNeverFollowed)
{
    TempDir tmp;
    const std::string root = tmp.File("t");
    MakeDir(tmp.File("victim"));
    for (int i = 0; i < 200; ++i) {
        MakeDir(root);
        MakeDir(root + "/sub");
        for (const char* name : {"a", "b", "c", "d"}) {
            WriteWholeFile(root + "/sub/" + name, "x");
            WriteWholeFile(tmp.File("victim/") + name, "k");
        }
        ASSERT_EQ(::symlink(tmp.File("victim").c_str(), tmp.File("link").c_str()), 0);
        Race([&] { DeleteDirectoryTree(root.c_str(), TRUE); },
             [&] {
                 ::rename((root + "/sub").c_str(), tmp.File("moved").c_str());
                 ::rename(tmp.File("link").c_str(), (root + "/sub").c_str());
             });
        for (const char* name : {"a", "b", "c", "d"})
            ASSERT_TRUE(PathExists(tmp.File("victim/") + name)) << name << ", try " << i;
        for (const char* left : {"t", "moved"})
            DeleteDirectoryTree(tmp.File(left).c_str(), TRUE);
        ::unlink(tmp.File("link").c_str());
    }
}

// A file replaced by a link while its read-only attribute is cleared.
TEST(SetPathAttributes, AFileSwappedForALinkLeavesTheTargetsModeAlone)
{
    TempDir tmp;
    const std::string victim = tmp.File("victim");
    const std::string file = tmp.File("f");
    WriteWholeFile(victim, "k");
    ::chmod(victim.c_str(), 0444);
    for (int i = 0; i < 200; ++i) {
        WriteWholeFile(file, "x");
        ::chmod(file.c_str(), 0444);
        ASSERT_EQ(::symlink(victim.c_str(), tmp.File("link").c_str()), 0);
        Race([&] { plat::SetPathAttributes(file.c_str(), FILE_ATTR_NORMAL); },
             [&] { ::rename(tmp.File("link").c_str(), file.c_str()); });
        struct stat st;
        ASSERT_EQ(::stat(victim.c_str(), &st), 0);
        ASSERT_EQ(st.st_mode & 0777, 0444u) << "try " << i;
        ::unlink(file.c_str());
    }
}

// "x/" names a directory tree; a link there is no directory.
TEST(DeletePath, ALinkWithATrailingSeparatorGoesAlone)
{
    TempDir tmp;
    MakeDir(tmp.File("target"));
    WriteWholeFile(tmp.File("target/keep"), "k");
    ASSERT_EQ(::symlink(tmp.File("target").c_str(), tmp.File("x").c_str()), 0);
    ServiceConnection c;
    c.socket.DeletePath((tmp.File("x") + "/").c_str());
    EXPECT_EQ(c.ReadPacket(), ReplyBytes(0));
    EXPECT_FALSE(PathExists(tmp.File("x")));
    EXPECT_TRUE(PathExists(tmp.File("target/keep")));
}

// Empty and relative PATH entries name the current directory.
TEST(ShellStartSearch, NeverLooksInTheCurrentDirectory)
{
    TempDir tmp;
    MakeDir(tmp.File("bin"));
    WriteWholeFile(tmp.File("bin/xdg-open"), "#!/bin/sh\n");
    ::chmod(tmp.File("bin/xdg-open").c_str(), 0755);
    ::symlink(tmp.File("bin/xdg-open").c_str(), tmp.File("xdg-open").c_str());
    ScopedChdir cd(tmp.path());
    const char* old = std::getenv("PATH");
    const std::string saved = old != nullptr ? old : "";
    for (const std::string& path : {std::string(""), std::string(":"), std::string("."), std::string("bin"),
                                    std::string("/nonexistent::/nonexistent")}) {
        ::setenv("PATH", path.c_str(), 1);
        EXPECT_EQ(plat::OpenDocument("", tmp.File("doc").c_str(), 1), plat::kShellNoAssociation) << path;
    }
    ::setenv("PATH", tmp.File("bin").c_str(), 1);
    EXPECT_GT(plat::OpenDocument("", tmp.File("doc").c_str(), 1), 32);
    ::setenv("PATH", saved.c_str(), 1);
}

} // namespace
