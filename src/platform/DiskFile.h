// The library's own disk file behind the public CFile interface.
#pragma once

#include <cstdint>
#include <string>

#include "VexaCommFile.h"

namespace plat {
class BeneathDir;

// Which file a name reaches and the state of its content: the file's
// identity (device and inode; volume serial and file ID), its size, and its
// last modification and last change of status (which no copier can set
// back) at the system's full resolution: nanoseconds since 1970, FILETIME.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    std::int64_t changed = 0;

    bool SameFile(const FileStamp& o) const { return device == o.device && file == o.file; }
    bool operator==(const FileStamp& o) const
    {
        return SameFile(o) && size == o.size && modified == o.modified && changed == o.changed;
    }
    bool operator!=(const FileStamp& o) const { return !(*this == o); }
};

// The stamp of the regular file `path` names, a link followed.
bool StampPath(const char* path, FileStamp* stamp);
// The stamp of the entry `name` of a held directory, refused as StatAt
// refuses (a link, a file with a second hard link: kErrorAccessDenied).
bool StampAt(const BeneathDir& dir, const std::string& name, FileStamp* stamp);
} // namespace plat

// A file on disk. Open() throws nothing: on failure it returns false and
// plat::LastSystemError() holds the reason. Read/Write/Seek failures throw
// CFileException by pointer; the catcher calls Delete().
class CDiskFile : public CFile {
public:
    // What Open takes. A FIFO or a device may block its opener forever and
    // is never what a peer's path should reach; a link or a second name at
    // one of the library's own temporary names would send its writes
    // elsewhere. Refusals give plat::kErrorAccessDenied, as a directory does.
    enum class Accept {
        kAnyFile,           // what the system opens; a directory is refused
        kRegularFile,       // opened without blocking; anything else refused
        kRegularFileNoLink, // as kRegularFile, and no symbolic or second hard link at the name
        // As kRegularFileNoLink, and held by this opener until Release(),
        // RemoveHeld() or destruction, past Close(): while it is held,
        // another kHeldFile opener, even one of this process, is refused
        // with plat::kErrorSharingViolation. A file nobody holds (one left
        // by a dead process) is reused, and emptied (modeCreate) only once
        // held. The hold is no sharing: other openers are not affected.
        kHeldFile,
        // As kHeldFile for a file the host names (a capture file): a link
        // at the name is followed and a file with other names is taken, so
        // every name of one file meets the one hold.
        kHeldNamedFile,
    };

    explicit CDiskFile(Accept accept = Accept::kAnyFile) : m_accept(accept) {}
    ~CDiskFile() override;

    bool Open(const char* path, unsigned flags) override;
    // Opens the entry `name` of a directory held beneath a root. Whatever
    // the accepted kind, a link at the name, or a file with a second hard
    // link (another name, perhaps outside the root), is refused
    // (plat::kErrorAccessDenied); the path kept is dir.PathOf(name).
    bool OpenAt(const plat::BeneathDir& dir, const char* name, unsigned flags);
    void Close() override;
    // Close for a file that was written: a write the system deferred (a
    // network file system's, or a full disk's) can fail only here, and the
    // data is then not whole. Throws CFileException as a failed Write does;
    // the file is closed either way.
    void CloseWritten();
    uint32_t Read(void* buffer, uint32_t count) override;
    void Write(const void* buffer, uint32_t count) override;
    uint64_t Seek(int64_t offset, unsigned from) override;
    uint32_t GetLength() const override;
    uint32_t GetPosition() const override;

    const std::string& GetFilePath() const { return m_path; }
    // plat::FileStamp of the open file; false when closed or on failure.
    bool Stamp(plat::FileStamp* stamp) const;

    // kHeldFile: deletes the entry `name` of `dir` (null: the path `name`)
    // if it is still this file, then gives up the hold. The name goes
    // first, so no other opener takes it over meanwhile. An open file
    // stays open: another thread may still be writing it.
    bool RemoveHeld(const plat::BeneathDir* dir, const char* name);
    // kHeldFile: gives up the hold (POSIX: while the file is open, once it
    // is closed).
    void Release();

private:
    // Throws the cause of the last failed system call, or fallbackCause
    // when the system reported none.
    [[noreturn]] void ThrowLastError(int fallbackCause) const;
    // Open relative to the directory `dir` (POSIX: a descriptor or AT_FDCWD).
    bool OpenIn(std::intptr_t dir, const char* path, const std::string& shown, unsigned flags);

    // The descriptor, or on Windows the HANDLE; -1 (INVALID_HANDLE_VALUE)
    // while closed.
    intptr_t m_fd = -1;
    // kHeldFile: what keeps the hold, -1 (INVALID_HANDLE_VALUE) without
    // one; POSIX: a second descriptor of the open file, Windows: a
    // read-only handle of its own, so that a reader that denies writing
    // may open the file once the writing handle is closed.
    intptr_t m_hold = -1;
    std::string m_path;
    Accept m_accept;
};

namespace plat {

// File exception cause for a failed read, write or seek, from the system's
// number as CFileException::m_lOsError carries it: errno on POSIX,
// GetLastError() on Windows.
int FileExceptionCause(long osError);

} // namespace plat
