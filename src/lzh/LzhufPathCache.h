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
// before it, except the oldest node at the top of a path with the path's
// next node as its only child, which simply drops off (DropFront), and a
// node with two children that the path leaves to the right: its heir (the
// greatest node of its left subtree) takes its place, Y still sorts after
// it and the rest of the path keeps its links (Inherit). Sorted keys leave
// every node of their path to the right, and the oldest node, which leaves
// next, sits at the top, so without this a path lived one insertion. Y
// leaving the tree empties the slot, as its key is then overwritten.
//
// Slots are few and go to the trees whose descents run deep; one that keeps
// saving little is given up, and its tree waits a while before it claims
// another.
//
// Not thread-safe; part of one encoder.
#pragma once

#include <cstdint>

#include "lzh/LzhufFormat.h"

class CLzhufPathCache {
public:
    static constexpr int SLOTS = 12;
    static constexpr int DEPTH = 1024; // nodes kept per path; longer paths keep their top
    static constexpr int PER_TREE = 2; // paths kept per tree
    static constexpr int NONE = -1;

    struct Step {
        std::int16_t node;
        std::int16_t bestNode; // best match among the path's nodes up to here
        std::uint8_t lcpSide;  // lcp(Y, node), 1..F-1, and 0x80 when the descent went right
        std::uint8_t bestLcp;

        int Lcp() const { return lcpSide & 0x7F; }
        int Right() const { return lcpSide >> 7; }
    };
    static_assert(sizeof(Step) == 6, "six bytes a step");

    struct Slot {
        std::uint32_t front;
        std::uint32_t back; // steps [front, back), indices modulo DEPTH
        int y;              // the node whose insertion recorded the path
        int tree;           // first byte of the tree; NONE for a free slot
        int misses;         // descents in a row that skipped little
        std::uint32_t skippedTotal; // nodes skipped by the descents from it
        std::uint32_t uses;         // and their number
        Step steps[DEPTH];

        bool Empty() const { return front == back; }
        std::uint32_t Length() const { return back - front; }
        Step& At(std::uint32_t i) { return steps[i & (DEPTH - 1)]; }
        const Step& At(std::uint32_t i) const { return steps[i & (DEPTH - 1)]; }
        // The first step whose prefix best reaches m bytes, or back.
        std::uint32_t FirstReaching(int m) const;
    };

    // `text` holds the keys (F bytes at a node, never wrapping) for as long
    // as their nodes are in the tree.
    void Reset(const std::uint8_t* text);
    // Bit k set: slot k caches a path of `tree`.
    std::uint32_t SlotsOf(int tree) const { return m_adwSlotsOfTree[tree]; }
    Slot& Get(int k) { return m_slots[k]; }
    // An empty slot for `tree`, the one claimed longest ago, or nullptr when
    // the tree has PER_TREE slots or gave one up not long ago.
    Slot* Claim(int tree, std::uint32_t now);

    // A step of a descent as the descent records it: node, lcp, side.
    static std::uint32_t Pack(int node, int lcp, bool right)
    {
        return static_cast<std::uint32_t>(node) | static_cast<std::uint32_t>(lcp) << 16 |
               static_cast<std::uint32_t>(right) << 23;
    }

    // Replaces the steps from `start` on by `count` packed steps, up to
    // DEPTH in all, and makes y the path's node.
    void Commit(Slot* slot, std::uint32_t start, const std::uint32_t* fresh, int count, int y);

    // Counts a descent that started from the slot's path, `skipped` nodes
    // into it; gives the slot up after a few in a row that skipped little.
    // A tree whose slot skipped much on average (sorted numbers, hundreds of
    // nodes) claims again soon; others wait long, as a claim costs them more
    // than it saves.
    void Tally(Slot* slot, std::uint32_t skipped, bool skippedMuch, std::uint32_t now)
    {
        slot->misses = skippedMuch ? 0 : slot->misses + 1;
        slot->skippedTotal += skipped;
        ++slot->uses;
        if (slot->misses >= kMaxMisses) {
            const bool paid = slot->skippedTotal >= kPayingSkip * slot->uses;
            m_adwResting[slot->tree] = now + (paid ? kShortRest : kRest);
            Release(slot);
        }
    }

    // Node p leaves the tree; `only` is its only child (NIL for none), or
    // NONE when it has two. `heir`: when p is the oldest node in the tree and
    // has two children, the node that takes its place; else NONE.
    void Leave(int tree, int p, int only, int heir);

private:
    static constexpr int kMaxMisses = 4;
    // Insertions during which a tree that gave up a slot claims none.
    static constexpr std::uint32_t kRest = 4096;
    // The same for a tree whose slot skipped at least kPayingSkip nodes per
    // descent on average.
    static constexpr std::uint32_t kShortRest = 64;
    static constexpr std::uint32_t kPayingSkip = 16;

    void Release(Slot* slot);
    void DropFront(Slot* slot, int p);
    void Inherit(Slot* slot, std::uint32_t i, int p, int heir);

    const std::uint8_t* m_pText = nullptr;

    Slot m_slots[SLOTS];
    std::uint32_t m_adwSlotsOfTree[256];
    std::uint32_t m_adwResting[256]; // claims wait until this insertion
    int m_nNextVictim;
    // The paths of a tree all start at its root, so a node has the same
    // place in each: its depth. Each node's depth when it was recorded plus
    // its tree's count of roots dropped since Reset, modulo 2^16; checked
    // against the step before use, so stale entries are harmless.
    std::uint16_t m_awDepthOf[lzh::N];
    std::uint16_t m_awDropped[256];
};
