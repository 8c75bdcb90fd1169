// CFile doubles: files in memory that can be told to misbehave.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

class CMemoryFile : public CFile {
public:
    CMemoryFile() = default;
    explicit CMemoryFile(std::string content) : m_data(std::move(content)) {}

    bool Open(const char*, unsigned) override { return true; }
    void Close() override {}
    std::uint32_t Read(void* buffer, std::uint32_t count) override;
    void Write(const void* buffer, std::uint32_t count) override;
    std::uint64_t Seek(std::int64_t offset, unsigned from) override;
    std::uint32_t GetLength() const override;
    std::uint32_t GetPosition() const override { return static_cast<std::uint32_t>(m_pos); }

    const std::string& Data() const { return m_data; }
    std::string& Data() { return m_data; }

    // Each Read delivers at most this many bytes (0: no limit).
    void SetMaxRead(std::uint32_t max) { m_maxRead = max; }
    // GetLength reports this instead of the real size (for a source that
    // shrinks or lies); -1 restores the real size.
    void SetReportedLength(std::int64_t length) { m_reportedLength = length; }
    // Writes throw CFileException(diskFull) once this many bytes are written.
    void FailWritesAfter(std::uint64_t bytes) { m_writeLimit = bytes; }

    unsigned ReadCalls() const { return m_readCalls; }
    // The byte count of every Write, in order.
    const std::vector<std::uint32_t>& WriteSizes() const { return m_writeSizes; }

private:
    std::string m_data;
    std::size_t m_pos = 0;
    std::uint32_t m_maxRead = 0;
    std::int64_t m_reportedLength = -1;
    std::uint64_t m_writeLimit = UINT64_MAX;
    std::uint64_t m_written = 0;
    unsigned m_readCalls = 0;
    std::vector<std::uint32_t> m_writeSizes;
};

// A target that only counts, for throughput measurements.
class CNullFile : public CFile {
public:
    void Write(const void*, std::uint32_t count) override { m_bytes += count; }
    std::uint64_t Seek(std::int64_t, unsigned) override { return 0; }
    std::uint64_t Bytes() const { return m_bytes; }

private:
    std::uint64_t m_bytes = 0;
};
