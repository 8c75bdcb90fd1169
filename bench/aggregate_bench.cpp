// 64 devices fetching at once against one stream.
//
// Each of 64 device objects is connected to its own simulator on its own
// loopback address (127.7.2.1 to 127.7.2.64) and lives on its own thread;
// one iteration lets all 64 fetch their ASDU 10 data at once and ends when
// the last is done. The single stream fetches the same total from one
// simulator (127.7.2.100). Connects happen before the timing. The ratio is
// aggregate bytes per second over single-stream bytes per second.
//
//   aggregate_bench [--quick] [benchmark flags]
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "BenchSupport.h"
#include "DeviceSimulator.h"
#include "VexaCommFile.h"
#include "device/DeviceSocket.h"
#include "doubles/Exposed.h"

namespace {

constexpr int kDevices = 64;
std::uint32_t g_bytesPerDevice = 2u << 20;
const std::uint8_t kRequest[8] = {0, 0, 0, 0, 0, 0, 0xFF, 0xFF}; // N = -1

class DiscardFile : public CFile {
public:
    void Write(const void*, uint32_t count) override { m_bytes += count; }
    uint32_t GetPosition() const override { return 0; }
    std::uint64_t m_bytes = 0;
};

std::unique_ptr<CDeviceSimulator> StartSimulator(const std::string& address, std::uint32_t bytes)
{
    SimulatorOptions o;
    o.bindAddress = address;
    o.port = 0;
    o.generatedBytes = bytes;
    auto sim = std::make_unique<CDeviceSimulator>(o);
    std::string error;
    if (!sim->Start(&error)) {
        std::fprintf(stderr, "simulator on %s: %s\n", address.c_str(), error.c_str());
        return nullptr;
    }
    return sim;
}

// 64 connected devices, each fetching on its own thread when told to.
class Fleet {
public:
    bool Start()
    {
        for (int i = 0; i < kDevices; ++i) {
            std::string address = "127.7.2." + std::to_string(i + 1);
            auto sim = StartSimulator(address, g_bytesPerDevice);
            if (!sim)
                return false;
            auto dev = std::make_unique<CDeviceSocket>();
            if (!dev->ConnectPort(address.c_str(), sim->Port())) {
                std::fprintf(stderr, "connect to %s failed: %d\n", address.c_str(), dev->LastError());
                return false;
            }
            m_sims.push_back(std::move(sim));
            m_devs.push_back(std::move(dev));
        }
        for (int i = 0; i < kDevices; ++i)
            m_threads.emplace_back(&Fleet::Work, this, i);
        return true;
    }

    ~Fleet()
    {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_quit = true;
        }
        m_cv.notify_all();
        for (auto& t : m_threads)
            t.join();
        m_devs.clear();
        for (auto& sim : m_sims)
            sim->Stop();
    }

    // One round: every device fetches once. False if any fetch failed.
    bool Round()
    {
        std::unique_lock<std::mutex> guard(m_mutex);
        ++m_round;
        m_done = 0;
        m_failed = false;
        m_cv.notify_all();
        m_cv.wait(guard, [this] { return m_done == kDevices; });
        return !m_failed;
    }

private:
    void Work(int index)
    {
        std::uint64_t seen = 0;
        for (;;) {
            {
                std::unique_lock<std::mutex> guard(m_mutex);
                m_cv.wait(guard, [&] { return m_quit || m_round != seen; });
                if (m_quit)
                    return;
                seen = m_round;
            }
            DiscardFile file;
            bool ok = m_devs[index]->GetAsdu10(&file, kRequest) && file.m_bytes == g_bytesPerDevice;
            {
                std::lock_guard<std::mutex> guard(m_mutex);
                m_failed = m_failed || !ok;
                ++m_done;
            }
            m_cv.notify_all();
        }
    }

    std::vector<std::unique_ptr<CDeviceSimulator>> m_sims;
    std::vector<std::unique_ptr<CDeviceSocket>> m_devs;
    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::uint64_t m_round = 0;
    int m_done = 0;
    bool m_failed = false;
    bool m_quit = false;
};

// Set up once, outside the timing, and shared by the repetitions.
Fleet* g_fleet = nullptr;
std::unique_ptr<CDeviceSimulator> g_single;
Exposed<CDeviceSocket>* g_singleDev = nullptr;

void BM_Aggregate64(benchmark::State& state)
{
    for (auto _ : state) {
        if (!g_fleet->Round()) {
            state.SkipWithError("a fetch failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kDevices * g_bytesPerDevice);
}

void BM_OneStream(benchmark::State& state)
{
    const std::uint32_t total = kDevices * g_bytesPerDevice;
    for (auto _ : state) {
        DiscardFile file;
        if (!g_singleDev->GetAsdu10(&file, kRequest) || file.m_bytes != total) {
            state.SkipWithError("fetch failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * total);
}

BENCHMARK(BM_OneStream)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Aggregate64)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    std::vector<char*> kept;
    const bool quick = bench::TakeQuick(argc, argv, &kept);
    std::string minTime = "--benchmark_min_time=0.3";
    if (quick) {
        g_bytesPerDevice = 1u << 20;
        kept.push_back(&minTime[0]);
    }
    std::vector<std::string> storage;
    std::vector<char*> args =
        bench::WithDefaults(static_cast<int>(kept.size()), kept.data(), storage, quick ? 3 : 5);
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    if (benchmark::ReportUnrecognizedArguments(n, args.data()))
        return 1;

    auto fleet = std::make_unique<Fleet>();
    g_single = StartSimulator("127.7.2.100", kDevices * g_bytesPerDevice);
    auto single = std::make_unique<Exposed<CDeviceSocket>>();
    if (!fleet->Start() || !g_single || !single->ConnectPort("127.7.2.100", g_single->Port())) {
        std::fprintf(stderr, "aggregate_bench: set-up failed\n");
        return 1;
    }
    g_fleet = fleet.get();
    g_singleDev = single.get();
    bench::MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    single.reset();
    g_single->Stop();
    fleet.reset();

    double aggregate = reporter.Rate("BM_Aggregate64");
    double oneStream = reporter.Rate("BM_OneStream");
    std::printf("\n%d devices x %u bytes at once: %.1f MB/s; one stream of the same total: %.1f MB/s\n",
                kDevices, g_bytesPerDevice, aggregate / 1e6, oneStream / 1e6);
    if (aggregate > 0 && oneStream > 0)
        std::printf("ratio aggregate64_vs_one_stream %.3f\n", aggregate / oneStream);
    return aggregate > 0 && oneStream > 0 ? 0 : 1;
}
