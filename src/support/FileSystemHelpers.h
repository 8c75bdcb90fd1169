// File-system helpers of the service side. Stateless; failures show in the
// results only (no error is recorded, no diagnostic line written).
#pragma once

#include <string>

#include "vexacomm/Types.h"

// Deletes one file whatever its attributes. Non-zero when it was deleted;
// 0 without an attempt when its attributes cannot be reset (a missing file).
BOOL ForceDeleteFile(const char* path);

// Deletes everything below `path` (with or without a trailing separator),
// depth first, and the directory itself when `removeSelf` is set. Stops at
// the first entry that cannot be deleted and returns 0; what was deleted
// stays deleted and no directory on the way back up is removed. Links are
// entries, never followed: a link at `path` itself goes with `removeSelf`.
BOOL DeleteDirectoryTree(const char* path, BOOL removeSelf);

// 1 when the file can be opened for reading while others read and write it:
// 0 for a directory, a missing file, a file held without sharing and
// anything that is no regular file (a FIFO, a device), without waiting.
BOOL FileExists(const char* path);

// Creates every level of a directory path; every component, the last one
// included, is a directory. The first component (the root, or the first
// level of a relative path) is never created. A level that exists already,
// even as a file, counts as created. 1 on success; 0 at the first level
// that fails, keeping the levels made before it.
BOOL CreateDirectoryPath(const char* path);

// The file's version text with ", " turned into ".", or the empty text.
std::string GetFileVersionString(const char* path);
