// Fuzz target: the encoder against the one it replaced, which must write the
// same bytes for every input. Input: a repeat count, then a pattern. With a
// count of 0 the pattern is the data; otherwise the data is the pattern
// count * 16 times over (at most 16 KiB), each copy with one byte changed (a
// different one each time), so that the match search meets long and nearly
// long matches, deep trees and the wrap of its ring buffer.
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "lzh/LzhufEncoder.h"
#include "doubles/LzhufPreviousEncoder.h"
#include "doubles/MemoryFile.h"

namespace {

std::string Expand(unsigned repeats, const std::string& pattern)
{
    if (repeats == 0 || pattern.empty())
        return pattern;
    std::string out;
    for (unsigned i = 0; i < repeats * 16 && out.size() < (16u << 10); ++i) {
        std::string copy = pattern;
        copy[(i * 7) % copy.size()] ^= static_cast<char>(1 + i % 3);
        out += copy;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::unique_ptr<CLzhufEncoder> encoder(new CLzhufEncoder);
    static const std::unique_ptr<CLzhufPreviousEncoder> previous(new CLzhufPreviousEncoder);
    fuzz::InputReader in(data, size);
    const unsigned repeats = in.Byte();
    const std::string input = Expand(repeats, in.Rest());

    CMemoryFile source(input);
    CMemoryFile packed;
    encoder->Encode(&source, &packed);
    CMemoryFile oracleSource(input);
    CMemoryFile oraclePacked;
    previous->Encode(&oracleSource, &oraclePacked);
    FUZZ_CHECK(packed.Data() == oraclePacked.Data());
    return 0;
}
