// The ".lrz" copy that OpenSendFile keeps beside a source.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <filesystem>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "ServiceTestUtil.h"
#include "VexaCommFile.h"
#include "lzh/LzhufDecoder.h"
#include "platform/DiskFile.h"
#include "service/ServiceRecords.h"
#include "doubles/TempDir.h"
#include "doubles/Exposed.h"

namespace {

const std::string kJunk = "an old copy that no decoder accepts";

std::string SourceText(std::size_t size)
{
    std::string text;
    for (int i = 0; text.size() < size; ++i)
        text += "record " + std::to_string(i) + " value " + std::to_string((i * 7919) % 1000) + "\n";
    text.resize(size);
    return text;
}

std::string Decoded(const std::string& copy, const std::string& out)
{
    CLzhufDecoder decoder;
    if (decoder.DecompressFile(copy.c_str(), out.c_str()) != LzhufStatus::Ok)
        return "(not decodable)";
    return ReadWholeFile(out);
}

class CompressedCopy : public ::testing::Test {
protected:
    // A source of `size` bytes, and optionally an old copy beside it that is
    // `copyAge` seconds younger than the source (negative: older).
    void Prepare(std::size_t size, bool oldCopy, long copyAge)
    {
        m_source = tmp.File("a.dat");
        m_copy = m_source + ".lrz";
        m_text = SourceText(size);
        WriteWholeFile(m_source, m_text);
        ASSERT_TRUE(SetMtime(m_source, m_sourceTime));
        if (oldCopy) {
            WriteWholeFile(m_copy, kJunk);
            ASSERT_TRUE(SetMtime(m_copy, m_sourceTime + copyAge));
        }
    }

    CFile* Open(std::uint32_t start = 0)
    {
        std::string bytes = U16(0) + std::string(1, static_cast<char>(FILE_REQ_COMPRESSED)) +
                            std::string(1, '\0') + U32(start) + U32(0) + m_source + std::string(1, '\0');
        return s.OpenSendFile(&m_record, reinterpret_cast<const FileRequest*>(bytes.data()));
    }

    TempDir tmp;
    Exposed<CGLSocket> s;
    FileInfoRecord m_record;
    std::string m_source;
    std::string m_copy;
    std::string m_text;
    std::time_t m_sourceTime = std::time(nullptr) - 3600;
};

TEST_F(CompressedCopy, FirstRequestMakesACopyThatStaysAndDecodes)
{
    Prepare(300000, false, 0);
    CFile* file = Open(100);
    ASSERT_NE(file, nullptr);
    std::uint32_t copySize = static_cast<std::uint32_t>(ReadWholeFile(m_copy).size());
    EXPECT_LT(copySize, 300000u);
    EXPECT_STREQ(m_record.path, m_copy.c_str());
    EXPECT_EQ(m_record.size, copySize);
    EXPECT_EQ(m_record.startOffset, 100u);
    EXPECT_EQ(m_record.count, copySize - 100);
    s.CloseTransferFile(file, 0, 0);
    ASSERT_TRUE(PathExists(m_copy));
    EXPECT_EQ(Decoded(m_copy, tmp.File("out")), m_text);
}

TEST_F(CompressedCopy, SmallSourceIsCompressedOnEveryRequest)
{
    Prepare(100000, true, 600);
    CFile* file = Open();
    ASSERT_NE(file, nullptr);
    s.CloseTransferFile(file, 0, 0);
    EXPECT_EQ(Decoded(m_copy, tmp.File("out")), m_text);
}

// The copy is reused only while its record names the source as it is:
// times alone are what a copier sets back (cp -p, tar x, rsync -t). A
// source "from the future" was once compressed on every request.
TEST_F(CompressedCopy, CopyIsReusedOnlyForTheSourceItWasMadeFrom)
{
    enum Change { kNone, kRenamedOverOtherSize, kRewrittenSameSize, kRecordGone };
    const struct { const char* name; Change change; long sourceAge; bool reused; } rows[] = {
        {"unchanged", kNone, 7200, true},
        {"renamed over, an hour older, other size", kRenamedOverOtherSize, 0, false},
        {"rewritten in place, a minute older, same size", kRewrittenSameSize, 0, false},
        {"no record (an older version's copy)", kRecordGone, 0, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Prepare(300000, true, -60);
        ASSERT_TRUE(SetMtime(m_source, m_sourceTime + row.sourceAge));
        plat::FileStamp first, second;
        s.CloseTransferFile(Open(), 0, 0);
        ASSERT_TRUE(plat::StampPath(m_copy.c_str(), &first));
        if (row.change == kRenamedOverOtherSize) {
            WriteWholeFile(tmp.File("new.dat"), m_text = SourceText(280000) + "renamed");
            ASSERT_TRUE(SetMtime(tmp.File("new.dat"), m_sourceTime - 3600));
            std::filesystem::rename(tmp.File("new.dat"), m_source); // replaces, on Windows too
        } else if (row.change == kRewrittenSameSize) {
            m_text[0] = 'R';
            WriteWholeFile(m_source, m_text);
            ASSERT_TRUE(SetMtime(m_source, m_sourceTime - 60));
        } else if (row.change == kRecordGone) {
            std::remove((m_copy + ".src").c_str());
        }
        s.CloseTransferFile(Open(), 0, 0);
        ASSERT_TRUE(plat::StampPath(m_copy.c_str(), &second));
        EXPECT_EQ(second == first, row.reused);
        EXPECT_TRUE(Decoded(m_copy, tmp.File("out")) == m_text);
        EXPECT_EQ(m_record.size, second.size);
    }
}

TEST_F(CompressedCopy, CopyFromTheSameSecondIsRebuilt)
{
    Prepare(300000, true, 0);
    CFile* file = Open();
    ASSERT_NE(file, nullptr);
    s.CloseTransferFile(file, 0, 0);
    EXPECT_EQ(Decoded(m_copy, tmp.File("out")), m_text);
    EXPECT_GT(Mtime(m_copy), m_sourceTime);
}

TEST_F(CompressedCopy, OlderCopyIsRebuilt)
{
    Prepare(300000, true, -60);
    CFile* file = Open();
    ASSERT_NE(file, nullptr);
    s.CloseTransferFile(file, 0, 0);
    EXPECT_EQ(Decoded(m_copy, tmp.File("out")), m_text);
}

// A copy of a source that is gone would send data that no longer exists.
TEST_F(CompressedCopy, MissingSourceSendsNoOldCopy)
{
    Prepare(300000, true, 600);
    std::remove(m_source.c_str());
    EXPECT_EQ(Open(), nullptr);
    EXPECT_EQ(s.m_nLastError, 2);
    EXPECT_FALSE(PathExists(m_copy));
}

// The copy's path must fit the record's 255 characters whole.
TEST_F(CompressedCopy, SourcePathLeavingNoRoomForTheCopysNameIsRefused)
{
    for (std::size_t length : {251u, 252u}) {
        m_source = tmp.File(std::string(length - tmp.path().size() - 1, 'n'));
        WriteWholeFile(m_source, "data");
        CFile* file = Open();
        s.CloseTransferFile(file, 0, 0);
        EXPECT_EQ(file != nullptr ? m_record.path : std::to_string(s.m_nLastError),
                  length == 251 ? m_source + ".lrz" : "206");
    }
}

#ifndef _WIN32
// The encoder writes through "<copy>.z!!"; a full disk (the file-size
// limit) stops it in the middle of the copy.
TEST_F(CompressedCopy, RebuildThatRunsOutOfDiskReportsTheCause)
{
    Prepare(300000, false, 0);
    ScopedFileSizeLimit full(1000);
    EXPECT_EQ(Open(), nullptr);
    EXPECT_EQ(s.m_nLastError, 13);
    EXPECT_FALSE(PathExists(m_copy));
}

#endif

} // namespace
