// Bulk reception over loopback: ReceiveData against minimal raw readers of
// the same byte stream.
//
// A streaming peer thread sends transfers of kPackets data packets of 16376
// payload bytes and an end mark, bare or enveloped; with acknowledgements it
// waits for each acknowledgement before the next packet. Per transfer:
//   Engine       CGLSocket::ReceiveData into a CFile that discards.
//   RawReader    recv() of the whole stream into one buffer (acks off).
//   RawPacketReader  blocking recv() of each header, then exactly its payload
//                (and envelope parts): the read pattern the framing
//                prescribes, without the engine's waits (acks off).
//   RawPingPong  one send of the acknowledgement, then recv() of exactly one
//                packet, per packet (acks on).
// The closing table gives MB/s (payload) and engine/raw ratios, from the
// medians of the repetitions.
//
//   engine_bench                         # 5 repetitions, interleaved
//   engine_bench --quick                 # 3 short repetitions
//   engine_bench --benchmark_repetitions=9
// The last lines ("ratio NAME VALUE") are for bench/run.
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <benchmark/benchmark.h>

#include "BenchSupport.h"
#include "VexaCommFile.h"
#include "vexacomm/GLSocket.h"
#include "doubles/Exposed.h"

// Counts every allocation, so that BM_Engine can show there are none per
// packet.
std::atomic<std::uint64_t> g_allocations{0};

// Kept out of line: inlined into one function, GCC takes the free() in the
// replaced delete for a mismatch with new.
__attribute__((noinline)) void* operator new(std::size_t n)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n != 0 ? n : 1))
        return p;
    throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

constexpr int kPackets = 256; // 4 MiB of payload per transfer
constexpr std::uint32_t kPayload = PACKET_PAYLOAD_MAX;
const char kAddress[] = "127.3.7.1";

using bench::Framed;
using bench::ReceiveWhole;
using bench::SendWhole;

struct Stream {
    bool acks;
    bool envelope;
    std::string data; // one data packet as framed on the wire
    std::string end;
    std::string ack;

    Stream(bool withAcks, bool withEnvelope) : acks(withAcks), envelope(withEnvelope)
    {
        std::string payload(kPayload, '\0');
        for (std::uint32_t i = 0; i < kPayload; ++i)
            payload[i] = static_cast<char>(i * 31 + 7);
        data = Framed(CMD_ASDU10, payload, envelope);
        end = Framed(CMD_ASDU10, std::string(), envelope);
        ack = Framed(CMD_REPLY, std::string(), envelope);
    }
    std::size_t TransferBytes() const { return kPackets * data.size() + end.size(); }
};

// Serves one client: a one-byte request starts each transfer. Ends when the
// client closes or stays away for 30 s.
class StreamingPeer {
public:
    explicit StreamingPeer(const Stream& stream) : m_stream(stream)
    {
        sockaddr_in sin;
        std::memset(&sin, 0, sizeof(sin));
        sin.sin_family = AF_INET;
        ::inet_pton(AF_INET, kAddress, &sin.sin_addr);
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        socklen_t len = sizeof(sin);
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&sin), len) != 0 ||
            ::listen(m_listen, 1) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
            std::perror("bench peer: listen");
            return;
        }
        m_port = ntohs(sin.sin_port);
        m_thread = std::thread(&StreamingPeer::Run, this);
    }
    ~StreamingPeer()
    {
        if (m_thread.joinable())
            m_thread.join();
        if (m_listen >= 0)
            ::close(m_listen);
    }

    // A connected client socket, or -1.
    int Connect() const
    {
        if (m_port == 0)
            return -1;
        sockaddr_in sin;
        std::memset(&sin, 0, sizeof(sin));
        sin.sin_family = AF_INET;
        sin.sin_port = htons(m_port);
        ::inet_pton(AF_INET, kAddress, &sin.sin_addr);
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) != 0) {
            ::close(fd);
            fd = -1;
        }
        return fd;
    }

private:
    void Run()
    {
        pollfd pfd{m_listen, POLLIN, 0};
        if (::poll(&pfd, 1, 30000) != 1)
            return;
        int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        // Otherwise the end mark, a small write behind unacknowledged data,
        // may wait for the reader's delayed acknowledgement, and which reader
        // meets that stall depends on its read pattern, not on its speed.
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        std::vector<char> ack(m_stream.ack.size());
        for (;;) {
            pollfd conn{fd, POLLIN, 0};
            char go;
            if (::poll(&conn, 1, 30000) != 1 || !ReceiveWhole(fd, &go, 1))
                break;
            bool ok = true;
            for (int i = 0; ok && i < kPackets; ++i) {
                if (m_stream.acks)
                    ok = ReceiveWhole(fd, ack.data(), ack.size());
                ok = ok && SendWhole(fd, m_stream.data.data(), m_stream.data.size());
            }
            if (ok && m_stream.acks)
                ok = ReceiveWhole(fd, ack.data(), ack.size());
            if (!ok || !SendWhole(fd, m_stream.end.data(), m_stream.end.size()))
                break;
        }
        ::close(fd);
    }

    const Stream& m_stream;
    int m_listen = -1;
    std::uint16_t m_port = 0;
    std::thread m_thread;
};

class DiscardFile : public CFile {
public:
    void Write(const void*, uint32_t count) override { m_bytes += count; }
    uint32_t GetPosition() const override { return 0; }
    std::uint64_t m_bytes = 0;
};

bool RequestTransfer(int fd)
{
    char go = 'g';
    return SendWhole(fd, &go, 1);
}

void Finish(benchmark::State& state)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kPackets * kPayload);
}

// A host's trace that does the least a trace can: count.
std::uint64_t g_traced = 0;
void VEXACOMM_CALL CountPacket(void*, std::int32_t, std::uint32_t, std::uint32_t, std::int32_t, const void*)
{
    ++g_traced;
}

// Where BM_EngineCaptured writes; emptied before every transfer, so the
// file stays at one transfer's size.
std::string CapturePath()
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/engine_bench." +
           std::to_string(::getpid()) + ".pcap";
}

void RunEngine(benchmark::State& state, bool traced, bool captured = false)
{
    Stream stream(state.range(0) != 0, state.range(1) != 0);
    StreamingPeer peer(stream);
    Exposed<CGLSocket> sock;
    int fd = peer.Connect();
    if (fd < 0) {
        state.SkipWithError("connect failed");
        return;
    }
    sock.m_hSocket = static_cast<SocketHandle>(fd);
    sock.m_wAckMode = stream.acks ? 1 : 0;
    if (traced)
        sock.m_pfnTrace = CountPacket;
    DiscardFile file;
    const std::string capture = CapturePath();
    std::uint64_t allocationsBefore = g_allocations.load();
    for (auto _ : state) {
        if (captured) {
            state.PauseTiming();
            sock.SetCaptureFile(nullptr);
            bool ok = sock.SetCaptureFile(capture.c_str()) == 0;
            state.ResumeTiming();
            if (!ok) {
                state.SkipWithError("no capture file");
                break;
            }
        }
        sock.m_bPeerEnvelope = stream.envelope;
        if (!RequestTransfer(fd) || !sock.ReceiveData(&file, CMD_ASDU10, kPackets)) {
            state.SkipWithError("transfer failed");
            break;
        }
    }
    std::uint64_t allocations = g_allocations.load() - allocationsBefore;
    if (captured) {
        sock.SetCaptureFile(nullptr);
        std::remove(capture.c_str());
    }
    if (file.m_bytes != static_cast<std::uint64_t>(state.iterations()) * kPackets * kPayload)
        state.SkipWithError("payload bytes lost");
    state.counters["allocs_per_packet"] =
        static_cast<double>(allocations) / (static_cast<double>(state.iterations()) * kPackets);
    Finish(state);
}

void BM_Engine(benchmark::State& state) { RunEngine(state, false); }
// The same with a packet trace set: what the trace costs when it is used
// (unset, it is one test per packet, inside BM_Engine's figures).
void BM_EngineTraced(benchmark::State& state) { RunEngine(state, true); }

// The same with every byte captured to a pcap file.
void BM_EngineCaptured(benchmark::State& state) { RunEngine(state, false, true); }

void BM_RawReader(benchmark::State& state)
{
    Stream stream(false, state.range(1) != 0);
    StreamingPeer peer(stream);
    int fd = peer.Connect();
    if (fd < 0) {
        state.SkipWithError("connect failed");
        return;
    }
    std::vector<char> buf(64 * 1024);
    for (auto _ : state) {
        if (!RequestTransfer(fd)) {
            state.SkipWithError("request failed");
            break;
        }
        std::size_t left = stream.TransferBytes();
        while (left > 0) {
            ssize_t k = ::recv(fd, buf.data(), std::min(left, buf.size()), 0);
            if (k <= 0) {
                state.SkipWithError("receive failed");
                break;
            }
            left -= static_cast<std::size_t>(k);
        }
    }
    ::close(fd);
    Finish(state);
}

// Reads packet by packet as any framed reader must, header first, then
// exactly the payload (and the envelope's parts), with blocking recv() and
// nothing else.
bool ReadPacket(int fd, char* buf, bool envelope, std::uint32_t* length)
{
    if (envelope && !ReceiveWhole(fd, buf, ENVELOPE_HEAD_SIZE))
        return false;
    if (!ReceiveWhole(fd, buf, PACKET_HEADER_SIZE))
        return false;
    *length = ReadU32(reinterpret_cast<const std::uint8_t*>(buf) + 4);
    if (*length > kPayload || (*length > 0 && !ReceiveWhole(fd, buf + PACKET_HEADER_SIZE, *length)))
        return false;
    return !envelope || ReceiveWhole(fd, buf + PACKET_HEADER_SIZE + *length, sizeof(EnvelopeTrailer));
}

void BM_RawPacketReader(benchmark::State& state)
{
    Stream stream(false, state.range(1) != 0);
    StreamingPeer peer(stream);
    int fd = peer.Connect();
    if (fd < 0) {
        state.SkipWithError("connect failed");
        return;
    }
    std::vector<char> buf(PACKET_BUFFER_SIZE + sizeof(EnvelopeTrailer));
    for (auto _ : state) {
        bool ok = RequestTransfer(fd);
        std::uint32_t length = 1;
        while (ok && length != 0)
            ok = ReadPacket(fd, buf.data(), stream.envelope, &length);
        if (!ok) {
            state.SkipWithError("transfer failed");
            break;
        }
    }
    ::close(fd);
    Finish(state);
}

void BM_RawPingPong(benchmark::State& state)
{
    Stream stream(true, state.range(1) != 0);
    StreamingPeer peer(stream);
    int fd = peer.Connect();
    if (fd < 0) {
        state.SkipWithError("connect failed");
        return;
    }
    std::vector<char> packet(stream.data.size());
    for (auto _ : state) {
        bool ok = RequestTransfer(fd);
        for (int i = 0; ok && i < kPackets; ++i)
            ok = SendWhole(fd, stream.ack.data(), stream.ack.size()) &&
                 ReceiveWhole(fd, packet.data(), packet.size());
        ok = ok && SendWhole(fd, stream.ack.data(), stream.ack.size()) &&
             ReceiveWhole(fd, packet.data(), stream.end.size());
        if (!ok) {
            state.SkipWithError("transfer failed");
            break;
        }
    }
    ::close(fd);
    Finish(state);
}

// Arguments: acks (0/1), envelope (0/1).
BENCHMARK(BM_RawReader)->ArgNames({"acks", "envelope"})->Args({0, 0})->Args({0, 1})->UseRealTime();
BENCHMARK(BM_RawPacketReader)->ArgNames({"acks", "envelope"})->Args({0, 0})->Args({0, 1})->UseRealTime();
BENCHMARK(BM_Engine)->ArgNames({"acks", "envelope"})->Args({0, 0})->Args({0, 1})->UseRealTime();
BENCHMARK(BM_EngineTraced)->ArgNames({"acks", "envelope"})->Args({0, 0})->UseRealTime();
BENCHMARK(BM_EngineCaptured)->ArgNames({"acks", "envelope"})->Args({0, 0})->Args({1, 0})->UseRealTime();
BENCHMARK(BM_RawPingPong)->ArgNames({"acks", "envelope"})->Args({1, 0})->Args({1, 1})->UseRealTime();
BENCHMARK(BM_Engine)->ArgNames({"acks", "envelope"})->Args({1, 0})->Args({1, 1})->UseRealTime();

// Console output plus a closing table of engine/raw ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(isatty(1) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            auto it = run.counters.find("bytes_per_second");
            if ((median || single) && !run.error_occurred && it != run.counters.end())
                m_rates[run.run_name.function_name + "/" + run.run_name.args] = it->second;
        }
    }

    void Finalize() override
    {
        std::FILE* out = stdout;
        std::fprintf(out,
                     "\nBulk reception, %u-byte payloads, %d packets per transfer, median MB/s "
                     "of payload.\nraw: RawReader (acks off), RawPingPong (acks on); "
                     "per packet: RawPacketReader.\n",
                     kPayload, kPackets);
        std::fprintf(out, "%-22s %9s %9s %7s %11s %7s\n", "case", "engine", "raw", "ratio",
                     "per packet", "ratio");
        Row(out, "acks off, bare", "acks:0/envelope:0", "BM_RawReader");
        Row(out, "acks off, enveloped", "acks:0/envelope:1", "BM_RawReader");
        Row(out, "acks on, bare", "acks:1/envelope:0", "BM_RawPingPong");
        Row(out, "acks on, enveloped", "acks:1/envelope:1", "BM_RawPingPong");
        std::fprintf(out, "\n");
        Figure(out, "bulk_acks_off_bare_vs_raw_reader", "acks:0/envelope:0", "BM_RawReader");
        Figure(out, "bulk_acks_off_envelope_vs_raw_reader", "acks:0/envelope:1", "BM_RawReader");
        Figure(out, "bulk_acks_on_bare_vs_raw_ping_pong", "acks:1/envelope:0", "BM_RawPingPong");
        Figure(out, "bulk_acks_on_envelope_vs_raw_ping_pong", "acks:1/envelope:1", "BM_RawPingPong");
        Figure(out, "bulk_traced_vs_untraced", "acks:0/envelope:0", "BM_Engine", "BM_EngineTraced");
        Figure(out, "bulk_capture_vs_plain", "acks:0/envelope:0", "BM_Engine", "BM_EngineCaptured");
        Figure(out, "bulk_capture_vs_plain_acks_on", "acks:1/envelope:0", "BM_Engine", "BM_EngineCaptured");
        std::fflush(out);
    }

private:
    void Figure(std::FILE* out, const char* name, const std::string& args, const std::string& raw,
                const std::string& measured = "BM_Engine")
    {
        auto engine = m_rates.find(measured + "/" + args);
        auto baseline = m_rates.find(raw + "/" + args);
        if (engine != m_rates.end() && baseline != m_rates.end())
            std::fprintf(out, "ratio %s %.3f\n", name, engine->second / baseline->second);
    }

    void Row(std::FILE* out, const char* label, const std::string& args, const std::string& raw)
    {
        auto engine = m_rates.find("BM_Engine/" + args);
        auto baseline = m_rates.find(raw + "/" + args);
        if (engine == m_rates.end() || baseline == m_rates.end())
            return;
        std::fprintf(out, "%-22s %9.1f %9.1f %7.3f", label, engine->second / 1e6,
                     baseline->second / 1e6, engine->second / baseline->second);
        auto packetwise = m_rates.find("BM_RawPacketReader/" + args);
        if (packetwise != m_rates.end())
            std::fprintf(out, " %11.1f %7.3f", packetwise->second / 1e6,
                         engine->second / packetwise->second);
        std::fprintf(out, "\n");
    }

    std::map<std::string, double> m_rates;
};

} // namespace

int main(int argc, char** argv)
{
    std::vector<char*> kept;
    const bool quick = bench::TakeQuick(argc, argv, &kept);
    std::string minTime = "--benchmark_min_time=0.2";
    if (quick)
        kept.push_back(&minTime[0]);
    std::vector<std::string> storage;
    std::vector<char*> args =
        bench::WithDefaults(static_cast<int>(kept.size()), kept.data(), storage, quick ? 3 : 5);
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    if (benchmark::ReportUnrecognizedArguments(n, args.data()))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
