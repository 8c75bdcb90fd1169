// POSIX single-file operations: unlink, rename without replacing, sizes.
#include "platform/FileOps.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/SystemErrors.h"

namespace plat {

bool RemoveFile(const char* path)
{
    struct stat st;
    if (::lstat(path, &st) == 0 && S_ISDIR(st.st_mode)) {
        SetLastSystemError(kErrorAccessDenied);
        return false;
    }
    if (::unlink(path) != 0) {
        RecordPathErrno(path);
        return false;
    }
    return true;
}

bool RemoveRegularFile(const char* path)
{
    struct stat st;
    if (::lstat(path, &st) != 0) {
        RecordPathErrno(path);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        SetLastSystemError(kErrorAccessDenied);
        return false;
    }
    if (::unlink(path) != 0) {
        RecordPathErrno(path);
        return false;
    }
    return true;
}

// rename() would replace an existing target; the check leaves a short race
// that Windows does not have, acceptable for the library's own files.
bool MoveFile(const char* from, const char* to)
{
    struct stat st;
    if (::lstat(to, &st) == 0) {
        SetLastSystemError(kErrorAlreadyExists);
        return false;
    }
    if (::rename(from, to) != 0) {
        RecordErrno();
        return false;
    }
    return true;
}

std::FILE* OpenUninheritedStream(const char* path, const char* mode)
{
    return std::fopen(path, (std::string(mode) + "e").c_str());
}

bool QueryFileSize64(const char* path, std::uint64_t* size)
{
    struct stat st;
    if (::stat(path, &st) != 0) {
        RecordErrno();
        return false;
    }
    *size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

} // namespace plat
