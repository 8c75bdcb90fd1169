// Win32 single-file operations: DeleteFileA, MoveFileA, sizes.
#include "platform/FileOps.h"

#include <string>

#include "platform/win32/LastError.h"

namespace plat {

// DeleteFileA refuses a directory link (access denied); the finder reports
// such a link as a plain entry, and removing it leaves its target alone.
bool RemoveFile(const char* path)
{
    if (::DeleteFileA(path))
        return true;
    int error = RecordLastError();
    DWORD attributes = ::GetFileAttributesA(path);
    const DWORD kDirectoryLink = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & kDirectoryLink) == kDirectoryLink) {
        if (::RemoveDirectoryA(path))
            return true;
        RecordLastError();
    }
    return false;
}

bool RemoveRegularFile(const char* path)
{
    DWORD attributes = ::GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        RecordLastError();
        return false;
    }
    const DWORD kNotRegular = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    if ((attributes & kNotRegular) != 0) {
        SetLastSystemError(kErrorAccessDenied);
        return false;
    }
    if (!::DeleteFileA(path)) {
        RecordLastError();
        return false;
    }
    return true;
}

bool MoveFile(const char* from, const char* to)
{
    if (!::MoveFileA(from, to)) {
        RecordLastError();
        return false;
    }
    return true;
}

std::FILE* OpenUninheritedStream(const char* path, const char* mode)
{
    return std::fopen(path, (std::string(mode) + "N").c_str());
}

bool QueryFileSize64(const char* path, std::uint64_t* size)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
        RecordLastError();
        return false;
    }
    *size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

} // namespace plat
