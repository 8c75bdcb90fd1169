// The directory search: its pattern, its full paths and the walk over its entries.
#include "platform/Backend.h"
#include "platform/FileSystem.h"
#include "platform/SystemErrors.h"

namespace plat {

bool FileFind::FindFile(const char* pattern)
{
    Close();
    std::string text(pattern);
    std::string::size_type cut = text.find_last_of(kPathSeparators);
    std::string directory = cut == std::string::npos ? std::string(".") : text.substr(0, cut + 1);
    std::string wildcard = cut == std::string::npos ? text : text.substr(cut + 1);
    if (wildcard.empty()) {
        SetLastSystemError(kErrorFileNotFound);
        return false;
    }
    m_root = backend::FullDirectory(directory);
    return Collect(pattern, wildcard);
}

bool FileFind::FindIn(const BeneathDir& dir, const char* wildcard, const std::string& shown)
{
    Close();
    if (wildcard[0] == '\0') {
        SetLastSystemError(kErrorFileNotFound);
        return false;
    }
    m_root = shown;
    return CollectIn(dir, wildcard);
}

bool FileFind::FindNextFile()
{
    if (m_next < m_entries.size())
        ++m_next;
    return m_next < m_entries.size();
}

void FileFind::Close()
{
    m_entries.clear();
    m_next = 0;
    m_root.clear();
}

const FileFind::Entry* FileFind::Current() const
{
    return m_next == 0 || m_next > m_entries.size() ? nullptr : &m_entries[m_next - 1];
}

bool FileFind::IsDots() const
{
    const Entry* entry = Current();
    return entry != nullptr && (entry->name == "." || entry->name == "..");
}

bool FileFind::IsDirectory() const
{
    const Entry* entry = Current();
    return entry != nullptr && entry->directory;
}

// The root alone keeps its separator.
std::string FileFind::GetFilePath() const
{
    const Entry* entry = Current();
    if (entry == nullptr)
        return std::string();
    return (IsPathSeparator(m_root.back()) ? m_root : m_root + kPathSeparator) + entry->name;
}

std::string FileFind::GetFileName() const
{
    const Entry* entry = Current();
    return entry != nullptr ? entry->name : std::string();
}

std::uint32_t FileFind::GetLength() const
{
    const Entry* entry = Current();
    return entry != nullptr ? static_cast<std::uint32_t>(entry->size) : 0;
}

std::uint32_t FileFind::GetAttributes() const
{
    const Entry* entry = Current();
    return entry != nullptr ? entry->attributes : kInvalidAttributes;
}

std::int64_t FileFind::GetLastWriteTime() const
{
    const Entry* entry = Current();
    return entry != nullptr ? entry->mtime : 0;
}

} // namespace plat
