// Shared helpers of the LZHUF tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "lzh/LzhufDecoder.h"
#include "lzh/LzhufEncoder.h"
#include "doubles/MemoryFile.h"

// Encoders and decoders are large; tests keep them on the heap.
inline std::string Compress(const std::string& input, CLzhufEncoder* encoder = nullptr)
{
    std::unique_ptr<CLzhufEncoder> own;
    if (encoder == nullptr) {
        own = std::make_unique<CLzhufEncoder>();
        encoder = own.get();
    }
    CMemoryFile source(input);
    CMemoryFile target;
    encoder->Encode(&source, &target);
    return target.Data();
}

inline LzhufStatus Decompress(const std::string& packed, std::string* out,
                              CLzhufDecoder* decoder = nullptr)
{
    std::unique_ptr<CLzhufDecoder> own;
    if (decoder == nullptr) {
        own = std::make_unique<CLzhufDecoder>();
        decoder = own.get();
    }
    out->clear();
    return decoder->DecodeBuffer(packed.data(), packed.size(), out);
}

inline std::uint64_t Fnv1a64(const std::string& bytes)
{
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

inline std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty())
            out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// Input whose symbol frequencies make the adaptive Huffman tree deeper than
// 16 levels; see the comment in LzhufRoundTripTest.cpp.
std::string MakeDeepHuffmanInput(int cycles, int literalEvery);
