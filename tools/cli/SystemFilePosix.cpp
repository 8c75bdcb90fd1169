// SystemFile and the path operations on POSIX descriptors.
#include "cli/SystemFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int Fd(intptr_t h) { return static_cast<int>(h); }

FileKind KindOf(const struct stat& st)
{
    if (S_ISREG(st.st_mode))
        return FileKind::Regular;
    if (S_ISDIR(st.st_mode))
        return FileKind::Directory;
    return FileKind::Other;
}

int CauseOf(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return CFileException::diskFull;
    case EIO: return CFileException::hardIO;
    case EACCES:
    case EPERM: return CFileException::accessDenied;
    default: return CFileException::genericException;
    }
}

} // namespace

int StatPath(const std::string& path, PathStatus* status)
{
    *status = PathStatus();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT ? 0 : errno;
    status->kind = KindOf(st);
    status->identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    status->mode = st.st_mode & 07777;
    status->readOnly = (st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0;
    return 0;
}

std::string ResolveLinks(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr)
        return path;
    std::string out(real);
    std::free(real);
    return out;
}

int RenameOver(const std::string& from, const std::string& to)
{
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

int MakeDirectory(const std::string& path)
{
    if (::mkdir(path.c_str(), 0777) == 0)
        return 0;
    const int error = errno;
    struct stat st {};
    return error == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 0 : error;
}

std::string SystemErrorText(int error)
{
    return error == kErrorNotRegularFile ? "not a regular file (a FIFO, device or socket)" : std::strerror(error);
}

int SystemFile::OpenRead(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    // Non-blocking served only the open; reads of a FIFO's writer would
    // otherwise come back empty-handed.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_handle = fd;
    m_path = path;
    return 0;
}

namespace {

// Read once: with threads creating files at once (fetch-all), reading it
// by setting it could leave it at 0. Linux shows it in /proc; without /proc
// it is set and restored once, the other threads waiting (their files are
// made 0600 and get their mode after).
mode_t ProcessUmask()
{
    static const mode_t mask = [] {
        if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
            char line[256];
            unsigned value = 0;
            bool found = false;
            while (!found && std::fgets(line, sizeof(line), f) != nullptr)
                found = std::sscanf(line, "Umask: %o", &value) == 1;
            std::fclose(f);
            if (found)
                return static_cast<mode_t>(value);
        }
        const mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }();
    return mask;
}

} // namespace

int SystemFile::CreateBeside(const std::string& target, unsigned mode)
{
    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string name = dir + "." + base.substr(0, 200) + ".XXXXXX";
    int fd = ::mkostemp(&name[0], O_CLOEXEC);
    if (fd < 0)
        return errno;
    if (mode == 0)
        mode = 0666 & ~ProcessUmask();
    ::fchmod(fd, static_cast<mode_t>(mode));
    m_handle = fd;
    m_path = name;
    return 0;
}

int SystemFile::OpenOutput(const std::string& path, bool* created, bool regularOnly)
{
    // Without O_NONBLOCK, opening a FIFO waits for a reader, perhaps forever.
    const int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | (regularOnly ? O_NONBLOCK : 0);
    int fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0666);
    *created = fd >= 0;
    if (fd < 0 && errno == EEXIST)
        fd = ::open(path.c_str(), flags);
    if (fd < 0)
        // ENXIO: a FIFO without a reader, or a socket; ENODEV: a device.
        return regularOnly && (errno == ENXIO || errno == ENODEV) ? kErrorNotRegularFile : errno;
    if (regularOnly) {
        struct stat st {};
        int error = ::fstat(fd, &st) != 0 ? errno : !S_ISREG(st.st_mode) ? kErrorNotRegularFile : 0;
        if (error == 0 && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
            error = errno;
        if (error != 0) {
            ::close(fd);
            return error;
        }
    }
    m_handle = fd;
    m_path = path;
    return 0;
}

void SystemFile::UseStdout()
{
    m_handle = STDOUT_FILENO;
    m_owned = false;
    m_path = "standard output";
}

void SystemFile::UseStdin()
{
    m_handle = STDIN_FILENO;
    m_owned = false;
    m_path = "standard input";
}

int SystemFile::Truncate()
{
    if (Kind() != FileKind::Regular)
        return 0;
    return ::ftruncate(Fd(m_handle), 0) == 0 ? 0 : errno;
}

int SystemFile::CloseChecked()
{
    if (m_handle < 0)
        return 0;
    int rc = m_owned && ::close(Fd(m_handle)) != 0 ? errno : 0;
    m_handle = -1;
    return rc;
}

FileKind SystemFile::Kind() const
{
    struct stat st {};
    return ::fstat(Fd(m_handle), &st) == 0 ? KindOf(st) : FileKind::Missing;
}

FileIdentity SystemFile::Identity() const
{
    struct stat st {};
    if (::fstat(Fd(m_handle), &st) != 0)
        return {};
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::uint64_t SystemFile::Size() const
{
    struct stat st {};
    return ::fstat(Fd(m_handle), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

uint32_t SystemFile::Read(void* buffer, uint32_t count)
{
    auto* p = static_cast<char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = ::read(Fd(m_handle), p + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            Fail(errno, CauseOf(errno));
        if (n == 0)
            break;
        done += static_cast<uint32_t>(n);
    }
    return done;
}

void SystemFile::Write(const void* buffer, uint32_t count)
{
    const auto* p = static_cast<const char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = ::write(Fd(m_handle), p + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            Fail(n < 0 ? errno : ENOSPC, n < 0 ? CauseOf(errno) : CFileException::diskFull);
        done += static_cast<uint32_t>(n);
        m_written += static_cast<std::uint64_t>(n);
    }
}

uint64_t SystemFile::Seek(int64_t offset, unsigned from)
{
    const int whence = from == CFile::begin ? SEEK_SET : from == CFile::end ? SEEK_END : SEEK_CUR;
    off_t at = ::lseek(Fd(m_handle), static_cast<off_t>(offset), whence);
    if (at < 0)
        Fail(errno, CFileException::badSeek);
    return static_cast<uint64_t>(at);
}

uint32_t SystemFile::GetPosition() const
{
    off_t at = ::lseek(Fd(m_handle), 0, SEEK_CUR);
    return at < 0 ? 0 : static_cast<uint32_t>(at);
}
