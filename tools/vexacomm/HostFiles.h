// File classes of a host: the library writes into them through CFile.
#pragma once

#include <cstdio>
#include <string>

#include "VexaCommFile.h"

class ProgressBar;

// Writes to a stdio stream; counts bytes and reports them to a bar.
class StdioFile : public CFile {
public:
    StdioFile(std::FILE* file, ProgressBar* bar) : m_file(file), m_bar(bar) {}
    void Write(const void* buffer, uint32_t count) override;
    uint32_t GetPosition() const override { return static_cast<uint32_t>(m_written); }
    uint64_t Written() const { return m_written; }

private:
    std::FILE* m_file;
    ProgressBar* m_bar;
    uint64_t m_written = 0;
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
