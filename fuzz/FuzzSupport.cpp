// Fuzz helpers: failing loudly and reading typed values from the input.
#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>

namespace fuzz {

void Fail(const char* what, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}

std::uint8_t InputReader::Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }

std::uint16_t InputReader::U16()
{
    std::uint16_t lo = Byte();
    return static_cast<std::uint16_t>(lo | (Byte() << 8));
}

std::uint32_t InputReader::U32()
{
    std::uint32_t lo = U16();
    return lo | (static_cast<std::uint32_t>(U16()) << 16);
}

std::string InputReader::Rest()
{
    std::string rest(reinterpret_cast<const char*>(m_data + m_pos), m_size - m_pos);
    m_pos = m_size;
    return rest;
}

std::vector<std::string> InputReader::Segments()
{
    std::vector<std::string> segments;
    while (m_pos < m_size) {
        std::size_t length = U16();
        std::size_t n = length < m_size - m_pos ? length : m_size - m_pos;
        segments.emplace_back(reinterpret_cast<const char*>(m_data + m_pos), n);
        m_pos += n;
    }
    return segments;
}

std::string JoinSegments(const std::vector<std::string>& segments)
{
    std::string out;
    for (const std::string& s : segments) {
        out += static_cast<char>(s.size() & 0xFF);
        out += static_cast<char>((s.size() >> 8) & 0xFF);
        out += s;
    }
    return out;
}

} // namespace fuzz
