#include <gtest/gtest.h>

#include <memory>

#include "lzh/LzhufTestUtil.h"
#include "doubles/MemoryFile.h"
#include "doubles/MixedCorpus.h"

namespace {

std::string WithHeader(std::string packed, std::uint32_t size)
{
    for (int i = 0; i < 4; ++i)
        packed[i] = static_cast<char>(size >> (8 * i));
    return packed;
}

TEST(LzhufDecoder, EveryProperPrefixIsTruncated)
{
    const std::string input = MakeText(3000, 21);
    const std::string packed = Compress(input);
    auto decoder = std::make_unique<CLzhufDecoder>();
    std::string out;
    for (std::size_t n = 0; n < packed.size(); ++n) {
        EXPECT_EQ(Decompress(packed.substr(0, n), &out, decoder.get()), LzhufStatus::Truncated)
            << "prefix of " << n << " bytes";
        EXPECT_LT(out.size(), input.size());
        EXPECT_EQ(out, input.substr(0, out.size())) << "prefix of " << n << " bytes";
    }
    EXPECT_EQ(Decompress(packed, &out, decoder.get()), LzhufStatus::Ok);
    for (std::size_t n = 0; n < 4; ++n)
        EXPECT_EQ(Decompress(std::string(n, '\0'), &out, decoder.get()), LzhufStatus::Truncated);
}

TEST(LzhufDecoder, HeaderPromisingMoreThanTheBitsHoldIsTruncated)
{
    std::string out;
    // "A": a 9-bit code and 7 fill bits; the fill cannot hold another byte.
    EXPECT_EQ(Decompress(WithHeader(Compress("A"), 2), &out), LzhufStatus::Truncated);
    EXPECT_EQ(Decompress(WithHeader(Compress(MakeText(5000, 2)), 0xFFFFFFFFu), &out),
              LzhufStatus::Truncated);
}

TEST(LzhufDecoder, CorruptStreams)
{
    std::string out;
    // Data after the last byte of the stream, also where the stream ends
    // on a byte boundary (about one length in eight).
    const std::string text = MakeText(64, 5);
    for (std::size_t n = 1; n <= text.size(); ++n)
        EXPECT_EQ(Decompress(Compress(text.substr(0, n)) + '\0', &out), LzhufStatus::Corrupt) << n;
    EXPECT_EQ(Decompress(std::string(4, '\0') + 'x', &out), LzhufStatus::Corrupt);
    // A fill bit that is not zero.
    std::string filled = Compress("A");
    filled.back() = static_cast<char>(filled.back() | 1);
    EXPECT_EQ(Decompress(filled, &out), LzhufStatus::Corrupt);
    // A match of 60 where the header leaves room for 9 bytes.
    EXPECT_EQ(Decompress(WithHeader(Compress(std::string(61, 'A')), 10), &out),
              LzhufStatus::Corrupt);
    EXPECT_EQ(out, "A");
}

// Found by fuzzing: a damaged stream whose first match copies from ring
// positions nothing has written yet. They read as zeros, as in the encoder,
// and not as whatever an earlier decoding left there.
TEST(LzhufDecoder, UnwrittenRingPositionsReadAsZeros)
{
    const std::string damaged("\x2c\x01\xff\xaa\xaa\xff\xaa", 7);
    auto decoder = std::make_unique<CLzhufDecoder>();
    std::string out;
    ASSERT_EQ(Decompress(Compress(std::string(5000, 'Z')), &out, decoder.get()), LzhufStatus::Ok);
    EXPECT_EQ(Decompress(damaged, &out, decoder.get()), LzhufStatus::Truncated);
    EXPECT_EQ(out, std::string(33, '\0'));
    EXPECT_EQ(Decompress(damaged, &out), LzhufStatus::Truncated);
    EXPECT_EQ(out, std::string(33, '\0'));
}

// Whatever the bytes, decoding ends in a status, within its buffers (the
// sanitizer builds check that), and never produces more than the header
// promised or 60 bytes per input bit.
TEST(LzhufDecoder, ArbitraryInputEndsInAStatus)
{
    CTestRandom rng(99);
    auto decoder = std::make_unique<CLzhufDecoder>();
    std::string out;
    for (int round = 0; round < 3000; ++round) {
        std::string data = MakeRandomBytes(rng.Below(400), rng.Next());
        if (data.size() >= 4 && rng.Below(2) == 0)
            data = WithHeader(data, rng.Below(5000));
        const LzhufStatus status = Decompress(data, &out, decoder.get());
        std::uint32_t header = 0;
        for (int i = 3; i >= 0 && data.size() >= 4; --i)
            header = (header << 8) | static_cast<unsigned char>(data[i]);
        EXPECT_LE(out.size(), header);
        EXPECT_LE(out.size(), 480 * data.size());
        if (status == LzhufStatus::Ok) {
            EXPECT_EQ(out.size(), header);
        }
    }
}

TEST(LzhufDecoder, FlippedBitsEndInAStatus)
{
    const std::string input = MakeMixedCorpus(10000, 31);
    const std::string packed = Compress(input);
    auto decoder = std::make_unique<CLzhufDecoder>();
    std::string out;
    int detected = 0;
    for (std::size_t bit = 32; bit < packed.size() * 8; bit += 37) {
        std::string damaged = packed;
        damaged[bit / 8] = static_cast<char>(damaged[bit / 8] ^ (1 << (bit % 8)));
        const LzhufStatus status = Decompress(damaged, &out, decoder.get());
        EXPECT_LE(out.size(), input.size());
        if (status != LzhufStatus::Ok)
            ++detected;
    }
    // Nothing guards the bits, but a flip mostly desynchronises the stream.
    EXPECT_GT(detected, 0);
}

TEST(LzhufDecoder, ShortReadsAndStreamedOutput)
{
    const std::string input = MakeMixedCorpus(300000, 41);
    CMemoryFile source(Compress(input));
    source.SetMaxRead(3);
    CMemoryFile target;
    auto decoder = std::make_unique<CLzhufDecoder>();
    ASSERT_EQ(decoder->Decode(&source, &target), LzhufStatus::Ok);
    EXPECT_TRUE(target.Data() == input);
    // Written as it goes, not gathered in memory.
    EXPECT_GT(target.WriteSizes().size(), 3u);
}

TEST(LzhufDecoder, FileExceptionsBecomeStatuses)
{
    auto decoder = std::make_unique<CLzhufDecoder>();
    CFile unreadable; // the base object fails every operation
    CMemoryFile sink;
    EXPECT_EQ(decoder->Decode(&unreadable, &sink), LzhufStatus::ReadFailed);
    EXPECT_EQ(decoder->GetFileError(), CFileException::invalidFile);

    CMemoryFile source(Compress(MakeRandomBytes(200000, 5)));
    CMemoryFile full;
    full.FailWritesAfter(100000);
    EXPECT_EQ(decoder->Decode(&source, &full), LzhufStatus::WriteFailed);
    EXPECT_EQ(decoder->GetFileError(), CFileException::diskFull);
}

} // namespace
