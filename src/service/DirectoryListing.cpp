// The directory listing: one FileInfoRecord per entry, back to back, in a
// temporary file named after the connection's socket.
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/Beneath.h"
#include "platform/DiskFile.h"
#include "platform/FileSystem.h"
#include "platform/SystemErrors.h"
#include "service/ListingFiles.h"
#include "service/PeerPath.h"
#include "service/RecordFields.h"
#include "service/ServiceLimits.h"
#include "service/TempDir.h"
#include "support/FileCause.h"
#include "support/FileSystemHelpers.h"
#include "vexacomm/GLSocket.h"

namespace {
constexpr unsigned kListingOpenFlags = CFile::modeCreate | CFile::modeWrite | CFile::shareDenyNone;
static_assert(kListingOpenFlags == 0x1041, "create, write, others may read and write");
// Names tried beside the documented one before the listing gives up.
constexpr int kListingNameTries = 1000;

// The listing an object holds, and where it made it: a host path, or
// beneath `root` the peer's path.
struct HeldListing {
    std::shared_ptr<CDiskFile> file;
    std::string root;
    std::string path;
};

// Kept beside the objects, as their service limits are (the class layout
// is an interface).
std::mutex g_heldMutex;
std::map<const void*, HeldListing> g_held;

// Opens `listing` as "<stem>.dir.tmp" or, while another listing (of this
// process or another) holds that name, or something other than a plain
// file has it, as "<stem>-<k>.dir.tmp". A file nobody holds is a stale
// listing and is reused; a file that is not a plain one is never opened,
// so never emptied or read. Beneath a root the stem is taken as a peer's
// path and the file is made in the directory it names, created as needed.
// `held->path` stays "" when no name could be had.
void CreateListingFile(const std::shared_ptr<CDiskFile>& listing, const std::string& root, const std::string& stem,
                       HeldListing* held)
{
    CPeerPath peer;
    if (!root.empty() && (!peer.Open(root, stem.c_str(), true) || peer.Name().empty()))
        return;
    for (int k = 0; k <= kListingNameTries; ++k) {
        std::string suffix = (k == 0 ? std::string() : "-" + std::to_string(k)) + ".dir.tmp";
        if (root.empty() ? listing->Open((stem + suffix).c_str(), kListingOpenFlags)
                         : listing->OpenAt(peer.Dir(), (peer.Name() + suffix).c_str(), kListingOpenFlags)) {
            *held = HeldListing{listing, root, stem + suffix};
            return;
        }
        const int error = plat::LastSystemError();
        if (error != plat::kErrorSharingViolation && error != plat::kErrorAccessDenied)
            break;
    }
}

// Deletes the listing, if its name is still its file's, before letting
// the name go.
void RemoveListingFile(const HeldListing& held)
{
    if (held.root.empty()) {
        held.file->RemoveHeld(nullptr, held.path.c_str());
        return;
    }
    CPeerPath peer;
    if (peer.Open(held.root, held.path.c_str()) && !peer.Name().empty())
        held.file->RemoveHeld(&peer.Dir(), peer.Name().c_str());
    else
        held.file->Release();
}
} // namespace

void DropListingOf(const void* object)
{
    HeldListing held;
    {
        std::lock_guard<std::mutex> guard(g_heldMutex);
        auto found = g_held.find(object);
        if (found == g_held.end())
            return;
        held = found->second;
        g_held.erase(found);
    }
    RemoveListingFile(held);
}

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
    // Shared with the registry: another thread's listing on this object may
    // drop it while this one still writes it.
    auto listing = std::make_shared<CDiskFile>(CDiskFile::Accept::kHeldFile);
    std::string name;
    {
        CSingleLock lock(&m_lock);
        // The handle as an unsigned 32-bit number: no socket gives 4294967295.
        char number[16];
        std::snprintf(number, sizeof(number), "%lu",
                      static_cast<unsigned long>(static_cast<std::uint32_t>(m_hSocket)));
        // A new listing replaces this connection's previous one, which
        // first gives up its name, free to be had again.
        DropListingOf(this);
        HeldListing held;
        CreateListingFile(listing, root, tempDir + number, &held);
        if (!held.path.empty()) {
            name = listing->GetFilePath();
            std::lock_guard<std::mutex> guard(g_heldMutex);
            g_held[this] = held;
        }
        m_strListingFile = name;
    }
    if (name.empty()) {
        SetError(COMM_ERR_FILE_CREATE);
        return std::string();
    }
    WriteListingRecords(listing.get(), request->Path());
    listing->Close();
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
