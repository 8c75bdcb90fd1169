// Fetch and connect over a 20 ms round trip, against what the protocol
// allows there.
//
// A simulator on 127.7.5.2 is reached through the link proxy on 127.7.5.1
// with 10 ms of delay each way (no bandwidth cap, no splitting).
//   AcksOn   acknowledgement mode on: the device sends a packet only after
//            the host acknowledged the one before, so no fetch can move
//            more than one packet (16376 bytes) per round trip. One
//            iteration is a whole fetch, request and end mark included,
//            checked byte for byte.
//   Connect  the connect sequence: greeting, envelope probe, packet size,
//            acknowledgement mode, device type, identification: six round
//            trips (120 ms) at the least.
//
//   link_bench [--quick] [benchmark flags]
#include <chrono>
#include <memory>

#include "BenchSupport.h"
#include "DeviceSimulator.h"
#include "VexaCommFile.h"
#include "device/DeviceSocket.h"
#include "doubles/LinkProxy.h"
#include "doubles/Exposed.h"

namespace {

const char kProxyAddress[] = "127.7.5.1";
const char kDeviceAddress[] = "127.7.5.2";
constexpr auto kOneWay = std::chrono::milliseconds(10);
constexpr double kRoundTrip = 0.020;
const std::uint8_t kRequest[8] = {0, 0, 0, 0, 0, 0, 0xFF, 0xFF}; // N = -1
// The request and the end mark cost a round trip each on top of the
// packets' own: long fetches keep that out of the figure.
std::uint32_t g_packets = 200;

class CaptureFile : public CFile {
public:
    void Write(const void* data, uint32_t count) override { bytes.append(static_cast<const char*>(data), count); }
    uint32_t GetPosition() const override { return static_cast<uint32_t>(bytes.size()); }
    std::string bytes;
};

// A simulator behind a 20 ms line.
struct Line {
    std::unique_ptr<CDeviceSimulator> sim;
    std::unique_ptr<LinkProxy> proxy;

    bool Start(std::uint16_t ackMode, std::uint32_t bytes)
    {
        SimulatorOptions o;
        o.bindAddress = kDeviceAddress;
        o.port = 0;
        o.ackMode = ackMode;
        o.generatedBytes = bytes;
        sim = std::make_unique<CDeviceSimulator>(o);
        std::string error;
        if (!sim->Start(&error)) {
            std::fprintf(stderr, "simulator: %s\n", error.c_str());
            return false;
        }
        LinkOptions l;
        l.listenAddress = kProxyAddress;
        l.targetAddress = kDeviceAddress;
        l.targetPort = sim->Port();
        l.delay = kOneWay;
        proxy = std::make_unique<LinkProxy>(l);
        if (!proxy->Listening())
            std::fprintf(stderr, "proxy: %s\n", proxy->Error().c_str());
        return proxy->Listening();
    }
};

void BM_AcksOn(benchmark::State& state)
{
    const std::uint32_t total = g_packets * PACKET_PAYLOAD_MAX;
    Line line;
    Exposed<CDeviceSocket> dev;
    if (!line.Start(1, total) || !dev.ConnectPort(kProxyAddress, line.proxy->Port()) || dev.m_wAckMode == 0) {
        state.SkipWithError("set-up failed");
        return;
    }
    std::string expected(total, '\0');
    FillGenerated(0, reinterpret_cast<std::uint8_t*>(&expected[0]), total);
    for (auto _ : state) {
        CaptureFile file;
        file.bytes.reserve(total);
        if (!dev.GetAsdu10(&file, kRequest) || file.bytes != expected) {
            state.SkipWithError("fetch failed or its data differed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * total);
}

void BM_Connect(benchmark::State& state)
{
    Line line;
    if (!line.Start(0, 0)) {
        state.SkipWithError("set-up failed");
        return;
    }
    Exposed<CDeviceSocket> dev;
    for (auto _ : state) {
        if (!dev.ConnectPort(kProxyAddress, line.proxy->Port()) || dev.m_strIdent != "VexaSim 1.0") {
            state.SkipWithError("connect failed");
            break;
        }
        dev.Close();
    }
}

BENCHMARK(BM_AcksOn)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Connect)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    std::vector<char*> kept;
    const bool quick = bench::TakeQuick(argc, argv, &kept);
    if (quick)
        g_packets = 100;
    std::vector<std::string> storage;
    std::vector<char*> args =
        bench::WithDefaults(static_cast<int>(kept.size()), kept.data(), storage, quick ? 3 : 5);
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    if (benchmark::ReportUnrecognizedArguments(n, args.data()))
        return 1;
    bench::MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double bound = PACKET_PAYLOAD_MAX / kRoundTrip;
    double acks = reporter.Rate("BM_AcksOn");
    double connect = reporter.Seconds("BM_Connect");
    std::printf("\nOver a %.0f ms round trip: fetch of %u packets with acknowledgements %.1f KB/s "
                "(bound: one packet per round trip, %.1f KB/s); connect %.1f ms (bound: six round "
                "trips, %.0f ms)\n",
                kRoundTrip * 1e3, g_packets, acks / 1e3, bound / 1e3, connect * 1e3, 6 * kRoundTrip * 1e3);
    if (acks > 0)
        std::printf("ratio acks_on_20ms_vs_bound %.3f\n", acks / bound);
    if (connect > 0)
        std::printf("ratio connect_20ms_vs_bound %.3f\n", connect / (6 * kRoundTrip));
    return acks > 0 && connect > 0 ? 0 : 1;
}
