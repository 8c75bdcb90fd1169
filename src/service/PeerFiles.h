// The service's file-system calls on a peer's path: beneath the object's
// root when one is set (service/PeerPath.h), on the path as given when
// `root` is "". Each fails with the reason in plat::LastSystemError().
#pragma once

#include <cstdint>
#include <string>

#include "platform/FileSystem.h"

class CDiskFile;

// GetPathStatus; `version`, when given, receives the file's version text
// (GetFileVersionString).
bool PeerStatus(const std::string& root, const char* path, plat::FileStatus* status,
                std::string* version = nullptr);
// The full 64-bit size (QueryFileSize64).
bool PeerSize64(const std::string& root, const char* path, std::uint64_t* size);
// CDiskFile::Open; with `createLevels` the directories above the file are
// made first, as CreateDirectoryPath makes them.
bool PeerOpen(const std::string& root, CDiskFile* file, const char* path, unsigned flags, bool createLevels);
// FileExists.
bool PeerFileExists(const std::string& root, const char* path);
// The compressed copy `copy` of `source` made anew through "<copy>.z!!"
// (CLzhufEncoder::CompressFile); a file exception passes through.
void PeerCompress(const std::string& root, const std::string& source, const std::string& copy);
// CreateDirectoryPath; beneath a root every level is made.
bool PeerMakeDirectory(const std::string& root, const char* path);
// DeletePath's deletion: a tree for a trailing separator, else a file.
bool PeerDelete(const std::string& root, const char* path);
