// The directory listing: one FileInfoRecord per entry, back to back, in a
// temporary file named after the connection's socket.
#include <cstdio>
#include <cstring>

#include "platform/DiskFile.h"
#include "platform/FileOps.h"
#include "platform/FileSystem.h"
#include "platform/SystemErrors.h"
#include "service/RecordFields.h"
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
std::string CreateListingFile(CDiskFile* listing, const std::string& stem)
{
    for (int k = 0; k <= kListingNameTries; ++k) {
        std::string name = stem + (k == 0 ? std::string() : "-" + std::to_string(k)) + ".dir.tmp";
        if (listing->Open(name.c_str(), kListingOpenFlags))
            return name;
        if (plat::LastSystemError() != plat::kErrorFileExists)
            break;
    }
    return std::string();
}
} // namespace

std::string CGLSocket::ListDirectory(const FileRequest* request)
{
    std::string tempDir = GetTempDir();
    CreateDirectoryPath(tempDir.c_str());
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
            plat::RemoveRegularFile(m_strListingFile.c_str());
        name = CreateListingFile(&listing, tempDir + number);
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

void CGLSocket::WriteListingRecords(CFile* listing, const char* pattern)
{
    plat::FileFind finder;
    bool more = finder.FindFile(pattern);
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
        record.attributes = plat::GetPathAttributes(record.path);
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
