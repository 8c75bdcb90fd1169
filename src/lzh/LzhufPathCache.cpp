// The match finder's cache of search paths; see the header for why a cached
// path gives the same visits as a fresh descent.
#include "lzh/LzhufPathCache.h"

#include <algorithm>

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
    std::uint32_t lo = front;
    std::uint32_t hi = back;
    while (lo < hi) {
        const std::uint32_t mid = lo + (hi - lo) / 2;
        if (At(mid).bestLcp >= m)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

void CLzhufPathCache::Reset()
{
    for (std::int8_t& k : m_anSlotOfTree)
        k = NONE;
    for (Slot& slot : m_slots) {
        slot.tree = NONE;
        Release(&slot);
    }
    m_nNextVictim = 0;
}

CLzhufPathCache::Slot* CLzhufPathCache::Claim(int tree)
{
    const int k = m_nNextVictim;
    m_nNextVictim = (k + 1) % SLOTS;
    Slot& slot = m_slots[k];
    Release(&slot);
    slot.tree = tree;
    m_anSlotOfTree[tree] = static_cast<std::int8_t>(k);
    return &slot;
}

void CLzhufPathCache::Release(Slot* slot)
{
    if (slot->tree != NONE)
        m_anSlotOfTree[slot->tree] = NONE;
    slot->tree = NONE;
    slot->front = slot->back = 0;
    slot->y = NIL;
    slot->misses = 0;
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
    for (int k = 0; k < count; ++k, ++i) {
        Step step;
        step.node = static_cast<std::int16_t>(fresh[k] & 0xFFFF);
        step.lcp = static_cast<std::uint8_t>(fresh[k] >> 16);
        step.right = static_cast<std::uint8_t>(fresh[k] >> 24);
        step.pad = 0;
        best = std::max(best, (step.lcp << 12) | ((step.node - y) & (N - 1)));
        step.bestLcp = static_cast<std::uint8_t>(best >> 12);
        step.bestNode = static_cast<std::int16_t>((best + y) & (N - 1));
        slot->At(i) = step;
        m_awStepOf[step.node] = static_cast<std::uint16_t>(i);
    }
    slot->back = i;
    slot->y = y;
}

void CLzhufPathCache::Leave(int tree, int p, int only)
{
    Slot* const slot = SlotOf(tree);
    if (slot == nullptr || slot->Empty())
        return;
    if (p == slot->y) {
        slot->front = slot->back;
        return;
    }
    const std::uint32_t offset = static_cast<std::uint16_t>(m_awStepOf[p] - slot->front);
    if (offset >= slot->back - slot->front)
        return;
    const std::uint32_t i = slot->front + offset;
    if (slot->At(i).node != p)
        return;
    if (offset == 0 && i + 1 < slot->back && only != NONE && slot->At(i + 1).node == only)
        DropFront(slot, p);
    else
        slot->back = i;
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
        if (bestNode == NIL || Better(step.lcp, step.node, bestLcp, bestNode, p)) {
            bestLcp = step.lcp;
            bestNode = step.node;
        }
        step.bestLcp = static_cast<std::uint8_t>(bestLcp);
        step.bestNode = static_cast<std::int16_t>(bestNode);
    }
}
