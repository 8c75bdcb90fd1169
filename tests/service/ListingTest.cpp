#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>
#include <memory>

#ifdef _WIN32
#include "platform/win32/WinApi.h"
#else
#include <unistd.h>
#endif

#include "ServiceTestUtil.h"
#include "VexaCommFile.h"
#include "service/ServiceRecords.h"
#include "service/TempDir.h"
#include "doubles/TempDir.h"
#include "doubles/Exposed.h"

namespace {

// Points the listing at a directory for the duration of a test.
class ScopedTempDir {
public:
    explicit ScopedTempDir(const std::string& dir) { SetTempDir(dir.c_str()); }
    ~ScopedTempDir() { SetTempDir(""); }
};

std::vector<FileInfoRecord> Records(const std::string& bytes)
{
    std::vector<FileInfoRecord> records(bytes.size() / sizeof(FileInfoRecord));
    if (!records.empty())
        std::memcpy(records.data(), bytes.data(), records.size() * sizeof(FileInfoRecord));
    return records;
}

std::vector<std::uint8_t> Pattern(const std::string& pattern)
{
    std::string bytes = std::string(12, '\0') + pattern + std::string(1, '\0');
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

const FileRequest* AsRequest(const std::vector<std::uint8_t>& bytes)
{
    return reinterpret_cast<const FileRequest*>(bytes.data());
}

// The full 32-bit attributes a listing record carries: on Windows the file
// system's own (FILE_ATTRIBUTE_NORMAL alone, or the archive bit with the
// others), which must include `windowsBits`; on POSIX the mapped `posix`.
std::uint32_t Attributes(const std::string& path, std::uint32_t posix, std::uint32_t windowsBits)
{
#ifdef _WIN32
    (void)posix;
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    EXPECT_EQ(attributes & windowsBits, windowsBits) << path;
    return attributes;
#else
    (void)path;
    (void)windowsBits;
    return posix;
#endif
}

TEST(ListDirectory, ThreeMatchingFilesGiveThreeRecords)
{
    TempDir tmp;
    ScopedTempDir temp(tmp.path() + kSep);
    MakeDir(tmp.File("rec"));
    WriteWholeFile(tmp.File("rec/a.dat"), "1");
    WriteWholeFile(tmp.File("rec/b.dat"), "22");
    WriteWholeFile(tmp.File("rec/.c.dat"), "333");
    SetHidden(tmp.File("rec/.c.dat"));
    SetReadOnly(tmp.File("rec/b.dat"));
    WriteWholeFile(tmp.File("rec/other.txt"), "x");

    ServiceConnection c;
    auto request = Pattern(tmp.File("rec/*.dat"));
    std::string name = c.socket.ListDirectory(AsRequest(request));
    EXPECT_EQ(name, tmp.File(std::to_string(c.socket.m_hSocket) + ".dir.tmp"));
    std::string bytes = ReadWholeFile(name);
    ASSERT_EQ(bytes.size(), 876u);

    // Full 32-bit attributes, FILE_ATTR_NORMAL included.
    std::map<std::string, std::pair<std::uint32_t, std::uint32_t>> expected = {
        {tmp.File("rec/a.dat"), {1, Attributes(tmp.File("rec/a.dat"), 0x80, 0)}},
        {tmp.File("rec/b.dat"), {2, Attributes(tmp.File("rec/b.dat"), 0x01, 0x01)}},
        {tmp.File("rec/.c.dat"), {3, Attributes(tmp.File("rec/.c.dat"), 0x02, 0x02)}}};
    for (const FileInfoRecord& r : Records(bytes)) {
        auto it = expected.find(r.path);
        ASSERT_NE(it, expected.end()) << r.path;
        EXPECT_EQ(r.size, it->second.first);
        EXPECT_EQ(r.count, it->second.first);
        EXPECT_EQ(r.attributes, it->second.second);
        EXPECT_EQ(r.startOffset, 0u);
        EXPECT_EQ(r.reserved0, 0u);
        EXPECT_GE(r.year, 2024);
        expected.erase(it);
    }
    EXPECT_TRUE(expected.empty());
}

TEST(ListDirectory, SubdirectoriesWithoutDots)
{
    TempDir tmp;
    ScopedTempDir temp(tmp.path() + kSep);
    MakeDir(tmp.File("rec"));
    MakeDir(tmp.File("rec/sub"));
    WriteWholeFile(tmp.File("rec/f"), "abc");
    Exposed<CGLSocket> s;
    auto request = Pattern(tmp.File("rec/*"));
    auto records = Records(ReadWholeFile(s.ListDirectory(AsRequest(request))));
    ASSERT_EQ(records.size(), 2u);
    for (const FileInfoRecord& r : records) {
        if (std::string(r.path) == tmp.File("rec/sub")) {
            EXPECT_EQ(r.attributes, Attributes(tmp.File("rec/sub"), 0x10, 0x10));
            EXPECT_EQ(r.size, 0u);
        } else {
            EXPECT_EQ(std::string(r.path), tmp.File("rec/f"));
        }
    }
}

// Stale listings are reused, the plain name first, however many there are.
TEST(ListDirectory, NoMatchGivesAnEmptyFileInPlaceOfAStaleOne)
{
    TempDir tmp;
    ScopedTempDir temp(tmp.path() + kSep);
    // Without a socket the handle is the invalid one.
    for (int k = 0; k <= 1000; ++k)
        WriteWholeFile(tmp.File("4294967295" + (k > 0 ? "-" + std::to_string(k) : "") + ".dir.tmp"), "stale");
    Exposed<CGLSocket> s, other;
    auto request = Pattern(tmp.File("*.none"));
    std::string name = s.ListDirectory(AsRequest(request));
    EXPECT_EQ(name, tmp.File("4294967295.dir.tmp"));
    EXPECT_EQ(ReadWholeFile(name), "");
    EXPECT_EQ(s.m_nLastError, 0);
    EXPECT_EQ(other.ListDirectory(AsRequest(request)), tmp.File("4294967295-1.dir.tmp"));
}

// Another process's listing keeps its name while its object lives.
TEST(ListDirectory, ANameHeldByAnotherProcessIsPassedOver)
{
    TempDir tmp;
    ScopedTempDir temp(tmp.path() + kSep);
    const std::string gate = tmp.File("gate");
#ifdef _WIN32
    // cmd takes off the outer quotes.
    const std::string command = "\"\"" + ProgramDirectory() + "service_test_child.exe\" list \"" + tmp.path() +
                                "\" \"" + gate + "\"\"";
#else
    const std::string command = std::string(SERVICE_TEST_CHILD) + " list " + tmp.path() + " " + gate;
#endif
    FILE* lister = ::popen(command.c_str(), "r");
    ASSERT_NE(lister, nullptr);
    char line[300] = "";
    const std::string theirs(line, std::fgets(line, sizeof(line), lister) ? std::strcspn(line, "\r\n") : 0);
    Exposed<CGLSocket> s;
    EXPECT_EQ(s.ListDirectory(AsRequest(Pattern(tmp.File("*.none")))), tmp.File("4294967295-1.dir.tmp"));
    WriteWholeFile(gate, "");
    EXPECT_EQ(::pclose(lister), 0);
    EXPECT_EQ(theirs, tmp.File("4294967295.dir.tmp"));
    EXPECT_FALSE(PathExists(theirs));
}

// Two objects with the same handle list at once: each keeps its own file.
TEST(ListDirectory, ObjectsWithOneHandleNeverShareAFile)
{
    TempDir tmp;
    ScopedTempDir temp(tmp.path() + kSep);
    WriteWholeFile(tmp.File("a.dat"), "1");
    WriteWholeFile(tmp.File("b.dat"), "22");
    Exposed<CGLSocket> first, second;
    auto a = Pattern(tmp.File("a.dat")), b = Pattern(tmp.File("b.dat"));
    EXPECT_EQ(first.ListDirectory(AsRequest(a)), tmp.File("4294967295.dir.tmp"));
    EXPECT_EQ(second.ListDirectory(AsRequest(b)), tmp.File("4294967295-1.dir.tmp"));
    // A new listing replaces the object's own file, and that one only.
    EXPECT_EQ(first.ListDirectory(AsRequest(a)), tmp.File("4294967295.dir.tmp"));
    auto onlyPath = [&](const char* name) {
        auto records = Records(ReadWholeFile(tmp.File(name)));
        return records.size() == 1 ? std::string(records[0].path) : std::string();
    };
    EXPECT_EQ(onlyPath("4294967295.dir.tmp"), tmp.File("a.dat"));
    EXPECT_EQ(onlyPath("4294967295-1.dir.tmp"), tmp.File("b.dat"));
}

// Objects come and go, listing again and again: one file per live object stays.
TEST(ListDirectory, FilesStayAsManyAsTheObjects)
{
    TempDir tmp;
    ScopedTempDir temp(tmp.File("t") + kSep);
    auto request = Pattern(tmp.File("*.none"));
    auto files = [&] { return std::distance(std::filesystem::directory_iterator(tmp.File("t")), {}); };
    {
        std::unique_ptr<Exposed<CGLSocket>> objects[3];
        for (int i = 0; i < 60; ++i) {
            if (objects[i % 3] == nullptr || i % 7 == 0)
                objects[i % 3] = std::make_unique<Exposed<CGLSocket>>();
            EXPECT_FALSE(objects[i % 3]->ListDirectory(AsRequest(request)).empty());
            EXPECT_LE(files(), 3);
        }
    }
    EXPECT_EQ(files(), 0);
}

TEST(ListDirectory, CreatesTheTemporaryDirectoryOrFailsWith71200)
{
    TempDir tmp;
    auto request = Pattern(tmp.File("*"));
    {
        ScopedTempDir temp(tmp.File("t/new/"));
        Exposed<CGLSocket> s;
        EXPECT_EQ(s.ListDirectory(AsRequest(request)), tmp.File("t/new/4294967295.dir.tmp"));
    }
    WriteWholeFile(tmp.File("file"), "x");
    ScopedTempDir temp(tmp.File("file/"));
    Exposed<CGLSocket> s;
    EXPECT_EQ(s.ListDirectory(AsRequest(request)), "");
    EXPECT_EQ(s.m_nLastError, 71200);
}

TEST(ListDirectory, CutsLongPathsAndTakesTheCutPathsAttributes)
{
    TempDir tmp;
    ScopedTempDir temp(tmp.path() + kSep);
    std::string path = MakeLongPath(tmp.path());
    std::string dir = path.substr(0, path.rfind(plat::kPathSeparator));
    Exposed<CGLSocket> s;
    auto request = Pattern(dir + kSep + "*");
    auto records = Records(ReadWholeFile(s.ListDirectory(AsRequest(request))));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(std::string(records[0].path), path.substr(0, 255));
    EXPECT_EQ(records[0].attributes, 0xFFFFFFFFu);
}

// Writes into memory and fails with a full disk on the write numbered
// `failAt` (from 1).
class FillingFile : public CFile {
public:
    explicit FillingFile(int failAt) : m_failAt(failAt) {}
    void Write(const void* buffer, uint32_t count) override
    {
        if (++m_writes == m_failAt)
            throw new CFileException(CFileException::diskFull);
        m_bytes.append(static_cast<const char*>(buffer), count);
    }
    void Close() override { ++m_closes; }

    std::string m_bytes;
    int m_closes = 0;

private:
    int m_failAt;
    int m_writes = 0;
};

TEST(ListDirectory, WriteFailureEndsWithItsCauseAndKeepsEarlierRecords)
{
    TempDir tmp;
    for (const char* name : {"a", "b", "c", "d"})
        WriteWholeFile(tmp.File(name), "x");
    Exposed<CGLSocket> s;
    FillingFile listing(3);
    s.WriteListingRecords(&listing, tmp.File("*").c_str());
    EXPECT_EQ(s.m_nLastError, 13);
    EXPECT_EQ(listing.m_bytes.size(), 2 * sizeof(FileInfoRecord));
    EXPECT_EQ(listing.m_closes, 1);
}

#ifndef _WIN32
TEST(ListDirectory, FullDiskReturnsTheNameWithTheDiskFullCause)
{
    TempDir tmp;
    ScopedTempDir temp(tmp.path() + "/");
    WriteWholeFile(tmp.File("a"), "x");
    Exposed<CGLSocket> s;
    auto request = Pattern(tmp.File("*"));
    ScopedFileSizeLimit full(100);
    EXPECT_EQ(s.ListDirectory(AsRequest(request)), tmp.File("4294967295.dir.tmp"));
    EXPECT_EQ(s.m_nLastError, 13);
}

// A link or a directory at the name is passed over; what the link names is
// left alone.
TEST(ListDirectory, NamesThatAreNoPlainFilesArePassedOver)
{
    TempDir tmp;
    ScopedTempDir temp(tmp.path() + "/");
    WriteWholeFile(tmp.File("victim"), "theirs");
    ASSERT_EQ(::symlink(tmp.File("victim").c_str(), tmp.File("4294967295.dir.tmp").c_str()), 0);
    MakeDir(tmp.File("4294967295-1.dir.tmp"));
    Exposed<CGLSocket> s;
    EXPECT_EQ(s.ListDirectory(AsRequest(Pattern(tmp.File("*.none")))), tmp.File("4294967295-2.dir.tmp"));
    EXPECT_EQ(ReadWholeFile(tmp.File("victim")), "theirs");
}
#endif

} // namespace
