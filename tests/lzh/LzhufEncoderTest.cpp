#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "lzh/LzhufEncoder.h"
#include "lzh/LzhufTestUtil.h"
#include "doubles/MemoryFile.h"
#include "doubles/MixedCorpus.h"

namespace {

TEST(LzhufEncoder, ReferenceVectors)
{
    EXPECT_EQ(Hex(Compress("")), "00 00 00 00");
    EXPECT_EQ(Hex(Compress("A")), "01 00 00 00 E6 80");
    EXPECT_EQ(Hex(Compress("abc")), "03 00 00 00 F6 FB BD E0");
    // One literal, then a match of 60 at position code 0.
    EXPECT_EQ(Hex(Compress(std::string(61, 'A'))), "3D 00 00 00 E6 F3 40 00");
}

// Sizes and FNV-1a digests of what the 1988 LZHUF encoder writes for the
// same inputs (its 4-byte header, its 16-bit tables): many tree rebuilds,
// matches against the initial spaces, every position-code class, and an
// output of more than 65535 bytes; the sorted numbers, samples and log are
// the data whose deep trees slowed the match search.
TEST(LzhufEncoder, MatchesThe1988EncoderByteForByte)
{
    struct Case {
        const char* name;
        std::string input;
        std::size_t size;
        std::uint64_t digest;
    };
    const Case cases[] = {
        {"mixed", MakeMixedCorpus(1u << 20, 3), 450682, 0x42b0f1e025fdaa0bull},
        {"text", MakeText(200000, 4), 71068, 0x4e3ccdacf6a1e3adull},
        {"random", MakeRandomBytes(70000, 9), 70157, 0xd0152adae71555feull},
        {"sorted numbers", MakeSortedNumbers(300000, 5), 91884, 0x2e3f5842ae48f595ull},
        {"sample csv", MakeSampleCsv(300000, 6), 61551, 0xbdd33da0db7e547bull},
        {"log", MakeLogText(300000, 7), 60040, 0xca0c9f6df0779658ull},
        {"records", MakeRecords(300000, 8), 137344, 0x38b0b242335538fcull},
    };
    auto encoder = std::make_unique<CLzhufEncoder>();
    for (const Case& c : cases) {
        const std::string packed = Compress(c.input, encoder.get());
        EXPECT_EQ(packed.size(), c.size) << c.name;
        EXPECT_EQ(Fnv1a64(packed), c.digest) << c.name;
        EXPECT_EQ(encoder->GetLongCodeCount(), 0u) << c.name;
    }
}

TEST(LzhufEncoder, HeaderIsTheSourceLengthLittleEndian)
{
    const std::string input = MakeText(70000 + 0x123, 1);
    const std::string packed = Compress(input);
    ASSERT_GE(packed.size(), 4u);
    std::uint32_t header = 0;
    for (int i = 3; i >= 0; --i)
        header = (header << 8) | static_cast<unsigned char>(packed[i]);
    EXPECT_EQ(header, input.size());
}

TEST(LzhufEncoder, ShortReadsGiveTheSameBytes)
{
    const std::string input = MakeMixedCorpus(200000, 5);
    const std::string whole = Compress(input);
    auto encoder = std::make_unique<CLzhufEncoder>();
    for (std::uint32_t chunk : {1u, 7u, 4096u, 65534u}) {
        CMemoryFile source(input);
        source.SetMaxRead(chunk);
        CMemoryFile target;
        encoder->Encode(&source, &target);
        EXPECT_EQ(target.Data(), whole) << "reads of at most " << chunk;
        EXPECT_GE(source.ReadCalls(), input.size() / chunk) << chunk;
    }
}

TEST(LzhufEncoder, ReadsAndWritesInChunksOf65535)
{
    const std::string input = MakeRandomBytes(200000, 2);
    CMemoryFile source(input);
    CMemoryFile target;
    auto encoder = std::make_unique<CLzhufEncoder>();
    encoder->Encode(&source, &target);

    const std::size_t packed = target.Data().size();
    ASSERT_GT(packed, 3u * 65535);
    const std::vector<std::uint32_t>& writes = target.WriteSizes();
    ASSERT_EQ(writes.size(), (packed + 65534) / 65535);
    for (std::size_t i = 0; i + 1 < writes.size(); ++i)
        EXPECT_EQ(writes[i], 65535u) << "write " << i;
    EXPECT_EQ(writes.back(), packed - 65535 * (writes.size() - 1));
    // One Read per 65535-byte chunk of a source that delivers whole chunks.
    EXPECT_EQ(source.ReadCalls(), (input.size() + 65534) / 65535);
}

TEST(LzhufEncoder, EncodesFromTheStartOfBothFiles)
{
    const std::string input = MakeText(5000, 3);
    CMemoryFile source(input);
    source.Seek(1234, CFile::begin);
    CMemoryFile target(std::string(10, 'x'));
    target.Seek(0, CFile::end);
    auto encoder = std::make_unique<CLzhufEncoder>();
    encoder->Encode(&source, &target);
    EXPECT_EQ(target.Data(), Compress(input));
}

TEST(LzhufEncoder, ReuseGivesTheSameBytesAsAFreshEncoder)
{
    auto encoder = std::make_unique<CLzhufEncoder>();
    const std::string first = MakeMixedCorpus(100000, 8);
    const std::string second = MakeText(3000, 9);
    Compress(first, encoder.get());
    EXPECT_EQ(Compress(second, encoder.get()), Compress(second));
    EXPECT_EQ(Compress("A", encoder.get()), Compress("A"));
}

// A source that ends before its length must not yield a stream that
// disagrees with its header.
TEST(LzhufEncoder, SourceShorterThanItsLengthThrowsEndOfFile)
{
    for (std::size_t real : {std::size_t(0), std::size_t(10), std::size_t(70000)}) {
        CMemoryFile source(MakeText(real, 1));
        source.SetReportedLength(static_cast<std::int64_t>(real + 100));
        CMemoryFile target;
        auto encoder = std::make_unique<CLzhufEncoder>();
        try {
            encoder->Encode(&source, &target);
            ADD_FAILURE() << "no exception for " << real << " of " << real + 100 << " bytes";
        } catch (CFileException* e) {
            EXPECT_EQ(e->m_cause, CFileException::endOfFile);
            e->Delete();
        }
    }
}

TEST(LzhufEncoder, WriteFailurePassesTheFileExceptionOn)
{
    CMemoryFile source(MakeRandomBytes(150000, 4));
    CMemoryFile target;
    target.FailWritesAfter(65535);
    auto encoder = std::make_unique<CLzhufEncoder>();
    try {
        encoder->Encode(&source, &target);
        ADD_FAILURE() << "no exception";
    } catch (CFileException* e) {
        EXPECT_EQ(e->m_cause, CFileException::diskFull);
        e->Delete();
    }
    EXPECT_EQ(target.Data().size(), 65535u);
}

} // namespace
