// The disk file's parts that do not depend on the system's file calls.
#include "platform/DiskFile.h"

#include "platform/Backend.h"

CDiskFile::~CDiskFile()
{
    Close();
    Release();
}

void CDiskFile::ThrowLastError(int fallbackCause) const
{
    const long error = plat::backend::LastFileError();
    throw new CFileException(error != 0 ? plat::FileExceptionCause(error) : fallbackCause, error);
}
