// Shared by the fuzz targets: input layout and a check that stops the run
// (libFuzzer reports it as a crash).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#define FUZZ_CHECK(cond) ((cond) ? (void)0 : ::fuzz::Fail(#cond, __FILE__, __LINE__))

namespace fuzz {

[[noreturn]] void Fail(const char* what, const char* file, int line);

// Reads the input front to back; reads past the end give zeros.
class InputReader {
public:
    InputReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    std::uint8_t Byte();
    std::uint16_t U16();
    std::uint32_t U32();
    std::string Rest();
    // The rest as segments: each a u16 little-endian length and that many
    // bytes; the last one may be shorter than its length says.
    std::vector<std::string> Segments();

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// The inverse of InputReader::Segments, for the seed maker.
std::string JoinSegments(const std::vector<std::string>& segments);

} // namespace fuzz
