// What others on a shared file system may leave in a path's way, met
// through the shipped library's service functions.
#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <functional>
#include <future>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "VexaCommService.h"
#include "device/SimulatedDevice.h"
#include "service/ServiceTestUtil.h"
#include "lzh/LzhufEncoder.h"
#include "platform/Process.h"

namespace {

// A send request for `path` (one for a program start when `head` is 34 bytes).
std::string Request(const std::string& path, std::uint8_t flags = 0, std::size_t head = 12)
{
    std::string bytes(head, '\0');
    bytes[2] = static_cast<char>(flags);
    return bytes + path + '\0';
}
template <class T> const T* As(const std::string& bytes) { return reinterpret_cast<const T*>(bytes.data()); }

// False when `op` has not returned within a second; opening the FIFO's both
// ends then releases it.
bool ReturnsAtOnce(const std::string& fifo, const std::function<void()>& op)
{
    auto done = std::async(std::launch::async, op);
    if (done.wait_for(std::chrono::seconds(1)) == std::future_status::ready)
        return true;
    int both = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    done.wait();
    ::close(both);
    return false;
}

// Each case runs with the paths as given, and again beneath a root set on
// its directory, where the same files are named from the root ("/fifo").
class HostileFs : public ::testing::TestWithParam<bool> {
protected:
    std::string At(const std::string& name) const { return GetParam() ? "/" + name : tmp.File(name); }
    Object New() const
    {
        Object obj = NewObject();
        if (GetParam()) {
            EXPECT_EQ(VexaComm_ServiceSetRoot(obj.get(), tmp.path().c_str()), 0);
        }
        return obj;
    }
    TempDir tmp;
};
using SpecialFiles = HostileFs;
using PlantedNames = HostileFs;
using DeleteDirectoryTree = HostileFs;
using DeletePath = HostileFs;

TEST_P(SpecialFiles, EveryOperationThatOpensRefusesThemAtOnce)
{
    ASSERT_EQ(::mkfifo(tmp.File("fifo").c_str(), 0666), 0);
    std::vector<std::string> paths = {At("fifo")};
    if (!GetParam())
        paths.push_back("/dev/null");
    for (const std::string& path : paths) {
        Object obj = New();
        VexaCommObject* s = obj.get();
        FileInfoRecord record{};
        FileInfoVersionRecord version{};
        VexaCommTransfer* file = nullptr;
        const std::pair<const char*, std::function<bool()>> cases[] = {
            {"GetFileInfo", [&] { return VexaComm_ServiceGetFileInfo(s, &record, path.c_str()) == 5; }},
            {"GetFileInfoVersion", [&] { return VexaComm_ServiceGetFileInfoVersion(s, &version, path.c_str()) == 5; }},
            {"CreateReceiveFile", [&] {
                 path.copy(record.path, sizeof(record.path) - 1);
                 return VexaComm_ServiceCreateReceiveFile(s, &record, &file) == 5 && file == nullptr;
             }},
            {"OpenSendFile", [&] {
                 return VexaComm_ServiceOpenSendFile(s, &record, As<FileRequest>(Request(path)), &file) == 5 &&
                        file == nullptr;
             }},
            {"OpenSendFile compressed", [&] {
                 return VexaComm_ServiceOpenSendFile(s, &record, As<FileRequest>(Request(path, 1)), &file) != 0 &&
                        file == nullptr;
             }},
            {"StartProgram", [&] {
                 return VexaComm_ServiceStartProgram(s, As<ProgramRequest>(Request(path, 0, 34))) == 71008;
             }},
            {"CompressFile", [&] { return !std::make_unique<CLzhufEncoder>()->CompressFile(path.c_str(), tmp.File("z").c_str()); }},
        };
        for (const auto& [name, op] : cases) {
            bool refused = false;
            EXPECT_TRUE(ReturnsAtOnce(tmp.File("fifo"), [&] { refused = op(); })) << name << " on " << path;
            EXPECT_TRUE(refused) << name << " on " << path;
        }
    }
}

// A FIFO, a link or a second hard link at the listing's and the encoder's
// temporary names: passed over or refused, and never written through.
TEST_P(PlantedNames, ListingAndCompressionRefuseTheirTemporaryNames)
{
    // A victim of each name: a hard link gives it exactly two names.
    const std::string victim = tmp.File("victim"), other = tmp.File("other");
    const std::string listing = tmp.File("4294967295.dir.tmp");
    const std::string encoded = tmp.File("a.dat.lrz.z!!");
    VexaComm_SetTempDir(GetParam() ? "/" : (tmp.path() + "/").c_str());
    WriteWholeFile(tmp.File("a.dat"), std::string(300000, 'a'));
    const std::function<int(const char*, const char*)> plants[] = {
        [](const char*, const char* at) { return ::mkfifo(at, 0666); }, ::symlink, ::link};
    for (const auto& plant : plants) {
        WriteWholeFile(victim, "theirs");
        WriteWholeFile(other, "theirs too");
        ASSERT_EQ(plant(victim.c_str(), listing.c_str()) | plant(other.c_str(), encoded.c_str()), 0);
        Object obj = New();
        FileInfoRecord record{};
        char name[300] = "x";
        EXPECT_TRUE(ReturnsAtOnce(listing, [&] {
            EXPECT_EQ(VexaComm_ServiceListDirectory(obj.get(), As<FileRequest>(Request(At("*"))), name,
                                                    sizeof(name)),
                      0);
        }));
        EXPECT_EQ(name, tmp.File("4294967295-1.dir.tmp"));
        VexaCommTransfer* file = nullptr;
        EXPECT_TRUE(ReturnsAtOnce(encoded, [&] {
            EXPECT_NE(VexaComm_ServiceOpenSendFile(obj.get(), &record, As<FileRequest>(Request(At("a.dat"), 1)),
                                                   &file),
                      0);
        }));
        EXPECT_EQ(file, nullptr);
        EXPECT_EQ(ReadWholeFile(victim), "theirs");
        EXPECT_EQ(ReadWholeFile(other), "theirs too");
        ::unlink(listing.c_str());
        ::unlink(name);
        ::unlink(encoded.c_str());
    }
    VexaComm_SetTempDir(nullptr);
}

// Runs `act` while another thread runs `swap`, both released together.
void Race(const std::function<void()>& act, const std::function<void()>& swap)
{
    std::atomic<int> ready{0};
    std::thread other([&] {
        for (++ready; ready < 2;) {
        }
        swap();
    });
    while (ready < 1) {
    }
    ++ready;
    act();
    other.join();
}

// 200 times: a subdirectory swapped for a link to a victim directory with
// the same names while the tree goes. The victim keeps all of them.
TEST_P(DeleteDirectoryTree, ASubdirectorySwappedForALinkIsNeverFollowed)
{
    const std::string root = tmp.File("t"), sub = tmp.File("t/sub"), link = tmp.File("link");
    MakeDir(tmp.File("victim"));
    for (int i = 0; i < 200; ++i) {
        MakeDir(root);
        MakeDir(sub);
        for (const char* name : {"/a", "/b", "/c", "/d"}) {
            WriteWholeFile(sub + name, "x");
            WriteWholeFile(tmp.File("victim") + name, "k");
        }
        ASSERT_EQ(::symlink(tmp.File("victim").c_str(), link.c_str()), 0);
        Object obj = New();
        // Unconnected, the answer is lost (71006); the deletion is done.
        Race([&] { VexaComm_ServiceDeletePath(obj.get(), At("t").c_str()); },
             [&] {
                 if (::rename(sub.c_str(), tmp.File("moved").c_str()) == 0)
                     ::rename(link.c_str(), sub.c_str());
             });
        for (const char* name : {"/a", "/b", "/c", "/d"})
            ASSERT_TRUE(PathExists(tmp.File("victim") + name)) << name << ", try " << i;
        for (const char* left : {"t", "moved", "link"})
            VexaComm_ServiceDeletePath(obj.get(), At(left).c_str());
    }
}

// Deleting a link to a read-only file removes the link; the file keeps its
// mode (making it writable, as a read-only entry is before deletion, must
// not follow the link).
TEST_P(DeletePath, ALinkToAReadOnlyFileLeavesTheFileAlone)
{
    const std::string victim = tmp.File("victim"), link = tmp.File("link");
    WriteWholeFile(victim, "theirs");
    ASSERT_EQ(::chmod(victim.c_str(), 0444), 0);
    ASSERT_EQ(::symlink(victim.c_str(), link.c_str()), 0);
    Object obj = New();
    VexaComm_ServiceDeletePath(obj.get(), At("link").c_str());
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0);
    ASSERT_EQ(::stat(victim.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
}

INSTANTIATE_TEST_SUITE_P(AsGivenAndBeneathARoot, SpecialFiles, ::testing::Bool());
INSTANTIATE_TEST_SUITE_P(AsGivenAndBeneathARoot, PlantedNames, ::testing::Bool());
INSTANTIATE_TEST_SUITE_P(AsGivenAndBeneathARoot, DeleteDirectoryTree, ::testing::Bool());
INSTANTIATE_TEST_SUITE_P(AsGivenAndBeneathARoot, DeletePath, ::testing::Bool());

// Empty and relative PATH entries name the current directory.
TEST(ShellStartSearch, NeverLooksInTheCurrentDirectory)
{
    TempDir tmp;
    MakeDir(tmp.File("bin"));
    WriteWholeFile(tmp.File("bin/xdg-open"), "#!/bin/sh\n");
    ::chmod(tmp.File("bin/xdg-open").c_str(), 0755);
    ::symlink("bin/xdg-open", tmp.File("xdg-open").c_str());
    ScopedChdir cd(tmp.path());
    const std::string saved = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    for (const char* path : {"", ":", ".", "bin", "/nonexistent::/nonexistent"}) {
        ::setenv("PATH", path, 1);
        EXPECT_EQ(plat::OpenDocument("", "doc", 1), plat::kShellNoAssociation) << path;
    }
    ::setenv("PATH", tmp.File("bin").c_str(), 1);
    EXPECT_GT(plat::OpenDocument("", "doc", 1), 32);
    ::setenv("PATH", saved.c_str(), 1);
}

} // namespace
