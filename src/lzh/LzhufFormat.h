// The LZHUF compressed-file format, shared by encoder and decoder.
//
//   offset 0  uncompressed size, unsigned 32-bit little-endian
//   offset 4  bit stream, most significant bit of each byte first; the last
//             byte is filled up with zero bits; no end marker
//
// Each symbol is an adaptive Huffman code (CLzhufModel): 0..255 a literal
// byte, 256 + (L - 3) a match of length L followed by a 12-bit position
// code: the upper 6 bits through p_len/p_code, the lower 6 bits verbatim.
// The match starts position + 1 bytes before the current ring position.
// The ring starts as spaces in 0..RING_START-1 with the first byte at
// RING_START.
#pragma once

#include <cstdint>

namespace lzh {

constexpr int N = 4096;                        // ring buffer size
constexpr int F = 60;                          // look-ahead size, longest match
constexpr int THRESHOLD = 2;                   // longer matches are coded as matches
constexpr int NIL = N;                         // empty tree link
constexpr int N_CHAR = 256 - THRESHOLD + F;    // 314 symbols
constexpr int T = 2 * N_CHAR - 1;              // 627 Huffman nodes
constexpr int R = T - 1;                       // root node
constexpr unsigned MAX_FREQ = 0x8000;          // root frequency that triggers a rebuild
constexpr int RING_START = N - F;              // 4036
constexpr int HEADER_SIZE = 4;
constexpr int MATCH_BASE = 256 - THRESHOLD - 1; // symbol = MATCH_BASE + length

static_assert(N_CHAR == 314 && T == 627 && R == 626, "symbol and node counts");
static_assert((N & (N - 1)) == 0, "ring positions are masked with N - 1");

// Code length and code (top-aligned in 8 bits) of the upper 6 bits of a
// match position.
inline constexpr std::uint8_t p_len[64] = {
    3, 4, 4, 4, 5, 5, 5, 5, 5, 5, 5, 5, 6, 6, 6, 6,
    6, 6, 6, 6, 6, 6, 6, 6, 7, 7, 7, 7, 7, 7, 7, 7,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
};
inline constexpr std::uint8_t p_code[64] = {
    0x00, 0x20, 0x30, 0x40, 0x50, 0x58, 0x60, 0x68,
    0x70, 0x78, 0x80, 0x88, 0x90, 0x94, 0x98, 0x9C,
    0xA0, 0xA4, 0xA8, 0xAC, 0xB0, 0xB4, 0xB8, 0xBC,
    0xC0, 0xC2, 0xC4, 0xC6, 0xC8, 0xCA, 0xCC, 0xCE,
    0xD0, 0xD2, 0xD4, 0xD6, 0xD8, 0xDA, 0xDC, 0xDE,
    0xE0, 0xE2, 0xE4, 0xE6, 0xE8, 0xEA, 0xEC, 0xEE,
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7,
    0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF,
};

} // namespace lzh
