// The program's file objects for VexaComm_GetAsdu10.
#include "cli/HostFiles.h"

#include "DeviceSimulator.h"

void VerifyingFile::Write(const void* buffer, uint32_t count)
{
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    for (uint32_t i = 0; i < count; ++i) {
        if (bytes[i] != GeneratedByte(m_written + i))
            ++m_mismatches;
    }
    m_written += count;
}
