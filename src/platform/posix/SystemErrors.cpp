#include "platform/SystemErrors.h"

#include <cerrno>

namespace plat {
namespace {
thread_local int t_lastSystemError = 0;
}

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
    case ENOSPC:
    case EDQUOT: return kErrorDiskFull;
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

} // namespace plat
