// The walk over the entries a search collected; the search itself and the
// full paths are the backends'.
#include "platform/FileSystem.h"

bool CFileFind::FindNextFile()
{
    if (m_next < m_entries.size())
        ++m_next;
    return m_next < m_entries.size();
}

void CFileFind::Close()
{
    m_entries.clear();
    m_next = 0;
    m_root.clear();
}

const CFileFind::Entry* CFileFind::Current() const
{
    return m_next == 0 || m_next > m_entries.size() ? nullptr : &m_entries[m_next - 1];
}

bool CFileFind::IsDots() const
{
    const Entry* entry = Current();
    return entry != nullptr && (entry->name == "." || entry->name == "..");
}

bool CFileFind::IsDirectory() const
{
    const Entry* entry = Current();
    return entry != nullptr && entry->directory;
}

std::string CFileFind::GetFileName() const
{
    const Entry* entry = Current();
    return entry != nullptr ? entry->name : std::string();
}


std::uint32_t CFileFind::GetLength() const
{
    const Entry* entry = Current();
    return entry != nullptr ? static_cast<std::uint32_t>(entry->size) : 0;
}

std::int64_t CFileFind::GetLastWriteTime() const
{
    const Entry* entry = Current();
    return entry != nullptr ? entry->mtime : 0;
}
