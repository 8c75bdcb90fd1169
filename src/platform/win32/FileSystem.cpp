// Win32 file system of the service side: attributes, status, versions, tree deletion.
#include "platform/FileSystem.h"

#include <vector>

#include "platform/Backend.h"
#include "platform/win32/LastError.h"

namespace plat {

bool backend::IsDirectory(const char* path)
{
    DWORD attributes = ::GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

namespace {

// Held without delete sharing while it is examined and emptied, so that
// nobody renames or removes it meanwhile and its path keeps naming what was
// examined. Attribute access alone never keeps the walk's own searches out.
// A link (any reparse point) is opened itself, never followed.
HANDLE OpenEntry(const std::string& path, DWORD access, DWORD share)
{
    return ::CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

HANDLE Hold(const std::string& path, BY_HANDLE_FILE_INFORMATION* info)
{
    HANDLE h = OpenEntry(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (h != INVALID_HANDLE_VALUE && !::GetFileInformationByHandle(h, info)) {
        ::CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
    }
    if (h == INVALID_HANDLE_VALUE)
        RecordLastError();
    return h;
}

// A read-only entry cannot be deleted.
bool ClearReadOnly(HANDLE h, DWORD attributes)
{
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0)
        return true;
    FILE_BASIC_INFO basic;
    if (!::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof(basic))) {
        RecordLastError();
        return false;
    }
    basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (basic.FileAttributes == 0)
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof(basic))) {
        RecordLastError();
        return false;
    }
    return true;
}

// Once released: whatever stands at the name now goes, a link as a link.
bool DeleteNamed(const std::string& path)
{
    HANDLE h = OpenEntry(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    bool deleted = h != INVALID_HANDLE_VALUE &&
                   ::SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof(disposition));
    if (!deleted)
        RecordLastError();
    if (h != INVALID_HANDLE_VALUE)
        ::CloseHandle(h);
    return deleted;
}

bool IsWalkedDirectory(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool DeleteBelow(const std::string& directory);

bool DeleteEntry(const std::string& path)
{
    BY_HANDLE_FILE_INFORMATION info;
    HANDLE h = Hold(path, &info);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool emptied = ClearReadOnly(h, info.dwFileAttributes) &&
                   (!IsWalkedDirectory(info.dwFileAttributes) || DeleteBelow(path));
    ::CloseHandle(h);
    return emptied && DeleteNamed(path);
}

// `directory` is held by the caller.
bool DeleteBelow(const std::string& directory)
{
    FileFind finder;
    bool more = finder.FindFile((directory + "\\*").c_str());
    while (more) {
        more = finder.FindNextFile();
        if (!finder.IsDots() && !DeleteEntry(finder.GetFilePath()))
            return false;
    }
    return true;
}

} // namespace

// Without a directory at `path` (missing, unreadable, a file) nothing is
// below it: that succeeds unless the directory itself was to go.
bool DeleteTree(const char* path, bool removeSelf)
{
    std::string text(path);
    auto separator = [](char c) { return c == '\\' || c == '/'; };
    while (text.size() > 1 && separator(text.back()) && !(text.size() == 3 && text[1] == ':'))
        text.pop_back();
    BY_HANDLE_FILE_INFORMATION info;
    HANDLE h = Hold(text, &info);
    if (h == INVALID_HANDLE_VALUE)
        return !removeSelf;
    bool emptied = true;
    if (IsWalkedDirectory(info.dwFileAttributes)) {
        emptied = ClearReadOnly(h, info.dwFileAttributes) && DeleteBelow(text);
    } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        SetLastSystemError(kErrorDirectory);
        emptied = !removeSelf;
        removeSelf = false;
    }
    ::CloseHandle(h);
    return emptied && (!removeSelf || DeleteNamed(text));
}

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
