// Deleting, moving and sizing single files by path. On failure each returns
// false and plat::LastSystemError() holds the reason.
#pragma once

#include <cstdint>

namespace plat {

// DeleteFileA: a missing file is a failure (kErrorFileNotFound).
bool RemoveFile(const char* path);
// MoveFileA: fails when `to` exists, as on Windows.
bool MoveFile(const char* from, const char* to);
// The full 64-bit size of a file, where CFile::GetLength stops at 32 bits.
bool QueryFileSize64(const char* path, std::uint64_t* size);

} // namespace plat
