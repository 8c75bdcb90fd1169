// The script as the device: it sends the device's bytes as written and
// holds every byte the library sends against the transcript.
#include "ConformSocket.h"
#include "Players.h"
#include "WireReader.h"

namespace conform {
namespace {

// Bounds every wait for the library; a case's own wait limits are shorter.
constexpr unsigned kWaitMs = 10000;
// After the last action has ended, whatever the library sent is already here.
constexpr unsigned kAfterwardsMs = 100;

Outcome Failed(const Step& step, std::string expected, std::string seen)
{
    return Outcome::Fail(step.line, std::move(expected), std::move(seen));
}

class DevicePlayer {
public:
    DevicePlayer(net::Handle listener, HostDriver& host) : m_listener(listener), m_host(host) {}
    ~DevicePlayer()
    {
        net::Close(m_connection);
        net::Close(m_listener);
    }

    Outcome Play(const Case& c)
    {
        for (const Step& step : c.steps) {
            Outcome o = PlayStep(step);
            if (!o.passed)
                return o;
        }
        std::string why = m_host.Finish();
        if (!why.empty())
            return Outcome::Fail(c.steps.empty() ? c.line : c.steps.back().line, "the host's call to end", why);
        if (m_connection != net::kNone && !m_ended) {
            std::vector<std::uint8_t> extra;
            ReadExact(m_connection, 1, kAfterwardsMs, &extra, &why);
            if (!extra.empty())
                return Outcome::Fail(c.steps.empty() ? c.line : c.steps.back().line, "nothing more from the library",
                               Hex(extra) + " ...");
        }
        return Outcome::Pass();
    }

private:
    Outcome PlayStep(const Step& step)
    {
        std::string why;
        switch (step.kind) {
        case StepKind::Host:
            if (step.word == "connect" && m_ended) {
                net::Close(m_connection);
                m_connection = net::kNone;
                m_ended = false;
            }
            why = m_host.Act(step);
            return why.empty() ? Outcome::Pass() : Failed(step, "host " + step.word, why);
        case StepKind::Expect:
            why = m_host.Check(step);
            return why.empty() ? Outcome::Pass() : Failed(step, "expect " + step.word + " " + step.argument, why);
        default:
            break;
        }
        if (m_ended && m_connection == net::kNone)
            return Failed(step, "a live connection", "the device had reset it");
        if (!Connected())
            return Failed(step, "the library's connection", "none within " + std::to_string(kWaitMs) + " ms");
        switch (step.kind) {
        case StepKind::Dev:
            if (!net::SendAll(m_connection, step.bytes.data(), step.bytes.size()))
                return Failed(step, "to send " + Hex(step.bytes), "the library had gone");
            return Outcome::Pass();
        case StepKind::Lib: {
            std::vector<std::uint8_t> got;
            bool whole = ReadExact(m_connection, step.bytes.size(), kWaitMs, &got, &why);
            if (whole && got == step.bytes)
                return Outcome::Pass();
            // A short read that already differs is shown as it is.
            return Failed(step, Hex(step.bytes), Hex(got) + (whole ? "" : ", then " + why));
        }
        case StepKind::DevClose:
            net::ShutdownSend(m_connection);
            return Outcome::Pass();
        case StepKind::DevReset:
            net::Reset(m_connection);
            m_connection = net::kNone;
            m_ended = true;
            return Outcome::Pass();
        case StepKind::LibClose: {
            std::vector<std::uint8_t> got;
            ReadExact(m_connection, 1, kWaitMs, &got, &why);
            m_ended = true;
            if (got.empty() && why.compare(0, 7, "nothing") != 0)
                return Outcome::Pass();
            return Failed(step, "the library's close", got.empty() ? why : Hex(got));
        }
        default:
            return Failed(step, "a step the library run plays", "dev? or dev stream");
        }
    }

    bool Connected()
    {
        if (m_connection == net::kNone)
            m_connection = net::Accept(m_listener, kWaitMs);
        return m_connection != net::kNone;
    }

    net::Handle m_listener;
    HostDriver& m_host;
    net::Handle m_connection = net::kNone;
    bool m_ended = false; // closed or reset: the next connect is a new one
};

} // namespace

Outcome PlayDevice(const Case& c, const std::string& address, std::uint16_t port, HostDriver& host)
{
    std::string error;
    net::Handle listener = net::Listen(address, port, &error);
    if (listener == net::kNone)
        return Outcome::Fail(c.line, "to listen as the device", error);
    DevicePlayer player(listener, host);
    return player.Play(c);
}

} // namespace conform
