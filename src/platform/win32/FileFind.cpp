// Win32 directory search: FindFirstFileA and FindNextFileA.
#include "platform/Backend.h"
#include "platform/Beneath.h"
#include "platform/FileSystem.h"
#include "platform/win32/LastError.h"

namespace plat {

// GetFullPathName resolves "." and "..", makes the path absolute and folds
// doubled separators; the trailing one goes unless it is the root's.
std::string backend::FullDirectory(const std::string& directory)
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
    while (full.size() > 3 && IsPathSeparator(full.back()))
        full.pop_back();
    return full;
}

bool FileFind::Collect(const char* pattern, const std::string&)
{
    WIN32_FIND_DATAA data;
    HANDLE search = ::FindFirstFileA(pattern, &data);
    if (search == INVALID_HANDLE_VALUE) {
        RecordLastError();
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
                                  SecondsSince1970(data.ftLastWriteTime)});
    } while (::FindNextFileA(search, &data));
    ::FindClose(search);
    return true;
}

bool FileFind::CollectIn(const BeneathDir& dir, const std::string& wildcard)
{
    if (!Collect(dir.PathOf(wildcard).c_str(), wildcard))
        return false;
    for (Entry& entry : m_entries)
        entry.attributes = ::GetFileAttributesA(dir.PathOf(entry.name).c_str());
    return true;
}

} // namespace plat
