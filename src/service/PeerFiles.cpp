// The service's file-system calls, beneath a root or on the path as given.
#include "service/PeerFiles.h"

#include <memory>

#include "lzh/LzhufEncoder.h"
#include "platform/Beneath.h"
#include "platform/DiskFile.h"
#include "platform/FileOps.h"
#include "platform/HostProcess.h"
#include "platform/SystemErrors.h"
#include "service/PeerPath.h"
#include "support/FileSystemHelpers.h"

bool PeerStatus(const std::string& root, const char* path, plat::FileStatus* status, std::string* version)
{
    if (root.empty()) {
        if (!plat::GetPathStatus(path, status))
            return false;
        if (version != nullptr)
            *version = GetFileVersionString(path);
        return true;
    }
    CPeerPath peer;
    if (!peer.Open(root, path) || !plat::StatAt(peer.Dir(), peer.Name(), status, nullptr))
        return false;
    // Read while the directory is held, so from the file examined.
    if (version != nullptr)
        *version = GetFileVersionString(peer.Dir().PathOf(peer.Name()).c_str());
    return true;
}

bool PeerSize64(const std::string& root, const char* path, std::uint64_t* size)
{
    if (root.empty())
        return plat::QueryFileSize64(path, size);
    plat::FileStatus status;
    if (!PeerStatus(root, path, &status))
        return false;
    *size = static_cast<std::uint64_t>(status.size);
    return true;
}

bool PeerOpen(const std::string& root, CDiskFile* file, const char* path, unsigned flags, bool createLevels)
{
    if (root.empty())
        return file->Open(path, flags);
    CPeerPath peer;
    if (!peer.Open(root, path, createLevels))
        return false;
    if (peer.Name().empty() || peer.Trailing()) {
        plat::SetLastSystemError(plat::kErrorAccessDenied);
        return false;
    }
    return file->OpenAt(peer.Dir(), peer.Name().c_str(), flags);
}

bool PeerFileExists(const std::string& root, const char* path)
{
    if (root.empty())
        return FileExists(path) != FALSE;
    CDiskFile file(CDiskFile::Accept::kRegularFile);
    return PeerOpen(root, &file, path, CFile::modeRead | CFile::shareDenyNone, false);
}

void PeerCompress(const std::string& root, const std::string& source, const std::string& copy)
{
    auto encoder = std::make_unique<CLzhufEncoder>();
    if (root.empty()) {
        ForceDeleteFile(copy.c_str());
        encoder->CompressFile(source.c_str(), copy.c_str());
        return;
    }
    // The copy's name is the source's with a suffix: one directory holds both.
    CPeerPath target;
    if (!target.Open(root, copy.c_str()) || target.Name().empty())
        return;
    plat::RemoveFileAt(target.Dir(), target.Name());
    CDiskFile in(CDiskFile::Accept::kRegularFile);
    CDiskFile out(CDiskFile::Accept::kRegularFileNoLink);
    const std::string temp = target.Name() + ".z!!";
    std::uint64_t size = 0;
    if ((PeerSize64(root, source.c_str(), &size) && size > 0xFFFFFFFFu) ||
        !PeerOpen(root, &in, source.c_str(), CFile::modeRead | CFile::shareDenyNone, false) ||
        !out.OpenAt(target.Dir(), temp.c_str(), CFile::modeCreate | CFile::modeWrite))
        return;
    encoder->Encode(&in, &out);
    in.Close();
    out.CloseWritten();
    plat::RenameAt(target.Dir(), temp, target.Name());
}

bool PeerMakeDirectory(const std::string& root, const char* path)
{
    if (root.empty())
        return CreateDirectoryPath(path) != FALSE;
    std::vector<std::string> levels;
    bool trailing = false;
    bool plain = SplitBeneath(path, &levels, &trailing);
    for (const std::string& level : levels)
        plain = plain && plat::IsPlainName(level);
    if (!plain) {
        plat::SetLastSystemError(plat::kErrorAccessDenied);
        return false;
    }
    plat::BeneathDir top;
    plat::BeneathDir made;
    return plat::OpenRootDir(root.c_str(), &top) && plat::OpenDirBeneath(top, levels, true, &made);
}

bool PeerDelete(const std::string& root, const char* path)
{
    if (path == nullptr || path[0] == '\0')
        return true;
    const bool tree = std::string(path).back() == plat::kPathSeparator;
    if (root.empty())
        return (tree ? DeleteDirectoryTree(path, TRUE) : ForceDeleteFile(path)) != FALSE;
    CPeerPath peer;
    if (!peer.Open(root, path))
        return false;
    return tree ? plat::DeleteTreeAt(peer.Dir(), peer.Name()) : plat::RemoveFileAt(peer.Dir(), peer.Name());
}
