#include "platform/SystemErrors.h"

#include <cerrno>
#include <string>

#include "platform/win32/WinApi.h"

namespace plat {
namespace {
thread_local int t_lastSystemError = 0;
}

// Only failures of the C run-time need this here; the backend's own calls
// report GetLastError() numbers directly.
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
    case EBUSY: return kErrorSharingViolation;
    case EEXIST: return kErrorAlreadyExists;
    case EINVAL: return kErrorInvalidParameter;
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
        while (parent.size() > 1 && (parent.back() == '\\' || parent.back() == '/'))
            parent.pop_back();
        std::string::size_type cut = parent.find_last_of("\\/");
        if (cut != std::string::npos) {
            parent.resize(cut == 0 ? 1 : cut);
            DWORD attributes = ::GetFileAttributesA(parent.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                t_lastSystemError = kErrorPathNotFound;
                return t_lastSystemError;
            }
        }
    }
    t_lastSystemError = SystemErrorFromErrno(err);
    return t_lastSystemError;
}

} // namespace plat
