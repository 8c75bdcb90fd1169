// LZHUF encoding: the sliding dictionary's match search and the bit
// output, into a file object or through a temporary file.
#include "lzh/LzhufEncoder.h"

#include <algorithm>
#include <cstring>
#include <string>
#if defined(_MSC_VER)
#include <intrin.h>
#include <stdlib.h>
#endif

#include "lzh/LzhufBits.h"
#include "platform/DiskFile.h"
#include "platform/FileOps.h"
#include "platform/SystemErrors.h"

using namespace lzh;

static_assert(sizeof(CLzhufEncoder) <= 288 * 1024, "an encoder stays below 288 KiB");

namespace {

inline std::uint64_t Load64(const std::uint8_t* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Eight bytes as a number whose order is the bytes' lexicographic order.
inline std::uint64_t LoadOrdered(const std::uint8_t* p)
{
    const std::uint64_t v = Load64(p);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return v;
#elif defined(_MSC_VER)
    return _byteswap_uint64(v);
#else
    return __builtin_bswap64(v);
#endif
}

inline int CountLeadingZeros(std::uint64_t x)
{
#if defined(_MSC_VER)
    unsigned long bit;
    _BitScanReverse64(&bit, x);
    return 63 - static_cast<int>(bit);
#else
    return __builtin_clzll(x);
#endif
}

// *node, *word = a > b ? (node1, word1) : (*node, word0), without a branch:
// the side a descent takes is a coin toss to a branch predictor, and a
// conditional move keeps the next level's loads off the critical path.
inline void SelectIfGreater(std::uint64_t a, std::uint64_t b, std::uint64_t node1,
                            std::uint64_t word1, std::uint64_t* node, std::uint64_t* word,
                            std::uint64_t word0)
{
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
    std::uint64_t n = *node;
    std::uint64_t w = word0;
    __asm__("cmpq %[b], %[a]\n\t"
            "cmova %[n1], %[n]\n\t"
            "cmova %[w1], %[w]"
            : [n] "+r"(n), [w] "+r"(w)
            : [a] "r"(a), [b] "r"(b), [n1] "r"(node1), [w1] "r"(word1)
            : "cc");
    *node = n;
    *word = w;
#else
    const std::uint64_t mask = 0 - static_cast<std::uint64_t>(a > b);
    *node ^= (*node ^ node1) & mask;
    *word = word0 ^ ((word0 ^ word1) & mask);
#endif
}

// Compares two keys that agree in bytes 0 to 8: the number of leading bytes
// they share (F when all do) and whether the key sorts after the node.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
int LongMatch(const std::uint8_t* key, const std::uint8_t* node, bool* greater)
{
    for (int i = 9; i < F; i += 8) {
        const std::uint64_t a = LoadOrdered(key + i);
        const std::uint64_t b = LoadOrdered(node + i);
        if (a != b) {
            *greater = a > b;
            return i + (CountLeadingZeros(a ^ b) >> 3);
        }
    }
    *greater = false;
    return F;
}

// The number of leading bytes two keys share (F when all do); their first
// bytes are equal.
inline int CommonLength(const std::uint8_t* a, const std::uint8_t* b)
{
    for (int i = 1; i < F; i += 8) {
        const std::uint64_t x = LoadOrdered(a + i) ^ LoadOrdered(b + i);
        if (x != 0)
            return std::min(F, i + (CountLeadingZeros(x) >> 3));
    }
    return F;
}

} // namespace

CLzhufEncoder::CLzhufEncoder()
    : m_pSource(nullptr), m_pTarget(nullptr), m_nInputFill(0), m_nInputPos(0), m_dwConsumed(0),
      m_nOutputFill(0), m_dwUncompressedSize(0), m_dwSourceLength(0), m_dwLongCodes(0),
      m_qwPutbuf(0), m_nPutlen(0), m_nMatchPosition(0), m_nMatchLength(0), m_dwInsertions(0)
{
}

CLzhufEncoder::~CLzhufEncoder() = default;

BOOL CLzhufEncoder::CompressFile(const char* source, const char* target)
{
    const std::string temp = std::string(target) + ".z!!";
    plat::RemoveFile(target);

    CDiskFile src(CDiskFile::Accept::kRegularFile);
    if (!src.Open(source, CFile::modeRead | CFile::shareDenyNone))
        return FALSE;
    std::uint64_t size = 0;
    if (plat::QueryFileSize64(source, &size) && size > 0xFFFFFFFFu) {
        src.Close();
        plat::SetLastSystemError(plat::kErrorFileTooLarge);
        return FALSE;
    }
    CDiskFile out(CDiskFile::Accept::kRegularFileNoLink);
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
    out.CloseWritten();
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
            InsertNode<false>(r - i);
        InsertNode<true>(r);
        // Whether the insertion of r + 1 already ran, paired with that of r,
        // and its best match.
        bool ahead = false;
        int aheadBest = 0;
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
            if (ahead) {
                ahead = false;
                r = (r + 1) & (N - 1);
                SetMatch(aheadBest);
                i = 1;
            }
            for (; i < matchLength && InputRemains(); ++i) {
                DeleteNode(s);
                Store(s, static_cast<std::uint8_t>(GetByte()));
                s = (s + 1) & (N - 1);
                r = (r + 1) & (N - 1);
                if (InputRemains() && Pairable(r, s)) {
                    DeleteNode(s);
                    Store(s, static_cast<std::uint8_t>(GetByte()));
                    s = (s + 1) & (N - 1);
                    // The last insertion of a step pairs with the first of
                    // the next, which every step makes.
                    if (i + 1 == matchLength) {
                        aheadBest = InsertPair<true, true>(r);
                        ahead = true;
                        continue;
                    }
                    if (++i + 1 < matchLength)
                        InsertPair<false, false>(r);
                    else
                        SetMatch(InsertPair<false, true>(r));
                    r = (r + 1) & (N - 1);
                    continue;
                }
                // Only the last insertion of a step chooses the next symbol.
                if (i + 1 < matchLength)
                    InsertNode<false>(r);
                else
                    InsertNode<true>(r);
            }
            for (; i < matchLength; ++i) {
                DeleteNode(s);
                s = (s + 1) & (N - 1);
                r = (r + 1) & (N - 1);
                if (--len == 0)
                    continue;
                if (i + 1 < matchLength)
                    InsertNode<false>(r);
                else
                    InsertNode<true>(r);
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
        m_anSon[2 * i + 1] = NIL;
    for (int i = 0; i < N; ++i)
        m_anDad[i] = NIL;
    m_anSon[2 * NIL] = m_anSon[2 * NIL + 1] = NIL;
    m_aqwWord[NIL] = 0;
    m_paths.Reset(m_abText);
    m_dwInsertions = 0;
}

// Inserts ring position r into the tree of its first byte. With
// kFindMatch it leaves in m_nMatchLength/m_nMatchPosition the longest match
// for the F bytes at r (the nearest among equally long ones) among the nodes
// on the way down, as the 1988 encoder found it; the insertions inside a
// match skip that bookkeeping, as nobody reads their result. When a node
// holds the same F bytes as r, r replaces it.
//
// In a tree with a cached path (LzhufPathCache.h) the descent starts below
// the part it shares with that path, taking that part's best match as
// found, and records its steps; elsewhere it only counts them, and a deep
// one gives its tree a slot, which fills from the next descent on.
template <bool kFindMatch>
void CLzhufEncoder::InsertNode(int r)
{
    const int tree = m_abText[r];
    const std::uint32_t mask = m_paths.SlotsOf(tree);
    if (mask == 0) {
        if (Descend<kFindMatch, false>(r, 2 * (N + 1 + tree) + 1, 0) >= kClaimDepth)
            m_paths.Claim(tree, m_dwInsertions);
        ++m_dwInsertions;
        return;
    }
    ++m_dwInsertions;
    // Start from the path whose last node shares most with the key.
    CLzhufPathCache::Slot* slot = nullptr;
    CLzhufPathCache::Slot* empty = nullptr;
    int shared = 0;
    for (std::uint32_t rest = mask; rest != 0; rest &= rest - 1) {
        CLzhufPathCache::Slot& candidate = m_paths.Get(CountTrailingZeros(rest));
        if (candidate.Empty()) {
            empty = &candidate;
            continue;
        }
        const int m = CommonLength(m_abText + r, m_abText + candidate.y);
        if (m > shared) {
            shared = m;
            slot = &candidate;
        }
    }
    int link = 2 * (N + 1 + tree) + 1;
    int best = 0;
    std::uint32_t skipped = 0;
    if (slot != nullptr) {
        const std::uint32_t start = slot->FirstReaching(shared);
        skipped = start - slot->front;
        if (skipped != 0) {
            const CLzhufPathCache::Step& last = slot->At(start - 1);
            link = 2 * last.node + last.Right();
            if (kFindMatch && last.bestLcp > THRESHOLD)
                best = (last.bestLcp << 12) | ((last.bestNode - r) & (N - 1));
        }
    }
    const int count = Descend<kFindMatch, true>(r, link, best);
    if (count < 0)
        return;
    // A path that goes on from a cached one replaces it when at least as
    // deep: in the data that needs the cache, the keys that reach deep (a
    // sorted column) come back, and shallower ones would displace them. A
    // deep path of its own takes a slot of its own.
    const std::uint32_t depth = skipped + static_cast<std::uint32_t>(count);
    if (depth >= static_cast<std::uint32_t>(kClaimDepth)) {
        if (skipped == 0) {
            CLzhufPathCache::Slot* target = empty;
            if (target == nullptr)
                target = m_paths.Claim(tree, m_dwInsertions);
            if (target == nullptr && depth >= slot->Length())
                target = slot;
            if (target != nullptr)
                m_paths.Commit(target, target->front, m_adwPathSteps, count, r);
        } else if (depth >= slot->Length()) {
            m_paths.Commit(slot, slot->front + skipped, m_adwPathSteps, count, r);
        }
    }
    if (slot != nullptr)
        m_paths.Tally(slot, skipped, skipped >= static_cast<std::uint32_t>(kClaimDepth) / 2,
                      m_dwInsertions);
}

// The descent of InsertNode from `link` with `best` found above it: the
// number of nodes visited (with kRecord their steps in m_adwPathSteps, the
// first DEPTH of them), or -1 when r replaced a node with its key.
//
// Most visits decide within the first 8 bytes after the common first byte,
// so the loop keeps that word of the current node at hand and loads the
// words of both children before it knows which side to take.
template <bool kFindMatch, bool kRecord>
int CLzhufEncoder::Descend(int r, int link, int best)
{
    std::int16_t* const son = m_anSon;
    const std::uint8_t* const text = m_abText;
    const std::uint8_t* const key = text + r;

    son[2 * r] = son[2 * r + 1] = NIL;
    const std::uint64_t* const words = m_aqwWord;
    // best: length in the upper bits, nearness ((p - r) mod N grows as the
    // distance shrinks) in the lower 12: the larger value is the better match.
    // Words in string order: as numbers they compare like the bytes do.
    const std::uint64_t head = LoadOrdered(key + 1);
    m_aqwWord[r] = head;
    std::uint32_t* out = m_adwPathSteps;
    std::uint32_t* const full = m_adwPathSteps + CLzhufPathCache::DEPTH;
    int count = 0;
    std::uint64_t p = static_cast<std::uint16_t>(son[link]);
    std::uint64_t word = words[p];
    while (p != NIL) {
        // Two 16-bit loads rather than one word split in two: the split
        // would sit on the chain from one level to the next.
        const std::uint64_t left = static_cast<std::uint16_t>(son[2 * p]);
        const std::uint64_t right = static_cast<std::uint16_t>(son[2 * p + 1]);
        const std::uint64_t leftWord = words[left];
        const std::uint64_t rightWord = words[right];
        const auto visit = [&](int i, bool greater) {
            if (kFindMatch) {
                const int candidate = (i << 12) | ((static_cast<int>(p) - r) & (N - 1));
                best = std::max(best, candidate & -static_cast<int>(i > THRESHOLD));
            }
            if (kRecord) {
                *out = CLzhufPathCache::Pack(static_cast<int>(p), i, greater);
                out += out != full;
            } else {
                ++count;
            }
        };
        if (word != head) {
            const bool greater = head > word;
            visit(1 + (CountLeadingZeros(word ^ head) >> 3), greater);
            link = 2 * static_cast<int>(p) + greater;
            p = left;
            SelectIfGreater(head, word, right, rightWord, &p, &word, leftWord);
            continue;
        }
        bool greater;
        const int i = LongMatch(key, text + p, &greater);
        if (i >= F) {
            ReplaceNode(static_cast<int>(p), r);
            SetMatch((F << 12) | ((static_cast<int>(p) - r) & (N - 1)));
            return -1;
        }
        visit(i, greater);
        link = 2 * static_cast<int>(p) + greater;
        p = greater ? right : left;
        word = greater ? rightWord : leftWord;
    }
    son[link] = static_cast<std::int16_t>(r);
    m_anDad[r] = static_cast<std::int16_t>(link >> 1);
    if (kFindMatch)
        SetMatch(best);
    return kRecord ? static_cast<int>(out - m_adwPathSteps) : count;
}

// Whether the insertions of r and r + 1 may run as a pair with node s
// leaving before both rather than between them: they and s's removal touch
// three different trees, none of them with cached paths, so no order of the
// three can tell from another.
bool CLzhufEncoder::Pairable(int r, int s) const
{
    const int a = m_abText[r];
    const int b = m_abText[(r + 1) & (N - 1)];
    if (a == b || (m_paths.SlotsOf(a) | m_paths.SlotsOf(b)) != 0)
        return false;
    return m_anDad[s] == NIL || (m_abText[s] != a && m_paths.SlotsOf(m_abText[s]) == 0);
}

// One level of a descent without the path's record, from node p to the
// next (NIL at the end): false, with p kept, when p holds the whole key.
// From NIL it changes nothing, as NIL's links lead to NIL, so that a pair
// runs in one loop until both walks end. Scalars rather than a Walk: the
// walks of a pair must stay in registers.
template <bool kFindMatch>
inline bool CLzhufEncoder::Step(int r, std::uint64_t head, std::uint64_t& p, std::uint64_t& word,
                                std::uint64_t& last, int& count, int& best) const
{
    const std::uint64_t node = p;
    const std::uint64_t left = static_cast<std::uint16_t>(m_anSon[2 * node]);
    const std::uint64_t right = static_cast<std::uint16_t>(m_anSon[2 * node + 1]);
    const std::uint64_t leftWord = m_aqwWord[left];
    const std::uint64_t rightWord = m_aqwWord[right];
    const bool live = node != NIL;
    int i;
    if (word != head) {
        i = 1 + (CountLeadingZeros(word ^ head) >> 3);
        p = left;
        SelectIfGreater(head, word, right, rightWord, &p, &word, leftWord);
    } else {
        if (!live)
            return true;
        bool greater;
        i = LongMatch(m_abText + r, m_abText + node, &greater);
        if (i >= F)
            return false;
        p = greater ? right : left;
        word = greater ? rightWord : leftWord;
    }
    if (kFindMatch) {
        const int candidate = (i << 12) | ((static_cast<int>(node) - r) & (N - 1));
        best = std::max(best, candidate & -static_cast<int>(i > THRESHOLD && live));
    }
    last = live ? node : last;
    count += live;
    return true;
}

// The insertions of r and then r + 1, as InsertNode would make them, their
// descents interleaved: each is a chain of dependent loads that alone
// leaves the core mostly waiting. With kFindFirst the match for r goes to
// m_nMatchLength/m_nMatchPosition; with kFindSecond the one for r + 1 is
// returned, packed as Descend's best.
template <bool kFindFirst, bool kFindSecond>
int CLzhufEncoder::InsertPair(int r)
{
    Walk a = StartWalk(r);
    Walk b = StartWalk((r + 1) & (N - 1));
    std::uint64_t pa = a.p, wa = a.word, la = NIL;
    std::uint64_t pb = b.p, wb = b.word, lb = NIL;
    const std::uint64_t ha = a.head, hb = b.head;
    const int rb = b.r;
    int bestA = 0, bestB = 0;
    int countA = 0, countB = 0;
    // One loop exit rather than one per walk: a missed guess costs more
    // than a few idle steps. NIL is the one bit above every node.
    do {
        if (!Step<kFindFirst>(r, ha, pa, wa, la, countA, bestA)) {
            bestA = Replace(&a, pa);
            pa = NIL;
        }
        if (!Step<kFindSecond>(rb, hb, pb, wb, lb, countB, bestB)) {
            bestB = Replace(&b, pb);
            pb = NIL;
        }
    } while ((pa & pb) != NIL);
    a.last = la;
    b.last = lb;
    a.count = countA;
    b.count = countB;
    EndWalk(a);
    EndWalk(b);
    if (kFindFirst)
        SetMatch(bestA);
    return bestB;
}

inline void CLzhufEncoder::SetMatch(int best)
{
    m_nMatchLength = best >> 12;
    m_nMatchPosition = N - 1 - (best & (N - 1));
}

inline CLzhufEncoder::Walk CLzhufEncoder::StartWalk(int r)
{
    Walk w;
    m_anSon[2 * r] = m_anSon[2 * r + 1] = NIL;
    w.head = LoadOrdered(m_abText + r + 1);
    m_aqwWord[r] = w.head;
    w.p = static_cast<std::uint16_t>(m_anSon[2 * (N + 1 + m_abText[r]) + 1]);
    w.word = m_aqwWord[w.p];
    w.last = NIL;
    w.r = r;
    w.count = 0;
    w.replaced = false;
    return w;
}

// The walk's node takes the place of `node`, which holds its key: the
// walk's best match, that node.
int CLzhufEncoder::Replace(Walk* w, std::uint64_t node)
{
    ReplaceNode(static_cast<int>(node), w->r);
    w->replaced = true;
    return (F << 12) | ((static_cast<int>(node) - w->r) & (N - 1));
}

// Links the walk's node in where its descent ended, on the side it left the
// last node by, and claims a cache slot for a deep one, as InsertNode does.
inline void CLzhufEncoder::EndWalk(const Walk& w)
{
    if (w.replaced) {
        ++m_dwInsertions;
        return;
    }
    int link = 2 * (N + 1 + m_abText[w.r]) + 1;
    if (w.last != NIL) {
        const std::uint64_t word = m_aqwWord[w.last];
        bool greater = w.head > word;
        if (word == w.head)
            LongMatch(m_abText + w.r, m_abText + w.last, &greater);
        link = 2 * static_cast<int>(w.last) + greater;
    }
    m_anSon[link] = static_cast<std::int16_t>(w.r);
    m_anDad[w.r] = static_cast<std::int16_t>(link >> 1);
    if (w.count >= kClaimDepth)
        m_paths.Claim(m_abText[w.r], m_dwInsertions);
    ++m_dwInsertions;
}

// Node p leaves the tree and r, holding the same key, takes its place.
void CLzhufEncoder::ReplaceNode(int p, int r)
{
    std::int16_t* const son = m_anSon;
    std::int16_t* const dad = m_anDad;
    const int left = son[2 * p];
    const int right = son[2 * p + 1];
    const int parent = dad[p];
    if (m_paths.SlotsOf(m_abText[p]) != 0)
        m_paths.Leave(m_abText[p], p, CLzhufPathCache::NONE, CLzhufPathCache::NONE);
    dad[r] = static_cast<std::int16_t>(parent);
    son[2 * r] = static_cast<std::int16_t>(left);
    son[2 * r + 1] = static_cast<std::int16_t>(right);
    dad[left] = static_cast<std::int16_t>(r);
    dad[right] = static_cast<std::int16_t>(r);
    son[2 * parent + (son[2 * parent + 1] == p)] = static_cast<std::int16_t>(r);
    dad[p] = NIL;
}

// Node p leaves the tree; a node of its left subtree (its left child or the
// rightmost node below it) or its only child takes its place. The common
// cases are written as selects: which of them applies is hard to predict.
void CLzhufEncoder::DeleteNode(int p)
{
    std::int16_t* const son = m_anSon;
    std::int16_t* const dad = m_anDad;
    const int parent = dad[p];
    if (parent == NIL)
        return;
    const int left = son[2 * p];
    const int right = son[2 * p + 1];
    int q = left == NIL ? right : left;
    const bool both = left != NIL && right != NIL;
    const bool deep = both && son[2 * left + 1] != NIL;
    if (deep) {
        q = son[2 * left + 1];
        while (son[2 * q + 1] != NIL)
            q = son[2 * q + 1];
    }
    if (m_paths.SlotsOf(m_abText[p]) != 0)
        m_paths.Leave(m_abText[p], p, both ? CLzhufPathCache::NONE : q,
                      both ? q : CLzhufPathCache::NONE);
    if (deep) {
        const int qParent = dad[q];
        const int qLeft = son[2 * q];
        son[2 * qParent + 1] = static_cast<std::int16_t>(qLeft);
        dad[qLeft] = static_cast<std::int16_t>(qParent);
        son[2 * q] = static_cast<std::int16_t>(left);
        dad[left] = static_cast<std::int16_t>(q);
    }
    // With both children q takes p's right subtree; otherwise its own right
    // link stays. Empty links land in the NIL slots, which nobody reads.
    const int keep = son[2 * q + 1];
    son[2 * q + 1] = static_cast<std::int16_t>(keep ^ ((keep ^ right) & -static_cast<int>(both)));
    dad[right] = static_cast<std::int16_t>(q);
    dad[q] = static_cast<std::int16_t>(parent);
    son[2 * parent + (son[2 * parent + 1] == p)] = static_cast<std::int16_t>(q);
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

// Appends the l (at most 32) low bits of c, most significant first, and
// moves whole 32-bit groups to the output buffer.
inline void CLzhufEncoder::Putcode(int l, std::uint32_t c)
{
    const std::uint64_t bits = (m_qwPutbuf << l) | c;
    int len = m_nPutlen + l;
    if (len >= 32) {
        len -= 32;
        const std::uint32_t group = static_cast<std::uint32_t>(bits >> len);
        std::uint8_t* const out = m_abOutput + m_nOutputFill;
        out[0] = static_cast<std::uint8_t>(group >> 24);
        out[1] = static_cast<std::uint8_t>(group >> 16);
        out[2] = static_cast<std::uint8_t>(group >> 8);
        out[3] = static_cast<std::uint8_t>(group);
        m_nOutputFill += 4;
        if (m_nOutputFill >= BUFFER_SIZE)
            WriteFullBuffer();
    }
    m_qwPutbuf = bits;
    m_nPutlen = len;
}

// The remaining bits, the last byte filled up with zero bits.
void CLzhufEncoder::EncodeEnd()
{
    while (m_nPutlen >= 8) {
        m_nPutlen -= 8;
        PutByte(static_cast<std::uint8_t>(m_qwPutbuf >> m_nPutlen));
    }
    if (m_nPutlen != 0) {
        PutByte(static_cast<std::uint8_t>(m_qwPutbuf << (8 - m_nPutlen)));
        m_nPutlen = 0;
    }
}

inline void CLzhufEncoder::Store(int s, std::uint8_t c)
{
    m_abText[s] = c;
    if (s < F - 1)
        m_abText[s + N] = c;
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
    if (m_nOutputFill >= BUFFER_SIZE)
        WriteFullBuffer();
}

// Every write-out but the last is exactly BUFFER_SIZE bytes; the few bytes
// past it wait for the next one.
void CLzhufEncoder::WriteFullBuffer()
{
    m_pTarget->Write(m_abOutput, BUFFER_SIZE);
    m_nOutputFill -= BUFFER_SIZE;
    std::memmove(m_abOutput, m_abOutput + BUFFER_SIZE, static_cast<std::size_t>(m_nOutputFill));
}

void CLzhufEncoder::FlushOutput()
{
    if (m_nOutputFill == 0)
        return;
    const std::uint32_t count = static_cast<std::uint32_t>(m_nOutputFill);
    m_nOutputFill = 0;
    m_pTarget->Write(m_abOutput, count);
}
