// The program's file objects for VexaComm_GetAsdu10.
#include "cli/HostFiles.h"

#include "DeviceSimulator.h"
#include "cli/ProgressBar.h"
#include "cli/SystemFile.h"

void ShownFile::Write(const void* buffer, uint32_t count)
{
    try {
        m_file->Write(buffer, count);
    } catch (CFileException*) {
        m_bar->SetBytes(m_file->Written());
        throw;
    }
    m_bar->SetBytes(m_file->Written());
}

uint32_t ShownFile::GetPosition() const { return m_file->GetPosition(); }

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
