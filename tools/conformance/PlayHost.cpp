// The script as the host, against the simulator or any device: it sends the
// library's packets, framed as a host frames them, and holds each packet of
// the device against the transcript.
#include <cstdio>
#include <map>

#include "ConformSocket.h"
#include "Players.h"
#include "WireReader.h"

namespace conform {
namespace {

const std::vector<std::uint8_t> kProbe = {0x92, 0x76, 0x33, 0x76, 0x00, 0x00, 0x00, 0x00};
// A stream of more packets than this is not going to end.
constexpr std::uint32_t kStreamPacketsMax = 1u << 20;

std::string CommandText(std::uint32_t command)
{
    std::vector<std::uint8_t> bytes;
    PutU32(&bytes, command);
    return Hex(bytes);
}

std::string Describe(const Packet& p)
{
    return std::string(p.enveloped ? "enveloped " : "bare ") + Hex(p.Bare());
}

// A CMD_REPLY's text is free: the code and the reserved word are compared,
// and the text must end at the payload's last byte.
bool SameReply(const Packet& want, const Packet& got)
{
    if (want.command != kCmdReply || got.command != kCmdReply || want.payload.size() < 9 || got.payload.size() < 9)
        return false;
    if (U32(&want.payload[0]) == 0 || U32(&want.payload[0]) != U32(&got.payload[0]) ||
        U32(&want.payload[4]) != U32(&got.payload[4]))
        return false;
    for (std::size_t i = 8; i + 1 < got.payload.size(); ++i) {
        if (got.payload[i] == 0)
            return false;
    }
    return got.payload.back() == 0;
}

// Empty, or code, a reserved word of 0 and a text that ends with the
// payload's one zero byte.
bool WellFormedReply(const Packet& p)
{
    if (p.payload.empty())
        return true;
    if (p.payload.size() < 9 || U32(&p.payload[4]) != 0 || p.payload.back() != 0)
        return false;
    for (std::size_t i = 8; i + 1 < p.payload.size(); ++i) {
        if (p.payload[i] == 0)
            return false;
    }
    return true;
}

bool Matches(const std::vector<int>& pattern, const std::vector<std::uint8_t>& bytes)
{
    bool rest = !pattern.empty() && pattern.back() == -2;
    std::size_t fixed = rest ? pattern.size() - 1 : pattern.size();
    if (rest ? bytes.size() < fixed : bytes.size() != fixed)
        return false;
    for (std::size_t i = 0; i < fixed; ++i) {
        if (pattern[i] >= 0 && pattern[i] != bytes[i])
            return false;
    }
    return true;
}

std::string PatternText(const std::vector<int>& pattern)
{
    std::string text;
    for (int b : pattern) {
        char digits[4];
        std::snprintf(digits, sizeof(digits), "%02x", b & 0xFF);
        text += (text.empty() ? "" : " ") + (b == -1 ? std::string("..") : b == -2 ? std::string("*") : digits);
    }
    return text;
}

class HostPlayer {
public:
    HostPlayer(std::string address, std::uint16_t port, unsigned waitMs)
        : m_address(std::move(address)), m_port(port), m_waitMs(waitMs)
    {
    }
    ~HostPlayer() { net::Close(m_socket); }

    Outcome Play(const Case& c)
    {
        for (const Step& step : c.steps) {
            Outcome o = PlayStep(step);
            if (!o.passed)
                return o;
        }
        if (m_socket != net::kNone && !m_ended) {
            std::vector<std::uint8_t> extra;
            std::string why;
            ReadExact(m_socket, 1, 100, &extra, &why);
            if (!extra.empty())
                return Outcome::Fail(c.steps.empty() ? c.line : c.steps.back().line, "nothing more from the device",
                               Hex(extra) + " ...");
        }
        return Outcome::Pass();
    }

private:
    Outcome Fail(const Step& step, std::string expected, std::string seen)
    {
        return Outcome::Fail(step.line, std::move(expected), std::move(seen));
    }

    Outcome PlayStep(const Step& step)
    {
        if (step.kind == StepKind::Host || step.kind == StepKind::Expect)
            return Outcome::Pass(); // the library's side of the case
        if (step.kind == StepKind::LibClose) {
            net::ShutdownSend(m_socket);
            m_ended = true;
            return Outcome::Pass();
        }
        if (m_socket == net::kNone || m_ended) {
            net::Close(m_socket);
            std::string error;
            m_socket = net::Connect(m_address, m_port, m_waitMs, &error);
            m_ended = false;
            m_libSent = false;
            if (m_socket == net::kNone)
                return Fail(step, "a connection to the device", error);
        }
        switch (step.kind) {
        case StepKind::Lib:
            return SendLine(step);
        case StepKind::Dev:
            return ReceiveLine(step);
        case StepKind::DevMatch:
            return ReceiveMatch(step);
        case StepKind::DevStream:
            return ReceiveStream(step);
        case StepKind::DevClose: {
            std::vector<std::uint8_t> got;
            std::string why;
            ReadExact(m_socket, 1, m_waitMs, &got, &why);
            m_ended = true;
            if (got.empty() && why == "the peer closed")
                return Outcome::Pass();
            return Fail(step, "the device's close", got.empty() ? why : Hex(got));
        }
        default:
            return Fail(step, "a step a host can play", "dev reset");
        }
    }

    bool Send(const Packet& p)
    {
        std::vector<std::uint8_t> bytes = Frame(p, p.enveloped || m_envelope);
        m_libSent = true;
        m_libEnveloped = p.enveloped || m_envelope;
        m_probeSent = bytes == kProbe;
        return net::SendAll(m_socket, bytes.data(), bytes.size());
    }

    Outcome SendLine(const Step& step)
    {
        Packet p;
        if (!ParsePacket(step.bytes, &p))
            return Fail(step, "one whole packet in the transcript", Hex(step.bytes));
        // The probe goes bare whatever the framing.
        if (step.bytes == kProbe)
            m_envelope = false;
        if (!Send(p))
            return Fail(step, "to send " + Hex(step.bytes), "the device had gone");
        return Outcome::Pass();
    }

    // The next packet, in the framing the device was last addressed in.
    bool Receive(const Step& step, bool wantEnvelope, Packet* got, Outcome* failure)
    {
        std::string why;
        if (!ReadPacket(m_socket, m_waitMs, got, &why)) {
            *failure = Fail(step, "a whole packet", why);
            return false;
        }
        bool framing = wantEnvelope ? got->enveloped : !m_libSent || got->enveloped == m_libEnveloped;
        if (!framing) {
            *failure = Fail(step, std::string("the answer ") + (m_libEnveloped ? "in an envelope" : "bare") +
                                      ", as it was addressed",
                            Describe(*got));
            return false;
        }
        if (got->command == kCmdReply && !WellFormedReply(*got)) {
            *failure = Fail(step, "a CMD_REPLY that is empty, or code, a reserved 0 and a text ending at its zero",
                            Describe(*got));
            return false;
        }
        m_envelope = got->enveloped;
        if (m_probeSent && got->command == kCmdReply && !got->payload.empty())
            m_envelope = U32(got->payload.data()) == kHeadMagic;
        m_probeSent = false;
        m_last[got->command] = got->payload;
        return true;
    }

    Outcome ReceiveLine(const Step& step)
    {
        Packet want;
        if (!ParsePacket(step.bytes, &want))
            return Fail(step, "one whole packet in the transcript", Hex(step.bytes));
        Packet got;
        Outcome failure;
        if (!Receive(step, want.enveloped, &got, &failure))
            return failure;
        if ((got.command == want.command && got.payload == want.payload) || SameReply(want, got))
            return Outcome::Pass();
        return Fail(step, Hex(want.Bare()), Describe(got));
    }

    Outcome ReceiveMatch(const Step& step)
    {
        Packet got;
        Outcome failure;
        if (!Receive(step, false, &got, &failure))
            return failure;
        if (Matches(step.pattern, got.Bare()))
            return Outcome::Pass();
        return Fail(step, PatternText(step.pattern), Describe(got));
    }

    Outcome ReceiveStream(const Step& step)
    {
        const std::uint32_t command = U32(step.bytes.data());
        auto announced = m_last.find(command);
        if (announced == m_last.end() || announced->second.size() < 4)
            return Fail(step, "a total announced by " + CommandText(command) + " before its stream", "none");
        const std::uint64_t total = U32(announced->second.data());
        const Packet ack{false, kCmdReply, {}};
        const Packet cancel{false, kCmdCancel, {}};
        if (step.ack && !Send(ack))
            return Fail(step, "to send the first acknowledgement", "the device had gone");
        std::uint64_t sum = 0;
        bool cancelled = false;
        for (std::uint32_t n = 1; n <= kStreamPacketsMax; ++n) {
            Packet got;
            Outcome failure;
            if (!Receive(step, false, &got, &failure)) {
                failure.expected = "data packet " + std::to_string(n) + " or the end mark: " + failure.expected;
                return failure;
            }
            if (cancelled && got.command == kCmdCancel)
                return Outcome::Pass();
            if (got.command != command)
                return Fail(step, "data packet " + std::to_string(n) + " or the end mark, command " + CommandText(command),
                            Describe(got));
            if (got.payload.empty()) {
                if (cancelled || sum == total)
                    return Outcome::Pass();
                return Fail(step, "data adding up to the announced " + std::to_string(total) + " bytes",
                            std::to_string(sum) + " bytes, then the end mark");
            }
            sum += got.payload.size();
            if (!cancelled && sum > total)
                return Fail(step, "no more than the announced " + std::to_string(total) + " bytes",
                            std::to_string(sum) + " bytes by data packet " + std::to_string(n));
            if (!cancelled && static_cast<int>(n) == step.cancelAfter) {
                cancelled = true;
                if (!Send(cancel))
                    return Fail(step, "to send the cancel", "the device had gone");
            }
            if (step.ack && !Send(ack))
                return Fail(step, "to acknowledge data packet " + std::to_string(n), "the device had gone");
        }
        return Fail(step, "the end mark", "more than " + std::to_string(kStreamPacketsMax) + " data packets");
    }

    std::string m_address;
    std::uint16_t m_port;
    unsigned m_waitMs;
    net::Handle m_socket = net::kNone;
    bool m_ended = false;
    bool m_envelope = false;     // the host's framing flag
    bool m_libSent = false;      // a packet went out on this connection
    bool m_libEnveloped = false; // and its framing
    bool m_probeSent = false;    // the last packet out was the probe
    std::map<std::uint32_t, std::vector<std::uint8_t>> m_last; // last payload of each command
};

} // namespace

Outcome PlayHost(const Case& c, const std::string& address, std::uint16_t port, unsigned waitMs)
{
    HostPlayer player(address, port, waitMs);
    return player.Play(c);
}

} // namespace conform
