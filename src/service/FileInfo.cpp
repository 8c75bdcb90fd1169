// The service side's file records: a path's time, size and attributes,
// with or without its version text.
#include <cstring>

#include "platform/FileSystem.h"
#include "platform/SystemErrors.h"
#include "service/PeerFiles.h"
#include "service/RecordFields.h"
#include "service/ServiceLimits.h"
#include "vexacomm/GLSocket.h"
#include "support/FileSystemHelpers.h"

// The path goes into the record as the caller wrote it, relative or not;
// a path longer than the field's 255 characters is cut.
BOOL CGLSocket::GetFileInfo(FileInfoRecord* record, const char* path)
{
    std::memset(record, 0, sizeof(*record));
    plat::FileStatus status;
    if (!PeerStatus(ServiceLimitsOf(this).root, path, &status)) {
        SetError(plat::LastSystemError());
        return FALSE;
    }
    FillInfoRecord(record, path, status.mtime, status.size, status.attribute);
    return TRUE;
}

BOOL CGLSocket::GetFileInfoVersion(FileInfoVersionRecord* record, const char* path)
{
    std::memset(record, 0, sizeof(*record));
    plat::FileStatus status;
    std::string version;
    if (!PeerStatus(ServiceLimitsOf(this).root, path, &status, &version)) {
        SetError(plat::LastSystemError());
        return FALSE;
    }
    FillInfoRecord(&record->info, path, status.mtime, status.size, status.attribute);
    CopyTextField(record->version, sizeof(record->version), version.c_str());
    return TRUE;
}
