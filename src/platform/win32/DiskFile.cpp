// Win32 disk file: open flags and sharing on CreateFileA handles.
#include "platform/DiskFile.h"

#include "platform/Backend.h"
#include "platform/Beneath.h"
#include "platform/win32/LastError.h"

int plat::FileExceptionCause(long osError)
{
    switch (static_cast<DWORD>(osError)) {
    case ERROR_FILE_NOT_FOUND: return CFileException::fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE: return CFileException::badPath;
    case ERROR_TOO_MANY_OPEN_FILES: return CFileException::tooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_NETWORK_ACCESS_DENIED: return CFileException::accessDenied;
    case ERROR_INVALID_HANDLE: return CFileException::invalidFile;
    case ERROR_CURRENT_DIRECTORY: return CFileException::removeCurrentDir;
    case ERROR_CANNOT_MAKE: return CFileException::directoryFull;
    case ERROR_SEEK:
    case ERROR_NEGATIVE_SEEK:
    case ERROR_SEEK_ON_DEVICE: return CFileException::badSeek;
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_CRC:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE: return CFileException::hardIO;
    case ERROR_SHARING_VIOLATION: return CFileException::sharingViolation;
    case ERROR_LOCK_VIOLATION: return CFileException::lockViolation;
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL: return CFileException::diskFull;
    case ERROR_HANDLE_EOF: return CFileException::endOfFile;
    default: return CFileException::genericException;
    }
}

long plat::backend::LastFileError() { return static_cast<long>(::GetLastError()); }

namespace {
HANDLE Handle(intptr_t fd) { return reinterpret_cast<HANDLE>(fd); }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A held file's lock: on a byte far past any content, so that it keeps no
// reader out, taken on a read-only handle of the file's own.
bool TakeHold(HANDLE file, HANDLE* hold)
{
    *hold = ::ReOpenFile(file, GENERIC_READ, kShareAll, 0);
    if (*hold == INVALID_HANDLE_VALUE) {
        plat::RecordLastError();
        return false;
    }
    OVERLAPPED at;
    ZeroMemory(&at, sizeof(at));
    at.OffsetHigh = 0x40000000;
    if (!::LockFileEx(*hold, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        ::CloseHandle(*hold);
        *hold = INVALID_HANDLE_VALUE;
        plat::SetLastSystemError(plat::kErrorSharingViolation);
        return false;
    }
    return true;
}

bool SameFile(HANDLE a, HANDLE b)
{
    BY_HANDLE_FILE_INFORMATION first, second;
    return ::GetFileInformationByHandle(a, &first) && ::GetFileInformationByHandle(b, &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}
std::int64_t FileTimeValue(const LARGE_INTEGER& t) { return static_cast<std::int64_t>(t.QuadPart); }

// The change time comes from the basic information only.
bool StampOf(HANDLE h, plat::FileStamp* stamp)
{
    BY_HANDLE_FILE_INFORMATION info;
    FILE_BASIC_INFO basic;
    if (!::GetFileInformationByHandle(h, &info) ||
        !::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof(basic))) {
        plat::RecordLastError();
        return false;
    }
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        ::GetFileType(h) != FILE_TYPE_DISK) {
        plat::SetLastSystemError(plat::kErrorAccessDenied);
        return false;
    }
    stamp->device = info.dwVolumeSerialNumber;
    stamp->file = static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    stamp->size = static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    stamp->modified = FileTimeValue(basic.LastWriteTime);
    stamp->changed = FileTimeValue(basic.ChangeTime);
    return true;
}

// Opened for its attributes alone, which no sharing mode refuses.
bool StampNamed(const std::string& path, DWORD attributes, plat::FileStamp* stamp)
{
    HANDLE h = ::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | attributes, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        plat::RecordLastError();
        return false;
    }
    bool stamped = StampOf(h, stamp);
    BY_HANDLE_FILE_INFORMATION info;
    // A second hard link may be the name of a file outside.
    if (stamped && (attributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0 &&
        (!::GetFileInformationByHandle(h, &info) || info.nNumberOfLinks > 1)) {
        plat::SetLastSystemError(plat::kErrorAccessDenied);
        stamped = false;
    }
    ::CloseHandle(h);
    return stamped;
}
} // namespace

bool CDiskFile::Stamp(plat::FileStamp* stamp) const
{
    if (m_fd == -1) {
        plat::SetLastSystemError(plat::kErrorInvalidHandle);
        return false;
    }
    return StampOf(Handle(m_fd), stamp);
}

bool plat::StampPath(const char* path, FileStamp* stamp) { return StampNamed(path, 0, stamp); }

bool plat::StampAt(const BeneathDir& dir, const std::string& name, FileStamp* stamp)
{
    return StampNamed(dir.PathOf(name), FILE_FLAG_OPEN_REPARSE_POINT, stamp);
}

// The sharing of the open flags is the system's own here: compat and
// exclusive share nothing, deny-write lets others read, deny-read lets them
// write, deny-none lets them do both. A refused opener (sharing violation,
// 32) leaves the file and its content alone. The handle is not inherited:
// a program started by the service side must not keep the file open.
bool CDiskFile::Open(const char* path, unsigned flags)
{
    Close();
    Release();
    DWORD access;
    switch (flags & 3u) {
    case modeWrite: access = GENERIC_WRITE; break;
    case modeReadWrite: access = GENERIC_READ | GENERIC_WRITE; break;
    default: access = GENERIC_READ; break;
    }
    DWORD share;
    switch (flags & 0x70u) {
    case shareDenyWrite: share = FILE_SHARE_READ; break;
    case shareDenyRead: share = FILE_SHARE_WRITE; break;
    case shareDenyNone: share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
    default: share = 0; break;
    }
    const bool held = m_accept == Accept::kHeldFile || m_accept == Accept::kHeldNamedFile;
    const bool noLink = m_accept == Accept::kRegularFileNoLink || m_accept == Accept::kHeldFile;
    // The holder deletes its file while others may have it open.
    if (held)
        share |= FILE_SHARE_DELETE;
    // Emptied only once examined (and held): a refused opener leaves it alone.
    const bool emptyLate = noLink || held;
    DWORD creation = OPEN_EXISTING;
    if (flags & modeCreate)
        creation = (flags & modeNoTruncate) || emptyLate ? OPEN_ALWAYS : CREATE_ALWAYS;
    // Without following a reparse point, a link at the name is opened itself
    // and refused below; emptying waits until then.
    DWORD attributes = FILE_ATTRIBUTE_NORMAL | (noLink ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    HANDLE h = ::CreateFileA(path, access, share, nullptr, creation, attributes, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        plat::RecordLastError();
        return false;
    }
    bool refused = m_accept != Accept::kAnyFile && ::GetFileType(h) != FILE_TYPE_DISK;
    BY_HANDLE_FILE_INFORMATION info;
    if (!refused && noLink)
        refused = !::GetFileInformationByHandle(h, &info) ||
                  (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
                  info.nNumberOfLinks > 1;
    if (refused) {
        ::CloseHandle(h);
        plat::SetLastSystemError(plat::kErrorAccessDenied);
        return false;
    }
    HANDLE hold = INVALID_HANDLE_VALUE;
    if (held && !TakeHold(h, &hold)) {
        ::CloseHandle(h);
        return false;
    }
    if (emptyLate && (flags & modeCreate) && !(flags & modeNoTruncate) && !::SetEndOfFile(h)) {
        plat::RecordLastError();
        if (hold != INVALID_HANDLE_VALUE)
            ::CloseHandle(hold);
        ::CloseHandle(h);
        return false;
    }
    m_hold = reinterpret_cast<intptr_t>(hold);
    m_fd = reinterpret_cast<intptr_t>(h);
    m_path = path;
    return true;
}

// The directory is held, so its path names it; the name is opened itself.
bool CDiskFile::OpenAt(const plat::BeneathDir& dir, const char* name, unsigned flags)
{
    const Accept asked = m_accept;
    if (m_accept == Accept::kHeldNamedFile)
        m_accept = Accept::kHeldFile;
    else if (m_accept != Accept::kHeldFile)
        m_accept = Accept::kRegularFileNoLink;
    bool opened = Open(dir.PathOf(name).c_str(), flags);
    m_accept = asked;
    return opened;
}

bool CDiskFile::OpenIn(std::intptr_t, const char* path, const std::string&, unsigned flags)
{
    return Open(path, flags);
}

void CDiskFile::Close()
{
    if (m_fd != -1) {
        ::CloseHandle(Handle(m_fd));
        m_fd = -1;
    }
}

// Deleted through a handle of its own, opened at the name without
// following a link: whatever the name holds is deleted only if it is ours.
bool CDiskFile::RemoveHeld(const plat::BeneathDir* dir, const char* name)
{
    bool removed = false;
    if (m_hold != -1) {
        const std::string path = dir != nullptr ? dir->PathOf(name) : std::string(name);
        HANDLE found = ::CreateFileA(path.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (found != INVALID_HANDLE_VALUE) {
            FILE_DISPOSITION_INFO disposition;
            disposition.DeleteFile = TRUE;
            removed = SameFile(found, Handle(m_hold)) &&
                      ::SetFileInformationByHandle(found, FileDispositionInfo, &disposition, sizeof(disposition));
            ::CloseHandle(found);
        }
    }
    Release();
    return removed;
}

void CDiskFile::Release()
{
    if (m_hold != -1) {
        ::CloseHandle(Handle(m_hold));
        m_hold = -1;
    }
}

void CDiskFile::CloseWritten()
{
    if (m_fd == -1)
        return;
    const HANDLE h = Handle(m_fd);
    m_fd = -1;
    if (!::CloseHandle(h))
        ThrowLastError(CFileException::hardIO);
}

uint32_t CDiskFile::Read(void* buffer, uint32_t count)
{
    if (m_fd == -1)
        throw new CFileException(CFileException::invalidFile);
    uint32_t done = 0;
    while (done < count) {
        DWORD n = 0;
        if (!::ReadFile(Handle(m_fd), static_cast<char*>(buffer) + done, count - done, &n, nullptr))
            ThrowLastError(CFileException::hardIO);
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

void CDiskFile::Write(const void* buffer, uint32_t count)
{
    if (m_fd == -1)
        throw new CFileException(CFileException::invalidFile);
    uint32_t done = 0;
    while (done < count) {
        DWORD n = 0;
        if (!::WriteFile(Handle(m_fd), static_cast<const char*>(buffer) + done, count - done, &n, nullptr))
            ThrowLastError(CFileException::genericException);
        if (n == 0)
            throw new CFileException(CFileException::diskFull, ERROR_DISK_FULL);
        done += n;
    }
}

uint64_t CDiskFile::Seek(int64_t offset, unsigned from)
{
    if (m_fd == -1)
        throw new CFileException(CFileException::invalidFile);
    DWORD method = from == current ? FILE_CURRENT : from == end ? FILE_END : FILE_BEGIN;
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER position;
    if (!::SetFilePointerEx(Handle(m_fd), distance, &position, method))
        ThrowLastError(CFileException::badSeek);
    return static_cast<uint64_t>(position.QuadPart);
}

uint32_t CDiskFile::GetLength() const
{
    LARGE_INTEGER size;
    if (m_fd == -1 || !::GetFileSizeEx(Handle(m_fd), &size))
        throw new CFileException(CFileException::invalidFile);
    return static_cast<uint32_t>(size.QuadPart);
}

uint32_t CDiskFile::GetPosition() const
{
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    LARGE_INTEGER position;
    if (m_fd == -1 || !::SetFilePointerEx(Handle(m_fd), zero, &position, FILE_CURRENT))
        throw new CFileException(CFileException::invalidFile);
    return static_cast<uint32_t>(position.QuadPart);
}
