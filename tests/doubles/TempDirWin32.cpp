#include "doubles/TempDir.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/win32/WinApi.h"
#include "doubles/TestFs.h"

namespace {

// Depth first; attributes go first, as read-only entries refuse deletion.
void RemoveTree(const std::string& path)
{
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    WIN32_FIND_DATAA data;
    HANDLE search = ::FindFirstFileA((path + "\\*").c_str(), &data);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string entry = path + "\\" + name;
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                RemoveTree(entry);
            } else {
                ::SetFileAttributesA(entry.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (!::DeleteFileA(entry.c_str()))
                    ::RemoveDirectoryA(entry.c_str());
            }
        } while (::FindNextFileA(search, &data));
        ::FindClose(search);
    }
    ::RemoveDirectoryA(path.c_str());
}

} // namespace

TempDir::TempDir()
{
    char base[MAX_PATH + 1];
    DWORD n = ::GetTempPathA(sizeof(base), base);
    if (n == 0 || n > MAX_PATH)
        throw std::runtime_error("no temporary directory");
    std::string prefix(base, n);
    if (prefix.back() != '\\')
        prefix += '\\';
    static LONG counter = 0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string candidate = prefix + "vexacomm-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                std::to_string(::InterlockedIncrement(&counter));
        if (::CreateDirectoryA(candidate.c_str(), nullptr)) {
            m_path = candidate;
            return;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() { RemoveTree(m_path); }

std::string TempDir::File(const std::string& name) const { return m_path + "\\" + NativePath(name); }

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool PathExists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
