// What the POSIX file-system files share: entries of an open directory,
// examined and deleted through its descriptor, never through a link.
#pragma once

#include <cstdint>
#include <sys/stat.h>

namespace plat {

// The Windows attribute value of a file named `path` with status `st`.
std::uint32_t AttributesOf(const char* path, const struct stat& st);
// A file, a link or anything else that is no directory, read-only cleared.
bool DeleteNonDirectory(int parent, const char* name);
// Any entry: a directory is emptied through its descriptor and removed.
bool DeleteEntry(int parent, const char* name);
// Everything below the open directory `fd`.
bool DeleteBelow(int fd);

} // namespace plat
