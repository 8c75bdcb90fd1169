// Win32 directories beneath a root: each level opened without following a
// reparse point and held without delete sharing, so that no level can be
// renamed or swapped for a junction while the calls below use its path.
#include "platform/Beneath.h"

#include <cctype>

#include "platform/FileOps.h"
#include "platform/win32/LastError.h"

namespace plat {
namespace {

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

HANDLE HoldLevel(const std::string& path, DWORD flags)
{
    return ::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

// The final path without the "\\?\" the system puts in front; "" on failure.
std::string FinalPath(HANDLE h)
{
    char buffer[1024];
    DWORD n = ::GetFinalPathNameByHandleA(h, buffer, sizeof(buffer), FILE_NAME_NORMALIZED);
    if (n == 0 || n >= sizeof(buffer))
        return std::string();
    std::string text(buffer, n);
    return text.compare(0, 4, "\\\\?\\") == 0 ? text.substr(4) : text;
}

bool SameText(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// `path` is `root` or lies below it (names compare without case).
bool IsBelow(const std::string& path, const std::string& root)
{
    if (root.empty() || path.size() < root.size() || !SameText(path.substr(0, root.size()), root))
        return false;
    return path.size() == root.size() || root.back() == '\\' || path[root.size()] == '\\';
}

bool IsDeviceName(const std::string& name)
{
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char& c : stem)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (stem == device)
            return true;
    }
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
           stem[3] >= '0' && stem[3] <= '9';
}

void CloseAll(std::vector<std::intptr_t>* held)
{
    for (std::intptr_t h : *held)
        ::CloseHandle(AsHandle(h));
    held->clear();
}

} // namespace

std::string BeneathDir::PathOf(const std::string& name) const
{
    if (name.empty())
        return m_path;
    return (!m_path.empty() && m_path.back() == '\\' ? m_path : m_path + "\\") + name;
}

void BeneathDir::Reset()
{
    if (m_handle != -1)
        ::CloseHandle(AsHandle(m_handle));
    m_handle = -1;
    CloseAll(&m_held);
    m_path.clear();
    m_rootFinal.clear();
}

bool IsPlainName(const std::string& name)
{
    if (name.empty() || name == "." || name == ".." || name.back() == '.' || name.back() == ' ')
        return false;
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 32 || std::string("\\/:*?\"<>|").find(c) != std::string::npos)
            return false;
    }
    return !IsDeviceName(name);
}

bool IsOtherRoot(const std::string& text)
{
    return text.size() >= 2 && IsPathSeparator(text[0]) && IsPathSeparator(text[1]);
}

// Reparse points are never followed on the way down: the switch is kept
// for the shared tests.
void UseBeneathWalk(bool) {}

bool OpenRootDir(const char* root, BeneathDir* dir)
{
    dir->Reset();
    HANDLE h = HoldLevel(root, 0);
    BY_HANDLE_FILE_INFORMATION info;
    if (h == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(h, &info)) {
        RecordLastError();
        if (h != INVALID_HANDLE_VALUE)
            ::CloseHandle(h);
        return false;
    }
    std::string final = FinalPath(h);
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || final.empty()) {
        ::CloseHandle(h);
        SetLastSystemError(kErrorDirectory);
        return false;
    }
    dir->m_handle = reinterpret_cast<std::intptr_t>(h);
    dir->m_path = root;
    while (dir->m_path.size() > 3 && IsPathSeparator(dir->m_path.back()))
        dir->m_path.pop_back();
    dir->m_rootFinal = final;
    return true;
}

bool OpenDirBeneath(const BeneathDir& root, const std::vector<std::string>& levels, bool create, BeneathDir* dir)
{
    dir->Reset();
    std::vector<std::intptr_t> held;
    std::string path = root.Path();
    HANDLE last = INVALID_HANDLE_VALUE;
    if (levels.empty()) {
        if (!::DuplicateHandle(::GetCurrentProcess(), AsHandle(root.Handle()), ::GetCurrentProcess(), &last, 0,
                               FALSE, DUPLICATE_SAME_ACCESS)) {
            RecordLastError();
            return false;
        }
        held.push_back(reinterpret_cast<std::intptr_t>(last));
    }
    for (const std::string& level : levels) {
        path = (path.back() == '\\' ? path : path + "\\") + level;
        if (create && !::CreateDirectoryA(path.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
            RecordLastError();
            CloseAll(&held);
            return false;
        }
        last = HoldLevel(path, FILE_FLAG_OPEN_REPARSE_POINT);
        BY_HANDLE_FILE_INFORMATION info;
        if (last == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(last, &info)) {
            if (RecordLastError() == ERROR_FILE_NOT_FOUND)
                SetLastSystemError(kErrorPathNotFound);
            if (last != INVALID_HANDLE_VALUE)
                ::CloseHandle(last);
            CloseAll(&held);
            return false;
        }
        held.push_back(reinterpret_cast<std::intptr_t>(last));
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            SetLastSystemError((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? kErrorAccessDenied
                                                                                         : kErrorPathNotFound);
            CloseAll(&held);
            return false;
        }
    }
    // What the held levels name, whatever the texts said.
    if (!IsBelow(FinalPath(last), root.m_rootFinal)) {
        SetLastSystemError(kErrorAccessDenied);
        CloseAll(&held);
        return false;
    }
    dir->m_handle = held.back();
    held.pop_back();
    dir->m_held = held;
    dir->m_path = path;
    dir->m_rootFinal = root.m_rootFinal;
    return true;
}

bool StatAt(const BeneathDir& dir, const std::string& name, FileStatus* status, std::uint32_t* attributes)
{
    const std::string path = dir.PathOf(name);
    DWORD bits = ::GetFileAttributesA(path.c_str());
    if (bits == INVALID_FILE_ATTRIBUTES) {
        RecordLastError();
        return false;
    }
    if ((bits & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        SetLastSystemError(kErrorAccessDenied);
        return false;
    }
    FileStatus own;
    if (!GetPathStatus(path.c_str(), status != nullptr ? status : &own))
        return false;
    if (attributes != nullptr)
        *attributes = bits;
    return true;
}

// The name is below a held directory, and a link at it is deleted itself.
bool RemoveFileAt(const BeneathDir& dir, const std::string& name)
{
    const std::string path = dir.PathOf(name);
    DWORD bits = ::GetFileAttributesA(path.c_str());
    if (name.empty() || ((bits & FILE_ATTRIBUTE_DIRECTORY) != 0 && (bits & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
                         bits != INVALID_FILE_ATTRIBUTES)) {
        SetLastSystemError(kErrorAccessDenied);
        return false;
    }
    if ((bits & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && !SetPathAttributes(path.c_str(), FILE_ATTR_NORMAL))
        return false;
    return RemoveFile(path.c_str());
}

bool DeleteTreeAt(const BeneathDir& dir, const std::string& name)
{
    if (name.empty()) {
        SetLastSystemError(kErrorAccessDenied);
        return false;
    }
    return DeleteTree(dir.PathOf(name).c_str(), true);
}

bool RenameAt(const BeneathDir& dir, const std::string& from, const std::string& to)
{
    return MoveFile(dir.PathOf(from).c_str(), dir.PathOf(to).c_str());
}

std::string ResolvedPath(const char* path)
{
    HANDLE h = ::CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        RecordLastError();
        return std::string();
    }
    std::string final = FinalPath(h);
    ::CloseHandle(h);
    return final;
}

} // namespace plat
