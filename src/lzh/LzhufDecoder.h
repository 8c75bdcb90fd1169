// CLzhufDecoder: restores files written by CLzhufEncoder (LzhufFormat.h).
//
// Streaming with fixed memory (about 140 KiB, nothing allocated per byte);
// any input, however damaged, ends in a status, never in a read or write
// outside its buffers. Each symbol takes at least one bit and yields at most
// 60 bytes, so a damaged header cannot make the output outgrow 480 bytes per
// input byte. One decoding at a time per object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "lzh/LzhufFormat.h"
#include "lzh/LzhufModel.h"

class CFile;

enum class LzhufStatus {
    Ok = 0,
    SourceOpenFailed, // GetFileError(): system error of the open
    TargetOpenFailed, // GetFileError(): system error of the open
    ReadFailed,       // GetFileError(): CFileException cause
    WriteFailed,      // GetFileError(): CFileException cause
    Truncated,        // the input ends before the size in its header is produced
    Corrupt,          // a match past the promised size, non-zero fill bits or data after the stream
};

class CLzhufDecoder {
public:
    CLzhufDecoder();
    CLzhufDecoder(const CLzhufDecoder&) = delete;
    CLzhufDecoder& operator=(const CLzhufDecoder&) = delete;

    // Decodes the file `source` into `target` (created or emptied). On any
    // failure after the target was created it is deleted again.
    LzhufStatus DecompressFile(const char* source, const char* target);

    // Decodes from the source's current position to its end, writing at the
    // target's current position. File exceptions are caught and reported.
    LzhufStatus Decode(CFile* source, CFile* target);

    // Decodes a compressed image held in memory; `out` receives the bytes
    // produced, also those before a failure.
    LzhufStatus DecodeBuffer(const void* data, std::size_t size, std::string* out);

    int GetFileError() const { return m_nFileError; }
    // Huffman codes longer than 16 bits read by the last decoding.
    std::uint32_t GetLongCodeCount() const { return m_dwLongCodes; }

private:
    struct Failure {
        LzhufStatus status;
    };

    void Run();
    int DecodeChar();
    int DecodePosition();
    int GetBit();
    void FillBits();
    bool NextInputByte(std::uint8_t* b);
    void ReadSource();
    void PutByte(std::uint8_t b);
    void FlushOutput();
    bool SourceHasMore();

    CFile* m_pSource;
    CFile* m_pTarget;
    int m_nFileError;
    std::uint32_t m_dwLongCodes;

    std::uint32_t m_nInputPos;
    std::uint32_t m_nInputFill;
    bool m_bSourceEnded;
    // Unread bits at the top; the bits below them are zero.
    std::uint64_t m_qwGetbuf;
    int m_nGetlen;
    std::uint32_t m_nOutputFill;

    CLzhufModel m_model;
    std::uint8_t m_abText[lzh::N];
    std::uint8_t m_abInput[65536];
    std::uint8_t m_abOutput[65536];
};
