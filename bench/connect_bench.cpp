// The device connect sequence against six raw round trips to the same peer.
//
// A scripted device on loopback answers every connection alike: greeting on
// accept, then one canned answer to each of the five requests (envelope
// probe "envelopes on", packet size, acknowledgement mode, device type,
// identification), then it closes (so that TIME_WAIT stays on its side).
//   Connect     CDeviceSocket::ConnectPort: TCP connect, greeting and
//               negotiation, device type and identification.
//   RawConnect  socket(), connect(), recv() of the greeting, then five
//               send()/recv() pairs of exactly the bytes the library sends
//               and receives: six round trips with nothing else.
// The closing table gives the median time per connect and the ratio.
//
//   connect_bench [--quick] [benchmark flags]
#include <atomic>
#include <poll.h>
#include <thread>

#include "BenchSupport.h"
#include "device/DeviceSocket.h"
#include "doubles/Exposed.h"

namespace {

const char kLibraryPeer[] = "127.7.1.1";
const char kRawPeer[] = "127.7.1.2";
const char kIdent[] = "VexaSim 1.0";
constexpr std::uint16_t kDeviceType = 769;

struct Script {
    std::string greeting = bench::Framed(CMD_REPLY, std::string(), false);
    std::vector<std::string> requests; // as the library sends them
    std::vector<std::string> answers;

    Script()
    {
        std::string on(9, '\0');
        WriteU32(reinterpret_cast<std::uint8_t*>(&on[0]), ENVELOPE_HEAD_MAGIC);
        requests.push_back(bench::Framed(CMD_ENVELOPE_PROBE, std::string(), false));
        answers.push_back(bench::Framed(CMD_REPLY, on, false));
        requests.push_back(bench::Framed(CMD_PACKET_SIZE, bench::U16Payload(NEGOTIATE_QUERY), true));
        answers.push_back(bench::Framed(CMD_PACKET_SIZE, bench::U16Payload(PACKET_PAYLOAD_MAX), true));
        requests.push_back(bench::Framed(CMD_ACK_MODE, bench::U16Payload(NEGOTIATE_QUERY), true));
        answers.push_back(bench::Framed(CMD_ACK_MODE, bench::U16Payload(0), true));
        requests.push_back(bench::Framed(CMD_DEVICE_TYPE, std::string(), true));
        answers.push_back(bench::Framed(CMD_DEVICE_TYPE, bench::U16Payload(kDeviceType), true));
        requests.push_back(bench::Framed(CMD_IDENT, std::string(), true));
        answers.push_back(bench::Framed(CMD_IDENT, std::string(kIdent, sizeof(kIdent)), true));
    }
};

const Script& TheScript()
{
    static const Script script;
    return script;
}

// Reads one packet, bare or enveloped, whatever its content.
bool SkipPacket(int fd)
{
    std::uint8_t head[PACKET_HEADER_SIZE];
    if (!bench::ReceiveWhole(fd, head, sizeof(head)))
        return false;
    bool enveloped = ReadU32(head) == ENVELOPE_HEAD_MAGIC && ReadU32(head + 4) == ENVELOPE_HEAD_MAGIC;
    if (enveloped && !bench::ReceiveWhole(fd, head, sizeof(head)))
        return false;
    std::uint32_t rest = ReadU32(head + 4) + (enveloped ? sizeof(EnvelopeTrailer) : 0);
    if (rest > PACKET_BUFFER_SIZE)
        return false;
    std::uint8_t buf[PACKET_BUFFER_SIZE];
    return rest == 0 || bench::ReceiveWhole(fd, buf, rest);
}

// Serves connections one after another until destroyed; every wait is
// bounded, and it stops by itself after 30 s without a client.
class ScriptedDevice {
public:
    explicit ScriptedDevice(const char* address)
    {
        m_listen = bench::ListenOn(address, &m_port);
        if (m_listen >= 0)
            m_thread = std::thread(&ScriptedDevice::Run, this);
    }
    ~ScriptedDevice()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_listen >= 0)
            ::close(m_listen);
    }
    std::uint16_t Port() const { return m_port; }
    bool Listening() const { return m_listen >= 0; }

private:
    void Run()
    {
        const Script& script = TheScript();
        int idleMs = 0;
        while (!m_stop && idleMs < 30000) {
            pollfd pfd{m_listen, POLLIN, 0};
            if (::poll(&pfd, 1, 100) != 1) {
                idleMs += 100;
                continue;
            }
            idleMs = 0;
            int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            timeval limit{5, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
            bool ok = bench::SendWhole(fd, script.greeting.data(), script.greeting.size());
            for (std::size_t i = 0; ok && i < script.answers.size(); ++i)
                ok = SkipPacket(fd) && bench::SendWhole(fd, script.answers[i].data(), script.answers[i].size());
            ::close(fd);
        }
    }

    int m_listen = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

void BM_Connect(benchmark::State& state)
{
    ScriptedDevice device(kLibraryPeer);
    if (!device.Listening()) {
        state.SkipWithError("listen failed");
        return;
    }
    Exposed<CDeviceSocket> dev;
    for (auto _ : state) {
        if (!dev.ConnectPort(kLibraryPeer, device.Port()) || dev.m_wDeviceType != kDeviceType ||
            dev.m_strIdent != kIdent || !dev.m_bPeerEnvelope) {
            state.SkipWithError("connect failed");
            break;
        }
        dev.Close();
    }
}

void BM_RawConnect(benchmark::State& state)
{
    ScriptedDevice device(kRawPeer);
    if (!device.Listening()) {
        state.SkipWithError("listen failed");
        return;
    }
    const Script& script = TheScript();
    std::vector<char> buf(PACKET_BUFFER_SIZE);
    for (auto _ : state) {
        int fd = bench::ConnectTo(kRawPeer, device.Port());
        bool ok = fd >= 0 && bench::ReceiveWhole(fd, buf.data(), script.greeting.size());
        for (std::size_t i = 0; ok && i < script.requests.size(); ++i)
            ok = bench::SendWhole(fd, script.requests[i].data(), script.requests[i].size()) &&
                 bench::ReceiveWhole(fd, buf.data(), script.answers[i].size());
        if (fd >= 0)
            ::close(fd);
        if (!ok) {
            state.SkipWithError("raw exchange failed");
            break;
        }
    }
}

BENCHMARK(BM_RawConnect)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Connect)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    std::vector<char*> kept;
    const bool quick = bench::TakeQuick(argc, argv, &kept);
    std::vector<std::string> storage;
    std::string minTime = "--benchmark_min_time=0.2";
    if (quick)
        kept.push_back(&minTime[0]);
    std::vector<char*> args =
        bench::WithDefaults(static_cast<int>(kept.size()), kept.data(), storage, quick ? 3 : 7);
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    if (benchmark::ReportUnrecognizedArguments(n, args.data()))
        return 1;
    bench::MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    double library = reporter.Seconds("BM_Connect");
    double raw = reporter.Seconds("BM_RawConnect");
    std::printf("\nConnect sequence, median per connect: library %.1f us, six raw round trips "
                "%.1f us\n",
                library * 1e6, raw * 1e6);
    if (library > 0 && raw > 0)
        std::printf("ratio connect_vs_raw_round_trips %.3f\n", library / raw);
    return library > 0 && raw > 0 ? 0 : 1;
}
