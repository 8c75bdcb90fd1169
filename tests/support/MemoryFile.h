// CFile doubles for transfers: a file in memory that can be told to fail.
#pragma once

#include <cstdint>
#include <string>

#include "VexaCommFile.h"

// Keeps every byte written. The position starts where the test says, as if
// that much data were already in the file; `failOnWrite` makes that write
// (1 = the first) throw a CFileException with `failCause`, writing nothing.
class MemoryFile : public CFile {
public:
    explicit MemoryFile(std::uint32_t startPosition = 0) : m_position(startPosition) {}

    void FailOnWrite(int writeNumber, int cause)
    {
        m_failOnWrite = writeNumber;
        m_failCause = cause;
    }

    void Write(const void* buffer, uint32_t count) override
    {
        ++m_writes;
        if (m_writes == m_failOnWrite)
            throw new CFileException(m_failCause);
        m_data.append(static_cast<const char*>(buffer), count);
        m_position += count;
    }
    uint32_t GetPosition() const override { return m_position; }
    uint32_t GetLength() const override { return m_position; }

    const std::string& Data() const { return m_data; }
    int Writes() const { return m_writes; }

private:
    std::string m_data;
    std::uint32_t m_position;
    int m_writes = 0;
    int m_failOnWrite = 0;
    int m_failCause = 0;
};
