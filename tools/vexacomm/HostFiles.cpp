#include "vexacomm/HostFiles.h"

#include <cerrno>

#include "DeviceSimulator.h"
#include "vexacomm/ProgressBar.h"

void StdioFile::Write(const void* buffer, uint32_t count)
{
    if (std::fwrite(buffer, 1, count, m_file) != count)
        throw new CFileException(errno == ENOSPC ? CFileException::diskFull
                                                 : CFileException::genericException,
                                 errno);
    m_written += count;
    if (m_bar != nullptr)
        m_bar->SetBytes(m_written);
}

void VerifyingFile::Write(const void* buffer, uint32_t count)
{
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    for (uint32_t i = 0; i < count; ++i) {
        if (bytes[i] != GeneratedByte(m_written + i))
            ++m_mismatches;
    }
    m_written += count;
    if (m_bar != nullptr)
        m_bar->SetBytes(m_written);
}
