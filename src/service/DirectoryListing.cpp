// The directory listing: one FileInfoRecord per entry, back to back, in a
// temporary file named after the connection's socket.
#include <cstdio>
#include <cstring>

#include "platform/Beneath.h"
#include "platform/DiskFile.h"
#include "platform/FileOps.h"
#include "platform/FileSystem.h"
#include "platform/SystemErrors.h"
#include "service/PeerPath.h"
#include "service/RecordFields.h"
#include "service/ServiceLimits.h"
#include "service/TempDir.h"
#include "support/FileCause.h"
#include "support/FileSystemHelpers.h"
#include "vexacomm/GLSocket.h"

namespace {
constexpr unsigned kListingOpenFlags = CFile::modeCreate | CFile::modeWrite | CFile::shareCompat;
static_assert(kListingOpenFlags == 0x1001, "create, write, no sharing");
// Names tried beside the documented one before the listing gives up.
constexpr int kListingNameTries = 1000;

// Creates `listing` as "<stem>.dir.tmp" or, while that name is taken (by
// another process, another connection with the same handle, or anything
// else), as "<stem>-<k>.dir.tmp"; "" when no name could be had. A file
// that is not this listing's own is never opened, so never emptied or read.
// Beneath a root the stem is taken as a peer's path and the file is made
// in the directory it names, created as needed.
std::string CreateListingFile(CDiskFile* listing, const std::string& root, const std::string& stem)
{
    CPeerPath peer;
    if (!root.empty() && (!peer.Open(root, stem.c_str(), true) || peer.Name().empty()))
        return std::string();
    for (int k = 0; k <= kListingNameTries; ++k) {
        std::string suffix = (k == 0 ? std::string() : "-" + std::to_string(k)) + ".dir.tmp";
        if (root.empty() ? listing->Open((stem + suffix).c_str(), kListingOpenFlags)
                         : listing->OpenAt(peer.Dir(), (peer.Name() + suffix).c_str(), kListingOpenFlags))
            return listing->GetFilePath();
        if (plat::LastSystemError() != plat::kErrorFileExists)
            break;
    }
    return std::string();
}

// The connection's previous listing, when a plain file still holds its
// name; beneath a root, only one inside it.
void RemoveListingFile(const std::string& root, const std::string& name)
{
    if (root.empty()) {
        plat::RemoveRegularFile(name.c_str());
        return;
    }
    const std::string prefix = root.back() == plat::kPathSeparator ? root : root + plat::kPathSeparator;
    CPeerPath peer;
    plat::FileStatus status;
    if (name.compare(0, prefix.size(), prefix) == 0 && peer.Open(root, name.c_str() + prefix.size()) &&
        plat::StatAt(peer.Dir(), peer.Name(), &status, nullptr) && (status.attribute & plat::FILE_ATTR_DIRECTORY) == 0)
        plat::RemoveFileAt(peer.Dir(), peer.Name());
}
} // namespace

std::string CGLSocket::ListDirectory(const FileRequest* request)
{
    std::string tempDir = GetTempDir();
    const std::string root = ServiceLimitsOf(this).root;
    if (root.empty())
        CreateDirectoryPath(tempDir.c_str());
    // A pattern that would lead out of the root gets no listing at all.
    CPeerPath probe;
    if (!root.empty() && !probe.Open(root, request->Path(), false, true) &&
        plat::LastSystemError() == plat::kErrorAccessDenied) {
        SetError(plat::kErrorAccessDenied);
        return std::string();
    }
    CDiskFile listing(CDiskFile::Accept::kNewFile);
    std::string name;
    {
        CSingleLock lock(&m_lock);
        // The handle as an unsigned 32-bit number: no socket gives 4294967295.
        char number[16];
        std::snprintf(number, sizeof(number), "%lu",
                      static_cast<unsigned long>(static_cast<std::uint32_t>(m_hSocket)));
        // A new listing replaces this connection's previous one. Whatever
        // has taken that name since, other than a plain file, is not ours.
        if (!m_strListingFile.empty())
            RemoveListingFile(root, m_strListingFile);
        name = CreateListingFile(&listing, root, tempDir + number);
        m_strListingFile = name;
    }
    if (name.empty()) {
        SetError(COMM_ERR_FILE_CREATE);
        return std::string();
    }
    WriteListingRecords(&listing, request->Path());
    listing.Close();
    return name;
}

// Beneath a root the records' paths are the peer's view of them (the root a
// lone separator) and their attributes those of the entries found.
void CGLSocket::WriteListingRecords(CFile* listing, const char* pattern)
{
    const std::string root = ServiceLimitsOf(this).root;
    plat::FileFind finder;
    CPeerPath peer;
    bool more = root.empty() ? finder.FindFile(pattern)
                             : peer.Open(root, pattern, false, true) &&
                                   finder.FindIn(peer.Dir(), peer.Name().c_str(), peer.PeerDirectory());
    while (more) {
        more = finder.FindNextFile();
        if (finder.IsDots())
            continue;
        std::int64_t written = finder.GetLastWriteTime();
        FileInfoRecord record;
        std::memset(&record, 0, sizeof(record));
        std::string path = finder.GetFilePath();
        CopyTextField(record.path, sizeof(record.path), path.c_str());
        // Taken from the path as stored: a cut path may name nothing.
        record.attributes = root.empty() ? plat::GetPathAttributes(record.path) : finder.GetAttributes();
        record.size = finder.GetLength();
        record.count = record.size;
        SetRecordTime(&record, written);
        try {
            listing->Write(&record, sizeof(record));
        } catch (CFileException* e) {
            listing->Close();
            SetError(TakeCause(e));
            break;
        }
    }
    finder.Close();
}
