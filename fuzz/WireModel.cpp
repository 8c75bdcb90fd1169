// A model of the receive path, independent of the library, that the
// fuzzers compare its results with.
#include "WireModel.h"

#include <cstring>

#include "vexacomm/ErrorCodes.h"

namespace model {

namespace {

constexpr std::int32_t kTimedOut = 10060;
constexpr std::uint32_t kProgressRangeMax = 10000;

bool LostCode(std::int32_t code) { return code == 10053 || code == 10054 || code == 71000; }

// A call on a closed connection: the reason it closed stays, else 71006.
bool FailClosed(Conn& c)
{
    if (c.error == 0)
        c.error = COMM_ERR_NOT_CONNECTED;
    return false;
}

// An exchange starts with the last error cleared, unless the connection is
// closed.
bool Begin(Conn& c)
{
    if (!c.open)
        return FailClosed(c);
    c.error = 0;
    return true;
}

bool Reject(Conn& c)
{
    SetError(c, COMM_ERR_PROTOCOL);
    return false;
}

// n bytes as a receive with waiting gets them: running dry ends in a
// time-out, or in end of stream (which closes the connection) when the peer
// has closed.
bool Read(Conn& c, Source& s, std::size_t n, std::uint8_t* out)
{
    if (!c.open)
        return FailClosed(c);
    if (n == 0)
        return true;
    std::size_t got = n < s.Left() ? n : s.Left();
    std::memcpy(out, s.bytes.data() + s.pos, got);
    std::memset(out + got, 0, n - got);
    s.pos += got;
    if (got == n)
        return true;
    SetError(c, s.closed ? COMM_ERR_PEER_CLOSED : kTimedOut);
    return false;
}

std::uint32_t Sum(const std::uint8_t* p, std::size_t n)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += p[i];
    return sum;
}

void Put32(std::string& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// One negotiation from the requesting side: outcome in `value`.
bool Negotiate(Conn& c, Source& s, std::uint16_t& value, std::uint32_t command,
               std::uint16_t fallback, bool sizeRange)
{
    std::string request;
    request += static_cast<char>(0xFF);
    request += static_cast<char>(0xFF);
    value = fallback;
    if (!Begin(c) || !Send(c, command, request) || !ReceivePacket(c, s) || c.Command() != command)
        return false;
    std::uint16_t answer = ReadU16(c.Payload());
    // Sizes a requester could never ask for are refused (0 would divide by zero).
    if (sizeRange && (answer < PACKET_SIZE_MIN || answer > PACKET_PAYLOAD_MAX))
        return false;
    value = answer;
    return true;
}

} // namespace

void SetError(Conn& c, std::int32_t code)
{
    c.error = code;
    if (LostCode(code))
        c.open = false;
}

bool ReceivePacket(Conn& c, Source& s) { return Begin(c) && ReceiveNext(c, s); }

bool ReceiveNext(Conn& c, Source& s)
{
    if (!c.open)
        return FailClosed(c);
    std::uint8_t head[PACKET_HEADER_SIZE];
    std::memset(c.packet + PACKET_HEADER_SIZE, 0, PACKET_PAYLOAD_MAX);
    bool ok = Read(c, s, sizeof(head), head);
    std::memcpy(c.packet, head, sizeof(head));
    if (!ok)
        return false;
    bool enveloped = ReadU32(head) == ENVELOPE_HEAD_MAGIC && ReadU32(head + 4) == ENVELOPE_HEAD_MAGIC;
    c.peerEnvelope = enveloped;
    if (enveloped) {
        ok = Read(c, s, sizeof(head), head);
        std::memcpy(c.packet, head, sizeof(head));
        if (!ok)
            return false;
    }
    std::uint32_t length = ReadU32(head + 4);
    if (length > PACKET_PAYLOAD_MAX)
        return Reject(c);
    if (!enveloped)
        return Read(c, s, length, c.packet + PACKET_HEADER_SIZE);
    std::uint8_t rest[PACKET_PAYLOAD_MAX + 12];
    ok = Read(c, s, length + 12, rest);
    std::memcpy(c.packet + PACKET_HEADER_SIZE, rest, length);
    if (!ok)
        return false;
    const std::uint8_t* trailer = rest + length;
    if (ReadU32(trailer + 4) != ENVELOPE_TAIL_MAGIC || ReadU32(trailer + 8) != ENVELOPE_TAIL_MAGIC)
        return Reject(c);
    if (Sum(c.packet, PACKET_HEADER_SIZE + length) != ReadU32(trailer))
        return Reject(c);
    return true;
}

bool Send(Conn& c, std::uint32_t command, const std::string& payload)
{
    if (!c.open)
        return FailClosed(c);
    std::string bare;
    Put32(bare, command);
    Put32(bare, static_cast<std::uint32_t>(payload.size()));
    bare += payload;
    if (c.peerEnvelope) {
        Put32(c.sent, ENVELOPE_HEAD_MAGIC);
        Put32(c.sent, ENVELOPE_HEAD_MAGIC);
        c.sent += bare;
        Put32(c.sent, Sum(reinterpret_cast<const std::uint8_t*>(bare.data()), bare.size()));
        Put32(c.sent, ENVELOPE_TAIL_MAGIC);
        Put32(c.sent, ENVELOPE_TAIL_MAGIC);
    } else {
        c.sent += bare;
    }
    ++c.packetsSent;
    return true;
}

void Drain(Conn& c, Source& earlier)
{
    if (!c.open || earlier.Left() == 0)
        return;
    c.error = 0;
    earlier.pos = earlier.bytes.size();
}

bool Greeting(Conn& c, Source& s)
{
    // Nothing to read (silence or end of stream) is "no greeting".
    if (s.Left() == 0) {
        c.error = COMM_ERR_NO_GREETING;
        c.open = false;
        c.connected = false;
        return false;
    }
    if (!ReceivePacket(c, s)) {
        if (c.error == COMM_ERR_PROTOCOL)
            c.error = COMM_ERR_NO_GREETING;
        c.open = false;
        c.connected = false;
        return false;
    }
    if (c.Command() != CMD_REPLY) {
        c.error = COMM_ERR_NO_GREETING;
        c.open = false;
        c.connected = false;
        return false;
    }
    if (c.Length() != 0) {
        std::int32_t code = static_cast<std::int32_t>(ReadU32(c.Payload()));
        SetError(c, code);
        if (code == COMM_ERR_CONNECT_REFUSED || !c.open) {
            c.open = false;
            c.connected = false;
            return false;
        }
    }

    // Envelope probe: always bare; the answer's framing decides unless it
    // is a reply with a code, which decides by the code.
    c.peerEnvelope = false;
    if (Begin(c) && Send(c, CMD_ENVELOPE_PROBE, std::string()) && ReceivePacket(c, s) &&
        c.Command() == CMD_REPLY && c.Length() != 0)
        c.peerEnvelope = ReadU32(c.Payload()) == ENVELOPE_HEAD_MAGIC;
    Negotiate(c, s, c.packetSize, CMD_PACKET_SIZE, PACKET_SIZE_DEFAULT, true);
    Negotiate(c, s, c.ackMode, CMD_ACK_MODE, 0, false);
    c.connected = true;
    return true;
}

bool CheckReply(Conn& c, std::uint32_t expectedCommand)
{
    if (c.Command() == CMD_REPLY) {
        if (c.Length() == 0)
            return true;
        std::int32_t code = static_cast<std::int32_t>(ReadU32(c.Payload()));
        if (code == 0)
            return true;
        SetError(c, code);
        return false;
    }
    if (c.Command() == expectedCommand)
        return true;
    SetError(c, COMM_ERR_UNEXPECTED_REPLY);
    return false;
}

TransferOutcome ReceiveData(Conn& c, Source& s, std::uint32_t dataCommand, const TransferSetup& setup)
{
    TransferOutcome out;
    if (setup.expectedPackets == 0) {
        out.result = true;
        return out;
    }
    std::uint32_t size = c.packetSize != 0 ? c.packetSize : PACKET_SIZE_DEFAULT;
    std::uint32_t start = (setup.startPosition + size - 1) / size;
    const std::uint64_t total = static_cast<std::uint64_t>(start) + setup.expectedPackets;
    const std::uint64_t range = total < kProgressRangeMax ? total : kProgressRangeMax;
    std::uint64_t counter = start;
    // Packets against the announced packets, sent when the value changes.
    auto scaled = [&] { return static_cast<std::intptr_t>((counter < total ? counter : total) * range / total); };
    std::intptr_t last = scaled();
    unsigned positions = 0;
    bool cancelSignalled = false;
    bool ended = false;
    auto position = [&](std::intptr_t value) {
        out.messages.emplace_back(0, value);
        if (++positions == setup.cancelAtMessage)
            cancelSignalled = true;
    };
    if (setup.observer) {
        out.messages.emplace_back(1, static_cast<std::intptr_t>(range));
        position(last);
    }
    cancelSignalled = false; // the transfer starts with the cancel request reset

    if (c.ackMode != 0)
        Send(c, CMD_REPLY, std::string());
    for (;;) {
        if (!ReceiveNext(c, s)) {
            // A device silent after our cancel: the transfer ends as
            // cancelled, and the rest of its stream is not waited for.
            if (out.cancelSent && c.error == kTimedOut) {
                c.error = COMM_ERR_CANCELLED;
                c.open = false;
            }
            break;
        }
        if (c.Command() == CMD_CANCEL) {
            ended = true;
            SetError(c, out.cancelSent ? COMM_ERR_CANCELLED : COMM_ERR_PEER_CANCELLED);
            break;
        }
        if (c.Command() != dataCommand) {
            if (c.Command() == CMD_REPLY) {
                ended = true;
                SetError(c, static_cast<std::int32_t>(ReadU32(c.Payload())));
            } else {
                SetError(c, COMM_ERR_UNEXPECTED_REPLY);
            }
            break;
        }
        if (c.Length() == 0) {
            ended = true;
            out.result = true;
            break;
        }
        if (++out.writes == setup.failWrite) {
            SetError(c, 13);
            break;
        }
        out.file.append(reinterpret_cast<const char*>(c.Payload()), c.Length());
        if (!out.cancelSent) {
            if (counter < total)
                ++counter;
            if (setup.observer && scaled() != last)
                position(last = scaled());
            if (cancelSignalled) {
                Send(c, CMD_CANCEL, std::string());
                out.cancelSent = true;
            }
        }
        if (c.ackMode != 0)
            Send(c, CMD_REPLY, std::string());
    }
    // A stream left before its end is never read by the next request: the
    // connection closes, with a protocol failure when nothing else was
    // recorded.
    if (!ended && c.open) {
        if (c.error == 0)
            c.error = COMM_ERR_PROTOCOL;
        c.open = false;
    }
    if (setup.observer)
        out.messages.emplace_back(1, 0);
    return out;
}

} // namespace model
