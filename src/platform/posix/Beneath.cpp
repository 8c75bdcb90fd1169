// POSIX directories beneath a root: openat2 where the kernel has it, an
// O_NOFOLLOW walk elsewhere, and the calls relative to their descriptors.
#include "platform/Beneath.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif

#include "platform/SystemErrors.h"
#include "platform/posix/EntryOps.h"

namespace plat {
namespace {

std::atomic<bool> g_walkOnly{false};
constexpr int kLevelFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// A level that is a link, or a resolution that would leave the root, is
// refused; a missing level or one that is a file names no path.
void RecordLevelError(int err)
{
    if (err == ELOOP || err == EXDEV)
        SetLastSystemError(kErrorAccessDenied);
    else if (err == ENOENT || err == ENOTDIR)
        SetLastSystemError(kErrorPathNotFound);
    else {
        errno = err;
        RecordErrno();
    }
}

// Some kernels answer O_DIRECTORY on a link with ENOTDIR instead of ELOOP.
int OpenLevel(int parent, const char* name, bool create)
{
    if (create && ::mkdirat(parent, name, 0777) != 0 && errno != EEXIST)
        return -1;
    int fd = ::openat(parent, name, kLevelFlags);
    if (fd < 0 && errno == ENOTDIR) {
        struct stat st;
        if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
            errno = ELOOP;
        else
            errno = ENOTDIR;
    }
    return fd;
}

int Walk(int root, const std::vector<std::string>& levels, bool create)
{
    int current = root;
    for (const std::string& level : levels) {
        int next = OpenLevel(current, level.c_str(), create);
        int err = errno;
        if (current != root)
            ::close(current);
        if (next < 0) {
            errno = err;
            return -1;
        }
        current = next;
    }
    return current;
}

#ifdef __linux__
// -1 with ENOSYS where the kernel has no openat2; a container's filter may
// answer EPERM instead, and an older kernel EINVAL or E2BIG for the flags.
int OpenBeneath(int root, const std::vector<std::string>& levels)
{
    std::string relative;
    for (const std::string& level : levels)
        relative += (relative.empty() ? "" : "/") + level;
    struct open_how how {};
    how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    return static_cast<int>(::syscall(SYS_openat2, root, relative.c_str(), &how, sizeof(how)));
}

bool NoOpenat2(int err) { return err == ENOSYS || err == EPERM || err == EINVAL || err == E2BIG; }
#endif

} // namespace

std::string BeneathDir::PathOf(const std::string& name) const
{
    if (name.empty())
        return m_path;
    return (m_path == "/" ? m_path : m_path + "/") + name;
}

void BeneathDir::Reset()
{
    if (m_handle != -1)
        ::close(static_cast<int>(m_handle));
    m_handle = -1;
    m_path.clear();
}

bool IsPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

bool IsOtherRoot(const std::string&) { return false; }

void UseBeneathWalk(bool walk) { g_walkOnly = walk; }

bool OpenRootDir(const char* root, BeneathDir* dir)
{
    dir->Reset();
    int fd = ::open(root, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        RecordPathErrno(root);
        return false;
    }
    dir->m_handle = fd;
    dir->m_path = root;
    while (dir->m_path.size() > 1 && dir->m_path.back() == '/')
        dir->m_path.pop_back();
    return true;
}

bool OpenDirBeneath(const BeneathDir& root, const std::vector<std::string>& levels, bool create, BeneathDir* dir)
{
    dir->Reset();
    const int rootFd = static_cast<int>(root.Handle());
    int fd = -1;
    if (levels.empty()) {
        fd = ::fcntl(rootFd, F_DUPFD_CLOEXEC, 0);
    } else {
        bool walk = create || g_walkOnly;
#ifdef __linux__
        if (!walk) {
            fd = OpenBeneath(rootFd, levels);
            walk = fd < 0 && NoOpenat2(errno);
        }
#else
        walk = true;
#endif
        if (walk)
            fd = Walk(rootFd, levels, create);
    }
    if (fd < 0) {
        RecordLevelError(errno);
        return false;
    }
    dir->m_handle = fd;
    dir->m_path = root.Path();
    for (const std::string& level : levels)
        dir->m_path = dir->PathOf(level);
    return true;
}

bool StatAt(const BeneathDir& dir, const std::string& name, FileStatus* status, std::uint32_t* attributes)
{
    struct stat st;
    const int fd = static_cast<int>(dir.Handle());
    if ((name.empty() ? ::fstat(fd, &st) : ::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW)) != 0) {
        RecordErrno();
        return false;
    }
    // A second hard link may be the name of a file outside.
    if ((!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) || (S_ISREG(st.st_mode) && st.st_nlink > 1)) {
        SetLastSystemError(kErrorAccessDenied);
        return false;
    }
    const std::uint32_t bits = AttributesOf(name.empty() ? dir.Path().c_str() : name.c_str(), st);
    if (status != nullptr) {
        status->mtime = static_cast<std::int64_t>(st.st_mtime);
        status->size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::int64_t>(st.st_size);
        status->attribute = static_cast<std::uint8_t>(bits & 0xFFu & ~FILE_ATTR_NORMAL);
    }
    if (attributes != nullptr)
        *attributes = bits;
    return true;
}

bool RemoveFileAt(const BeneathDir& dir, const std::string& name)
{
    struct stat st;
    const int fd = static_cast<int>(dir.Handle());
    if (name.empty() || ::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (name.empty())
            errno = EISDIR;
        RecordErrno();
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        SetLastSystemError(kErrorAccessDenied);
        return false;
    }
    return DeleteNonDirectory(fd, name.c_str());
}

bool DeleteTreeAt(const BeneathDir& dir, const std::string& name)
{
    if (name.empty()) {
        SetLastSystemError(kErrorAccessDenied);
        return false;
    }
    return DeleteEntry(static_cast<int>(dir.Handle()), name.c_str());
}

// The check leaves the race MoveFile has; both names are the library's own.
bool RenameAt(const BeneathDir& dir, const std::string& from, const std::string& to)
{
    const int fd = static_cast<int>(dir.Handle());
    struct stat st;
    if (::fstatat(fd, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        SetLastSystemError(kErrorAlreadyExists);
        return false;
    }
    if (::renameat(fd, from.c_str(), fd, to.c_str()) != 0) {
        RecordErrno();
        return false;
    }
    return true;
}

std::string ResolvedPath(const char* path)
{
    char* resolved = ::realpath(path, nullptr);
    if (resolved == nullptr) {
        RecordPathErrno(path);
        return std::string();
    }
    std::string text(resolved);
    std::free(resolved);
    return text;
}

} // namespace plat
