#include "lzh/LzhufEncoder.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/FileOps.h"
#include "platform/SystemErrors.h"
#include "support/File.h"

using namespace lzh;

static_assert(sizeof(CLzhufEncoder) <= 256 * 1024, "an encoder stays below 256 KiB");

namespace {

inline std::uint64_t Load64(const std::uint8_t* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Index of the lowest-addressed non-zero byte of a non-zero word.
inline int FirstSetByte(std::uint64_t x)
{
#if defined(_MSC_VER)
    unsigned long bit;
    _BitScanForward64(&bit, x);
    return static_cast<int>(bit >> 3);
#elif defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return __builtin_clzll(x) >> 3;
#else
    return __builtin_ctzll(x) >> 3;
#endif
}

// Number of leading bytes (up to F) in which the two keys agree, given that
// byte 0 agrees. Reads up to 8 bytes past key[F - 1].
inline int MatchLength(const std::uint8_t* key, const std::uint8_t* other)
{
    for (int i = 1; i < F; i += 8) {
        const std::uint64_t diff = Load64(key + i) ^ Load64(other + i);
        if (diff != 0)
            return std::min(i + FirstSetByte(diff), F);
    }
    return F;
}

} // namespace

CLzhufEncoder::CLzhufEncoder()
    : m_pSource(nullptr), m_pTarget(nullptr), m_nInputFill(0), m_nInputPos(0), m_dwConsumed(0),
      m_nOutputFill(0), m_dwUncompressedSize(0), m_dwSourceLength(0), m_dwLongCodes(0),
      m_qwPutbuf(0), m_nPutlen(0), m_nMatchPosition(0), m_nMatchLength(0)
{
}

CLzhufEncoder::~CLzhufEncoder() = default;

BOOL CLzhufEncoder::CompressFile(const char* source, const char* target)
{
    const std::string temp = std::string(target) + ".z!!";
    plat::RemoveFile(target);

    CDiskFile src;
    if (!src.Open(source, CFile::modeRead | CFile::shareDenyNone))
        return FALSE;
    std::uint64_t size = 0;
    if (plat::QueryFileSize64(source, &size) && size > 0xFFFFFFFFu) {
        src.Close();
        plat::SetLastSystemError(kErrorFileTooLarge);
        return FALSE;
    }
    CDiskFile out;
    if (!out.Open(temp.c_str(), CFile::modeCreate | CFile::modeWrite)) {
        const int error = plat::LastSystemError();
        src.Close();
        plat::SetLastSystemError(error);
        return FALSE;
    }
    // A file exception passes through; the destructors close both files and
    // the incomplete temporary file stays.
    Encode(&src, &out);
    src.Close();
    out.Close();
    plat::MoveFile(temp.c_str(), target);
    return TRUE;
}

BOOL CLzhufEncoder::Encode(CFile* source, CFile* target)
{
    m_pSource = source;
    m_pTarget = target;
    m_nInputFill = m_nInputPos = 0;
    m_dwConsumed = 0;
    m_nOutputFill = 0;
    m_qwPutbuf = 0;
    m_nPutlen = 0;
    m_dwLongCodes = 0;
    m_nMatchPosition = m_nMatchLength = 0;
    // One length serves as bound and header, so the two always agree.
    m_dwSourceLength = source->GetLength();
    m_dwUncompressedSize = m_dwSourceLength;
    target->Seek(0, CFile::begin);
    source->Seek(0, CFile::begin);

    for (int shift = 0; shift < 32; shift += 8)
        PutByte(static_cast<std::uint8_t>(m_dwUncompressedSize >> shift));

    if (m_dwUncompressedSize != 0) {
        m_model.StartHuff();
        InitTree();
        std::uint8_t* const text = m_abText;
        std::memset(text, ' ', RING_START);
        std::memset(text + RING_START, 0, sizeof m_abText - RING_START);

        int s = 0;
        int r = RING_START;
        int len = 0;
        while (len < F && InputRemains())
            text[r + len++] = static_cast<std::uint8_t>(GetByte());
        for (int i = 1; i <= F; ++i)
            InsertNode(r - i);
        InsertNode(r);
        do {
            int matchLength = std::min(m_nMatchLength, len);
            if (matchLength <= THRESHOLD) {
                matchLength = 1;
                EncodeChar(text[r]);
            } else {
                EncodeChar(MATCH_BASE + matchLength);
                EncodePosition(m_nMatchPosition);
            }
            int i = 0;
            for (; i < matchLength && InputRemains(); ++i) {
                const std::uint8_t c = static_cast<std::uint8_t>(GetByte());
                DeleteNode(s);
                text[s] = c;
                if (s < F - 1)
                    text[s + N] = c;
                s = (s + 1) & (N - 1);
                r = (r + 1) & (N - 1);
                InsertNode(r);
            }
            for (; i < matchLength; ++i) {
                DeleteNode(s);
                s = (s + 1) & (N - 1);
                r = (r + 1) & (N - 1);
                if (--len != 0)
                    InsertNode(r);
            }
        } while (len > 0);
        EncodeEnd();
    }
    FlushOutput();
    return TRUE;
}

void CLzhufEncoder::InitTree()
{
    for (int i = N + 1; i <= N + 256; ++i)
        m_anRson[i] = NIL;
    for (int i = 0; i < N; ++i)
        m_anDad[i] = NIL;
}

void CLzhufEncoder::InsertNode(int r)
{
    std::int16_t* const lson = m_anLson;
    std::int16_t* const rson = m_anRson;
    std::int16_t* const dad = m_anDad;
    const std::uint8_t* const text = m_abText;
    const std::uint8_t* const key = text + r;

    int p = N + 1 + key[0];
    rson[r] = lson[r] = NIL;
    int matchLength = 0;
    int matchPosition = m_nMatchPosition;
    int cmp = 1;
    for (;;) {
        std::int16_t* const link = cmp >= 0 ? &rson[p] : &lson[p];
        if (*link == NIL) {
            *link = static_cast<std::int16_t>(r);
            dad[r] = static_cast<std::int16_t>(p);
            m_nMatchLength = matchLength;
            m_nMatchPosition = matchPosition;
            return;
        }
        p = *link;
        const int i = MatchLength(key, text + p);
        cmp = i < F ? key[i] - text[p + i] : 0;
        if (i > THRESHOLD) {
            const int c = ((r - p) & (N - 1)) - 1;
            if (i > matchLength) {
                matchPosition = c;
                matchLength = i;
                if (i >= F)
                    break;
            } else if (i == matchLength && c < matchPosition) {
                // Among equal lengths the nearest wins.
                matchPosition = c;
            }
        }
    }
    m_nMatchLength = matchLength;
    m_nMatchPosition = matchPosition;
    // r holds the same 60 bytes as p and is newer: it takes p's place.
    dad[r] = dad[p];
    lson[r] = lson[p];
    rson[r] = rson[p];
    dad[lson[p]] = static_cast<std::int16_t>(r);
    dad[rson[p]] = static_cast<std::int16_t>(r);
    if (rson[dad[p]] == p)
        rson[dad[p]] = static_cast<std::int16_t>(r);
    else
        lson[dad[p]] = static_cast<std::int16_t>(r);
    dad[p] = NIL;
}

void CLzhufEncoder::DeleteNode(int p)
{
    std::int16_t* const lson = m_anLson;
    std::int16_t* const rson = m_anRson;
    std::int16_t* const dad = m_anDad;
    if (dad[p] == NIL)
        return;
    int q;
    if (rson[p] == NIL) {
        q = lson[p];
    } else if (lson[p] == NIL) {
        q = rson[p];
    } else {
        q = lson[p];
        if (rson[q] != NIL) {
            do {
                q = rson[q];
            } while (rson[q] != NIL);
            rson[dad[q]] = lson[q];
            dad[lson[q]] = dad[q];
            lson[q] = lson[p];
            dad[lson[p]] = static_cast<std::int16_t>(q);
        }
        rson[q] = rson[p];
        dad[rson[p]] = static_cast<std::int16_t>(q);
    }
    dad[q] = dad[p];
    if (rson[dad[p]] == p)
        rson[dad[p]] = static_cast<std::int16_t>(q);
    else
        lson[dad[p]] = static_cast<std::int16_t>(q);
    dad[p] = NIL;
}

void CLzhufEncoder::EncodeChar(int c)
{
    const std::int16_t* const prnt = m_model.ParentTable();
    std::uint32_t code = 0;
    int len = 0;
    int k = prnt[c + T];
    // The first bit of the code is the one nearest the root.
    do {
        code |= static_cast<std::uint32_t>(k & 1) << len;
        ++len;
        k = prnt[k];
    } while (k != R && len < 32);
    if (k != R) {
        EncodeLongChar(c);
        return;
    }
    if (len > 16)
        ++m_dwLongCodes;
    Putcode(len, code);
    m_model.update(c);
}

// The 1988 encoder gathered a code in a 16-bit word and lost the bits
// nearest the leaf beyond 16; the decoder needs them all.
void CLzhufEncoder::EncodeLongChar(int c)
{
    const std::int16_t* const prnt = m_model.ParentTable();
    std::uint8_t bits[T];
    int len = 0;
    for (int k = prnt[c + T]; k != R; k = prnt[k])
        bits[len++] = static_cast<std::uint8_t>(k & 1);
    ++m_dwLongCodes;
    while (len > 0) {
        const int n = std::min(len, 16);
        std::uint32_t chunk = 0;
        for (int i = 0; i < n; ++i)
            chunk = (chunk << 1) | bits[--len];
        Putcode(n, chunk);
    }
    m_model.update(c);
}

void CLzhufEncoder::EncodePosition(int c)
{
    const int i = c >> 6;
    const int len = p_len[i];
    const std::uint32_t upper = static_cast<std::uint32_t>(p_code[i]) >> (8 - len);
    Putcode(len + 6, (upper << 6) | static_cast<std::uint32_t>(c & 0x3F));
}

// Appends the l low bits of c, most significant first.
inline void CLzhufEncoder::Putcode(int l, std::uint32_t c)
{
    m_qwPutbuf = (m_qwPutbuf << l) | c;
    m_nPutlen += l;
    while (m_nPutlen >= 8) {
        m_nPutlen -= 8;
        PutByte(static_cast<std::uint8_t>(m_qwPutbuf >> m_nPutlen));
    }
}

void CLzhufEncoder::EncodeEnd()
{
    if (m_nPutlen != 0) {
        PutByte(static_cast<std::uint8_t>(m_qwPutbuf << (8 - m_nPutlen)));
        m_nPutlen = 0;
    }
}

inline int CLzhufEncoder::GetByte()
{
    if (m_nInputPos == m_nInputFill)
        Refill();
    ++m_dwConsumed;
    return m_abInput[m_nInputPos++];
}

void CLzhufEncoder::Refill()
{
    const std::uint32_t length = m_pSource->GetLength();
    const std::uint32_t position = m_pSource->GetPosition();
    std::uint32_t chunk = length > position ? length - position : 0;
    chunk = std::min<std::uint32_t>({chunk, BUFFER_SIZE, m_dwSourceLength - m_dwConsumed});
    // A source that shrank or stopped delivering cannot fill the length the
    // header already promises.
    if (chunk == 0)
        throw new CFileException(CFileException::endOfFile);
    std::uint32_t have = 0;
    while (have < chunk) {
        const std::uint32_t got = m_pSource->Read(m_abInput + have, chunk - have);
        if (got == 0)
            throw new CFileException(CFileException::endOfFile);
        if (got > chunk - have)
            throw new CFileException(CFileException::genericException);
        have += got;
    }
    m_nInputFill = static_cast<std::int32_t>(have);
    m_nInputPos = 0;
}

inline void CLzhufEncoder::PutByte(std::uint8_t b)
{
    m_abOutput[m_nOutputFill++] = b;
    if (m_nOutputFill == BUFFER_SIZE)
        FlushOutput();
}

void CLzhufEncoder::FlushOutput()
{
    if (m_nOutputFill == 0)
        return;
    const std::uint32_t count = static_cast<std::uint32_t>(m_nOutputFill);
    m_nOutputFill = 0;
    m_pTarget->Write(m_abOutput, count);
}
