// POSIX file system of the service side: attributes, status, tree deletion.
#include "platform/FileSystem.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/Backend.h"
#include "platform/SystemErrors.h"
#include "platform/posix/EntryOps.h"

namespace plat {

bool backend::IsDirectory(const char* path)
{
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// A leading dot hides a name the way the hidden attribute does on Windows;
// "." and ".." themselves are not hidden.
bool IsHiddenName(const char* path)
{
    std::string text(path);
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    std::string::size_type cut = text.rfind('/');
    std::string name = cut == std::string::npos ? text : text.substr(cut + 1);
    return name.size() > 1 && name[0] == '.' && name != "..";
}

// Stat that still describes a dangling symbolic link (as the link itself).
bool StatPath(const char* path, struct stat* st)
{
    if (::stat(path, st) == 0)
        return true;
    int err = errno;
    if (err == ENOENT && ::lstat(path, st) == 0)
        return true;
    errno = err;
    RecordPathErrno(path);
    return false;
}

} // namespace

// Archive and system have no POSIX counterpart and are never reported.
std::uint32_t AttributesOf(const char* path, const struct stat& st)
{
    std::uint32_t attributes = 0;
    if (S_ISDIR(st.st_mode))
        attributes |= FILE_ATTR_DIRECTORY;
    if ((st.st_mode & S_IWUSR) == 0)
        attributes |= FILE_ATTR_READONLY;
    if (IsHiddenName(path))
        attributes |= FILE_ATTR_HIDDEN;
    return attributes == 0 ? FILE_ATTR_NORMAL : attributes;
}

namespace {

// Clearing read-only, as SetPathAttributes does, on an open directory.
void GrantOwnerWrite(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) == 0 && (st.st_mode & S_IWUSR) == 0)
        ::fchmod(fd, (st.st_mode & 07777) | S_IWUSR);
}

// The names in the open directory `fd`, gathered before any goes.
bool EntryNames(int fd, std::vector<std::string>* names)
{
    int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    DIR* dir = copy < 0 ? nullptr : ::fdopendir(copy);
    if (dir == nullptr) {
        RecordErrno();
        if (copy >= 0)
            ::close(copy);
        return false;
    }
    while (dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names->push_back(entry->d_name);
    }
    ::closedir(dir);
    return true;
}

} // namespace

bool DeleteBelow(int fd);

// A file, a link or anything else that is no directory: read-only is
// cleared first, as ForceDeleteFile does, without following a link.
bool DeleteNonDirectory(int parent, const char* name)
{
    struct stat st;
    if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        RecordErrno();
        return false;
    }
    if (S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0 &&
        ::fchmodat(parent, name, (st.st_mode & 07777) | S_IWUSR, AT_SYMLINK_NOFOLLOW) != 0 && errno != EOPNOTSUPP) {
        RecordErrno();
        return false;
    }
    if (::unlinkat(parent, name, 0) != 0) {
        RecordErrno();
        return false;
    }
    return true;
}

// An entry of the open directory `parent`: a directory is opened without
// following a link, emptied through its descriptor and removed.
bool DeleteEntry(int parent, const char* name)
{
    int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOTDIR || errno == ELOOP)
            return DeleteNonDirectory(parent, name);
        RecordErrno();
        return false;
    }
    GrantOwnerWrite(fd);
    bool deleted = DeleteBelow(fd);
    ::close(fd);
    if (deleted && ::unlinkat(parent, name, AT_REMOVEDIR) != 0) {
        RecordErrno();
        return false;
    }
    return deleted;
}

bool DeleteBelow(int fd)
{
    std::vector<std::string> names;
    if (!EntryNames(fd, &names))
        return false;
    for (const std::string& name : names) {
        if (!DeleteEntry(fd, name.c_str()))
            return false;
    }
    return true;
}

std::uint32_t GetPathAttributes(const char* path)
{
    struct stat st;
    if (!StatPath(path, &st))
        return kInvalidAttributes;
    return AttributesOf(path, st);
}

// Read-only maps to the write permissions: setting it removes all three,
// clearing it grants the owner's (for a directory too, so that its entries
// can be deleted). A symbolic link has no permissions of its own; changing
// them would change its target, so a link is left alone.
bool SetPathAttributes(const char* path, std::uint32_t attributes)
{
    struct stat st;
    if (::lstat(path, &st) != 0) {
        RecordPathErrno(path);
        return false;
    }
    if (S_ISLNK(st.st_mode))
        return true;
    mode_t mode = st.st_mode & 07777;
    mode_t wanted = (attributes & FILE_ATTR_READONLY) ? (mode & ~(S_IWUSR | S_IWGRP | S_IWOTH))
                                                      : (mode | S_IWUSR);
    if (wanted == mode)
        return true;
    // A link swapped in since lstat is refused (EOPNOTSUPP), never followed;
    // without /proc the C library refuses every file so.
    if (::fchmodat(AT_FDCWD, path, wanted, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == EOPNOTSUPP && ::lstat(path, &st) == 0 && S_ISLNK(st.st_mode))
            return true;
        if (errno == EOPNOTSUPP)
            errno = EPERM;
        RecordPathErrno(path);
        return false;
    }
    return true;
}

bool GetPathStatus(const char* path, FileStatus* status)
{
    struct stat st;
    if (!StatPath(path, &st))
        return false;
    // No file to send or receive, whatever its size says.
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISSOCK(st.st_mode)) {
        SetLastSystemError(kErrorAccessDenied);
        return false;
    }
    status->mtime = static_cast<std::int64_t>(st.st_mtime);
    status->size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::int64_t>(st.st_size);
    status->attribute = static_cast<std::uint8_t>(AttributesOf(path, st) & 0xFFu & ~FILE_ATTR_NORMAL);
    return true;
}

// Without a directory at `path` (missing, unreadable, a file) nothing is
// below it: that succeeds unless the directory itself was to go.
bool DeleteTree(const char* path, bool removeSelf)
{
    std::string text(path);
    // A trailing separator would make the system follow a link at the name.
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    int fd = ::open(text.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int err = errno;
        struct stat st;
        if ((err == ENOTDIR || err == ELOOP) && ::lstat(text.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            if (!removeSelf)
                return true;
            if (::unlink(text.c_str()) == 0)
                return true;
            RecordErrno();
            return false;
        }
        errno = err;
        RecordPathErrno(text.c_str());
        return !removeSelf;
    }
    GrantOwnerWrite(fd);
    bool deleted = DeleteBelow(fd);
    ::close(fd);
    if (deleted && removeSelf && ::rmdir(text.c_str()) != 0) {
        RecordPathErrno(text.c_str());
        return false;
    }
    return deleted;
}

bool RemoveDirectoryPath(const char* path)
{
    if (::rmdir(path) != 0) {
        RecordPathErrno(path);
        return false;
    }
    return true;
}

bool CreateDirectoryLevel(const char* path)
{
    if (::mkdir(path, 0777) != 0) {
        RecordPathErrno(path);
        return false;
    }
    return true;
}

std::string FileVersionText(const char*) { return std::string(); }

bool IsDriveName(const std::string&) { return false; }

// Any three characters with a separator count as a root, as on Windows
// ("a/b" creates nothing): peers send the same texts to both.
bool IsBareRoot(const std::string& text) { return text == "/" || text.size() == 3; }

} // namespace plat
