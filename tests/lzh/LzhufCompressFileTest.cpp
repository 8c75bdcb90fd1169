#include <gtest/gtest.h>

#include <memory>

#include "lzh/LzhufTestUtil.h"
#include "platform/SystemErrors.h"
#include "doubles/FailingClose.h"
#include "doubles/MixedCorpus.h"
#include "doubles/TempDir.h"
#include "doubles/TestFs.h"

namespace {

class LzhufCompressFile : public ::testing::Test {
protected:
    TempDir m_dir;
    std::unique_ptr<CLzhufEncoder> m_encoder = std::make_unique<CLzhufEncoder>();
    std::string Path(const char* name) const { return m_dir.File(name); }
};

TEST_F(LzhufCompressFile, ReplacesTheTargetAndLeavesNoTemporaryFile)
{
    const std::string input = MakeMixedCorpus(150000, 3);
    WriteWholeFile(Path("a.dat"), input);
    WriteWholeFile(Path("a.dat.lrz"), "an older copy");
    // A temporary file left by a crash, longer than the new copy.
    WriteWholeFile(Path("a.dat.lrz.z!!"), std::string(200000, 'x'));
    ASSERT_EQ(m_encoder->CompressFile(Path("a.dat").c_str(), Path("a.dat.lrz").c_str()), TRUE);
    EXPECT_EQ(ReadWholeFile(Path("a.dat.lrz")), Compress(input));
    EXPECT_FALSE(PathExists(Path("a.dat.lrz.z!!")));
    EXPECT_EQ(ReadWholeFile(Path("a.dat")), input);
}

TEST_F(LzhufCompressFile, EmptySourceGivesFourZeroBytes)
{
    WriteWholeFile(Path("empty"), "");
    ASSERT_EQ(m_encoder->CompressFile(Path("empty").c_str(), Path("empty.lrz").c_str()), TRUE);
    EXPECT_EQ(ReadWholeFile(Path("empty.lrz")), std::string(4, '\0'));
}

TEST_F(LzhufCompressFile, MissingSourceLeavesNoTargetAndNoTemporaryFile)
{
    WriteWholeFile(Path("b.lrz"), "stale");
    EXPECT_EQ(m_encoder->CompressFile(Path("missing").c_str(), Path("b.lrz").c_str()), FALSE);
    EXPECT_EQ(plat::LastSystemError(), plat::kErrorFileNotFound);
    EXPECT_FALSE(PathExists(Path("b.lrz")));
    EXPECT_FALSE(PathExists(Path("b.lrz.z!!")));
}

TEST_F(LzhufCompressFile, UncreatableTemporaryFileFailsWithoutOutput)
{
    WriteWholeFile(Path("c.dat"), "some data");
    const std::string target = Path("no-such-dir/c.lrz");
    EXPECT_EQ(m_encoder->CompressFile(Path("c.dat").c_str(), target.c_str()), FALSE);
    EXPECT_NE(plat::LastSystemError(), 0);
    EXPECT_FALSE(PathExists(target));
    EXPECT_FALSE(PathExists(target + ".z!!"));
}

#ifndef _WIN32
// The file-size limit makes the second 65535-byte write fail (EFBIG).
TEST_F(LzhufCompressFile, WriteFailureLeavesTheTemporaryFileAndNoTarget)
{
    WriteWholeFile(Path("d.dat"), MakeRandomBytes(400000, 4));
    WriteWholeFile(Path("d.lrz"), "stale");
    int cause = -1;
    try {
        ScopedFileSizeLimit limit(100000);
        m_encoder->CompressFile(Path("d.dat").c_str(), Path("d.lrz").c_str());
    } catch (CFileException* e) {
        cause = e->m_cause;
        e->Delete();
    }

    EXPECT_EQ(cause, CFileException::diskFull);
    EXPECT_FALSE(PathExists(Path("d.lrz")));
    ASSERT_TRUE(PathExists(Path("d.lrz.z!!")));
    const std::size_t kept = ReadWholeFile(Path("d.lrz.z!!")).size();
    EXPECT_GE(kept, 65535u);
    EXPECT_LE(kept, 100000u);
}
#endif

// The header is 32-bit, and so is CFile::GetLength.
TEST_F(LzhufCompressFile, SourceOf4GiBOrMoreIsRefused)
{
    const std::string big = Path("big.dat");
    if (!MakeSparseFile(big, (std::uint64_t(1) << 32) + 5))
        GTEST_SKIP() << "no sparse 4 GiB file on this file system";
    EXPECT_EQ(m_encoder->CompressFile(big.c_str(), Path("big.lrz").c_str()), FALSE);
    EXPECT_EQ(plat::LastSystemError(), plat::kErrorFileTooLarge);
    EXPECT_FALSE(PathExists(Path("big.lrz")));
    EXPECT_FALSE(PathExists(Path("big.lrz.z!!")));
}

// A target that cannot be deleted blocks the final move; the result is
// still 1 and the data stay under the temporary name.
TEST_F(LzhufCompressFile, FailedMoveKeepsTheDataUnderTheTemporaryName)
{
    WriteWholeFile(Path("e.dat"), "eeee");
    MakeDir(Path("e.lrz"));
    ASSERT_TRUE(IsDirectory(Path("e.lrz")));
    EXPECT_EQ(m_encoder->CompressFile(Path("e.dat").c_str(), Path("e.lrz").c_str()), TRUE);
    EXPECT_EQ(ReadWholeFile(Path("e.lrz.z!!")), Compress("eeee"));
}

#ifdef VEXACOMM_FAILING_CLOSE
// A write that fails only at close leaves no file under the final name.
TEST_F(LzhufCompressFile, FailedCloseIsAFailedWrite)
{
    WriteWholeFile(Path("c.dat"), MakeText(100000, 3));
    WriteWholeFile(Path("c.lrz"), Compress(MakeText(100000, 3)));
    auto decoder = std::make_unique<CLzhufDecoder>();
    ScopedFailingClose failing;
    int cause = -1;
    try {
        m_encoder->CompressFile(Path("c.dat").c_str(), Path("c2.lrz").c_str());
    } catch (CFileException* e) {
        cause = e->m_cause;
        e->Delete();
    }
    EXPECT_EQ(cause, CFileException::hardIO);
    EXPECT_FALSE(PathExists(Path("c2.lrz")));
    EXPECT_EQ(decoder->DecompressFile(Path("c.lrz").c_str(), Path("c.out").c_str()), LzhufStatus::WriteFailed);
    EXPECT_EQ(decoder->GetFileError(), CFileException::hardIO);
    EXPECT_FALSE(PathExists(Path("c.out")));
    EXPECT_EQ(failing.Failed(), 2);
}
#endif

TEST_F(LzhufCompressFile, DecompressFileRestoresTheSource)
{
    const std::string input = MakeMixedCorpus(200000, 6);
    WriteWholeFile(Path("f.dat"), input);
    ASSERT_EQ(m_encoder->CompressFile(Path("f.dat").c_str(), Path("f.lrz").c_str()), TRUE);
    WriteWholeFile(Path("f.out"), "to be replaced");
    auto decoder = std::make_unique<CLzhufDecoder>();
    ASSERT_EQ(decoder->DecompressFile(Path("f.lrz").c_str(), Path("f.out").c_str()), LzhufStatus::Ok);
    EXPECT_TRUE(ReadWholeFile(Path("f.out")) == input);
}

TEST_F(LzhufCompressFile, DecompressFileFailures)
{
    auto decoder = std::make_unique<CLzhufDecoder>();
    EXPECT_EQ(decoder->DecompressFile(Path("missing").c_str(), Path("g.out").c_str()),
              LzhufStatus::SourceOpenFailed);
    EXPECT_EQ(decoder->GetFileError(), plat::kErrorFileNotFound);
    EXPECT_FALSE(PathExists(Path("g.out")));

    const std::string packed = Compress(MakeText(100000, 7));
    WriteWholeFile(Path("cut.lrz"), packed.substr(0, packed.size() / 2));
    EXPECT_EQ(decoder->DecompressFile(Path("cut.lrz").c_str(), Path("cut.out").c_str()),
              LzhufStatus::Truncated);
    EXPECT_FALSE(PathExists(Path("cut.out")));

    WriteWholeFile(Path("h.lrz"), packed);
    EXPECT_EQ(decoder->DecompressFile(Path("h.lrz").c_str(), Path("no-such-dir/h").c_str()),
              LzhufStatus::TargetOpenFailed);
}

} // namespace
