// Figures of this process from /proc/self/status (Linux), for the memory
// figures of the benchmarks and the soak.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

// A field such as "VmRSS" or "VmHWM" in KiB; -1 when it cannot be read.
inline long StatusKib(const char* field)
{
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr)
        return -1;
    char line[256];
    long value = -1;
    std::size_t len = std::strlen(field);
    while (std::fgets(line, sizeof(line), f) != nullptr)
        if (std::strncmp(line, field, len) == 0 && line[len] == ':')
            value = std::strtol(line + len + 1, nullptr, 10);
    std::fclose(f);
    return value;
}

} // namespace bench
