// CLzhufModel: the adaptive Huffman code of LZHUF, shared by the encoder and
// the decoder so that both sides keep the same tree.
//
// Nodes are kept in non-decreasing frequency order (sibling property); node
// R is the root, son[n] and son[n] + 1 are the children of an inner node, and
// son[n] >= T marks a leaf for symbol son[n] - T. The two children of a node
// are its code bits 0 and 1. Not thread-safe; one model per coder.
#pragma once

#include <cstdint>

#include "lzh/LzhufFormat.h"

// Left out of a fuzzing build's coverage: the tree's upkeep runs on every
// symbol, its comparisons follow from the data and guide nothing, and
// tracing them cost the codec fuzzers most of their speed.
#if defined(__clang__)
#define LZH_NOT_TRACED __attribute__((no_sanitize("coverage")))
#else
#define LZH_NOT_TRACED
#endif

class CLzhufModel {
public:
    // Every symbol with frequency 1, in a balanced tree.
    void StartHuff();
    // Counts one occurrence of symbol c and restores the order; rebuilds the
    // tree with halved frequencies first when the root has reached MAX_FREQ.
    LZH_NOT_TRACED inline void update(int c);

    // First child of an inner node; T + symbol for a leaf.
    int Son(int node) const { return m_anSon[node]; }
    // Parent of each node; entry T + symbol is the leaf node of the symbol.
    const std::int16_t* ParentTable() const { return m_anPrnt; }

private:
    LZH_NOT_TRACED void reconst();

    std::uint16_t m_awFreq[lzh::T + 1]; // [T] = 0xFFFF stops the search in update
    std::int16_t m_anPrnt[lzh::T + lzh::N_CHAR];
    std::int16_t m_anSon[lzh::T];
};

LZH_NOT_TRACED inline void CLzhufModel::update(int c)
{
    using lzh::T;
    if (m_awFreq[lzh::R] == lzh::MAX_FREQ)
        reconst();
    std::uint16_t* const freq = m_awFreq;
    std::int16_t* const prnt = m_anPrnt;
    std::int16_t* const son = m_anSon;
    c = prnt[c + T];
    do {
        const unsigned k = ++freq[c];
        if (k > freq[c + 1]) {
            // Swap with the last node of the run that c has just left.
            int l = c + 2;
            while (k > freq[l])
                ++l;
            --l;
            freq[c] = freq[l];
            freq[l] = static_cast<std::uint16_t>(k);
            const int i = son[c];
            prnt[i] = static_cast<std::int16_t>(l);
            if (i < T)
                prnt[i + 1] = static_cast<std::int16_t>(l);
            const int j = son[l];
            son[l] = static_cast<std::int16_t>(i);
            prnt[j] = static_cast<std::int16_t>(c);
            if (j < T)
                prnt[j + 1] = static_cast<std::int16_t>(c);
            son[c] = static_cast<std::int16_t>(j);
            c = l;
        }
        c = prnt[c];
    } while (c != 0);
}
