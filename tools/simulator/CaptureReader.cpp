// Pcap records -> TCP segments -> one connection's two byte streams ->
// packets. Segments are placed by sequence number, so repeated or
// reordered segments of a tcpdump capture land where they belong.
#include "CaptureReader.h"

#include <cstring>
#include <fstream>
#include <map>

#include "SimSocket.h"
#include "vexacomm/Protocol.h"

namespace {

constexpr std::uint32_t kLinkEthernet = 1;
constexpr std::uint32_t kLinkRaw = 101;
constexpr std::uint32_t kLinkLinuxCooked = 113;
constexpr std::uint16_t kDevicePort = 30282;

struct Segment {
    std::uint32_t src, dst; // network byte order
    std::uint16_t sport, dport;
    std::uint32_t seq;
    bool syn;
    std::string data;
    std::int64_t microseconds;
};

std::uint32_t Be32(const std::uint8_t* p) { return std::uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
std::uint16_t Be16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

// The IPv4/TCP segment in one record's bytes, if it holds one.
bool ParseSegment(const std::string& rec, std::uint32_t link, std::int64_t us, Segment* s)
{
    std::size_t ip = link == kLinkRaw ? 0 : link == kLinkEthernet ? 14 : link == kLinkLinuxCooked ? 16 : rec.size();
    if (link == kLinkEthernet && (rec.size() < 14 || Be16(reinterpret_cast<const std::uint8_t*>(rec.data()) + 12) != 0x0800))
        return false;
    if (rec.size() < ip + 20)
        return false;
    const auto* p = reinterpret_cast<const std::uint8_t*>(rec.data()) + ip;
    const std::size_t ihl = (p[0] & 0x0F) * 4u;
    const std::size_t total = Be16(p + 2);
    if ((p[0] >> 4) != 4 || p[9] != 6 || ihl < 20 || total > rec.size() - ip || total < ihl + 20)
        return false;
    const std::uint8_t* t = p + ihl;
    const std::size_t thl = (t[12] >> 4) * 4u;
    if (thl < 20 || ihl + thl > total)
        return false;
    std::memcpy(&s->src, p + 12, 4);
    std::memcpy(&s->dst, p + 16, 4);
    s->sport = Be16(t);
    s->dport = Be16(t + 2);
    s->seq = Be32(t + 4);
    s->syn = (t[13] & 0x02) != 0;
    s->data.assign(reinterpret_cast<const char*>(t + thl), total - ihl - thl);
    s->microseconds = us;
    return true;
}

// One direction's bytes by sequence number, and when each byte arrived.
struct Direction {
    bool started = false;
    std::uint32_t base = 0;
    std::string bytes;
    std::vector<std::int64_t> times;
    std::vector<std::size_t> order; // record order of the byte's segment

    void Add(const Segment& s, std::size_t index)
    {
        if (s.syn) {
            started = true;
            base = s.seq + 1;
            return;
        }
        if (s.data.empty())
            return;
        if (!started) {
            started = true;
            base = s.seq;
        }
        const std::uint32_t at = s.seq - base;
        if (at > bytes.size() || at + s.data.size() <= bytes.size())
            return; // a gap (not captured) or bytes already there
        const std::size_t skip = bytes.size() - at;
        bytes.append(s.data, skip, std::string::npos);
        times.resize(bytes.size(), s.microseconds);
        order.resize(bytes.size(), index);
    }
};

// Whole packets of one direction; what trails a last whole packet is left.
void SplitPackets(const Direction& d, bool fromDevice, std::multimap<std::size_t, RecordedPacket>* out)
{
    const auto* b = reinterpret_cast<const std::uint8_t*>(d.bytes.data());
    std::size_t at = 0;
    while (d.bytes.size() - at >= PACKET_HEADER_SIZE) {
        const bool envelope = d.bytes.size() - at >= 2 * PACKET_HEADER_SIZE && ReadU32(b + at) == ENVELOPE_HEAD_MAGIC &&
                              ReadU32(b + at + 4) == ENVELOPE_HEAD_MAGIC;
        const std::size_t head = envelope ? ENVELOPE_HEAD_SIZE : 0;
        const std::uint32_t length = ReadU32(b + at + head + 4);
        if (length > PACKET_PAYLOAD_MAX)
            return;
        const std::size_t size = head + PACKET_HEADER_SIZE + length + (envelope ? sizeof(EnvelopeTrailer) : 0);
        if (d.bytes.size() - at < size)
            return;
        const std::size_t last = at + size - 1;
        out->emplace(d.order[last], RecordedPacket{fromDevice, d.bytes.substr(at, size), d.times[last]});
        at += size;
    }
}

} // namespace

bool ReadRecordedSession(const std::string& path, const std::string& device, std::vector<RecordedPacket>* packets,
                         std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        *error = "cannot read " + path;
        return false;
    }
    if (file.size() < 24) {
        *error = path + ": not a pcap file";
        return false;
    }
    std::uint32_t magic;
    std::memcpy(&magic, file.data(), 4);
    const bool swapped = magic == 0xD4C3B2A1u || magic == 0x4D3CB2A1u;
    const bool nanoseconds = magic == 0xA1B23C4Du || magic == 0x4D3CB2A1u;
    if (!swapped && magic != 0xA1B2C3D4u && magic != 0xA1B23C4Du) {
        *error = path + ": not a classic pcap file (a pcapng file can be converted with editcap -F pcap)";
        return false;
    }
    auto u32 = [&](std::size_t at) {
        std::uint32_t v;
        std::memcpy(&v, file.data() + at, 4);
        return swapped ? __builtin_bswap32(v) : v;
    };
    const std::uint32_t link = u32(20) & 0xFFFF;

    std::string deviceAddress;
    std::uint16_t devicePort = kDevicePort;
    if (!device.empty()) {
        const std::size_t colon = device.rfind(':');
        deviceAddress = device.substr(0, colon);
        devicePort = static_cast<std::uint16_t>(colon == std::string::npos ? kDevicePort
                                                                            : std::stoul(device.substr(colon + 1)));
    }
    const std::uint32_t wantAddress = deviceAddress.empty() ? 0 : sim::ParseIPv4(deviceAddress);

    // The connection: the first segment with data that the device end sends
    // or receives fixes both ends.
    bool chosen = false;
    std::uint32_t devAddr = 0, hostAddr = 0;
    std::uint16_t devPort = 0, hostPort = 0;
    Direction fromDevice, toDevice;
    std::vector<Segment> held;
    std::size_t index = 0;
    for (std::size_t at = 24; at + 16 <= file.size(); ++index) {
        const std::uint32_t kept = u32(at + 8);
        const std::int64_t us = std::int64_t(u32(at)) * 1000000 + (nanoseconds ? u32(at + 4) / 1000 : u32(at + 4));
        if (kept > file.size() - at - 16)
            break; // cut short
        Segment s;
        const bool ok = ParseSegment(file.substr(at + 16, kept), link, us, &s);
        at += 16 + kept;
        if (!ok)
            continue;
        auto matches = [&](std::uint32_t a, std::uint16_t p) {
            return p == devicePort && (wantAddress == 0 || a == wantAddress);
        };
        if (!chosen) {
            if (matches(s.src, s.sport)) {
                devAddr = s.src, devPort = s.sport, hostAddr = s.dst, hostPort = s.dport;
            } else if (matches(s.dst, s.dport)) {
                devAddr = s.dst, devPort = s.dport, hostAddr = s.src, hostPort = s.sport;
            } else if (device.empty() && !s.data.empty() && !s.syn) {
                // Another port: the end that speaks first is the device.
                devAddr = s.src, devPort = s.sport, hostAddr = s.dst, hostPort = s.dport;
            } else {
                continue;
            }
            chosen = true;
        }
        if (s.src == devAddr && s.sport == devPort && s.dst == hostAddr && s.dport == hostPort)
            fromDevice.Add(s, index);
        else if (s.dst == devAddr && s.dport == devPort && s.src == hostAddr && s.sport == hostPort)
            toDevice.Add(s, index);
    }
    if (!chosen || fromDevice.bytes.empty()) {
        *error = path + ": no TCP connection with a device's data" +
                 (device.empty() ? std::string() : " at " + device);
        return false;
    }
    std::multimap<std::size_t, RecordedPacket> ordered;
    SplitPackets(fromDevice, true, &ordered);
    SplitPackets(toDevice, false, &ordered);
    packets->clear();
    for (auto& p : ordered)
        packets->push_back(std::move(p.second));
    return true;
}
