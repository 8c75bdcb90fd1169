// Fuzz target: the packet receive path of a device connection: framing,
// the greeting and negotiation judgement, the device requests' reply rule
// and the ASDU 10 answer with its data stream.
//
// Input: a flags byte (bit 0: the peer closes its side after its last
// bytes), then segments (u16 little-endian length, then the bytes; see
// InputReader::Segments). Segment 0 is what the peer sends once the
// connection stands (greeting, probe answer, both negotiation answers);
// segments 1 to 3 answer the device type, identification and ASDU 10
// requests, the last one followed by the data stream.
//
// Everything runs on one thread with a wait limit of 0: all the peer's
// bytes for an exchange are queued before it starts, so a wait that finds
// nothing would never see more. A device request discards waiting input
// before it sends, which would throw a queued answer away; so the harness
// discards first, queues the answer and then runs the request's exchange
// (send, receive, reply rule) itself.
//
// Every step is compared with WireModel: results, last error, whether the
// connection is open, the framing, the packet buffer, the file, and the
// bytes the library sent.
#include <cstring>
#include <string>
#include <vector>

#include "BytePipe.h"
#include "FuzzSupport.h"
#include "WireModel.h"
#include "device/DeviceSocket.h"
#include "doubles/MemoryFile.h"
#include "doubles/Exposed.h"

namespace {

constexpr WaitLimit kNoWait = {0, 0};
constexpr std::size_t kPhases = 4;
// Past this many packets the library's sends could meet a full buffer,
// which the model does not describe.
constexpr unsigned kMaxComparedSends = 1000;

void CompareState(const Exposed<CDeviceSocket>& dev, const model::Conn& m)
{
    FUZZ_CHECK(dev.m_nLastError == m.error);
    FUZZ_CHECK((dev.m_hSocket != kInvalidSocket) == m.open);
    FUZZ_CHECK((dev.m_bPeerEnvelope != 0) == m.peerEnvelope);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > fuzz::kMaxStreamInput)
        return 0;
    fuzz::InputReader in(data, size);
    const bool closeAtEnd = (in.Byte() & 1) != 0;
    const std::vector<std::string> segments = in.Segments();
    model::Source sources[kPhases];
    for (std::size_t k = 0; k < kPhases; ++k) {
        if (k < segments.size())
            sources[k].bytes = segments[k];
        sources[k].closed = closeAtEnd && k + 1 >= segments.size();
    }

    fuzz::BytePipe pipe;
    Exposed<CDeviceSocket> dev;
    dev.m_hSocket = pipe.TakeLocal();
    dev.m_tvTimeout = kNoWait;
    model::Conn m;
    auto feed = [&](std::size_t k) {
        pipe.Feed(sources[k].bytes);
        if (sources[k].closed)
            pipe.CloseFeed();
    };

    feed(0);
    const bool greeted = dev.ReceiveGreeting() != 0;
    FUZZ_CHECK(greeted == model::Greeting(m, sources[0]));
    CompareState(dev, m);
    FUZZ_CHECK((dev.m_bConnected != 0) == m.connected);
    FUZZ_CHECK(dev.m_wPacketSizeMax == m.packetSize);
    FUZZ_CHECK(dev.m_wAckMode == m.ackMode);
    FUZZ_CHECK(dev.m_wPacketSizeMax >= PACKET_SIZE_MIN && dev.m_wPacketSizeMax <= PACKET_PAYLOAD_MAX);

    const std::uint32_t commands[kPhases - 1] = {CMD_DEVICE_TYPE, CMD_IDENT, CMD_ASDU10};
    for (std::size_t k = 1; k < kPhases; ++k) {
        const std::uint32_t command = commands[k - 1];
        dev.DrainInput();
        model::Drain(m, sources[k - 1]);
        CompareState(dev, m);
        feed(k);

        // An ASDU 10 request block with N = 0: 8 bytes.
        const std::uint32_t length = command == CMD_ASDU10 ? 8 : 0;
        dev.SetHeader(command, length);
        std::memset(dev.Payload(), 0, length);
        const bool sent = dev.SendPacket(dev.m_packet, TRUE) != 0;
        FUZZ_CHECK(sent == model::Send(m, command, std::string(length, '\0')));
        if (!sent)
            continue;
        const bool received = dev.ReceivePacket(dev.m_packet, TRUE) != 0;
        FUZZ_CHECK(received == model::ReceivePacket(m, sources[k]));
        CompareState(dev, m);
        FUZZ_CHECK(std::memcmp(dev.m_packet, m.packet, PACKET_BUFFER_SIZE) == 0);
        if (!received)
            continue;
        const bool accepted = dev.CheckReply(dev.m_packet, command) != 0;
        FUZZ_CHECK(accepted == model::CheckReply(m, command));
        CompareState(dev, m);
        if (!accepted)
            continue;

        // What each request takes from an accepted reply.
        if (command == CMD_DEVICE_TYPE) {
            std::uint16_t reported = ReadU16(dev.Payload());
            std::uint16_t stored = MapDeviceType(reported);
            FUZZ_CHECK(stored == reported || stored == 42);
        } else if (command == CMD_IDENT) {
            const char* text = reinterpret_cast<const char*>(dev.Payload());
            dev.m_strIdent.assign(text, strnlen(text, dev.Header().length));
            FUZZ_CHECK(dev.m_strIdent.size() <= dev.Header().length);
        } else {
            std::uint32_t total = ReadU32(dev.Payload());
            std::uint32_t packetSize = dev.m_wPacketSizeMax;
            auto expected = static_cast<std::uint32_t>(
                (static_cast<std::uint64_t>(total) + packetSize - 1) / packetSize);
            MemoryFile file;
            const bool done = dev.ReceiveData(&file, CMD_ASDU10, expected) != 0;
            model::TransferSetup setup;
            setup.expectedPackets = expected;
            model::TransferOutcome outcome = model::ReceiveData(m, sources[k], CMD_ASDU10, setup);
            FUZZ_CHECK(done == outcome.result);
            FUZZ_CHECK(file.Data() == outcome.file);
            CompareState(dev, m);
        }
    }

    if (m.packetsSent <= kMaxComparedSends)
        FUZZ_CHECK(pipe.Sent() == m.sent);
    return 0;
}
