// Reading the peer's bytes for a script: exact counts, and whole packets in
// either framing, checked on the script's own reading of the format.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ConformSocket.h"

namespace conform {

constexpr std::uint32_t kHeadMagic = 0x76337692;
constexpr std::uint32_t kTailMagic = 0x76927633;
constexpr std::uint32_t kPayloadMax = 16376;
constexpr std::uint32_t kCmdReply = 1;
constexpr std::uint32_t kCmdCancel = 110;

std::uint32_t U32(const std::uint8_t* p);
void PutU32(std::vector<std::uint8_t>* out, std::uint32_t v);

struct Packet {
    bool enveloped = false;
    std::uint32_t command = 0;
    std::vector<std::uint8_t> payload;
    // The bare form: header and payload.
    std::vector<std::uint8_t> Bare() const;
};

// A transcript line as one packet, bare or enveloped; false when the bytes
// are not exactly one.
bool ParsePacket(const std::vector<std::uint8_t>& bytes, Packet* packet);
// The packet's bytes in the framing asked for.
std::vector<std::uint8_t> Frame(const Packet& packet, bool envelope);

// Exactly n bytes; false with what happened instead ("nothing within 5000 ms",
// "the peer closed", "the connection was reset"), the bytes that came kept.
bool ReadExact(net::Handle s, std::size_t n, unsigned waitMs, std::vector<std::uint8_t>* bytes, std::string* why);
// One whole packet; an envelope must be whole (both tail words, the
// checksum). False with why.
bool ReadPacket(net::Handle s, unsigned waitMs, Packet* packet, std::string* why);

} // namespace conform
