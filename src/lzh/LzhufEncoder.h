// CLzhufEncoder: LZHUF compression of one file into another (format in
// LzhufFormat.h). The output is byte for byte that of the 1988 LZHUF
// encoder, except that Huffman codes longer than 16 bits are written in full
// where that encoder would cut them.
//
// An encoder serves one compression at a time; separate encoders share
// nothing but constant tables. It never opens or closes the files it is
// bound to except in CompressFile. About 280 KiB: allocate it, or keep it off
// small stacks.
#pragma once

#include <cstdint>

#include "lzh/LzhufFormat.h"
#include "lzh/LzhufModel.h"
#include "lzh/LzhufPathCache.h"
#include "vexacomm/Types.h"

class CFile;

class CLzhufEncoder {
public:
    CLzhufEncoder();
    virtual ~CLzhufEncoder();

    CLzhufEncoder(const CLzhufEncoder&) = delete;
    CLzhufEncoder& operator=(const CLzhufEncoder&) = delete;

    // Compresses `source` into `target` through "<target>.z!!", deleting
    // `target` first. 1 when both files opened and the compression ran to its
    // end (a failed final move still gives 1 and leaves the data under the
    // temporary name). 0, with plat::LastSystemError() set, when the source or
    // the temporary file cannot be opened, or kErrorFileTooLarge when the
    // source has 4 GiB or more, which the 32-bit header cannot describe.
    // Read and write failures, a failed close of the temporary file among
    // them, throw CFileException* (see Encode) and leave that file behind.
    BOOL CompressFile(const char* source, const char* target);

    // Compresses the whole of `source` (from its start, GetLength() bytes)
    // into `target` (from its start). Returns 1; file failures arrive as
    // CFileException* from the file objects. A source that delivers fewer
    // bytes than its length said (a Read of 0 bytes, or a length that
    // shrinks) throws CFileException(endOfFile) rather than writing a stream
    // that disagrees with its header. Through CFile a length is 32-bit, so a
    // caller with a larger source must refuse it itself (CompressFile does).
    BOOL Encode(CFile* source, CFile* target);

    // Huffman codes longer than 16 bits written by the last Encode.
    std::uint32_t GetLongCodeCount() const { return m_dwLongCodes; }

    static constexpr int BUFFER_SIZE = 65535; // bytes per Read chunk and per Write

private:
    void InitTree();
    template <bool kFindMatch>
    void InsertNode(int r);
    template <bool kFindMatch, bool kRecord>
    int Descend(int r, int link, int best);
    // A descent of InsertPair: where it starts (p, whose first key word is
    // word), the node it left last (NIL at the root), the key's first word.
    struct Walk {
        std::uint64_t p;
        std::uint64_t word;
        std::uint64_t last;
        std::uint64_t head;
        int r;
        int count; // nodes visited
        bool replaced; // r took the place of a node with its key
    };
    bool Pairable(int r, int s) const;
    template <bool kFindFirst, bool kFindSecond>
    int InsertPair(int r);
    void SetMatch(int best);
    Walk StartWalk(int r);
    template <bool kFindMatch>
    bool Step(int r, std::uint64_t head, std::uint64_t& p, std::uint64_t& word,
              std::uint64_t& last, int& count, int& best) const;
    int Replace(Walk* w, std::uint64_t node);
    void EndWalk(const Walk& w);
    void DeleteNode(int p);
    void ReplaceNode(int p, int r);

    void EncodeChar(int c);
    void EncodeLongChar(int c);
    void EncodePosition(int c);
    void Putcode(int l, std::uint32_t c);
    void EncodeEnd();

    bool InputRemains() const { return m_dwConsumed < m_dwSourceLength; }
    int GetByte();
    // Puts a new byte at ring position s, and into its mirror.
    void Store(int s, std::uint8_t c);
    void Refill();
    void PutByte(std::uint8_t b);
    void WriteFullBuffer();
    void FlushOutput();

    CFile* m_pSource;
    CFile* m_pTarget;
    std::int32_t m_nInputFill;
    std::int32_t m_nInputPos;
    std::uint32_t m_dwConsumed;
    std::int32_t m_nOutputFill;
    std::uint32_t m_dwUncompressedSize;
    std::uint32_t m_dwSourceLength;
    std::uint32_t m_dwLongCodes;

    // Bits not yet output, right-aligned; fewer than 32 between symbols.
    std::uint64_t m_qwPutbuf;
    int m_nPutlen;

    int m_nMatchPosition;
    int m_nMatchLength;

    CLzhufModel m_model;

    // The match-finder trees: one binary search tree per first byte, rooted
    // at the right link of node N + 1 + byte. Node n's left link is
    // m_anSon[2n] and its right link m_anSon[2n + 1], so that a descent picks
    // its side by index rather than by branch. NIL (= N) is an empty link;
    // the NIL entries of both arrays absorb writes through empty links, and
    // NIL's own links, only ever written back unchanged, lead to NIL.
    std::int16_t m_anSon[2 * (lzh::N + 257)];
    std::int16_t m_anDad[lzh::N + 1];

    CLzhufPathCache m_paths;
    std::uint32_t m_dwInsertions; // the cache's clock
    // The steps of the descent under way (CLzhufPathCache::Pack), the first
    // DEPTH of them kept.
    std::uint32_t m_adwPathSteps[CLzhufPathCache::DEPTH + 1];
    // Descents at least this deep claim a cache slot for their tree.
    static constexpr int kClaimDepth = 32;

    // Bytes 1 to 8 of each node's key as a number in their order, so that a
    // descent's step waits on one load after the links rather than on an
    // unaligned one and its byte swap. Set as a node goes in.
    std::uint64_t m_aqwWord[lzh::N + 1];

    // Positions N..N+F-2 mirror 0..F-2 so that a 60-byte key never wraps;
    // the tail pads word-wide loads that start up to F - 1 bytes into a key.
    static constexpr int TEXT_SIZE = lzh::N + lzh::F - 1;
    alignas(8) std::uint8_t m_abText[TEXT_SIZE + 16];

    std::uint8_t m_abInput[BUFFER_SIZE + 1];
    // Room past BUFFER_SIZE for the 4-byte groups of Putcode.
    std::uint8_t m_abOutput[BUFFER_SIZE + 8];
};
