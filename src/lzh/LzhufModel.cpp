// The adaptive Huffman tree both LZHUF directions update after each symbol.
#include "lzh/LzhufModel.h"

#include <cstring>

using namespace lzh;

void CLzhufModel::StartHuff()
{
    for (int i = 0; i < N_CHAR; ++i) {
        m_awFreq[i] = 1;
        m_anSon[i] = static_cast<std::int16_t>(i + T);
        m_anPrnt[i + T] = static_cast<std::int16_t>(i);
    }
    for (int i = 0, j = N_CHAR; j <= R; i += 2, ++j) {
        m_awFreq[j] = static_cast<std::uint16_t>(m_awFreq[i] + m_awFreq[i + 1]);
        m_anSon[j] = static_cast<std::int16_t>(i);
        m_anPrnt[i] = m_anPrnt[i + 1] = static_cast<std::int16_t>(j);
    }
    m_awFreq[T] = 0xFFFF;
    m_anPrnt[R] = 0;
}

LZH_NOT_TRACED void CLzhufModel::reconst()
{
    int j = 0;
    for (int i = 0; i < T; ++i) {
        if (m_anSon[i] >= T) {
            m_awFreq[j] = static_cast<std::uint16_t>((m_awFreq[i] + 1) / 2);
            m_anSon[j] = m_anSon[i];
            ++j;
        }
    }
    for (int i = 0, j2 = N_CHAR; j2 < T; i += 2, ++j2) {
        const unsigned f = static_cast<unsigned>(m_awFreq[i]) + m_awFreq[i + 1];
        m_awFreq[j2] = static_cast<std::uint16_t>(f);
        int k = j2 - 1;
        while (f < m_awFreq[k])
            --k;
        ++k;
        const std::size_t moved = static_cast<std::size_t>(j2 - k);
        std::memmove(&m_awFreq[k + 1], &m_awFreq[k], moved * sizeof m_awFreq[0]);
        m_awFreq[k] = static_cast<std::uint16_t>(f);
        std::memmove(&m_anSon[k + 1], &m_anSon[k], moved * sizeof m_anSon[0]);
        m_anSon[k] = static_cast<std::int16_t>(i);
    }
    for (int i = 0; i < T; ++i) {
        const int k = m_anSon[i];
        m_anPrnt[k] = static_cast<std::int16_t>(i);
        if (k < T)
            m_anPrnt[k + 1] = static_cast<std::int16_t>(i);
    }
}
