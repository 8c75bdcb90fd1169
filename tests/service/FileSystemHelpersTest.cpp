#include <gtest/gtest.h>

#ifdef _WIN32
#include "platform/win32/WinApi.h"
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "ServiceTestUtil.h"
#include "platform/DiskFile.h"
#include "platform/FileSystem.h"
#include "platform/SystemErrors.h"
#include "support/FileSystemHelpers.h"
#include "doubles/TempDir.h"

namespace {

TEST(ForceDeleteFile, DeletesReadOnlyAndHiddenFiles)
{
    TempDir tmp;
    WriteWholeFile(tmp.File("ro.txt"), "x");
    SetReadOnly(tmp.File("ro.txt"));
    WriteWholeFile(tmp.File(".hidden"), "x");
    SetHidden(tmp.File(".hidden"));

    EXPECT_NE(ForceDeleteFile(tmp.File("ro.txt").c_str()), 0);
    EXPECT_NE(ForceDeleteFile(tmp.File(".hidden").c_str()), 0);
    EXPECT_FALSE(PathExists(tmp.File("ro.txt")));
    EXPECT_FALSE(PathExists(tmp.File(".hidden")));
}

TEST(ForceDeleteFile, FailsOnMissingFileAndOnDirectory)
{
    TempDir tmp;
    EXPECT_EQ(ForceDeleteFile(tmp.File("missing").c_str()), 0);
    EXPECT_EQ(plat::LastSystemError(), plat::kErrorFileNotFound);
    MakeDir(tmp.File("d"));
    EXPECT_EQ(ForceDeleteFile(tmp.File("d").c_str()), 0);
    EXPECT_TRUE(PathExists(tmp.File("d")));
}

// A tree of read-only files, hidden entries and read-only directories.
void BuildTree(const std::string& root)
{
    auto at = [&root](const char* name) { return root + kSep + NativePath(name); };
    MakeDir(root);
    WriteWholeFile(at("a.dat"), "a");
    WriteWholeFile(at("noext"), "b");
    WriteWholeFile(at(".hidden"), "c");
    SetHidden(at(".hidden"));
    MakeDir(at("sub"));
    WriteWholeFile(at("sub/ro.dat"), "d");
    SetReadOnly(at("sub/ro.dat"));
    MakeDir(at("sub/.deep"));
    WriteWholeFile(at("sub/.deep/f"), "e");
    SetHidden(at("sub/.deep"));
    SetReadOnly(at("sub/.deep"));
    SetReadOnly(at("sub"));
}

TEST(DeleteDirectoryTree, RemovesWholeTreeWithOrWithoutTrailingSeparator)
{
    TempDir tmp;
    BuildTree(tmp.File("t1"));
    BuildTree(tmp.File("t2"));
    EXPECT_NE(DeleteDirectoryTree(tmp.File("t1").c_str(), TRUE), 0);
    EXPECT_NE(DeleteDirectoryTree((tmp.File("t2") + kSep).c_str(), TRUE), 0);
    EXPECT_FALSE(PathExists(tmp.File("t1")));
    EXPECT_FALSE(PathExists(tmp.File("t2")));
}

TEST(DeleteDirectoryTree, KeepsTheDirectoryUnlessAskedAndHandlesMissingOnes)
{
    TempDir tmp;
    BuildTree(tmp.File("t"));
    EXPECT_EQ(DeleteDirectoryTree(tmp.File("t").c_str(), FALSE), 1);
    EXPECT_TRUE(PathExists(tmp.File("t")));
    EXPECT_FALSE(PathExists(tmp.File("t/a.dat")));
    EXPECT_FALSE(PathExists(tmp.File("t/sub")));

    EXPECT_EQ(DeleteDirectoryTree(tmp.File("missing").c_str(), FALSE), 1);
    EXPECT_EQ(DeleteDirectoryTree(tmp.File("missing").c_str(), TRUE), 0);
}

#ifndef _WIN32
// A link inside the tree goes; the directory it points to and that
// directory's permissions stay as they were.
TEST(DeleteDirectoryTree, RemovesLinksButNeverWhatTheyPointTo)
{
    TempDir tmp;
    MakeDir(tmp.File("outside"));
    WriteWholeFile(tmp.File("outside/keep"), "k");
    ::chmod(tmp.File("outside").c_str(), 0555);
    MakeDir(tmp.File("t"));
    ASSERT_EQ(::symlink(tmp.File("outside").c_str(), tmp.File("t/link").c_str()), 0);
    ASSERT_EQ(::symlink(tmp.File("nowhere").c_str(), tmp.File("t/dangling").c_str()), 0);

    EXPECT_NE(DeleteDirectoryTree(tmp.File("t").c_str(), TRUE), 0);
    EXPECT_FALSE(PathExists(tmp.File("t")));
    // "x/" names a tree; a link there is no directory and goes alone.
    ASSERT_EQ(::symlink(tmp.File("outside").c_str(), tmp.File("x").c_str()), 0);
    EXPECT_NE(DeleteDirectoryTree(tmp.File("x/").c_str(), TRUE), 0);
    EXPECT_FALSE(PathExists(tmp.File("x")));
    EXPECT_TRUE(PathExists(tmp.File("outside/keep")));
    struct stat st;
    ASSERT_EQ(::stat(tmp.File("outside").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0555u);
}
#else
// A directory link inside the tree goes; the directory it points to, its
// content and its read-only attribute stay.
TEST(DeleteDirectoryTree, RemovesLinksButNeverWhatTheyPointTo)
{
    TempDir tmp;
    MakeDir(tmp.File("outside"));
    WriteWholeFile(tmp.File("outside/keep"), "k");
    SetReadOnly(tmp.File("outside"));
    MakeDir(tmp.File("t"));
    std::string link = tmp.File("t/link");
    // Symbolic links need a privilege (or developer mode) on Windows, and
    // wine reports success without making one.
    if (!::CreateSymbolicLinkA(link.c_str(), tmp.File("outside").c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) ||
        !PathExists(link))
        GTEST_SKIP() << "no directory symbolic links here (a privilege is missing, or this is wine)";

    EXPECT_NE(DeleteDirectoryTree(tmp.File("t").c_str(), TRUE), 0);
    EXPECT_FALSE(PathExists(tmp.File("t")));
    EXPECT_TRUE(PathExists(tmp.File("outside/keep")));
    EXPECT_NE(::GetFileAttributesA(tmp.File("outside").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
}
#endif

// An entry that cannot be deleted ends the walk there: on POSIX a
// subdirectory that cannot be read, on Windows a file held open without
// delete sharing. Entries handled before it are gone, the rest and every
// directory on its path remain.
TEST(DeleteDirectoryTree, StopsAtTheFirstEntryThatCannotBeDeleted)
{
#ifndef _WIN32
    SKIP_IF_PERMISSIONS_IGNORED();
#endif
    TempDir tmp;
    std::string root = tmp.File("t");
    MakeDir(root);
    for (const char* name : {"f1", "f2", "f3", "f4", "f5"})
        WriteWholeFile(root + kSep + name, "x");
    std::string locked = root + kSep + "locked";
#ifdef _WIN32
    CDiskFile held;
    ASSERT_TRUE(held.Open(locked.c_str(), 0x1001));
#else
    MakeDir(locked);
    WriteWholeFile(locked + "/inner", "x");
    ::chmod(locked.c_str(), 0);
#endif

    std::vector<std::string> order;
    plat::FileFind finder;
    for (bool more = finder.FindFile((root + kSep + "*.*").c_str()); more;) {
        more = finder.FindNextFile();
        if (!finder.IsDots())
            order.push_back(finder.GetFileName());
    }

    EXPECT_EQ(DeleteDirectoryTree(root.c_str(), TRUE), 0);
    bool after = false;
    for (const std::string& name : order) {
        if (name == "locked") {
            after = true;
            EXPECT_TRUE(PathExists(locked));
        } else {
            EXPECT_EQ(PathExists(root + kSep + name), after) << name;
        }
    }
    EXPECT_TRUE(PathExists(root));
#ifndef _WIN32
    ::chmod(locked.c_str(), 0700);
#endif
}

TEST(FileExists, TrueOnlyForAFileThatCanBeOpenedForReading)
{
    TempDir tmp;
    WriteWholeFile(tmp.File("f"), "x");
    MakeDir(tmp.File("d"));
    EXPECT_EQ(FileExists(tmp.File("f").c_str()), 1);
    EXPECT_EQ(FileExists(tmp.File("d").c_str()), 0);
    EXPECT_EQ(FileExists(tmp.File("missing").c_str()), 0);
}

// The three open flags of the service: 0x1001 shares nothing, 0x20 lets
// others read, 0x40 lets others read and write.
TEST(FileSharing, ExclusiveWriterKeepsEveryOtherOpenerOut)
{
    TempDir tmp;
    std::string path = tmp.File("f");
    CDiskFile writer;
    ASSERT_TRUE(writer.Open(path.c_str(), 0x1001));
    writer.Write("data", 4);

    CDiskFile other;
    EXPECT_FALSE(other.Open(path.c_str(), 0x20));
    EXPECT_EQ(plat::LastSystemError(), plat::kErrorSharingViolation);
    EXPECT_FALSE(other.Open(path.c_str(), 0x40));
    EXPECT_FALSE(other.Open(path.c_str(), 0x1001));
    EXPECT_EQ(FileExists(path.c_str()), 0);
    writer.Close();
    EXPECT_EQ(ReadWholeFile(path), "data");
    EXPECT_EQ(FileExists(path.c_str()), 1);
}

TEST(FileSharing, ReadersShareButKeepWritersOutAndTheContentWhole)
{
    TempDir tmp;
    std::string path = tmp.File("f");
    WriteWholeFile(path, "content");
    CDiskFile reader;
    ASSERT_TRUE(reader.Open(path.c_str(), 0x20));

    CDiskFile second;
    CDiskFile third;
    EXPECT_TRUE(second.Open(path.c_str(), 0x20));
    EXPECT_TRUE(third.Open(path.c_str(), 0x40));
    EXPECT_EQ(FileExists(path.c_str()), 1);
    CDiskFile writer;
    EXPECT_FALSE(writer.Open(path.c_str(), 0x1001));
    EXPECT_EQ(plat::LastSystemError(), plat::kErrorSharingViolation);
#ifdef _WIN32
    // Deny-write keeps out even a writer that would share everything.
    EXPECT_FALSE(writer.Open(path.c_str(), 0x41));
    EXPECT_EQ(plat::LastSystemError(), plat::kErrorSharingViolation);
#endif
    // The refused openers must not have emptied the file.
    EXPECT_EQ(ReadWholeFile(path), "content");
}

TEST(CreateDirectoryPath, TextsThatNameNoLevel)
{
    EXPECT_EQ(CreateDirectoryPath(""), 0);
#ifdef _WIN32
    // Any two characters without a separator count as a drive, any three
    // with one as a root; nothing is created for them.
    EXPECT_EQ(CreateDirectoryPath("C:"), 1);
    EXPECT_EQ(CreateDirectoryPath("ab"), 1);
    EXPECT_EQ(CreateDirectoryPath("abc"), 0);
    EXPECT_EQ(CreateDirectoryPath("C:\\"), 1);
    // A UNC name: the rest after the first separator begins with another.
    EXPECT_EQ(CreateDirectoryPath("\\\\server\\share\\dir"), 1);
#else
    EXPECT_EQ(CreateDirectoryPath("ab"), 0);
    EXPECT_EQ(CreateDirectoryPath("/"), 1);
#endif
    // Any three characters with a separator count as a root, on both.
    TempDir tmp;
    ScopedChdir cd(tmp.path());
    MakeDir(tmp.File("a"));
    EXPECT_EQ(CreateDirectoryPath(NativePath("a/b").c_str()), 1);
    EXPECT_FALSE(PathExists(tmp.File("a/b")));
    EXPECT_EQ(CreateDirectoryPath(NativePath("a/bc").c_str()), 1);
    EXPECT_TRUE(IsDirectory(tmp.File("a/bc")));
}

TEST(CreateDirectoryPath, CreatesEveryLevelIncludingTheLast)
{
    TempDir tmp;
    EXPECT_EQ(CreateDirectoryPath(tmp.File("a/b/c").c_str()), 1);
    EXPECT_EQ(CreateDirectoryPath(tmp.File("x/y/").c_str()), 1);
    EXPECT_EQ(CreateDirectoryPath(tmp.File("a/b/c").c_str()), 1);
    EXPECT_TRUE(IsDirectory(tmp.File("a/b/c")));
    EXPECT_TRUE(IsDirectory(tmp.File("x/y")));
}

TEST(CreateDirectoryPath, ALevelTakenByAFile)
{
    TempDir tmp;
    WriteWholeFile(tmp.File("f"), "x");
    EXPECT_EQ(CreateDirectoryPath(tmp.File("f").c_str()), 1);
    EXPECT_EQ(CreateDirectoryPath(tmp.File("f/below").c_str()), 0);
    EXPECT_FALSE(PathExists(tmp.File("f/below")));
}

TEST(CreateDirectoryPath, KeepsLevelsMadeBeforeAFailure)
{
    TempDir tmp;
    std::string tooLong(300, 'n');
    EXPECT_EQ(CreateDirectoryPath(tmp.File("made/" + tooLong + "/x").c_str()), 0);
    EXPECT_TRUE(PathExists(tmp.File("made")));
}

TEST(CreateDirectoryPath, DoubledSeparatorEndsTheWalk)
{
    TempDir tmp;
    EXPECT_EQ(CreateDirectoryPath(tmp.File("a//b").c_str()), 1);
    EXPECT_TRUE(PathExists(tmp.File("a")));
    EXPECT_FALSE(PathExists(tmp.File("a/b")));
}

TEST(CreateDirectoryPath, RelativePathNeverCreatesItsFirstLevel)
{
    TempDir tmp;
    ScopedChdir cd(tmp.path());
    EXPECT_EQ(CreateDirectoryPath(NativePath("x/y/z").c_str()), 0);
    EXPECT_FALSE(PathExists(tmp.File("x")));
    MakeDir(tmp.File("x"));
    EXPECT_EQ(CreateDirectoryPath(NativePath("x/y/z").c_str()), 1);
    EXPECT_TRUE(PathExists(tmp.File("x/y/z")));
}

TEST(GetFileVersionString, EmptyWithoutAVersionResource)
{
    TempDir tmp;
    WriteWholeFile(tmp.File("f"), "MZ");
    EXPECT_EQ(GetFileVersionString(tmp.File("f").c_str()), "");
    EXPECT_EQ(GetFileVersionString(tmp.File("missing").c_str()), "");
}

#ifdef _WIN32
// DLLs built beside the test program with version resources; the fixed
// numeric fields of both hold other numbers than the texts.
TEST(GetFileVersionString, ChineseStringTableOnlyWithCommasTurnedIntoDots)
{
    EXPECT_EQ(GetFileVersionString((ProgramDirectory() + "version_zh.dll").c_str()), "2.1.0.5");
    EXPECT_EQ(GetFileVersionString((ProgramDirectory() + "version_en.dll").c_str()), "");
}
#endif

TEST(Wildcard, WindowsRules)
{
    EXPECT_TRUE(plat::MatchesWildcard("*.*", "noext"));
    EXPECT_TRUE(plat::MatchesWildcard("*.*", "a.b.c"));
    EXPECT_TRUE(plat::MatchesWildcard("*", ".hidden"));
    EXPECT_TRUE(plat::MatchesWildcard("a*.*", "abc"));
    EXPECT_TRUE(plat::MatchesWildcard("*.dat", "x.dat"));
    EXPECT_FALSE(plat::MatchesWildcard("*.dat", "x.dat.bak"));
    EXPECT_FALSE(plat::MatchesWildcard("*.dat", "xdat"));
    EXPECT_TRUE(plat::MatchesWildcard("f?.t*", "f1.txt"));
    EXPECT_FALSE(plat::MatchesWildcard("f?.t*", "f12.txt"));
    // Brackets are plain characters in Windows names.
    EXPECT_TRUE(plat::MatchesWildcard("a[1].dat", "a[1].dat"));
    EXPECT_FALSE(plat::MatchesWildcard("a[1].dat", "a1.dat"));
}

TEST(FileFind, FullPathsOfARelativeOrDoubledPattern)
{
    TempDir tmp;
    MakeDir(tmp.File("d"));
    WriteWholeFile(tmp.File("d/one.dat"), "12345");
    ScopedChdir cd(tmp.path());

    plat::FileFind finder;
    ASSERT_TRUE(finder.FindFile(NativePath("./d//*.dat").c_str()));
    EXPECT_FALSE(finder.FindNextFile());
    // The working directory as the system reports it may differ from the
    // temporary path by symbolic links.
    EXPECT_EQ(finder.GetFilePath(), CurrentDirectory() + NativePath("/d/one.dat"));
    EXPECT_EQ(finder.GetLength(), 5u);
    EXPECT_FALSE(finder.IsDirectory());
    EXPECT_FALSE(finder.FindFile(NativePath("d/*.none").c_str()));
    EXPECT_FALSE(finder.FindFile(NativePath("missing/*").c_str()));
}

TEST(FileFind, APatternEndingInASeparatorFindsNothing)
{
    TempDir tmp;
    plat::SetLastSystemError(0);
    plat::FileFind finder;
    EXPECT_FALSE(finder.FindFile((tmp.path() + kSep).c_str()));
    EXPECT_EQ(plat::LastSystemError(), plat::kErrorFileNotFound);
    EXPECT_EQ(finder.GetFilePath(), "");
}

TEST(FileFind, EntriesOfTheRootHaveOneSeparator)
{
    // "/" on POSIX, the drive's "X:\" on Windows.
    TempDir tmp;
    const std::string root = tmp.path().substr(0, tmp.path().find(kSep) + 1);
    plat::FileFind finder;
    ASSERT_TRUE(finder.FindFile((root + "*").c_str()));
    finder.FindNextFile();
    EXPECT_EQ(finder.GetFilePath(), root + finder.GetFileName());
}

} // namespace
