#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <vector>

#ifdef _WIN32
#include "platform/win32/WinApi.h"
#endif

#include "ServiceTestUtil.h"
#include "VexaCommFile.h"
#include "service/ServiceRecords.h"
#include "support/FileSystemHelpers.h"
#include "doubles/TempDir.h"
#include "doubles/Exposed.h"

namespace {

// 2023-11-14 22:13:20 UTC.
constexpr std::time_t kStamp = 1700000000;

// The attribute byte a record carries for `path`: the POSIX mapping gives
// `posix`; Windows gives the file system's own bits (a new file has the
// archive bit, for one), which must include `windowsBits`.
std::uint32_t AttributeByte(const std::string& path, std::uint32_t posix, std::uint32_t windowsBits)
{
#ifdef _WIN32
    (void)posix;
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    EXPECT_EQ(attributes & windowsBits, windowsBits) << path;
    return attributes & 0xFFu & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
#else
    (void)path;
    (void)windowsBits;
    return posix;
#endif
}


// A record with room behind it, so that a write past its end shows.
struct GuardedRecord {
    GuardedRecord() { std::memset(bytes, 0xAB, sizeof(bytes)); }
    FileInfoRecord* record() { return reinterpret_cast<FileInfoRecord*>(bytes); }
    FileInfoVersionRecord* versionRecord() { return reinterpret_cast<FileInfoVersionRecord*>(bytes); }
    std::string Head(std::size_t n) const { return std::string(reinterpret_cast<const char*>(bytes), n); }
    bool GuardIntact(std::size_t from) const
    {
        for (std::size_t i = from; i < sizeof(bytes); ++i)
            if (bytes[i] != 0xAB)
                return false;
        return true;
    }
    unsigned char bytes[400];
};

TEST(GetFileInfo, FillsTheRecordByteForByte)
{
    ScopedTimeZone zone("CST-8");
    TempDir tmp;
    std::string path = tmp.File("f.dat");
    WriteWholeFile(path, std::string(5000, 'x'));
    ASSERT_TRUE(SetMtime(path, kStamp));
    SetReadOnly(path);

    Exposed<CGLSocket> s;
    GuardedRecord r;
    ASSERT_EQ(s.GetFileInfo(r.record(), path.c_str()), 1);
    EXPECT_EQ(r.Head(292), RecordBytes(5000, AttributeByte(path, 0x01, 0x01), 0, 5000, path));
    EXPECT_TRUE(r.GuardIntact(292));
}

// 2040-06-15 12:00:00 UTC, past the end of the 32-bit Windows time_t: the
// record keeps its year in the i686 build too.
TEST(GetFileInfo, TimeAfter2038KeepsItsCalendarFields)
{
    ScopedTimeZone zone("CST-8");
    TempDir tmp;
    std::string path = tmp.File("late.dat");
    WriteWholeFile(path, "x");
    ASSERT_TRUE(SetMtime(path, 2223374400LL));

    Exposed<CGLSocket> s;
    FileInfoRecord r;
    ASSERT_EQ(s.GetFileInfo(&r, path.c_str()), 1);
    EXPECT_EQ(r.year, 2040);
    EXPECT_EQ(r.month, 6);
    EXPECT_EQ(r.day, 15);
    EXPECT_EQ(r.hour, 20);
    EXPECT_EQ(r.minute, 0);
}

TEST(GetFileInfo, AttributesOfDirectoriesHiddenAndPlainFiles)
{
    TempDir tmp;
    MakeDir(tmp.File("d"));
    WriteWholeFile(tmp.File(".h"), "abc");
    SetHidden(tmp.File(".h"));
    WriteWholeFile(tmp.File("p"), "abc");
    Exposed<CGLSocket> s;
    FileInfoRecord r;
    ASSERT_EQ(s.GetFileInfo(&r, tmp.File("d").c_str()), 1);
    EXPECT_EQ(r.attributes, AttributeByte(tmp.File("d"), 0x10, 0x10));
    EXPECT_EQ(r.size, 0u);
    EXPECT_EQ(r.count, 0u);
    ASSERT_EQ(s.GetFileInfo(&r, tmp.File(".h").c_str()), 1);
    EXPECT_EQ(r.attributes, AttributeByte(tmp.File(".h"), 0x02, 0x02));
    ASSERT_EQ(s.GetFileInfo(&r, tmp.File("p").c_str()), 1);
    EXPECT_EQ(r.attributes, AttributeByte(tmp.File("p"), 0, 0));
    // Never FILE_ATTRIBUTE_NORMAL (0x80), not even on Windows.
    EXPECT_EQ(r.attributes & 0x80u, 0u);
    EXPECT_EQ(r.size, 3u);
}

TEST(GetFileInfo, MissingFileOrDirectoryLeavesTheRecordZero)
{
    TempDir tmp;
    Exposed<CGLSocket> s;
    GuardedRecord r;
    EXPECT_EQ(s.GetFileInfo(r.record(), tmp.File("missing").c_str()), 0);
    EXPECT_EQ(s.m_nLastError, 2);
    EXPECT_EQ(r.Head(292), std::string(292, '\0'));
    EXPECT_TRUE(r.GuardIntact(292));
    EXPECT_EQ(s.GetFileInfo(r.record(), tmp.File("nodir/missing").c_str()), 0);
    EXPECT_EQ(s.m_nLastError, 3);
#ifndef _WIN32
    // A path through a file names no directory either.
    WriteWholeFile(tmp.File("file"), "x");
    EXPECT_EQ(s.GetFileInfo(r.record(), tmp.File("file/missing").c_str()), 0);
    EXPECT_EQ(s.m_nLastError, 3);
#endif
}

// Beneath a root, a name that would lead out, or (Windows) a drive, UNC,
// device or stream name, is refused before anything is looked at; a file
// inside is found by its path from the root.
TEST(GetFileInfo, BeneathARootRefusesPathsThatLeadOut)
{
    TempDir tmp;
    WriteWholeFile(tmp.File("in"), "x");
    MakeDir(tmp.File("d"));
    WriteWholeFile(tmp.File("d/in"), "x");
    Exposed<CGLSocket> s;
    ASSERT_EQ(s.SetServiceRoot(tmp.path().c_str()), 1);
    FileInfoRecord r;
    EXPECT_EQ(s.GetFileInfo(&r, (kSep + "in").c_str()), 1);
    EXPECT_EQ(s.GetFileInfo(&r, ("d" + kSep + "." + kSep + "in").c_str()), 1);
    std::vector<std::string> refused = {"..", "../in", "a/../../in", ".." + kSep + "in"};
#ifdef _WIN32
    for (const char* name :
         {"C:\\in", "C:in", "\\\\server\\share\\in", "\\\\?\\C:\\in", "NUL", "a\\COM1.txt", "in.", "in:s"})
        refused.push_back(name);
#endif
    for (const std::string& path : refused) {
        s.m_nLastError = 0;
        EXPECT_EQ(s.GetFileInfo(&r, path.c_str()), 0) << path;
        EXPECT_EQ(s.m_nLastError, 5) << path;
    }
}

TEST(GetFileInfo, KeepsARelativePathAsGiven)
{
    TempDir tmp;
    WriteWholeFile(tmp.File("rel.txt"), "r");
    ScopedChdir cd(tmp.path());
    Exposed<CGLSocket> s;
    FileInfoRecord r;
    ASSERT_EQ(s.GetFileInfo(&r, "rel.txt"), 1);
    EXPECT_STREQ(r.path, "rel.txt");
}

TEST(GetFileInfo, CutsAPathLongerThan255Characters)
{
    TempDir tmp;
    std::string path = MakeLongPath(tmp.path());
    ASSERT_TRUE(PathExists(path));
    ASSERT_GT(path.size(), 255u);

    Exposed<CGLSocket> s;
    GuardedRecord r;
    ASSERT_EQ(s.GetFileInfo(r.record(), path.c_str()), 1);
    EXPECT_EQ(std::string(r.record()->path), path.substr(0, 255));
    EXPECT_TRUE(r.GuardIntact(292));

    GuardedRecord v;
    ASSERT_EQ(s.GetFileInfoVersion(v.versionRecord(), path.c_str()), 1);
    EXPECT_TRUE(v.GuardIntact(324));
}

TEST(GetFileInfoVersion, NoVersionTextThenTheSameRecord)
{
    ScopedTimeZone zone("CST-8");
    TempDir tmp;
    std::string path = tmp.File("prog");
    WriteWholeFile(path, "abcdef");
    ASSERT_TRUE(SetMtime(path, kStamp));
    Exposed<CGLSocket> s;
    GuardedRecord r;
    ASSERT_EQ(s.GetFileInfoVersion(r.versionRecord(), path.c_str()), 1);
    EXPECT_EQ(r.Head(324), std::string(32, '\0') + RecordBytes(6, AttributeByte(path, 0, 0), 0, 6, path));
    EXPECT_TRUE(r.GuardIntact(324));

    EXPECT_EQ(s.GetFileInfoVersion(r.versionRecord(), tmp.File("missing").c_str()), 0);
    EXPECT_EQ(s.m_nLastError, 2);
    EXPECT_EQ(r.Head(324), std::string(324, '\0'));
}

#ifdef _WIN32
// A DLL built beside the test program with a version text "2, 1, 0, 5"
// under Chinese (PRC); one with its strings under US English gives none.
TEST(GetFileInfoVersion, VersionTextLeadsTheRecord)
{
    std::string path = ProgramDirectory() + "version_zh.dll";
    Exposed<CGLSocket> s;
    GuardedRecord r;
    ASSERT_EQ(s.GetFileInfoVersion(r.versionRecord(), path.c_str()), 1);
    EXPECT_EQ(r.Head(32), std::string("2.1.0.5") + std::string(25, '\0'));
    EXPECT_EQ(std::string(r.versionRecord()->info.path), path);
    EXPECT_EQ(r.versionRecord()->info.size, ReadWholeFile(path).size());
    EXPECT_TRUE(r.GuardIntact(324));

    ASSERT_EQ(s.GetFileInfoVersion(r.versionRecord(), (ProgramDirectory() + "version_en.dll").c_str()), 1);
    EXPECT_EQ(r.Head(32), std::string(32, '\0'));
}
#endif

FileInfoRecord ReceiveRecord(const std::string& path)
{
    FileInfoRecord r;
    std::memset(&r, 0, sizeof(r));
    std::strncpy(r.path, path.c_str(), sizeof(r.path) - 1);
    return r;
}

TEST(CreateReceiveFile, CreatesMissingDirectoriesAndAnEmptyFile)
{
    TempDir tmp;
    std::string path = tmp.File("in/new/a.dat");
    FileInfoRecord r = ReceiveRecord(path);
    Exposed<CGLSocket> s;
    CFile* file = s.CreateReceiveFile(&r);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->GetLength(), 0u);
    file->Write("abc", 3);
    s.CloseTransferFile(file, 0, 0);
    EXPECT_EQ(ReadWholeFile(path), "abc");
}

TEST(CreateReceiveFile, EmptiesAnExistingFileUnlessItIsInUse)
{
    TempDir tmp;
    std::string path = tmp.File("a.dat");
    WriteWholeFile(path, "old content");
    FileInfoRecord r = ReceiveRecord(path);
    Exposed<CGLSocket> s;
    CFile* first = s.CreateReceiveFile(&r);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->GetLength(), 0u);
    first->Write("new", 3);

    EXPECT_EQ(s.CreateReceiveFile(&r), nullptr);
    EXPECT_EQ(s.m_nLastError, 32);
    s.CloseTransferFile(first, 0, 0);
    // The refused opener left the content alone.
    EXPECT_EQ(ReadWholeFile(path), "new");
}

TEST(CreateReceiveFile, ReadOnlyFileIsRefusedWithAccessDenied)
{
    SKIP_IF_PERMISSIONS_IGNORED();
    TempDir tmp;
    std::string path = tmp.File("ro.dat");
    WriteWholeFile(path, "keep");
    SetReadOnly(path);
    FileInfoRecord r = ReceiveRecord(path);
    Exposed<CGLSocket> s;
    EXPECT_EQ(s.CreateReceiveFile(&r), nullptr);
    EXPECT_EQ(s.m_nLastError, 5);
    EXPECT_EQ(ReadWholeFile(path), "keep");
}

TEST(CreateReceiveFile, PathWithoutSeparatorIsRelative)
{
    TempDir tmp;
    ScopedChdir cd(tmp.path());
    FileInfoRecord r = ReceiveRecord("plain.dat");
    Exposed<CGLSocket> s;
    CFile* file = s.CreateReceiveFile(&r);
    ASSERT_NE(file, nullptr);
    s.CloseTransferFile(file, 0, 0);
    EXPECT_TRUE(PathExists(tmp.File("plain.dat")));
}

// A path field without its zero would send the read beyond the record.
TEST(CreateReceiveFile, RefusesAPathFieldWithoutItsZero)
{
    FileInfoRecord r;
    std::memset(&r, 'a', sizeof(r));
    Exposed<CGLSocket> s;
    EXPECT_EQ(s.CreateReceiveFile(&r), nullptr);
    EXPECT_EQ(s.m_nLastError, 206);
}

// Request block: the head and the path behind it.
std::vector<std::uint8_t> SendRequest(const std::string& path, std::uint8_t flags, std::uint32_t start)
{
    std::string bytes = U16(0) + std::string(1, static_cast<char>(flags)) + std::string(1, '\0') + U32(start) +
                        U32(0) + path + std::string(1, '\0');
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

const FileRequest* AsRequest(const std::vector<std::uint8_t>& bytes)
{
    return reinterpret_cast<const FileRequest*>(bytes.data());
}

TEST(OpenSendFile, StartOffsetAndCountWithTheFileAtItsStart)
{
    TempDir tmp;
    std::string path = tmp.File("s.dat");
    std::string content;
    for (int i = 0; i < 5000; ++i)
        content.push_back(static_cast<char>(i * 7));
    WriteWholeFile(path, content);
    auto request = SendRequest(path, 0, 1000);
    Exposed<CGLSocket> s;
    FileInfoRecord r;
    CFile* file = s.OpenSendFile(&r, AsRequest(request));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(r.size, 5000u);
    EXPECT_EQ(r.startOffset, 1000u);
    EXPECT_EQ(r.count, 4000u);
    EXPECT_STREQ(r.path, path.c_str());
    EXPECT_EQ(file->GetPosition(), 0u);
    std::string read(5000, '\0');
    EXPECT_EQ(file->Read(&read[0], 5000), 5000u);
    EXPECT_EQ(read, content);

    // Others may read the file being sent, but not write it.
    EXPECT_EQ(FileExists(path.c_str()), 1);
    FileInfoRecord receive = ReceiveRecord(path);
    EXPECT_EQ(s.CreateReceiveFile(&receive), nullptr);
    EXPECT_EQ(s.m_nLastError, 32);
    s.CloseTransferFile(file, 0, 0);
}

TEST(OpenSendFile, OffsetAtTheEndCountsNothingAndPastItIsRefused)
{
    TempDir tmp;
    std::string path = tmp.File("s.dat");
    WriteWholeFile(path, "twelve bytes");
    Exposed<CGLSocket> s;
    for (std::uint32_t start : {12u, 13u, 100u, 0xFFFFFFFFu}) {
        FileInfoRecord r;
        auto request = SendRequest(path, 0, start);
        CFile* file = s.OpenSendFile(&r, AsRequest(request));
        EXPECT_EQ(file != nullptr, start == 12) << start;
        EXPECT_EQ(s.m_nLastError, start == 12 ? 0 : 87) << start;
        // A refused offset leaves the record describing the whole file.
        EXPECT_EQ(r.count, start == 12 ? 0u : 12u) << start;
        s.CloseTransferFile(file, 0, 0);
    }
    // Nothing was left open: a receive may still take the file.
    FileInfoRecord receive = ReceiveRecord(path);
    CFile* file = s.CreateReceiveFile(&receive);
    EXPECT_NE(file, nullptr);
    s.CloseTransferFile(file, 0, 0);
}

TEST(OpenSendFile, MissingSourceRecordsFileNotFound)
{
    TempDir tmp;
    auto request = SendRequest(tmp.File("missing"), 0, 0);
    Exposed<CGLSocket> s;
    FileInfoRecord r;
    EXPECT_EQ(s.OpenSendFile(&r, AsRequest(request)), nullptr);
    EXPECT_EQ(s.m_nLastError, 2);
}

// A host's own file object that notes its closing and deletion.
class TrackingFile : public CFile {
public:
    TrackingFile(int* closes, int* deletes) : m_closes(closes), m_deletes(deletes) {}
    ~TrackingFile() override { ++*m_deletes; }
    void Close() override { ++*m_closes; }

private:
    int* m_closes;
    int* m_deletes;
};

TEST(CloseFileOnStatus, ClosesForStatusZeroOneThreeOrWithoutCheck)
{
    Exposed<CGLSocket> s;
    struct Case {
        std::uint16_t status;
        BOOL check;
        bool closes;
    } cases[] = {{0, 1, true}, {1, 1, true}, {3, 1, true}, {2, 1, false}, {4, 1, false},
                 {65535, 1, false}, {2, 0, true}};
    for (const Case& c : cases) {
        int closes = 0;
        int deletes = 0;
        auto* file = new TrackingFile(&closes, &deletes);
        s.CloseFileOnStatus(file, &c.status, c.check);
        EXPECT_EQ(closes, c.closes ? 1 : 0) << c.status << "/" << c.check;
        EXPECT_EQ(deletes, c.closes ? 1 : 0) << c.status << "/" << c.check;
        if (!c.closes)
            delete file;
    }
    int closes = 0;
    int deletes = 0;
    auto* file = new TrackingFile(&closes, &deletes);
    s.CloseFileOnStatus(file, nullptr, TRUE);
    EXPECT_EQ(deletes, 0);
    delete file;
    s.CloseFileOnStatus(nullptr, nullptr, TRUE);
    s.CloseFileOnStatus(nullptr, nullptr, FALSE);
    s.CloseTransferFile(nullptr, 0, 0);
}

TEST(ReservedOperations, ReturnZeroAndChangeNothing)
{
    Exposed<CGLSocket> s;
    s.m_nLastError = 77;
    EXPECT_EQ(s.ReservedFile1(1, 2, 3), 0);
    EXPECT_EQ(s.ReservedFile2(1, 2, 3), 0);
    EXPECT_EQ(s.ReservedFile3(1, 2, 3), 0);
    EXPECT_EQ(s.ReservedFile4(1, 2, 3), 0);
    EXPECT_EQ(s.ReservedFile5(1, 2), 0);
    EXPECT_EQ(s.ReservedFile6(1, 2), 0);
    EXPECT_EQ(s.ReservedFile7(1, 2), 0);
    EXPECT_EQ(s.ReservedText(1), "");
    EXPECT_EQ(s.m_nLastError, 77);
}

} // namespace
