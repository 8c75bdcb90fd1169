// --shard K/N: the part of a device list one of N machines takes. A device
// belongs to shard (FNV-1a 32-bit of its name) mod N, the same on every
// machine, platform and run, whatever the list's order.
#pragma once

#include <cstdint>
#include <string>

struct Shard {
    std::uint32_t index = 0;
    std::uint32_t count = 1;
};

// "K/N" with 0 <= K < N <= 65536; throws UsageError otherwise.
Shard ParseShard(const std::string& text);
bool InShard(const std::string& name, const Shard& shard);
