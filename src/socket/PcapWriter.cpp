// The pcap file of a capture: records built in a buffer, handed to the
// disk in large writes.
#include "socket/PcapWriter.h"

#include <cstring>

#include "platform/SystemErrors.h"
#include "support/FileCause.h"

namespace {

constexpr std::size_t kBufferSize = 256 * 1024;

void Put16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v)
{
    Put16(p, static_cast<std::uint16_t>(v));
    Put16(p + 2, static_cast<std::uint16_t>(v >> 16));
}
// Network byte order.
void Put16Be(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
void Put32Be(std::uint8_t* p, std::uint32_t v)
{
    Put16Be(p, static_cast<std::uint16_t>(v >> 16));
    Put16Be(p + 2, static_cast<std::uint16_t>(v));
}

std::uint16_t HeaderChecksum(const std::uint8_t* header, std::size_t size)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        sum += static_cast<std::uint32_t>(header[i] << 8 | header[i + 1]);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

} // namespace

bool CPcapWriter::Open(const std::string& path)
{
    Close();
    m_path = path;
    m_failed = false;
    // Others may read it meanwhile: an analyser following the capture.
    if (!m_file.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::shareDenyWrite)) {
        const int error = plat::LastSystemError();
        m_failureLine = "CPcapWriter::Open(" + path + "): " +
                        (error == plat::kErrorSharingViolation
                             ? std::string("another writer (a capture of another process?) has the file; left as it is")
                             : "cannot create the capture file (system error " + std::to_string(error) + ")") +
                        "\n";
        m_failed = true;
        return false;
    }
    m_open = true;
    m_buffer.reserve(kBufferSize);
    std::uint8_t header[pcap::kFileHeaderSize] = {};
    Put32(header, pcap::kMagicMicroseconds);
    Put16(header + 4, 2);
    Put16(header + 6, 4);
    Put32(header + 16, pcap::kSnapLength);
    Put32(header + 20, pcap::kLinkTypeRaw);
    Append(header, sizeof(header));
    Flush();
    return !m_failed;
}

void CPcapWriter::Write(const pcap::Segment& segment, const pcap::Part* parts, int count)
{
    if (m_failed || !m_open)
        return;
    std::size_t length = 0;
    for (int i = 0; i < count; ++i)
        length += parts[i].length;
    if (length > pcap::kSegmentPayloadMax)
        return;
    const std::size_t recordBytes = pcap::kSegmentHeaders + length;
    std::uint8_t head[pcap::kRecordHeaderSize + pcap::kSegmentHeaders] = {};
    Put32(head, static_cast<std::uint32_t>(segment.microseconds / 1000000));
    Put32(head + 4, static_cast<std::uint32_t>(segment.microseconds % 1000000));
    Put32(head + 8, static_cast<std::uint32_t>(recordBytes));
    Put32(head + 12, static_cast<std::uint32_t>(recordBytes));

    std::uint8_t* ip = head + pcap::kRecordHeaderSize;
    ip[0] = 0x45; // version 4, five words
    Put16Be(ip + 2, static_cast<std::uint16_t>(recordBytes));
    Put16Be(ip + 4, m_ipId++);
    Put16Be(ip + 6, 0x4000); // don't fragment
    ip[8] = 64;              // time to live
    ip[9] = 6;               // TCP
    // Addresses are kept in network byte order: their bytes go as they are.
    std::memcpy(ip + 12, &segment.from.address, 4);
    std::memcpy(ip + 16, &segment.to.address, 4);
    Put16Be(ip + 10, HeaderChecksum(ip, pcap::kIpHeaderSize));

    // The TCP checksum stays 0: the analysers do not check it unless told
    // to, and computing it would cost a pass over every byte.
    std::uint8_t* tcp = ip + pcap::kIpHeaderSize;
    Put16Be(tcp, segment.from.port);
    Put16Be(tcp + 2, segment.to.port);
    Put32Be(tcp + 4, segment.seq);
    Put32Be(tcp + 8, segment.ack);
    tcp[12] = 0x50; // five words
    tcp[13] = segment.flags;
    Put16Be(tcp + 14, 0xFFFF); // window

    if (m_buffer.empty())
        m_heldSince = segment.microseconds;
    Append(head, sizeof(head));
    for (int i = 0; i < count; ++i)
        Append(parts[i].data, parts[i].length);
}

void CPcapWriter::Append(const void* data, std::size_t length)
{
    if (m_buffer.size() + length > kBufferSize)
        Flush();
    if (m_failed)
        return;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    m_buffer.insert(m_buffer.end(), bytes, bytes + length);
}

void CPcapWriter::Flush()
{
    if (m_buffer.empty() || m_failed)
        return;
    try {
        m_file.Write(m_buffer.data(), static_cast<std::uint32_t>(m_buffer.size()));
    } catch (CFileException* e) {
        Fail(TakeCause(e));
    }
    m_buffer.clear();
    m_heldSince = 0;
}

void CPcapWriter::Close()
{
    if (!m_open)
        return;
    Flush();
    m_file.Close();
    m_file.Release();
    m_open = false;
}

void CPcapWriter::Fail(int cause)
{
    // Said once: later records are dropped without a word.
    m_failureLine = "CPcapWriter(" + m_path + "): capture stopped, file error " + std::to_string(cause) + "\n";
    m_failed = true;
    m_buffer.clear();
    m_heldSince = 0;
}

std::string CPcapWriter::TakeFailureLine()
{
    std::string line;
    line.swap(m_failureLine);
    return line;
}
