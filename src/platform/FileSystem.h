// File-system calls of the service side: attributes, status, deletion,
// directory creation and directory searches. Failures return false (or
// kInvalidAttributes) and leave a Windows system error number for
// plat::LastSystemError().
//
// Paths are 8-bit texts handed to the platform as they come. On POSIX the
// separator '/' plays the backslash's role and "/" is the only root; there
// are no drive names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/HostProcess.h"

namespace plat {

class BeneathDir;

// Attribute bits with their Windows values; they travel in records.
enum FileAttribute : std::uint32_t {
    FILE_ATTR_READONLY = 0x01,
    FILE_ATTR_HIDDEN = 0x02,
    FILE_ATTR_SYSTEM = 0x04,
    FILE_ATTR_DIRECTORY = 0x10,
    FILE_ATTR_ARCHIVE = 0x20,
    FILE_ATTR_NORMAL = 0x80,
};
constexpr std::uint32_t kInvalidAttributes = 0xFFFFFFFFu;

// What CFile::GetStatus reports of a path.
struct FileStatus {
    std::int64_t mtime;      // last modification, seconds since 1970
    std::int64_t size;       // 0 for a directory
    std::uint8_t attribute;  // low attribute byte without FILE_ATTR_NORMAL
};

// GetFileAttributes: the attribute value, FILE_ATTR_NORMAL alone when no
// other bit applies, kInvalidAttributes on failure.
std::uint32_t GetPathAttributes(const char* path);
// SetFileAttributes: read-only is the one bit a POSIX file system keeps.
bool SetPathAttributes(const char* path, std::uint32_t attributes);
bool GetPathStatus(const char* path, FileStatus* status);

// DeleteFile is plat::RemoveFile (platform/FileOps.h).
// RemoveDirectory: an empty directory only.
bool RemoveDirectoryPath(const char* path);
// DeleteDirectoryTree (support/FileSystemHelpers.h). Each directory is held
// open while its entries go, and every entry is examined without following
// a link: a directory swapped for a link during the walk is removed as a
// link, so the walk never leaves the tree. A link at `path` itself is an
// entry too: removed with `removeSelf`, never followed.
bool DeleteTree(const char* path, bool removeSelf);
// CreateDirectory: one level; an existing name (directory or file) fails
// with kErrorAlreadyExists.
bool CreateDirectoryLevel(const char* path);

// Whether `text` names a drive ("C:"), or is a root on its own ("C:\",
// and any three characters with a separator; on POSIX also "/");
// CreateDirectoryPath creates nothing for either.
bool IsDriveName(const std::string& text);
bool IsBareRoot(const std::string& text);

// The FileVersion text of the file's version resource (language 0x0804,
// code page 1200) as stored; empty when there is none. POSIX files carry no
// version resource.
std::string FileVersionText(const char* path);

// Windows wildcard match of one file name: '*' and '?' only, every other
// character literal; a pattern ending in ".*" also matches names without
// a dot ("*.*" matches everything, as on Windows).
bool MatchesWildcard(const char* pattern, const char* name);

// A directory search over "directory/pattern". The entries are gathered
// when the search begins, so deleting them while walking is safe. Symbolic
// links are never reported as directories: a tree walk removes the link,
// never what it points to.
class FileFind {
public:
    FileFind() = default;
    ~FileFind() = default;
    FileFind(const FileFind&) = delete;
    FileFind& operator=(const FileFind&) = delete;

    // Begins a search; true when anything matches. No entry is current yet.
    bool FindFile(const char* pattern);
    // The same in the held directory `dir`, never following a link there
    // (a link is an entry of its own); paths are `shown`, a separator and
    // the name.
    bool FindIn(const BeneathDir& dir, const char* wildcard, const std::string& shown);
    // Makes the next entry current; true when more entries follow it.
    bool FindNextFile();
    void Close();

    bool IsDots() const;
    bool IsDirectory() const;
    // The search's full directory, a separator and the entry's name.
    std::string GetFilePath() const;
    std::string GetFileName() const;
    // Low 32 bits of the size; 0 for a directory.
    std::uint32_t GetLength() const;
    std::int64_t GetLastWriteTime() const;
    // The entry's attribute value, for a search made by FindIn.
    std::uint32_t GetAttributes() const;

private:
    struct Entry {
        std::string name;
        bool directory;
        std::int64_t size;
        std::int64_t mtime;
        std::uint32_t attributes = kInvalidAttributes;
    };
    const Entry* Current() const;
    // Defined by each backend for FindFile: gathers the entries of m_root
    // that match, or records the system's error and returns false.
    bool Collect(const char* pattern, const std::string& wildcard);
    bool CollectIn(const BeneathDir& dir, const std::string& wildcard);

    std::string m_root;
    std::vector<Entry> m_entries;
    std::size_t m_next = 0;
};

} // namespace plat
