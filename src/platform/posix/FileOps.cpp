// POSIX single-file operations: unlink, rename without replacing, sizes.
#include "platform/FileOps.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/SystemErrors.h"

namespace plat {

namespace {
// Unlinks `path` unless `refuse` says no to what stands there.
template <class Refuse>
bool UnlinkUnless(const char* path, Refuse refuse)
{
    struct stat st;
    const bool found = ::lstat(path, &st) == 0;
    if (refuse(found, st)) {
        if (found)
            SetLastSystemError(kErrorAccessDenied);
        else
            RecordPathErrno(path);
        return false;
    }
    if (::unlink(path) != 0) {
        RecordPathErrno(path);
        return false;
    }
    return true;
}
} // namespace

bool RemoveFile(const char* path)
{
    return UnlinkUnless(path, [](bool found, const struct stat& st) { return found && S_ISDIR(st.st_mode); });
}

bool RemoveRegularFile(const char* path)
{
    return UnlinkUnless(path, [](bool found, const struct stat& st) { return !found || !S_ISREG(st.st_mode); });
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
