#include "doubles/MemoryFile.h"

#include <algorithm>
#include <cstring>

std::uint32_t CMemoryFile::Read(void* buffer, std::uint32_t count)
{
    ++m_readCalls;
    std::size_t n = std::min<std::size_t>(count, m_pos < m_data.size() ? m_data.size() - m_pos : 0);
    if (m_maxRead != 0)
        n = std::min<std::size_t>(n, m_maxRead);
    std::memcpy(buffer, m_data.data() + m_pos, n);
    m_pos += n;
    return static_cast<std::uint32_t>(n);
}

void CMemoryFile::Write(const void* buffer, std::uint32_t count)
{
    m_writeSizes.push_back(count);
    if (m_written + count > m_writeLimit)
        throw new CFileException(CFileException::diskFull);
    m_written += count;
    if (m_data.size() < m_pos + count)
        m_data.resize(m_pos + count);
    std::memcpy(&m_data[m_pos], buffer, count);
    m_pos += count;
}

std::uint64_t CMemoryFile::Seek(std::int64_t offset, unsigned from)
{
    const std::int64_t base = from == current ? static_cast<std::int64_t>(m_pos)
                              : from == end   ? static_cast<std::int64_t>(m_data.size())
                                              : 0;
    if (base + offset < 0)
        throw new CFileException(CFileException::badSeek);
    m_pos = static_cast<std::size_t>(base + offset);
    return m_pos;
}

std::uint32_t CMemoryFile::GetLength() const
{
    return static_cast<std::uint32_t>(m_reportedLength >= 0 ? m_reportedLength : m_data.size());
}
