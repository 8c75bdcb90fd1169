#include "WireReader.h"

namespace conform {

std::uint32_t U32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void PutU32(std::vector<std::uint8_t>* out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out->push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

namespace {
std::uint32_t ByteSum(const std::vector<std::uint8_t>& bytes)
{
    std::uint32_t sum = 0;
    for (std::uint8_t b : bytes)
        sum += b;
    return sum;
}
} // namespace

std::vector<std::uint8_t> Packet::Bare() const
{
    std::vector<std::uint8_t> bytes;
    PutU32(&bytes, command);
    PutU32(&bytes, static_cast<std::uint32_t>(payload.size()));
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

bool ParsePacket(const std::vector<std::uint8_t>& bytes, Packet* packet)
{
    std::size_t at = 0;
    packet->enveloped = bytes.size() >= 16 && U32(&bytes[0]) == kHeadMagic && U32(&bytes[4]) == kHeadMagic;
    if (packet->enveloped)
        at = 8;
    if (bytes.size() < at + 8)
        return false;
    packet->command = U32(&bytes[at]);
    std::size_t length = U32(&bytes[at + 4]);
    std::size_t trailer = packet->enveloped ? 12 : 0;
    if (bytes.size() != at + 8 + length + trailer)
        return false;
    packet->payload.assign(bytes.begin() + static_cast<long>(at + 8), bytes.begin() + static_cast<long>(at + 8 + length));
    return true;
}

std::vector<std::uint8_t> Frame(const Packet& packet, bool envelope)
{
    std::vector<std::uint8_t> bare = packet.Bare();
    if (!envelope)
        return bare;
    std::vector<std::uint8_t> bytes;
    PutU32(&bytes, kHeadMagic);
    PutU32(&bytes, kHeadMagic);
    bytes.insert(bytes.end(), bare.begin(), bare.end());
    PutU32(&bytes, ByteSum(bare));
    PutU32(&bytes, kTailMagic);
    PutU32(&bytes, kTailMagic);
    return bytes;
}

bool ReadExact(net::Handle s, std::size_t n, unsigned waitMs, std::vector<std::uint8_t>* bytes, std::string* why)
{
    std::size_t start = bytes->size();
    bytes->resize(start + n);
    std::size_t got = 0;
    while (got < n) {
        long k = net::Receive(s, bytes->data() + start + got, n - got, waitMs);
        if (k <= 0) {
            bytes->resize(start + got);
            *why = k == 0 ? "the peer closed" : k == net::kBroken ? "the connection was reset"
                                                                  : "nothing within " + std::to_string(waitMs) + " ms";
            return false;
        }
        got += static_cast<std::size_t>(k);
    }
    return true;
}

bool ReadPacket(net::Handle s, unsigned waitMs, Packet* packet, std::string* why)
{
    std::vector<std::uint8_t> head;
    if (!ReadExact(s, 8, waitMs, &head, why))
        return false;
    packet->enveloped = U32(&head[0]) == kHeadMagic && U32(&head[4]) == kHeadMagic;
    if (packet->enveloped) {
        head.clear();
        if (!ReadExact(s, 8, waitMs, &head, why))
            return false;
    }
    packet->command = U32(&head[0]);
    std::uint32_t length = U32(&head[4]);
    if (length > kPayloadMax) {
        *why = "a length of " + std::to_string(length) + ", over 16376";
        return false;
    }
    packet->payload.clear();
    if (!ReadExact(s, length, waitMs, &packet->payload, why))
        return false;
    if (!packet->enveloped)
        return true;
    std::vector<std::uint8_t> trailer;
    if (!ReadExact(s, 12, waitMs, &trailer, why))
        return false;
    std::uint32_t sum = ByteSum(packet->Bare());
    if (U32(&trailer[4]) != kTailMagic || U32(&trailer[8]) != kTailMagic) {
        *why = "an envelope whose tail words are not 33 76 92 76";
        return false;
    }
    if (U32(&trailer[0]) != sum) {
        *why = "an envelope with checksum " + std::to_string(U32(&trailer[0])) + " where the bytes sum to " +
               std::to_string(sum);
        return false;
    }
    return true;
}

} // namespace conform
