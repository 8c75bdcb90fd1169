// POSIX directory search: readdir filtered by the Windows wildcard.
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Backend.h"
#include "platform/Beneath.h"
#include "platform/FileSystem.h"
#include "platform/SystemErrors.h"
#include "platform/posix/EntryOps.h"

namespace plat {
namespace {

std::string CurrentDirectory()
{
    std::string buffer(256, '\0');
    for (;;) {
        if (::getcwd(&buffer[0], buffer.size()) != nullptr)
            return std::string(buffer.c_str());
        if (errno != ERANGE)
            return std::string();
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace

// By the text alone: a link on the way is never resolved.
std::string backend::FullDirectory(const std::string& directory)
{
    std::string text = directory;
    if (text.empty() || text[0] != '/')
        text = CurrentDirectory() + "/" + text;
    std::vector<std::string> parts;
    std::string::size_type begin = 0;
    while (begin <= text.size()) {
        std::string::size_type end = text.find('/', begin);
        if (end == std::string::npos)
            end = text.size();
        std::string part = text.substr(begin, end - begin);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        begin = end + 1;
    }
    std::string full;
    for (const std::string& part : parts)
        full += "/" + part;
    return full.empty() ? std::string("/") : full;
}

bool FileFind::Collect(const char*, const std::string& wildcard)
{
    DIR* dir = ::opendir(m_root.c_str());
    if (dir == nullptr) {
        RecordPathErrno(m_root.c_str());
        return false;
    }
    std::string prefix = m_root == "/" ? m_root : m_root + "/";
    while (dirent* entry = ::readdir(dir)) {
        if (!MatchesWildcard(wildcard.c_str(), entry->d_name))
            continue;
        std::string path = prefix + entry->d_name;
        struct stat own;
        if (::lstat(path.c_str(), &own) != 0)
            continue; // gone since readdir
        struct stat target = own;
        if (S_ISLNK(own.st_mode) && ::stat(path.c_str(), &target) != 0)
            target = own;
        bool directoryEntry = S_ISDIR(own.st_mode);
        m_entries.push_back(Entry{entry->d_name, directoryEntry,
                                  directoryEntry || S_ISDIR(target.st_mode) ? 0 : static_cast<std::int64_t>(target.st_size),
                                  static_cast<std::int64_t>(target.st_mtime)});
    }
    ::closedir(dir);
    if (m_entries.empty()) {
        SetLastSystemError(kErrorFileNotFound);
        return false;
    }
    return true;
}

// Every entry as it is: a link is described itself, never its target.
bool FileFind::CollectIn(const BeneathDir& held, const std::string& wildcard)
{
    int copy = ::fcntl(static_cast<int>(held.Handle()), F_DUPFD_CLOEXEC, 0);
    DIR* dir = copy < 0 ? nullptr : ::fdopendir(copy);
    if (dir == nullptr) {
        RecordErrno();
        if (copy >= 0)
            ::close(copy);
        return false;
    }
    while (dirent* entry = ::readdir(dir)) {
        struct stat st;
        if (!MatchesWildcard(wildcard.c_str(), entry->d_name) ||
            ::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        bool directoryEntry = S_ISDIR(st.st_mode);
        m_entries.push_back(Entry{entry->d_name, directoryEntry,
                                  S_ISREG(st.st_mode) ? static_cast<std::int64_t>(st.st_size) : 0,
                                  static_cast<std::int64_t>(st.st_mtime), AttributesOf(entry->d_name, st)});
    }
    ::closedir(dir);
    if (m_entries.empty()) {
        SetLastSystemError(kErrorFileNotFound);
        return false;
    }
    return true;
}

} // namespace plat
