#include "platform/FileSystem.h"

#include <vector>

#include "platform/win32/LastError.h"

namespace plat {

std::uint32_t GetPathAttributes(const char* path)
{
    DWORD attributes = ::GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        RecordLastError();
        return kInvalidAttributes;
    }
    return attributes;
}

bool SetPathAttributes(const char* path, std::uint32_t attributes)
{
    if (!::SetFileAttributesA(path, attributes)) {
        RecordLastError();
        return false;
    }
    return true;
}

// What CFile::GetStatus reports, taken without a directory search: a path
// with wildcards names no file here instead of the first match.
bool GetPathStatus(const char* path, FileStatus* status)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
        RecordLastError();
        return false;
    }
    bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    status->mtime = SecondsSince1970(data.ftLastWriteTime);
    status->size = directory ? 0
                             : static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                                         data.nFileSizeLow);
    status->attribute = static_cast<std::uint8_t>(data.dwFileAttributes & 0xFFu & ~FILE_ATTR_NORMAL);
    return true;
}

bool RemoveDirectoryPath(const char* path)
{
    if (!::RemoveDirectoryA(path)) {
        RecordLastError();
        return false;
    }
    return true;
}

bool CreateDirectoryLevel(const char* path)
{
    if (!::CreateDirectoryA(path, nullptr)) {
        RecordLastError();
        return false;
    }
    return true;
}

// The directory walk takes any two characters without a separator for a
// drive and any three with one for a root, and creates nothing for them.
bool IsDriveName(const std::string& text) { return text.size() == 2; }

bool IsBareRoot(const std::string& text) { return text.size() == 3; }

// Only the Chinese (PRC) string table in Unicode code page is read; a file
// whose strings stand under another language has no version text here.
std::string FileVersionText(const char* path)
{
    DWORD handle = 0;
    DWORD size = ::GetFileVersionInfoSizeA(path, &handle);
    if (size == 0)
        return std::string();
    std::vector<char> block(size);
    if (!::GetFileVersionInfoA(path, handle, size, block.data()))
        return std::string();
    void* value = nullptr;
    UINT length = 0;
    char query[] = "\\StringFileInfo\\080404b0\\FileVersion";
    if (!::VerQueryValueA(block.data(), query, &value, &length) || value == nullptr)
        return std::string();
    // The length counts characters and may include the terminating zero.
    const char* text = static_cast<const char*>(value);
    std::size_t n = 0;
    while (n < length && text[n] != '\0')
        ++n;
    return std::string(text, n);
}

} // namespace plat
