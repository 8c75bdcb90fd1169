// The soak: connect / fetch / close cycles on several threads against
// simulators that rotate through every fault, each result checked against
// what its fault must give, and the process's memory, descriptors and
// threads compared after a warm-up and at the end.
//
//   vexacomm_soak --minutes N | --seconds N  [--threads T]
//
// Each worker thread owns a loopback address (127.7.6.1 and up) and runs
// cycles there: start a simulator with the cycle's fault, create an object,
// connect, fetch, destroy the object, stop the simulator. Modes, in turn:
//   clean          the whole data set, exact                      0
//   cut            the device closes after K packets              71000
//   stall          the device falls silent after K packets        10060
//   corrupt        a bad envelope checksum after K packets        71010
//   refuse         the greeting refuses the connection            71001
//   device-cancel  the device cancels after K packets             71004
//   host-cancel    VexaComm_CancelTransfer from another thread    71005
//   reply-code     a device code in place of packet K+1           the code
// with acknowledgements on and off by turns; every byte delivered must be
// the simulator's generated data at its offset, and as many as the fault
// lets through. The counts are sampled with every worker paused between
// cycles: after the warm-up (a third of the run, at most 20 s) and at the
// end. Exit status 1 for any wrong result or growth (RSS by 512 KiB or
// more, any descriptor or thread), 0 otherwise. The memory figure means
// something only in a build without sanitizers: ASan's quarantine grows.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DeviceSimulator.h"
#include "ProcStatus.h"
#include "VexaCommLib.h"

namespace {

using Clock = std::chrono::steady_clock;

enum Mode { Clean, Cut, Stall, Corrupt, Refuse, DeviceCancel, HostCancel, ReplyCode, kModes };
const char* const kModeNames[kModes] = {"clean",   "cut",           "stall",       "corrupt",
                                        "refuse",  "device-cancel", "host-cancel", "reply-code"};

constexpr std::uint32_t kPacket = 16376;
constexpr std::uint32_t kStallWaitMs = 200;
constexpr std::uint32_t kWaitMs = 10000;
constexpr long kRssGrowthLimitKib = 512;
const std::uint8_t kRequest[8] = {0, 0, 0, 0, 0, 0, 0xFF, 0xFF}; // N = -1

// What a cycle's fetch delivered, checked as it arrives.
struct Sink {
    std::uint64_t bytes = 0;
    bool exact = true;
    std::vector<std::uint8_t> expected;
    // Stall: the wait limit drops to kStallWaitMs once this many bytes are
    // in, so that a loaded machine cannot end the connect or the packets
    // before the stall early, and the stall itself still ends quickly.
    VexaCommObject* object = nullptr;
    std::uint64_t shortWaitAfter = 0;
    // Host cancel: the first packet waits here until the cancel was made,
    // so that it always lands mid-transfer.
    VexaCommObject* cancelTarget = nullptr;
    std::mutex mutex;
    std::condition_variable cv;
    bool firstPacket = false;
    bool fetchOver = false;
    bool cancelMade = false;
    bool cancelInTime = true;
};

int32_t VEXACOMM_CALL Deliver(void* user, const void* data, uint32_t size)
{
    auto* sink = static_cast<Sink*>(user);
    sink->expected.resize(size);
    FillGenerated(sink->bytes, sink->expected.data(), size);
    if (std::memcmp(sink->expected.data(), data, size) != 0)
        sink->exact = false;
    sink->bytes += size;
    // The object's lock is this thread's already; the limit applies from
    // the next wait on.
    if (sink->shortWaitAfter != 0 && sink->bytes == sink->shortWaitAfter)
        VexaComm_SetWaitLimit(sink->object, kStallWaitMs);
    if (sink->cancelTarget != nullptr) {
        std::unique_lock<std::mutex> guard(sink->mutex);
        if (!sink->firstPacket) {
            sink->firstPacket = true;
            sink->cv.notify_all();
            sink->cancelInTime =
                sink->cv.wait_for(guard, std::chrono::seconds(10), [sink] { return sink->cancelMade; });
        }
    }
    return 0;
}

struct Outcome {
    std::int32_t connect = 0;
    std::int32_t fetch = 0;
    std::uint64_t bytes = 0;
    bool exact = true;
    std::int32_t connected = 0;
};

// The simulator's options and the expected outcome for one cycle.
struct Cycle {
    Mode mode;
    bool acks;
    std::uint32_t faultAfter;
    std::int32_t replyCode;
    SimulatorOptions options;

    Cycle(unsigned worker, unsigned n, const std::string& address)
        : mode(static_cast<Mode>((n + worker) % kModes)), acks((n / kModes) % 2 == 1),
          faultAfter(1 + (n / (2 * kModes)) % 3), replyCode((n / kModes) % 2 == 0 ? 75001 : 60001)
    {
        options.bindAddress = address;
        options.port = 0;
        options.ackMode = acks ? 1 : 0;
        options.generatedBytes = (faultAfter + 3) * kPacket - 100;
        options.faultAfterPackets = faultAfter;
        options.ioTimeoutMs = 10000;
        switch (mode) {
        case Clean: break;
        case Cut: options.fault = SimFault::Close; break;
        case Stall: options.fault = SimFault::Stall; break;
        case Corrupt:
            options.fault = SimFault::BadChecksum;
            options.envelope = true;
            break;
        case Refuse: options.refuseGreeting = true; break;
        case DeviceCancel: options.fault = SimFault::Cancel; break;
        case HostCancel:
            // Without acknowledgements the device must still be sending
            // when the cancel comes: more than the loopback buffers hold.
            options.generatedBytes = acks ? (1u << 20) : (48u << 20);
            break;
        case ReplyCode:
            options.fault = SimFault::ReplyCode;
            options.faultCode = replyCode;
            break;
        case kModes: break;
        }
    }

    // Empty when the outcome is what the fault must give, else why not.
    std::string Check(const Outcome& o) const
    {
        const std::uint64_t faulted = static_cast<std::uint64_t>(faultAfter) * kPacket;
        auto expect = [&](std::int32_t connect, std::int32_t fetch, bool exactBytes, std::uint64_t bytes,
                          std::int32_t connected) -> std::string {
            if (o.connect != connect || (connect == 0 && o.fetch != fetch))
                return "result " + std::to_string(o.connect) + "/" + std::to_string(o.fetch);
            if (!o.exact)
                return "data differ from the generated data";
            if (exactBytes ? o.bytes != bytes : (o.bytes < bytes || o.bytes >= options.generatedBytes))
                return std::to_string(o.bytes) + " bytes";
            if (o.connected != connected)
                return "connected " + std::to_string(o.connected);
            return std::string();
        };
        switch (mode) {
        case Clean: return expect(0, 0, true, options.generatedBytes, 1);
        case Cut: return expect(0, VEXACOMM_ERR_PEER_CLOSED, true, faulted, 0);
        // A stream left early takes its connection with it.
        case Stall: return expect(0, 10060, true, faulted, 0);
        case Corrupt: return expect(0, VEXACOMM_ERR_PROTOCOL, true, faulted, 0);
        case Refuse: return expect(VEXACOMM_ERR_CONNECT_REFUSED, 0, true, 0, 0);
        case DeviceCancel: return expect(0, VEXACOMM_ERR_PEER_CANCELLED, true, faulted, 1);
        case HostCancel:
            // The device answers the cancel and the connection stays; one
            // starved past the grace period gets it closed, also 71005.
            return expect(0, VEXACOMM_ERR_CANCELLED, false, kPacket, o.connected);
        case ReplyCode: return expect(0, replyCode, true, faulted, 1);
        case kModes: break;
        }
        return "no such mode";
    }
};

Outcome RunCycle(const Cycle& cycle, const CDeviceSimulator& sim)
{
    Outcome o;
    VexaCommObject* obj = VexaComm_CreateObject();
    VexaComm_SetWaitLimit(obj, kWaitMs);
    o.connect = VexaComm_ConnectPort(obj, cycle.options.bindAddress.c_str(), sim.Port());
    if (o.connect == 0) {
        Sink sink;
        if (cycle.mode == Stall) {
            sink.object = obj;
            sink.shortWaitAfter = static_cast<std::uint64_t>(cycle.faultAfter) * kPacket;
        }
        std::thread canceller;
        if (cycle.mode == HostCancel) {
            sink.cancelTarget = obj;
            canceller = std::thread([&sink, obj] {
                std::unique_lock<std::mutex> guard(sink.mutex);
                sink.cv.wait(guard, [&sink] { return sink.firstPacket || sink.fetchOver; });
                if (!sink.firstPacket)
                    return;
                VexaComm_CancelTransfer(obj);
                sink.cancelMade = true;
                sink.cv.notify_all();
            });
        }
        o.fetch = VexaComm_GetAsdu10ToCallback(obj, &Deliver, &sink, kRequest);
        if (canceller.joinable()) {
            // A fetch that ended before its first packet leaves the
            // canceller waiting: release it.
            {
                std::lock_guard<std::mutex> guard(sink.mutex);
                sink.fetchOver = true;
            }
            sink.cv.notify_all();
            canceller.join();
        }
        o.bytes = sink.bytes;
        o.exact = sink.exact && sink.cancelInTime;
    }
    o.connected = VexaComm_IsConnected(obj);
    VexaComm_DestroyObject(obj);
    return o;
}

long Entries(const char* directory)
{
    DIR* d = ::opendir(directory);
    if (d == nullptr)
        return -1;
    long n = 0;
    while (dirent* e = ::readdir(d))
        if (e->d_name[0] != '.')
            ++n;
    ::closedir(d);
    return n;
}

struct Sample {
    long rssKib;
    long fds;
    long threads;
};

Sample Take() { return Sample{bench::StatusKib("VmRSS"), Entries("/proc/self/fd"), Entries("/proc/self/task")}; }

// The workers, and the pause between cycles in which the samples are taken.
class Soak {
public:
    explicit Soak(unsigned threads) : m_threads(threads), m_sessions(kModes), m_wrong(kModes) {}

    void Start()
    {
        for (unsigned w = 0; w < m_threads; ++w)
            m_workers.emplace_back(&Soak::Work, this, w);
    }

    // Waits until every worker has finished its cycle and stopped.
    void Pause()
    {
        std::unique_lock<std::mutex> guard(m_mutex);
        m_pause = true;
        m_cv.wait(guard, [this] { return m_paused == m_threads; });
    }
    void Resume()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_pause = false;
        m_cv.notify_all();
    }
    void Finish()
    {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_quit = true;
            m_pause = false;
        }
        m_cv.notify_all();
        for (auto& t : m_workers)
            t.join();
    }

    unsigned long Sessions(int mode) const { return m_sessions[mode]; }
    unsigned long Wrong(int mode) const { return m_wrong[mode]; }

private:
    void Work(unsigned worker)
    {
        const std::string address = "127.7.6." + std::to_string(worker + 1);
        for (unsigned n = 0;; ++n) {
            {
                std::unique_lock<std::mutex> guard(m_mutex);
                if (m_pause) {
                    ++m_paused;
                    m_cv.notify_all();
                    m_cv.wait(guard, [this] { return !m_pause || m_quit; });
                    --m_paused;
                }
                if (m_quit)
                    return;
            }
            Cycle cycle(worker, n, address);
            std::string problem;
            {
                CDeviceSimulator sim(cycle.options);
                std::string error;
                if (!sim.Start(&error))
                    problem = "simulator: " + error;
                else
                    problem = cycle.Check(RunCycle(cycle, sim));
            }
            std::lock_guard<std::mutex> guard(m_mutex);
            ++m_sessions[cycle.mode];
            if (!problem.empty()) {
                ++m_wrong[cycle.mode];
                if (++m_reported <= 20)
                    std::fprintf(stderr, "wrong: %s, acks %s, after %u packets: %s\n", kModeNames[cycle.mode],
                                 cycle.acks ? "on" : "off", cycle.faultAfter, problem.c_str());
            }
        }
    }

    const unsigned m_threads;
    std::vector<std::thread> m_workers;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_pause = false;
    bool m_quit = false;
    unsigned m_paused = 0;
    unsigned m_reported = 0;
    std::vector<unsigned long> m_sessions;
    std::vector<unsigned long> m_wrong;
};

[[noreturn]] void Usage()
{
    std::fprintf(stderr, "usage: vexacomm_soak --minutes N | --seconds N [--threads T]\n");
    std::exit(2);
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = 0;
    unsigned threads = 8;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (i + 1 >= argc)
            Usage();
        double value = std::atof(argv[++i]);
        if (arg == "--minutes")
            seconds = value * 60;
        else if (arg == "--seconds")
            seconds = value;
        else if (arg == "--threads")
            threads = static_cast<unsigned>(value);
        else
            Usage();
    }
    if (seconds <= 0 || threads == 0 || threads > 250)
        Usage();

    const auto total = std::chrono::duration<double>(seconds);
    const auto warmUp = std::min<std::chrono::duration<double>>(std::chrono::seconds(20), total / 3);
    const Clock::time_point started = Clock::now();
    std::printf("soak: %u threads, %.0f s, samples after %.0f s and at the end\n", threads, seconds, warmUp.count());
    std::fflush(stdout);

    Soak soak(threads);
    soak.Start();
    std::this_thread::sleep_until(started + std::chrono::duration_cast<Clock::duration>(warmUp));
    soak.Pause();
    Sample before = Take();
    soak.Resume();
    std::this_thread::sleep_until(started + std::chrono::duration_cast<Clock::duration>(total));
    soak.Pause();
    Sample after = Take();
    soak.Finish();

    unsigned long sessions = 0;
    unsigned long wrong = 0;
    for (int m = 0; m < kModes; ++m) {
        std::printf("mode %-14s %8lu sessions %4lu wrong\n", kModeNames[m], soak.Sessions(m), soak.Wrong(m));
        sessions += soak.Sessions(m);
        wrong += soak.Wrong(m);
    }
    const long rssGrowth = after.rssKib - before.rssKib;
    const long fdGrowth = after.fds - before.fds;
    const long threadGrowth = after.threads - before.threads;
    std::printf("after the warm-up: %ld KiB resident, %ld descriptors, %ld threads; at the end: %ld KiB, %ld, %ld\n",
                before.rssKib, before.fds, before.threads, after.rssKib, after.fds, after.threads);
    std::printf("soak_sessions %lu\n", sessions);
    std::printf("rss_growth_kib %ld\n", rssGrowth);
    std::printf("fd_growth %ld\n", fdGrowth);
    std::printf("thread_growth %ld\n", threadGrowth);
    std::printf("wrong_results %lu\n", wrong);
    const bool sampled = before.rssKib > 0 && before.fds > 0 && before.threads > 0;
    const bool ok = sampled && sessions > 0 && wrong == 0 && rssGrowth < kRssGrowthLimitKib && fdGrowth <= 0 &&
                    threadGrowth <= 0;
    return ok ? 0 : 1;
}
