// Directories opened beneath a root, and the file-system calls made
// relative to them: how a peer's paths are kept inside a tree. Confinement
// is the system's own doing here, not a check of texts: every level is
// opened from the one above it without following a link, and is held open,
// so a link planted or swapped in on the way meets a refusal at use
// (kErrorAccessDenied), not at some earlier check.
//
// POSIX: openat2 with RESOLVE_BENEATH where the kernel has it, otherwise a
// walk of openat calls with O_NOFOLLOW; the calls below are fstatat,
// unlinkat, renameat, fdopendir... on the held descriptor. Windows: each
// level is opened without following a reparse point and held without
// delete sharing, so no level can be renamed or replaced while it is held;
// the last one's final path must still lie below the root's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

namespace plat {

class BeneathDir {
public:
    BeneathDir() = default;
    ~BeneathDir() { Reset(); }
    BeneathDir(const BeneathDir&) = delete;
    BeneathDir& operator=(const BeneathDir&) = delete;

    bool IsOpen() const { return m_handle != -1; }
    // The descriptor (POSIX) or HANDLE (Windows) of the directory.
    std::intptr_t Handle() const { return m_handle; }
    // The directory as a host path: the root's and the levels below it.
    const std::string& Path() const { return m_path; }
    // Path() and `name` joined.
    std::string PathOf(const std::string& name) const;
    void Reset();

private:
    friend bool OpenRootDir(const char* root, BeneathDir* dir);
    friend bool OpenDirBeneath(const BeneathDir& root, const std::vector<std::string>& levels, bool create,
                               BeneathDir* dir);
    std::intptr_t m_handle = -1;
    // Windows: every level above, held so that none is renamed meanwhile.
    std::vector<std::intptr_t> m_held;
    std::string m_path;
    // Windows: the root's final path, which every level must stay below.
    std::string m_rootFinal;
};

// Whether the system takes `name` for one plain entry of a directory: not
// empty, "." or "..", no separator; on Windows also no colon (drives,
// streams), no device name (NUL, COM1, CON.txt...), no trailing dot or
// blank, none of the characters the system reserves.
bool IsPlainName(const std::string& name);

// Whether `text` starts with a root of the system's own that no root of
// ours can stand for: on Windows two separators (a UNC or device path,
// "\\server\share", "\\?\"); nothing on POSIX.
bool IsOtherRoot(const std::string& text);

// Opens the directory `root` itself (a link naming the root is the host's
// choice and is followed).
bool OpenRootDir(const char* root, BeneathDir* dir);
// Opens the directory `levels` (plain names) below `root`, never following
// a link or reparse point; with `create`, missing levels are made. A level
// that is a link or no directory: kErrorAccessDenied or kErrorPathNotFound.
bool OpenDirBeneath(const BeneathDir& root, const std::vector<std::string>& levels, bool create,
                    BeneathDir* dir);
// Tests: the openat walk even where openat2 exists.
void UseBeneathWalk(bool walk);

// The status and attributes of the entry `name` of `dir` ("" for `dir`
// itself). A link is refused (kErrorAccessDenied), and so is a FIFO or a
// device, as by GetPathStatus, and (POSIX) a file with a second hard link.
bool StatAt(const BeneathDir& dir, const std::string& name, FileStatus* status, std::uint32_t* attributes);
// ForceDeleteFile of an entry: a link goes as a link; a directory is refused.
bool RemoveFileAt(const BeneathDir& dir, const std::string& name);
// DeleteDirectoryTree of an entry, with the entry itself.
bool DeleteTreeAt(const BeneathDir& dir, const std::string& name);
// MoveFile between two entries of `dir`: fails when `to` exists.
bool RenameAt(const BeneathDir& dir, const std::string& from, const std::string& to);

// `path` with every link resolved, as an absolute path; "" with the
// system's error when it names nothing.
std::string ResolvedPath(const char* path);

} // namespace plat
