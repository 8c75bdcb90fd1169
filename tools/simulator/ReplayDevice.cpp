// The replaying device, on the library's own connection class: packets of
// the library are received and framed again exactly as they were sent.
#include "ReplayDevice.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "SimSocket.h"
#include "VexaCommSocket.h"
#include "vexacomm/ByteSum.h"

namespace {

constexpr int kAcceptPollMs = 50;
constexpr std::int64_t kLongestPauseUs = 10000000;

struct ReplayConnection : public CGLSocket {
    using CGLSocket::m_bPeerEnvelope;
    using CGLSocket::m_hSocket;
    using CGLSocket::m_nLastError;
    using CGLSocket::m_packet;
    using CGLSocket::m_tvTimeout;

    // The packet just received as it was on the wire.
    std::string Framed() const
    {
        const std::uint32_t bare = static_cast<std::uint32_t>(PACKET_HEADER_SIZE) + ReadU32(m_packet + 4);
        std::string out;
        if (m_bPeerEnvelope) {
            std::uint8_t head[ENVELOPE_HEAD_SIZE];
            WriteEnvelopeHead(head);
            out.assign(reinterpret_cast<const char*>(head), sizeof(head));
        }
        out.append(reinterpret_cast<const char*>(m_packet), bare);
        if (m_bPeerEnvelope) {
            std::uint8_t trailer[sizeof(EnvelopeTrailer)];
            WriteEnvelopeTrailer(trailer, ByteSum(m_packet, bare));
            out.append(reinterpret_cast<const char*>(trailer), sizeof(trailer));
        }
        return out;
    }
};

// Sleeps `us` unless `stop` says otherwise first.
bool PauseUnlessStopped(std::int64_t us, const std::function<bool()>& stop)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
    while (std::chrono::steady_clock::now() < end) {
        if (stop())
            return false;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            end - std::chrono::steady_clock::now(), std::chrono::milliseconds(kAcceptPollMs)));
    }
    return true;
}

} // namespace

CReplayDevice::CReplayDevice(std::vector<RecordedPacket> packets, ReplayOptions options)
    : m_packets(std::move(packets)), m_options(std::move(options))
{
}

CReplayDevice::~CReplayDevice()
{
    if (m_listener != kInvalidSocket)
        sim::Close(m_listener);
}

bool CReplayDevice::Start(std::string* error)
{
    std::uint32_t address = sim::ParseIPv4(m_options.bindAddress);
    std::string reason;
    if (address != kNoAddress)
        m_listener = sim::Listen(address, m_options.port, &m_port, &reason);
    if (m_listener == kInvalidSocket) {
        *error = "cannot listen on " + m_options.bindAddress + ":" + std::to_string(m_options.port) + ": " + reason;
        return false;
    }
    return true;
}

ReplayOutcome CReplayDevice::ServeOne(const std::function<bool()>& stop)
{
    ReplayOutcome outcome;
    ReplayConnection c;
    while (c.m_hSocket == kInvalidSocket && !stop())
        c.m_hSocket = sim::Accept(m_listener, kAcceptPollMs);
    if (c.m_hSocket == kInvalidSocket)
        return outcome;
    outcome.connected = true;
    c.m_tvTimeout = WaitLimit{static_cast<std::int32_t>(m_options.ioTimeoutMs / 1000),
                              static_cast<std::int32_t>(m_options.ioTimeoutMs % 1000) * 1000};
    auto diverge = [&](std::size_t at, std::string received, const char* reason) {
        outcome.diverged = true;
        outcome.at = at;
        outcome.expected = at < m_packets.size() ? m_packets[at].framed : std::string();
        outcome.received = std::move(received);
        outcome.reason = reason;
        return outcome;
    };
    for (std::size_t i = 0; i < m_packets.size(); ++i) {
        const RecordedPacket& p = m_packets[i];
        if (p.fromDevice) {
            if (m_options.timing && i > 0) {
                const std::int64_t gap = std::clamp<std::int64_t>(p.microseconds - m_packets[i - 1].microseconds, 0,
                                                                  kLongestPauseUs);
                if (!PauseUnlessStopped(gap, stop))
                    return outcome;
            }
            if (m_options.trace)
                m_options.trace(true, p.framed);
            if (!c.SendAll(p.framed.data(), static_cast<std::int32_t>(p.framed.size()), TRUE))
                return diverge(i, std::string(), "the library closed the connection before this packet of the device");
            ++outcome.replayed;
            continue;
        }
        if (!c.ReceivePacket(c.m_packet, TRUE))
            return diverge(i, std::string(), "the library sent nothing that passed the framing checks");
        std::string got = c.Framed();
        if (m_options.trace)
            m_options.trace(false, got);
        if (got != p.framed)
            return diverge(i, got, "the library sent another packet");
        ++outcome.replayed;
    }
    // The recording is over: the library may only close now.
    if (c.ReceivePacket(c.m_packet, TRUE))
        return diverge(m_packets.size(), c.Framed(), "the library went on beyond the recording");
    c.Close();
    return outcome;
}
