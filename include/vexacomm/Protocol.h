// Wire format: packet header, payload limit, envelope and command codes.
// All multi-byte fields are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

// Header is command (4 bytes), payload length (4 bytes); the payload follows.
struct PacketHeader {
    std::uint32_t command;
    std::uint32_t length;
};
static_assert(sizeof(PacketHeader) == 8, "packet header is 8 bytes");

constexpr std::uint32_t PACKET_PAYLOAD_MAX = 16376;
constexpr std::size_t PACKET_HEADER_SIZE = sizeof(PacketHeader);
constexpr std::size_t PACKET_BUFFER_SIZE = PACKET_HEADER_SIZE + PACKET_PAYLOAD_MAX;
static_assert(PACKET_BUFFER_SIZE == 16384, "one packet buffer is 16 KiB");

// Envelope: head magic twice, the bare packet, then checksum and tail magic
// twice. The checksum is the byte sum of header and payload.
constexpr std::uint32_t ENVELOPE_HEAD_MAGIC = 0x76337692;
constexpr std::uint32_t ENVELOPE_TAIL_MAGIC = 0x76927633;
constexpr std::size_t ENVELOPE_HEAD_SIZE = 8;
struct EnvelopeTrailer {
    std::uint32_t checksum;
    std::uint32_t tail1;
    std::uint32_t tail2;
};
static_assert(sizeof(EnvelopeTrailer) == 12, "envelope trailer is 12 bytes");
constexpr std::size_t ENVELOPE_OVERHEAD = ENVELOPE_HEAD_SIZE + sizeof(EnvelopeTrailer);
static_assert(ENVELOPE_OVERHEAD == 20, "an envelope adds 20 bytes");
// 16384 bytes of 0xFF sum to 4,177,920: the checksum never wraps.
static_assert(PACKET_BUFFER_SIZE * 255u < 0xFFFFFFFFu, "checksum cannot overflow");

enum : std::uint32_t {
    CMD_REPLY = 1,
    CMD_PACKET_SIZE = 3,
    CMD_ACK_MODE = 4,
    CMD_IDENT = 58,
    CMD_CANCEL = 110,
    CMD_STATUS = 768,
    CMD_DEVICE_TYPE = 0x1000024,
    CMD_ASDU10 = 0x1003011,
    CMD_ENVELOPE_PROBE = 0x76337692,
};
static_assert(CMD_ENVELOPE_PROBE == ENVELOPE_HEAD_MAGIC, "the probe looks like an envelope head");

// Negotiation values.
constexpr std::uint16_t NEGOTIATE_QUERY = 0xFFFF;
constexpr std::uint16_t PACKET_SIZE_MIN = 248;
constexpr std::uint16_t PACKET_SIZE_DEFAULT = 16376;
constexpr std::uint16_t ACK_MODE_MAX = 30000;

// CMD_REPLY payload: code, a reserved zero word, then the error text in a
// cleared 256-byte area.
constexpr std::size_t REPLY_TEXT_OFFSET = 8;
constexpr std::size_t REPLY_TEXT_AREA = 256;
constexpr std::size_t REPLY_CLEARED_BYTES = REPLY_TEXT_OFFSET + REPLY_TEXT_AREA;
static_assert(REPLY_CLEARED_BYTES == 264, "code, reserved word and text area");

// A reply's length: code, reserved word, the text and its zero.
constexpr std::uint32_t ReplyLength(std::size_t textLength)
{
    return static_cast<std::uint32_t>(REPLY_TEXT_OFFSET + textLength + 1);
}

// Device service.
constexpr std::uint16_t DEVICE_PORT = 30282;
static_assert(DEVICE_PORT == 0x764A, "device port");

// ASDU 10 request block (the CMD_ASDU10 payload): an 8-byte head whose
// signed 16-bit entry count sits at byte 6 (-1 asks for everything), then
// 8 bytes per entry. The largest block fills one packet.
constexpr std::size_t ASDU10_HEAD_SIZE = 8;
constexpr std::size_t ASDU10_COUNT_OFFSET = 6;
constexpr std::size_t ASDU10_ENTRY_SIZE = 8;
constexpr int ASDU10_MAX_ENTRIES = 2046;
constexpr std::int16_t ASDU10_ALL_ENTRIES = -1;
// The device's answer to the request: the u32 total of data bytes to follow.
constexpr std::uint32_t ASDU10_ANSWER_SIZE = 4;
static_assert(ASDU10_HEAD_SIZE + ASDU10_ENTRY_SIZE * ASDU10_MAX_ENTRIES == PACKET_PAYLOAD_MAX,
              "8 + 8 * 2046 == 16376: the largest request fills a packet");
// Payload bytes of the request with `entries` entries: 8 + 8 * N, so that
// -1 (everything) goes out as an empty payload.
constexpr std::size_t Asdu10RequestSize(int entries)
{
    return entries < 0 ? 0 : ASDU10_HEAD_SIZE + ASDU10_ENTRY_SIZE * static_cast<std::size_t>(entries);
}
static_assert(Asdu10RequestSize(ASDU10_ALL_ENTRIES) == 0, "-1 asks for everything with no payload");
// Bytes a host hands in: the head that carries N always, whatever it sends.
constexpr std::size_t Asdu10BlockSize(int entries)
{
    return entries < 0 ? ASDU10_HEAD_SIZE : Asdu10RequestSize(entries);
}

// Little-endian field access in place, byte by byte: defined at any
// alignment and on a host of either byte order.
inline std::uint16_t ReadU16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t ReadU32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void WriteU16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void WriteU32(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

// An envelope's head and trailer around a bare packet whose byte sum is
// `checksum`.
inline void WriteEnvelopeHead(std::uint8_t* head)
{
    WriteU32(head, ENVELOPE_HEAD_MAGIC);
    WriteU32(head + 4, ENVELOPE_HEAD_MAGIC);
}
inline void WriteEnvelopeTrailer(std::uint8_t* trailer, std::uint32_t checksum)
{
    WriteU32(trailer, checksum);
    WriteU32(trailer + 4, ENVELOPE_TAIL_MAGIC);
    WriteU32(trailer + 8, ENVELOPE_TAIL_MAGIC);
}
