// Deterministic sample data for compression tests and benchmarks: the same
// bytes on every platform and compiler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Blocks of English-like text, binary records, random bytes and zero runs.
std::string MakeMixedCorpus(std::size_t size, std::uint64_t seed = 1);
std::string MakeText(std::size_t size, std::uint64_t seed = 1);
std::string MakeRandomBytes(std::size_t size, std::uint64_t seed = 1);
// The mixed corpus's fixed-layout binary records alone.
std::string MakeRecords(std::size_t size, std::uint64_t seed = 1);
// What recorders export: numbers counting up one a line (as `seq` writes
// them), a CSV of slowly changing samples, and a device log.
std::string MakeSortedNumbers(std::size_t size, std::uint64_t seed = 1);
std::string MakeSampleCsv(std::size_t size, std::uint64_t seed = 1);
std::string MakeLogText(std::size_t size, std::uint64_t seed = 1);

// splitmix64: small, fast and identical everywhere, unlike <random>'s
// distributions.
class CTestRandom {
public:
    explicit CTestRandom(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t Next();
    // Uniform in [0, bound); bound > 0.
    std::uint32_t Below(std::uint32_t bound) { return static_cast<std::uint32_t>(Next() % bound); }

private:
    std::uint64_t m_state;
};
