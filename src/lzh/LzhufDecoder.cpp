// LZHUF decoding from a file or memory, checked against the size its
// header promises.
#include "lzh/LzhufDecoder.h"

#include <algorithm>
#include <cstring>

#include "platform/DiskFile.h"
#include "platform/FileOps.h"
#include "platform/SystemErrors.h"
#include "support/FileCause.h"

using namespace lzh;

namespace {

// The inverse of p_len/p_code, indexed by the next 8 bits of the stream.
struct PositionTable {
    std::uint8_t upper[256];
    std::uint8_t len[256];
};

constexpr PositionTable MakePositionTable()
{
    PositionTable t{};
    for (int i = 0; i < 64; ++i) {
        const int span = 1 << (8 - p_len[i]);
        for (int k = 0; k < span; ++k) {
            t.upper[p_code[i] + k] = static_cast<std::uint8_t>(i);
            t.len[p_code[i] + k] = p_len[i];
        }
    }
    return t;
}

constexpr PositionTable kPositionTable = MakePositionTable();

constexpr bool CoversAllPrefixes(const PositionTable& t)
{
    for (int i = 0; i < 256; ++i)
        if (t.len[i] == 0)
            return false;
    return true;
}
static_assert(CoversAllPrefixes(kPositionTable), "p_len/p_code form a complete prefix code");

class CMemoryReader : public CFile {
public:
    CMemoryReader(const void* data, std::size_t size)
        : m_pData(static_cast<const std::uint8_t*>(data)), m_size(size)
    {
    }
    std::uint32_t Read(void* buffer, std::uint32_t count) override
    {
        const std::size_t n = std::min<std::size_t>(count, m_size - m_pos);
        std::memcpy(buffer, m_pData + m_pos, n);
        m_pos += n;
        return static_cast<std::uint32_t>(n);
    }

private:
    const std::uint8_t* m_pData;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

class CStringWriter : public CFile {
public:
    explicit CStringWriter(std::string* out) : m_pOut(out) {}
    void Write(const void* buffer, std::uint32_t count) override
    {
        m_pOut->append(static_cast<const char*>(buffer), count);
    }

private:
    std::string* m_pOut;
};

} // namespace

CLzhufDecoder::CLzhufDecoder()
    : m_pSource(nullptr), m_pTarget(nullptr), m_nFileError(0), m_dwLongCodes(0), m_nInputPos(0),
      m_nInputFill(0), m_bSourceEnded(false), m_qwGetbuf(0), m_nGetlen(0), m_nOutputFill(0)
{
}

LzhufStatus CLzhufDecoder::DecompressFile(const char* source, const char* target)
{
    m_nFileError = 0;
    CDiskFile in;
    if (!in.Open(source, CFile::modeRead | CFile::shareDenyWrite)) {
        m_nFileError = plat::LastSystemError();
        return LzhufStatus::SourceOpenFailed;
    }
    CDiskFile out;
    if (!out.Open(target, CFile::modeCreate | CFile::modeWrite)) {
        m_nFileError = plat::LastSystemError();
        return LzhufStatus::TargetOpenFailed;
    }
    LzhufStatus status = Decode(&in, &out);
    try {
        out.CloseWritten();
    } catch (CFileException* e) {
        const std::int32_t cause = TakeCause(e);
        if (status == LzhufStatus::Ok) {
            status = LzhufStatus::WriteFailed;
            m_nFileError = cause;
        }
    }
    if (status != LzhufStatus::Ok)
        plat::RemoveFile(target);
    return status;
}

LzhufStatus CLzhufDecoder::DecodeBuffer(const void* data, std::size_t size, std::string* out)
{
    CMemoryReader in(data, size);
    CStringWriter writer(out);
    return Decode(&in, &writer);
}

LzhufStatus CLzhufDecoder::Decode(CFile* source, CFile* target)
{
    m_pSource = source;
    m_pTarget = target;
    m_nFileError = 0;
    m_dwLongCodes = 0;
    m_nInputPos = m_nInputFill = 0;
    m_bSourceEnded = false;
    m_qwGetbuf = 0;
    m_nGetlen = 0;
    m_nOutputFill = 0;
    try {
        Run();
    } catch (const Failure& failure) {
        // Whatever was decoded before the failure still reaches the target.
        if (failure.status != LzhufStatus::WriteFailed) {
            try {
                FlushOutput();
            } catch (const Failure& late) {
                return late.status;
            }
        }
        return failure.status;
    }
    return LzhufStatus::Ok;
}

void CLzhufDecoder::Run()
{
    std::uint32_t size = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        std::uint8_t b;
        if (!NextInputByte(&b))
            throw Failure{LzhufStatus::Truncated};
        size |= static_cast<std::uint32_t>(b) << shift;
    }

    if (size != 0) {
        m_model.StartHuff();
        std::memset(m_abText, ' ', RING_START);
        // As in the encoder. A damaged stream may copy from positions not
        // yet written; it must not see what an earlier decoding left there.
        std::memset(m_abText + RING_START, 0, N - RING_START);
        int r = RING_START;
        std::uint32_t count = 0;
        while (count < size) {
            const int c = DecodeChar();
            if (c < 256) {
                PutByte(static_cast<std::uint8_t>(c));
                m_abText[r] = static_cast<std::uint8_t>(c);
                r = (r + 1) & (N - 1);
                ++count;
                continue;
            }
            const int length = c - MATCH_BASE;
            const int from = r - DecodePosition() - 1;
            if (static_cast<std::uint32_t>(length) > size - count)
                throw Failure{LzhufStatus::Corrupt};
            for (int k = 0; k < length; ++k) {
                const std::uint8_t b = m_abText[(from + k) & (N - 1)];
                PutByte(b);
                m_abText[r] = b;
                r = (r + 1) & (N - 1);
            }
            count += static_cast<std::uint32_t>(length);
        }
    }
    // The encoder fills the last byte with zero bits and writes nothing after.
    if (m_nGetlen >= 8 || m_qwGetbuf != 0 || SourceHasMore())
        throw Failure{LzhufStatus::Corrupt};
    FlushOutput();
}

int CLzhufDecoder::DecodeChar()
{
    int c = m_model.Son(R);
    int depth = 0;
    while (c < T) {
        c = m_model.Son(c + GetBit());
        ++depth;
    }
    if (depth > 16)
        ++m_dwLongCodes;
    c -= T;
    m_model.update(c);
    return c;
}

int CLzhufDecoder::DecodePosition()
{
    if (m_nGetlen < 14)
        FillBits();
    const int index = static_cast<int>(m_qwGetbuf >> 56);
    const int need = kPositionTable.len[index] + 6;
    if (m_nGetlen < need)
        throw Failure{LzhufStatus::Truncated};
    const int lower = static_cast<int>(m_qwGetbuf >> (64 - need)) & 0x3F;
    m_qwGetbuf <<= need;
    m_nGetlen -= need;
    return (kPositionTable.upper[index] << 6) | lower;
}

inline int CLzhufDecoder::GetBit()
{
    if (m_nGetlen == 0) {
        FillBits();
        if (m_nGetlen == 0)
            throw Failure{LzhufStatus::Truncated};
    }
    const int bit = static_cast<int>(m_qwGetbuf >> 63);
    m_qwGetbuf <<= 1;
    --m_nGetlen;
    return bit;
}

void CLzhufDecoder::FillBits()
{
    std::uint8_t b;
    while (m_nGetlen <= 56 && NextInputByte(&b)) {
        m_qwGetbuf |= static_cast<std::uint64_t>(b) << (56 - m_nGetlen);
        m_nGetlen += 8;
    }
}

bool CLzhufDecoder::NextInputByte(std::uint8_t* b)
{
    if (m_nInputPos == m_nInputFill) {
        ReadSource();
        if (m_nInputFill == 0)
            return false;
    }
    *b = m_abInput[m_nInputPos++];
    return true;
}

void CLzhufDecoder::ReadSource()
{
    m_nInputPos = m_nInputFill = 0;
    if (m_bSourceEnded)
        return;
    std::uint32_t got = 0;
    try {
        got = m_pSource->Read(m_abInput, sizeof m_abInput);
    } catch (CFileException* e) {
        m_nFileError = TakeCause(e);
        throw Failure{LzhufStatus::ReadFailed};
    }
    if (got > sizeof m_abInput)
        throw Failure{LzhufStatus::ReadFailed};
    if (got == 0)
        m_bSourceEnded = true;
    m_nInputFill = got;
}

bool CLzhufDecoder::SourceHasMore()
{
    if (m_nInputPos < m_nInputFill)
        return true;
    ReadSource();
    return m_nInputFill != 0;
}

inline void CLzhufDecoder::PutByte(std::uint8_t b)
{
    m_abOutput[m_nOutputFill++] = b;
    if (m_nOutputFill == sizeof m_abOutput)
        FlushOutput();
}

void CLzhufDecoder::FlushOutput()
{
    if (m_nOutputFill == 0)
        return;
    const std::uint32_t count = m_nOutputFill;
    m_nOutputFill = 0;
    try {
        m_pTarget->Write(m_abOutput, count);
    } catch (CFileException* e) {
        m_nFileError = TakeCause(e);
        throw Failure{LzhufStatus::WriteFailed};
    }
}
