// Shard selection by a stable hash of the device name.
#include "cli/Shard.h"

#include "cli/Args.h"

Shard ParseShard(const std::string& text)
{
    const std::size_t slash = text.find('/');
    Shard shard;
    try {
        if (slash == std::string::npos)
            throw UsageError{};
        shard.count = static_cast<std::uint32_t>(ParseNumber(text.substr(slash + 1), "--shard", 1, 65536));
        shard.index = static_cast<std::uint32_t>(ParseNumber(text.substr(0, slash), "--shard", 0, shard.count - 1));
    } catch (const UsageError&) {
        throw UsageError{"--shard: expected K/N with 0 <= K < N <= 65536, got '" + text + "'"};
    }
    return shard;
}

bool InShard(const std::string& name, const Shard& shard)
{
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : name) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash % shard.count == shard.index;
}
