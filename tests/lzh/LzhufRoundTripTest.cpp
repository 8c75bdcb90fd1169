#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "lzh/LzhufTestUtil.h"
#include "doubles/MixedCorpus.h"

// The adaptive code is deepest when symbol counts grow like Fibonacci
// numbers. A path of depth d needs a root frequency of at least Fib(d + 2),
// so below the 0x8000 rebuild mark depths up to 21 are possible in
// principle; in practice the ~300 symbols an input never uses keep
// frequency 1 and form a balanced subtree of depth 8 to 9 at the bottom.
// Above it this input builds a chain of 8 to 9 levels, so rarely used
// symbols get 17- and 18-bit codes shortly before each rebuild.
//
// The input is made of units of two matches whose lengths it controls
// exactly: a run of 'A' (57 to 59 bytes; runs of 59 are always in the
// window) and a separator copied from a dictionary of 75 eight-byte strings
// with distinct first bytes, so that the run's match stops where the
// separator begins and the separator's match where the next run begins.
// The dictionary is copied again every 50 units to stay in the window (10
// matches of 60). Per 40 units the counts are 34 x length 59, 21 x 3,
// 13 x 4, about 8 x 60, 5 x 58, 3 x 5, 2 x 6, 1 x 57 and 1 x 7. Every
// `literalEvery` units a byte that occurs nowhere else (48 of them in turn)
// is coded as a literal: one of the deep leaves.
std::string MakeDeepHuffmanInput(int cycles, int literalEvery)
{
    constexpr int kSeparators = 75;
    constexpr int kSeparatorSize = 8;
    std::string dictionary;
    for (int j = 0; j < kSeparators; ++j)
        for (int k = 0; k < kSeparatorSize; ++k)
            dictionary += static_cast<char>(k == 0 ? 0x43 + j : 0x90 + (j * 7 + k * 13) % 0x70);

    std::vector<int> runs;
    std::vector<int> separators;
    const auto add = [](std::vector<int>& v, int length, int count) { v.insert(v.end(), count, length); };
    add(runs, 59, 34);
    add(runs, 58, 5);
    add(runs, 57, 1);
    add(separators, 3, 21);
    add(separators, 4, 13);
    add(separators, 5, 3);
    add(separators, 6, 2);
    add(separators, 7, 1);

    std::string out = dictionary + std::string(61, 'A');
    unsigned lcg = 1;
    const auto shuffle = [&lcg](std::vector<int>& v) {
        for (std::size_t i = v.size() - 1; i > 0; --i) {
            lcg = lcg * 1103515245u + 12345u;
            std::swap(v[i], v[(lcg >> 16) % (i + 1)]);
        }
    };
    int next = 0;
    long units = 0;
    for (int c = 0; c < cycles; ++c) {
        shuffle(runs);
        shuffle(separators);
        for (std::size_t u = 0; u < runs.size(); ++u) {
            if (++units % 50 == 0)
                out += dictionary;
            if (units % literalEvery == 0)
                out += static_cast<char>(1 + (units / literalEvery) % 48);
            out.append(static_cast<std::size_t>(runs[u]), 'A');
            out.append(dictionary, static_cast<std::size_t>(next * kSeparatorSize),
                       static_cast<std::size_t>(separators[u]));
            next = (next + 1) % kSeparators;
        }
    }
    return out;
}

namespace {

void ExpectRoundTrip(const std::string& input, const char* what)
{
    const std::string packed = Compress(input);
    std::string back;
    ASSERT_EQ(Decompress(packed, &back), LzhufStatus::Ok) << what;
    EXPECT_TRUE(back == input) << what << ": " << input.size() << " bytes in, " << back.size()
                               << " out";
}

TEST(LzhufRoundTrip, SmallAndEdgeSizes)
{
    ExpectRoundTrip("", "empty");
    ExpectRoundTrip("x", "one byte");
    ExpectRoundTrip(std::string(1, '\0'), "one zero byte");
    ExpectRoundTrip(std::string(61, 'A'), "61 x A");
    ExpectRoundTrip("   ", "spaces like the initial ring");
    ExpectRoundTrip(std::string(5000, ' '), "a run of spaces");
    for (std::size_t size : {59u, 60u, 61u, 4035u, 4036u, 4096u, 4097u})
        ExpectRoundTrip(MakeMixedCorpus(size, size), "around the ring size");
}

TEST(LzhufRoundTrip, AroundTheChunkSize)
{
    for (std::size_t size : {65535u, 65536u, 65537u}) {
        ExpectRoundTrip(MakeMixedCorpus(size, 7), "mixed");
        ExpectRoundTrip(MakeRandomBytes(size, 7), "random");
    }
}

TEST(LzhufRoundTrip, TextRandomAndZeros)
{
    ExpectRoundTrip(MakeText(300000, 11), "text");
    // Random bytes do not compress: the output passes 65535 bytes.
    const std::string random = MakeRandomBytes(300000, 12);
    EXPECT_GT(Compress(random).size(), 65535u);
    ExpectRoundTrip(random, "random");
    ExpectRoundTrip(std::string(1u << 20, '\0'), "zeros");
    std::string bytes;
    for (int i = 0; i < 70000; ++i)
        bytes += static_cast<char>(i * 7 % 256);
    ExpectRoundTrip(bytes, "every byte value");
}

TEST(LzhufRoundTrip, TwentyMebibytesMixed)
{
    ExpectRoundTrip(MakeMixedCorpus(20u << 20, 20), "20 MiB mixed");
}

// The 1988 encoder kept only 16 bits of such codes; the decoder needs all.
TEST(LzhufRoundTrip, HuffmanCodesLongerThan16Bits)
{
    const std::string input = MakeDeepHuffmanInput(1000, 300);
    auto encoder = std::make_unique<CLzhufEncoder>();
    const std::string packed = Compress(input, encoder.get());
    EXPECT_GT(encoder->GetLongCodeCount(), 0u);

    auto decoder = std::make_unique<CLzhufDecoder>();
    std::string back;
    ASSERT_EQ(Decompress(packed, &back, decoder.get()), LzhufStatus::Ok);
    EXPECT_TRUE(back == input);
    EXPECT_EQ(decoder->GetLongCodeCount(), encoder->GetLongCodeCount());
}

} // namespace
