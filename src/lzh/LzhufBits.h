// The lowest set bit of a non-zero mask, for the encoder and its path cache.
#pragma once

#include <cstdint>
#if defined(_MSC_VER)
#include <intrin.h>
#endif

namespace lzh {

inline int CountTrailingZeros(std::uint32_t x)
{
#if defined(_MSC_VER)
    unsigned long bit;
    _BitScanForward(&bit, x);
    return static_cast<int>(bit);
#else
    return __builtin_ctz(x);
#endif
}

} // namespace lzh
