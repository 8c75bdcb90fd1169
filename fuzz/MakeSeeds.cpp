// Writes the seed corpus of the fuzz targets from real sessions: a device
// connection talks to the simulator through a relay on loopback that
// records what the device sends, cut at each device request, in the input
// layouts of PacketFuzz.cpp and BulkFuzz.cpp. The LZHUF seeds are sample
// data and the encoder's images of it.
//
//   fuzz_make_seeds fuzz/corpus
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "DeviceSimulator.h"
#include "FuzzSupport.h"
#include "device/DeviceSocket.h"
#include "lzh/LzhufEncoder.h"
#include "doubles/NotifyObservers.h"
#include "doubles/MemoryFile.h"
#include "doubles/MixedCorpus.h"

namespace {

const char kDeviceAddress[] = "127.7.0.1";
const char kRelayAddress[] = "127.7.0.2";
constexpr int kIdleLimitMs = 5000;

int Listen(const char* address, std::uint16_t* port)
{
    sockaddr_in sin;
    std::memset(&sin, 0, sizeof(sin));
    sin.sin_family = AF_INET;
    ::inet_pton(AF_INET, address, &sin.sin_addr);
    socklen_t len = sizeof(sin);
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&sin), len) != 0 || ::listen(fd, 1) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
        std::perror("relay: listen");
        std::exit(1);
    }
    *port = ntohs(sin.sin_port);
    return fd;
}

int ConnectTo(const char* address, std::uint16_t port)
{
    sockaddr_in sin;
    std::memset(&sin, 0, sizeof(sin));
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &sin.sin_addr);
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) != 0) {
        std::perror("relay: connect");
        std::exit(1);
    }
    return fd;
}

bool SendAllBytes(int fd, const char* p, std::size_t n)
{
    while (n > 0) {
        ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return false;
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

// Size of the complete packet at the start of `bytes`, or 0 if incomplete.
std::size_t PacketSize(const std::string& bytes, bool* enveloped, std::uint32_t* command)
{
    auto u32 = [&](std::size_t at) { return ReadU32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + at); };
    if (bytes.size() < PACKET_HEADER_SIZE)
        return 0;
    *enveloped = u32(0) == ENVELOPE_HEAD_MAGIC && u32(4) == ENVELOPE_HEAD_MAGIC;
    std::size_t head = *enveloped ? ENVELOPE_HEAD_SIZE : 0;
    if (bytes.size() < head + PACKET_HEADER_SIZE)
        return 0;
    *command = u32(head);
    std::size_t total = head + PACKET_HEADER_SIZE + u32(head + 4) + (*enveloped ? sizeof(EnvelopeTrailer) : 0);
    return bytes.size() >= total ? total : 0;
}

// Relays one client to the device; what the device sends is recorded in
// segments, a new one starting with each device request of the client.
class RecordingRelay {
public:
    explicit RecordingRelay(std::uint16_t devicePort) : m_devicePort(devicePort)
    {
        m_listen = Listen(kRelayAddress, &m_port);
        m_thread = std::thread(&RecordingRelay::Run, this);
    }
    ~RecordingRelay()
    {
        Join();
        ::close(m_listen);
    }
    std::uint16_t Port() const { return m_port; }
    void Join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    const std::vector<std::string>& Segments() const { return m_segments; }
    bool DeviceClosedFirst() const { return m_deviceClosedFirst; }

private:
    void Run()
    {
        pollfd pl{m_listen, POLLIN, 0};
        if (::poll(&pl, 1, kIdleLimitMs) != 1)
            return;
        int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        int device = ConnectTo(kDeviceAddress, m_devicePort);
        m_segments.emplace_back();
        std::string requests;
        char buf[65536];
        for (;;) {
            pollfd fds[2] = {{client, POLLIN, 0}, {device, POLLIN, 0}};
            if (::poll(fds, 2, kIdleLimitMs) <= 0)
                break;
            if (fds[1].revents != 0) {
                ssize_t n = ::recv(device, buf, sizeof(buf), 0);
                if (n <= 0) {
                    m_deviceClosedFirst = true;
                    break;
                }
                m_segments.back().append(buf, static_cast<std::size_t>(n));
                if (!SendAllBytes(client, buf, static_cast<std::size_t>(n)))
                    break;
            }
            if (fds[0].revents != 0) {
                ssize_t n = ::recv(client, buf, sizeof(buf), 0);
                if (n <= 0)
                    break;
                requests.append(buf, static_cast<std::size_t>(n));
                bool enveloped = false;
                std::uint32_t command = 0;
                while (std::size_t size = PacketSize(requests, &enveloped, &command)) {
                    if (command == CMD_DEVICE_TYPE || command == CMD_IDENT || command == CMD_ASDU10)
                        m_segments.emplace_back();
                    requests.erase(0, size);
                }
                if (!SendAllBytes(device, buf, static_cast<std::size_t>(n)))
                    break;
            }
        }
        ::close(client);
        ::close(device);
    }

    std::uint16_t m_devicePort;
    int m_listen = -1;
    std::uint16_t m_port = 0;
    std::thread m_thread;
    std::vector<std::string> m_segments;
    bool m_deviceClosedFirst = false;
};

struct Session {
    const char* name;
    SimulatorOptions options;
    bool localCancel = false; // the host cancels at the second progress position
    int failWrite = 0;        // bulk seed only: this write fails
};

struct CancelAtSecond {
    Exposed<CDeviceSocket>* dev = nullptr;
    unsigned positions = 0;
};

void CancelCallback(void* user, std::uint32_t, std::uintptr_t wParam, std::intptr_t)
{
    auto* c = static_cast<CancelAtSecond*>(user);
    if (wParam == 0 && ++c->positions == 2)
        c->dev->m_evCancel.SetEvent();
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

void Record(const std::filesystem::path& root, Session session)
{
    session.options.bindAddress = kDeviceAddress;
    session.options.port = 0;
    session.options.maxConnections = 1;
    session.options.ioTimeoutMs = kIdleLimitMs;
    CDeviceSimulator sim(session.options);
    std::string error;
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        std::exit(1);
    }
    RecordingRelay relay(sim.Port());
    {
        Observed<CDeviceSocket> dev;
        dev.m_tvTimeout = WaitLimit{5, 0};
        CancelAtSecond cancel;
        cancel.dev = &dev;
        obs::NotifyTarget target = nullptr;
        if (session.localCancel) {
            target = obs::CreateNotifyObserver(&CancelCallback, &cancel);
            dev.m_hNotifyWnd = target;
        }
        if (dev.ConnectPort(kRelayAddress, relay.Port())) {
            const std::uint8_t request[8] = {0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
            MemoryFile file;
            dev.GetAsdu10(&file, request);
        }
        dev.Close();
        dev.m_hNotifyWnd = nullptr;
        if (target != nullptr)
            obs::DestroyNotifyObserver(target);
    }
    relay.Join();
    sim.Stop();

    const std::vector<std::string>& segments = relay.Segments();
    const bool closed = relay.DeviceClosedFirst();
    if (session.failWrite == 0)
        WriteFile(root / "packet" / session.name,
                  std::string(1, closed ? '\1' : '\0') + fuzz::JoinSegments(segments));

    // The bulk seed: the ASDU 10 answer's data stream after its first reply.
    if (segments.size() < 4)
        return;
    const std::string& answer = segments[3];
    bool enveloped = false;
    std::uint32_t command = 0;
    std::size_t first = PacketSize(answer, &enveloped, &command);
    if (first == 0 || command != CMD_ASDU10)
        return;
    std::size_t head = enveloped ? ENVELOPE_HEAD_SIZE : 0;
    std::uint32_t total = ReadU32(reinterpret_cast<const std::uint8_t*>(answer.data()) + head + PACKET_HEADER_SIZE);
    std::uint16_t packetSize = session.options.packetSize;
    std::uint32_t expected = (total + packetSize - 1) / packetSize;
    std::string bulk;
    bulk += static_cast<char>((session.options.ackMode != 0 ? 1 : 0) | (closed ? 2 : 0) |
                              (enveloped ? 4 : 0) | (session.localCancel || session.failWrite ? 8 : 0) |
                              (session.failWrite << 4));
    bulk += static_cast<char>(session.localCancel ? 2 : 0);
    bulk += static_cast<char>(expected & 0xFF);
    bulk += static_cast<char>((expected >> 8) & 0xFF);
    bulk += static_cast<char>(packetSize & 0xFF);
    bulk += static_cast<char>(packetSize >> 8);
    bulk += std::string(4, '\0');
    bulk += answer.substr(first);
    WriteFile(root / "bulk" / session.name, bulk);
}

void LzhSeeds(const std::filesystem::path& root)
{
    struct Sample {
        const char* name;
        std::string data;
        std::uint8_t readLimit; // the first input byte
    };
    const Sample samples[] = {
        {"empty", std::string(), 0},
        {"one_byte", "a", 0},
        {"text", MakeText(1024, 2), 0},
        {"text_short_reads", MakeText(1500, 3), 1},
        {"zeros", std::string(3000, '\0'), 0},
        {"mixed", MakeMixedCorpus(4096, 3), 0},
        {"random", MakeRandomBytes(300, 4), 0},
    };
    auto encoder = std::make_unique<CLzhufEncoder>();
    for (const Sample& s : samples) {
        WriteFile(root / "lzh_roundtrip" / s.name, std::string(1, static_cast<char>(s.readLimit)) + s.data);
        CMemoryFile source(s.data);
        CMemoryFile packed;
        encoder->Encode(&source, &packed);
        WriteFile(root / "lzh_decode" / s.name, packed.Data());
    }
    // Differential: a repeat count (copies = count * 16), then the pattern.
    const Sample patterns[] = {
        {"sorted_numbers", MakeSortedNumbers(12000, 5), 0},
        {"sample_csv", MakeSampleCsv(600, 6), 2},
        {"log", MakeLogText(400, 7), 1},
        {"spaces", std::string(70, ' '), 5},
        {"mixed", MakeMixedCorpus(4096, 3), 0},
    };
    for (const Sample& s : patterns)
        WriteFile(root / "lzh_differential" / s.name, std::string(1, static_cast<char>(s.readLimit)) + s.data);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds CORPUS_DIR\n");
        return 2;
    }
    const std::filesystem::path root(argv[1]);

    // Small packets keep the seeds small; one session has full-size ones.
    auto options = [](bool envelope, std::uint16_t ackMode, std::uint32_t bytes) {
        SimulatorOptions o;
        o.envelope = envelope;
        o.ackMode = ackMode;
        o.generatedBytes = bytes;
        o.packetSize = 248;
        return o;
    };
    std::vector<Session> sessions;
    sessions.push_back({"envelope_acks_off", options(true, 0, 700)});
    sessions.push_back({"envelope_acks_on", options(true, 1, 700)});
    sessions.push_back({"bare_acks_off", options(false, 0, 700)});
    sessions.push_back({"bare_acks_on", options(false, 1, 700)});
    sessions.push_back({"no_data", options(true, 0, 0)});
    {
        Session s{"full_size_packets", options(true, 0, 20000)};
        s.options.packetSize = 16376;
        sessions.push_back(s);
    }
    {
        Session s{"greeting_refused", options(true, 0, 700)};
        s.options.refuseGreeting = true;
        sessions.push_back(s);
    }
    {
        Session s{"ident_refused_75001", options(true, 0, 700)};
        s.options.replyCommand = CMD_IDENT;
        s.options.replyCode = 75001;
        sessions.push_back(s);
    }
    {
        Session s{"device_type_status", options(false, 0, 700)};
        s.options.statusCommand = CMD_DEVICE_TYPE;
        sessions.push_back(s);
    }
    {
        Session s{"reply_75001_after_1", options(true, 0, 700)};
        s.options.fault = SimFault::ReplyCode;
        s.options.faultAfterPackets = 1;
        s.options.faultCode = 75001;
        sessions.push_back(s);
    }
    {
        Session s{"peer_cancel_after_1", options(false, 1, 700)};
        s.options.fault = SimFault::Cancel;
        s.options.faultAfterPackets = 1;
        sessions.push_back(s);
    }
    {
        Session s{"bad_checksum_after_1", options(true, 0, 700)};
        s.options.fault = SimFault::BadChecksum;
        s.options.faultAfterPackets = 1;
        sessions.push_back(s);
    }
    {
        Session s{"close_after_2", options(false, 0, 700)};
        s.options.fault = SimFault::Close;
        s.options.faultAfterPackets = 2;
        sessions.push_back(s);
    }
    {
        Session s{"local_cancel", options(true, 1, 2000)};
        s.localCancel = true;
        sessions.push_back(s);
    }
    {
        Session s{"disk_full_on_write_2", options(false, 0, 700)};
        s.failWrite = 2;
        sessions.push_back(s);
    }
    for (const Session& s : sessions)
        Record(root, s);
    LzhSeeds(root);
    std::printf("seeds written under %s\n", root.c_str());
    return 0;
}
