// 1,024 devices fetching at once against one stream, and the resident
// memory each connected device object costs.
//
// The simulators run in a child process forked before any thread exists
// (64 on 127.7.4.1 to 127.7.4.64, 16 connections each, and the single
// stream's on 127.7.4.200), so that this process's resident memory holds
// only the host side. 1,024 device objects, each on its own thread with a
// small stack, connect at once; the peak resident memory they added,
// divided by 1,024, is kib_per_object. One iteration of the aggregate lets
// all of them fetch their ASDU 10 data at once and ends when the last is
// done; the single stream fetches the same total on one object. Every
// fetch is checked against the generated data (a position-dependent sum
// of every byte, and the count).
//
//   aggregate1024_bench [--quick] [benchmark flags]
#include <cinttypes>
#include <condition_variable>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include "BenchSupport.h"
#include "DeviceSimulator.h"
#include "ProcStatus.h"
#include "VexaCommFile.h"
#include "device/DeviceSocket.h"
#include "doubles/Exposed.h"

namespace {

constexpr int kDevices = 1024;
constexpr int kSimulators = 64;
constexpr std::size_t kThreadStack = 128 * 1024;
const char kSingleAddress[] = "127.7.4.200";
std::uint32_t g_bytesPerDevice = 1u << 20;
const std::uint8_t kRequest[8] = {0, 0, 0, 0, 0, 0, 0xFF, 0xFF}; // N = -1

std::string SimulatorAddress(int i) { return "127.7.4." + std::to_string(i + 1); }

// Fletcher-like sums over 64-bit words: order-dependent, and cheap enough
// not to hide the transport's cost. Writes may end anywhere in a word.
class CheckedFile : public CFile {
public:
    void Write(const void* data, uint32_t count) override
    {
        const auto* p = static_cast<const std::uint8_t*>(data);
        m_bytes += count;
        while (count > 0 && m_pending != 0) {
            m_word[m_pending++] = *p++;
            --count;
            if (m_pending == 8) {
                Word(m_word);
                m_pending = 0;
            }
        }
        for (; count >= 8; p += 8, count -= 8)
            Word(p);
        while (count-- > 0)
            m_word[m_pending++] = *p++;
    }
    uint32_t GetPosition() const override { return 0; }
    // The sums with the last partial word, as zero-padded.
    std::pair<std::uint64_t, std::uint64_t> Sums() const
    {
        std::uint64_t a = m_a;
        std::uint64_t b = m_b;
        if (m_pending != 0) {
            std::uint8_t last[8] = {};
            std::memcpy(last, m_word, m_pending);
            std::uint64_t w;
            std::memcpy(&w, last, 8);
            a += w;
            b += a;
        }
        return {a, b};
    }
    std::uint64_t Bytes() const { return m_bytes; }

private:
    void Word(const std::uint8_t* p)
    {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        m_a += w;
        m_b += m_a;
    }
    std::uint64_t m_a = 0;
    std::uint64_t m_b = 0;
    std::uint64_t m_bytes = 0;
    std::uint8_t m_word[8] = {};
    unsigned m_pending = 0;
};

struct Expected {
    std::uint64_t bytes = 0;
    std::pair<std::uint64_t, std::uint64_t> sums;
    bool Matches(const CheckedFile& f) const { return f.Bytes() == bytes && f.Sums() == sums; }
};

Expected ExpectedFor(std::uint64_t bytes)
{
    CheckedFile f;
    std::vector<std::uint8_t> chunk(1u << 20);
    for (std::uint64_t at = 0; at < bytes; at += chunk.size()) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), bytes - at));
        FillGenerated(at, chunk.data(), n);
        f.Write(chunk.data(), static_cast<uint32_t>(n));
    }
    return Expected{bytes, f.Sums()};
}

// ---- The simulators' process. ----

// Serves until the parent closes `control` (or dies), at most an hour.
[[noreturn]] void RunSimulators(int report, int control)
{
    std::vector<std::unique_ptr<CDeviceSimulator>> sims;
    std::vector<std::uint16_t> ports;
    for (int i = 0; i <= kSimulators; ++i) {
        SimulatorOptions o;
        o.bindAddress = i < kSimulators ? SimulatorAddress(i) : kSingleAddress;
        o.port = 0;
        o.generatedBytes = i < kSimulators ? g_bytesPerDevice : kDevices * g_bytesPerDevice;
        o.ioTimeoutMs = 600000;
        sims.emplace_back(new CDeviceSimulator(o));
        std::string error;
        if (!sims.back()->Start(&error)) {
            std::fprintf(stderr, "simulator on %s: %s\n", o.bindAddress.c_str(), error.c_str());
            ::_exit(1);
        }
        ports.push_back(sims.back()->Port());
    }
    const std::size_t size = ports.size() * sizeof(ports[0]);
    if (::write(report, ports.data(), size) != static_cast<ssize_t>(size))
        ::_exit(1);
    ::close(report);
    pollfd pfd{control, POLLIN, 0};
    ::poll(&pfd, 1, 3600 * 1000);
    for (auto& sim : sims)
        sim->Stop();
    ::_exit(0);
}

// ---- This process: the host side. ----

// Makes VmHWM start again from the current resident size.
bool ResetPeak()
{
    int fd = ::open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
    bool ok = fd >= 0 && ::write(fd, "5", 1) == 1;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

// 1,024 objects, each connected and fetching on its own thread.
class Fleet {
public:
    explicit Fleet(const std::vector<std::uint16_t>& ports) : m_ports(ports) {}

    // Starts the threads; they connect at once. False if a thread could
    // not be had; ConnectAll tells whether every connect stood.
    bool Start()
    {
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        // The default 8 MiB would be address space only, but a small stack
        // keeps what each thread can ever touch small too.
        pthread_attr_setstacksize(&attr, kThreadStack);
        m_threads.resize(kDevices);
        m_workers.resize(kDevices);
        bool ok = true;
        for (int i = 0; i < kDevices && ok; ++i) {
            m_workers[i] = Worker{this, i};
            ok = pthread_create(&m_threads[i], &attr, &Fleet::Enter, &m_workers[i]) == 0;
            if (ok)
                ++m_started;
        }
        pthread_attr_destroy(&attr);
        return ok;
    }

    // Waits until every thread has connected (or failed to).
    bool ConnectAll()
    {
        std::unique_lock<std::mutex> guard(m_mutex);
        m_cv.wait(guard, [this] { return m_connected == m_started; });
        return m_connectFailures == 0 && m_started == kDevices;
    }

    ~Fleet()
    {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_quit = true;
        }
        m_cv.notify_all();
        for (int i = 0; i < m_started; ++i)
            pthread_join(m_threads[i], nullptr);
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

    void SetExpected(const Expected& expected) { m_expected = expected; }

private:
    struct Worker {
        Fleet* fleet;
        int index;
    };
    static void* Enter(void* arg)
    {
        auto* w = static_cast<Worker*>(arg);
        w->fleet->Work(w->index);
        return nullptr;
    }

    void Work(int index)
    {
        std::string address = SimulatorAddress(index % kSimulators);
        auto dev = std::make_unique<CDeviceSocket>();
        bool connected = dev->ConnectPort(address.c_str(), m_ports[index % kSimulators]) != 0;
        if (!connected)
            std::fprintf(stderr, "connect %d to %s failed: %d\n", index, address.c_str(), dev->LastError());
        std::uint64_t seen = 0;
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            ++m_connected;
            m_connectFailures += connected ? 0 : 1;
        }
        m_cv.notify_all();
        for (;;) {
            {
                std::unique_lock<std::mutex> guard(m_mutex);
                m_cv.wait(guard, [&] { return m_quit || m_round != seen; });
                if (m_quit)
                    return;
                seen = m_round;
            }
            CheckedFile file;
            bool ok = connected && dev->GetAsdu10(&file, kRequest) && m_expected.Matches(file);
            {
                std::lock_guard<std::mutex> guard(m_mutex);
                m_failed = m_failed || !ok;
                ++m_done;
            }
            m_cv.notify_all();
        }
    }

    std::vector<std::uint16_t> m_ports;
    std::vector<pthread_t> m_threads;
    std::vector<Worker> m_workers;
    int m_started = 0;
    Expected m_expected;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_connected = 0;
    int m_connectFailures = 0;
    std::uint64_t m_round = 0;
    int m_done = 0;
    bool m_failed = false;
    bool m_quit = false;
};

Fleet* g_fleet = nullptr;
Exposed<CDeviceSocket>* g_single = nullptr;
Expected g_singleExpected;

void BM_Aggregate1024(benchmark::State& state)
{
    for (auto _ : state) {
        if (!g_fleet->Round()) {
            state.SkipWithError("a fetch failed or its data differed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kDevices * g_bytesPerDevice);
}

void BM_OneStream(benchmark::State& state)
{
    for (auto _ : state) {
        CheckedFile file;
        if (!g_single->GetAsdu10(&file, kRequest) || !g_singleExpected.Matches(file)) {
            state.SkipWithError("fetch failed or its data differed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * g_singleExpected.bytes);
}

BENCHMARK(BM_OneStream)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Aggregate1024)->Unit(benchmark::kMillisecond)->UseRealTime();

// Reaps the child within timeoutMs, killing it (it is ours) if it is late.
void Reap(pid_t pid, int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        ::usleep(10000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<char*> kept;
    const bool quick = bench::TakeQuick(argc, argv, &kept);
    std::string minTime = "--benchmark_min_time=0.3";
    if (quick) {
        g_bytesPerDevice = 256u << 10;
        kept.push_back(&minTime[0]);
    }

    // Each side holds a socket per device; the usual soft limit of 1,024
    // descriptors is not enough, the hard limit usually is.
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur != RLIM_INFINITY && files.rlim_cur < kDevices + 256) {
        std::fprintf(stderr, "aggregate1024_bench: %" PRIu64 " descriptors allowed, %d needed\n",
                     static_cast<std::uint64_t>(files.rlim_cur), kDevices + 256);
        return 1;
    }

    int report[2];
    int control[2];
    if (::pipe2(report, O_CLOEXEC) != 0 || ::pipe2(control, O_CLOEXEC) != 0)
        return 1;
    pid_t child = ::fork();
    if (child < 0)
        return 1;
    if (child == 0) {
        ::close(report[0]);
        ::close(control[1]);
        RunSimulators(report[1], control[0]);
    }
    ::close(report[1]);
    ::close(control[0]);
    std::vector<std::uint16_t> ports(kSimulators + 1);
    // Small enough for one pipe write, so one read takes it whole.
    const ssize_t size = static_cast<ssize_t>(ports.size() * sizeof(ports[0]));
    bool ready = ::read(report[0], ports.data(), static_cast<std::size_t>(size)) == size;
    ::close(report[0]);

    int status = 1;
    if (ready) {
        std::vector<std::string> storage;
        std::vector<char*> args =
            bench::WithDefaults(static_cast<int>(kept.size()), kept.data(), storage, quick ? 3 : 5);
        int n = static_cast<int>(args.size());
        benchmark::Initialize(&n, args.data());
        if (benchmark::ReportUnrecognizedArguments(n, args.data()))
            return 1;

        Expected perDevice = ExpectedFor(g_bytesPerDevice);
        g_singleExpected = ExpectedFor(static_cast<std::uint64_t>(kDevices) * g_bytesPerDevice);
        auto single = std::make_unique<Exposed<CDeviceSocket>>();
        bool singleOk = single->ConnectPort(kSingleAddress, ports[kSimulators]) != 0;

        bool peakReset = ResetPeak();
        long before = bench::StatusKib("VmRSS");
        auto fleet = std::make_unique<Fleet>(ports);
        bool fleetOk = fleet->Start() && fleet->ConnectAll();
        long peak = bench::StatusKib("VmHWM");
        long after = bench::StatusKib("VmRSS");
        fleet->SetExpected(perDevice);

        if (fleetOk && singleOk) {
            g_fleet = fleet.get();
            g_single = single.get();
            bench::MedianReporter reporter;
            benchmark::RunSpecifiedBenchmarks(&reporter);
            long peakFetching = bench::StatusKib("VmHWM");
            double aggregate = reporter.Rate("BM_Aggregate1024");
            double oneStream = reporter.Rate("BM_OneStream");
            std::printf("\n%d devices x %u bytes at once: %.1f MB/s; one stream of the same total: %.1f MB/s\n",
                        kDevices, g_bytesPerDevice, aggregate / 1e6, oneStream / 1e6);
            std::printf("resident memory: %ld KiB before the objects, %ld KiB with %d connected "
                        "(peak %ld KiB), peak while fetching %ld KiB; object %zu bytes, thread "
                        "stack %zu KiB reserved%s\n",
                        before, after, kDevices, peak, peakFetching, sizeof(Exposed<CDeviceSocket>),
                        kThreadStack / 1024, peakReset ? "" : " (peak not reset: VmHWM covers start-up)");
            if (aggregate > 0 && oneStream > 0)
                std::printf("ratio aggregate1024_vs_one_stream %.3f\n", aggregate / oneStream);
            if (before > 0 && peak > 0)
                std::printf("ratio kib_per_object %.1f\n", static_cast<double>(peak - before) / kDevices);
            status = aggregate > 0 && oneStream > 0 ? 0 : 1;
        } else {
            std::fprintf(stderr, "aggregate1024_bench: set-up failed\n");
        }
        benchmark::Shutdown();
        fleet.reset();
        single.reset();
    } else {
        std::fprintf(stderr, "aggregate1024_bench: the simulators did not start\n");
    }
    ::close(control[1]);
    Reap(child, 30000);
    return status;
}
