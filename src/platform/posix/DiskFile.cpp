// POSIX disk file: open flags and sharing on descriptors, with flock.
#include "platform/DiskFile.h"

#include <cerrno>
#include <limits>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Backend.h"
#include "platform/Beneath.h"
#include "platform/SystemErrors.h"

int plat::FileExceptionCause(long osError)
{
    switch (osError) {
    case ENOENT: return CFileException::fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG: return CFileException::badPath;
    case EMFILE:
    case ENFILE: return CFileException::tooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS: return CFileException::accessDenied;
    case EBADF: return CFileException::invalidFile;
    case ESPIPE:
    case EINVAL: return CFileException::badSeek;
    case EIO: return CFileException::hardIO;
    case EWOULDBLOCK: return CFileException::sharingViolation;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return CFileException::diskFull;
    default: return CFileException::genericException;
    }
}

long plat::backend::LastFileError() { return errno; }

namespace {
int Fd(intptr_t fd) { return static_cast<int>(fd); }

std::int64_t Nanoseconds(const struct timespec& t)
{
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

bool StampOf(const struct stat& st, plat::FileStamp* stamp)
{
    if (!S_ISREG(st.st_mode)) {
        plat::SetLastSystemError(plat::kErrorAccessDenied);
        return false;
    }
    stamp->device = static_cast<std::uint64_t>(st.st_dev);
    stamp->file = static_cast<std::uint64_t>(st.st_ino);
    stamp->size = static_cast<std::uint64_t>(st.st_size);
    stamp->modified = Nanoseconds(st.st_mtim);
    stamp->changed = Nanoseconds(st.st_ctim);
    return true;
}

// A held file's lock: an exclusive lock of the open file (OFD), so that
// two opens in one process exclude each other, on a byte no reader or
// flock sharing touches. Where the kernel has no such lock, flock itself:
// exclusive while the file is emptied, then shared (EmptyHeld), which a
// second holder's exclusive attempt still meets.
constexpr off_t kHoldByte = std::numeric_limits<off_t>::max() / 2;

enum class Hold { kRefused, kOpenFile, kFlock };

Hold TakeHold(int fd)
{
#ifdef F_OFD_SETLK
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kHoldByte;
    lock.l_len = 1;
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0)
        return Hold::kOpenFile;
    if (errno != EINVAL)
        return Hold::kRefused;
#endif
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? Hold::kFlock : Hold::kRefused;
}
} // namespace

// Sharing on POSIX is advisory (flock), and only openers that lock honour
// it: this library's own. An opener that shares nothing (exclusive or
// compat) takes an exclusive lock; one that denies others writing, or shares
// everything, takes a shared lock, so that it keeps exclusive openers out
// and is kept out by them. Two shared lockers never exclude each other,
// even where one writes and the other denies writing.
bool CDiskFile::Open(const char* path, unsigned flags) { return OpenIn(AT_FDCWD, path, path, flags); }

bool CDiskFile::OpenAt(const plat::BeneathDir& dir, const char* name, unsigned flags)
{
    const Accept asked = m_accept;
    if (m_accept == Accept::kHeldNamedFile)
        m_accept = Accept::kHeldFile;
    else if (m_accept != Accept::kHeldFile)
        m_accept = Accept::kRegularFileNoLink;
    bool opened = OpenIn(dir.Handle(), name, dir.PathOf(name), flags);
    m_accept = asked;
    return opened;
}

bool CDiskFile::OpenIn(std::intptr_t dir, const char* path, const std::string& shown, unsigned flags)
{
    Close();
    Release();
    const bool regularOnly = m_accept != Accept::kAnyFile;
    const bool held = m_accept == Accept::kHeldFile || m_accept == Accept::kHeldNamedFile;
    const bool noLink = m_accept == Accept::kRegularFileNoLink || m_accept == Accept::kHeldFile;
    int oflags = O_CLOEXEC | O_NOCTTY;
    switch (flags & 3u) {
    case modeWrite: oflags |= O_WRONLY; break;
    case modeReadWrite: oflags |= O_RDWR; break;
    default: oflags |= O_RDONLY; break;
    }
    if (flags & modeCreate)
        oflags |= O_CREAT;
    if (regularOnly)
        oflags |= O_NONBLOCK;
    if (noLink)
        oflags |= O_NOFOLLOW;
    int fd = ::openat(static_cast<int>(dir), path, oflags, 0666);
    if (fd < 0) {
        // ENXIO: a FIFO without a reader, a device without its hardware;
        // ELOOP: a link where none may be.
        if (regularOnly && (errno == ENXIO || errno == ENODEV || errno == ELOOP))
            plat::SetLastSystemError(plat::kErrorAccessDenied);
        else
            plat::RecordPathErrno(shown.c_str());
        return false;
    }
    struct stat st {};
    bool refused = ::fstat(fd, &st) == 0 &&
                   (S_ISDIR(st.st_mode) || (regularOnly && !S_ISREG(st.st_mode)) || (noLink && st.st_nlink > 1));
    if (!refused && regularOnly && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        refused = true;
    if (refused) {
        ::close(fd);
        plat::SetLastSystemError(plat::kErrorAccessDenied);
        return false;
    }
    unsigned share = flags & 0x70u;
    int lockOp = share == shareDenyWrite || share == shareDenyNone ? LOCK_SH : LOCK_EX;
    if (::flock(fd, lockOp | LOCK_NB) != 0) {
        ::close(fd);
        plat::SetLastSystemError(plat::kErrorSharingViolation);
        return false;
    }
    const Hold hold = held ? TakeHold(fd) : Hold::kRefused;
    if (held && hold == Hold::kRefused) {
        ::close(fd);
        plat::SetLastSystemError(plat::kErrorSharingViolation);
        return false;
    }
    // Emptied only once the lock is held: a refused opener leaves another
    // opener's content alone.
    if ((flags & modeCreate) && !(flags & modeNoTruncate) && S_ISREG(st.st_mode) &&
        ::ftruncate(fd, 0) != 0) {
        plat::RecordErrno();
        ::close(fd);
        return false;
    }
    if (held) {
        // The flock turned shared: a reader may then share the file. Should
        // another holder slip in meanwhile, the name is theirs.
        if (hold == Hold::kFlock && ::flock(fd, LOCK_SH | LOCK_NB) != 0) {
            ::close(fd);
            plat::SetLastSystemError(plat::kErrorSharingViolation);
            return false;
        }
        m_hold = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (m_hold < 0) {
            plat::RecordErrno();
            ::close(fd);
            return false;
        }
    }
    m_fd = fd;
    m_path = shown;
    return true;
}

bool CDiskFile::Stamp(plat::FileStamp* stamp) const
{
    struct stat st {};
    if (m_fd < 0) {
        plat::SetLastSystemError(plat::kErrorInvalidHandle);
        return false;
    }
    if (::fstat(Fd(m_fd), &st) != 0) {
        plat::RecordErrno();
        return false;
    }
    return StampOf(st, stamp);
}

bool plat::StampPath(const char* path, FileStamp* stamp)
{
    struct stat st {};
    if (::stat(path, &st) != 0) {
        RecordPathErrno(path);
        return false;
    }
    return StampOf(st, stamp);
}

bool plat::StampAt(const BeneathDir& dir, const std::string& name, FileStamp* stamp)
{
    struct stat st {};
    if (::fstatat(static_cast<int>(dir.Handle()), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        RecordErrno();
        return false;
    }
    // A second hard link may be the name of a file outside.
    if (S_ISREG(st.st_mode) && st.st_nlink > 1) {
        SetLastSystemError(kErrorAccessDenied);
        return false;
    }
    return StampOf(st, stamp);
}

void CDiskFile::Close()
{
    if (m_fd >= 0) {
        ::close(Fd(m_fd));
        m_fd = -1;
    }
}

bool CDiskFile::RemoveHeld(const plat::BeneathDir* dir, const char* name)
{
    const int at = dir != nullptr ? static_cast<int>(dir->Handle()) : AT_FDCWD;
    struct stat held {}, found {};
    const bool removed = m_hold >= 0 && ::fstat(Fd(m_hold), &held) == 0 &&
                         ::fstatat(at, name, &found, AT_SYMLINK_NOFOLLOW) == 0 && found.st_dev == held.st_dev &&
                         found.st_ino == held.st_ino && ::unlinkat(at, name, 0) == 0;
    Release();
    return removed;
}

void CDiskFile::Release()
{
    if (m_hold >= 0) {
        ::close(Fd(m_hold));
        m_hold = -1;
    }
}

void CDiskFile::CloseWritten()
{
    if (m_fd < 0)
        return;
    const int fd = Fd(m_fd);
    m_fd = -1;
    // EINTR too: whether the data landed is then unknown.
    if (::close(fd) != 0)
        ThrowLastError(CFileException::hardIO);
}

uint32_t CDiskFile::Read(void* buffer, uint32_t count)
{
    if (m_fd < 0)
        throw new CFileException(CFileException::invalidFile);
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::read(Fd(m_fd), static_cast<char*>(buffer) + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ThrowLastError(CFileException::hardIO);
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<uint32_t>(done);
}

void CDiskFile::Write(const void* buffer, uint32_t count)
{
    if (m_fd < 0)
        throw new CFileException(CFileException::invalidFile);
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(Fd(m_fd), static_cast<const char*>(buffer) + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ThrowLastError(CFileException::genericException);
        }
        if (n == 0) {
            // Nothing written and no error: retrying would spin, and for a
            // file it means nothing more fits. Reported as the full disk.
            errno = ENOSPC;
            ThrowLastError(CFileException::diskFull);
        }
        done += static_cast<size_t>(n);
    }
}

uint64_t CDiskFile::Seek(int64_t offset, unsigned from)
{
    if (m_fd < 0)
        throw new CFileException(CFileException::invalidFile);
    int whence = from == current ? SEEK_CUR : from == end ? SEEK_END : SEEK_SET;
    off_t pos = ::lseek(Fd(m_fd), static_cast<off_t>(offset), whence);
    if (pos < 0)
        ThrowLastError(CFileException::badSeek);
    return static_cast<uint64_t>(pos);
}

uint32_t CDiskFile::GetLength() const
{
    struct stat st;
    if (m_fd < 0 || ::fstat(Fd(m_fd), &st) != 0)
        throw new CFileException(CFileException::invalidFile);
    return static_cast<uint32_t>(st.st_size);
}

uint32_t CDiskFile::GetPosition() const
{
    off_t pos = m_fd < 0 ? -1 : ::lseek(Fd(m_fd), 0, SEEK_CUR);
    if (pos < 0)
        throw new CFileException(CFileException::invalidFile);
    return static_cast<uint32_t>(pos);
}
