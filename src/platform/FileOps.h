// Deleting, moving and sizing single files by path. On failure each returns
// false and plat::LastSystemError() holds the reason.
#pragma once

#include <cstdint>
#include <cstdio>

namespace plat {

// DeleteFileA: a missing file is a failure (kErrorFileNotFound).
bool RemoveFile(const char* path);
// As RemoveFile for a regular file only: a link, a directory or a device
// that has taken the name since is left alone (kErrorAccessDenied).
bool RemoveRegularFile(const char* path);
// MoveFileA: fails when `to` exists, as on Windows.
bool MoveFile(const char* from, const char* to);
// The full 64-bit size of a file, where CFile::GetLength stops at 32 bits.
bool QueryFileSize64(const char* path, std::uint64_t* size);

// fopen whose descriptor (handle) is never inherited by a program started
// while the stream is open, not even one started by another thread.
std::FILE* OpenUninheritedStream(const char* path, const char* mode);

} // namespace plat
