// Files as the program opens them itself, by descriptor (a HANDLE on
// Windows): what is checked (kind, identity, size) is what is then read or
// written, with no window in which the path could change in between.
//
// Every function that fails returns a system error number (errno, or
// GetLastError() on Windows); 0 is success. SystemErrorText() words it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "VexaCommFile.h"

enum class FileKind { Missing, Regular, Directory, Other };

// Device and file number: two names with the same identity are one file.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t index = 0;
    bool operator==(const FileIdentity& o) const { return device == o.device && index == o.index; }
};

struct PathStatus {
    FileKind kind = FileKind::Missing;
    FileIdentity identity;
    // The permission bits grant no one write access (Windows: read-only
    // attribute); kept apart from "this user may not write", which root
    // never hits.
    bool readOnly = false;
    unsigned mode = 0;
};

// Follows symbolic links; a missing path is kind Missing, not an error.
int StatPath(const std::string& path, PathStatus* status);
// The file a symbolic link leads to, else the path itself.
std::string ResolveLinks(const std::string& path);
int RenameOver(const std::string& from, const std::string& to);
int RemoveFile(const std::string& path);
// Creates one directory; one that is already there is no error.
int MakeDirectory(const std::string& path);
std::string SystemErrorText(int error);
// OpenOutput's refusal of a FIFO, device or socket; no system's number.
constexpr int kErrorNotRegularFile = -1;
// Replaces the content of the regular file `path` (created if missing)
// with `text`; never waits for a FIFO's reader. 0 or the error.
int WriteWholeFile(const std::string& path, const std::string& text);

class SystemFile : public CFile {
public:
    SystemFile() = default;
    ~SystemFile() override;

    // Never blocks on a FIFO; the caller checks Kind().
    int OpenRead(const std::string& path);
    // A new, empty file under a unique name in target's directory, with
    // target's permission bits when target exists (`mode`, else default).
    int CreateBeside(const std::string& target, unsigned mode);
    // Opens for writing without emptying, creating the file if it is missing;
    // *created says which. regularOnly: never waits for a FIFO's reader, and
    // anything but a regular file gives kErrorNotRegularFile.
    int OpenOutput(const std::string& path, bool* created, bool regularOnly = false);
    // Standard output or input, in binary.
    void UseStdout();
    void UseStdin();
    // Empties a regular file; other kinds are left as they are.
    int Truncate();
    // Closes and reports what closing found (a late write error).
    int CloseChecked();
    void Close() override { CloseChecked(); }

    FileKind Kind() const;
    FileIdentity Identity() const;
    std::uint64_t Size() const;
    const std::string& Path() const { return m_path; }
    std::uint64_t Written() const { return m_written.load(); }
    // The system error of the last failed Read or Write.
    int LastError() const { return m_error; }

    // Read and Write loop over partial transfers and throw CFileException*
    // carrying the system error; Written() counts every byte that reached
    // the file, also those of a write that failed part-way.
    uint32_t Read(void* buffer, uint32_t count) override;
    void Write(const void* buffer, uint32_t count) override;
    uint64_t Seek(int64_t offset, unsigned from) override;
    uint32_t GetLength() const override;
    uint32_t GetPosition() const override;

private:
    [[noreturn]] void Fail(int error, int cause);

    intptr_t m_handle = -1;
    bool m_owned = true;
    std::string m_path;
    std::atomic<std::uint64_t> m_written{0};
    int m_error = 0;
};
