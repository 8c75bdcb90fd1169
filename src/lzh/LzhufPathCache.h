// CLzhufPathCache: the search paths of recent long descents into the match
// finder's trees, so that the next descent into the same tree skips the part
// it provably shares.
//
// Sorted or slowly changing text (numbers counting up, time stamps) builds
// trees whose search paths run hundreds of nodes deep, and each insertion
// walked all of them. A slot holds, for one tree, the path v0, v1, ... that
// led to the last inserted node Y: each node, the side taken there and
// lcp(Y, v), the bytes it shares with Y, and for each prefix of the path the
// best match (longest, then newest) among its nodes. A new key X with
// m = lcp(X, Y) agrees with Y in every byte where a node v with
// lcp(Y, v) < m differs from Y, so it takes the same side at v and shares
// the same lcp(X, v) = lcp(Y, v). The descent of X therefore visits the same
// nodes as Y's up to the first node with lcp(Y, v) >= m, finds there the
// best match the prefix held, and goes on from that node by comparing as
// usual: the visiting order, and so every match chosen, is the tree's.
//
// The path stays true while its nodes keep their links. An insertion only
// fills an empty link, and every link along a path leads to the next node,
// so insertions change nothing; a node that leaves the tree cuts the path
// before it (CutAt), except the oldest node at the top of a path with the
// path's next node as its only child, which simply drops off (DropFront).
// Y leaving the tree empties the slot, as its key is then overwritten.
//
// Not thread-safe; part of one encoder.
#pragma once

#include <cstdint>

#include "lzh/LzhufFormat.h"

class CLzhufPathCache {
public:
    static constexpr int SLOTS = 16;
    static constexpr int DEPTH = 512; // nodes kept per path; longer paths keep their top
    static constexpr int NONE = -1;

    struct Step {
        std::int16_t node;
        std::uint8_t lcp;     // lcp(Y, node), 1..F-1
        std::uint8_t right;   // 1 when the descent went to the right child
        std::int16_t bestNode; // best match among the path's nodes up to here
        std::uint8_t bestLcp;
        std::uint8_t pad;
    };

    struct Slot {
        std::uint32_t front;
        std::uint32_t back; // steps [front, back), indices modulo DEPTH
        int y;              // the node whose insertion recorded the path
        int tree;           // first byte of the tree; NONE for a free slot
        int misses;         // descents in a row that skipped little
        Step steps[DEPTH];

        bool Empty() const { return front == back; }
        Step& At(std::uint32_t i) { return steps[i & (DEPTH - 1)]; }
        const Step& At(std::uint32_t i) const { return steps[i & (DEPTH - 1)]; }
        // The first step whose prefix best reaches m bytes, or back.
        std::uint32_t FirstReaching(int m) const;
    };

    void Reset();
    bool HasSlot(int tree) const { return m_anSlotOfTree[tree] != NONE; }
    Slot* SlotOf(int tree)
    {
        const int k = m_anSlotOfTree[tree];
        return k == NONE ? nullptr : &m_slots[k];
    }
    // A slot for `tree`, taken from the one used least recently.
    Slot* Claim(int tree);

    // A step of a descent as the descent records it: node, lcp, side.
    static std::uint32_t Pack(int node, int lcp, bool right)
    {
        return static_cast<std::uint32_t>(node) | static_cast<std::uint32_t>(lcp) << 16 |
               static_cast<std::uint32_t>(right) << 24;
    }

    // Replaces the steps from `start` on by `count` packed steps, up to
    // DEPTH in all, and makes y the path's node.
    void Commit(Slot* slot, std::uint32_t start, const std::uint32_t* fresh, int count, int y);

    // Counts a descent that used the slot; gives the slot up after many in
    // a row that skipped little.
    void Tally(Slot* slot, bool skippedMuch)
    {
        slot->misses = skippedMuch ? 0 : slot->misses + 1;
        if (slot->misses >= kMaxMisses)
            Release(slot);
    }

    // Node p leaves the tree; `only` is its only child (NIL for none), or
    // NONE when it has two.
    void Leave(int tree, int p, int only);

private:
    static constexpr int kMaxMisses = 64;

    void Release(Slot* slot);
    void DropFront(Slot* slot, int p);

    Slot m_slots[SLOTS];
    std::int8_t m_anSlotOfTree[256];
    int m_nNextVictim;
    // Index (modulo 2^16) of each node's step in its tree's path; checked
    // against the step before use, so stale entries are harmless.
    std::uint16_t m_awStepOf[lzh::N];
};
