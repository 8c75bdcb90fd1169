// File-system helpers for tests that run on POSIX and on Windows: paths
// are written with '/' in the tests and turned into the platform's form.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "platform/HostProcess.h"

// The platform's separator as a text, for joining.
const std::string kSep(1, plat::kPathSeparator);

// "a/b/c" with the platform's separator.
std::string NativePath(std::string path);

void MakeDir(const std::string& path);
bool IsDirectory(const std::string& path);
// Read-only: the write permissions go on POSIX, the attribute is set on
// Windows (for a directory too).
void SetReadOnly(const std::string& path);
// Hidden: on POSIX a name beginning with a dot is hidden already, and this
// does nothing; on Windows the attribute is set.
void SetHidden(const std::string& path);
// A file of `size` bytes that takes no room where the file system allows
// (a hole); false when it cannot be made.
bool MakeSparseFile(const std::string& path, std::uint64_t size);
// Last write time, seconds since 1970; 0 when the path cannot be read.
// Set as 64 bits: the 32-bit Windows run-time's time_t ends in 2038.
bool SetMtime(const std::string& path, std::int64_t when);
std::time_t Mtime(const std::string& path);
std::string CurrentDirectory();
// The directory of the running test program, with a trailing separator.
// Files built beside it are found there on Windows, whose paths are not
// those of the build host.
std::string ProgramDirectory();

// A file whose full path is 258 characters long, in a directory of its own
// below `dir`: longer than a record's path field (255), short enough for
// the Windows path limit of 260.
std::string MakeLongPath(const std::string& dir);

#ifndef _WIN32
// Writes beyond `bytes` fail with EFBIG (RLIMIT_FSIZE binds root too) while
// the object lives, instead of raising SIGXFSZ.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(unsigned long bytes);
    ~ScopedFileSizeLimit();
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

private:
    unsigned long long m_old;
    void (*m_handler)(int);
};
#endif

// Restores the working directory at the end of a test that changes it.
class ScopedChdir {
public:
    explicit ScopedChdir(const std::string& dir);
    ~ScopedChdir();
    ScopedChdir(const ScopedChdir&) = delete;
    ScopedChdir& operator=(const ScopedChdir&) = delete;

private:
    std::string m_old;
    bool m_ok;
};

// Sets TZ (a POSIX zone text such as "CST-8", which the Windows C run-time
// reads as well) for the lifetime of the object.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone);
    ~ScopedTimeZone();
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    bool m_had;
    std::string m_old;
};

// Whether the Windows program runs under wine, which differs from Windows
// in a few places the tests see.
bool UnderWine();

// Whether a read-only file refuses to be written. Root on POSIX passes
// every permission check unless an EnforcedPermissions lives on the thread;
// under wine run by root it never does: wine keeps the read-only attribute
// as Unix permissions, which root ignores.
bool ReadOnlyEnforced();

// While it lives, root's capabilities that override file permissions are
// off on this thread (Linux), so that permission bits bind root as the
// owner of the test's files. Nothing for other users and on Windows.
class EnforcedPermissions {
public:
    EnforcedPermissions();
    ~EnforcedPermissions();
    EnforcedPermissions(const EnforcedPermissions&) = delete;
    EnforcedPermissions& operator=(const EnforcedPermissions&) = delete;

private:
    bool m_lowered = false;
};

#define SKIP_IF_PERMISSIONS_IGNORED()                                                                     \
    EnforcedPermissions enforcedPermissions;                                                               \
    if (!ReadOnlyEnforced())                                                                               \
    GTEST_SKIP() << "permissions are not enforced for this user (root, or wine run by root); "            \
                    "run the suite as another user"
