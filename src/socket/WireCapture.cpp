// Captures: one tap per capturing object, one pcap writer per file, under
// one process-wide lock. Sequence numbers advance with the bytes, so the
// analysers reassemble the stream as it went.
#include "socket/WireCapture.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "platform/Socket.h"
#include "support/DebugLog.h"
#include "vexacomm/GLSocket.h"

namespace capture {

std::atomic<int> g_capturing{0};

namespace {

// Records wait at most this long in a writer's buffer once more arrive.
constexpr std::int64_t kHoldMicroseconds = 200000;

struct Tap {
    std::shared_ptr<CPcapWriter> writer;
    SocketHandle socket = kInvalidSocket;
    bool open = false;
    pcap::Endpoint ends[2] = {}; // this side, the peer
    std::uint32_t next[2] = {};  // next sequence number from each
};

struct State {
    std::mutex mutex;
    std::map<const CPacketSocket*, Tap> taps;
    // By the file's identity (device and file), whatever its name.
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::weak_ptr<CPcapWriter>> writers;
};

State& Shared()
{
    // Never destroyed: objects may be destroyed after static destructors ran.
    static State* state = new State;
    return *state;
}

std::int64_t NowMicroseconds()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// from: 0 this side, 1 the peer.
void Emit(Tap& tap, int from, std::uint8_t flags, const pcap::Part* parts, int count, std::size_t length,
          std::int64_t now)
{
    pcap::Segment segment{tap.ends[from], tap.ends[1 - from], tap.next[from], tap.next[1 - from], flags, now};
    tap.writer->Write(segment, parts, count);
    tap.next[from] += static_cast<std::uint32_t>(length);
}

// A new connection on `s`: both ends and a handshake, the side with the
// higher (ephemeral) port taken for the one that connected.
void OpenStream(Tap& tap, SocketHandle s, std::int64_t now)
{
    tap.socket = s;
    SocketAddress local{};
    SocketAddress peer{};
    tap.open = plat::SocketEnds(s, &local, &peer) == 0;
    if (!tap.open)
        return;
    tap.ends[0] = {local.address, plat::HostToNet16(local.port)};
    tap.ends[1] = {peer.address, plat::HostToNet16(peer.port)};
    const int client = tap.ends[0].port > tap.ends[1].port ? 0 : 1;
    const int server = 1 - client;
    tap.next[client] = static_cast<std::uint32_t>(now);
    tap.next[server] = tap.next[client] ^ 0x5A5A5A5Au;
    // The SYN is sent before the server's number is known: it acknowledges 0.
    pcap::Segment syn{tap.ends[client], tap.ends[server], tap.next[client], 0, pcap::kTcpSyn, now};
    tap.writer->Write(syn, nullptr, 0);
    tap.next[client] += 1;
    Emit(tap, server, pcap::kTcpSyn | pcap::kTcpAck, nullptr, 0, 1, now);
    Emit(tap, client, pcap::kTcpAck, nullptr, 0, 0, now);
}

// A writer's failure, told once the process-wide lock is released: declared
// before the lock's guard, it ends after it.
class CFailureReport {
public:
    CFailureReport() = default;
    CFailureReport(const CFailureReport&) = delete;
    CFailureReport& operator=(const CFailureReport&) = delete;
    ~CFailureReport()
    {
        if (!m_line.empty())
            DebugLog("%s", m_line.c_str());
    }
    void Take(CPcapWriter& writer)
    {
        if (m_line.empty())
            m_line = writer.TakeFailureLine();
    }
    void Say(std::string line)
    {
        if (m_line.empty())
            m_line = std::move(line);
    }

private:
    std::string m_line;
};

Tap* Find(State& state, const CPacketSocket* owner)
{
    auto it = state.taps.find(owner);
    return it != state.taps.end() ? &it->second : nullptr;
}

} // namespace

std::int32_t Start(const CPacketSocket* owner, const char* path)
{
    State& state = Shared();
    CFailureReport report;
    std::lock_guard<std::mutex> guard(state.mutex);
    auto old = state.taps.find(owner);
    if (old != state.taps.end()) {
        old->second.writer->Flush();
        report.Take(*old->second.writer);
        state.taps.erase(old);
        g_capturing.fetch_sub(1, std::memory_order_relaxed);
    }
    if (path == nullptr || *path == '\0')
        return 0;
    // Objects that name one file alike share its writer on purpose; the
    // same file under another name is taken for a second writer, which
    // would empty it and write at offsets of its own.
    std::shared_ptr<CPcapWriter> writer;
    plat::FileStamp named;
    if (plat::StampPath(path, &named)) {
        auto found = state.writers.find({named.device, named.file});
        if (found != state.writers.end())
            writer = found->second.lock();
    }
    if (writer && writer->Path() != path) {
        report.Say(std::string("capture::Start(") + path + "): the file is captured into as " + writer->Path() +
                   " already; left as it is\n");
        return COMM_ERR_FILE_CREATE;
    }
    if (!writer) {
        writer = std::make_shared<CPcapWriter>();
        plat::FileStamp opened;
        if (!writer->Open(path) || !writer->Identify(&opened)) {
            report.Take(*writer);
            return COMM_ERR_FILE_CREATE;
        }
        state.writers[{opened.device, opened.file}] = writer;
    }
    // Forget files nobody writes any more.
    for (auto it = state.writers.begin(); it != state.writers.end();)
        it = it->second.expired() ? state.writers.erase(it) : std::next(it);
    Tap tap;
    tap.writer = std::move(writer);
    state.taps.emplace(owner, std::move(tap));
    g_capturing.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void Record(const CPacketSocket* owner, SocketHandle s, bool sent, const pcap::Part* parts, int count)
{
    State& state = Shared();
    CFailureReport report;
    std::lock_guard<std::mutex> guard(state.mutex);
    Tap* tap = Find(state, owner);
    if (tap == nullptr || tap->writer->Failed())
        return;
    const std::int64_t now = NowMicroseconds();
    if (!tap->open || tap->socket != s)
        OpenStream(*tap, s, now);
    if (!tap->open)
        return;
    // A segment carries at most what one record holds: cut longer runs.
    pcap::Part piece[plat::kMaxSocketBuffers];
    int i = 0;
    std::size_t offset = 0;
    while (i < count) {
        int k = 0;
        std::size_t length = 0;
        while (i < count && k < plat::kMaxSocketBuffers && length < pcap::kSegmentPayloadMax) {
            std::size_t take = parts[i].length - offset;
            if (take > pcap::kSegmentPayloadMax - length)
                take = pcap::kSegmentPayloadMax - length;
            piece[k++] = {static_cast<const std::uint8_t*>(parts[i].data) + offset, take};
            length += take;
            offset += take;
            if (offset == parts[i].length) {
                ++i;
                offset = 0;
            }
        }
        Emit(*tap, sent ? 0 : 1, pcap::kTcpPush | pcap::kTcpAck, piece, k, length, now);
    }
    const std::int64_t held = tap->writer->HeldSince();
    if (held != 0 && now - held >= kHoldMicroseconds)
        tap->writer->Flush();
    report.Take(*tap->writer);
}

void Closed(const CPacketSocket* owner)
{
    State& state = Shared();
    CFailureReport report;
    std::lock_guard<std::mutex> guard(state.mutex);
    Tap* tap = Find(state, owner);
    if (tap == nullptr)
        return;
    if (tap->open)
        Emit(*tap, 0, pcap::kTcpFin | pcap::kTcpAck, nullptr, 0, 1, NowMicroseconds());
    tap->open = false;
    tap->writer->Flush();
    report.Take(*tap->writer);
}

void Flush(const CPacketSocket* owner)
{
    State& state = Shared();
    CFailureReport report;
    std::lock_guard<std::mutex> guard(state.mutex);
    if (Tap* tap = Find(state, owner)) {
        tap->writer->Flush();
        report.Take(*tap->writer);
    }
}

} // namespace capture

std::int32_t CPacketSocket::SetCaptureFile(const char* path) { return capture::Start(this, path); }
