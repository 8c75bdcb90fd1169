// Windows system error numbers for file-system failures. The service side
// records them as error codes, so errno values are translated here.
#pragma once

namespace plat {

enum SystemError : int {
    kErrorSuccess = 0,
    kErrorFileNotFound = 2,
    kErrorPathNotFound = 3,
    kErrorTooManyOpenFiles = 4,
    kErrorAccessDenied = 5,
    kErrorInvalidHandle = 6,
    kErrorNotEnoughMemory = 8,
    kErrorWriteProtect = 19,
    kErrorSharingViolation = 32,
    kErrorLockViolation = 33,
    kErrorHandleDiskFull = 39,
    kErrorFileExists = 80,
    kErrorInvalidParameter = 87,
    kErrorDiskFull = 112,
    kErrorDirNotEmpty = 145,
    kErrorAlreadyExists = 183,
    kErrorFilenameTooLong = 206,
    kErrorFileTooLarge = 223,
    kErrorDirectory = 267,
};

// What the POSIX calls and the C run-time report (errno) -> Windows number.
int SystemErrorFromErrno(int err);

// The calling thread's last file-system error (GetLastError).
int LastSystemError();
void SetLastSystemError(int code);

// Records the Windows number for the current errno and returns it.
int RecordErrno();
// As RecordErrno for a failed call on `path`: a missing file whose
// directory is missing too gives kErrorPathNotFound, as on Windows.
int RecordPathErrno(const char* path);

} // namespace plat
