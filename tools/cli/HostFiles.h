// File classes of a host: the library writes into them through CFile.
#pragma once

#include <cstdint>

#include "VexaCommFile.h"

// Compares every byte with the simulator's generated data instead of
// storing it.
class VerifyingFile : public CFile {
public:
    void Write(const void* buffer, uint32_t count) override;
    uint32_t GetPosition() const override { return static_cast<uint32_t>(m_written); }
    uint64_t Written() const { return m_written; }
    uint64_t Mismatches() const { return m_mismatches; }

private:
    uint64_t m_written = 0;
    uint64_t m_mismatches = 0;
};
