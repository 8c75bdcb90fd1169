#include "platform/FileSystem.h"
#include "platform/win32/LastError.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// GetFullPathName resolves "." and "..", makes the path absolute and folds
// doubled separators; the trailing one goes unless it is the root's.
std::string FullDirectory(const std::string& directory)
{
    char small[MAX_PATH];
    DWORD n = ::GetFullPathNameA(directory.c_str(), sizeof(small), small, nullptr);
    std::string full;
    if (n >= sizeof(small)) {
        std::string large(n, '\0');
        n = ::GetFullPathNameA(directory.c_str(), n, &large[0], nullptr);
        large.resize(n);
        full = large;
    } else {
        full.assign(small, n);
    }
    if (full.empty())
        full = directory;
    while (full.size() > 3 && IsSeparator(full.back()))
        full.pop_back();
    return full;
}

} // namespace

bool CFileFind::FindFile(const char* pattern)
{
    Close();
    std::string text(pattern);
    std::string::size_type cut = text.find_last_of("\\/");
    std::string directory = cut == std::string::npos ? std::string(".") : text.substr(0, cut + 1);
    if (cut == std::string::npos ? text.empty() : cut + 1 == text.size()) {
        plat::SetLastSystemError(kErrorFileNotFound);
        return false;
    }
    m_root = FullDirectory(directory);

    WIN32_FIND_DATAA data;
    HANDLE search = ::FindFirstFileA(pattern, &data);
    if (search == INVALID_HANDLE_VALUE) {
        plat::RecordLastError();
        return false;
    }
    // Gathered at once, so that deleting entries while walking is safe. A
    // directory link (symbolic link or junction) counts as a plain entry: a
    // tree walk removes the link, never what it points to.
    do {
        bool link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        bool directoryEntry = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        std::int64_t size = directoryEntry ? 0
                                           : static_cast<std::int64_t>(
                                                 (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                                 data.nFileSizeLow);
        m_entries.push_back(Entry{data.cFileName, directoryEntry && !link, size,
                                  plat::SecondsSince1970(data.ftLastWriteTime)});
    } while (::FindNextFileA(search, &data));
    ::FindClose(search);
    return true;
}

std::string CFileFind::GetFilePath() const
{
    const Entry* entry = Current();
    if (entry == nullptr)
        return std::string();
    return (IsSeparator(m_root.back()) ? m_root : m_root + "\\") + entry->name;
}
