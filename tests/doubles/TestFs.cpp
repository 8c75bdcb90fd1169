#include "doubles/TestFs.h"

#include <cstdlib>
#include <stdexcept>

#ifdef _WIN32
#include "platform/win32/WinApi.h"

#include <winioctl.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/capability.h>
#include <sys/syscall.h>
#endif
#endif

std::string NativePath(std::string path)
{
    for (char& c : path) {
        if (c == '/')
            c = plat::kPathSeparator;
    }
    return path;
}

std::string MakeLongPath(const std::string& dir)
{
    const std::size_t kTotal = 258;
    const std::string file = "ffffffffff";
    std::size_t used = dir.size() + 1 + 1 + file.size();
    if (used >= kTotal)
        throw std::runtime_error("temporary directory path too long for MakeLongPath");
    std::string sub = dir + kSep + std::string(kTotal - used, 'd');
    MakeDir(sub);
    std::string path = sub + kSep + file;
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fputc('x', f);
        std::fclose(f);
    }
    return path;
}

#ifdef _WIN32

void MakeDir(const std::string& path) { ::CreateDirectoryA(path.c_str(), nullptr); }

bool IsDirectory(const std::string& path)
{
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void SetReadOnly(const std::string& path)
{
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        ::SetFileAttributesA(path.c_str(), attributes | FILE_ATTRIBUTE_READONLY);
}

void SetHidden(const std::string& path)
{
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        ::SetFileAttributesA(path.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN);
}

// Marked sparse first where the file system knows the attribute; wine
// leaves a hole at any rate.
bool MakeSparseFile(const std::string& path, std::uint64_t size)
{
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD ignored = 0;
    ::DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    bool ok = ::SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(h);
    ::CloseHandle(h);
    return ok;
}

bool SetMtime(const std::string& path, std::int64_t when)
{
    HANDLE h = ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    std::uint64_t ticks = (static_cast<std::uint64_t>(when) + 11644473600ULL) * 10000000ULL;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    BOOL ok = ::SetFileTime(h, nullptr, &time, &time);
    ::CloseHandle(h);
    return ok != FALSE;
}

std::time_t Mtime(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    std::uint64_t ticks = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                          data.ftLastWriteTime.dwLowDateTime;
    return static_cast<std::time_t>(ticks / 10000000ULL - 11644473600ULL);
}

std::string CurrentDirectory()
{
    char buffer[MAX_PATH * 4];
    DWORD n = ::GetCurrentDirectoryA(sizeof(buffer), buffer);
    return n > 0 && n < sizeof(buffer) ? std::string(buffer, n) : std::string();
}

std::string ProgramDirectory()
{
    char buffer[MAX_PATH * 4];
    DWORD n = ::GetModuleFileNameA(nullptr, buffer, sizeof(buffer));
    std::string path(buffer, n < sizeof(buffer) ? n : 0);
    return path.substr(0, path.find_last_of("\\/") + 1);
}

ScopedChdir::ScopedChdir(const std::string& dir)
    : m_old(CurrentDirectory()), m_ok(::SetCurrentDirectoryA(dir.c_str()) != FALSE)
{
}

ScopedChdir::~ScopedChdir()
{
    if (m_ok && !::SetCurrentDirectoryA(m_old.c_str()))
        std::abort();
}

ScopedTimeZone::ScopedTimeZone(const char* zone)
{
    const char* old = std::getenv("TZ");
    m_had = old != nullptr;
    m_old = m_had ? old : "";
    ::_putenv_s("TZ", zone);
    ::_tzset();
}

// An empty value removes the variable; the run-time then takes the
// system's zone again.
ScopedTimeZone::~ScopedTimeZone()
{
    ::_putenv_s("TZ", m_had ? m_old.c_str() : "");
    ::_tzset();
}

bool UnderWine()
{
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Tried out on a file of our own.
bool ReadOnlyEnforced()
{
    char base[MAX_PATH + 1];
    DWORD n = ::GetTempPathA(sizeof(base), base);
    if (n == 0 || n > MAX_PATH)
        return true;
    std::string probe = std::string(base, n) + "vexacomm-readonly-" + std::to_string(::GetCurrentProcessId());
    if (std::FILE* f = std::fopen(probe.c_str(), "wb"))
        std::fclose(f);
    ::SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE h = ::CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    bool enforced = h == INVALID_HANDLE_VALUE;
    if (!enforced)
        ::CloseHandle(h);
    ::SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(probe.c_str());
    return enforced;
}

EnforcedPermissions::EnforcedPermissions() = default;
EnforcedPermissions::~EnforcedPermissions() = default;

#else

void MakeDir(const std::string& path) { ::mkdir(path.c_str(), 0755); }

bool IsDirectory(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void SetReadOnly(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) == 0)
        ::chmod(path.c_str(), st.st_mode & 0555);
}

void SetHidden(const std::string&) {}

bool MakeSparseFile(const std::string& path, std::uint64_t size)
{
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0600);
    if (fd < 0)
        return false;
    bool ok = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
    ::close(fd);
    return ok;
}

bool SetMtime(const std::string& path, std::int64_t when)
{
    const time_t t = static_cast<time_t>(when);
    timespec times[2] = {{t, 0}, {t, 0}};
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

std::time_t Mtime(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

std::string CurrentDirectory()
{
    char buf[4096];
    return ::getcwd(buf, sizeof(buf)) != nullptr ? std::string(buf) : std::string();
}

std::string ProgramDirectory()
{
    char buffer[4096];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer));
    std::string path(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    return path.substr(0, path.rfind('/') + 1);
}

ScopedChdir::ScopedChdir(const std::string& dir)
    : m_old(CurrentDirectory()), m_ok(::chdir(dir.c_str()) == 0)
{
    if (m_old.empty())
        m_old = "/";
}

ScopedChdir::~ScopedChdir()
{
    if (m_ok && ::chdir(m_old.c_str()) != 0)
        std::abort();
}

ScopedTimeZone::ScopedTimeZone(const char* zone)
{
    const char* old = std::getenv("TZ");
    m_had = old != nullptr;
    m_old = m_had ? old : "";
    ::setenv("TZ", zone, 1);
    ::tzset();
}

ScopedTimeZone::~ScopedTimeZone()
{
    if (m_had)
        ::setenv("TZ", m_old.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

bool UnderWine() { return false; }

#ifdef __linux__
namespace {

constexpr std::uint32_t kOverrides = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);

// This thread's capabilities; with `on`, the overrides switched on or off.
bool Capabilities(__user_cap_data_struct (&data)[2], int on = -1)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    if (::syscall(SYS_capget, &header, data) != 0 || on < 0)
        return on < 0;
    data[0].effective = on ? data[0].effective | (data[0].permitted & kOverrides) : data[0].effective & ~kOverrides;
    return ::syscall(SYS_capset, &header, data) == 0;
}

} // namespace

EnforcedPermissions::EnforcedPermissions()
{
    __user_cap_data_struct data[2];
    m_lowered = ::geteuid() == 0 && Capabilities(data, 0);
}

EnforcedPermissions::~EnforcedPermissions()
{
    __user_cap_data_struct data[2];
    if (m_lowered)
        Capabilities(data, 1);
}

bool ReadOnlyEnforced()
{
    __user_cap_data_struct data[2];
    return ::geteuid() != 0 || (Capabilities(data) && (data[0].effective & kOverrides) == 0);
}
#else
EnforcedPermissions::EnforcedPermissions() = default;
EnforcedPermissions::~EnforcedPermissions() = default;
bool ReadOnlyEnforced() { return ::geteuid() != 0; }
#endif

ScopedFileSizeLimit::ScopedFileSizeLimit(unsigned long bytes) : m_handler(std::signal(SIGXFSZ, SIG_IGN))
{
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    m_old = limit.rlim_cur;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

ScopedFileSizeLimit::~ScopedFileSizeLimit()
{
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(m_old);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, m_handler);
}

#endif
