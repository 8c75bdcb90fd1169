// Files that are about to be received or sent, and their closing. The
// caller owns each file object until it hands it back to be closed.
#include <memory>
#include <new>
#include <string>

#include "platform/DiskFile.h"
#include "platform/FileOps.h"
#include "platform/FileSystem.h"
#include "platform/SystemErrors.h"
#include "service/PeerFiles.h"
#include "service/PeerPath.h"
#include "service/RecordFields.h"
#include "service/ServiceLimits.h"
#include "support/FileCause.h"
#include "support/FileSystemHelpers.h"
#include "vexacomm/GLSocket.h"

namespace {

constexpr unsigned kReceiveOpenFlags = CFile::modeCreate | CFile::modeWrite | CFile::shareCompat;
constexpr unsigned kSendOpenFlags = CFile::modeRead | CFile::shareDenyWrite;
static_assert(kReceiveOpenFlags == 0x1001, "create, write, no sharing");
static_assert(kSendOpenFlags == 0x20, "read, others may only read");

// The ".lrz" copy beside a large source is reused only while its side
// record "<copy>.src" says it was made from the source as it is now: the
// same file, size, modification and status change, to the system's full
// resolution. Times alone cannot say it: a copier sets them back (cp -p,
// tar, rsync -t). The copy's own format stays as others read it.
const char kRecordSuffix[] = ".src";

std::string StampText(const char* what, const plat::FileStamp& stamp)
{
    return std::string(what) + " " + std::to_string(stamp.device) + " " + std::to_string(stamp.file) + " " +
           std::to_string(stamp.size) + " " + std::to_string(stamp.modified) + " " +
           std::to_string(stamp.changed) + "\n";
}

std::string RecordText(const plat::FileStamp& source, const plat::FileStamp& copy)
{
    return "vexacomm compressed copy 1\n" + StampText("source", source) + StampText("copy", copy);
}

bool PeerStamp(const std::string& root, const std::string& path, plat::FileStamp* stamp)
{
    if (root.empty())
        return plat::StampPath(path.c_str(), stamp);
    CPeerPath peer;
    return peer.Open(root, path.c_str()) && !peer.Name().empty() && !peer.Trailing() &&
           plat::StampAt(peer.Dir(), peer.Name(), stamp);
}

// The record's text; "" when there is none (a copy of an older version).
std::string ReadRecord(const std::string& root, const std::string& path)
{
    CDiskFile file(CDiskFile::Accept::kRegularFile);
    char text[512];
    try {
        if (!PeerOpen(root, &file, path.c_str(), CFile::modeRead | CFile::shareDenyNone, false))
            return std::string();
        return std::string(text, file.Read(text, sizeof(text)));
    } catch (CFileException* e) {
        e->Delete();
        return std::string();
    }
}

// Whole or not at all: a record that cannot be written leaves none, and
// the copy is made again next time.
void WriteRecord(const std::string& root, const std::string& path, const std::string& text)
{
    const std::string temp = path + ".z!!";
    PeerDelete(root, temp.c_str());
    CDiskFile out(CDiskFile::Accept::kRegularFileNoLink);
    bool written = false;
    try {
        if (PeerOpen(root, &out, temp.c_str(), CFile::modeCreate | CFile::modeWrite, false)) {
            out.Write(text.data(), static_cast<std::uint32_t>(text.size()));
            out.CloseWritten();
            written = true;
        }
    } catch (CFileException* e) {
        e->Delete();
        out.Close();
    }
    bool moved = false;
    if (written && root.empty()) {
        moved = plat::MoveFile(temp.c_str(), path.c_str());
    } else if (written) {
        CPeerPath from, to;
        moved = from.Open(root, temp.c_str()) && to.Open(root, path.c_str()) &&
                plat::RenameAt(to.Dir(), from.Name(), to.Name());
    }
    if (!moved)
        PeerDelete(root, temp.c_str());
}

bool CopyIsCurrent(const std::string& root, const plat::FileStamp& source, const std::string& copy)
{
    plat::FileStamp made;
    return source.size >= COMPRESS_MIN_SIZE && PeerStamp(root, copy, &made) &&
           ReadRecord(root, copy + kRecordSuffix) == RecordText(source, made);
}

// `path` opened as a regular file for a transfer, or null with the reason
// recorded on `socket`.
CFile* OpenTransferFile(CGLSocket& socket, const std::string& root, const std::string& path, unsigned flags,
                        bool createLevels)
{
    std::unique_ptr<CDiskFile> file(new (std::nothrow) CDiskFile(CDiskFile::Accept::kRegularFile));
    if (!file) {
        socket.SetError(COMM_ERR_FILE_CREATE);
        return nullptr;
    }
    try {
        if (!PeerOpen(root, file.get(), path.c_str(), flags, createLevels)) {
            socket.SetError(plat::LastSystemError());
            return nullptr;
        }
    } catch (CFileException* e) {
        socket.SetError(TakeCause(e));
        file->Close();
        return nullptr;
    }
    return file.release();
}

} // namespace

CFile* CGLSocket::CreateReceiveFile(const FileInfoRecord* record)
{
    // The path field must end within the record; nothing behind it is read.
    std::size_t length = BoundedLength(record->path, sizeof(record->path));
    if (length == sizeof(record->path)) {
        SetError(plat::kErrorFilenameTooLong);
        return nullptr;
    }
    try {
        std::string path(record->path, length);
        const std::string root = ServiceLimitsOf(this).root;
        if (root.empty()) {
            std::string::size_type cut = path.rfind(plat::kPathSeparator);
            std::string directory = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
            CreateDirectoryPath(directory.c_str());
        }
        return OpenTransferFile(*this, root, path, kReceiveOpenFlags, true);
    } catch (const std::bad_alloc&) {
        SetError(COMM_ERR_FILE_CREATE);
        return nullptr;
    }
}

CFile* CGLSocket::OpenSendFile(FileInfoRecord* record, const FileRequest* request)
{
    const std::string source = request->Path();
    const std::string root = ServiceLimitsOf(this).root;
    std::string sendPath = source;
    if (request->flags & FILE_REQ_COMPRESSED) {
        sendPath += ".lrz";
        // The record would carry a cut path, naming neither file.
        if (sendPath.size() >= sizeof(record->path)) {
            SetError(plat::kErrorFilenameTooLong);
            return nullptr;
        }
        // Beneath a root a refused source gets no copy made or sent.
        plat::FileStatus status;
        if (!root.empty() && !PeerStatus(root, source.c_str(), &status)) {
            SetError(plat::LastSystemError());
            return nullptr;
        }
        plat::FileStamp before;
        const bool stamped = PeerStamp(root, source, &before);
        if (!stamped || !CopyIsCurrent(root, before, sendPath)) {
            const std::string recordPath = sendPath + kRecordSuffix;
            PeerDelete(root, recordPath.c_str());
            // A copy that could not be written in full is no copy; its cause
            // is reported like every other file failure here instead of
            // leaving through the virtual table.
            try {
                PeerCompress(root, source, sendPath);
            } catch (CFileException* e) {
                SetError(TakeCause(e));
                return nullptr;
            }
            // A source that changed while it was read gets no record.
            plat::FileStamp after, made;
            if (stamped && before.size >= COMPRESS_MIN_SIZE && PeerStamp(root, source, &after) && after == before &&
                PeerStamp(root, sendPath, &made))
                WriteRecord(root, recordPath, RecordText(before, made));
        }
    }

    // Through the table, so that a derived class's version applies.
    if (!GetFileInfo(record, sendPath.c_str()))
        return nullptr;
    // An offset past the end would leave a count wrapped round to nearly
    // 4 GiB. The size field keeps only the low 32 bits of the size, and in
    // a file of 4 GiB or more every offset lies within the file.
    std::uint64_t whole = 0;
    if (request->startOffset > record->size &&
        !(PeerSize64(root, sendPath.c_str(), &whole) && whole > 0xFFFFFFFFu)) {
        SetError(plat::kErrorInvalidParameter);
        return nullptr;
    }
    record->startOffset = request->startOffset;
    // Taken from the size the offset was checked against; modulo 2^32 as
    // the size field itself.
    record->count = record->size - request->startOffset;

    return OpenTransferFile(*this, root, sendPath, kSendOpenFlags, false);
}

// A status this side does not know (2, 4 and above), or none at all,
// leaves the file open and with the caller.
void CGLSocket::CloseFileOnStatus(CFile* file, const std::uint16_t* status, BOOL check)
{
    if (file == nullptr)
        return;
    if (check) {
        if (status == nullptr)
            return;
        std::uint16_t value = *status;
        if (value != 0 && value != 1 && value != 3)
            return;
    }
    file->Close();
    delete file;
}

void CGLSocket::CloseTransferFile(CFile* file, int, int)
{
    if (file == nullptr)
        return;
    file->Close();
    delete file;
}
