// The last file-system error of each thread, and errno in Windows numbers.
#include "platform/SystemErrors.h"

#include <cerrno>
#include <string>

#include "platform/Backend.h"
#include "platform/HostProcess.h"

namespace plat {
namespace {
thread_local int t_lastSystemError = 0;
}

// The C run-time on Windows sets only a few of these; the rest come from
// POSIX calls.
int SystemErrorFromErrno(int err)
{
    switch (err) {
    case 0: return kErrorSuccess;
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EMFILE:
    case ENFILE: return kErrorTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR: return kErrorAccessDenied;
    case EBADF: return kErrorInvalidHandle;
    case ENOMEM: return kErrorNotEnoughMemory;
    case EROFS: return kErrorWriteProtect;
    case EBUSY:
    case ETXTBSY:
    case EWOULDBLOCK: return kErrorSharingViolation;
    case EEXIST: return kErrorAlreadyExists;
    case EINVAL: return kErrorInvalidParameter;
#ifdef EDQUOT
    case EDQUOT:
#endif
    case ENOSPC: return kErrorDiskFull;
    case ENOTEMPTY: return kErrorDirNotEmpty;
    case ENAMETOOLONG: return kErrorFilenameTooLong;
    default: return kErrorInvalidParameter;
    }
}

int LastSystemError() { return t_lastSystemError; }
void SetLastSystemError(int code) { t_lastSystemError = code; }

int RecordErrno()
{
    t_lastSystemError = SystemErrorFromErrno(errno);
    return t_lastSystemError;
}

int RecordPathErrno(const char* path)
{
    int err = errno;
    if (err == ENOENT && path != nullptr) {
        std::string parent(path);
        while (parent.size() > 1 && IsPathSeparator(parent.back()))
            parent.pop_back();
        std::string::size_type cut = parent.find_last_of(kPathSeparators);
        if (cut != std::string::npos) {
            parent.resize(cut == 0 ? 1 : cut);
            if (!backend::IsDirectory(parent.c_str())) {
                t_lastSystemError = kErrorPathNotFound;
                return t_lastSystemError;
            }
        }
    }
    t_lastSystemError = SystemErrorFromErrno(err);
    return t_lastSystemError;
}

} // namespace plat
