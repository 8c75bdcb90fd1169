// File-system helpers of the service side over the platform layer.
#include "support/FileSystemHelpers.h"

#include "platform/DiskFile.h"
#include "platform/FileOps.h"
#include "platform/FileSystem.h"
#include "platform/SystemErrors.h"

using plat::kPathSeparator;

BOOL ForceDeleteFile(const char* path)
{
    if (!plat::SetPathAttributes(path, plat::FILE_ATTR_NORMAL))
        return FALSE;
    return plat::RemoveFile(path) ? TRUE : FALSE;
}

BOOL DeleteDirectoryTree(const char* path, BOOL removeSelf)
{
    return plat::DeleteTree(path, removeSelf != FALSE) ? TRUE : FALSE;
}

BOOL FileExists(const char* path)
{
    CDiskFile file(CDiskFile::Accept::kRegularFile);
    return file.Open(path, CFile::modeRead | CFile::shareDenyNone) ? TRUE : FALSE;
}

BOOL CreateDirectoryPath(const char* path)
{
    std::string text(path != nullptr ? path : "");
    if (text.find(kPathSeparator) == std::string::npos)
        return plat::IsDriveName(text) ? TRUE : FALSE;
    if (plat::IsBareRoot(text))
        return TRUE;
    if (text.back() != kPathSeparator)
        text += kPathSeparator;

    std::string::size_type first = text.find(kPathSeparator);
    std::string head = text.substr(0, first + 1);
    std::string rest = text.substr(first + 1);
    for (;;) {
        std::string::size_type cut = rest.find(kPathSeparator);
        // A doubled separator ends the walk as well.
        if (cut == std::string::npos || cut == 0)
            return TRUE;
        head += rest.substr(0, cut + 1);
        rest.erase(0, cut + 1);
        if (!plat::CreateDirectoryLevel(head.c_str()) && plat::LastSystemError() != plat::kErrorAlreadyExists)
            return FALSE;
    }
}

std::string GetFileVersionString(const char* path)
{
    std::string text = plat::FileVersionText(path);
    std::string::size_type at = 0;
    while ((at = text.find(", ", at)) != std::string::npos) {
        text.replace(at, 2, ".");
        ++at;
    }
    return text;
}
