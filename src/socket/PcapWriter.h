// A classic pcap file of TCP segments with synthesised IPv4 and TCP
// headers (LINKTYPE_RAW), for the capture of a connection's bytes. The
// layout is the one the packet analysers read; it is written down here once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/DiskFile.h"

namespace pcap {

// File header: magic, version 2.4, zone 0, accuracy 0, snapshot length,
// link type.
constexpr std::uint32_t kMagicMicroseconds = 0xA1B2C3D4u;
constexpr std::uint32_t kSnapLength = 65535;
constexpr std::uint32_t kLinkTypeRaw = 101; // the record starts at the IPv4 header
constexpr std::size_t kFileHeaderSize = 24;
// Record header: seconds, microseconds, bytes kept, bytes on the wire.
constexpr std::size_t kRecordHeaderSize = 16;
constexpr std::size_t kIpHeaderSize = 20;  // no options
constexpr std::size_t kTcpHeaderSize = 20; // no options
constexpr std::size_t kSegmentHeaders = kIpHeaderSize + kTcpHeaderSize;
// The most one record carries, so that the IPv4 total length fits.
constexpr std::size_t kSegmentPayloadMax = kSnapLength - kSegmentHeaders;
static_assert(kSegmentPayloadMax + kSegmentHeaders <= 0xFFFF, "IPv4 total length is 16 bits");

constexpr std::uint8_t kTcpFin = 0x01;
constexpr std::uint8_t kTcpSyn = 0x02;
constexpr std::uint8_t kTcpPush = 0x08;
constexpr std::uint8_t kTcpAck = 0x10;

// One end of a TCP connection: the address in network byte order, the
// port in host byte order.
struct Endpoint {
    std::uint32_t address;
    std::uint16_t port;
};

struct Segment {
    Endpoint from;
    Endpoint to;
    std::uint32_t seq;
    std::uint32_t ack;
    std::uint8_t flags;
    std::int64_t microseconds; // since 1970
};

// Bytes of a segment that lie in several buffers.
struct Part {
    const void* data;
    std::size_t length;
};

} // namespace pcap

// Not thread-safe: its owner serialises the calls. A write failure of the
// disk (full, gone) ends the capture: the file keeps what was written, and
// later records are dropped; nothing of it reaches the connection.
class CPcapWriter {
public:
    CPcapWriter() : m_file(CDiskFile::Accept::kHeldNamedFile) {}
    ~CPcapWriter() { Close(); }
    CPcapWriter(const CPcapWriter&) = delete;
    CPcapWriter& operator=(const CPcapWriter&) = delete;

    // Creates or empties `path` and writes the file header; false (with a
    // diagnostic line) when it cannot. The file is held, under any of its
    // names, until Close: another writer, of this process or another, is
    // refused before it empties anything.
    bool Open(const std::string& path);
    // Which file is open (plat::FileStamp's device and file); false when none.
    bool Identify(plat::FileStamp* stamp) const { return m_open && m_file.Stamp(stamp); }
    // One record: the headers and the parts' bytes (at most
    // kSegmentPayloadMax in all).
    void Write(const pcap::Segment& segment, const pcap::Part* parts, int count);
    // Hands the records held back to the system.
    void Flush();
    void Close();

    bool Failed() const { return m_failed; }
    // The diagnostic line of a failure not yet told, "" when none: told by
    // the owner once it holds no lock, since a host's hook may call back.
    std::string TakeFailureLine();
    const std::string& Path() const { return m_path; }
    // Microseconds since 1970 of the oldest record held back; 0 when none is.
    std::int64_t HeldSince() const { return m_heldSince; }

private:
    void Append(const void* data, std::size_t length);
    void Fail(int cause);

    CDiskFile m_file;
    bool m_open = false;
    std::string m_path;
    std::vector<std::uint8_t> m_buffer;
    std::int64_t m_heldSince = 0;
    std::uint16_t m_ipId = 0;
    bool m_failed = false;
    std::string m_failureLine;
};
