// SystemFile and the path operations on Win32 handles.
#include "cli/SystemFile.h"

#include <windows.h>

namespace {

HANDLE H(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
intptr_t FromHandle(HANDLE h) { return h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(h); }

int CauseOf(DWORD error)
{
    switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return CFileException::diskFull;
    case ERROR_ACCESS_DENIED: return CFileException::accessDenied;
    default: return CFileException::genericException;
    }
}

FileKind KindOfHandle(HANDLE h)
{
    if (::GetFileType(h) != FILE_TYPE_DISK)
        return FileKind::Other;
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(h, &info))
        return FileKind::Other;
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::Directory : FileKind::Regular;
}

FileIdentity IdentityOfHandle(HANDLE h)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(h, &info))
        return {};
    return {info.dwVolumeSerialNumber,
            (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

} // namespace

int StatPath(const std::string& path, PathStatus* status)
{
    *status = PathStatus();
    // Backup semantics opens directories too; no access right is asked
    // for, so files open elsewhere and device names are reached as well.
    HANDLE h = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : static_cast<int>(error);
    }
    status->kind = KindOfHandle(h);
    status->identity = IdentityOfHandle(h);
    ::CloseHandle(h);
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    status->readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    return 0;
}

std::string ResolveLinks(const std::string& path) { return path; }

int RenameOver(const std::string& from, const std::string& to)
{
    return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : static_cast<int>(::GetLastError());
}

int RemoveFile(const std::string& path)
{
    return ::DeleteFileA(path.c_str()) ? 0 : static_cast<int>(::GetLastError());
}

int MakeDirectory(const std::string& path)
{
    if (::CreateDirectoryA(path.c_str(), nullptr))
        return 0;
    const DWORD error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (error == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return 0;
    return static_cast<int>(error);
}

std::string SystemErrorText(int error)
{
    if (error == kErrorNotRegularFile)
        return "not a regular file (a pipe or device)";
    char text[512];
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               static_cast<DWORD>(error), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                               text, sizeof(text), nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.' || text[n - 1] == ' '))
        --n;
    return n > 0 ? std::string(text, n) : "system error " + std::to_string(error);
}

int SystemFile::OpenRead(const std::string& path)
{
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return static_cast<int>(::GetLastError());
    m_handle = FromHandle(h);
    m_path = path;
    return 0;
}

int SystemFile::CreateBeside(const std::string& target, unsigned)
{
    const std::size_t slash = target.find_last_of("/\\");
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    char name[MAX_PATH];
    // Creates the file under a name no other file has.
    if (::GetTempFileNameA(dir.c_str(), "vxc", 0, name) == 0)
        return static_cast<int>(::GetLastError());
    HANDLE h = ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, TRUNCATE_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        int error = static_cast<int>(::GetLastError());
        ::DeleteFileA(name);
        return error;
    }
    m_handle = FromHandle(h);
    m_path = name;
    return 0;
}

int SystemFile::OpenOutput(const std::string& path, bool* created, bool regularOnly)
{
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    *created = h != INVALID_HANDLE_VALUE;
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_EXISTS)
        h = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return static_cast<int>(::GetLastError());
    // CreateFile never waits for a pipe's server; its type is checked after.
    if (regularOnly && KindOfHandle(h) != FileKind::Regular) {
        ::CloseHandle(h);
        return kErrorNotRegularFile;
    }
    m_handle = FromHandle(h);
    m_path = path;
    return 0;
}

void SystemFile::UseStdout()
{
    m_handle = FromHandle(::GetStdHandle(STD_OUTPUT_HANDLE));
    m_owned = false;
    m_path = "standard output";
}

void SystemFile::UseStdin()
{
    m_handle = FromHandle(::GetStdHandle(STD_INPUT_HANDLE));
    m_owned = false;
    m_path = "standard input";
}

int SystemFile::Truncate()
{
    if (Kind() != FileKind::Regular)
        return 0;
    LARGE_INTEGER zero = {};
    if (!::SetFilePointerEx(H(m_handle), zero, nullptr, FILE_BEGIN) || !::SetEndOfFile(H(m_handle)))
        return static_cast<int>(::GetLastError());
    return 0;
}

int SystemFile::CloseChecked()
{
    if (m_handle == -1)
        return 0;
    int rc = m_owned && !::CloseHandle(H(m_handle)) ? static_cast<int>(::GetLastError()) : 0;
    m_handle = -1;
    return rc;
}

FileKind SystemFile::Kind() const { return KindOfHandle(H(m_handle)); }

FileIdentity SystemFile::Identity() const { return IdentityOfHandle(H(m_handle)); }

std::uint64_t SystemFile::Size() const
{
    LARGE_INTEGER size;
    return ::GetFileSizeEx(H(m_handle), &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

uint32_t SystemFile::Read(void* buffer, uint32_t count)
{
    auto* p = static_cast<char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        DWORD n = 0;
        if (!::ReadFile(H(m_handle), p + done, count - done, &n, nullptr)) {
            DWORD error = ::GetLastError();
            if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF)
                break;
            Fail(static_cast<int>(error), CauseOf(error));
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

void SystemFile::Write(const void* buffer, uint32_t count)
{
    const auto* p = static_cast<const char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        DWORD n = 0;
        if (!::WriteFile(H(m_handle), p + done, count - done, &n, nullptr)) {
            DWORD error = ::GetLastError();
            m_written += n;
            Fail(static_cast<int>(error), CauseOf(error));
        }
        if (n == 0)
            Fail(ERROR_DISK_FULL, CFileException::diskFull);
        done += n;
        m_written += n;
    }
}

uint64_t SystemFile::Seek(int64_t offset, unsigned from)
{
    LARGE_INTEGER to;
    to.QuadPart = offset;
    LARGE_INTEGER at;
    const DWORD method = from == CFile::begin ? FILE_BEGIN : from == CFile::end ? FILE_END : FILE_CURRENT;
    if (!::SetFilePointerEx(H(m_handle), to, &at, method))
        Fail(static_cast<int>(::GetLastError()), CFileException::badSeek);
    return static_cast<uint64_t>(at.QuadPart);
}

uint32_t SystemFile::GetPosition() const
{
    LARGE_INTEGER zero = {};
    LARGE_INTEGER at;
    return ::SetFilePointerEx(H(m_handle), zero, &at, FILE_CURRENT) ? static_cast<uint32_t>(at.QuadPart) : 0;
}
