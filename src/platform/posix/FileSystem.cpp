#include "platform/FileSystem.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/SystemErrors.h"

namespace plat {
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

} // namespace

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
    if (wanted != mode && ::chmod(path, wanted) != 0) {
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
    status->mtime = static_cast<std::int64_t>(st.st_mtime);
    status->size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::int64_t>(st.st_size);
    status->attribute = static_cast<std::uint8_t>(AttributesOf(path, st) & 0xFFu & ~FILE_ATTR_NORMAL);
    return true;
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

bool IsBareRoot(const std::string& text) { return text == "/"; }

} // namespace plat
