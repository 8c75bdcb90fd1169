// SystemFile's parts that do not depend on the system's file calls.
#include "cli/SystemFile.h"

#include <climits>

SystemFile::~SystemFile() { CloseChecked(); }

void SystemFile::Fail(int error, int cause)
{
    m_error = error;
    throw new CFileException(cause, error);
}

uint32_t SystemFile::GetLength() const
{
    const std::uint64_t size = Size();
    return size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size);
}
