// File classes of a host: the library writes into them through CFile.
#pragma once

#include <cstdint>

#include "VexaCommFile.h"

class ProgressBar;
class SystemFile;

// Passes every packet on to a file and shows the byte count on a bar.
class ShownFile : public CFile {
public:
    ShownFile(SystemFile* file, ProgressBar* bar) : m_file(file), m_bar(bar) {}
    void Write(const void* buffer, uint32_t count) override;
    uint32_t GetPosition() const override;

private:
    SystemFile* m_file;
    ProgressBar* m_bar;
};

// Compares every byte with the simulator's generated data instead of
// storing it.
class VerifyingFile : public CFile {
public:
    explicit VerifyingFile(ProgressBar* bar) : m_bar(bar) {}
    void Write(const void* buffer, uint32_t count) override;
    uint32_t GetPosition() const override { return static_cast<uint32_t>(m_written); }
    uint64_t Written() const { return m_written; }
    uint64_t Mismatches() const { return m_mismatches; }

private:
    ProgressBar* m_bar;
    uint64_t m_written = 0;
    uint64_t m_mismatches = 0;
};
