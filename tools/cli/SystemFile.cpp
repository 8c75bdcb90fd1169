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

int WriteWholeFile(const std::string& path, const std::string& text)
{
    SystemFile file;
    bool created = false;
    int error = file.OpenOutput(path, &created, true);
    try {
        if (error == 0 && (error = file.Truncate()) == 0)
            file.Write(text.data(), static_cast<std::uint32_t>(text.size()));
    } catch (CFileException* e) {
        e->Delete();
        error = file.LastError();
    }
    const int closeError = file.CloseChecked();
    return error != 0 ? error : closeError;
}
