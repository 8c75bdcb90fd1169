// The match finder's cache of search paths; see the header for why a cached
// path gives the same visits as a fresh descent.
#include "lzh/LzhufPathCache.h"

#include <algorithm>

#include "lzh/LzhufBits.h"

using namespace lzh;

namespace {

// Longer, or as long and nearer: nearness measured from a node `base` that
// is no older than either (the newest) or no newer (the oldest), as then
// (node - base) mod N orders the live nodes by age.
inline bool Better(int lcpA, int nodeA, int lcpB, int nodeB, int base)
{
    if (lcpA != lcpB)
        return lcpA > lcpB;
    return ((nodeA - base) & (N - 1)) > ((nodeB - base) & (N - 1));
}

} // namespace

std::uint32_t CLzhufPathCache::Slot::FirstReaching(int m) const
{
    // Gallops back from the path's end first: a key that shares much with
    // Y, the case the cache is for, parts from Y's path near its end.
    std::uint32_t hi = back;
    std::uint32_t step = 1;
    while (hi - front > step && At(hi - step).bestLcp >= m) {
        hi -= step;
        step *= 2;
    }
    std::uint32_t lo = hi - front > step ? hi - step + 1 : front;
    while (lo < hi) {
        const std::uint32_t mid = lo + (hi - lo) / 2;
        if (At(mid).bestLcp >= m)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

void CLzhufPathCache::Reset(const std::uint8_t* text)
{
    m_pText = text;
    for (Slot& slot : m_slots) {
        slot.tree = NONE;
        Release(&slot);
    }
    for (std::uint32_t& mask : m_adwSlotsOfTree)
        mask = 0;
    for (std::uint32_t& when : m_adwResting)
        when = 0;
    for (std::uint16_t& n : m_awDropped)
        n = 0;
    // Checked before use, but never read uninitialised.
    for (std::uint16_t& depth : m_awDepthOf)
        depth = 0;
    m_nNextVictim = 0;
}

CLzhufPathCache::Slot* CLzhufPathCache::Claim(int tree, std::uint32_t now)
{
    std::uint32_t mask = m_adwSlotsOfTree[tree];
    int own = 0;
    for (; mask != 0; mask &= mask - 1)
        ++own;
    if (own >= PER_TREE || static_cast<std::int32_t>(m_adwResting[tree] - now) > 0)
        return nullptr;
    Slot* const slot = &m_slots[m_nNextVictim];
    m_nNextVictim = (m_nNextVictim + 1) % SLOTS;
    Release(slot);
    slot->tree = tree;
    m_adwSlotsOfTree[tree] |= 1u << (slot - m_slots);
    return slot;
}

void CLzhufPathCache::Release(Slot* slot)
{
    if (slot->tree != NONE)
        m_adwSlotsOfTree[slot->tree] &= ~(1u << (slot - m_slots));
    slot->tree = NONE;
    slot->front = slot->back = 0;
    slot->y = NIL;
    slot->misses = 0;
    slot->skippedTotal = 0;
    slot->uses = 0;
}

void CLzhufPathCache::Commit(Slot* slot, std::uint32_t start, const std::uint32_t* fresh, int count,
                             int y)
{
    const std::uint32_t room = DEPTH - (start - slot->front);
    if (static_cast<std::uint32_t>(count) > room)
        count = static_cast<int>(room);
    std::uint32_t i = start;
    // Best as length, then nearness seen from y, the newest node.
    int best = 0;
    if (i != slot->front) {
        const Step& last = slot->At(i - 1);
        best = (last.bestLcp << 12) | ((last.bestNode - y) & (N - 1));
    }
    const std::uint32_t depthBase = m_awDropped[slot->tree] - slot->front;
    for (int k = 0; k < count; ++k, ++i) {
        Step step;
        step.node = static_cast<std::int16_t>(fresh[k] & 0xFFFF);
        step.lcpSide = static_cast<std::uint8_t>(fresh[k] >> 16);
        best = std::max(best, (step.Lcp() << 12) | ((step.node - y) & (N - 1)));
        step.bestLcp = static_cast<std::uint8_t>(best >> 12);
        step.bestNode = static_cast<std::int16_t>((best + y) & (N - 1));
        slot->At(i) = step;
        m_awDepthOf[step.node] = static_cast<std::uint16_t>(depthBase + i);
    }
    slot->back = i;
    slot->y = y;
}

void CLzhufPathCache::Leave(int tree, int p, int only, int heir)
{
    const std::uint32_t depth = static_cast<std::uint16_t>(m_awDepthOf[p] - m_awDropped[tree]);
    bool dropped = false;
    for (std::uint32_t mask = m_adwSlotsOfTree[tree]; mask != 0; mask &= mask - 1) {
        Slot* const slot = &m_slots[CountTrailingZeros(mask)];
        if (p == slot->y) {
            slot->front = slot->back;
            continue;
        }
        if (depth >= slot->Length())
            continue;
        const std::uint32_t i = slot->front + depth;
        if (slot->At(i).node != p)
            continue;
        if (depth == 0 && i + 1 < slot->back && only != NONE && slot->At(i + 1).node == only) {
            DropFront(slot, p);
            dropped = true;
        } else if (heir != NONE && only == NONE && slot->At(i).Right()) {
            Inherit(slot, i, p, heir);
        } else {
            slot->back = i;
        }
    }
    // Every node under a dropped root is one level nearer the root.
    if (dropped)
        ++m_awDropped[tree];
}
// The oldest node leaves the top of the path. It can be the best of a
// prefix only while nothing after it is as long, so the prefixes that named
// it are computed again, which stops at the first that did not.
void CLzhufPathCache::DropFront(Slot* slot, int p)
{
    ++slot->front;
    int bestLcp = 0;
    int bestNode = NIL;
    for (std::uint32_t i = slot->front; i < slot->back; ++i) {
        Step& step = slot->At(i);
        if (step.bestNode != p)
            return;
        if (bestNode == NIL || Better(step.Lcp(), step.node, bestLcp, bestNode, p)) {
            bestLcp = step.Lcp();
            bestNode = step.node;
        }
        step.bestLcp = static_cast<std::uint8_t>(bestLcp);
        step.bestNode = static_cast<std::int16_t>(bestNode);
    }
}

// Step i's node p leaves the tree with two children and the path on its
// right; its heir takes its place at the same depth. Every node of the left
// subtree sorts before p and so before Y: the path goes right at the heir
// too. Only the heir's lcp is new, and the prefixes' best from step i on are
// computed again, nearness seen from p, the oldest node, up to the first
// that comes out as it was: the later ones follow from it as before.
void CLzhufPathCache::Inherit(Slot* slot, std::uint32_t i, int p, int heir)
{
    const std::uint8_t* const a = m_pText + slot->y;
    const std::uint8_t* const b = m_pText + heir;
    int lcp = 1;
    while (lcp < F - 1 && a[lcp] == b[lcp])
        ++lcp;
    Step& step = slot->At(i);
    step.node = static_cast<std::int16_t>(heir);
    step.lcpSide = static_cast<std::uint8_t>(lcp | 0x80);
    m_awDepthOf[heir] = m_awDepthOf[p];
    int bestLcp = 0;
    int bestNode = NIL;
    if (i != slot->front) {
        bestLcp = slot->At(i - 1).bestLcp;
        bestNode = slot->At(i - 1).bestNode;
    }
    for (std::uint32_t k = i; k < slot->back; ++k) {
        Step& s = slot->At(k);
        if (bestNode == NIL || Better(s.Lcp(), s.node, bestLcp, bestNode, p)) {
            bestLcp = s.Lcp();
            bestNode = s.node;
        }
        if (k != i && s.bestLcp == bestLcp && s.bestNode == bestNode)
            return;
        s.bestLcp = static_cast<std::uint8_t>(bestLcp);
        s.bestNode = static_cast<std::int16_t>(bestNode);
    }
}
