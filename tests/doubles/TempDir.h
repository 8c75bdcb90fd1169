// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
#pragma once

#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    // path(), the separator and `name`, whose '/' become the platform's
    // separator.
    std::string File(const std::string& name) const;

private:
    std::string m_path;
};

// Whole-file helpers for assertions.
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);
bool PathExists(const std::string& path);
